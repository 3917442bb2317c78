// End of the game: fifty moves, threefold repetition, insufficient material, mate, stalemate.
#include <cstdio>

#include "board/board.h"
#include "session/session.h"

// Counts the earlier positions with the current key among those with the same side to move
// since the last capture or pawn move, never looking below the start of the history.
int repetitionCount() {
  int count = 0;
  const int oldest = gamePly - fiftyCount - 1;
  for (int i = gamePly - 2; i >= oldest && i >= 0; i -= 2)
    if (history[i].hashKey == hashKey) count++;
  return count;
}

// Neither side has pawns, rooks or queens, nor more than one minor piece.
static bool insufficientMaterial() {
  for (int c = WHITE; c <= BLACK; c++) {
    const uint8_t* n = typeCount[c];
    if (n[PAWN] || n[ROOK] || n[QUEEN] || n[KNIGHT] + n[BISHOP] >= 2) return false;
  }
  return true;
}

static const char* mateLine() {
  const int mated = sideToMove;
  if (engineSide == NO_SIDE) return mated == WHITE ? "0-1 {Black mates}\n" : "1-0 {White mates}\n";
  if (mated == WHITE)
    return engineSide == WHITE ? "0-1 {Talvek is mated}\n" : "0-1 {Talvek mates}\n";
  return engineSide == BLACK ? "1-0 {Talvek is mated}\n" : "1-0 {Talvek mates}\n";
}

// Tests the current position, whose moves plyStack[ply] must hold. On a game end prints the
// result line, sets engineSide to NO_SIDE and gameOver, and returns 1.
int checkGameEnd() {
  const PlyRecord& rec = plyStack[ply];
  const char* line = nullptr;
  if (fiftyCount >= 100) {
    line = "1/2-1/2 {Draw by fifty move rule}\n";
  } else if (repetitionCount() >= 2) {
    line = "1/2-1/2 {Draw by threefold repetition}\n";
  } else if (insufficientMaterial()) {
    line = "1/2-1/2 {Draw by insufficient material}\n";
  } else if (rec.checkCount && rec.moveCount == 0) {
    line = mateLine();
  } else {
    for (int i = 0; i < rec.moveCount; i++)
      if (legal(rec.moves[i])) return 0;
    line = "1/2-1/2 {Stalemate}\n";
  }
  printf("%s", line);
  engineSide = NO_SIDE;
  gameOver = 1;
  return 1;
}
