// Talvek: start up, then serve the console or xboard until standard input ends.
#include <cstdio>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "bench") == 0) {
    resetSettings();
    // "talvek bench 2": on two threads, held to the threads setting's range.
    if (argc > 2) settings.threads = settingInRange(settingRow(&Settings::threads), parseNumber(argv[2]));
    // "talvek bench 2 10": to 10 plies, for benchmarks that compare depths; the signature is at 9
    const int depth = argc > 3 ? parseNumber(argv[3]) : BENCH_DEPTH;
    if (depth < 1 || depth > MAX_SEARCH_DEPTH) {
      std::printf("usage: talvek bench [threads] [depth 1-%d]\n", MAX_SEARCH_DEPTH);
      return 1;
    }
    runBench(depth);
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "tbgen") == 0) return runTableGenerator(argc - 2, argv + 2);
  startEngine(argc, argv);
  return mainLoop(stdin);
}
