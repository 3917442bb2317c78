#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/board/perft_suite.h"

namespace {

const std::vector<PerftCase>& suite() {
  static const std::vector<PerftCase> cases = loadPerftSuite();
  return cases;
}

// One test per position of the suite, every depth it lists.
class PerftSlow : public testing::TestWithParam<int> {};

TEST_P(PerftSlow, AllDepths) {
  resetEngine();
  ASSERT_LT(size_t(GetParam()), suite().size());
  const PerftCase& c = suite()[GetParam()];
  ASSERT_TRUE(setPerftPosition(c.fen)) << c.fen;
  for (int depth = 1; depth <= int(c.counts.size()); depth++)
    EXPECT_EQ(perftCount(depth), c.counts[depth - 1]) << c.fen << " depth " << depth;
}

INSTANTIATE_TEST_SUITE_P(Suite, PerftSlow, testing::Range(0, 133));

TEST(SpeedTest, Report) {
  resetEngine();
  const std::string out = captureOutput(speedTest);
  const std::string head =
      "\n\n                       ================================="
      "\n                              S P E E D   T E S T       "
      "\n                       ================================="
      "\n\n\nFEN: r3qb1k/1b4p1/p2pr2p/3n4/Pnp1N1N1/6RP/1B3PP1/1B1QR1K1 w - - 0 1\n\n";
  EXPECT_EQ(out.substr(0, head.size()), head);
  for (const char* line : {"\nused time: ", "s\ngenMoves(): ", "/s\nmake/unmakeMove(): ",
                           "/s\nmake/unmakeMove() + legal(): ", "/s\nmake/unmakeMove() + inCheck(): "})
    EXPECT_NE(out.find(line), std::string::npos) << line;
  EXPECT_EQ(out.substr(out.size() - 5), "/s\n\n\n");
  char fen[FEN_BUFFER];
  getFEN(fen);
  EXPECT_STREQ(fen, "r3qb1k/1b4p1/p2pr2p/3n4/Pnp1N1N1/6RP/1B3PP1/1B1QR1K1 w - - 0 1");
  EXPECT_TRUE(boardIsConsistent());
}

}  // namespace
