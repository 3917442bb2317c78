// One line typed at the console prompt, through the main loop.
#include <string>

#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.substr(0, line.find('\n'));
  fuzzReset(Protocol::Console);
  fuzzLines(Protocol::Console, line);
  fuzzCheck();
  return 0;
}
