#include "tests/fuzz/harness.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"

namespace {

struct QuitRequested {};

[[noreturn]] void throwQuit() { throw QuitRequested{}; }

// Searches end at their first poll (POLL_INTERVAL nodes, a few hundred in fuzz builds): enough
// to reach every part of the search and still run dozens of inputs a second.
void stopAtFirstPoll() { stopSearch = 1; }

// The first word of a line as the readers see it (lower case), with lineBuffer set to the line.
std::string commandWord(const std::string& line) {
  std::snprintf(lineBuffer, LINE_SIZE, "%s", line.c_str());
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  firstWord(typed, lower);
  return lower;
}

// A shell command, or an EPD run whose log file (opened for writing) the input names; at the
// console also the move-generator timings, which run for minutes by design.
bool leftOut(Protocol p, const std::string& line) {
  const std::string word = commandWord(line);
  const char* lower = word.c_str();
  if (word.empty()) return false;
  if (word[0] == '!') return true;
  tokeniseLine();
  if (matchCommand("epdtest", lower) && tokenCount > 4) return true;
  return p == Protocol::Console &&
         (matchCommand("speedtest", lower) || (matchCommand("perft", lower) && parseNumber(tokens[1]) > 3));
}

std::string scratchPath;
int scratchFolder = -1;  // descriptors of the scratch folder, where inputs run, and of the
int startFolder = -1;    // working folder the fuzzer was started in (its corpus paths are relative)

}  // namespace

bool fuzzConsistent() {
  if (boardIsConsistent()) return true;
  if (!positionRejected) return false;
  int pieces[2] = {0, 0}, pawns[2] = {0, 0};
  for (Square sq = 0; sq < 128; sq++) {
    if (!onBoard(sq) || board[sq] == EMPTY) continue;
    (typeOf(board[sq]) == PAWN ? pawns : pieces)[colourOf(board[sq]) & 1]++;
  }
  return pieces[0] > 16 || pieces[1] > 16 || pawns[0] > 8 || pawns[1] > 8;
}

void fuzzRequire(bool ok, const char* message) {
  if (ok) return;
  std::fflush(stdout);
  std::fprintf(stderr, "fuzz check failed: %s\n", message);
  std::abort();
}

void fuzzStart() {
  static bool started = false;
  if (started) return;
  started = true;
  char folder[] = "/tmp/talvek-fuzz-XXXXXX";
  fuzzRequire(mkdtemp(folder) != nullptr, "no scratch folder");
  scratchFolder = open(folder, O_RDONLY | O_DIRECTORY);
  startFolder = open(".", O_RDONLY | O_DIRECTORY);
  fuzzRequire(scratchFolder >= 0 && startFolder >= 0, "no scratch folder");
  scratchPath = folder;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(scratchPath, ignored);
  });
  fuzzRequire(std::freopen("/dev/null", "r", stdin) != nullptr, "stdin");
  if (std::getenv("TALVEK_FUZZ_VERBOSE") == nullptr)
    fuzzRequire(std::freopen("/dev/null", "w", stdout) != nullptr, "stdout");
  initTables();
  initTT(1 << 20);
  initECache(1 << 20);
  pollHook = stopAtFirstPoll;
  quitHook = throwQuit;
}

void fuzzReset(Protocol p) {
  fuzzRequire(fchdir(scratchFolder) == 0, "cannot enter the scratch folder");
  engineState = STATE_WAITING;
  consoleMode = p == Protocol::Console;
  xboardMode = p == Protocol::Xboard;
  uciMode = p == Protocol::Uci;
  stopSearch = 0;
  newGameClocks();
  inputEnded = 0;
  clearQueuedLines();
  fetchDepth = 0;
  resetSettings();
  clearGameState();
  if (!runCommandLine("new")) newGame();
}

void fuzzGuarded(void (*fn)()) {
  try {
    fn();
  } catch (const QuitRequested&) {
  }
  engineState = STATE_WAITING;
  stopSearch = 0;
}

void fuzzLines(Protocol p, const std::string& text) {
  std::string kept;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!leftOut(p, line)) kept += line + "\n";
    start = end + 1;
  }
  static FILE* input;
  input = fmemopen(kept.data(), kept.size() ? kept.size() : 1, "r");
  fuzzRequire(input != nullptr, "fmemopen");
  if (kept.empty()) std::fgetc(input);  // an empty stream
  if (p == Protocol::Uci)
    fuzzGuarded([] { uciLoop(input); });
  else
    fuzzGuarded([] { mainLoop(input); });
  std::fclose(input);
}

void fuzzCheck() {
  std::fflush(stdout);
  fuzzRequire(fuzzConsistent(), "board inconsistent after the input");
  fuzzRequire(gamePly >= 0 && gamePly <= MAX_GAME_PLIES, "game record out of range");
  fuzzRequire(tokenCount >= 0 && tokenCount <= MAX_TOKENS, "token count out of range");
  clearGameState();
  fuzzRequire(setBoard(START_FEN) == 0, "start position refused");
  fuzzRequire(perftCount(2) == 400, "perft 2 of the start position is not 400");
  fuzzRequire(boardIsConsistent(), "board inconsistent after perft");
  fuzzRequire(fchdir(startFolder) == 0, "cannot leave the scratch folder");
}

std::string fuzzWrite(const char* name, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(name, "wb");
  fuzzRequire(file != nullptr, "cannot write a scratch file");
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
  return name;
}
