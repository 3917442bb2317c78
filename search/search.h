// The search: transposition table, move ordering, quiescence and main search, iterative
// deepening with the root search, time management, and every line the search prints.
//
// One search runs at a time over the one global position. think() is the entry point of the
// front ends; it leaves the best line in pvTable row 0 and its score in rootScore. The search
// unwinds through stopSearch (board.h) and never jumps out of the recursion.
#pragma once

#include <atomic>
#include <cstdint>

#include "board/board.h"
#include "session/session.h"
#include "eval/eval.h"

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

constexpr int MATE = 32767;        // score of mating at ply 0; mate at ply p scores MATE - p
constexpr int MATE_RANGE = 32467;  // scores beyond +-MATE_RANGE are mate scores
constexpr int TT_MATE_BOUND = 5000;  // the table shifts scores beyond +-5000 by the node's ply
#ifdef TALVEK_FUZZ
constexpr int POLL_INTERVAL = 500;    // fuzz builds: short searches, so that each input runs fast
#else
constexpr int POLL_INTERVAL = 20000;  // nodes between two input polls and time checks
#endif
constexpr int MAX_SEARCH_DEPTH = 127; // deepest iteration in plies (depth field holds 511 quarters)
constexpr int MAX_MULTI_PV = 16;      // most root lines one search reports (the multiPV setting)
constexpr int MAX_SEARCH_THREADS = 64;     // most threads one search runs on (the threads setting)
constexpr int HELPER_POLL_INTERVAL = 1024; // nodes between two stop checks of a helper thread

// Bound of a stored score.
constexpr int BOUND_NONE = 0;
constexpr int BOUND_UPPER = 1;
constexpr int BOUND_LOWER = 2;
constexpr int BOUND_EXACT = 3;

// Results of probeTT; non-zero means the caller returns the probed score at once.
constexpr int PROBE_NONE = 0;
constexpr int PROBE_UPPER_CUT = 1;
constexpr int PROBE_LOWER_CUT = 2;
constexpr int PROBE_EXACT = 3;

// Kinds of thinking line.
constexpr int THINK_NEW_BEST = 0;   // a new best root move inside an iteration
constexpr int THINK_FAIL_HIGH = 1;  // a root move reached beta
constexpr int THINK_ITERATION = 2;  // end of an iteration

// Ordering score given to a move that pickMove has already returned.
constexpr int SCORE_CONSUMED = -32767;

// ---------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------

// One stored position in two 64-bit words. data holds the best move in its low half and the
// packed word depth (bits 0-8) | score + 65536 (9-25) | bound (26-27) | mate threat (28) |
// age (29-31) in its high half; check holds the position's key XOR data. Search threads read
// and write each word whole (relaxed atomics) without a lock, so an entry two threads wrote at
// once can pair one's check with the other's data: such an entry gives neither key back and
// is never taken for another position.
struct TTEntry {
  uint64_t check;
  uint64_t data;
};
// The stored key (what check and data together say), move and packed word of an entry.
inline uint64_t ttWord(const uint64_t& word) {
  return std::atomic_ref<uint64_t>(const_cast<uint64_t&>(word)).load(std::memory_order_relaxed);
}
inline HashKey ttEntryKey(const TTEntry& e) { return ttWord(e.check) ^ ttWord(e.data); }
inline Move ttEntryMove(const TTEntry& e) { return Move(ttWord(e.data)); }
inline uint32_t ttEntryPacked(const TTEntry& e) { return uint32_t(ttWord(e.data) >> 32); }
static_assert(sizeof(TTEntry) == 16);

constexpr int TT_BUCKET_ENTRIES = 4;
struct alignas(64) TTBucket {
  TTEntry entries[TT_BUCKET_ENTRIES];
};
static_assert(sizeof(TTBucket) == 64);

// One root move's line of a multi-line search: its exact score and the line it heads.
struct RootLine {
  int score;
  int length;            // moves in moves
  Move moves[MAX_PLY];
};

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

// Transposition table (tt.cpp).
extern TTBucket* ttTable;     // bucket array, ttBuckets long; null before initTT
extern uint32_t ttBuckets;    // power of two, at least 1
extern uint32_t ttMask;       // ttBuckets - 1
extern int ttAge;             // generation 0..7, advanced by every search
extern constinit thread_local uint32_t ttStores;     // stores into a slot of another position since the search began

// Move ordering and principal variation (ordering.cpp).
extern constinit thread_local int historyScores[64][64];            // by to-square (Square64) and moving piece code
extern constinit thread_local Move pvTable[MAX_PLY][MAX_PLY];       // row p: best line from ply p, in columns p..
extern constinit thread_local int pvLength[MAX_PLY];                // row p is valid in columns p .. pvLength[p] - 1

// Node counters (search.cpp).
extern constinit thread_local uint64_t nodes;        // main and quiescence nodes of the current search
extern constinit thread_local uint64_t qnodes;       // quiescence nodes
extern constinit thread_local uint64_t nextPoll;     // node count at which the next poll and time check happen
extern constinit thread_local int seldepth;          // deepest ply reached in the current iteration

// Iterative deepening state (think.cpp).
extern constinit thread_local unsigned iterDepth;    // depth of the current iteration in plies
extern constinit thread_local int rootAlpha, rootBeta;  // the root window, always the full one
extern constinit thread_local int rootScore;         // best score of the iteration; after think, that of the move played
extern constinit thread_local int prevScore;         // score of the last completed iteration
extern constinit thread_local int scoreDropped;      // a new best root move scored 50 or more below prevScore
extern constinit thread_local int prevScoreDropped;  // scoreDropped at the end of the previous iteration
extern constinit thread_local int rootResearch;      // a later root move needed a full-window re-search
extern constinit thread_local int easyMove;          // one root move stood 200 above the rest and stayed best
extern constinit thread_local int rootMovesDone;     // root moves completed in the current iteration
extern unsigned resignStreak; // consecutive game searches below the resign threshold
extern constinit thread_local int prevIterationTime; // elapsed ms at the end of the iteration before the last
extern constinit thread_local int lastIterationTime; // elapsed ms at the end of the last completed iteration
// With the multiPV setting above 1, the iteration's best lines so far, best first, ties in the
// order they were found; filled by searchRoot, complete when an iteration ends.
extern constinit thread_local RootLine rootLines[MAX_MULTI_PV];
extern constinit thread_local int rootLineCount;     // lines held in rootLines

// EPD runner hook (think.cpp): while engineState is STATE_EPD_TESTING the search ends once the
// best move has passed the record's am/bm test for epdIterations completed iterations in a row.
extern int epdIterations;     // consecutive passing iterations that end a position
extern const char* epdRecord; // the EPD line being tested; null reads as an empty line

// Input polling hook: called every POLL_INTERVAL nodes before the time check. The front end sets
// it to pollInput at start-up; null (tests, bench) means no polling.
extern void (*pollHook)();

// Search threads (threads.cpp): 0 on the main thread, 1.. on the helpers.
extern constinit thread_local int searchThreadIndex;

// Time management (time.cpp).
extern int targetTime;        // ms the engine means to use on this move
extern int maxTime;           // ms after which the search stops in any case
extern int lastInfoTime;      // elapsed ms of the last periodic UCI progress line

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// Transposition table (tt.cpp).
void initTT(uint32_t bytes);  // (re)allocate and clear, print the size line; exits 1 on failure
void freeTT();                // release the table (quit, resize)
void clearTT();               // zero every entry; age and store count stay
// Starts loading the table bucket of a position (prefetchTT: and its evaluation-cache entry),
// so that its probes a little later find them in the processor's cache.
inline void prefetchTTOnly(HashKey key) { __builtin_prefetch(&ttTable[uint32_t(key) & ttMask]); }
inline void prefetchTT(HashKey key) {
  prefetchTTOnly(key);
  if (evalCache != nullptr) __builtin_prefetch(&evalCache[uint32_t(key) & evalCacheMask]);
}
// Starts loading the table buckets of the positions after every move of plyStack[ply], and
// their evaluation-cache entries too when withEval is set (children about to evaluate). Kept
// inline on purpose: an out-of-line function that only prefetches has no visible effect, and
// link-time optimisation then drops the calls.
inline void prefetchChildren(bool withEval) {
  const PlyRecord& rec = plyStack[ply];
  const HashKey nullKey = keyAfterNullMove();
  for (int i = 0; i < rec.moveCount; i++) {
    const HashKey key = keyAfterMove(rec.moves[i], nullKey);
    if (withEval) prefetchTT(key);
    else prefetchTTOnly(key);
  }
}
void storeTT(int depth, int score, Move move, int bound, int mateThreat);
int probeTT(int depth, int& alpha, int& beta, int& score, Move& move, int& nullAllowed);
Move probeTTMove();           // stored best move of the current position, 0 if none
int hashFull();               // per-mille fill estimate from ttStores

// Move ordering (ordering.cpp).
void scoreMoves(Move hashMove);    // full-width scores of plyStack[ply]
void scoreCaptures(Move hashMove); // quiescence scores of plyStack[ply]
Move pickMove();                   // best unconsumed move of plyStack[ply], 0 when none is left
// Hands out the moves of plyStack[ply] in pickMove's order, one per call, 0 when none is left;
// the list itself is reordered once most of it is still to come. One per node and list.
struct MovePicker {
  static constexpr int SELECT_PICKS = 3;  // picked one by one before the rest is sorted
  int picked = 0;
  int cursor = -1;  // next sorted entry, once sorted
  Move next();

 private:
  static int sortUnpicked(PlyRecord& rec);
};
void updateHistory(Move move, int depth, int score);  // after a beta cut-off
void sortRootMoves();              // plyStack[ply] by descending score (exchange sort)
void updatePV(Move move);          // move raised alpha at ply: it heads that ply's line
// Takes score s of move m into a node's best score and move, and when it raises alpha, into
// alpha, the bound and the line; true when it reaches beta (a cut-off).
inline bool updateBest(int s, Move m, int beta, int& best, Move& bestMove, int& alpha, int& bound) {
  if (s <= best) return false;
  best = s;
  bestMove = m;
  if (s <= alpha) return false;
  alpha = s;
  bound = BOUND_EXACT;
  updatePV(m);
  return s >= beta;
}
int see(Move move);                // material balance of the exchange on the move's to-square

// Searches (quiesce.cpp, search.cpp).
int findCheckStatus(int* checkers);  // checkers of the side to move, from the last move when there is one
bool pollSearch();            // poll and time check, due when nodes reaches nextPoll; true = stop
int quiesce(int depth, int alpha, int beta);
int search(int depth, int alpha, int beta, int nullAllowed);

// Iterative deepening (think.cpp).
void think();                 // search the position; pvTable[0][0] is the move to play
int searchRoot(int depth);    // one iteration at depth quarter plies
int multiPvLines();           // the multiPV setting held to 1..MAX_MULTI_PV
int checkResign();            // the resign rule after a game search; 1 when it resigned

// Search threads (threads.cpp). With the threads setting at 1 nothing is started.
int searchThreadCount();           // threads of the next search, the main one included
void resizeSearchThreads(int count);  // between searches: keep count - 1 helpers (held to 1..64)
void startHelpers();               // main thread: helpers search the current root until stopped
void stopHelpers();                // main thread: helpers unwind; returns once all are idle
bool pollHelper();                 // helper thread: publish counters; true when it must stop
bool helperSkipsDepth(int depth);  // this helper leaves the iteration at depth plies out
void publishIteration(int depth, int score);  // helper thread: its line of a completed iteration
// Main thread, once the helpers are idle: takes the line of the deepest iteration a helper
// completed when it is deeper than completed and at most maxDepth (pvTable row 0, rootScore,
// iterDepth); false when there is none.
bool takeDeeperHelperLine(int completed, int maxDepth);
uint64_t totalSearchNodes();       // nodes of every thread in the current search
uint64_t totalQuiesceNodes();      // quiescence nodes of every thread
uint32_t totalStores();            // ttStores of every thread
int totalTbHits();                 // table hits of every thread in the current search
SearchStats totalSearchStats();    // after a search: the statistics counters of every thread
void helperThink(const PlyRecord& root);  // a helper's iterative deepening (think.cpp)

// Time management (time.cpp).
void allocateTime();          // targetTime and maxTime from the clocks
void checkTime();             // periodic UCI line; may set stopSearch
int endOfIteration(int elapsed, int score, int dropped);  // 1 when deepening must end

// Output (output.cpp). Text helpers return a static buffer, overwritten by the next call.
const char* formatScore(int score);  // "2.50", "draw", "#03", "-#", ...
const char* formatClock(int ms);     // "00:01:5.25"
const char* formatTime(int ms);      // "60.00", "1:01", "1:00:00"
const char* formatNodes();           // nodes as "9999N", "10kN", "123mN"
void printThinking(int score, int kind);  // the thinking line of the active protocol
void printRootLines();               // every line of rootLines, numbered in UCI ("multipv k")
void printBookMove(Move move, int percent);  // the move comes from the opening book
void printTimeAllocation();          // console "time allocated" line
void printInfoDepth();               // UCI "info depth" line
void printCurrentMove(Move move, int number);  // UCI "info currmove" line
void printProgress(int elapsed);     // UCI periodic line
void printIcsSummary();              // ICS "tellall" summary
void printStatistics();              // console statistics block
void printResignation(const char* result);  // "1-0 {Talvek resigns}"
void printIcsResignation();          // ICS "tellall Talvek resigns"
const char* rootMoveSAN(Move move);  // SAN at ply 0 that keeps plyStack[0] and [1] intact

// Benchmark (bench.cpp): fixed positions to a fixed depth; prints nodes, time and speed.
constexpr int BENCH_DEPTH = 9;  // plies: the depth of the search's signature
void runBench(int depth = BENCH_DEPTH);
