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

}  // namespace
