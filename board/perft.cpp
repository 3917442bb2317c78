// Perft (leaf count of the legal move tree) and the move-machinery speed test.
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "board/board.h"

namespace {

constexpr int SPEED_ROUNDS = 32000000;
constexpr const char* SPEED_FEN = "r3qb1k/1b4p1/p2pr2p/3n4/Pnp1N1N1/6RP/1B3PP1/1B1QR1K1 w - - 0 1";

// True when an enemy slider stands on a line through the king of the side to move along which
// it moves: only then can one of the side's units be pinned.
bool pinPossible() {
  const Square king = kingSquare(sideToMove);
  const PieceEntry* list = pieceList[otherSide];
  for (int slot = 1, end = pieceSlots[otherSide]; slot < end; slot++) {
    const PieceEntry e = list[slot];
    if (e & GONE) continue;
    const int code = slotCode(e);
    if (isSlider(code) && (attackEntry(slotSquare(e) - king).mask & pieceMask[code])) return true;
  }
  return false;
}

// Number of legal moves in a list generated when not in check. A unit off every line through
// its king, or any unit when no enemy slider could pin it, is legal without further test;
// king moves and en-passant captures always take the full test.
uint64_t countLegal(const Move* moves) {
  const Square king = kingSquare(sideToMove);
  const bool pins = pinPossible();
  uint64_t count = 0;
  for (const Move* m = moves; *m; m++) {
    const bool free = typeOf(pieceOf(*m)) != KING && !(*m & MF_EN_PASSANT) &&
                      (!pins || !(attackEntry(moveFrom(*m) - king).mask & MASK_QUEEN));
    count += free ? 1 : uint64_t(legal(*m));
  }
  return count;
}

// Leaves below a position reached by a move. The last ply is counted in bulk: its legal moves
// are counted without being made (evasions are legal by construction). With `bulk` false
// every leaf is made and unmade instead, which checks make/unmake and the bulk count alike.
template <bool bulk>
uint64_t countBelow(int depth) {
  PlyRecord& rec = plyStack[ply];
  rec.checkCount = findCheckersAfterMove(rec.checkers);
  if (rec.checkCount)
    genEvasions();
  else
    genMoves();
  if (bulk && depth == 1) return rec.checkCount ? uint64_t(rec.moveCount) : countLegal(rec.moves);
  uint64_t nodes = 0;
  for (const Move* m = rec.moves; *m; m++) {
    if (!legal(*m)) continue;
    makeMove(*m);
    nodes += depth == 1 ? 1 : countBelow<bulk>(depth - 1);
    unmakeMove();
  }
  return nodes;
}

// The deepest tree the ply stack and the history can hold from here.
int boundedDepth(int depth) {
  int room = MAX_PLY - 1 - ply;
  if (HISTORY_SIZE - 1 - gamePly < room) room = HISTORY_SIZE - 1 - gamePly;
  return depth < room ? depth : room;
}

int clockMs() { return int(clock() * 1000.0 / CLOCKS_PER_SEC); }

// Seconds of processor time since `startMs`, never 0 so that rates stay finite.
double secondsSince(int startMs) {
  const int ms = clockMs() - startMs;
  return ms > 0 ? ms / 1000.0 : 0.001;
}

void printBanner(const char* rule, const char* title) {
  setColour(15);
  printf("\n\n%s", rule);
  printf("\n%s", title);
  printf("\n%s", rule);
  resetColour();
}

// Leaf count from the current position; the template flag chooses bulk counting at the last ply.
template <bool bulk>
uint64_t countFromRoot(int depth) {
  depth = boundedDepth(depth);
  if (depth <= 0 || positionRejected) return depth <= 0 ? 1 : 0;
  PlyRecord& rec = plyStack[ply];
  genPlyMoves();
  uint64_t nodes = 0;
  for (int i = 0; i < rec.moveCount; i++) {
    const Move m = rec.moves[i];
    if (!legal(m)) continue;
    makeMove(m);
    nodes += depth == 1 ? 1 : countBelow<bulk>(depth - 1);
    unmakeMove();
  }
  return nodes;
}

}  // namespace

uint64_t perftCount(int depth) { return countFromRoot<true>(depth); }

uint64_t perftCountByMaking(int depth) { return countFromRoot<false>(depth); }

void perft(int depth) {
  char fen[FEN_BUFFER];
  getFEN(fen);
  printBanner("                           =======================",
              "                                  P E R F T       ");
  printf("\n\n\nFEN: %s\n\n", fen);
  depth = boundedDepth(depth);
  uint64_t nodes = 0;
  const int start = nowMs();
  PlyRecord& rec = plyStack[ply];
  if (positionRejected) {
    rec.moveCount = 0;
  } else {
    genPlyMoves();
  }
  const int n = rec.moveCount;
  for (int i = 0; i < n; i++) {
    showProgress(double(i) / n);
    const Move m = rec.moves[i];
    if (!legal(m)) continue;
    makeMove(m);
    nodes += depth <= 1 ? 1 : countBelow<true>(depth - 1);
    unmakeMove();
  }
  showProgress(n ? 1.0 : 0.0);  // a position without moves shows an empty bar
  int elapsed = msSince(start);
  if (elapsed <= 0) elapsed = 1;
  printf("\n\n\n");
  printf("perft nodes: %" PRIu64 "\n", nodes);
  printf("used time: %.2fs\n", elapsed / 1000.0);
  printf("nodes/sec: %d\n\n\n", int(nodes / uint64_t(elapsed) * 1000));
}

void speedTest() {
  printBanner("                       =================================",
              "                              S P E E D   T E S T       ");
  printf("\n\n\nFEN: %s\n\n", SPEED_FEN);
  setBoard(SPEED_FEN);
  PlyRecord& rec = plyStack[ply];
  rec.checkCount = findCheckers(rec.checkers);
  showProgress(0.0);
  const int start = nowMs();
  volatile int sink = 0;

  int t0 = clockMs();
  for (int i = 0; i < SPEED_ROUNDS; i++) genMoves();
  const double genTime = secondsSince(t0);
  showProgress(0.25);

  const int n = rec.moveCount;
  int k = 0;
  t0 = clockMs();
  for (int i = 0; i < SPEED_ROUNDS && n; i++) {
    makeMove(rec.moves[k]);
    unmakeMove();
    if (++k == n) k = 0;
  }
  const double makeTime = secondsSince(t0);
  showProgress(0.5);

  k = 0;
  t0 = clockMs();
  for (int i = 0; i < SPEED_ROUNDS && n; i++) {
    if (legal(rec.moves[k])) {
      makeMove(rec.moves[k]);
      unmakeMove();
    }
    if (++k == n) k = 0;
  }
  const double legalTime = secondsSince(t0);
  showProgress(0.75);

  k = 0;
  t0 = clockMs();
  for (int i = 0; i < SPEED_ROUNDS && n; i++) {
    makeMove(rec.moves[k]);
    sink = sink + inCheck(otherSide);
    unmakeMove();
    if (++k == n) k = 0;
  }
  const double checkTime = secondsSince(t0);
  showProgress(1.0);

  printf("\n\n\n");
  printf("used time: %.2fs\n", msSince(start) / 1000.0);
  printf("genMoves(): %d/s\n", int(SPEED_ROUNDS / genTime));
  printf("make/unmakeMove(): %d/s\n", int(SPEED_ROUNDS / makeTime));
  printf("make/unmakeMove() + legal(): %d/s\n", int(SPEED_ROUNDS / legalTime));
  printf("make/unmakeMove() + inCheck(): %d/s\n\n\n", int(SPEED_ROUNDS / checkTime));
}

// Draws a 20-block bar and the percentage on the current line. On a terminal the blocks are
// the Unicode full block and light shade in colour; when standard output is not a terminal
// (a pipe or a file) they are '#' and '.' and no colour is set.
void showProgress(double fraction) {
  const int filled = int(fraction * 20.0);
  const bool terminal = outputIsTerminal();
  printf("\rProgress: ");
  setColour(9);
  for (int i = 0; i < filled; i++) printf("%s", terminal ? "\u2588" : "#");
  setColour(8);
  for (int i = filled; i < 20; i++) printf("%s", terminal ? "\u2591" : ".");
  resetColour();
  printf(" %.2f%%", fraction * 100.0);
}
