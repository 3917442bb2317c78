// Chess960 perft to depth 5 and 6: start positions where king or rook stays put when castling,
// and the deepest counts of the middle-game positions (Stockfish's, tests/data/chess960_perft.txt).
#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/board/chess960_perft.h"

TEST(Chess960Slow, DeepPerft) {
  resetEngine();
  const auto groups = loadChess960Suite();
  ASSERT_GE(groups.at("deep").size(), 10u);
  for (const char* group : {"deep", "middle"}) {
    for (const PerftCase& c : groups.at(group)) {
      if (c.counts.size() < 5) continue;
      ASSERT_TRUE(setPerftPosition(c.fen)) << c.fen;
      for (int depth = 5; depth <= int(c.counts.size()); depth++)
        EXPECT_EQ(perftCount(depth), c.counts[depth - 1]) << c.fen << " depth " << depth;
    }
  }
}
