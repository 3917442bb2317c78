// Talvek: start up, then serve the console or xboard until standard input ends.
#include <cstdlib>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "bench") == 0) {
    resetSettings();
    if (argc > 2) settings.threads = std::atoi(argv[2]);  // "talvek bench 2": on two threads
    runBench();
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "tbgen") == 0) return runTableGenerator(argc - 2, argv + 2);
  startEngine(argc, argv);
  return mainLoop(stdin);
}
