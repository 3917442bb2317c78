// Material signature, scale factors, the draw recognisers and the known-draw test.
#include "tests/eval/eval_fixture.h"

using EvalMaterial = EvalTest;

TEST_F(EvalMaterial, TwoKnightsCannotForceMate) {
  place("4k3/8/8/8/8/8/8/1N2KN2 w - - 0 1");
  EXPECT_EQ(evaluate(), 0);
  EXPECT_EQ(materialKey, 0x20u);
  EXPECT_EQ(scaleWhite, 0);
  place("4k3/4p3/8/8/8/8/8/1N2KN2 w - - 0 1");  // against a pawn there are mating chances
  evaluate();
  EXPECT_EQ(scaleWhite, 1);
}

TEST_F(EvalMaterial, RookAgainstKnightEitherWay) {
  place("n3k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  EXPECT_EQ(evaluate(), 10 + 70 + 20);  // king e8 on the edge, four squares from its knight
  place("r3k3/8/8/8/8/8/8/N3K3 w - - 0 1");
  EXPECT_EQ(evaluate(), -100);
}

TEST_F(EvalMaterial, PawnAgainstKnightCoveringItsPath) {
  // Black's pawn d3 runs to d1; the knight on e4 covers d2.
  place("4k3/8/8/8/4N3/3p4/8/4K3 w - - 0 1");
  evaluate();
  EXPECT_EQ(materialKey, 0x100010u);
  EXPECT_EQ(scaleBlack, 1);
  place("N3k3/8/8/8/8/3p4/8/4K3 w - - 0 1");  // the knight on a8 is far away
  evaluate();
  EXPECT_EQ(scaleBlack, 8);
}

TEST_F(EvalMaterial, PawnOnTheSeventhAgainstQueen) {
  // a7 with its king on b7, Black's queen to move and Black's king far from a8: drawn.
  place("8/PK6/8/8/8/8/8/k2q4 b - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 1);
  EXPECT_EQ(scaleBlack, 1);
  place("8/PK6/8/8/2k5/8/8/3q4 b - - 0 1");  // Black's king four squares from a8: not drawn
  evaluate();
  EXPECT_EQ(scaleWhite, 16);
  EXPECT_EQ(scaleBlack, 16);
}

TEST_F(EvalMaterial, BishopAgainstPawnOnOppositeColours) {
  // The black bishop h1 covers d5 on the pawn's path.
  place("4k3/8/8/8/3P4/8/8/2B1K2b w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 1);
  // White's king on e4 does not shut the diagonal: the king is driven off, a textbook draw.
  place("4k3/8/8/8/3PK3/8/8/2B4b w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 1);
  // Black's own king on g2 shuts it: the bishop controls nothing, one pawn up, scale 4.
  place("8/8/8/8/3P4/8/6k1/2B1K2b w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 4);
}

TEST_F(EvalMaterial, BishopAgainstLonePawn) {
  // The same walk without White's bishop: the white king on e4 does not stop it, Black's on g2 does.
  place("4k3/8/8/8/3PK3/8/8/7b w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 1);
  place("8/8/8/8/3P4/8/6k1/4K2b w - - 0 1");
  evaluate();
  EXPECT_NE(scaleWhite, 1);
}

TEST_F(EvalMaterial, KnightAndRookPawnAgainstCorneredKing) {
  place("k7/P7/8/8/8/8/8/1N2K3 w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 1);
}

TEST_F(EvalMaterial, RookPawnWithTheWrongBishop) {
  // Black's king next to a8 and a knight for Black: the wrong bishop cannot win.
  place("1k6/8/8/8/8/8/P7/2B1K2n w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 0);
  place("1k6/8/8/8/8/8/P7/3BK2n w - - 0 1");  // the right bishop
  evaluate();
  EXPECT_EQ(scaleWhite, 4);
}

TEST_F(EvalMaterial, KnownDraws) {
  struct Case {
    const char* fen;
    int draw;
  } cases[] = {
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", 1},
      {"4k3/8/8/8/8/8/8/4KN2 w - - 0 1", 1},
      {"4kb2/8/8/8/8/8/8/4K3 b - - 0 1", 1},
      {"8/8/8/4k3/4P3/4K3/8/8 w - - 0 1", 1},  // drawn king and pawn
      {"4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", 0},  // won king and pawn
      {"2b1k3/8/8/8/8/8/8/4KB2 w - - 0 1", 1},  // both bishops on light squares
      {"2b1k3/8/8/8/8/8/8/2B1K3 w - - 0 1", 0},  // opposite colours
      {"1k6/8/8/8/8/8/P7/2B1K3 w - - 0 1", 1},  // dark bishop cannot cover a8
      {"1k6/8/8/8/8/8/P7/3BK3 w - - 0 1", 0},   // light bishop can
      {"2b1k3/p7/8/8/8/8/8/1K6 b - - 0 1", 1},  // Black's twin: light bishop, a1 is dark
      {"1k6/8/8/8/8/8/7P/4KB2 w - - 0 1", 0},   // wrong bishop, but the king is far from h8
      {"4k3/8/8/8/8/8/8/3NKN2 w - - 0 1", 0},   // two knights: not certain
      {"4k3/8/8/8/8/8/8/R3K3 w - - 0 1", 0},
      {"4k3/8/8/8/8/8/8/1NB1K3 w - - 0 1", 0},  // bishop and knight
      {"4k3/4p3/8/8/8/8/8/1NB1K3 w - - 0 1", 0},  // three units
  };
  for (const Case& c : cases) {
    place(c.fen);
    EXPECT_EQ(isKnownDraw(), c.draw) << c.fen;
  }
}

TEST_F(EvalMaterial, KnownDrawFlags) {
  place("4k3/8/8/8/8/8/8/4KN2 w - - 0 1");
  drawFlags = DF_OPPOSITE_BISHOPS;
  isKnownDraw();
  EXPECT_EQ(drawFlags, DF_DRAWISH);
  EXPECT_EQ(materialKey, 0x10u);
  place("4k3/4p3/8/8/8/8/8/1NB1K3 w - - 0 1");  // three units: nothing is written
  materialKey = 0xDEAD;
  isKnownDraw();
  EXPECT_EQ(materialKey, 0xDEADu);
}

TEST_F(EvalMaterial, NormalisedListShowsThePawnSideMovingUp) {
  place("8/8/8/8/4k3/8/5p2/1N2K3 w - - 0 1");  // Black's f-pawn: mirrored twice
  Square list[MAX_LIST];
  ASSERT_EQ(normalizePosition(BLACK, list), 4);
  EXPECT_EQ(list[0], sq("d5"));  // Black's king e4
  EXPECT_EQ(list[1], sq("c7"));  // the pawn f2
  EXPECT_EQ(list[2], sq("d8"));  // White's king e1
  EXPECT_EQ(list[3], sq("g8"));  // the knight b1
}
