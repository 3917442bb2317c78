// A session of lines from an xboard GUI, through the main loop in xboard mode.
#include <string>

#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  fuzzReset(Protocol::Xboard);
  fuzzLines(Protocol::Xboard, std::string(reinterpret_cast<const char*>(data), size));
  fuzzCheck();
  return 0;
}
