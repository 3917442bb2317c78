#include <random>
#include <string>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/egdb/layout_checks.h"
#include "tests/support/support.h"

namespace {

// The layout decoder against every placement of four-man classes: pawns on both sides with the
// en-passant part, a pawn and a piece, and two pieces.
TEST(NalimovLayoutSlow, NamesEveryLegalFourManPositionOnce) {
  resetEngine();
  for (const char* name : {"kpkp", "krpk", "kbnk", "kqkr"})
    expectEveryLegalPositionOnce(name, 5000000);
}

// Every index of four-man classes through the engine's index function and back, both ways up.
TEST(NalimovIndexSlow, GivesBackEveryIndexOfFourManClasses) {
  resetEngine();
  for (const char* name : {"kpkp", "krpk", "kbnk", "kqkr"})
    for (int side = 0; side < 2; side++) {
      int c = classNumber(name), failures = 0;
      for (uint32_t i = 0; i < layoutIndexCount(c, side) && failures < 5; i++) {
        std::string problem = checkIndexRoundTrip(c, side, i);
        if (!problem.empty()) ADD_FAILURE() << problem, failures++;
      }
    }
}

// A large random sample of every five-man class, a quarter of it from the en-passant part where
// the class has one.
TEST(NalimovIndexSlow, GivesBackSampledIndicesOfFiveManClasses) {
  resetEngine();
  std::mt19937_64 random(5);
  for (int c = 1; c < TB_CLASSES; c++) {
    if (std::string(tbClassName(c)).size() != 5) continue;
    for (int side = 0; side < 2; side++) {
      uint64_t count = layoutIndexCount(c, side), epStart = layoutEnPassantStart(c, side);
      int failures = 0;
      for (int n = 0; n < 20000 && failures < 3; n++) {
        uint64_t index = epStart < count && n % 4 == 0 ? epStart + random() % (count - epStart)
                                                       : random() % count;
        std::string problem = checkIndexRoundTrip(c, side, uint32_t(index));
        if (!problem.empty()) ADD_FAILURE() << problem, failures++;
      }
    }
  }
}

}  // namespace
