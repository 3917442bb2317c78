// Every line the search writes: the thinking line in its console, xboard and UCI forms, the UCI
// progress lines, the ICS summary, the console statistics block, and their formatters.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "search/search.h"

namespace {

constexpr int LINE_BUFFER = 516;  // principal variation text, terminator included
constexpr int DARK_GREY = 8;

// plyStack records that moveToSAN overwrites when it runs at ply p: p and p + 1.
struct SavedPlies {
  int from;
  PlyRecord records[2];
  explicit SavedPlies(int p) : from(p) {
    for (int i = 0; i < 2 && from + i < MAX_PLY; i++) records[i] = plyStack[from + i];
  }
  ~SavedPlies() {
    for (int i = 0; i < 2 && from + i < MAX_PLY; i++) plyStack[from + i] = records[i];
  }
};

// Appends text when it fits in the line with its terminator.
bool appendText(char* line, size_t& length, const char* text) {
  size_t n = strlen(text);
  if (length + n + 1 > size_t(LINE_BUFFER)) return false;
  memcpy(line + length, text, n + 1);
  length += n;
  return true;
}

// Speed "%dkN/s": thousands of nodes per second, never dividing by less than a second.
const char* formatSpeed(int elapsed) {
  static char buffer[32];
  snprintf(buffer, sizeof buffer, "%dkN/s", int(totalSearchNodes() / uint64_t(std::max(elapsed, 1000))));
  return buffer;
}

// Text of a line from the root: its count moves, extended from the table, at most iterDepth
// moves. Console and xboard lines carry move numbers and SAN, UCI coordinates. The moves are
// made to write each in its own position and taken back before returning.
const char* buildLine(const Move* moves, int count) {
  static char line[LINE_BUFFER];
  size_t length = 0;
  line[0] = '\0';
  char piece[64];
  if (!uciMode) {
    snprintf(piece, sizeof piece, "%d.%s", (gamePly + 2) / 2, sideToMove == BLACK ? " ..." : "");
    appendText(line, length, piece);
  }
  const int startPly = ply;
  for (unsigned i = 0; i < iterDepth && ply < MAX_PLY - 1; i++) {
    Move m = int(i) < count ? moves[i] : probeTTMove();
    if (m == 0) break;
    if (uciMode) {
      snprintf(piece, sizeof piece, " %s", moveToUci(m));
    } else {
      SavedPlies saved(ply);
      const char* san = moveToSAN(m);
      if (sideToMove == WHITE && i > 0) snprintf(piece, sizeof piece, " %d. %s", (gamePly + 2) / 2, san);
      else snprintf(piece, sizeof piece, " %s", san);
    }
    if (!appendText(line, length, piece)) break;
    makeMove(m);
  }
  while (ply > startPly) unmakeMove();
  return line;
}

}  // namespace

// Score text: pawns with two decimals, "draw" for 0, mates as "#NN"/"-#NN" moves to mate
// ("#"/"-#" for a mate on the next move). Turned to White's view when abscore is on.
const char* formatScore(int score) {
  static char buffer[32];
  if (settings.abscore && sideToMove == BLACK) score = -score;
  if (score == 0) snprintf(buffer, sizeof buffer, "draw");
  else if (std::abs(score) < MATE_RANGE) snprintf(buffer, sizeof buffer, "%.2f", score / 100.0);
  else if (score == MATE - 1 || score == MATE - 2) snprintf(buffer, sizeof buffer, "#");
  else if (score == -(MATE - 1) || score == -(MATE - 2)) snprintf(buffer, sizeof buffer, "-#");
  else if (score > 0) snprintf(buffer, sizeof buffer, "#%.2d", (MATE + 1 - score) / 2);
  else snprintf(buffer, sizeof buffer, "-#%.2d", (score + MATE + 1) / 2);
  return buffer;
}

// Long time form "hh:mm:s.ss"; the seconds field is not zero-filled.
const char* formatClock(int ms) {
  static char buffer[48];
  const float seconds = float(ms % 60000) / 1000.0f;
  snprintf(buffer, sizeof buffer, "%02d:%02d:%02.2f", ms / 3600000, (ms % 3600000) / 60000, double(seconds));
  return buffer;
}

// Short time form: seconds "12.34" below a minute, "m:ss" below an hour, "h:mm:ss" from an hour.
const char* formatTime(int ms) {
  static char buffer[48];
  if (ms < 60000) snprintf(buffer, sizeof buffer, "%.2f", ms / 1000.0);
  else if (ms < 3600000) snprintf(buffer, sizeof buffer, "%d:%02d", ms / 60000, (ms % 60000) / 1000);
  else snprintf(buffer, sizeof buffer, "%d:%02d:%02d", ms / 3600000, (ms % 3600000) / 60000, (ms % 60000) / 1000);
  return buffer;
}

// nodes of every thread as "%uN" below 10,000, thousands "kN" below 100,000,000, else millions "mN".
const char* formatNodes() {
  static char buffer[48];
  const uint64_t nodes = totalSearchNodes();
  if (nodes < 10000) snprintf(buffer, sizeof buffer, "%" PRIu64 "N", nodes);
  else if (nodes < 100000000) snprintf(buffer, sizeof buffer, "%" PRIu64 "kN", nodes / 1000);
  else snprintf(buffer, sizeof buffer, "%" PRIu64 "mN", nodes / 1000000);
  return buffer;
}

// SAN of a move of the current position that leaves the current ply's move list and scores
// (and the next ply's record) as they were, so it can run between root moves.
const char* rootMoveSAN(Move move) {
  SavedPlies saved(ply);
  return moveToSAN(move);
}

namespace {

// One thinking line of kind THINK_* for the line of count moves with its score, in the active
// protocol's form; number > 0 tags it as that line of a multi-line search ("multipv k" in UCI).
// Silent when post is off, and in console mode below the noise depth unless an EPD test runs.
void printLineOfThought(int score, int kind, const Move* moves, int count, int number) {
  const int elapsed = msSince(searchStart);
  if (!settings.post) return;
  if (consoleMode && engineState != STATE_EPD_TESTING && int(iterDepth) < settings.noise) return;
  const char* line = buildLine(moves, count);
  const uint64_t nodes = totalSearchNodes();
  if (uciMode) {
    printf("info depth %u seldepth %d ", iterDepth, seldepth);
    if (number > 0) printf("multipv %d ", number);
    if (score > MATE_RANGE) printf("score mate %d ", (MATE + 1 - score) / 2);
    else if (score < -MATE_RANGE) printf("score mate %d ", -((score + MATE + 1) / 2));
    else printf("score cp %d ", score);
    if (kind == THINK_FAIL_HIGH) printf("lowerbound ");
    const uint64_t nps = elapsed >= 1000 ? nodes * 1000 / uint64_t(elapsed) : nodes;
    printf("time %d nodes %" PRIu64 " nps %" PRIu64 " pv%s hashfull %d tbhits %d\n", elapsed, nodes, nps, line,
           hashFull(), totalTbHits());
  } else if (xboardMode) {
    if (kind == THINK_FAIL_HIGH) printf("++\n");
    const int shown = settings.abscore && sideToMove == BLACK ? -score : score;
    printf("%u %d %d %" PRIu64 " %s\n", iterDepth, shown, elapsed / 10, nodes, line);
  } else {
    printf("%s\n", line);
    setColour(DARK_GREY);
    printf("%s", kind == THINK_ITERATION ? "->" : kind == THINK_FAIL_HIGH ? "++" : " =");
    // Each formatter has its own buffer, so all four texts stay valid for one call.
    const char* scoreText = formatScore(score);
    printf(" (%s)\tDepth: %u/%d\t%s\t%s (%s)\n", scoreText, iterDepth, seldepth, formatClock(elapsed), formatNodes(),
           formatSpeed(elapsed));
    resetColour();
  }
}

}  // namespace

// The thinking line of kind THINK_* for the principal variation (pvTable row 0) with the root
// score; in a multi-line search it is the first line.
void printThinking(int score, int kind) {
  printLineOfThought(score, kind, pvTable[0], pvLength[0], multiPvLines() > 1 ? 1 : 0);
}

// The lines of a multi-line search at the end of an iteration, best first.
void printRootLines() {
  for (int k = 0; k < rootLineCount; k++)
    printLineOfThought(rootLines[k].score, THINK_ITERATION, rootLines[k].moves, rootLines[k].length, k + 1);
}

// The engine plays move from its opening book, where it holds percent of the position's
// weight: a UCI "info string", an xboard thinking line of depth 0 (which GUIs show with the
// other thinking), a plain line at the console. Silent when post is off.
void printBookMove(Move move, int percent) {
  if (!settings.post) return;
  if (uciMode) {
    printf("info string book move %s (%d%%)\n", moveToUci(move), percent);
    return;
  }
  const char* san = rootMoveSAN(move);
  if (xboardMode) printf("0 0 0 0 %s (book %d%%)\n", san, percent);
  else printf("%d.%s %s (book %d%%)\n", (gamePly + 2) / 2, sideToMove == BLACK ? " ..." : "", san, percent);
}

void printTimeAllocation() {
  printf("time allocated: %s", formatTime(targetTime));
  if (easyMove) printf("   **EASY MOVE DETECTED**");
  printf("\n");
}

void printInfoDepth() { printf("info depth %u\n", iterDepth); }

void printCurrentMove(Move move, int number) {
  printf("info currmove %s currmovenumber %d\n", moveToUci(move), number);
}

// UCI progress line; elapsed is at least a second when it is called.
void printProgress(int elapsed) {
  const uint64_t nodes = totalSearchNodes();
  printf("info time %d nodes %" PRIu64 " nps %" PRIu64 " hashfull %d tbhits %d\n", elapsed, nodes,
         nodes * 1000 / uint64_t(std::max(elapsed, 1)), hashFull(), totalTbHits());
}

void printIcsSummary() {
  const char* speed = formatSpeed(msSince(searchStart));
  const char* scoreText = formatScore(rootScore);
  const char* timeText = formatTime(msSince(searchStart));
  printf("tellall score=%s   depth=%u   time=%s   nodes=%s   nps=%s\n", scoreText, iterDepth, timeText, formatNodes(),
         speed);
}

namespace {

// hits * 100 / probes as a double; 0 when there were no hits.
double hitRate(int hits, int probes) { return hits == 0 || probes == 0 ? 0.0 : hits * 100.0 / probes; }

// The same in whole percent (the database lines); 0 when there were no probes.
double wholeRate(int hits, int probes) { return probes == 0 ? 0.0 : double(int64_t(hits) * 100 / probes); }

}  // namespace

// Console statistics block after a search.
void printStatistics() {
  const SearchStats st = totalSearchStats();
  const uint64_t nodes = totalSearchNodes(), qnodes = totalQuiesceNodes();
  printf("nodes=%" PRIu64 " (%.2f%% qnodes)\n", nodes, nodes == 0 ? 0.0 : double(qnodes * 100 / nodes));
  printf("move ordering: %.2f%%   EBF: ", st.cutoffs == 0 ? 0.0 : st.firstMoveCutoffs * 100.0 / st.cutoffs);
  if (prevIterationTime >= 1000) printf("%.2f\n", double(lastIterationTime) / prevIterationTime);
  else printf("-\n");
  printf("nulls ->  tries=%d   cuts=%d (%.2f%%)\n", st.nullTries, st.nullCuts,
         st.nullTries == 0 ? 0.0 : st.nullCuts * 100.0 / st.nullTries);
  printf("exts  ->  check=%d   1reply=%d   mate=%d\n", st.extCheck, st.extSingleReply, st.extMateThreat);
  printf("          pawn7th=%d   recapt=%d   pawnendgame=%d\n", st.extPawn7th, st.extRecapture, st.extPawnEndgame);
  printf("reds  ->  latemove=%d\n", st.lateMoveReductions);
  printf("hash  ->  search : probes=%d  hits=%d (%.2f%%)\n", st.hashProbes, st.hashHits,
         hitRate(st.hashHits, st.hashProbes));
  printf("          eval   : probes=%d  hits=%d (%.2f%%)\n", st.evalProbes, st.evalHits,
         hitRate(st.evalHits, st.evalProbes));
  printf("egtb  ->  probes=%d   hits=%d (%.2f%%)\n", st.egtbProbes, st.egtbHits, wholeRate(st.egtbHits, st.egtbProbes));
  printf("egbb  ->  probes=%d   hits=%d (%.2f%%)\n", st.egbbProbes, st.egbbHits, wholeRate(st.egbbHits, st.egbbProbes));
  if (easyMove) printf("**THIS WAS EASY**\n");
  printf("\n");
}

void printResignation(const char* result) { printf("%s {Talvek resigns}\n", result); }

void printIcsResignation() { printf("tellall Talvek resigns\n"); }
