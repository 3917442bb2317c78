#include <random>

#include <gtest/gtest.h>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

constexpr int KRPK = 27;

// A four-man class with a pawn, end to end: retrograde tables (with the four promoted classes
// they depend on) written compressed, registered, and probed through setBoard for a large
// random sample of legal positions, with the rook side as White and as Black.
TEST(EndgameDatabasesSlow, ProbesAFourManClassWithAPawn) {
  resetEngine();
  Solver solver("krpk");
  TempFolder folder;
  writeClassFiles(folder, KRPK, solver, true);
  EXPECT_EQ(captureOutput([&] { initNalimov(folder.path().c_str(), 4 << 20); }),
            "4-men Nalimov tablebases found\nEGTB cache:  4096 KB\n");
  std::mt19937 random(99);
  int checked = 0, failures = 0;
  std::string printed = captureOutput([&] {
    while (checked < 200000 && failures < 5) {
      int side = int(random() % 2), wk = int(random() % 64), bk = int(random() % 64);
      int rook = int(random() % 64), pawn = 8 + int(random() % 48);
      SolvedValue value = solver.value(wk, bk, {pawn, rook}, side);
      if (value.state == SOLVED_ILLEGAL) continue;
      TbPosition p{side, {wk, bk}, {{PAWN * 64 + pawn, ROOK * 64 + rook}, {}}, -1};
      bool flip = checked % 2;
      std::string fen = fenOf(p, flip);
      int score = 0;
      int expected = value.state == SOLVED_WIN ? 32767 - value.plies
                     : value.state == SOLVED_LOSS ? -32767 + value.plies : 0;
      if (setBoard(fen.c_str()) != 0 || probeNalimov(&score) != 1 || score != expected) {
        ADD_FAILURE() << fen << ": score " << score << ", expected " << expected;
        failures++;
      }
      checked++;
    }
  });
  EXPECT_EQ(printed.find("ERROR"), std::string::npos);
  EXPECT_EQ(checked, 200000);
  captureOutput([] { initNalimov("", 0); });
}

}  // namespace
