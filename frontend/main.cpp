// Talvek: start up, then serve the console or xboard until standard input ends.
#include "frontend/frontend.h"

int main(int argc, char** argv) {
  startEngine(argc, argv);
  return mainLoop(stdin);
}
