// The length of every table file, held against figures from outside the engine: a table ends at
// its last legal position, so the largest index any legal position gets is the file length - 1.
// The committed table of lengths (tbFileLength), the layout decoder (layoutFileLength) and the
// index functions over every legal position (every_position.h) must all give the known figures.
// (The four-unit classes take a few seconds and run with the slow tests.)
//
// The three-man figures without a published length, worked out by hand from the layout. A
// class without pawns numbers 462 king pairs, the side to move's king in the triangle a1-d1-d4;
// the last pair is that king on d4 and the other on h8.
// - Black to move: the White unit stands on any of the 62 squares the kings leave, and none of
//   these positions is illegal (White, not to move, cannot be in check), so every such class
//   ends at 462 x 62 = 28644, as the published kqk.nbb does.
// - White to move: the unit leaves out the squares from which it would attack the other king at
//   once. Over the 462 pairs these add up to 1401 squares for the bishop (the other king's
//   diagonal neighbours), 1608 for the rook (its orthogonal ones), 3009 = 1401 + 1608 for the
//   queen and 2362 for the knight (its jumps, the own king's square not counted twice), which
//   leaves 27243, 27036, 25635 and 26282 indices. The file ends at the last legal square of the
//   last pair: the knight's and the bishop's last square g8 does not attack h8, so knk and kbk
//   end there; a rook or a queen on a8-f8 attacks h8 along the rank, so krk ends six squares
//   early at 27030 and kqk at 25629, the published length, which the same count gives.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/egdb/every_position.h"
#include "tests/egdb/known_lengths.h"
#include "tests/egdb/layout_checks.h"

namespace {

TEST(NalimovLengths, CommittedTableAndLayoutGiveTheKnownLengths) {
  for (const KnownLength& known : KNOWN_LENGTHS)
    for (int side = 0; side < 2; side++) {
      const int c = classNumber(known.name);
      ASSERT_NE(c, 0) << known.name;
      EXPECT_EQ(tbFileLength(c, side), known.length[side]) << known.name << " side " << side;
      EXPECT_EQ(layoutFileLength(c, side), known.length[side]) << known.name << " side " << side;
    }
}

// Every legal position of the three-man classes through the index functions, both ways up.
TEST(NalimovLengths, ThreeUnitClassesEndAtTheKnownLength) {
  for (const char* name : {"kpk", "knk", "kbk", "krk", "kqk"}) {
    const std::vector<uint32_t> lengths = lengths::lengthsOf(classNumber(name), {char(name[1] - 32)});
    EXPECT_EQ(lengths[0], knownLength(name)->length[0]) << name;
    EXPECT_EQ(lengths[1], knownLength(name)->length[1]) << name;
  }
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The committed table of file lengths is what its generator (the build target tbtables) writes
// from the layout decoder, for every class.
TEST(NalimovLengths, CommittedTableEqualsTheGeneratorsOutput) {
  for (int c = 1; c < TB_CLASSES; c++)
    for (int side = 0; side < 2; side++)
      EXPECT_EQ(tbFileLength(c, side), layoutFileLength(c, side)) << tbClassName(c) << " " << side;
  char name[] = "/tmp/talvek-lengths-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(std::system((std::string(TALVEK_LENGTHS_WRITER) + " " + name).c_str()), 0);
  std::string written = fileText(name);
  std::remove(name);
  EXPECT_GT(written.size(), 5000u);
  EXPECT_EQ(written, fileText(std::string(TALVEK_SOURCE_DIR) + "/egdb/nalimov_lengths.inc"));
}

}  // namespace
