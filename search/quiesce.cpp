// Quiescence search: captures and queen promotions until the position is quiet, every evasion
// when in check, with stand-pat, an exchange filter and the table at depth 0.
#include "eval/eval.h"
#include "search/search.h"

// Fail-hard below alpha (a fail low returns the possibly stand-pat-raised alpha), fail-soft above
// beta. depth only travels down, reduced by a ply per level. Returns 0 at once when the search
// is stopped.
int quiesce(int depth, int alpha, int beta) {
  // 1. Count the node and poll every POLL_INTERVAL nodes
  nodes++;
  qnodes++;
  if (nodes >= nextPoll && pollSearch()) return 0;

  // 2. Line and depth bookkeeping
  if (ply > seldepth) seldepth = ply;
  pvLength[ply] = ply;
  if (ply >= MAX_PLY - 1) return evaluate();

  // 3. Draws
  if (isRepetitionOrFifty() || isKnownDraw()) return 0;

  // 4. Table at depth 0: may cut off or narrow the window, and gives the move to try first
  int ttScore = 0, scratchNull = 0;
  Move hashMove = 0;
  if (probeTT(0, alpha, beta, ttScore, hashMove, scratchNull) != PROBE_NONE) return ttScore;

  // 5. Static evaluation and check status
  const int standPat = evaluate();
  PlyRecord& rec = plyStack[ply];
  rec.checkCount = findCheckStatus(rec.checkers);

  int best;
  const bool inCheck = rec.checkCount > 0;
  if (inCheck) {
    // 6. In check: every evasion, no stand-pat
    genEvasions();
    if (rec.moveCount == 0) return ply - MATE;
    prefetchChildren(true);
    scoreMoves(hashMove);
    best = -MATE - 1;
  } else {
    // 7. Stand pat, then captures and queen promotions
    if (standPat >= beta) return standPat;
    if (standPat > alpha) alpha = standPat;
    best = standPat;
    genCaptures();
    // Most of these moves lead to leaves that probe the table first thing.
    prefetchChildren(true);
    scoreCaptures(hashMove);
  }

  // 8. Moves
  int bound = BOUND_UPPER;
  Move bestMove = 0;
  for (Move m = pickMove(); m != 0; m = pickMove()) {
    if (!legal(m)) continue;
    if (!inCheck && pieceValue[pieceOf(m)] > pieceValue[capturedOf(m)] && see(m) < 0) continue;
    makeMove(m);
    const int s = -quiesce(depth - 4, -beta, -alpha);
    unmakeMove();
    // A stopped child answered 0: nothing here may be believed or stored.
    if (stopSearch) return 0;
    if (updateBest(s, m, beta, best, bestMove, alpha, bound)) {
      storeTT(0, s, m, BOUND_LOWER, 0);
      return s;
    }
  }

  // 9. Store what was found; a fail low answers alpha
  storeTT(0, best, bestMove, bound, 0);
  return alpha;
}
