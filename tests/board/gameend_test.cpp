#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "session/session.h"
#include "tests/support/support.h"

namespace {

// Plays a move the way the front end does and returns what the game-end test prints.
std::string playMove(const char* text) {
  const Move m = matchMove(parseCoord(text));
  EXPECT_NE(m, 0u) << text;
  if (!m) return "<illegal>";
  makeMove(m);
  ply = 0;
  initPieceLists();
  genPlyMoves();
  return captureOutput([] { checkGameEnd(); });
}

std::string setText(const char* fen) {
  return captureOutput([&] { setBoard(fen); });
}

TEST(GameEnd, ThreefoldRepetition) {
  resetEngine();
  for (const char* m : {"g1f3", "g8f6", "f3g1", "f6g8"}) EXPECT_EQ(playMove(m), "");
  EXPECT_EQ(repetitionCount(), 1);
  for (const char* m : {"g1f3", "g8f6", "f3g1"}) EXPECT_EQ(playMove(m), "");
  EXPECT_EQ(playMove("f6g8"), "1/2-1/2 {Draw by threefold repetition}\n");
  EXPECT_EQ(repetitionCount(), 2);
  EXPECT_EQ(gameOver, 1);
  EXPECT_EQ(engineSide, NO_SIDE);
}

TEST(GameEnd, RepetitionWindowStopsAtIrreversibleMoves) {
  resetEngine();
  for (const char* m : {"g1f3", "g8f6", "f3g1", "f6g8"}) playMove(m);
  playMove("e2e3");  // the earlier positions can never come back
  for (const char* m : {"g8f6", "g1f3", "f6g8", "f3g1"}) EXPECT_EQ(playMove(m), "");
  EXPECT_EQ(repetitionCount(), 1);
  // A clock taken from the record scans nothing below the start of the history.
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/R3K3 w - - 30 1"));
  EXPECT_EQ(repetitionCount(), 0);
}

TEST(GameEnd, FiftyMovesComeBeforeMate) {
  resetEngine();
  ASSERT_TRUE(setPosition("6k1/5ppp/8/8/8/8/8/R5K1 w - - 99 1"));
  EXPECT_EQ(playMove("a1a8"), "1/2-1/2 {Draw by fifty move rule}\n");
}

TEST(GameEnd, InsufficientMaterial) {
  resetEngine();
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/2B1Kn2 w - - 0 1"), "1/2-1/2 {Draw by insufficient material}\n");
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/4K3 w - - 0 1"), "1/2-1/2 {Draw by insufficient material}\n");
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/1N2KN2 w - - 0 1"), "");
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/2B1KB2 w - - 0 1"), "");
  EXPECT_EQ(setText("4k3/8/8/8/8/8/7p/4K3 w - - 0 1"), "");
}

TEST(GameEnd, MateLinesDependOnTheEngineSide) {
  resetEngine();
  ASSERT_TRUE(setPosition("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1"));
  engineSide = NO_SIDE;
  EXPECT_EQ(playMove("a1a8"), "1-0 {White mates}\n");
  ASSERT_TRUE(setPosition("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1"));
  engineSide = WHITE;
  EXPECT_EQ(playMove("a1a8"), "1-0 {Talvek mates}\n");
  ASSERT_TRUE(setPosition("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1"));
  engineSide = BLACK;
  EXPECT_EQ(playMove("a1a8"), "1-0 {Talvek is mated}\n");

  ASSERT_TRUE(setPosition("r5k1/8/8/8/8/8/5PPP/6K1 b - - 0 1"));
  engineSide = NO_SIDE;
  EXPECT_EQ(playMove("a8a1"), "0-1 {Black mates}\n");
  ASSERT_TRUE(setPosition("r5k1/8/8/8/8/8/5PPP/6K1 b - - 0 1"));
  engineSide = WHITE;
  EXPECT_EQ(playMove("a8a1"), "0-1 {Talvek is mated}\n");
  ASSERT_TRUE(setPosition("r5k1/8/8/8/8/8/5PPP/6K1 b - - 0 1"));
  engineSide = BLACK;
  EXPECT_EQ(playMove("a8a1"), "0-1 {Talvek mates}\n");
}

TEST(GameEnd, Stalemate) {
  resetEngine();
  EXPECT_EQ(setText("k7/8/1Q6/8/8/8/8/K7 b - - 0 1"), "1/2-1/2 {Stalemate}\n");
  EXPECT_EQ(gameOver, 1);
  // Only pseudo-legal moves remain: the rook is pinned on a diagonal, the king is boxed in.
  EXPECT_EQ(setText("5K1k/6r1/6P1/8/8/2B5/8/8 b - - 0 1"), "1/2-1/2 {Stalemate}\n");
  EXPECT_EQ(setText("5K1k/6r1/6P1/8/8/8/8/8 b - - 0 1"), "");
  EXPECT_EQ(gameOver, 0);
}

TEST(GameEnd, HistoryFullRefusesFurtherMoves) {
  resetEngine();
  EXPECT_FALSE(historyFull());
  gamePly = MAX_GAME_PLIES - 1;
  EXPECT_FALSE(historyFull());
  gamePly = MAX_GAME_PLIES;
  EXPECT_TRUE(historyFull());
  EXPECT_GE(HISTORY_SIZE - MAX_GAME_PLIES, MAX_PLY);  // room for the deepest search line
}

}  // namespace
