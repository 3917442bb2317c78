#include "tests/fuzz/harness.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"
#include "tests/fuzz/session_record.h"

namespace {

// A search ends after SEARCH_NODES nodes once two iterations are complete, so that it reaches
// the main search and the transposition table even where the pre-search is long (a position
// full of captures), and after MAX_SEARCH_NODES in any case: an input with a handful of
// searches runs in milliseconds.
constexpr uint64_t SEARCH_NODES = 4000;
constexpr uint64_t MAX_SEARCH_NODES = 32000;
// Polls of one search, those made while it waits for input once out of depth included.
constexpr uint64_t SEARCH_POLLS = 48;
// Polls of one input: after them every search ends at its first poll, so that an input of
// thousands of "go" lines still runs in a second or two.
constexpr uint64_t INPUT_POLLS = 400;
constexpr uint32_t TABLE_BYTES = 1 << 20;
constexpr uint64_t MAX_MARK_POLLS = 1000000;  // a larger number reads as this

struct QuitRequested {};

SessionRecord session;  // what the checks judge

[[noreturn]] void throwQuit() {
  session.quitRead = true;
  throw QuitRequested{};
}

long outputWritten() {
  std::fflush(stdout);
  const long at = std::ftell(stdout);
  return at < 0 ? 0 : at;
}

// ----- the clock and the searches --------------------------------------------

uint32_t clockMs = 0;  // the engine's clock: one millisecond more at every reading
std::vector<long> clockOutput;  // output written when each reading was taken (value 1 first)
int searchStartSeen = 0;        // searchStart when last looked at
pthread_t mainThread;           // the engine's; helper threads do not record

// A search begins by setting searchStart to a fresh reading of the clock, which never repeats:
// a new value, seen at any later reading of the clock, poll or read, marks one more search,
// begun when that reading was taken.
void noteSearchStart() {
  if (searchStart == searchStartSeen) return;
  searchStartSeen = searchStart;
  const uint32_t reading = uint32_t(searchStart);
  session.searchesAt.push_back(reading >= 1 && reading <= clockOutput.size() ? clockOutput[reading - 1]
                                                                             : outputWritten());
}

// ----- the input script ----------------------------------------------------

struct ScriptLine {
  std::string text;  // as the engine reads it: newline included, unless the line is a piece
  int searches;      // searches that must start before it arrives ('@' marks - 1); -1 unmarked
  uint64_t polls;    // then the polls that must pass
};

struct Script {
  std::vector<ScriptLine> lines;
  size_t next = 0;            // the line the reader is given next
  size_t given = 0;           // bytes of it given so far
  uint64_t pollsAtNext = 0;   // polls made when it became next
  size_t searchesAtNext = 0;  // searches started by then
};

Script script;
FILE* scriptStream = nullptr;  // the stream over script, while an input runs

uint64_t polls = 0;                     // polls made during this input
bool released = false;                  // every line has arrived, whatever its mark
std::string lineSoFar;                  // the pieces of the line being read
std::vector<uint64_t> searchStartPolls; // polls made before the first poll of each search
int lastSearchStart = 0;                // searchStart of the last search seen
uint64_t pollsInSearch = 0;

// A line with its mark, if any, taken off; a line that ends in a backslash is a piece: its
// text without the backslash and without a newline, continued by the next line of the script.
ScriptLine parseScriptLine(std::string line) {
  const std::string end = !line.empty() && line.back() == '\\' ? "" : "\n";
  if (end.empty()) line.pop_back();
  size_t p = 0;
  while (p < line.size() && line[p] == '@') p++;
  if (p == 0) return {line + end, -1, 0};
  const int marks = int(p);
  uint64_t count = 0;
  for (; p < line.size() && line[p] >= '0' && line[p] <= '9'; p++)
    count = std::min<uint64_t>(count * 10 + uint64_t(line[p] - '0'), MAX_MARK_POLLS);
  if (p < line.size() && line[p] == ' ') p++;
  return {line.substr(p) + end, marks - 1, count};
}

// The stream's read function: the bytes of the next line, never past its end, so that the line
// after it becomes next exactly when the reader has taken the whole line.
ssize_t readScript(void*, char* buffer, size_t size) {
  noteSearchStart();
  if (script.next >= script.lines.size()) {
    if (session.endOfInputAt < 0) session.endOfInputAt = outputWritten();
    return 0;
  }
  const std::string& text = script.lines[script.next].text;
  const size_t count = std::min(size, text.size() - script.given);
  std::memcpy(buffer, text.data() + script.given, count);
  script.given += count;
  if (script.given == text.size()) {
    lineSoFar += text;
    if (!text.empty() && text.back() == '\n') {
      session.linesRead.push_back(
            {lineSoFar, outputWritten(), engineState, int(session.searchesAt.size()) - 1, stopSearch != 0});
      lineSoFar.clear();
    }
    script.next++;
    script.given = 0;
    script.pollsAtNext = polls;
    script.searchesAtNext = searchStartPolls.size();
  }
  return ssize_t(count);
}

// The engine's readiness test while a script runs: 1 when the next line has arrived, or the
// end of the script is there to be read.
int scriptWaiting() {
  if (commandInput != scriptStream) return 0;
  if (script.next >= script.lines.size() || script.given > 0 || released) return 1;
  const ScriptLine& line = script.lines[script.next];
  if (line.searches < 0) return 1;
  if (line.searches == 0) return polls - script.pollsAtNext >= line.polls;
  const size_t search = script.searchesAtNext + size_t(line.searches) - 1;
  if (search >= searchStartPolls.size()) return 0;
  if (search + 1 < searchStartPolls.size()) return 1;
  return polls - searchStartPolls[search] >= line.polls;
}

// The search's poll: the engine's own, counted, and the end of a search that ran long enough.
// A new search shows by its start time, which the clock never repeats.
void pollScript() {
  noteSearchStart();
  if (searchStartPolls.empty() || searchStart != lastSearchStart) {
    searchStartPolls.push_back(polls);
    lastSearchStart = searchStart;
    pollsInSearch = 0;
  }
  polls++;
  pollsInSearch++;
  session.storeFilled = session.storeFilled || queueFull();
  pollInput();
  if ((nodes >= SEARCH_NODES && iterDepth > 2) || nodes >= MAX_SEARCH_NODES || pollsInSearch >= SEARCH_POLLS ||
      polls >= INPUT_POLLS) {
    // A UCI search that only stop, ponderhit or quit may end is not cut short: the rest of
    // the script arrives instead, and its end ends the search.
    if (uciMode && searchEndless()) released = true;
    else stopSearch = 1;
  }
}

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
bool verbose = false;  // TALVEK_FUZZ_VERBOSE: each input's output is copied to standard error
int scratchFolder = -1;  // descriptors of the scratch folder, where inputs run, and of the
int startFolder = -1;    // working folder the fuzzer was started in (its corpus paths are relative)

// Tables as start-up leaves them, so that no input depends on the ones before it.
void resetTables() {
  if (size_t(ttBuckets) * sizeof(TTBucket) != TABLE_BYTES) initTT(TABLE_BYTES);
  clearTT();
  ttAge = 0;
  ttStores = 0;
  static uint32_t cacheEntries = 0;  // entries of the evaluation cache fuzzStart made
  if (cacheEntries == 0 || evalCacheEntries != cacheEntries) {
    initECache(TABLE_BYTES);
    cacheEntries = evalCacheEntries;
  }
  std::memset(static_cast<void*>(evalCache), 0, size_t(evalCacheEntries) * sizeof(EvalCacheEntry));
  clearPawnCache();
  resignStreak = 0;
  if (tbMaxMen != 0) initNalimov(settings.nalimovPath.c_str(), settingBytes(&Settings::nalimovCache));
  egbbAvailable = 0;
}

}  // namespace

// The clock the engine reads (every reference to nowMs() is bound here by the linker's --wrap).
extern "C" int __wrap__Z5nowMsv() {
  if (pthread_equal(pthread_self(), mainThread)) {
    noteSearchStart();
    clockOutput.push_back(outputWritten());
  }
  return int(++clockMs);
}

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
  // The output goes to a file of the scratch folder, where the protocol checks read it back.
  verbose = std::getenv("TALVEK_FUZZ_VERBOSE") != nullptr;
  fuzzRequire(std::freopen((scratchPath + "/output.txt").c_str(), "w+", stdout) != nullptr, "stdout");
  mainThread = pthread_self();
  initTables();
  initTT(TABLE_BYTES);
  initECache(TABLE_BYTES);
  pollHook = pollScript;
  quitHook = throwQuit;
}

void fuzzReset(Protocol p) {
  fuzzRequire(fchdir(scratchFolder) == 0, "cannot enter the scratch folder");
  polls = pollsInSearch = 0;
  searchStartPolls.clear();
  released = false;
  session = SessionRecord{};
  lineSoFar.clear();
  std::fflush(stdout);
  fuzzRequire(ftruncate(fileno(stdout), 0) == 0, "cannot empty the output");
  std::rewind(stdout);
  clockMs = 0;
  clockOutput.clear();
  searchStartSeen = 0;
  commandInput = stdin;
  engineState = STATE_WAITING;
  consoleMode = p == Protocol::Console;
  xboardMode = p == Protocol::Xboard;
  uciMode = p == Protocol::Uci;
  icsMode = 0;
  stopSearch = 0;
  newGameClocks();
  analysing = 0;
  editingPosition = 0;
  inputEnded = 0;
  ponderMove = 0;
  searchOutcome = SearchOutcome{};
  discardHeldInput();
  std::strcpy(ponderText, "none");
  searchStart = opponentTurnStart = ponderElapsed = 0;
  clearQueuedLines();
  fetchDepth = 0;
  resetSettings();
  resetTables();
  clearGameState();
  if (p == Protocol::Uci) runCommandLine("position startpos");
  else if (!runCommandLine("new")) newGame();
}

void fuzzGuarded(void (*fn)()) {
  try {
    fn();
  } catch (const QuitRequested&) {
  }
  engineState = STATE_WAITING;
  stopSearch = 0;
}

namespace {

std::vector<OutputLine> outputLines() {
  std::fflush(stdout);
  std::string text;
  if (FILE* file = std::fopen((scratchPath + "/output.txt").c_str(), "rb")) {
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    std::fclose(file);
  }
  if (verbose) std::fwrite(text.data(), 1, text.size(), stderr);
  std::vector<OutputLine> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back({text.substr(start, end - start), long(start)});
    start = end + 1;
  }
  return lines;
}

// The board, its record and the words of the last line are in range.
void checkBoard() {
  fuzzRequire(fuzzConsistent(), "board inconsistent after the input");
  fuzzRequire(gamePly >= 0 && gamePly <= MAX_GAME_PLIES, "game record out of range");
  fuzzRequire(tokenCount >= 0 && tokenCount <= MAX_TOKENS, "token count out of range");
}

// The board as the input left it, then the protocol's rules; the checks replay the GUI's side
// of the session on the engine's board, which fuzzCheck then resets.
void checkProtocol(Protocol p) {
  noteSearchStart();
  session.output = outputLines();
  if (p != Protocol::Uci && p != Protocol::Xboard) return;
  checkBoard();
  if (p == Protocol::Uci) checkUciSession(session);
  else checkXboardSession(session);
}

}  // namespace

void fuzzLines(Protocol p, const std::string& text) {
  script = Script{};
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ScriptLine line = parseScriptLine(text.substr(start, end - start));
    if (!leftOut(p, line.text)) script.lines.push_back(std::move(line));
    start = end + 1;
  }
  scriptStream = fopencookie(&script, "r", cookie_io_functions_t{readScript, nullptr, nullptr, nullptr});
  fuzzRequire(scriptStream != nullptr, "fopencookie");
  FILE* const standardInput = stdin;
  stdin = scriptStream;  // the console's "uci" serves standard input
  inputWaitingHook = scriptWaiting;
  if (p == Protocol::Uci)
    fuzzGuarded([] { uciLoop(scriptStream); });
  else
    fuzzGuarded([] { mainLoop(scriptStream); });
  inputWaitingHook = nullptr;
  checkProtocol(p);
  stdin = standardInput;
  commandInput = stdin;
  std::fclose(scriptStream);
  scriptStream = nullptr;
  script = Script{};
}

void fuzzCheck() {
  std::fflush(stdout);
  checkBoard();
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
