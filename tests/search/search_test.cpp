#include <algorithm>
#include <climits>

#include "egdb/egdb.h"
#include "tests/search/search_fixture.h"

namespace {

using MainSearchTest = SearchTest;

TEST_F(MainSearchTest, NullMoveAtOnePlyGoesStraightToQuiescence) {
  // White is a queen up: the null move fails high.
  ASSERT_TRUE(setPosition("4k3/pppp4/8/8/8/8/PPPP4/3QK3 w - - 0 1"));
  const HashKey child = keyAfterNullMove();
  const int s = searchNode(4, 0, 1);
  EXPECT_GE(s, 1);
  EXPECT_EQ(searchStats.nullTries, 1);
  EXPECT_EQ(searchStats.nullCuts, 1);
  EXPECT_EQ(storedDepth(child), 0);  // stored by the quiescence search
  EXPECT_EQ(storedDepth(hashKey), 4);
}

TEST_F(MainSearchTest, NullMoveReductionDependsOnDepthAndMaterial) {
  ASSERT_TRUE(setPosition("4k3/pppp4/8/8/8/8/PPPP4/3QK3 w - - 0 1"));
  HashKey child = keyAfterNullMove();
  searchNode(28, 0, 1);
  EXPECT_EQ(storedDepth(child), 12);  // deep node with a queen on: four plies less
  // A rook each and White two pawns up: below the material threshold the node must be deeper
  // than 8 plies for the larger reduction.
  ASSERT_TRUE(setPosition("4k3/pp3r2/8/8/8/8/PPPP4/3RK3 w - - 0 1"));
  child = keyAfterNullMove();
  searchNode(28, 0, 1);
  EXPECT_EQ(storedDepth(child), 16);
  ASSERT_TRUE(setPosition("4k3/pp3r2/8/8/8/8/PPPP4/3RK3 w - - 0 1"));
  clearTT();
  child = keyAfterNullMove();
  searchNode(36, 0, 1);
  EXPECT_EQ(storedDepth(child), 20);
}

TEST_F(MainSearchTest, KingAndPawnsNeverPassTheMove) {
  ASSERT_TRUE(setPosition("4k3/pp6/8/8/8/8/PPP5/4K3 w - - 0 1"));
  searchNode(12, 0, 1);
  EXPECT_EQ(searchStats.nullTries, 0);
  EXPECT_GT(nodes, 10u);
}

TEST_F(MainSearchTest, ExtensionsAddUpToOnePlyAtMost) {
  // e6-e7 checks the king on f8 and reaches the seventh rank: extended by 4, not 8.
  ASSERT_TRUE(setPosition("5k2/8/4P3/8/8/8/r7/R3K3 w - - 0 1"));
  const HashKey child = keyAfter(moveOf("e6e7"));
  searchNode(8, -MATE, MATE);
  EXPECT_EQ(storedDepth(child), 8);
  EXPECT_GE(searchStats.extCheck, 1);
  EXPECT_GE(searchStats.extPawn7th, 1);
}

TEST_F(MainSearchTest, LateQuietMovesAreReducedFromThreePliesOn) {
  const char* fen = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4";
  ASSERT_TRUE(setPosition(fen));
  searchNode(8, -MATE, MATE);
  EXPECT_EQ(searchStats.lateMoveReductions, 0);
  ASSERT_TRUE(setPosition(fen));
  clearTT();
  genMoves();
  const PlyRecord root = plyStack[0];
  searchNode(12, -MATE, MATE);
  EXPECT_GT(searchStats.lateMoveReductions, 0);
  // A reduced move that failed low keeps the reduced depth in the table: one ply deeper than
  // the quiescence search instead of two.
  int reduced = 0;
  for (int i = 0; i < root.moveCount; i++) {
    if (!legal(root.moves[i])) continue;
    const int depth = storedDepth(keyAfter(root.moves[i]));
    // Full depth is 8 (12 for the checking Bxf7+), reduced 4.
    EXPECT_TRUE(depth == 4 || depth == 8 || depth == 12) << moveToCoord(root.moves[i]) << " " << depth;
    if (depth == 4) {
      EXPECT_FALSE(isTactical(root.moves[i]));
      reduced++;
    }
  }
  EXPECT_GT(reduced, 0);
}

// Signature of the search: node counts of short fixed-depth searches with reductions on. Any
// change to the windows, the pruning or the order of the searches changes them; when a change is
// meant to alter the search, these figures move with the bench total.
TEST_F(MainSearchTest, ShortSearchesKeepTheirNodeCounts) {
  struct Case {
    const char* fen;
    int depth;
    uint64_t nodes;
  };
  const Case cases[] = {
      {"r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4", 20, 7321},
      {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 20, 72571},
      {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 32, 49087},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(setPosition(c.fen));
    clearTT();
    nodes = 0;
    for (int depth = 4; depth <= c.depth; depth += 4) {
      iterDepth = unsigned(depth / 4);
      searchNode(depth, -MATE, MATE);
    }
    EXPECT_EQ(nodes, c.nodes) << c.fen;
  }
}

TEST_F(MainSearchTest, RecaptureOfAnEqualPieceIsExtendedOnlyInsideTheWindow) {
  ASSERT_TRUE(setPosition("3rk3/8/8/3r4/8/8/8/3RK3 w - - 0 1"));
  playMove("d1d5");
  searchNode(8, -MATE, MATE, 0);
  EXPECT_GE(searchStats.extRecapture, 1);
  ASSERT_TRUE(setPosition("3rk3/8/8/3r4/8/8/8/3RK3 w - - 0 1"));
  playMove("d1d5");
  clearTT();
  searchStats = SearchStats{};
  searchNode(8, -1, 0, 0);
  EXPECT_EQ(searchStats.extRecapture, 0);
}

TEST_F(MainSearchTest, OnlyEvasionIsExtended) {
  ASSERT_TRUE(setPosition("R6k/6p1/8/8/8/8/8/4K3 b - - 0 1"));
  const HashKey child = keyAfter(moveOf("h8h7"));
  searchNode(8, -MATE, MATE);
  EXPECT_EQ(searchStats.extSingleReply, 1);
  EXPECT_EQ(storedDepth(child), 7);
}

TEST_F(MainSearchTest, MateAndStalemate) {
  place("R5k1/5ppp/8/8/8/8/8/4K3 b - - 0 1");
  plyStack[0].checkCount = findCheckers(plyStack[0].checkers);
  ply = 3;
  plyStack[3] = plyStack[0];
  EXPECT_EQ(search(8, -MATE, MATE, 1), 3 - MATE);
  ply = 0;
  place("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");
  EXPECT_EQ(searchNode(8, -100, 100), 0);
}

TEST_F(MainSearchTest, RepetitionIsADrawBeforeTheTable) {
  playMove("g1f3");
  playMove("g8f6");
  playMove("f3g1");
  playMove("f6g8");
  makeMove(moveOf("g1f3"));  // the position after 1.Nf3 again
  plyStack[ply].checkCount = 0;
  EXPECT_EQ(search(8, 50, 100, 1), 0);
  EXPECT_EQ(searchStats.hashProbes, 0);
  unmakeMove();
}

TEST_F(MainSearchTest, PawnBlockadeCapsTheNodeAtADraw) {
  ASSERT_TRUE(setPosition("4k3/8/1p1p1p1p/pPpPpPpP/P1P1P1P1/8/8/4K3 w - - 0 1"));
  ASSERT_EQ(isPawnBlockade(), 1);
  EXPECT_EQ(searchNode(8, 0, 30), 0);
  EXPECT_EQ(searchStats.hashProbes, 0);
  const int capped = searchNode(8, -10, 30);
  EXPECT_GT(searchStats.hashProbes, 0);  // goes on, with beta lowered to 0
  clearTT();
  EXPECT_EQ(capped, searchNode(8, -10, 0));
  EXPECT_LT(capped, 30);
}

int bitbaseAnswer = 0;
int fakeBitbase(int, int, int, int, int, int, int, int, int) { return bitbaseAnswer; }

TEST_F(MainSearchTest, BitbaseWinsArePreferredSooner) {
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/4P3/R3K3 w - - 0 1"));
  egbbAvailable = 1;
  egbbProbe = fakeBitbase;
  iterDepth = 10;
  ply = 6;
  plyStack[6] = plyStack[0];
  bitbaseAnswer = 1000;
  EXPECT_EQ(search(8, -MATE, MATE, 1), 300);
  bitbaseAnswer = -1000;
  EXPECT_EQ(search(8, -MATE, MATE, 1), -300);
  bitbaseAnswer = 0;
  EXPECT_EQ(search(8, -MATE, MATE, 1), 0);
  EXPECT_EQ(searchStats.egbbHits, 3);
  ply = 2;  // too close to the root for a quiet last move (iteration 10 probes from ply 5)
  plyStack[2] = plyStack[0];
  bitbaseAnswer = 1000;
  EXPECT_NE(search(4, -MATE, MATE, 1), 1000 - 100 - 200);
  EXPECT_EQ(searchStats.egbbProbes, 3);
  ply = 0;
  egbbAvailable = 0;
  egbbProbe = nullptr;
}

// Endless analysis takes the counters past 2^31 in a quarter of an hour: the search, the
// evaluation and the endgame databases all wrap them instead of overflowing (a signed overflow
// stops the sanitizer build).
TEST_F(MainSearchTest, StatisticsCountersWrapAround) {
  captureOutput([] { initECache(1 << 20); });
  int* counter = reinterpret_cast<int*>(&searchStats);
  std::fill(counter, counter + sizeof(SearchStats) / sizeof(int), INT_MAX);
  ASSERT_TRUE(setPosition("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4"));
  searchNode(16, -MATE, MATE);
  evaluate();
  evaluate();
  int score;
  probeNalimov(&score);
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/4P3/R3K3 w - - 0 1"));
  egbbProbe = fakeBitbase;
  EXPECT_EQ(probeEgbb(&score), 1);
  egbbProbe = nullptr;
  freeECache();
  const SearchStats& st = searchStats;
  for (int wrapped : {st.cutoffs, st.nullTries, st.hashProbes, st.hashHits, st.evalProbes, st.evalHits,
                      st.egtbProbes, st.egbbProbes, st.egbbHits})
    EXPECT_LT(wrapped, 0);
}

TEST_F(MainSearchTest, StopUnwindsAndRestoresThePosition) {
  ASSERT_TRUE(setPosition("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4"));
  char before[FEN_BUFFER], after[FEN_BUFFER];
  getFEN(before);
  const HashKey key = hashKey;
  pollHook = [] { stopSearch = 1; };
  nextPoll = 5000;
  EXPECT_EQ(searchNode(40, -MATE, MATE), 0);
  EXPECT_EQ(stopSearch, 1);
  getFEN(after);
  EXPECT_STREQ(before, after);
  EXPECT_EQ(hashKey, key);
  EXPECT_EQ(ply, 0);
  EXPECT_EQ(gamePly, 0);
  EXPECT_EQ(storedDepth(key), -1);  // nothing stored for the stopped node
  EXPECT_EQ(nodes, 5000u);
}

}  // namespace
