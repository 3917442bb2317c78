// Attack and check detection on one table indexed by the difference of two squares: whether a
// square is attacked, who gives check, pins, and the cheap legality test of generated moves.
#include <cstdlib>

#include "board/board.h"

AttackEntry attackTable[256];
uint8_t distanceTable[256];

void initAttackTable() {
  for (auto& e : attackTable) e = AttackEntry{0, 0};
  for (Square origin = 0; origin < 128; origin++) {
    if (!onBoard(origin)) continue;
    for (int code = 1; code <= 14; code++) {
      for (const int* d = pieceDirs[code]; *d; d++) {
        for (Square t = origin + *d; onBoard(t) && t >= 0 && t < 128; t += *d) {
          AttackEntry& e = attackTable[origin - t + 128];
          e.mask |= pieceMask[code];
          e.dir = int8_t(*d);
          if (!isSlider(code)) break;
        }
      }
    }
  }
}

void initDistanceTable() {
  for (auto& d : distanceTable) d = 0;
  for (Square a = 0; a < 128; a++) {
    for (Square b = 0; b < 128; b++) {
      if (!onBoard(a) || !onBoard(b)) continue;
      const int files = abs(fileOf(a) - fileOf(b));
      const int ranks = abs((a >> 4) - (b >> 4));
      distanceTable[a - b + 128] = uint8_t(files > ranks ? files : ranks);
    }
  }
}

int isAttacked(Square sq, int colour) {
  const PieceEntry* list = pieceList[colour];
  for (int slot = 0, end = pieceSlots[colour]; slot < end; slot++) {
    const PieceEntry e = list[slot];
    if (e & GONE) continue;
    const Square from = slotSquare(e);
    const int code = slotCode(e);
    const AttackEntry& a = attackEntry(from - sq);
    if (!(a.mask & pieceMask[code])) continue;
    if (!isSlider(code) || rayReaches(from, a.dir, sq)) return 1;
  }
  const int pawn = colour * 8 + PAWN;
  const int* d = pieceDirs[pawn];
  return board[sq - d[0]] == pawn || board[sq - d[1]] == pawn;
}

int inCheck(int colour) { return isAttacked(kingSquare(colour), colour ^ 1); }

// Squares of the units of the side not to move that attack the king of the side to move:
// pieces in slot order, then pawns. Stores at most `room` squares, returns the full number.
static int collectCheckers(int* out, int room) {
  const int enemy = otherSide;
  const Square king = kingSquare(sideToMove);
  int n = 0;
  for (int slot = 0, end = pieceSlots[enemy]; slot < end; slot++) {
    const PieceEntry e = pieceList[enemy][slot];
    if (e & GONE) continue;
    const Square from = slotSquare(e);
    const int code = slotCode(e);
    const AttackEntry& a = attackEntry(from - king);
    if (!(a.mask & pieceMask[code])) continue;
    if (!isSlider(code) || rayReaches(from, a.dir, king)) {
      if (n < room) out[n] = from;
      n++;
    }
  }
  const uint8_t pawnMask = pieceMask[enemy * 8 + PAWN];
  for (int slot = PAWN_SLOT0, end = PAWN_SLOT0 + pawnSlots[enemy]; slot < end; slot++) {
    const PieceEntry e = pieceList[enemy][slot];
    if (e & GONE) continue;
    const Square from = slotSquare(e);
    if (attackEntry(from - king).mask & pawnMask) {
      if (n < room) out[n] = from;
      n++;
    }
  }
  return n;
}

int findCheckers(int* out) { return collectCheckers(out, 2); }

int countCheckers() {
  int ignored[1];
  return collectCheckers(ignored, 0);
}

int findCheckersAfterMove(int* out) {
  const Move m = history[gamePly - 1].move;
  if (m == 0) return 0;
  if (m & MF_SPECIAL) return findCheckers(out);
  const Square from = moveFrom(m);
  const Square to = moveTo(m);
  const Square king = kingSquare(sideToMove);
  int n = 0;

  // Direct check by the unit that moved.
  const int code = board[to];
  const AttackEntry& direct = attackEntry(to - king);
  if ((direct.mask & pieceMask[code]) && (!isSlider(code) || rayReaches(to, direct.dir, king)))
    out[n++] = to;

  // Discovered check through the square it left.
  const AttackEntry& line = attackEntry(from - king);
  if (line.mask & MASK_QUEEN) {
    const int d = line.dir;
    Square q = from - d;
    while (board[q] == EMPTY) q -= d;
    const int behind = board[q];
    if (colourOf(behind) == otherSide && (attackEntry(q - king).mask & pieceMask[behind]) &&
        rayReaches(from, d, king))
      out[n++] = q;
  }
  return n;
}

int pinDirection(Square sq) {
  const int code = board[sq];
  const int c = colourOf(code);
  const Square king = kingSquare(c);
  const AttackEntry& line = attackEntry(sq - king);
  if (!(line.mask & MASK_QUEEN)) return 0;
  const int d = line.dir;
  Square q = sq - d;
  while (board[q] == EMPTY) q -= d;
  const int pinner = board[q];
  if (colourOf(pinner) == (c ^ 1) && isSlider(pinner) &&
      (attackEntry(q - king).mask & pieceMask[pinner]) && rayReaches(sq, d, king))
    return d;
  return 0;
}

// The en-passant capture is decided by playing it: besides the two pawns leaving the king's
// rank, the captured pawn itself may have been shielding the king (set-up positions only).
static int epCaptureIsSafe(Move m) {
  const int mover = sideToMove;
  makeMove(m);
  const int safe = !inCheck(mover);
  unmakeMove();
  return safe;
}

int legal(Move m) {
  // 1. Moves generated in check are evasions, legal by construction.
  if (plyStack[ply].checkCount) return 1;
  const Square from = moveFrom(m);
  const Square to = moveTo(m);
  // 2. The king (castling included) must not land on an attacked square.
  if (typeOf(pieceOf(m)) == KING) return !isAttacked(to, otherSide);
  if (m & MF_EN_PASSANT) return epCaptureIsSafe(m);
  // 3. A unit off every line through its king cannot be pinned.
  const Square king = kingSquare(sideToMove);
  const AttackEntry& line = attackEntry(from - king);
  if (!(line.mask & MASK_QUEEN)) return 1;
  // 4. Moving along the line towards or away from the king keeps any pin closed.
  if (line.dir == attackEntry(to - king).dir) return 1;
  // 5. Is an enemy slider of the right kind behind the unit, with nothing between it and the king?
  Square q = from - line.dir;
  while (board[q] == EMPTY) q -= line.dir;
  const int behind = board[q];
  if (colourOf(behind) != otherSide || !(pieceMask[behind] & line.mask) || !isSlider(behind))
    return 1;
  return !rayReaches(from, line.dir, king);
}
