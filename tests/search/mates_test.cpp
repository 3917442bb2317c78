// Mates in one, two and three, each confirmed by another engine when this list was made: the
// search must report the mate at the first depth that can see it (2n - 1 plies).
#include <string>

#include "tests/search/search_fixture.h"

namespace {

struct MateCase {
  const char* fen;
  int moves;
};

const MateCase MATES[] = {
    {"8/8/2Q1R3/k7/6K1/3p1P2/1r1p4/8 w - - 0 1", 3},
    {"8/8/2Q5/4R3/1k4K1/3p1P2/1r1p4/8 w - - 2 2", 2},
    {"8/8/2Q5/1R6/6K1/k2p1P2/1r1p4/8 w - - 4 3", 1},
    {"5K2/8/2q1r3/6P1/8/6P1/k7/8 b - - 0 1", 2},
    {"6K1/3q4/4r3/6P1/8/6P1/k7/8 b - - 2 2", 1},
    {"8/8/3R3K/4R1p1/8/7p/8/2k5 w - - 0 1", 3},
    {"8/8/3R3K/2R3p1/8/7p/8/1k6 w - - 2 2", 2},
    {"8/8/1R5K/2R3p1/8/7p/8/k7 w - - 4 3", 1},
    {"4Q1R1/1k6/8/8/1K6/8/2p4p/8 w - - 0 1", 2},
    {"6R1/5Q2/k7/8/1K6/8/2p4p/8 w - - 2 2", 1},
    {"8/2P5/7k/4Q3/1pp1K3/8/8/8 w - - 0 1", 3},
    {"2Q5/7k/8/4Q3/1pp1K3/8/8/8 w - - 1 2", 2},
    {"2Q4Q/8/6k1/8/1pp1K3/8/8/8 w - - 3 3", 1},
    {"2k5/5p2/8/8/5Q2/4R3/2K3p1/8 w - - 0 1", 2},
    {"2k5/5Q2/8/8/8/4R3/2K5/6q1 w - - 0 2", 1},
    {"8/8/8/3Q4/2K5/2Rp4/5p2/1k6 w - - 0 1", 3},
    {"8/1Q6/8/8/2K5/2Rp4/k4p2/8 w - - 2 2", 2},
    {"8/8/8/8/2K5/1QRp4/5p2/k7 w - - 4 3", 1},
    {"2k5/8/8/8/7R/1p3p2/6R1/6K1 w - - 0 1", 3},
    {"2k5/6R1/8/8/7R/1p6/5p2/6K1 w - - 0 2", 2},
    {"2k5/6R1/8/8/7R/8/1p3p2/5K2 w - - 0 3", 1},
    {"2R5/5k2/8/Q6P/3K4/8/3pr1p1/8 w - - 0 1", 3},
    {"2R5/4k3/8/5Q1P/3K4/8/3pr1p1/8 w - - 2 2", 2},
    {"8/2R5/3k4/5Q1P/3K4/8/3pr1p1/8 w - - 4 3", 1},
    {"8/2P4k/p7/8/7K/4p3/6Q1/8 w - - 0 1", 3},
    {"2Q5/7k/8/p7/7K/4p3/6Q1/8 w - - 0 2", 2},
    {"2Q5/1Q6/7k/p7/7K/4p3/8/8 w - - 2 3", 1},
    {"8/p7/8/5Q2/8/8/2K4n/2N1k3 w - - 0 1", 2},
    {"8/p7/8/5Q2/8/3N4/2K1k2n/8 w - - 2 2", 1},
    {"1K6/8/3PP3/2q5/8/8/6r1/k7 b - - 0 1", 2},
    {"K7/8/3PP3/2q5/8/8/1r6/k7 b - - 2 2", 1},
    {"7K/8/P7/8/4P3/6q1/8/3rk3 b - - 0 1", 2},
    {"7K/P7/8/8/4P3/6q1/5k2/3r4 b - - 0 2", 1},
    {"8/1K6/6Q1/3R4/k5pp/8/8/8 w - - 0 1", 2},
    {"8/1K6/1Q6/3R4/k6p/6p1/8/8 w - - 0 2", 1},
    {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1", 1},
    {"r1bqkbnr/pppp1ppp/2n5/4p3/2B1P3/5Q2/PPPP1PPP/RNB1K1NR w KQkq - 4 4", 1},
    {"rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - 0 2", 1},
    {"6rk/6pp/8/6N1/8/8/8/6K1 w - - 0 1", 1},
    {"8/4N1pk/8/8/8/3R4/8/4K3 w - - 0 1", 1},
    {"7k/1R6/5N2/8/8/8/8/6K1 w - - 0 1", 1},
    {"6k1/R7/8/8/8/8/8/1R4K1 w - - 0 1", 1},
    {"3r2k1/5ppp/8/8/8/8/5PPP/6K1 b - - 0 1", 1},
    {"7k/4P3/6K1/8/8/8/8/8 w - - 0 1", 1},
    {"k7/7Q/1K6/8/8/8/8/8 w - - 0 1", 1},
    {"3rkr2/8/8/8/8/8/Q7/4K3 w - - 0 1", 1},
    {"4k3/8/4K3/8/8/8/8/R7 w - - 0 1", 1},
    {"6RK/6PP/8/6n1/8/8/8/k7 b - - 0 1", 1},
    {"6k1/8/8/8/8/8/R7/1R4K1 w - - 0 1", 2},
    {"7k/1R6/8/8/8/8/R7/6K1 w - - 2 2", 1},
    {"r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1", 2},
    {"r2qkb1r/pp2np1p/3p1p2/2p1N1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 0 2", 1},
    {"r1bqk2r/pppp1ppp/2n2n2/2b1p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 0 1", 1},
    {"6k1/pp3ppp/8/8/8/8/PP2QPPP/3R2K1 w - - 0 1", 1},
    {"rn3rk1/p5pp/2p5/3Ppb2/2q5/1Q6/PPPB2PP/R3K1NR b KQ - 0 1", 3},
    {"rn3rk1/p5pp/2p5/3Ppb2/8/1Q6/PPPB2PP/R4KNR b - - 0 2", 2},
    {"rn3rk1/p5pp/2p5/3Pp3/8/1Q1b4/PPPB2PP/R3K1NR b - - 2 3", 1},
    {"6k1/5p1p/6p1/8/8/8/1B3PPP/1Q4K1 w - - 0 1", 3},
    {"6k1/5p2/5Bp1/7p/8/8/5PPP/1Q4K1 w - - 0 2", 2},
    {"1Q6/5p1k/5Bp1/7p/8/8/5PPP/6K1 w - - 2 3", 1},
    {"5r1k/6pp/8/8/8/8/6PP/1Q3RK1 w - - 0 1", 1},
    {"1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5 b - - 0 1", 3},
    {"1k1r4/pp1b1R2/6pp/4p3/2B5/4Q3/PPP2B2/3K4 b - - 0 2", 2},
    {"1k1r4/pp3R2/6pp/4p3/2B3b1/4Q3/PPP2B2/2K5 b - - 2 3", 1},
};

using MateTest = SearchTest;

TEST_F(MateTest, EveryMateIsFoundAtItsDepth) {
  const char* expected[] = {"", "#", "#02", "#03"};
  settings.post = 0;
  settings.abscore = 0;
  int counts[4] = {0, 0, 0, 0};
  for (const MateCase& c : MATES) {
    ASSERT_TRUE(setPosition(c.fen));
    limits.maxDepth = 2 * c.moves - 1;
    captureOutput(think);
    EXPECT_STREQ(formatScore(rootScore), expected[c.moves]) << c.fen;
    EXPECT_EQ(int(iterDepth), limits.maxDepth) << c.fen;
    if (c.moves == 1) {
      // The move played mates.
      makeMove(pvTable[0][0]);
      plyStack[ply].checkCount = findCheckers(plyStack[ply].checkers);
      EXPECT_GT(plyStack[ply].checkCount, 0) << c.fen;
      genEvasions();
      EXPECT_EQ(plyStack[ply].moveCount, 0) << c.fen;
      unmakeMove();
    }
    counts[c.moves]++;
  }
  EXPECT_GE(counts[1], 10);
  EXPECT_GE(counts[2], 10);
  EXPECT_GE(counts[3], 10);
}

// Check extensions may let a shallower search see the mate, but never a shorter one.
TEST_F(MateTest, ShallowerSearchesNeverClaimAShorterMate) {
  settings.abscore = 0;
  for (const MateCase& c : MATES) {
    if (c.moves == 1) continue;
    ASSERT_TRUE(setPosition(c.fen));
    limits.maxDepth = 2 * c.moves - 3;
    captureOutput(think);
    EXPECT_LE(rootScore, MATE - (2 * c.moves - 1)) << c.fen;
  }
}

}  // namespace
