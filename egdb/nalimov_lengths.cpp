// Lengths of correct table files, by class and side to move (white, black). A table ends at its
// last legal position, so a length is the largest index of a legal position + 1; the lengths come
// from the layout of nalimov_index.cpp and agree with every published table length known here.
#include "egdb/egdb.h"

namespace {

constexpr uint32_t FILE_LENGTHS[TB_CLASSES][2] = {
#include "egdb/nalimov_lengths.inc"
};

}  // namespace

uint32_t tbFileLength(int classNumber, int side) {
  if (classNumber <= 0 || classNumber >= TB_CLASSES || side < 0 || side > 1) return 0;
  return FILE_LENGTHS[classNumber][side];
}
