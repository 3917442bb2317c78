#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/board/perft_suite.h"

namespace {

constexpr uint64_t FAST_LIMIT = 1000000;  // deepest depth whose count stays below this

TEST(Perft, WholeSuiteToModerateDepth) {
  resetEngine();
  const auto suite = loadPerftSuite();
  ASSERT_EQ(suite.size(), 133u);
  for (const auto& c : suite) {
    ASSERT_TRUE(setPerftPosition(c.fen)) << c.fen;
    char before[FEN_BUFFER];
    getFEN(before);
    int depth = 1;
    while (depth < int(c.counts.size()) && c.counts[depth] < FAST_LIMIT) depth++;
    EXPECT_EQ(perftCount(depth), c.counts[depth - 1]) << c.fen << " depth " << depth;
    char after[FEN_BUFFER];
    getFEN(after);
    EXPECT_STREQ(before, after);
    EXPECT_TRUE(boardIsConsistent());
    EXPECT_EQ(gamePly, 0);
    EXPECT_EQ(ply, 0);
  }
}

// The last ply is counted without making its moves; making every leaf must give the same
// counts, from check, en passant along the king's rank and promotions alike.
TEST(Perft, BulkCountMatchesMakingEveryLeaf) {
  resetEngine();
  const auto suite = loadPerftSuite();
  ASSERT_EQ(suite.size(), 133u);
  for (const auto& c : suite) {
    ASSERT_TRUE(setPerftPosition(c.fen)) << c.fen;
    for (int depth = 1; depth <= 3 && depth <= int(c.counts.size()); depth++) {
      const uint64_t made = perftCountByMaking(depth);
      EXPECT_EQ(perftCount(depth), made) << c.fen << " depth " << depth;
      EXPECT_EQ(made, c.counts[depth - 1]) << c.fen << " depth " << depth;
      if (c.counts[depth - 1] > FAST_LIMIT / 4) break;
    }
    EXPECT_TRUE(boardIsConsistent());
    EXPECT_EQ(gamePly, 0);
  }
}

TEST(Perft, ReportAndProgressBar) {
  resetEngine();
  const std::string out = captureOutput([] { perft(2); });
  const std::string head =
      "\n\n                           ======================="
      "\n                                  P E R F T       "
      "\n                           ======================="
      "\n\n\nFEN: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\n\n"
      "\rProgress: .................... 0.00%"
      "\rProgress: #................... 5.00%";
  EXPECT_EQ(out.substr(0, head.size()), head);
  const std::string tail = "\rProgress: #################### 100.00%\n\n\nperft nodes: 400\nused time: ";
  EXPECT_NE(out.find(tail), std::string::npos) << out;
  EXPECT_NE(out.find("s\nnodes/sec: "), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 3), "\n\n\n");
  EXPECT_EQ(captureOutput([] { showProgress(0.25); }), "\rProgress: #####............... 25.00%");
  EXPECT_TRUE(boardIsConsistent());
}

TEST(Perft, StartPositionCounts) {
  resetEngine();
  const uint64_t expected[] = {1, 20, 400, 8902, 197281};
  for (int depth = 0; depth <= 4; depth++) EXPECT_EQ(perftCount(depth), expected[depth]);
}

}  // namespace
