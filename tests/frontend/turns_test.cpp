// Moves typed by the user and the prompt that follows them.
#include <string>

#include <gtest/gtest.h>

#include "frontend/frontend.h"
#include "tests/support/support.h"

namespace {

std::string type(const char* word) {
  return captureOutput([&] { userMove(word); });
}

std::string prompt() {
  return captureOutput([] { printPrompt(); });
}

std::string currentFen() {
  char fen[FEN_BUFFER];
  getFEN(fen);
  return fen;
}

}  // namespace

TEST(UserMove, PlaysLegalMovesAndTheMoveNumberAdvances) {
  resetEngine();
  consoleMode = 1;
  settings.showBoard = 0;
  EXPECT_EQ(prompt(), "Talvek[W-1]> ");
  EXPECT_EQ(type("e2e4"), "");
  EXPECT_EQ(prompt(), "Talvek[B-1]> ");
  EXPECT_EQ(type("E7E5"), "");
  EXPECT_EQ(prompt(), "Talvek[W-2]> ");
  EXPECT_EQ(gamePly, 2);
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 1");
  // The root of the next turn is ready: white's 29 replies at ply 0.
  EXPECT_EQ(ply, 0);
  int legalCount = 0;
  for (int i = 0; i < plyStack[0].moveCount; i++) legalCount += legal(plyStack[0].moves[i]);
  EXPECT_EQ(legalCount, 29);
}

TEST(UserMove, ShowsTheBoardOnlyWhenWanted) {
  resetEngine();
  consoleMode = 1;
  EXPECT_NE(type("g1f3").find("a b c d e f g h"), std::string::npos);
  consoleMode = 0;
  EXPECT_EQ(type("g8f6"), "");
}

TEST(UserMove, RefusesIllegalMovesAndLeavesThePosition) {
  resetEngine();
  const std::string start = currentFen();
  for (const char* word : {"e2e5", "e7e5", "e1g1", "e2e4+", "a1a1", "e2e4x"}) {
    EXPECT_EQ(type(word), std::string("Illegal move: ") + word + "\n");
    EXPECT_EQ(currentFen(), start);
  }
  EXPECT_EQ(gamePly, 0);
}

TEST(UserMove, AfterTheEndOfTheGame) {
  resetEngine();
  engineSide = NO_SIDE;
  std::string mate = captureOutput([] {
    userMove("f2f3");
    userMove("e7e5");
    userMove("g2g4");
    userMove("d8h4");
  });
  EXPECT_NE(mate.find("0-1 {Black mates}\n"), std::string::npos);
  EXPECT_EQ(gameOver, 1);
  EXPECT_EQ(type("a2a3"), "Game ended. To start a new game type new\n");
  xboardMode = 1;
  EXPECT_EQ(type("a2a3"), "Illegal move: a2a3\n");
  EXPECT_EQ(gamePly, 4);
}

TEST(UserMove, RefusedWhenTheGameRecordIsFull) {
  resetEngine();
  const std::string start = currentFen();
  gamePly = MAX_GAME_PLIES;
  EXPECT_EQ(type("e2e4"), "Illegal move (game record full): e2e4\n");
  EXPECT_EQ(gamePly, MAX_GAME_PLIES);
  EXPECT_EQ(currentFen(), start);
}
