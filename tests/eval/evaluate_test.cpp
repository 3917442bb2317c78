// The driver: the three roads, the scale factors, symmetry over the test suites, and the
// repetition and fifty-move test.
#include <random>

#include "tests/eval/eval_fixture.h"

using EvalDriver = EvalTest;

TEST_F(EvalDriver, StartPositionIsLevel) {
  place(START_FEN);
  EXPECT_EQ(evaluate(), 0);
}

TEST_F(EvalDriver, SignatureRoadStartsAtSeventeenHundred) {
  // Rook and three pawns against rook and four: 1700 takes the signature road.
  place("4k2r/pppp4/8/8/8/8/PPP5/R3K3 w - - 0 1");
  materialKey = 0xDEAD;
  evaluate();
  EXPECT_EQ(materialKey, 0x100401003u);
  // One more black pawn: 1800, the signature is not consulted.
  place("4k2r/ppppp3/8/8/8/8/PPP5/R3K3 w - - 0 1");
  materialKey = 0xDEAD;
  evaluate();
  EXPECT_EQ(materialKey, 0xDEADu);
}

TEST_F(EvalDriver, PawnlessSideWithLittleMoreThanTheEnemyPieces) {
  // Rook and bishop (800) against rook and five pawns: 800 - 500 = 300, so White is scaled.
  place("r3k3/ppppp3/8/8/8/8/8/RB2K3 w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 6);
  EXPECT_EQ(scaleBlack, 16);
  EXPECT_EQ(applyScale(100), 37);
  EXPECT_EQ(applyScale(-100), -100);
  EXPECT_EQ(whiteScore(), applyScale(fullEvaluation()));
}

TEST_F(EvalDriver, OppositeBishopsHalveUntouchedFactors) {
  place("4k3/3pp3/8/3b4/8/8/3PP3/2B1K3 w - - 0 1");
  evaluate();
  EXPECT_TRUE(drawFlags & DF_OPPOSITE_BISHOPS);
  EXPECT_EQ(scaleWhite, 8);
  EXPECT_EQ(scaleBlack, 8);
  EXPECT_EQ(applyScale(-101), -50);  // truncation toward zero
  // Bishops on the same colour: the flag is set but nothing is scaled.
  place("4k3/3pp3/8/4b3/8/8/3PP3/2B1K3 w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 16);
  EXPECT_EQ(scaleBlack, 16);
  // One pawn each: the material rule (4) is below 16 and stays.
  place("6k1/4p3/8/3b4/8/8/3P4/2B3K1 w - - 0 1");
  evaluate();
  EXPECT_EQ(scaleWhite, 4);
  EXPECT_EQ(scaleBlack, 4);
}

TEST_F(EvalDriver, QueenAgainstRookIsNotScaled) {
  place("3rk3/8/8/8/8/8/8/3QK3 w - - 0 1");
  EXPECT_EQ(evaluate(), 400 + 70 + 10);  // e8 on the edge, kings 7 apart
  place("3qk3/8/8/8/8/8/8/3RK3 b - - 0 1");
  EXPECT_EQ(evaluate(), 480);
  EXPECT_EQ(whiteScore(), -480);
}

TEST_F(EvalDriver, BareKingsAreScaledToTwoSixteenths) {
  place("7k/8/8/8/3K4/8/8/8 w - - 0 1");
  EXPECT_EQ(evaluate(), 56 * 2 / 16);  // only the endgame king table differs
  EXPECT_EQ(scaleWhite, 2);
  EXPECT_EQ(scaleBlack, 2);
}

TEST_F(EvalDriver, RookAgainstRookScoresZeroWithoutFullEvaluation) {
  place("3rk3/8/8/8/8/8/8/2R1K3 w - - 0 1");
  attackMap[WHITE][0] = 99;
  EXPECT_EQ(evaluate(), 0);
  EXPECT_EQ(attackMap[WHITE][0], 99);
  // Queen against queen (1800) is above the signature threshold; the signature alone zeroes it.
  place("3qk3/8/8/8/8/8/8/2Q1K3 w - - 0 1");
  scaleWhite = scaleBlack = 16;
  EXPECT_EQ(materialSignature(), EG_NONE);
  EXPECT_EQ(scaleWhite, 0);
  EXPECT_EQ(scaleBlack, 0);
}

TEST_F(EvalDriver, RookAgainstBishopDrivesTheKingToTheEdge) {
  place("7k/8/8/4b3/8/8/8/R3K3 w - - 0 1");
  EXPECT_EQ(evaluate(), 100);
  place("r3k3/8/8/8/4B3/8/8/7K b - - 0 1");
  EXPECT_EQ(evaluate(), 100);
}

// Every suite position, and the same with only kings and pawns or with the pieces thinned out,
// evaluates the same as its colour mirror (for the side to move).
TEST_F(EvalDriver, ColourMirrorGivesTheSameScore) {
  freeECache();
  int checked = 0;
  for (const std::string& fen : suitePositions()) {
    std::vector<std::string> variants = {fen};
    std::string pawnsOnly, thinned, placement = splitFields(fen)[0];
    int pieces = 0;
    for (char c : placement) {
      bool piece = std::string("NBRQnbrq").find(c) != std::string::npos;
      pawnsOnly += piece ? '1' : c;
      thinned += piece && ++pieces % 3 ? '1' : c;
    }
    variants.push_back(pawnsOnly + " w - - 0 1");
    variants.push_back(thinned + " b - - 0 1");
    for (const std::string& p : variants) {
      if (!trySetPosition(p)) continue;
      int score = evaluate();
      std::string mirror = colourMirror(p);
      ASSERT_TRUE(trySetPosition(mirror)) << mirror;
      EXPECT_EQ(evaluate(), score) << p << "  /  " << mirror;
      ++checked;
    }
  }
  EXPECT_GT(checked, 700);
}

// Random endings of the kinds the material signature knows, and some it does not.
TEST_F(EvalDriver, ColourMirrorOfRandomEndings) {
  freeECache();
  const char* materials[] = {"KPk", "KQkr", "KRkb", "KRkn", "KRkp", "KBNk", "KRPkr", "KQk",
                             "KRk", "KBBk", "KNNk", "KNNkp", "KPkq", "KPkb", "KPkn", "KNPk",
                             "KBPk", "KBPkb", "KQkq", "KRkr", "KBkb", "KBPPkbpp", "KRPPkrp", "KPPkp"};
  std::mt19937 rng(12345);
  int checked = 0;
  for (const char* material : materials) {
    for (int trial = 0; trial < 60; ++trial) {
      char squares[64];
      std::fill(squares, squares + 64, '1');
      bool ok = true;
      for (const char* m = material; *m && ok; ++m) {
        int s, tries = 0;
        do {
          s = int(rng() % 64);
        } while ((squares[s] != '1' || ((*m == 'P' || *m == 'p') && (s < 8 || s >= 56))) && ++tries < 100);
        squares[s] = *m;
      }
      std::string placement;
      for (int rank = 7; rank >= 0; --rank) {
        for (int file = 0; file < 8; ++file) placement += squares[rank * 8 + file];
        if (rank) placement += '/';
      }
      std::string fen = placement + (trial % 2 ? " b" : " w") + " - - 0 1";
      if (!trySetPosition(fen)) continue;
      int score = evaluate();
      std::string mirror = colourMirror(fen);
      ASSERT_TRUE(trySetPosition(mirror)) << mirror;
      EXPECT_EQ(evaluate(), score) << fen;
      // Without pawns nothing distinguishes the a-file from the h-file.
      if (std::string(material).find_first_of("Pp") == std::string::npos) {
        ASSERT_TRUE(trySetPosition(fileMirror(fen)));
        EXPECT_EQ(evaluate(), score) << fen << " mirrored left-right";
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 800);
}

// Pawnless suite positions (pawns removed) score the same mirrored left to right, except where
// a queen stands on d1, e1, d8 or e8 (the development rule names d1 and d8).
TEST_F(EvalDriver, FileMirrorOfPawnlessPositions) {
  freeECache();
  int checked = 0;
  for (const std::string& fen : suitePositions()) {
    std::string placement, original = splitFields(fen)[0];
    for (char c : original) placement += (c == 'p' || c == 'P') ? '1' : c;
    std::string pawnless = placement + " w - - 0 1";
    if (!trySetPosition(pawnless)) continue;
    bool queenAtHome = false;
    for (Square s : {sq("d1"), sq("e1"), sq("d8"), sq("e8")})
      if (typeOf(board[s]) == QUEEN) queenAtHome = true;
    if (queenAtHome) continue;
    int score = evaluate();
    ASSERT_TRUE(trySetPosition(fileMirror(pawnless)));
    EXPECT_EQ(evaluate(), score) << pawnless;
    ++checked;
  }
  EXPECT_GT(checked, 200);
}

TEST_F(EvalDriver, FiftyMovesDraw) {
  place("4k3/8/8/8/8/8/8/R3K3 w - - 100 80");
  EXPECT_EQ(isRepetitionOrFifty(), 1);
  place("4k3/8/8/8/8/8/8/R3K3 w - - 99 80");
  EXPECT_EQ(isRepetitionOrFifty(), 0);
}

TEST_F(EvalDriver, KnightsOutAndBackRepeatTheStart) {
  place(START_FEN);
  const char* moves[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(isRepetitionOrFifty(), 0) << "before " << moves[i];
    Move m = matchMove(parseCoord(moves[i]));
    ASSERT_NE(m, 0u) << moves[i];
    makeMove(m);
    ply = 0;
    initPieceLists();
  }
  EXPECT_EQ(gamePly, 4);
  EXPECT_EQ(fiftyCount, 4);
  EXPECT_EQ(isRepetitionOrFifty(), 1);
}
