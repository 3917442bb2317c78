// The settings file talvek.ini and command files.
//
// Both are lists of console commands, one a line. Empty lines, lines without a word and lines
// whose first word begins with ';' are skipped; a file line is never taken as a move.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "frontend/frontend.h"

int fetchDepth = 0;

bool isDeviceFile(FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 && (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode));
}

namespace {

constexpr int CONSOLE_PLACE = 12;  // createini's places from here on are the console's settings

// createini's file: a title, the settings in their places, each followed by an empty line, and
// before the console's settings a remark on them.
std::string defaultSettings() {
  std::string text =
      "; ===============================================================\n"
      ";    T A L V E K ' s    I N I T I A L I Z A T I O N    F I L E   \n"
      "; ===============================================================\n\n\n";
  for (int place = 1;; place++) {
    const CommandRow* found = nullptr;
    for (int i = 0; i < COMMAND_ROW_COUNT; i++)
      if (COMMAND_ROWS[i].iniPlace == place) found = &COMMAND_ROWS[i];
    if (found == nullptr) break;
    if (place == CONSOLE_PLACE)
      text += "\n; the following settings are useful only if you want to use Talvek in console mode\n\n";
    text += std::string(found->name) + " " + found->iniValue + "\n\n";
  }
  text.pop_back();  // the last setting ends the file
  return text;
}

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
// and unknown lines are passed over. A missing file leaves the built-in defaults. An "init"
// line inside the file would read the file again from inside itself, without end: it is
// refused, and the file counts as one level of command-file nesting.
void readSettingsFile() {
  static bool reading = false;
  if (reading || fetchDepth >= MAX_FETCH_DEPTH) {
    std::printf("**ERROR**  init(): %s is already being read; init inside it ignored\n", SETTINGS_FILE);
    return;
  }
  FILE* file = std::fopen(SETTINGS_FILE, "r");
  if (file == nullptr) {
    std::fputs("**ERROR**  init(): unable to open talvek.ini\n", stdout);
    std::fputs("Using default settings\n\n", stdout);
    return;
  }
  if (isDeviceFile(file)) {
    std::fputs("**ERROR**  init(): talvek.ini is a device, not a settings file\n", stdout);
    std::fputs("Using default settings\n\n", stdout);
    std::fclose(file);
    return;
  }
  reading = true;
  fetchDepth++;
  runCommandLines(file, false);
  fetchDepth--;
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
  std::fputs(defaultSettings().c_str(), file);
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
  if (isDeviceFile(file)) {
    std::printf("**ERROR**  fetch(): %s is a device, not a command file\n", name);
    std::fclose(file);
    return;
  }
  fetchDepth++;
  runCommandLines(file, true);
  fetchDepth--;
  std::fclose(file);
}
