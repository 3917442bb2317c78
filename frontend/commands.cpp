// The console command language and the user settings: one table, COMMAND_ROWS, in the order of
// the help text. A row is a console command with its handler, or a setting: one field of
// `settings` with its range and start-up value, from which the console command and its
// confirmation, the help line, the line of the default settings file (settings.cpp) and the UCI
// option with its setoption (uci.cpp) are all made.
//
// A typed word names a command when it equals the command's name or abbreviates it: the tools
// and game commands (group A) are tried first, in table order, then the settings (group B), so
// "h" is help and "ha" the setting that begins so. Group A is passed over while the engine
// initialises, so the settings file can only change settings. Handlers read their arguments
// from tokens/tokenCount, word 0 being the command itself.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"

namespace {

bool initialising() { return engineState == STATE_INITIALISING; }

// The usage line: a setting's name and parameters unless the row gives its own text.
void printUsage(const CommandRow& row) {
  if (row.usage != nullptr) std::printf("usage: %s\n", row.usage);
  else if (row.kind != ROW_COMMAND) std::printf("usage: %s %s\n", row.name, row.parameters);
}

int clampToInt(long long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < -INT_MAX) return -INT_MAX;
  return int(value);
}

// ----- what applies a change ------------------------------------------------

// Start-up sets up the tables and databases through these too (applySetting), so that a size
// or path read from the settings file acts exactly as the same line typed later.
void resizeTT() {
  freeTT();
  initTT(settingBytes(&Settings::hash));
}

void resizeECache() {
  freeECache();
  initECache(settingBytes(&Settings::ecache));
}

void reloadNalimov() { initNalimov(settings.nalimovPath.c_str(), settingBytes(&Settings::nalimovCache)); }

void reloadEgbb() { egbbAvailable = loadEgbb(settings.egbbPath.c_str(), settingBytes(&Settings::egbbCache)); }

// The Gaviota tables are opened again with the mode, folders and cache set (closed when off).
void reloadZelt() { initZelt(settings.zelt, settings.zeltPath.c_str(), settingBytes(&Settings::zeltCache)); }

// The argument of a command that names one file or folder: the rest of lineBuffer after the
// command word, so that it may hold spaces, without the spaces around it and without one pair of
// double quotes around the whole (which keep spaces at its ends; createini writes them so).
std::string pathArgument() {
  const char* text = lineBuffer;
  while (*text == ' ') text++;
  while (*text != ' ' && *text != '\0' && *text != '\n') text++;
  while (*text == ' ') text++;
  std::string path(text, std::strcspn(text, "\r\n"));  // a path ends at its line's end
  while (!path.empty() && std::isspace(static_cast<unsigned char>(path.back()))) path.pop_back();
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
  return path;
}

// Between searches the pool follows at once; a change made during a search waits for the next.
void resizeThreads() { resizeSearchThreads(settings.threads); }

// ----- the console form of the settings ----------------------------------------

// Word 1 must be exactly "on" or "off"; anything else prints the usage line and returns false.
bool readSwitch(const CommandRow& row, int* value) {
  if (std::strcmp(tokens[1], "on") == 0) {
    *value = 1;
  } else if (std::strcmp(tokens[1], "off") == 0) {
    *value = 0;
  } else {
    printUsage(row);
    return false;
  }
  return true;
}

// Sets the row's setting from the words of the line and confirms it, except while the settings
// file is read (then the tables are set up by start-up afterwards). A size below 1 MB is taken as
// 1; one beyond the table limit is held to it, one beyond a smaller limit (the bitbase
// library's) refused. A path is the rest of the line, of any length (pathArgument).
void consoleSetting(const CommandRow& row, const char*) {
  static int none = 0;
  int& value = row.value != nullptr ? settings.*row.value : none;
  switch (row.kind) {
    case ROW_SWITCH:
    case ROW_CHOICE:
      if (!readSwitch(row, &value)) return;
      if (!initialising() && row.confirm != nullptr) std::printf(row.confirm, value ? row.onWord : row.offWord);
      break;
    case ROW_NUMBER:
      value = settingInRange(row, parseNumber(tokens[1]));
      if (!initialising() && row.confirm != nullptr) std::printf(row.confirm, value);
      break;
    case ROW_SIZE:
      if (row.high < MAX_TABLE_MB && parseNumber(tokens[1]) > row.high) {
        std::printf("usage: %s %s (1 to %d)\n", row.name, row.parameters, row.high);
        return;
      }
      value = settingInRange(row, parseNumber(tokens[1]));
      break;
    case ROW_PATH:
      settings.*row.path = pathArgument();
      break;
    default:
      return;
  }
  if (!initialising() && row.apply != nullptr) row.apply();
}

// Alone it shows the board, except while the settings file is read, when there is none yet.
void consoleBoard(const CommandRow& row, const char* word) {
  if (tokenCount >= 2) {
    consoleSetting(row, word);
  } else if (initialising()) {
    printUsage(row);
  } else {
    printBoard();
  }
}

// book <file> plays from the book in file (once the engine has started); book off plays without.
void consoleBook(const CommandRow& row, const char*) {
  const std::string path = pathArgument();
  if (path == "off") {
    settings.ownBook = 0;
  } else {
    settings.bookPath = path;
    settings.ownBook = 1;
  }
  if (initialising()) return;
  row.apply();
  if (bookEntryCount() > 0)
    std::printf("book: %s, %llu entries\n", settings.bookPath.c_str(), (unsigned long long)bookEntryCount());
  else if (!settings.ownBook) std::fputs("book: off\n", stdout);
}

// The threshold is kept positive; the count is the next row's setting.
void consoleResign(const CommandRow&, const char*) {
  settings.resignThreshold = std::abs(parseNumber(tokens[1]));
  settings.resignCount = parseNumber(tokens[2]);
  if (!initialising())
    std::printf("resign if score < -%d for %d times\n", settings.resignThreshold, settings.resignCount);
}

// ----- group A ------------------------------------------------------------------

void commandCreateini(const CommandRow&, const char*) { createIni(); }

void commandFetch(const CommandRow&, const char*) { fetchFile(pathArgument().c_str()); }

void commandEpdtest(const CommandRow&, const char*) {
  epdTest(tokens[1], parseNumber(tokens[2]), parseNumber(tokens[3]), tokens[4]);
}

void commandGo(const CommandRow&, const char*) { engineSide = sideToMove; }

void commandFen(const CommandRow&, const char*) {
  char fen[FEN_BUFFER];
  getFEN(fen);
  std::printf("FEN: %s\n", fen);
}

// Each row: the name in 11 columns (a longer name and one space), the parameters up to
// column 30, the description.
void commandHelp(const CommandRow&, const char*) {
  setColour(15);
  std::fputs("\n\n                             =====================", stdout);
  std::fputs("\n                                    H E L P       ", stdout);
  std::fputs("\n                             =====================\n\n\n", stdout);
  resetColour();
  std::fputs("COMMAND    PARAMETERS         DESCRIPTION\n", stdout);
  std::fputs("-------    ----------         -----------\n", stdout);
  for (int i = 0; i < COMMAND_ROW_COUNT; i++) {
    const CommandRow& row = COMMAND_ROWS[i];
    if (row.help == nullptr) continue;
    char left[32];
    int width = std::snprintf(left, sizeof left, std::strlen(row.name) < 11 ? "%-11s" : "%s ", row.name);
    std::printf("%s%-*s%s\n", left, 30 - width, row.parameters, row.help);
  }
  std::fputs("\n\n", stdout);
}

// The legal moves of the current ply in generation order, five to a line. They are copied
// out first because moveToSAN regenerates the ply's list.
void commandLmoves(const CommandRow&, const char*) {
  genPlyMoves();
  const PlyRecord& record = plyStack[ply];
  Move legalMoves[MAX_MOVES];
  int count = 0;
  for (int i = 0; i < record.moveCount; i++)
    if (legal(record.moves[i])) legalMoves[count++] = record.moves[i];
  for (int i = 0; i < count; i++) {
    std::printf("%2d. %-7s", i + 1, moveToSAN(legalMoves[i]));
    std::fputs((i + 1) % 5 == 0 ? "\n" : "      ", stdout);
  }
  if (count % 5 != 0) std::fputs("\n", stdout);
}

void commandNewgame(const CommandRow&, const char*) { newGame(); }

// Thinks on the position as if the engine were to move, showing its lines (post on meanwhile)
// until a line is typed; the line then runs as usual.
void commandAnalyze(const CommandRow&, const char*) {
  const int post = settings.post;
  settings.post = 1;
  analyseTurn();
  settings.post = post;
}

// Depths beyond the search stack are refused with the usage line.
void commandPerft(const CommandRow& row, const char*) {
  int depth = parseNumber(tokens[1]);
  if (depth < 1 || depth >= MAX_PLY - ply) {
    printUsage(row);
    return;
  }
  perft(depth);
}

void commandQuit(const CommandRow&, const char*) { quitEngine(); }

// The FEN is the rest of the line after the space that ends the command word.
void commandSetboard(const CommandRow&, const char*) {
  const char* text = lineBuffer;
  while (*text == ' ') text++;
  text = std::strchr(text, ' ');
  if (text == nullptr) return;
  if (setBoard(text + 1) != 0) {
    std::fputs("Errors found in the FEN. Setting the start position\n", stdout);
    setBoard(START_FEN);
  }
}

void commandSpeedtest(const CommandRow&, const char*) { speedTest(); }

// Compares the Nalimov tables with Gaviota's, on every position or on a sample of that many.
void commandTbcheck(const CommandRow&, const char*) {
  checkTablesAgainstZelt(uint32_t(std::max(0, parseNumber(tokens[1]))));
}

// Moves, minutes and the increment in seconds; a negative one prints the usage line.
void commandTc(const CommandRow& row, const char*) {
  int moves = parseNumber(tokens[1]);
  int minutes = parseNumber(tokens[2]);
  int seconds = parseNumber(tokens[3]);
  if (moves < 0 || minutes < 0 || seconds < 0) {
    printUsage(row);
    return;
  }
  startControl(moves, clampToInt(minutes * 60000LL), clampToInt(seconds * 1000LL));
  std::fputs("time control: ", stdout);
  if (moves != 0)
    std::printf("%d moves ", moves);
  else
    std::fputs("game ", stdout);
  std::printf("in %d minutes", minutes);
  if (seconds != 0) std::printf(" + %d seconds per move", seconds);
  std::fputs("\n", stdout);
}

// The switch to UCI is for good: the UCI loop serves standard input until it ends. Pondering
// is the GUI's to allow (its Ponder option, announced off).
void commandUci(const CommandRow&, const char*) {
  uciMode = 1;
  consoleMode = 0;
  settings.ponder = 0;
  std::fputs("\n", stdout);
  printUciIdentification();
  uciLoop(stdin);
}

void commandXboard(const CommandRow&, const char*) {
  xboardMode = 1;
  consoleMode = 0;
  std::fputs("\n", stdout);
}

// Only the first word, without its '!', reaches the shell; its result is ignored.
void commandShell(const CommandRow&, const char* word) {
  if (std::system(word + 1) == -1) return;
}

void commandInit(const CommandRow&, const char*) { readSettingsFile(); }

// ZELT: off, Gaviota's distances to mate, or its win/draw/loss alone.
constexpr Choice ZELT_CHOICES[] = {{"Disabled", ZELT_OFF}, {"Bitbases", ZELT_BITBASES}, {"Tablebases", ZELT_TABLEBASES}};

constexpr int EXTENSION_MAX = 4;  // quarter plies: one ply
constexpr int MAX_MOVE_OVERHEAD = 5000;  // ms

}  // namespace

// The commands and settings in the help's order. The UCI option list and the default settings
// file have orders of their own (uciPlace, iniPlace).
const CommandRow COMMAND_ROWS[] = {
    {.name = "abscore", .kind = ROW_SWITCH, .parameters = "<on|off>",
     .help = "shows the score for white(on) or for talvek(off)", .handler = consoleSetting,
     .value = &Settings::abscore, .start = 1, .confirm = "score always for white: %s\n", .iniValue = "on",
     .iniPlace = 11},
    {.name = "analyze", .group = GROUP_A, .minWords = 1, .help = "thinks on the current position until you type a line",
     .handler = commandAnalyze, .timing = ENDS, .shortest = 2},
    {.name = "beep", .kind = ROW_SWITCH, .parameters = "<on|off>", .help = "sets on/off beep after every talvek's move",
     .handler = consoleSetting, .value = &Settings::beep, .start = 1, .confirm = "beep after move: %s\n",
     .iniValue = "on", .iniPlace = 12},
    {.name = "board", .kind = ROW_SWITCH, .minWords = 1, .parameters = "<on|off>",
     .help = "sets on/off board display after every move", .handler = consoleBoard, .value = &Settings::showBoard,
     .start = 1, .confirm = "auto display board after move: %s\n", .iniValue = "on", .iniPlace = 13},
    {.name = "book", .kind = ROW_PATH, .parameters = "<file|off>",
     .help = "plays from a Polyglot opening book, or not (off)", .handler = consoleBook, .path = &Settings::bookPath,
     .apply = reopenBook, .uciName = "Book File", .uciPlace = 18},
    {.name = "createini", .group = GROUP_A, .minWords = 1, .help = "writes to talvek.ini default settings",
     .handler = commandCreateini},
    {.name = "ecache", .kind = ROW_SIZE, .parameters = "<size>", .help = "sets the eval cache size in megabytes (min 1)",
     .handler = consoleSetting, .value = &Settings::ecache, .high = MAX_TABLE_MB, .start = 4, .apply = resizeECache,
     .iniValue = "4", .iniPlace = 2, .uciName = "Evaluation Cache", .uciPlace = 12},
    {.name = "egbbcache", .kind = ROW_SIZE, .parameters = "<size>", .help = "sets the size for Shawul EGBB cache",
     .handler = consoleSetting, .value = &Settings::egbbCache, .high = EGBB_MAX_CACHE_MB, .start = 16,
     .apply = reloadEgbb, .iniValue = "16", .iniPlace = 9, .uciName = "Shawul EGBB Cache", .uciPlace = 11},
    {.name = "egbbpath", .kind = ROW_PATH, .parameters = "<path>", .help = "sets the path for Shawul EGBB",
     .handler = consoleSetting, .path = &Settings::egbbPath, .startPath = "c:\\EGBB", .apply = reloadEgbb,
     .iniValue = "c:\\EGBB", .iniPlace = 8, .uciName = "Shawul EGBB Path", .uciPlace = 10},
    {.name = "epdtest", .group = GROUP_A, .minWords = 4, .parameters = "<e> <s> <i> [<l>]",
     .usage = "epdtest <epd_file> <secs> <iters> [<log_file>]", .help = "runs an EPD testsuite file, s secs per position",
     .handler = commandEpdtest},
    {.name = "fen", .group = GROUP_A, .minWords = 1, .help = "shows the FEN of the current position",
     .handler = commandFen},
    {.name = "fetch", .group = GROUP_A, .parameters = "<file>", .usage = "fetch <file>",
     .help = "executes commands from a file", .handler = commandFetch},
    {.name = "zelt", .kind = ROW_CHOICE, .parameters = "<on|off>", .help = "enables/disables ZELT probes (instead of Nalimov",
     .handler = consoleSetting, .value = &Settings::zelt, .confirm = "ZELT access: %s\n", .onWord = "enabled",
     .offWord = "disabled", .choices = ZELT_CHOICES, .choiceCount = 3, .apply = reloadZelt, .iniValue = "off", .iniPlace = 5,
     .uciName = "ZELT", .uciPlace = 7},
    {.name = "zeltcache", .kind = ROW_SIZE, .parameters = "<size>", .help = "sets size for ZELT cache",
     .handler = consoleSetting, .value = &Settings::zeltCache, .high = MAX_TABLE_MB, .apply = reloadZelt, .iniValue = "16",
     .iniPlace = 7,
     .uciName = "ZELT Cache", .uciPlace = 9},
    {.name = "zeltpath", .kind = ROW_PATH, .parameters = "<path>", .help = "sets the path for ZELT",
     .handler = consoleSetting, .path = &Settings::zeltPath, .apply = reloadZelt, .iniValue = "c:\\ZELT", .iniPlace = 6,
     .uciName = "ZELT Path", .uciPlace = 8},
    {.name = "go", .group = GROUP_A, .minWords = 1, .help = "talvek starts playing", .handler = commandGo},
    {.name = "hash", .kind = ROW_SIZE, .parameters = "<size>", .help = "sets the hashtable size in megabytes (min 1)",
     .handler = consoleSetting, .value = &Settings::hash, .high = MAX_TABLE_MB, .start = 16, .apply = resizeTT,
     .iniValue = "16", .iniPlace = 1, .uciName = "Hash", .uciPlace = 1},
    {.name = "help", .group = GROUP_A, .minWords = 1, .help = "shows this list of commands", .handler = commandHelp},
    {.name = "lmoves", .group = GROUP_A, .minWords = 1, .help = "shows the legal moves for the current position",
     .handler = commandLmoves},
    {.name = "nalimovcache", .kind = ROW_SIZE, .parameters = "<size>", .help = "sets size for Nalimov EGTB cache",
     .handler = consoleSetting, .value = &Settings::nalimovCache, .high = MAX_TABLE_MB, .start = 16,
     .apply = reloadNalimov, .iniValue = "16", .iniPlace = 4, .uciName = "NalimovCache", .uciPlace = 3},
    {.name = "nalimovpath", .kind = ROW_PATH, .parameters = "<path>", .help = "sets the path for Nalimov EGTB",
     .handler = consoleSetting, .path = &Settings::nalimovPath, .startPath = "c:\\EGTB", .apply = reloadNalimov,
     .iniValue = "c:\\EGTB", .iniPlace = 3, .uciName = "NalimovPath", .uciPlace = 2},
    {.name = "newgame", .group = GROUP_A, .minWords = 1, .help = "starts a new game", .handler = commandNewgame,
     .timing = ENDS},
    {.name = "noise", .kind = ROW_NUMBER, .parameters = "<depth>", .help = "sets depth to reach in order to show thinking",
     .handler = consoleSetting, .value = &Settings::noise, .low = -INT_MAX, .high = INT_MAX, .start = 6,
     .confirm = "show thinking from depth: %d\n", .iniValue = "6", .iniPlace = 14},
    {.name = "overhead", .kind = ROW_NUMBER, .parameters = "<ms>",
     .help = "sets the ms kept back on every move for a slow GUI", .handler = consoleSetting,
     .value = &Settings::moveOverhead, .high = MAX_MOVE_OVERHEAD, .confirm = "move overhead: %d ms\n",
     .uciName = "Move Overhead", .uciPlace = 21},
    {.name = "perft", .group = GROUP_A, .parameters = "<depth>", .usage = "perft <depth>",
     .help = "tests the move generation on the current position", .handler = commandPerft},
    {.name = "ponder", .kind = ROW_SWITCH, .parameters = "<on|off>", .help = "sets on/off pondering",
     .handler = consoleSetting, .value = &Settings::ponder, .start = 1, .confirm = "pondering: %s\n", .iniValue = "on",
     .iniPlace = 15, .uciName = "Ponder", .uciPlace = 4},
    {.name = "post", .kind = ROW_SWITCH, .parameters = "<on|off>", .help = "sets on/off post thinking",
     .handler = consoleSetting, .value = &Settings::post, .start = 1, .confirm = "post thinking: %s\n",
     .iniValue = "on", .iniPlace = 16},
    {.name = "quit", .group = GROUP_A, .minWords = 1, .help = "leave talvek", .handler = commandQuit, .timing = QUITS},
    {.name = "resign", .kind = ROW_NUMBER, .minWords = 3, .parameters = "<t> <c>", .usage = "resign <threshold> <count>",
     .help = "sets threshold(centipawns) and count for resign", .handler = consoleResign,
     .value = &Settings::resignThreshold, .high = INT_MAX, .start = 10000, .iniValue = "900 6", .iniPlace = 10},
    {.value = &Settings::resignCount, .low = -INT_MAX, .high = INT_MAX, .start = 6},  // resign's second number
    {.name = "setboard", .group = GROUP_A, .parameters = "<fen>", .help = "sets board position to <fen>",
     .handler = commandSetboard, .timing = ENDS},
    {.name = "speedtest", .group = GROUP_A, .minWords = 1, .help = "tests move generation and make/unmake speed",
     .handler = commandSpeedtest},
    {.name = "tc", .group = GROUP_A, .minWords = 4, .parameters = "<m> <t> <i>", .usage = "tc <moves> <base_time> <inc>",
     .help = "sets the time control for the game", .handler = commandTc, .timing = ENDS},
    {.name = "tbcheck", .group = GROUP_A, .minWords = 1, .parameters = "[<positions>]",
     .help = "compares Nalimov EGTB with ZELT, position by position", .handler = commandTbcheck},
    {.name = "threads", .kind = ROW_NUMBER, .parameters = "<n>", .help = "sets the number of search threads",
     .handler = consoleSetting, .value = &Settings::threads, .low = 1, .high = MAX_SEARCH_THREADS, .start = 1,
     .confirm = "search threads: %d\n", .apply = resizeThreads, .iniValue = "1", .iniPlace = 17, .uciName = "Threads",
     .uciPlace = 23},
    {.name = "uci", .group = GROUP_A, .minWords = 1, .handler = commandUci, .timing = ENDS},
    {.name = "xboard", .group = GROUP_A, .minWords = 1, .help = "switches to xboard mode", .handler = commandXboard,
     .timing = ENDS},
    {.name = "!", .group = GROUP_A, .minWords = 1, .parameters = "<cmd> <params>", .help = "executes a shell command",
     .handler = commandShell},
    {.name = "init", .group = INIT_ONLY, .minWords = 1, .handler = commandInit},
    // The options of UCI alone.
    {.kind = ROW_SWITCH, .value = &Settings::ownBook, .apply = reopenBook, .uciName = "OwnBook", .uciPlace = 5},
    {.kind = ROW_BUTTON, .apply = clearTT, .uciName = "Clear Hash", .uciPlace = 6},
    {.kind = ROW_NUMBER, .value = &Settings::checkExtension, .high = EXTENSION_MAX, .start = 4,
     .uciName = "Check Extension", .uciPlace = 13},
    {.kind = ROW_NUMBER, .value = &Settings::mateThreatExtension, .high = EXTENSION_MAX, .start = 4,
     .uciName = "Mate Threat Extension", .uciPlace = 14},
    {.kind = ROW_NUMBER, .value = &Settings::pawn7thExtension, .high = EXTENSION_MAX, .start = 4,
     .uciName = "Pawn 7th Rank Extension", .uciPlace = 15},
    {.kind = ROW_NUMBER, .value = &Settings::recaptureExtension, .high = EXTENSION_MAX, .start = 3,
     .uciName = "Recapture Extension", .uciPlace = 16},
    {.kind = ROW_NUMBER, .value = &Settings::singleReplyExtension, .high = EXTENSION_MAX, .start = 3,
     .uciName = "Single Reply Extension", .uciPlace = 17},
    {.kind = ROW_NUMBER, .value = &Settings::multiPV, .low = 1, .high = MAX_MULTI_PV, .start = 1, .uciName = "MultiPV",
     .uciPlace = 19},
    {.kind = ROW_ABOUT, .uciName = "UCI_EngineAbout", .uciPlace = 20},
    {.kind = ROW_SWITCH, .value = &Settings::chess960, .uciName = "UCI_Chess960", .uciPlace = 22},
};
const int COMMAND_ROW_COUNT = int(sizeof COMMAND_ROWS / sizeof COMMAND_ROWS[0]);

namespace {

bool rowApplies(const CommandRow& row) {
  switch (row.group) {
    case GROUP_A: return !initialising();
    case INIT_ONLY: return initialising();
    default: return true;
  }
}

bool wordNames(const CommandRow& row, const char* word) {
  if (row.name[0] == '!') return word[0] == '!';
  return std::strlen(word) >= size_t(row.shortest) && matchCommand(row.name, word) != 0;
}

// The command word names: the first of group A (and the settings-file reader) in table order
// that applies now, else the first setting.
const CommandRow* findCommand(const char* word) {
  for (int pass = 0; pass < 2; pass++) {
    for (int i = 0; i < COMMAND_ROW_COUNT; i++) {
      const CommandRow& row = COMMAND_ROWS[i];
      if (row.name == nullptr || (row.group == GROUP_B) != (pass == 1)) continue;
      if (rowApplies(row) && wordNames(row, word)) return &row;
    }
  }
  return nullptr;
}

}  // namespace

// The book is open while it is switched on and named; a refused file leaves none open.
void reopenBook() {
  if (settings.ownBook && !settings.bookPath.empty()) openBook(settings.bookPath.c_str());
  else closeBook();
}

int matchCommand(const char* name, const char* word) {
  size_t length = std::strlen(word);
  return length > 0 && std::strncmp(name, word, length) == 0;
}

// Decimal text with an optional sign, read up to the first other character; no digits give 0
// and values beyond the int range are held at its ends (-INT_MAX, so that abs() is safe).
int parseNumber(const char* text) {
  return clampToInt(std::strtoll(text, nullptr, 10));
}

void newGame() {
  setBoard(START_FEN);
  newGameClocks();
}

void resetSettings() {
  settings = Settings{};
  for (int i = 0; i < COMMAND_ROW_COUNT; i++) {
    const CommandRow& row = COMMAND_ROWS[i];
    if (row.value != nullptr) settings.*row.value = row.start;
    if (row.path != nullptr) settings.*row.path = row.startPath;
  }
}

int settingLow(const CommandRow& row) { return row.kind == ROW_SIZE ? 1 : row.low; }

int settingInRange(const CommandRow& row, int number) { return std::clamp(number, settingLow(row), row.high); }

namespace {

// The row of the setting held in field; every setting named by the code has one.
template <typename Field>
const CommandRow& rowOfField(Field Settings::*field) {
  for (int i = 0; i < COMMAND_ROW_COUNT; i++) {
    const CommandRow& row = COMMAND_ROWS[i];
    if constexpr (std::is_same_v<Field, int>) {
      if (row.value == field) return row;
    } else {
      if (row.path == field) return row;
    }
  }
  std::fprintf(stderr, "**ERROR**  settingRow() : a setting without a row\n");
  std::abort();
}

}  // namespace

const CommandRow& settingRow(int Settings::*field) { return rowOfField(field); }

const CommandRow& settingRow(std::string Settings::*field) { return rowOfField(field); }

// The size is read through its row's range, so that a value set past it (by code, not by a
// command) never reaches an allocation or a library as a byte count out of its reach.
uint32_t settingBytes(int Settings::*field) {
  return uint32_t(settingInRange(settingRow(field), settings.*field)) << 20;
}

void applySetting(int Settings::*field) { settingRow(field).apply(); }

void applySetting(std::string Settings::*field) { settingRow(field).apply(); }

// As the console sets a number or size, without its confirmation: held to the row's range, then
// set up by the row's apply unless the settings file is being read.
void setSettingNumber(int Settings::*field, int number) {
  const CommandRow& row = settingRow(field);
  settings.*field = settingInRange(row, number);
  if (engineState != STATE_INITIALISING && row.apply != nullptr) row.apply();
}

// word is the first word of lineBuffer, lower-cased. Returns 1 when it named a command that
// applies now, even if the command then only printed its usage line.
int consoleCommand(const char* word) {
  const CommandRow* row = findCommand(word);
  if (row == nullptr) return 0;
  if (tokenCount < row->minWords)
    printUsage(*row);
  else
    row->handler(*row, word);
  return 1;
}

SearchTiming consoleTiming(const char* word) {
  const CommandRow* row = findCommand(word);
  return row != nullptr ? row->timing : ACTS;
}
