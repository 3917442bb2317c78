// Iterative deepening: the per-search reset, the pre-search of the root moves, the iterations
// with their stop rules, the root search and the resign rule.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "search/search.h"

constinit thread_local unsigned iterDepth = 0;
constinit thread_local int rootAlpha = -MATE;
constinit thread_local int rootBeta = MATE;
constinit thread_local int rootScore = -MATE;
constinit thread_local int prevScore = -MATE;
constinit thread_local int scoreDropped = 0;
constinit thread_local int prevScoreDropped = 0;
constinit thread_local int rootResearch = 0;
constinit thread_local int easyMove = 0;
constinit thread_local int rootMovesDone = 0;
unsigned resignStreak = 0;
constinit thread_local int prevIterationTime = 0;
constinit thread_local int lastIterationTime = 0;
int epdIterations = 0;
const char* epdRecord = nullptr;
constinit thread_local RootLine rootLines[MAX_MULTI_PV]{};
constinit thread_local int rootLineCount = 0;

namespace {

constexpr int EASY_MARGIN = 200;  // pre-search lead of an easy move
constexpr int DROP_MARGIN = 50;   // score loss that counts as a drop
constexpr int RESIGN_OPPONENT_TIME = 30000;
constexpr int RESIGN_INCREMENT = 5000;

// Clears everything one search owns, the transposition table excepted.
void resetSearchState() {
  scoreDropped = prevScoreDropped = rootResearch = easyMove = 0;
  stopSearch = 0;
  ply = 0;
  nodes = qnodes = 0;
  nextPoll = limits.nodes != 0 && limits.nodes < POLL_INTERVAL ? limits.nodes : POLL_INTERVAL;
  rootAlpha = -MATE;
  rootBeta = MATE;
  rootScore = prevScore = -MATE;
  rootMovesDone = 0;
  iterDepth = 0;
  seldepth = 0;
  prevIterationTime = lastIterationTime = 0;
  rootLineCount = 0;
  searchStats = SearchStats{};
  std::memset(pvTable, 0, sizeof pvTable);
  std::memset(pvLength, 0, sizeof pvLength);
  std::memset(static_cast<void*>(plyStack), 0, sizeof plyStack);
  std::memset(historyScores, 0, sizeof historyScores);
}

// Counter of iterations in a row whose best move passed the EPD record's test.
int epdStreak = 0;

// True when the best move passes the record's test: absent from an "am" record, present in
// a "bm" record (plain substring tests on the whole line).
void updateEpdStreak() {
  const char* line = epdRecord != nullptr ? epdRecord : "";
  const char* san = rootMoveSAN(pvTable[0][0]);
  if (strstr(line, "am") != nullptr) epdStreak = strstr(line, san) != nullptr ? 0 : epdStreak + 1;
  else if (strstr(line, "bm") != nullptr) epdStreak = strstr(line, san) != nullptr ? epdStreak + 1 : 0;
  else epdStreak = 0;
}

// Keeps only the root moves listed in limits.searchMoves, in their generated order; when none
// of them is legal every move stays.
void keepSearchMoves(PlyRecord& root) {
  int kept = 0;
  for (int i = 0; i < root.moveCount; i++) {
    const Move m = root.moves[i];
    const Move* end = limits.searchMoves + limits.searchMoveCount;
    if (std::find(static_cast<const Move*>(limits.searchMoves), end, m) != end) root.moves[kept++] = m;
  }
  if (kept > 0) root.moveCount = kept;
}

// Keeps the line of root move m, just searched to the exact score s, among the best lines of
// the iteration: after those that score as much, dropping the last when all slots are taken.
// The rest of the line is the one the reply's search left in pvTable row 1.
void keepRootLine(Move m, int s) {
  const int lines = multiPvLines();
  int i = std::min(rootLineCount, lines - 1);
  if (rootLineCount == lines && rootLines[i].score >= s) return;
  for (; i > 0 && rootLines[i - 1].score < s; i--) rootLines[i] = rootLines[i - 1];
  RootLine& line = rootLines[i];
  line.score = s;
  line.moves[0] = m;
  line.length = 1;
  for (int j = 1; j < pvLength[1] && j < MAX_PLY; j++) line.moves[line.length++] = pvTable[1][j];
  rootLineCount = std::min(rootLineCount + 1, lines);
}

}  // namespace

int multiPvLines() { return std::clamp(settings.multiPV, 1, MAX_MULTI_PV); }

// Searches the current position for the engine. Afterwards pvTable[0][0] is the move to play
// (0 only when there is no legal move), pvTable[0][1] the expected reply when the search
// reached it, and rootScore its score. Prints thinking lines, and in console mode the
// allocation line and the statistics; applies the resign rule after a game search.
void think() {
  // 1. Reset
  searchStart = nowMs();
  ttAge = (ttAge + 1) & 7;
  ttStores = 0;
  resetSearchState();
  epdStreak = 0;

  // 2. Root moves
  initPieceLists();
  plyStack[0].checkCount = findCheckers(plyStack[0].checkers);
  genRootMoves();
  PlyRecord& root = plyStack[0];
  if (limits.searchMoveCount > 0) keepSearchMoves(root);

  // 3. Nothing to search; a single move is played at once unless only input ends the search
  if (root.moveCount == 0) return;
  if (root.moveCount == 1 && engineState != STATE_PONDERING && !limits.endless) {
    pvTable[0][0] = root.moves[0];
    pvLength[0] = 1;
    return;
  }

  // 4. Time budget, before the pre-search: in a position full of captures the pre-search
  // polls, and the time check must not judge it by the budget of the search before
  allocateTime();

  // 5. Pre-search: a quiescence score for every root move, then the root order
  for (int i = 0; i < root.moveCount; i++) {
    makeMove(root.moves[i]);
    root.scores[i] = -quiesce(0, -MATE, MATE);
    unmakeMove();
  }
  sortRootMoves();
  const int preSearchBest = root.scores[0];

  // 6. Easy move, announced with the budget
  if (root.moveCount >= 2 && root.scores[0] >= root.scores[1] + EASY_MARGIN) easyMove = 1;
  if (settings.post && consoleMode) printTimeAllocation();

  // 7. Iterations; depths past the table's depth field are not searched. Helper threads, when
  // the threads setting asks for them, search the same root until the main thread's search ends.
  const int lastDepth = std::min(limits.maxDepth, MAX_SEARCH_DEPTH);
  int lineLength = 0;  // of the last completed iteration's line
  startHelpers();
  for (int d = 4; d <= 4 * lastDepth; d += 4) {
    iterDepth = unsigned(d / 4);
    scoreDropped = 0;
    rootResearch = 0;
    seldepth = 0;
    if (uciMode) printInfoDepth();
    const int s = searchRoot(d);
    if (stopSearch) break;
    const int elapsed = msSince(searchStart);
    prevIterationTime = lastIterationTime;
    lastIterationTime = elapsed;
    lineLength = pvLength[0];
    if (multiPvLines() > 1) printRootLines();
    else printThinking(s, THINK_ITERATION);
    int dropped;
    if (iterDepth > 1) {
      dropped = scoreDropped;
      prevScoreDropped = dropped;
      scoreDropped = 0;
    } else {
      dropped = prevScoreDropped;
    }
    prevScore = s;
    // A mate in limits.mate moves or fewer (any number a GUI sends) ends the search.
    if (limits.mate > 0 && MATE - s < MAX_PLY && MATE - s <= 2 * int64_t(limits.mate) - 1) break;
    if (engineState == STATE_THINKING && !limits.untimed && limits.moveTime == 0 && endOfIteration(elapsed, s, dropped))
      break;
    if (engineState == STATE_EPD_TESTING) {
      updateEpdStreak();
      if (epdStreak >= epdIterations) break;
    }
  }
  stopHelpers();

  // A helper that completed a deeper iteration than the main thread (up to the depth asked
  // for) knows better: its line is played, and shown first. Multi-line searches and EPD tests
  // keep the main thread's own lines.
  const int completed = int(iterDepth) - (stopSearch ? 1 : 0);
  if (multiPvLines() == 1 && engineState != STATE_EPD_TESTING && takeDeeperHelperLine(completed, lastDepth))
    printThinking(rootScore, THINK_ITERATION);

  // A stop before the first root move completed leaves no line: play the pre-search's best,
  // with its pre-search score.
  if (pvTable[0][0] == 0) {
    pvTable[0][0] = root.moves[0];
    pvLength[0] = std::max(pvLength[0], 1);
    rootScore = preSearchBest;
  }

  // 8. After the search
  if (icsMode && engineState == STATE_THINKING) printIcsSummary();
  if (settings.post && consoleMode && engineState != STATE_PONDERING) printStatistics();
  if (!uciMode && engineState == STATE_THINKING && checkResign() && icsMode) printIcsResignation();

  // The expected reply: a line cut short by a transposition-table cut-off goes on with the
  // table's move, as its thinking line shows it (row 0 may still hold an older iteration's reply
  // past the line's end, perhaps to another move). An iteration stopped before it found a new
  // best leaves the last completed line, of its own length, in row 0.
  if ((pvLength[0] > 0 ? pvLength[0] : lineLength) < 2) {
    makeMove(pvTable[0][0]);
    pvTable[0][1] = probeTTMove();
    unmakeMove();
  }
}

// One iteration over the root moves at depth quarter plies, the previous best first. Returns
// the best score; on a stop, the best score so far (the caller drops it).
//
// With the multiPV setting at N > 1 the window's floor is the N-th best score found so far
// instead of the best: the first N moves get the full window and every later one that beats
// the N-th line is searched again to its exact score, so rootLines ends up holding the N best
// moves with exact scores. With N = 1 this is the plain principal-variation root search.
int searchRoot(int depth) {
  // 1. Start
  nodes++;
  pvLength[0] = 0;
  int alpha = rootAlpha;
  const int beta = rootBeta;
  int best = -MATE;
  rootMovesDone = 0;
  int n = 0;
  const int lines = multiPvLines();
  rootLineCount = 0;

  // 2. Order: last iteration's best first, ties in pre-search order
  scoreMoves(pvTable[0][0]);

  // 3. Moves
  for (Move m = pickMove(); m != 0; m = pickMove()) {
    if (!legal(m)) continue;
    n++;
    const bool mainThread = searchThreadIndex == 0;
    if (uciMode && mainThread) printCurrentMove(m, n);

    // Check and pawn-to-seventh extensions only, at most one ply
    const bool pawnTo7th =
        typeOf(pieceOf(m)) == PAWN && (sideToMove == WHITE ? rankOf[moveTo(m)] : flippedRank[moveTo(m)]) == 6;
    makeMove(m);
    plyStack[ply].checkCount = findCheckersAfterMove(plyStack[ply].checkers);
    int e = 0;
    if (plyStack[ply].checkCount > 0) {
      e += settings.checkExtension;
      countStat(searchStats.extCheck);
    }
    if (pawnTo7th) {
      e += settings.pawn7thExtension;
      countStat(searchStats.extPawn7th);
    }
    e = std::min(e, 4);

    // Full window for the first move (the first N with N lines), else a null window on the
    // floor, searched again with the full window above the floor when it fails high.
    const bool fullWindow = lines == 1 ? n == 1 : rootLineCount < lines;
    const int floor = lines == 1 ? alpha : fullWindow ? rootAlpha : rootLines[lines - 1].score;
    int s;
    if (fullWindow) {
      s = -search(depth + e - 4, -beta, -floor, 1);
    } else {
      s = -search(depth + e - 4, -floor - 1, -floor, 1);
      if (s > floor && s < beta && !stopSearch) {
        rootResearch = 1;
        easyMove = 0;
        s = -search(depth + e - 4, -beta, -floor, 1);
      }
    }
    unmakeMove();
    if (stopSearch) return best;
    if (lines > 1 && (fullWindow || s > floor)) keepRootLine(m, s);

    if (s > best) {
      best = s;
      rootScore = s;
      if (s > alpha) {
        alpha = s;
        updatePV(m);
        if (iterDepth > 1) {
          if (s <= prevScore - DROP_MARGIN) {
            scoreDropped = 1;
            easyMove = 0;
          } else {
            scoreDropped = 0;
          }
        }
        if (s >= beta) {
          if (mainThread) printThinking(s, THINK_FAIL_HIGH);
          return s;
        }
        if (mainThread) printThinking(s, THINK_NEW_BEST);
      }
    }
    rootMovesDone++;
  }
  return best;
}

// A helper thread's search of the position it copied from the main thread: root moves in the
// main thread's order, iterations at every depth except those the helper leaves out, past the
// main thread's last depth (its deeper entries serve the main thread's last iteration), nothing
// printed. Ends when its poll sees the helpers' stop.
void helperThink(const PlyRecord& root) {
  resetSearchState();
  nextPoll = HELPER_POLL_INTERVAL;
  plyStack[0] = root;
  for (int d = 1; d <= MAX_SEARCH_DEPTH; d++) {
    if (helperSkipsDepth(d)) continue;
    iterDepth = unsigned(d);
    scoreDropped = 0;
    rootResearch = 0;
    seldepth = 0;
    const int s = searchRoot(4 * d);
    if (stopSearch) break;
    publishIteration(d, s);
    prevScore = s;
  }
}

// After a game search: resign when the score has stayed below minus the threshold for the set
// number of searches, unless the opponent is short of time. Returns 1 when it resigned; the
// streak starts again for the next game.
int checkResign() {
  if (opponentClock < RESIGN_OPPONENT_TIME && engineIncrement < RESIGN_INCREMENT) return 0;
  if (rootScore >= -settings.resignThreshold) {
    resignStreak = 0;
    return 0;
  }
  resignStreak++;
  if (resignStreak < unsigned(std::max(settings.resignCount, 0))) return 0;
  printResignation(engineSide != WHITE ? "1-0" : "0-1");
  engineSide = NO_SIDE;
  gameOver = 1;
  resignStreak = 0;
  return 1;
}
