// The specialised endgame evaluators on positions counted by hand; their colour symmetry is
// covered by the random endings of the driver's suite.
#include "tests/eval/eval_fixture.h"

using EvalEndgame = EvalTest;

TEST_F(EvalEndgame, BishopAndKnightDriveToTheBishopsCorner) {
  // Light bishop: h1 reads as a1 (200); kings three apart (80).
  place("8/8/8/8/8/4K3/8/2N2B1k w - - 0 1");
  EXPECT_EQ(evaluate(), 1800 + 200 + 80);
  // Dark bishop: a1 is its corner already; kings four apart (60). Black to move sees it negated.
  place("8/8/8/8/8/4K3/8/k1N1B3 b - - 0 1");
  EXPECT_EQ(evaluate(), -(1800 + 200 + 60));
  // The wrong corner is worth the least.
  place("8/8/8/8/8/4K3/8/k1N2B2 w - - 0 1");
  EXPECT_EQ(evaluate(), 1800 + 130 + 60);
}

TEST_F(EvalEndgame, LoneKingAgainstQueen) {
  place("4k3/8/8/8/8/8/8/Q3K3 w - - 0 1");
  EXPECT_EQ(evaluate(), 900 + 70 + 10 + 1800);
  place("4k3/8/8/8/8/8/8/2B1KB2 w - - 0 1");  // two bishops (600): no bonus for heavy material
  EXPECT_EQ(evaluate(), 600 + 70 + 10);
}

TEST_F(EvalEndgame, RookAgainstPawn) {
  // White's king d1 stands in front of the pawn: 500 less the distance.
  place("7k/R7/8/8/3p4/8/8/3K4 w - - 0 1");
  EXPECT_EQ(evaluate(), 497);
  // c2 escorted by its king c3, White's king on a1: 200 + 8 - 25 + 25.
  place("8/8/8/8/8/2k5/2p5/K6R w - - 0 1");
  EXPECT_EQ(evaluate(), 208);
}

TEST_F(EvalEndgame, RookAndPawnAgainstRook) {
  // Philidor's position: the defending king on the queening square, the rook on the sixth.
  place("4k3/8/r7/4P3/4K3/8/8/7R w - - 0 1");
  EXPECT_EQ(evaluate(), 0);
  // No pattern applies: 116 - 6 * 5 - 4 * 5 - 96 (king b4 beside the file) - 16 (own king low).
  place("8/8/8/8/1k6/8/2P5/2K2R1r w - - 0 1");
  EXPECT_EQ(evaluate(), -46);
}

TEST_F(EvalEndgame, KingAndPawnScoresByRank) {
  place("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1");
  EXPECT_EQ(evalKPK(), 2200);
  place("8/8/8/8/4p3/4k3/8/4K3 w - - 0 1");  // colours and ranks exchanged
  EXPECT_EQ(evalKPK(), -2200);
}
