// A session typed at the console prompt, through the main loop.
#include <string>

#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  fuzzReset(Protocol::Console);
  fuzzLines(Protocol::Console, std::string(reinterpret_cast<const char*>(data), size));
  fuzzCheck();
  return 0;
}
