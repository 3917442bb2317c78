// The full evaluation's terms on positions where each can be counted by hand.
#include "tests/eval/eval_fixture.h"

using EvalTerms = EvalTest;

TEST_F(EvalTerms, InitialPositionSumsToZero) {
  EXPECT_EQ(fullAfter(START_FEN), 0);
  // Every minor piece is undeveloped: knights 2 each, bishops 1 + 1 (no mobility).
  EXPECT_EQ(developmentCount[WHITE], 8);
  EXPECT_EQ(developmentCount[BLACK], 8);
  EXPECT_FALSE(isEndgame);
}

TEST_F(EvalTerms, KnightInTheCornerHasTwoMoves) {
  place("N6k/8/8/8/8/8/8/4K3 w - - 0 1");
  clearEvalScratch();
  evalPawnPlacement();
  // Table -36, mobility 4 * (-4 + 2).
  EXPECT_EQ(evalPieces(), -44);
  EXPECT_EQ(attackMap[WHITE][sq("b6")], 16);
  EXPECT_EQ(attackMap[WHITE][sq("c7")], 16);

  place("4k3/8/8/8/8/8/8/n3K3 w - - 0 1");  // the black twin on a1
  clearEvalScratch();
  evalPawnPlacement();
  EXPECT_EQ(evalPieces(), 44);
}

TEST_F(EvalTerms, BishopBehindQueenMarksWithoutCounting) {
  place("k7/8/8/8/8/8/3Q4/2B4K w - - 0 1");
  clearEvalScratch();
  evalPawnPlacement();
  // Bishop c1: table 12, moves b2 a3 only: 12 + 5 * (-6 + 2) = -8. Queen d2: table 16, 22 moves
  // (c1 holds its own bishop): 16 + (-13 + 22) = 25.
  EXPECT_EQ(evalPieces(), 17);
  for (const char* s : {"e3", "f4", "g5", "h6"}) EXPECT_EQ(attackMap[WHITE][sq(s)], 16 + 2) << s;
  EXPECT_EQ(attackMap[WHITE][sq("c1")], 2);
  EXPECT_EQ(attackMap[WHITE][sq("d2")], 16);
}

TEST_F(EvalTerms, QueenBehindRookReadsAsTwoRooks) {
  fullAfter("4k3/8/8/8/8/8/3R4/3QK3 w - - 0 1");
  for (const char* s : {"d3", "d4", "d5", "d6", "d7", "d8"}) EXPECT_EQ(attackMap[WHITE][sq(s)], 8) << s;
  EXPECT_EQ(attackMap[WHITE][sq("d2")], 2 + 1);  // the queen and the king
}

TEST_F(EvalTerms, AttackBytesAddWeights) {
  // Two pawns attack e5 (128); a knight on f3 adds 16; Black's d6 pawn and c6 knight likewise.
  fullAfter("4k3/8/2np4/8/3P1P2/5N2/8/4K3 w - - 0 1");
  EXPECT_EQ(attackMap[WHITE][sq("e5")], 128 + 16);
  EXPECT_EQ(attackMap[BLACK][sq("e5")], 64 + 16);
}

TEST_F(EvalTerms, DoubledRooksOnAnOpenFile) {
  fullAfter("6k1/pp6/8/8/8/8/PP1R4/3RK3 w - - 0 1");
  EXPECT_EQ(rookFileCount[WHITE], 4);
  EXPECT_EQ(evalAggregates(), 50);
  fullAfter("6k1/pp6/8/8/8/3p4/PP1R4/3RK3 w - - 0 1");  // half-open: 1 + 1
  EXPECT_EQ(rookFileCount[WHITE], 2);
  EXPECT_EQ(evalAggregates(), 20);
}

TEST_F(EvalTerms, EarlyQueenWithUndevelopedPieces) {
  fullAfter("rnbqkbnr/pppppppp/8/8/8/3Q4/PPPPPPPP/RNB1KBNR w KQkq - 0 1");
  // Both sides pay developmentTable[8] = 70; only White's queen has left home.
  EXPECT_EQ(evalAggregates(), -50);
}

TEST_F(EvalTerms, SeventhRankOnlyAgainstABackRankKingInTheEndgame) {
  fullAfter("6k1/R7/8/8/8/8/8/6K1 w - - 0 1");
  ASSERT_TRUE(isEndgame);
  EXPECT_EQ(seventhCount[WHITE], 2);
  EXPECT_EQ(evalAggregates(), 32 + 20);  // seventh rank, open file
  fullAfter("8/R7/6k1/8/8/8/8/6K1 w - - 0 1");
  EXPECT_EQ(evalAggregates(), 20);
}

TEST_F(EvalTerms, TrappedBishopNeedsTheSnarePawnDefended) {
  fullAfter("4k3/B1p5/1p6/8/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(evalPatterns(), -150);
  fullAfter("4k3/B7/1p6/8/8/8/8/4K3 w - - 0 1");  // b6 undefended: the bishop can take it
  EXPECT_EQ(evalPatterns(), 0);
  fullAfter("4k3/8/8/8/8/1P6/b1P5/4K3 w - - 0 1");
  EXPECT_EQ(evalPatterns(), 150);
}

TEST_F(EvalTerms, BlockedCentrePawnsAndShutInRooks) {
  fullAfter("4k3/8/8/8/8/3N4/3P4/4K3 w - - 0 1");
  EXPECT_EQ(evalPatterns(), -50);
  fullAfter("4k3/8/8/8/8/8/8/R1K5 w - - 0 1");
  EXPECT_EQ(evalPatterns(), -50);
  fullAfter("5kr1/8/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(evalPatterns(), 50);
}

TEST_F(EvalTerms, FullPawnShieldGivesTheLowestDanger) {
  fullAfter("rr1qk3/8/8/8/8/8/5PPP/6K1 w - - 0 1");
  // Shield 2 + 4 + 3, no holes, king on its first rank and the g-file, nothing attacked.
  EXPECT_EQ(kingDangerIndex(WHITE), -9);
  EXPECT_EQ(evalKingSafety(), 15);
}

TEST_F(EvalTerms, AttackedNeighboursRaiseTheDanger) {
  // Black's queen on h3 hits g2, h2 and h1, which only White's king defends: 3 each. Black's
  // pieces (1400) are below 1500, so the shelter is not counted.
  fullAfter("r3k3/8/8/8/8/7q/5PP1/6K1 w - - 0 1");
  EXPECT_EQ(kingDangerIndex(WHITE), 9);
  EXPECT_EQ(evalKingSafety(), -131);
  // A knight on g4 instead of the rook joins on h2 (5 with the queen) and hits f2 alone (2).
  fullAfter("4k3/8/8/8/6n1/7q/5PP1/6K1 w - - 0 1");
  EXPECT_EQ(kingDangerIndex(WHITE), 13);
  EXPECT_EQ(evalKingSafety(), -227);
  // Without the rook Black's pieces do not exceed 900: no penalty.
  fullAfter("4k3/8/8/8/8/7q/5PP1/6K1 w - - 0 1");
  EXPECT_EQ(evalKingSafety(), 0);
}

TEST_F(EvalTerms, KingPlacementSwitchesTables) {
  fullAfter("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1RK1 w kq - 0 1");
  EXPECT_EQ(evalKingPlacement(), 20 - 0);
  fullAfter("8/8/8/8/3K4/8/8/7k w - - 0 1");
  EXPECT_EQ(evalKingPlacement(), 56 - 0);
}

TEST_F(EvalTerms, ImbalanceAndBishopPair) {
  fullAfter("2b1k1n1/8/8/8/8/8/8/R3K3 w - - 0 1");  // rook against two minors
  EXPECT_EQ(evalImbalance(), -60);
  fullAfter("4k3/8/8/8/8/8/8/RN2K3 w - - 0 1");  // a minor piece for nothing
  EXPECT_EQ(evalImbalance(), 120);
  fullAfter("3qk3/8/8/8/8/8/8/RR2K3 w - - 0 1");  // queen against two rooks: only one queen
  EXPECT_EQ(evalImbalance(), -120);

  fullAfter("4k3/8/8/8/8/8/8/2B1KB2 w - - 0 1");
  EXPECT_EQ(evalBishopPair(), 70);
  fullAfter("4kn2/8/8/8/8/8/8/2B1KB2 w - - 0 1");
  EXPECT_EQ(evalBishopPair(), 50);
  fullAfter("2b1kb2/8/8/8/8/8/8/2B1KB2 w - - 0 1");
  EXPECT_EQ(evalBishopPair(), 0);
}

TEST_F(EvalTerms, KnightOutpostGrowsWithSafetyAndSupport) {
  // Knight e5 (15): no black pawn on d or f above it, none on e, two pawns defend it.
  place("4k3/8/8/4N3/3P1P2/8/8/4K3 w - - 0 1");
  clearEvalScratch();
  evalPawnPlacement();
  int supported = evalPieces();
  place("4k3/5p2/8/4N3/3P1P2/8/8/4K3 w - - 0 1");  // f7 can chase it: only 15
  clearEvalScratch();
  evalPawnPlacement();
  int chased = evalPieces();
  EXPECT_EQ(supported - chased, 45);
}
