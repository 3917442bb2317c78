// Pawn structure: penalties, passed-pawn values and the pawn race.
#include "tests/eval/eval_fixture.h"

using EvalPawns = EvalTest;

// Each expected structure is summed pawn by pawn; the pawns beside the one a test is about
// pay only doubled, isolated or backward penalties.
TEST_F(EvalPawns, RookPawnIsIsolatedAgainstTheEdge) {
  // a2 pays the edge file's 8, Black's isolated b5 its 12.
  fullAfter("4k3/8/8/1p6/8/8/P7/4K3 w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), -8 + 12);
  // An enemy pawn on the file halves it; a7 and b7 stand together and pay nothing.
  fullAfter("4k3/pp6/8/8/8/8/P7/4K3 w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), -4);
}

TEST_F(EvalPawns, DoubledIsolatedPawnsEachPay) {
  // d2 and d3 pay 10 doubled and 20 isolated each; Black's c7 and e7 are isolated.
  fullAfter("4k3/2p1p3/8/8/8/3P4/3P4/4K3 w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), -30 - 30 + 16 + 20);
}

TEST_F(EvalPawns, BackwardPawn) {
  // d3 is left behind (16): e4 has gone ahead, there is no c-pawn, and Black's c5 pawn holds
  // d4. Black's c5 and e5 are isolated (16, and 20 halved by the e-pawn in front).
  fullAfter("4k3/8/8/2p1p3/4P3/3P4/8/4K3 w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), -16 + 16 + 10);
  // A white pawn on c3 holds d4 as well: equal pressure and no pawn attacks d3, still backward
  // (and c5's penalty halves).
  fullAfter("4k3/8/8/2p1p3/4P3/2PP4/8/4K3 w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), -16 + 8 + 10);
  // With e2 defending d3 the pawn is not backward; e2 is (16, halved by Black's e-pawn).
  fullAfter("4k3/8/8/2p1p3/8/3P4/4P3/4K3 w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), -8 + 16 + 10);
}

TEST_F(EvalPawns, PassedPawnOnTheSeventh) {
  // b8 free and held by nobody, the pawn undefended, Black's pieces worth more than 900:
  // 120 + 40 + 20, and 12 for the isolated b-pawn.
  fullAfter("7k/1P6/8/8/8/8/4q2r/K7 w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), 180 - 12);
}

TEST_F(EvalPawns, SupportedPassedPawn) {
  // c6 defended by b5: base 90, + 22 for the support, c7 and c8 free and held by nobody
  // + 30 + 15; Black's queen and knight (1200) leave the king's distance out. Black's b6 stops
  // b5, which is backward (8 halved), and is isolated itself (12 halved).
  fullAfter("7k/8/1pP4n/1P6/7q/8/8/K7 w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), 90 + 22 + 30 + 15 - 4 + 6);
}

TEST_F(EvalPawns, EnemyKingDistanceAgainstFewPieces) {
  // Against a lone rook (500) every square between the enemy king and the pawn is worth 5.
  fullAfter("r6k/8/8/8/3P4/8/8/7K w - - 0 1");
  int far = evalPawnStructure();
  fullAfter("r7/8/k7/8/3P4/8/8/7K w - - 0 1");
  EXPECT_EQ(far - evalPawnStructure(), 5 * (4 - 3));
  // With queen and rook (1400) distance earns nothing.
  fullAfter("r6k/6q1/8/8/3P4/8/8/7K w - - 0 1");
  far = evalPawnStructure();
  fullAfter("r7/6q1/k7/8/3P4/8/8/7K w - - 0 1");
  EXPECT_EQ(far, evalPawnStructure());
}

TEST_F(EvalPawns, UnstoppablePawnWinsTheRace) {
  // a5 needs 3 moves, Black's king 7: the passer (50 + 16 + 8) and the race bonus.
  fullAfter("7k/8/8/P7/8/8/8/7K w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), -8 + 74 + 600);
  EXPECT_EQ(raceMin[WHITE], 3);
  // With Black's king on b7 the pawn is caught; it holds a6, so no free-path bonus either.
  fullAfter("8/1k6/8/P7/8/8/8/7K w - - 0 1");
  EXPECT_EQ(evalPawnStructure(), -8 + 50 + 10);
  EXPECT_EQ(raceMin[WHITE], 7);
}

TEST_F(EvalPawns, RaceCountsTheMoveAndBlockers) {
  fullAfter("7K/8/8/8/8/8/1p6/7k b - - 0 1");
  EXPECT_EQ(raceMin[BLACK], 1);
  fullAfter("7K/8/8/8/8/8/1p6/7k w - - 0 1");
  EXPECT_EQ(raceMin[BLACK], 2);
  EXPECT_LT(evalPawnStructure(), -600 + 100);
  // A pawn on its start square with both squares ahead free saves the double step.
  fullAfter("7k/8/8/8/8/8/P7/K7 w - - 0 1");
  EXPECT_EQ(raceMin[WHITE], 5);
  fullAfter("7k/8/8/8/8/8/P7/K7 b - - 0 1");
  EXPECT_EQ(raceMin[WHITE], 6);
  // Its own king on a4 costs a move and the double step: 7 moves, and Black's king is in time.
  fullAfter("7k/8/8/8/K7/8/P7/8 w - - 0 1");
  EXPECT_EQ(raceMin[WHITE], 7);
}

// One pawn skeleton under different pieces and kings: castled on opposite wings either way
// (the storms), kings in the centre, a pawn ending (the race) and a crowd of minor pieces and
// rooks on the pawns' squares (attack bytes carrying into the pawn field).
constexpr const char* SAME_PAWNS[] = {
    "r1bq1rk1/p4ppp/1p2p3/2pP4/8/2P3P1/P4P1P/2KR1BNR w - - 0 1",
    "2kr1b1r/p4ppp/1p2p3/2pP4/8/2P3P1/P4P1P/R1BQ1RK1 b - - 0 1",
    "4k3/p4ppp/1p2p3/2pP4/8/2P3P1/P4P1P/R3K3 w - - 0 1",
    "8/p4ppp/1p2pk2/2pP4/8/2P3P1/P4P1P/6K1 w - - 0 1",
    "8/p4ppp/1p2pk2/2pP4/8/2P3P1/P4P1P/6K1 b - - 0 1",
    "3r2k1/p1n2ppp/1pb1pn2/2pP4/1N1N4/2P1B1P1/P4P1P/3R2K1 w - - 0 1",
};

TEST_F(EvalPawns, CachedStructureMatchesFreshComputation) {
  for (const char* fen : SAME_PAWNS) {
    clearPawnCache();
    const int fresh = fullAfter(fen);
    const int freshPawns = evalPawnStructure();
    // Every other position fills the entry of these pawns first; this one then hits it.
    for (const char* other : SAME_PAWNS) {
      if (other == fen) continue;
      clearPawnCache();
      fullAfter(other);
      const PawnCacheEntry* filled = pawnEntry;
      EXPECT_EQ(fullAfter(fen), fresh) << fen << " after " << other;
      EXPECT_EQ(pawnEntry, filled);
      EXPECT_EQ(evalPawnStructure(), freshPawns) << fen << " after " << other;
    }
  }
}
