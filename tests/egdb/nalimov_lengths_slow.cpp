// The published lengths of two four-unit tables, one with two like pieces and one with pawns on
// both sides (and so an en-passant part), from every legal position of the class; and mixed
// classes against the class table.
#include "tests/egdb/every_position.h"

namespace {

TEST(NalimovLengthsSlow, FourUnitClassesEndAtThePublishedLength) {
  struct Case {
    int classNumber;
    std::vector<char> units;
    uint32_t white, black;
  };
  const Case cases[] = {
      {35, {'Q', 'Q'}, 698739, 873642},   // kqqk
      {6, {'P', 'p'}, 3863492, 3863492},  // kpkp
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> lengths = lengths::lengthsOf(c.classNumber, c.units);
    EXPECT_EQ(lengths[0], c.white) << tbClassName(c.classNumber);
    EXPECT_EQ(lengths[1], c.black) << tbClassName(c.classNumber);
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
