#include "tests/support/support.h"

#include <cstdio>

#include <gtest/gtest.h>

#include "board/board.h"
#include "egdb/egdb.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"
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
  // What an earlier test searched or opened must not reach this one: the transposition table's
  // entries (scored with whatever tables that test had) and the endgame databases it left on.
  // All of this goes silently.
  if (ttTable != nullptr) clearTT();
  if (zeltMode != ZELT_OFF) initZelt(ZELT_OFF, "", 0);
  tbMaxMen = 0;
  egbbAvailable = 0;
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
