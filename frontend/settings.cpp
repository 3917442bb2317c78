// The settings file talvek.ini and command files.
//
// Both are lists of console commands, one a line. Empty lines, lines without a word and lines
// whose first word begins with ';' are skipped; a file line is never taken as a move.
#include <cstdio>

#include "frontend/frontend.h"

int fetchDepth = 0;

namespace {

// The file createini writes: the default settings, 39 lines.
constexpr const char* DEFAULT_SETTINGS =
    "; ===============================================================\n"
    ";    T A L V E K ' s    I N I T I A L I Z A T I O N    F I L E   \n"
    "; ===============================================================\n"
    "\n"
    "\n"
    "hash 16\n"
    "\n"
    "ecache 4\n"
    "\n"
    "nalimovpath c:\\EGTB\n"
    "\n"
    "nalimovcache 16\n"
    "\n"
    "zelt off\n"
    "\n"
    "zeltpath c:\\ZELT\n"
    "\n"
    "zeltcache 16\n"
    "\n"
    "egbbpath c:\\EGBB\n"
    "\n"
    "egbbcache 16\n"
    "\n"
    "resign 900 6\n"
    "\n"
    "abscore on\n"
    "\n"
    "\n"
    "; the following settings are useful only if you want to use Talvek in console mode\n"
    "\n"
    "beep on\n"
    "\n"
    "board on\n"
    "\n"
    "noise 6\n"
    "\n"
    "ponder on\n"
    "\n"
    "post on\n";

}  // namespace

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
  static bool reading = false;  // an "init" line in the file itself does not read it again
  if (reading) return;
  FILE* file = std::fopen(SETTINGS_FILE, "r");
  if (file == nullptr) {
    std::fputs("**ERROR**  init(): unable to open talvek.ini\n", stdout);
    std::fputs("Using default settings\n\n", stdout);
    return;
  }
  reading = true;
  runCommandLines(file, false);
  reading = false;
  std::fclose(file);
}

// Replaces talvek.ini with the default settings; prints nothing unless it cannot.
void createIni() {
  FILE* file = std::fopen(SETTINGS_FILE, "w");
  if (file == nullptr) {
    std::fputs("**ERROR**  createini(): unable open talvek.ini\n", stdout);
    return;
  }
  std::fputs(DEFAULT_SETTINGS, file);
  std::fclose(file);
}

// Runs the commands of a file as if typed, routed by the current mode; an inner "fetch" runs
// its file completely before the outer one goes on. Files fetching one another stop at
// MAX_FETCH_DEPTH levels, so a file that fetches itself ends instead of recursing forever.
void fetchFile(const char* name) {
  if (fetchDepth >= MAX_FETCH_DEPTH) {
    std::printf("**ERROR**  fetch(): command files nested more than %d deep, %s not run\n", MAX_FETCH_DEPTH,
                name);
    return;
  }
  FILE* file = std::fopen(name, "r");
  if (file == nullptr) {
    std::printf("**ERROR**  fetch(): unable to open file %s\n", name);
    return;
  }
  fetchDepth++;
  runCommandLines(file, true);
  fetchDepth--;
  std::fclose(file);
}
