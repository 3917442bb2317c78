// The index functions against the published lengths of real table files: a table ends at its
// last legal position, so the largest index any legal position gets must be the file length - 1.
// (The four-unit classes take a few seconds and run with the slow tests.)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/egdb/every_position.h"

namespace {

struct LengthCase {
  int classNumber;
  std::vector<char> units;  // 'Q' 'P' White's, 'q' 'p' Black's
  uint32_t white, black;    // published lengths with White and with Black to move
};

void expectLengths(const LengthCase& c) {
  std::vector<uint32_t> lengths = lengths::lengthsOf(c.classNumber, c.units);
  EXPECT_EQ(lengths[0], c.white) << tbClassName(c.classNumber);
  EXPECT_EQ(lengths[1], c.black) << tbClassName(c.classNumber);
  EXPECT_EQ(tbFileLength(c.classNumber, 0), c.white);
  EXPECT_EQ(tbFileLength(c.classNumber, 1), c.black);
}

TEST(NalimovLengths, ThreeUnitClassesEndAtThePublishedLength) {
  expectLengths({5, {'Q'}, 25629, 28644});   // kqk
  expectLengths({1, {'P'}, 81664, 84012});   // kpk
  // No published length: the class table's lengths (from the layout decoder) must agree.
  for (int c : {2, 3, 4})  // knk kbk krk
    expectLengths({c, {"NBR"[c - 2]}, tbFileLength(c, 0), tbFileLength(c, 1)});
}

}  // namespace

namespace {

int square(const char* name) { return (name[1] - '1') * 8 + (name[0] - 'a'); }

// The seven kppkp positions (Black to move) that the published tables store wrongly, by their
// published indices: Black's b-pawn and king boxed in on the queen's side, White's two pawns
// running on the king's side. Their indices pin down the pawn layout with Black to move.
TEST(NalimovLengths, CorrectedKppkpPositionsHaveTheirPublishedIndices) {
  struct Case {
    const char *whiteKing, *pawn1, *pawn2, *blackKing, *blackPawn;
    uint32_t index;
  };
  const Case cases[] = {
      {"c3", "f6", "f5", "a3", "b7", 56802428}, {"c3", "f6", "f5", "a3", "b6", 56811076},
      {"d3", "f6", "f5", "a3", "b7", 56849992}, {"d3", "f6", "f5", "a3", "b6", 56858640},
      {"d3", "e6", "f5", "b3", "b5", 59592489}, {"c3", "e6", "f5", "a2", "b5", 67775659},
      {"d1", "e6", "f5", "b2", "b5", 71071628},
  };
  for (const Case& c : cases) {
    int white[TB_BLOCK_SIZE] = {}, black[TB_BLOCK_SIZE] = {};
    white[0] = square(c.pawn1);
    white[1] = square(c.pawn2);
    white[15] = square(c.whiteKing);
    black[0] = square(c.blackPawn);
    black[15] = square(c.blackKing);
    EXPECT_EQ(indexTB(36, 1, white, black, TB_NO_EP, 0), c.index) << c.whiteKing << c.blackKing;
    // The same position with colours exchanged: Black holds the two pawns, White is to move.
    int flippedWhite[TB_BLOCK_SIZE] = {}, flippedBlack[TB_BLOCK_SIZE] = {};
    for (int i = 0; i < TB_BLOCK_SIZE; i++) {
      flippedBlack[i] = white[i] ^ 56;
      flippedWhite[i] = black[i] ^ 56;
    }
    EXPECT_EQ(indexTB(36, 1, flippedBlack, flippedWhite, TB_NO_EP, 1), c.index);
  }
}

}  // namespace

namespace {

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The committed table of file lengths is what its generator (the build target tbtables) writes.
TEST(NalimovLengths, CommittedTableEqualsTheGeneratorsOutput) {
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
