// The published lengths of two four-unit tables, one with two like pieces and one with pawns on
// both sides (and so an en-passant part), from every legal position of the class; and mixed
// classes against the class table.
#include "tests/egdb/every_position.h"
#include "tests/egdb/known_lengths.h"
#include "tests/egdb/layout_checks.h"

namespace {

TEST(NalimovLengthsSlow, FourUnitClassesEndAtThePublishedLength) {
  const std::pair<const char*, std::vector<char>> cases[] = {{"kqqk", {'Q', 'Q'}}, {"kpkp", {'P', 'p'}}};
  for (const auto& [name, units] : cases) {
    std::vector<uint32_t> lengths = lengths::lengthsOf(classNumber(name), units);
    EXPECT_EQ(lengths[0], knownLength(name)->length[0]) << name;
    EXPECT_EQ(lengths[1], knownLength(name)->length[1]) << name;
  }
}

// Classes with two kinds of units on one side, a piece with a pawn, and a pawn against a piece:
// no published length, but the engine and the layout decoder of the tests must agree.
TEST(NalimovLengthsSlow, MixedFourUnitClassesAgreeWithTheClassTable) {
  const std::pair<int, std::vector<char>> cases[] = {
      {25, {'B', 'N'}},  // kbnk
      {27, {'R', 'P'}},  // krpk
      {16, {'Q', 'p'}},  // kqkp
      {13, {'R', 'n'}},  // krkn
  };
  for (const auto& [classNumber, units] : cases) {
    std::vector<uint32_t> lengths = lengths::lengthsOf(classNumber, units);
    EXPECT_EQ(lengths[0], tbFileLength(classNumber, 0)) << tbClassName(classNumber);
    EXPECT_EQ(lengths[1], tbFileLength(classNumber, 1)) << tbClassName(classNumber);
  }
}

}  // namespace
