// Lengths of correct table files, by class and side to move (white, black). A table ends at its
// last legal position, so a length is the largest index of a legal position + 1. The table is
// written by egdb/tools/write_lengths.cpp from the layout decoder (build target tbtables) and
// agrees with every published table length known here.
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
