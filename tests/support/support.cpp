#include "tests/support/support.h"

#include <cstdio>

#include <gtest/gtest.h>

#include "board/board.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "session/session.h"

void resetEngine() {
  static bool tablesBuilt = false;
  if (!tablesBuilt) {
    initTables();
    tablesBuilt = true;
  }
  engineState = STATE_WAITING;
  consoleMode = 0;
  xboardMode = 0;
  uciMode = 0;
  stopSearch = 0;
  inputEnded = 0;
  clearQueuedLines();
  discardHeldInput();
  searchOutcome = SearchOutcome{};
  resetSettings();
  clearGameState();
  setBoard(START_FEN);
  newGameClocks();
}

bool setPosition(const std::string& fen) {
  std::string out = captureOutput([&] { setBoard(fen.c_str()); });
  EXPECT_EQ(out, "") << "setBoard rejected " << fen;
  return out.empty();
}

std::string captureOutput(const std::function<void()>& fn) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

std::string dataPath(const std::string& name) { return std::string(TALVEK_TEST_DATA) + "/" + name; }
