// Writes egdb/nalimov_lengths.inc, the length of a correct table file of every class and side to
// move, from the layout decoder (the largest index of a legal position + 1). Built with the engine;
// `cmake --build build --target tbtables` writes the file into the source tree, and a fast test
// checks that the committed file equals this program's output.
//   talvek_write_lengths <file>     (no file: standard output)
#include <cstdio>

#include "egdb/egdb.h"

int main(int argc, char** argv) {
  FILE* out = argc > 1 ? std::fopen(argv[1], "w") : stdout;
  if (!out) {
    std::fprintf(stderr, "**ERROR**  main() : cannot write %s\n", argv[1]);
    return 1;
  }
  std::fprintf(out, "// Written by talvek_write_lengths (egdb/tools/write_lengths.cpp).\n");
  for (int c = 0; c < TB_CLASSES; c++)
    std::fprintf(out, "    {%u, %u},  // %d %s\n", layoutFileLength(c, 0), layoutFileLength(c, 1), c,
                 c ? tbClassName(c) : "kk");
  return out == stdout || std::fclose(out) == 0 ? 0 : 1;
}
