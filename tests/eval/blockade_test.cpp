// The pawn-blockade test on closed pawn chains.
#include "tests/eval/eval_fixture.h"

using EvalBlockade = EvalTest;

namespace {
// White pawns a4 b5 c4 d5 e4 f5 g4 h5 rammed by Black's a5 b6 c5 d6 e5 f6 g5 h6.
const char* const CHAIN = "1p1p1p1p/pPpPpPpP/P1P1P1P1";
std::string chain(const char* top, const char* bottom) {
  return std::string(top) + "/" + CHAIN + "/" + bottom + " w - - 0 1";
}
}  // namespace

TEST_F(EvalBlockade, ClosedChainIsAFenceOnTheFifthRank) {
  place(chain("4k3/8", "8/8/4K3"));
  EXPECT_EQ(isPawnBlockade(), 1);
  for (int file = 0; file < 8; ++file) {
    for (int rank = 0; rank < 8; ++rank)
      EXPECT_EQ(fencePath[file][rank], rank == 4) << "file " << file << " rank " << rank;
    EXPECT_EQ(highestFenceRank(file), 4);
  }
  place(chain("4k3/8", "8/4K3/8"));
  EXPECT_EQ(isPawnBlockade(), 1);
}

TEST_F(EvalBlockade, KingsOnTheWrongSide) {
  place(chain("4k3/K7", "8/8/8"));  // White's king on the seventh
  EXPECT_EQ(isPawnBlockade(), 0);
  place("4k3/8/Kp1p1p1p/pPpPpPpP/P1P1P1P1/8/8/8 w - - 0 1");  // on the sixth, above the fence
  EXPECT_EQ(isPawnBlockade(), 0);
  place("8/8/1p1p1p1p/pPpPpPpP/PkP1P1P1/8/8/4K3 w - - 0 1");  // Black's king on the fourth
  EXPECT_EQ(isPawnBlockade(), 0);
  place(chain("8/8", "8/8/k3K3"));
  EXPECT_EQ(isPawnBlockade(), 0);
}

TEST_F(EvalBlockade, BlackKingBelowAHighFence) {
  // Fence on the sixth rank; Black's king on b4 is behind White's pawns and can eat them.
  place("8/1p1p1p1p/pPpPpPpP/P1P1P1P1/1k6/8/8/4K3 w - - 0 1");
  EXPECT_EQ(isPawnBlockade(), 0);
  place("4k3/1p1p1p1p/pPpPpPpP/P1P1P1P1/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(isPawnBlockade(), 1);
}

TEST_F(EvalBlockade, FreePawnBeyondTheFence) {
  // The chain without h-pawns (the fence steps down to g4 and h4) and a free pawn on c7.
  place("2k5/2P5/1p1p1p2/pPpPpPp1/P1P1P1P1/8/8/4K3 w - - 0 1");  // Black's king stops it
  EXPECT_EQ(isPawnBlockade(), 1);
  place("4k3/2P5/1p1p1p2/pPpPpPp1/P1P1P1P1/8/8/4K3 w - - 0 1");
  EXPECT_EQ(isPawnBlockade(), 0);
}

TEST_F(EvalBlockade, FreePawnBelowTheFence) {
  // Without the h-pawns the fence drops from g5 to g4 and h4. A white pawn on h2 can walk to h4
  // and on to h5: no blockade.
  place("4k3/8/1p1p1p2/pPpPpPp1/P1P1P1P1/8/7P/4K3 w - - 0 1");
  EXPECT_EQ(isPawnBlockade(), 0);
  EXPECT_EQ(highestFenceRank(7), 3);
  // A black pawn on h6 will ram it on h5.
  place("4k3/8/1p1p1p1p/pPpPpPp1/P1P1P1P1/8/7P/4K3 w - - 0 1");
  EXPECT_EQ(isPawnBlockade(), 1);
}

TEST_F(EvalBlockade, PiecesOrNoFence) {
  place(chain("4k3/8", "8/8/3NK3"));
  EXPECT_EQ(isPawnBlockade(), 0);
  place("4k3/8/8/p7/P7/8/8/4K3 w - - 0 1");
  EXPECT_EQ(isPawnBlockade(), 0);
}

TEST_F(EvalBlockade, RammedThroughAChain) {
  place("4k3/8/3p4/3P4/3P4/8/8/4K3 w - - 0 1");
  EXPECT_EQ(isRammed(sq("d4")), 1);  // behind its own rammed pawn
  EXPECT_EQ(isRammed(sq("d6")), 1);
  place("4k3/8/3p4/3Pp3/3P4/8/8/4K3 w - - 0 1");
  EXPECT_EQ(isRammed(sq("d4")), 0);  // it can take on e5
  EXPECT_EQ(isRammed(sq("d5")), 1);
}
