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
  startEngine(argc, argv);
  return mainLoop(stdin);
}
