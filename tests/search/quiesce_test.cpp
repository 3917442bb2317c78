#include "tests/search/search_fixture.h"

namespace {

using QuiesceTest = SearchTest;

TEST_F(QuiesceTest, StandsPatAtOrAboveBetaWithoutSearchingMoves) {
  ASSERT_TRUE(setPosition("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4"));
  const int e = evaluate();
  EXPECT_EQ(quiesce(0, e - 200, e - 150), e);
  EXPECT_EQ(nodes, 1u);
  EXPECT_EQ(qnodes, 1u);
}

TEST_F(QuiesceTest, CheckmateScoresByPlyWhateverTheWindow) {
  place("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
  EXPECT_EQ(quiesce(0, 100, 200), -MATE);
  ASSERT_TRUE(setPosition("rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - 0 2"));
  makeMove(moveOf("d8h4"));
  EXPECT_EQ(quiesce(0, 100, 200), 1 - MATE);
  unmakeMove();
}

TEST_F(QuiesceTest, InCheckThereIsNoStandPat) {
  // The knight checks and forks: Black stands a queen up, but every evasion loses the queen.
  ASSERT_TRUE(setPosition("q3k3/2N5/8/8/8/8/8/4K3 b - - 0 1"));
  const int e = evaluate();
  ASSERT_GT(e, 300);
  EXPECT_EQ(quiesce(0, e - 100, e + 100), e - 100);
  EXPECT_GT(nodes, 2u);
}

TEST_F(QuiesceTest, LosingCapturesOfCheaperUnitsAreFiltered) {
  // Rook takes a pawn defended by a pawn: skipped.
  ASSERT_TRUE(setPosition("4k3/8/2p5/3p4/8/8/8/3RK3 w - - 0 1"));
  quiesce(0, -MATE, MATE);
  EXPECT_EQ(nodes, 1u);
  // Pawn takes a defended rook: a more valuable victim is always searched.
  ASSERT_TRUE(setPosition("4k3/4p3/8/3r4/2P5/8/8/4K3 w - - 0 1"));
  nodes = 0;
  quiesce(0, -MATE, MATE);
  EXPECT_GE(nodes, 2u);
}

TEST_F(QuiesceTest, EqualExchangesAreSearched) {
  // Qxd6 wins a rook for the queen and the rook behind it retakes before the king does: the
  // exchange comes out even, so the capture must be tried.
  ASSERT_TRUE(setPosition("3q4/4k3/3r4/8/8/8/3Q4/3R3K w - - 0 1"));
  ASSERT_EQ(see(moveOf("d2d6")), 0);
  quiesce(0, -MATE, MATE);
  EXPECT_GE(nodes, 2u);
}

TEST_F(QuiesceTest, FailLowAnswersAlphaAndStoresTheStaticScore) {
  const int e = evaluate();
  EXPECT_EQ(quiesce(0, e + 50, e + 100), e + 50);
  int alpha = e - 1, beta = e + 10, score = 0, null = 1;
  Move move = 77;
  EXPECT_EQ(probeTT(0, alpha, beta, score, move, null), PROBE_NONE);
  EXPECT_EQ(score, e);
  EXPECT_EQ(beta, e);  // an upper bound
  EXPECT_EQ(move, 0u);
}

TEST_F(QuiesceTest, RepetitionIsADrawBeforeTheTable) {
  playMove("g1f3");
  playMove("g8f6");
  playMove("f3g1");
  makeMove(moveOf("f6g8"));  // back to the start position with White to move
  EXPECT_EQ(quiesce(0, 50, 100), 0);
  EXPECT_EQ(searchStats.hashProbes, 0);
  unmakeMove();
}

TEST_F(QuiesceTest, StoppedSearchAnswersZeroAndStoresNothing) {
  ASSERT_TRUE(setPosition("4k3/8/8/3p4/4P3/8/8/4K3 w - - 0 1"));
  pollHook = [] { stopSearch = 1; };
  nextPoll = 2;  // the first child polls and stops
  const HashKey key = hashKey;
  EXPECT_EQ(quiesce(0, -MATE, MATE), 0);
  EXPECT_EQ(ttStores, 0u);
  EXPECT_EQ(hashKey, key);
  EXPECT_EQ(ply, 0);
  EXPECT_EQ(nextPoll, 2u);  // not advanced: every later node polls again
}

}  // namespace
