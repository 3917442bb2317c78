// The console command language: the command table, its handlers and the help text.
//
// A typed word names a command when it equals the command's name or abbreviates it; the table
// is tried in order and the first match wins, so "h" is help and "ha" the next command that
// begins so. Tools and game commands (group A) are passed over while the engine initialises,
// so the settings file can only change settings (group B). Handlers read their arguments from
// tokens/tokenCount, word 0 being the command itself.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"

namespace {

enum CommandGroup {
  GROUP_A,    // tools and game commands: not while Initialising
  GROUP_B,    // settings: always
  INIT_ONLY,  // the settings-file reader: only while Initialising
};

struct Command;
using CommandHandler = void (*)(const Command& command, const char* word);

struct Command {
  const char* name;        // full name; "!" stands for any word beginning with '!'
  CommandGroup group;
  int minWords;            // words the line needs, command included; fewer print the usage
  CommandHandler handler;  // runs with at least minWords words
  const char* usage;       // text after "usage: ", or nullptr when a short line does nothing
};

// One row of the help text.
struct HelpRow {
  const char* name;
  const char* parameters;
  const char* description;
};

bool initialising() { return engineState == STATE_INITIALISING; }

void printUsage(const Command& command) {
  if (command.usage != nullptr) std::printf("usage: %s\n", command.usage);
}

// Confirmation lines of the setting commands; the settings file is read silently.
void confirm(const char* format, ...) {
  if (initialising()) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

const char* onOff(int value) { return value ? "on" : "off"; }

// Word 1 must be exactly "on" or "off"; anything else prints the usage line and returns false.
bool readSwitch(const Command& command, int* value) {
  if (std::strcmp(tokens[1], "on") == 0) {
    *value = 1;
  } else if (std::strcmp(tokens[1], "off") == 0) {
    *value = 0;
  } else {
    printUsage(command);
    return false;
  }
  return true;
}

// A size in MB from word 1; a size below 1 MB is taken as 1, one beyond what a 32-bit byte
// count holds as MAX_TABLE_MB.
int readSize() {
  int size = parseNumber(tokens[1]);
  return size < 1 ? 1 : size > MAX_TABLE_MB ? MAX_TABLE_MB : size;
}

// Copies word 1 into a path setting, or refuses a path too long for it.
bool readPath(const Command& command, char* path) {
  if (std::strlen(tokens[1]) > PATH_SIZE - 1) {
    std::printf("usage: %s (at most %d characters)\n", command.usage, PATH_SIZE - 1);
    return false;
  }
  std::strcpy(path, tokens[1]);
  return true;
}

int clampToInt(long long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < -INT_MAX) return -INT_MAX;
  return int(value);
}

// ----- group A -------------------------------------------------------------

void commandCreateini(const Command&, const char*) { createIni(); }

void commandFetch(const Command&, const char*) { fetchFile(tokens[1]); }

void commandEpdtest(const Command&, const char*) {
  epdTest(tokens[1], parseNumber(tokens[2]), parseNumber(tokens[3]), tokens[4]);
}

void commandGo(const Command&, const char*) { engineSide = sideToMove; }

void commandFen(const Command&, const char*) {
  char fen[FEN_BUFFER];
  getFEN(fen);
  std::printf("FEN: %s\n", fen);
}

constexpr HelpRow HELP_ROWS[] = {
    {"abscore", "<on|off>", "shows the score for white(on) or for talvek(off)"},
    {"beep", "<on|off>", "sets on/off beep after every talvek's move"},
    {"board", "<on|off>", "sets on/off board display after every move"},
    {"createini", "", "writes to talvek.ini default settings"},
    {"ecache", "<size>", "sets the eval cache size in megabytes (min 1)"},
    {"egbbcache", "<size>", "sets the size for Shawul EGBB cache"},
    {"egbbpath", "<path>", "sets the path for Shawul EGBB"},
    {"epdtest", "<e> <s> <i> [<l>]", "runs an EPD testsuite file, s secs per position"},
    {"fen", "", "shows the FEN of the current position"},
    {"fetch", "<file>", "executes commands from a file"},
    {"zelt", "<on|off>", "enables/disables ZELT probes (instead of Nalimov"},
    {"zeltcache", "<size>", "sets size for ZELT cache"},
    {"zeltpath", "<path>", "sets the path for ZELT"},
    {"go", "", "talvek starts playing"},
    {"hash", "<size>", "sets the hashtable size in megabytes (min 1)"},
    {"help", "", "shows this list of commands"},
    {"lmoves", "", "shows the legal moves for the current position"},
    {"nalimovcache", "<size>", "sets size for Nalimov EGTB cache"},
    {"nalimovpath", "<path>", "sets the path for Nalimov EGTB"},
    {"newgame", "", "starts a new game"},
    {"noise", "<depth>", "sets depth to reach in order to show thinking"},
    {"perft", "<depth>", "tests the move generation on the current position"},
    {"ponder", "<on|off>", "sets on/off pondering"},
    {"post", "<on|off>", "sets on/off post thinking"},
    {"quit", "", "leave talvek"},
    {"resign", "<t> <c>", "sets threshold(centipawns) and count for resign"},
    {"setboard", "<fen>", "sets board position to <fen>"},
    {"speedtest", "", "tests move generation and make/unmake speed"},
    {"tbcheck", "[<positions>]", "compares Nalimov EGTB with ZELT, position by position"},
    {"tc", "<m> <t> <i>", "sets the time control for the game"},
    {"xboard", "", "switches to xboard mode"},
    {"!", "<cmd> <params>", "executes a shell command"},
};

// Each row: the name in 11 columns (a longer name and one space), the parameters up to
// column 30, the description.
void commandHelp(const Command&, const char*) {
  setColour(15);
  std::fputs("\n\n                             =====================", stdout);
  std::fputs("\n                                    H E L P       ", stdout);
  std::fputs("\n                             =====================\n\n\n", stdout);
  resetColour();
  std::fputs("COMMAND    PARAMETERS         DESCRIPTION\n", stdout);
  std::fputs("-------    ----------         -----------\n", stdout);
  for (const HelpRow& row : HELP_ROWS) {
    char left[32];
    int width = std::snprintf(left, sizeof left, std::strlen(row.name) < 11 ? "%-11s" : "%s ", row.name);
    std::printf("%s%-*s%s\n", left, 30 - width, row.parameters, row.description);
  }
  std::fputs("\n\n", stdout);
}

// The legal moves of the current ply in generation order, five to a line. They are copied
// out first because moveToSAN regenerates the ply's list.
void commandLmoves(const Command&, const char*) {
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

void commandNewgame(const Command&, const char*) { newGame(); }

// Depths beyond the search stack are refused with the usage line.
void commandPerft(const Command& command, const char*) {
  int depth = parseNumber(tokens[1]);
  if (depth < 1 || depth >= MAX_PLY - ply) {
    printUsage(command);
    return;
  }
  perft(depth);
}

void commandQuit(const Command&, const char*) { quitEngine(); }

// The FEN is the rest of the line after the space that ends the command word.
void commandSetboard(const Command&, const char*) {
  const char* text = lineBuffer;
  while (*text == ' ') text++;
  text = std::strchr(text, ' ');
  if (text == nullptr) return;
  if (setBoard(text + 1) != 0) {
    std::fputs("Errors found in the FEN. Setting the start position\n", stdout);
    setBoard(START_FEN);
  }
}

void commandSpeedtest(const Command&, const char*) { speedTest(); }

// Moves, minutes and the increment in seconds; a negative one prints the usage line.
void commandTc(const Command& command, const char*) {
  int moves = parseNumber(tokens[1]);
  int minutes = parseNumber(tokens[2]);
  int seconds = parseNumber(tokens[3]);
  if (moves < 0 || minutes < 0 || seconds < 0) {
    printUsage(command);
    return;
  }
  movesPerControl = moves;
  engineClock = opponentClock = clampToInt(minutes * 60000LL);
  engineIncrement = clampToInt(seconds * 1000LL);
  moveTime = 0;
  std::fputs("time control: ", stdout);
  if (moves != 0)
    std::printf("%d moves ", moves);
  else
    std::fputs("game ", stdout);
  std::printf("in %d minutes", minutes);
  if (seconds != 0) std::printf(" + %d seconds per move", seconds);
  std::fputs("\n", stdout);
}

// The switch to UCI is for good: the UCI loop serves standard input until it ends.
void commandUci(const Command&, const char*) {
  uciMode = 1;
  consoleMode = 0;
  std::fputs("\n", stdout);
  printUciIdentification();
  uciLoop(stdin);
}

void commandXboard(const Command&, const char*) {
  xboardMode = 1;
  consoleMode = 0;
  std::fputs("\n", stdout);
}

// Only the first word, without its '!', reaches the shell; its result is ignored.
void commandShell(const Command&, const char* word) {
  if (std::system(word + 1) == -1) return;
}

// ----- group B -------------------------------------------------------------

void commandInit(const Command&, const char*) { readSettingsFile(); }

void commandAbscore(const Command& command, const char*) {
  if (!readSwitch(command, &settings.abscore)) return;
  confirm("score always for white: %s\n", onOff(settings.abscore));
}

void commandBeep(const Command& command, const char*) {
  if (!readSwitch(command, &settings.beep)) return;
  confirm("beep after move: %s\n", onOff(settings.beep));
}

// Alone it shows the board, except while the settings file is read, when there is none yet.
void commandBoard(const Command& command, const char*) {
  if (tokenCount < 2) {
    if (initialising())
      printUsage(command);
    else
      printBoard();
    return;
  }
  if (!readSwitch(command, &settings.showBoard)) return;
  confirm("auto display board after move: %s\n", onOff(settings.showBoard));
}

// The table sizes are stored while the settings file is read and allocated by start-up.
void commandEcache(const Command&, const char*) {
  settings.ecache = readSize();
  if (initialising()) return;
  freeECache();
  initECache(tableBytes(settings.ecache));
}

void commandHash(const Command&, const char*) {
  settings.hash = readSize();
  if (initialising()) return;
  freeTT();
  initTT(tableBytes(settings.hash));
}

// "zelt on" probes the Gaviota tablebases (distance to mate) in place of Nalimov's.
void reloadZelt() {
  if (!initialising()) initZelt(settings.zelt, settings.zeltPath, tableBytes(settings.zeltCache));
}

void commandZelt(const Command& command, const char*) {
  if (!readSwitch(command, &settings.zelt)) return;
  confirm("ZELT access: %s\n", settings.zelt ? "enabled" : "disabled");
  reloadZelt();
}

void commandZeltcache(const Command&, const char*) {
  settings.zeltCache = readSize();
  if (settings.zelt) reloadZelt();
}

void commandZeltpath(const Command& command, const char*) {
  if (readPath(command, settings.zeltPath) && settings.zelt) reloadZelt();
}

void commandTbcheck(const Command&, const char*) {
  checkTablesAgainstZelt(uint32_t(std::max(0, parseNumber(tokens[1]))));
}

void commandNoise(const Command&, const char*) {
  settings.noise = parseNumber(tokens[1]);
  confirm("show thinking from depth: %d\n", settings.noise);
}

void commandPonder(const Command& command, const char*) {
  if (!readSwitch(command, &settings.ponder)) return;
  confirm("pondering: %s\n", onOff(settings.ponder));
}

void commandPost(const Command& command, const char*) {
  if (!readSwitch(command, &settings.post)) return;
  confirm("post thinking: %s\n", onOff(settings.post));
}

void commandResign(const Command&, const char*) {
  settings.resignThreshold = std::abs(parseNumber(tokens[1]));
  settings.resignCount = parseNumber(tokens[2]);
  confirm("resign if score < -%d for %d times\n", settings.resignThreshold, settings.resignCount);
}

// The endgame databases are set up again with a new path or cache size, except while the
// settings file is read: start-up sets them up afterwards.
void reloadNalimov() {
  if (!initialising()) initNalimov(settings.nalimovPath, tableBytes(settings.nalimovCache));
}

void reloadEgbb() {
  if (!initialising()) egbbAvailable = loadEgbb(settings.egbbPath, tableBytes(settings.egbbCache));
}

void commandNalimovcache(const Command&, const char*) {
  settings.nalimovCache = readSize();
  reloadNalimov();
}

void commandNalimovpath(const Command& command, const char*) {
  if (readPath(command, settings.nalimovPath)) reloadNalimov();
}

// The library takes its cache size as a signed 32-bit byte count: 2 GiB and more is refused.
void commandEgbbcache(const Command& command, const char*) {
  if (parseNumber(tokens[1]) > EGBB_MAX_CACHE_MB) {
    std::printf("usage: %s (1 to %d)\n", command.usage, EGBB_MAX_CACHE_MB);
    return;
  }
  settings.egbbCache = readSize();
  reloadEgbb();
}

void commandEgbbpath(const Command& command, const char*) {
  if (readPath(command, settings.egbbPath)) reloadEgbb();
}

// The console commands in matching order.
constexpr Command COMMANDS[] = {
    {"createini", GROUP_A, 1, commandCreateini, nullptr},
    {"fen", GROUP_A, 1, commandFen, nullptr},
    {"fetch", GROUP_A, 2, commandFetch, "fetch <file>"},
    {"epdtest", GROUP_A, 4, commandEpdtest, "epdtest <epd_file> <secs> <iters> [<log_file>]"},
    {"go", GROUP_A, 1, commandGo, nullptr},
    {"help", GROUP_A, 1, commandHelp, nullptr},
    {"lmoves", GROUP_A, 1, commandLmoves, nullptr},
    {"newgame", GROUP_A, 1, commandNewgame, nullptr},
    {"perft", GROUP_A, 2, commandPerft, "perft <depth>"},
    {"quit", GROUP_A, 1, commandQuit, nullptr},
    {"setboard", GROUP_A, 2, commandSetboard, nullptr},
    {"speedtest", GROUP_A, 1, commandSpeedtest, nullptr},
    {"tc", GROUP_A, 4, commandTc, "tc <moves> <base_time> <inc>"},
    {"tbcheck", GROUP_A, 1, commandTbcheck, nullptr},
    {"uci", GROUP_A, 1, commandUci, nullptr},
    {"xboard", GROUP_A, 1, commandXboard, nullptr},
    {"!", GROUP_A, 1, commandShell, nullptr},
    {"init", INIT_ONLY, 1, commandInit, nullptr},
    {"abscore", GROUP_B, 2, commandAbscore, "abscore <on|off>"},
    {"beep", GROUP_B, 2, commandBeep, "beep <on|off>"},
    {"board", GROUP_B, 1, commandBoard, "board <on|off>"},
    {"ecache", GROUP_B, 2, commandEcache, "ecache <size>"},
    {"zelt", GROUP_B, 2, commandZelt, "zelt <on|off>"},
    {"zeltcache", GROUP_B, 2, commandZeltcache, "zeltcache <size>"},
    {"zeltpath", GROUP_B, 2, commandZeltpath, "zeltpath <path>"},
    {"hash", GROUP_B, 2, commandHash, "hash <size>"},
    {"noise", GROUP_B, 2, commandNoise, "noise <depth>"},
    {"ponder", GROUP_B, 2, commandPonder, "ponder <on|off>"},
    {"post", GROUP_B, 2, commandPost, "post <on|off>"},
    {"resign", GROUP_B, 3, commandResign, "resign <threshold> <count>"},
    {"nalimovcache", GROUP_B, 2, commandNalimovcache, "nalimovcache <size>"},
    {"nalimovpath", GROUP_B, 2, commandNalimovpath, "nalimovpath <path>"},
    {"egbbcache", GROUP_B, 2, commandEgbbcache, "egbbcache <size>"},
    {"egbbpath", GROUP_B, 2, commandEgbbpath, "egbbpath <path>"},
};

bool commandApplies(const Command& command) {
  switch (command.group) {
    case GROUP_A: return !initialising();
    case INIT_ONLY: return initialising();
    default: return true;
  }
}

bool wordNames(const Command& command, const char* word) {
  if (command.name[0] == '!') return word[0] == '!';
  return matchCommand(command.name, word) != 0;
}

}  // namespace

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
  engineIncrement = 0;
  moveTime = 0;
  gameOver = 0;
  movesPerControl = 60;
  engineClock = opponentClock = 1800000;
  maxDepth = 64;
}

// word is the first word of lineBuffer, lower-cased. Returns 1 when it named a command that
// applies now, even if the command then only printed its usage line.
int consoleCommand(const char* word) {
  for (const Command& command : COMMANDS) {
    if (!commandApplies(command) || !wordNames(command, word)) continue;
    if (tokenCount < command.minWords)
      printUsage(command);
    else
      command.handler(command, word);
    return 1;
  }
  return 0;
}
