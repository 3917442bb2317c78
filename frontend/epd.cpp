// EPD test suites: every position of a file searched for a fixed time, the best move compared
// with the record's "bm" or "am" operation, and the solve rate reported on the console and,
// when asked, in a log file.
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

namespace {

constexpr int EPD_LINE = 256;  // bytes of one record: 255 characters and a NUL

// Reads one record of at most EPD_LINE - 1 characters, its newline included when it fits; the
// rest of a longer line is dropped, so it never becomes a record of its own. False at the end.
bool readRecord(FILE* file, char* line) {
  int length = 0, c = EOF;
  bool any = false;
  while ((c = std::getc(file)) != EOF) {
    any = true;
    if (length < EPD_LINE - 1) line[length++] = char(c);
    if (c == '\n') break;
  }
  line[length] = '\0';
  return any;
}

bool takesPart(const char* line) { return std::strstr(line, "am") || std::strstr(line, "bm"); }

// A record with "am" is solved by a move whose SAN (check marks included) is nowhere in it,
// any other by a move whose SAN occurs in it. Plain substring tests on the whole record.
bool isSolved(const char* line, Move best) {
  if (best == 0) return false;
  const bool found = std::strstr(line, moveToSAN(best)) != nullptr;
  return std::strstr(line, "am") != nullptr ? !found : found;
}

void printTitle() {
  setColour(15);
  std::fputs("\n\n                       =============================", stdout);
  std::fputs("\n                              E P D   T E S T       ", stdout);
  std::fputs("\n                       =============================\n\n", stdout);
  resetColour();
  setColour(7);
}

// The four summary lines; total ends the last one ("\n\n\n" on the console, "\n" in the log).
void printSummary(FILE* out, int elapsed, int positions, int solved, uint64_t totalNodes, const char* end) {
  std::fprintf(out, "\n\ntime used: %s\n", formatClock(elapsed));
  std::fprintf(out, "positions: %d\n", positions);
  std::fprintf(out, "solved: %d (%.2f%%)\n", solved, positions > 0 ? solved * 100.0 / positions : 0.0);
  std::fprintf(out, "total nodes: %" PRIu64 "%s", totalNodes, end);
}

}  // namespace

// Runs the records of epdFile that hold "am" or "bm", seconds each; a position also ends once
// its solution has stood for iterations completed iterations in a row. logFile, when not
// empty, receives the unsolved records and the summary. Ends with a new game.
void epdTest(const char* epdFile, int seconds, int iterations, const char* logFile) {
  // 1. Title and files
  printTitle();
  const char* fault = nullptr;
  FILE* epd = openUserFile(epdFile, "r", "an EPD file", &fault);
  if (epd == nullptr) {
    if (fault == nullptr) std::printf("**ERROR**  epdTest() : unable to open file %s\n\n", epdFile);
    else std::printf("**ERROR**  epdTest() : %s %s\n\n", epdFile, fault);
    return;
  }
  FILE* log = nullptr;
  if (logFile[0] != '\0' && (log = std::fopen(logFile, "w")) == nullptr) {
    std::printf("**ERROR**  epdTest() : unable to open file %s\n\n", logFile);
    std::fclose(epd);
    return;
  }

  // 2. Run values
  engineState = STATE_EPD_TESTING;
  if (log != nullptr) std::fprintf(log, "EPD test suite: %s\n\nunsolved:\n", epdFile);
  long long perPosition = (long long)seconds * 1000;
  limits.moveTime = int(perPosition > INT_MAX ? INT_MAX : perPosition < -INT_MAX ? -INT_MAX : perPosition);
  epdIterations = iterations;
  const int start = nowMs();

  // 3. The positions
  char line[EPD_LINE];
  int positions = 0, solved = 0;
  uint64_t totalNodes = 0;
  while (readRecord(epd, line)) {
    if (!takesPart(line)) continue;
    setBoard(line);
    std::fputs("------------------------------------------------------------------------------\n", stdout);
    std::printf("%s\n\n", line);
    epdRecord = line;
    think();
    epdRecord = nullptr;
    totalNodes += totalSearchNodes();
    ply = 0;
    const Move best = pvTable[0][0] != 0 && !positionRejected ? matchMove(pvTable[0][0]) : 0;
    if (isSolved(line, best)) {
      std::fputs("\nsolved", stdout);
      solved++;
    } else {
      std::fputs("\nunsolved", stdout);
      if (log != nullptr) std::fputs(line, log);
    }
    std::fputs("\n", stdout);
    positions++;
  }

  // 4. Summary
  const int elapsed = msSince(start);
  if (log != nullptr && solved == positions) std::fputs("all positions solved\n", log);
  printSummary(stdout, elapsed, positions, solved, totalNodes, "\n\n\n");
  if (log != nullptr) {
    printSummary(log, elapsed, positions, solved, totalNodes, "\n");
    std::fclose(log);
  }
  std::fclose(epd);

  // 5. A new game in the active protocol
  runCommandLine("new");
  engineState = STATE_WAITING;
}
