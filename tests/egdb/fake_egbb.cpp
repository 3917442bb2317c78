// A stand-in for the Shawul bitbase library, built by the tests: it answers from a simple rule
// and records the arguments of its calls for the tests to read. Like a real library that opens
// its files when they are first needed, it keeps the folder pointer it was loaded with and reads
// the folder text again at every probe.
#include <cstring>

namespace {
char loadedPath[256];
const char* keptPath = nullptr;  // the pointer the engine handed over
char pathAtProbe[256];
int loadedCache = -1;
int loadCalls = 0;
int lastProbe[9];
}  // namespace

extern "C" {

int load_egbb_5men(char* path, int cacheBytes, int options) {
  std::strncpy(loadedPath, path, sizeof loadedPath - 1);
  keptPath = path;
  loadedCache = cacheBytes;
  loadCalls += options == 1;
  return 1;
}

// A white or black queen wins for its side; a position with only the kings is a draw; anything
// else is not in the bitbase.
int probe_egbb_5men(int side, int whiteKing, int blackKing, int piece1, int square1, int piece2,
                    int square2, int piece3, int square3) {
  int args[9] = {side, whiteKing, blackKing, piece1, square1, piece2, square2, piece3, square3};
  std::memcpy(lastProbe, args, sizeof args);
  if (keptPath) std::strncpy(pathAtProbe, keptPath, sizeof pathAtProbe - 1);
  if (piece1 == 0) return 0;
  if (piece2 != 0) return 99999;
  if (piece1 == 2) return side == 0 ? 1500 : -1500;
  if (piece1 == 8) return side == 1 ? 1500 : -1500;
  return 99999;
}

// Test hooks: what the engine passed.
const char* fake_egbb_path() { return loadedPath; }
const char* fake_egbb_path_at_probe() { return pathAtProbe; }
int fake_egbb_cache() { return loadedCache; }
int fake_egbb_load_calls() { return loadCalls; }
const int* fake_egbb_last_probe() { return lastProbe; }
}
