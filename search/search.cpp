// Main search: fail-soft principal-variation alpha-beta in quarter plies, with draw tests, the
// transposition table, endgame databases, null move, fractional extensions and a late-move
// reduction.
#include <algorithm>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "search/search.h"

constinit thread_local uint64_t nodes = 0;
constinit thread_local uint64_t qnodes = 0;
constinit thread_local uint64_t nextPoll = POLL_INTERVAL;
constinit thread_local int seldepth = 0;
void (*pollHook)() = nullptr;

namespace {

constexpr int ONE_PLY = 4;
constexpr int NULL_DEEP_REDUCTION = 16;   // child depth below a deep node
constexpr int NULL_SHALLOW_REDUCTION = 12;
constexpr int NULL_DEEP_DEPTH = 24;       // deeper than this takes the deep reduction ...
constexpr int NULL_DEEP_DEPTH_LOW = 32;   // ... or this when both sides have little material
constexpr int NULL_LOW_MATERIAL = 900;    // non-pawn material that counts as little
constexpr int LMR_MIN_MOVES = 5;
constexpr int LMR_MIN_DEPTH = 12;
constexpr int LMR_DEPTH = 8;              // reduced searches go this much deeper than quiescence
constexpr int BITBASE_MEN = 5;

bool hasPieces(int colour) {
  const uint8_t* count = typeCount[colour];
  return count[KNIGHT] + count[BISHOP] + count[ROOK] + count[QUEEN] > 0;
}

int countMen() {
  int men = 0;
  for (int colour = 0; colour < 2; colour++)
    for (int type = KING; type <= QUEEN; type++) men += typeCount[colour][type];
  return men;
}

// A pawn move of the side to move that lands on its seventh rank.
bool isPawnTo7th(Move m) {
  if (typeOf(pieceOf(m)) != PAWN) return false;
  const Square to = moveTo(m);
  return (colourOf(pieceOf(m)) == WHITE ? rankOf[to] : flippedRank[to]) == 6;
}

// Endgame databases after the table probe. Returns 1 with *score when one of them answers.
bool probeDatabases(Move lastMove, int* score) {
  const int men = countMen();
  const int tableMen = tablebaseMen();
  if (tableMen != 0 && men <= tableMen && castleRights == 0 && (ply < 3 || isTactical(lastMove))) {
    if (probeTablebases(score)) {
      storeTT(MAX_SEARCH_DEPTH * ONE_PLY, *score, 0, BOUND_EXACT, 0);  // exact at any depth
      return true;
    }
  }
  const int iteration = int(iterDepth);
  if (bitbasesAvailable() && men <= BITBASE_MEN && (men < BITBASE_MEN || ply <= 2 * iteration / 3) &&
      (ply >= iteration / 2 || isTactical(lastMove) || typeOf(pieceOf(lastMove)) == PAWN))
    return probeBitbases(score);
  return false;
}

}  // namespace

// Checkers of the side to move into checkers; the number is returned. Uses the last move when
// there is one (a null move gives no check), else a full scan.
int findCheckStatus(int* checkers) {
  if (gamePly == 0) return findCheckers(checkers);
  if (history[gamePly - 1].move == 0) return 0;
  return findCheckersAfterMove(checkers);
}

// Every POLL_INTERVAL nodes, and at the node limit: lets the front end read waiting input, then
// checks the clock and the node limit (nodes of every thread). On a helper thread, every
// HELPER_POLL_INTERVAL nodes: only the helpers' stop. Returns true when the search must unwind (stopSearch).
bool pollSearch() {
  if (searchThreadIndex != 0) return pollHelper();
  if (pollHook != nullptr) pollHook();
  checkTime();
  if (limits.nodes != 0 && totalSearchNodes() >= limits.nodes) stopSearch = 1;
  if (stopSearch) return true;
  nextPoll = nodes + POLL_INTERVAL;
  if (limits.nodes != 0 && nextPoll > limits.nodes) nextPoll = limits.nodes;
  return false;
}

// Searches the current position depth quarter plies deep; plyStack[ply].checkCount must hold
// the check status. Fail-soft: cut-offs return their score above beta, fail lows the best score
// found. Returns 0 at once, storing nothing, when the search is stopped.
int search(int depth, int alpha, int beta, int nullAllowed) {
  const bool pv = beta - alpha > 1;
  int threat = 0;
  int best = -MATE;
  Move bestMove = 0;
  int bound = BOUND_UPPER;
  int n = 0;

  // 1. Count the node and poll every POLL_INTERVAL nodes
  nodes++;
  if (nodes >= nextPoll && pollSearch()) return 0;

  // 2. Line and depth bookkeeping
  if (ply > seldepth) seldepth = ply;
  pvLength[ply] = ply;
  if (ply >= MAX_PLY - 1) return evaluate();

  // 3. Less than a ply left: quiescence (which counts the node itself)
  if (depth < ONE_PLY) {
    nodes--;
    return quiesce(depth, alpha, beta);
  }

  // 4. Draws; a pawn blockade caps the node at a draw
  if (isRepetitionOrFifty() || isKnownDraw()) return 0;
  if (beta > 0 && isPawnBlockade()) {
    if (alpha >= 0) return 0;
    beta = 0;
  }

  // 5. Transposition table
  int ttScore = 0;
  Move hashMove = 0;
  if (probeTT(depth, alpha, beta, ttScore, hashMove, nullAllowed) != PROBE_NONE) return ttScore;

  // 6. Endgame databases
  const Move lastMove = gamePly > 0 ? history[gamePly - 1].move : 0;
  if (tablebaseMen() != 0 || bitbasesAvailable()) {
    int score;
    if (probeDatabases(lastMove, &score)) return score;
  }

  // 7. Null move
  PlyRecord& rec = plyStack[ply];
  if (nullAllowed && !pv && rec.checkCount == 0 && hasPieces(sideToMove)) {
    const bool low = nonPawnMaterial(WHITE) < NULL_LOW_MATERIAL && nonPawnMaterial(BLACK) < NULL_LOW_MATERIAL;
    countStat(searchStats.nullTries);
    prefetchTT(keyAfterNullMove());
    makeNullMove();
    plyStack[ply].checkCount = 0;
    const int childDepth = depth > (low ? NULL_DEEP_DEPTH_LOW : NULL_DEEP_DEPTH) ? depth - NULL_DEEP_REDUCTION
                                                                                 : depth - NULL_SHALLOW_REDUCTION;
    const int s = -search(childDepth, -beta, -beta + 1, 0);
    unmakeNullMove();
    if (stopSearch) return 0;
    if (s >= beta) {
      countStat(searchStats.nullCuts);
      storeTT(depth, s, 0, BOUND_LOWER, threat);
      return s;
    }
    if (s < -MATE_RANGE) threat = 1;  // a free move lets the opponent mate
  }

  // 8. Generate
  const bool inCheck = rec.checkCount > 0;
  if (inCheck) {
    genEvasions();
    if (rec.moveCount == 0) return ply - MATE;
  } else {
    genMoves();
  }

  // 9. Order, while the children's table entries load (children that still have a ply to go
  //     search before they evaluate, if they evaluate at all)
  prefetchChildren(depth < 2 * ONE_PLY);
  scoreMoves(hashMove);
  MovePicker picker;
  Move m = picker.next();
  if (m == 0) return 0;

  const bool singleReply = inCheck && rec.moveCount == 1;
  const int lastTo = moveTo(lastMove);
  const int lastVictim = pieceValue[capturedOf(lastMove)];

  // 10. Moves
  for (; m != 0; m = picker.next()) {
    if (!legal(m)) continue;
    n++;
    const bool pawnTo7th = isPawnTo7th(m);
    makeMove(m);
    PlyRecord& child = plyStack[ply];
    child.checkCount = findCheckersAfterMove(child.checkers);

    // Extensions, at most one ply in all
    int e = 0;
    if (child.checkCount > 0) {
      e += settings.checkExtension;
      countStat(searchStats.extCheck);
    }
    if (singleReply) {
      e += settings.singleReplyExtension;
      countStat(searchStats.extSingleReply);
    }
    if (threat) {
      e += settings.mateThreatExtension;
      countStat(searchStats.extMateThreat);
    }
    if (pawnTo7th) {
      e += settings.pawn7thExtension;
      countStat(searchStats.extPawn7th);
    }
    if (pv && capturedOf(m) != 0 && int(moveTo(m)) == lastTo && pieceValue[capturedOf(m)] == lastVictim) {
      e += settings.recaptureExtension;
      countStat(searchStats.extRecapture);
    }
    e = std::min(e, ONE_PLY);

    // Principal variation search with a late-move reduction
    int s;
    if (n == 1) {
      s = -search(depth + e - ONE_PLY, -beta, -alpha, 1);
    } else {
      if (n >= LMR_MIN_MOVES && depth >= LMR_MIN_DEPTH && e == 0 && !isTactical(m)) {
        countStat(searchStats.lateMoveReductions);
        s = -search(depth - LMR_DEPTH, -alpha - 1, -alpha, 1);
      } else {
        s = alpha + 1;
      }
      if (s > alpha) {
        s = -search(depth + e - ONE_PLY, -alpha - 1, -alpha, 1);
        if (s > alpha && s < beta && !stopSearch) s = -search(depth + e - ONE_PLY, -beta, -alpha, 1);
      }
    }
    unmakeMove();
    if (stopSearch) return 0;

    if (updateBest(s, m, beta, best, bestMove, alpha, bound)) {
      countStat(searchStats.cutoffs);
      if (n == 1) countStat(searchStats.firstMoveCutoffs);
      updateHistory(m, depth, s);
      storeTT(depth, s, m, BOUND_LOWER, threat);
      return s;
    }
  }

  // 11. No legal move and not in check: stalemate
  if (n == 0) return 0;

  // 12. Store and return
  storeTT(depth, best, bestMove, bound, threat);
  return best;
}
