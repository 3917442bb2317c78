// The settings file talvek.ini and the reading of command files.
//
// Both are lists of console commands, one a line. Empty lines, lines without a word and lines
// whose first word begins with ';' are skipped; a file line is never taken as a move.
#include <cstdio>

#include "frontend/frontend.h"

// Runs every command line of file through dispatchCommand, first word lower-cased. Unknown
// words are reported only when reportUnknown is set. Uses lineBuffer and tokens.
void runCommandLines(FILE* file, bool reportUnknown) {
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  while (readLine(file)) {
    if (lineBuffer[0] == '\n' || firstWord(typed, lower) == 0 || typed[0] == ';') continue;
    if (!dispatchCommand(lower) && reportUnknown) std::printf("**ERROR**  unknown command: %s\n", typed);
  }
}

// Called through the "init" command while Initialising: only setting commands act, silently,
// and unknown lines are passed over. A missing file leaves the built-in defaults.
void readSettingsFile() {
  FILE* file = std::fopen(SETTINGS_FILE, "r");
  if (file == nullptr) {
    std::fputs("**ERROR**  init(): unable to open talvek.ini\n", stdout);
    std::fputs("Using default settings\n\n", stdout);
    return;
  }
  runCommandLines(file, false);
  std::fclose(file);
}
