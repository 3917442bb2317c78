// The index functions over arbitrary squares, classes and sides: the answer is either no index
// or an index inside the layout of the class and side.
#include <cstring>

#include "egdb/egdb.h"
#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  fuzzReset(Protocol::Console);
  uint8_t bytes[36] = {};
  std::memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
  const int classNumber = int8_t(bytes[0]) < 0 ? int8_t(bytes[0]) : bytes[0] % (TB_CLASSES + 2);
  const int side = bytes[1] % 4 - (bytes[1] >> 7);
  const int invert = bytes[2] & 1;
  const int ep = int8_t(bytes[3]);
  int first[16], second[16];
  for (int i = 0; i < 16; i++) {
    first[i] = int8_t(bytes[4 + i]);
    second[i] = int8_t(bytes[20 + i]);
  }
  const uint32_t index = indexTB(classNumber, side, first, second, ep, invert);
  fuzzRequire(index == TB_NO_INDEX || index < tbIndexCount(classNumber, side), "index outside the layout");
  fuzzCheck();
  return 0;
}
