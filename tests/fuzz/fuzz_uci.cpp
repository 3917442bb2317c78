// A session of lines from a UCI GUI (position ... moves ..., setoption, go), through the UCI loop.
#include <string>

#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  fuzzReset(Protocol::Uci);
  fuzzLines(Protocol::Uci, std::string(reinterpret_cast<const char*>(data), size));
  fuzzCheck();
  return 0;
}
