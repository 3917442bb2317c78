// One record of an EPD test suite, run by the suite runner with a log file.
#include "frontend/frontend.h"
#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  fuzzReset(Protocol::Console);
  fuzzWrite("suite.epd", data, size);
  fuzzGuarded([] { epdTest("suite.epd", 1, 1, "suite.log"); });
  fuzzCheck();
  return 0;
}
