// Talvek: start up, then serve the console or xboard until standard input ends.
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "bench") == 0) {
    resetSettings();
    // "talvek bench 2": on two threads, held to the threads setting's range.
    if (argc > 2) settings.threads = settingInRange(settingRow(&Settings::threads), parseNumber(argv[2]));
    runBench();
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "tbgen") == 0) return runTableGenerator(argc - 2, argv + 2);
  startEngine(argc, argv);
  return mainLoop(stdin);
}
