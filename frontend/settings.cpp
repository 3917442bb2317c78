// The settings file talvek.ini and command files.
//
// Both are lists of console commands, one a line. Empty lines, lines without a word and lines
// whose first word begins with ';' are skipped; a file line is never taken as a move.
#include <cstdio>
#include <string>

#include "frontend/frontend.h"

int fetchDepth = 0;

namespace {

constexpr int CONSOLE_PLACE = 12;  // createini's places from here on are the console's settings

// A path as createini writes it: quoted when spaces at its ends or quotes around it would
// otherwise be lost on reading (see pathArgument in commands.cpp).
std::string iniPath(const std::string& path) {
  const bool quote = !path.empty() && (path.front() == ' ' || path.back() == ' ' ||
                                       (path.size() >= 2 && path.front() == '"' && path.back() == '"'));
  return quote ? '"' + path + '"' : path;
}

// Whether a path names the same folder as its start-up value (loading the bitbase library adds
// a final separator to its folder).
bool isStartPath(const std::string& path, const std::string& start) {
  return path == start || (path.size() == start.size() + 1 && path.compare(0, start.size(), start) == 0 &&
                           (path.back() == '/' || path.back() == '\\'));
}

// What createini writes for a setting: a path set since start-up as it is now, so that folders
// and books named at the prompt or by a GUI are kept; every other setting's default.
std::string iniValueOf(const CommandRow& row) {
  if (row.path != nullptr && !isStartPath(settings.*row.path, row.startPath)) return iniPath(settings.*row.path);
  return row.iniValue;
}

// createini's file: a title, the settings in their places, each followed by an empty line, and
// before the console's settings a remark on them. The book, while one is played from, comes
// last before that remark.
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
    if (place == CONSOLE_PLACE) {
      if (settings.ownBook && !settings.bookPath.empty()) text += "book " + iniPath(settings.bookPath) + "\n\n";
      text += "\n; the following settings are useful only if you want to use Talvek in console mode\n\n";
    }
    text += std::string(found->name) + " " + iniValueOf(*found) + "\n\n";
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
  const char* fault = nullptr;
  FILE* file = openUserFile(SETTINGS_FILE, "r", "a settings file", &fault);
  if (file == nullptr) {
    if (fault == nullptr) printNotice("**ERROR**  init(): unable to open %s\n", SETTINGS_FILE);
    else printNotice("**ERROR**  init(): %s %s\n", SETTINGS_FILE, fault);
    std::fputs("Using default settings\n\n", stdout);
    return;
  }
  reading = true;
  fetchDepth++;
  runCommandLines(file, false);
  fetchDepth--;
  reading = false;
  std::fclose(file);
}

// Replaces talvek.ini with the default settings and the paths set now; prints nothing unless
// it cannot.
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
  const char* fault = nullptr;
  FILE* file = openUserFile(name, "r", "a command file", &fault);
  if (file == nullptr) {
    if (fault == nullptr) printNotice("**ERROR**  fetch(): unable to open file %s\n", name);
    else printNotice("**ERROR**  fetch(): %s %s\n", name, fault);
    return;
  }
  fetchDepth++;
  runCommandLines(file, true);
  fetchDepth--;
  std::fclose(file);
}
