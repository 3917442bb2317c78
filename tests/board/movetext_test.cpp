#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/support/support.h"

namespace {

// SAN of a coordinate move in a position; the position must be unchanged afterwards.
std::string san(const char* fen, const char* move) {
  if (!setPosition(fen)) return "<fen>";
  const Move m = matchMove(parseCoord(move));
  if (!m) return "<illegal>";
  char before[FEN_BUFFER], after[FEN_BUFFER];
  getFEN(before);
  const std::string text = moveToSAN(m);
  getFEN(after);
  EXPECT_STREQ(before, after);
  EXPECT_EQ(hashKey, computeHashKey());
  return text;
}

TEST(MoveText, SanDisambiguation) {
  resetEngine();
  EXPECT_EQ(san("4k3/8/8/8/8/5N2/8/1N2K3 w - - 0 1", "b1d2"), "Nbd2");
  EXPECT_EQ(san("4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "a1a3"), "R1a3");
  EXPECT_EQ(san("1k6/8/8/8/4Q2Q/8/8/K6Q w - - 0 1", "h4e1"), "Qh4e1");
  EXPECT_EQ(san("1k6/8/8/8/4Q2Q/8/8/K6Q w - - 0 1", "h1e1"), "Qh1e1");
  EXPECT_EQ(san("4k3/8/8/3b4/8/5N2/8/1N5K w - - 0 1", "b1d2"), "Nd2");  // f3 is pinned
  EXPECT_EQ(san("4k3/8/8/3p4/8/5N2/8/1N2K3 w - - 0 1", "f3d4"), "Nd4");
  EXPECT_EQ(san("4k3/8/8/3p4/8/1N3N2/8/4K3 w - - 0 1", "f3d4"), "Nfd4");
  EXPECT_EQ(san("4k3/8/8/3p4/8/1N3N2/8/4K3 w - - 0 1", "b3d4"), "Nbd4");
  EXPECT_EQ(san("4k3/8/8/3p4/8/1N3N2/8/4K3 w - - 0 1", "f3d4"), "Nfd4");
}

TEST(MoveText, SanCapturesPromotionsChecks) {
  resetEngine();
  EXPECT_EQ(san("4k3/8/8/3p4/4P3/8/8/4K3 w - - 0 1", "e4d5"), "exd5");
  EXPECT_EQ(san("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6"), "exd6");
  EXPECT_EQ(san("3rk3/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7d8q"), "exd8=Q+");
  EXPECT_EQ(san("3rk3/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7d8n"), "exd8=N");
  EXPECT_EQ(san("4k3/8/8/3p4/8/5N2/8/4K3 w - - 0 1", "f3d4"), "Nd4");
  EXPECT_EQ(san("4k3/8/8/3p4/8/4N3/8/4K3 w - - 0 1", "e3d5"), "Nxd5");
  EXPECT_EQ(san("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", "a1a8"), "Ra8#");
  EXPECT_EQ(san("4k3/8/8/8/8/8/8/R3K3 w - - 0 1", "a1a8"), "Ra8+");
  EXPECT_EQ(san("5k2/8/8/8/8/8/8/4K2R w K - 0 1", "e1g1"), "O-O");  // gives check, no mark
  EXPECT_EQ(san("r3k3/8/8/8/8/8/8/4K3 b q - 0 1", "e8c8"), "O-O-O");
  EXPECT_EQ(san("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", "e2e4"), "e4");
  // A discovered check is marked too, and so is a mate by discovery.
  EXPECT_EQ(san("4k3/8/8/8/4B3/8/8/K3R3 w - - 0 1", "e4b1"), "Bb1+");
}

TEST(MoveText, CoordinateText) {
  resetEngine();
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/1p6/R3K3 b - - 0 1"));
  const Move under = matchMove(parseCoord("b2a1n"));
  ASSERT_NE(under, 0u);
  EXPECT_STREQ(moveToCoord(under), "b2a1N");
  EXPECT_STREQ(moveToUci(under), "b2a1n");  // UCI's lower case, in a buffer of its own
  EXPECT_STREQ(moveToCoord(under), "b2a1N");
  EXPECT_EQ(promotionOf(under), KNIGHT + BLACK_BIT);
  EXPECT_STREQ(moveToUci(makeMoveWord(0x04, 0x06, KING, 0, 0, MF_SHORT_CASTLE)), "e1g1");
  EXPECT_STREQ(moveToCoord(makeMoveWord(0x04, 0x06, KING, 0, 0, MF_SHORT_CASTLE)), "e1g1");
}

TEST(MoveText, ParseAndMatch) {
  resetEngine();
  EXPECT_EQ(parseCoord("e2e4"), Move(0x14 | 0x34 << 8));
  EXPECT_EQ(parseCoord("e2e4\n"), parseCoord("e2e4 and more"));
  EXPECT_EQ(parseCoord("e2"), 0u);
  EXPECT_EQ(parseCoord(""), 0u);
  EXPECT_EQ(parseCoord("i2e4"), 0u);
  EXPECT_EQ(parseCoord("e2e9"), 0u);
  EXPECT_EQ(parseCoord("E2E4"), 0u);
  EXPECT_EQ(promotionOf(parseCoord("a7a8=r")), ROOK);
  EXPECT_EQ(promotionOf(parseCoord("a7a8x")), 7);
  EXPECT_EQ(promotionOf(parseCoord("a7a8=")), 7);
  EXPECT_NE(matchMove(parseCoord("e2e4")), 0u);
  EXPECT_EQ(matchMove(parseCoord("e2e4+")), 0u);
  EXPECT_EQ(matchMove(parseCoord("e2e4\r")), 0u);
  EXPECT_EQ(matchMove(parseCoord("e2e5")), 0u);
  EXPECT_EQ(matchMove(parseCoord("e7e5")), 0u);  // the wrong side

  ASSERT_TRUE(setPosition("8/4P3/8/8/8/8/8/k3K3 w - - 0 1"));
  const Move queen = matchMove(parseCoord("e7e8q"));
  ASSERT_NE(queen, 0u);
  EXPECT_EQ(promotionOf(queen), QUEEN);
  EXPECT_EQ(matchMove(parseCoord("e7e8Q")), queen);
  EXPECT_EQ(matchMove(parseCoord("e7e8=q")), queen);
  EXPECT_EQ(matchMove(parseCoord("e7e8")), 0u);
  EXPECT_EQ(matchMove(parseCoord("e7e8k")), 0u);

  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1"));
  const Move castle = matchMove(parseCoord("e1g1"));
  EXPECT_TRUE(castle & MF_SHORT_CASTLE);
  EXPECT_TRUE(matchMove(parseCoord("e1c1")) & MF_LONG_CASTLE);
}

}  // namespace
