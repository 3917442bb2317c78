// A settings file read at start-up, while the engine initialises.
#include <string>

#include "board/board.h"
#include "frontend/frontend.h"
#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  fuzzReset(Protocol::Console);
  fuzzWrite(SETTINGS_FILE, data, size);
  engineState = STATE_INITIALISING;
  fuzzGuarded([] { runCommandLine("init"); });
  fuzzRequire(settings.hash >= 1 && settings.ecache >= 1, "a table size below 1 MB");
  for (const std::string* path : {&settings.nalimovPath, &settings.egbbPath, &settings.zeltPath, &settings.bookPath})
    fuzzRequire(path->find_first_of("\r\n") == std::string::npos, "a path setting holding a line end");
  fuzzCheck();
  return 0;
}
