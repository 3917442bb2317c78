// Attacks and legal moves of a scratch position: the same geometry as the position's own (the
// step lists and the attack table), over a short list of men instead of the board.
#include <initializer_list>

#include "board/board.h"

namespace {

// The man standing on sq64, -1 when the square is empty.
int manAt(const ScratchPosition& p, int sq64) {
  for (int i = 0; i < p.count; i++)
    if (p.square[i] == sq64) return i;
  return -1;
}

// What a move of the side to move may do on sq (0x88): -2 off the board or held by its own man or
// a king, -1 empty, else the Square64 of the man taken.
int targetOf(const ScratchPosition& p, Square sq) {
  if (!onBoard(sq)) return -2;
  const int man = manAt(p, square64(sq));
  if (man < 0) return -1;
  return p.colour[man] == p.stm || p.type[man] == KING ? -2 : square64(sq);
}

// Adds the position after man `mover` goes to `to` (0x88) as newType, taking the man on victim64
// (-1 for none), when the mover's king is then safe.
void addChild(const ScratchPosition& p, int mover, Square to, int newType, int victim64,
              ScratchPosition* children, int& n, int room) {
  if (n == room) return;
  ScratchPosition& q = children[n];
  q = p;
  q.square[mover] = square64(to);
  q.type[mover] = newType;
  q.stm = p.stm ^ 1;
  q.ep = -1;
  const int victim = victim64 >= 0 ? manAt(p, victim64) : -1;
  if (victim >= 0) {
    q.count--;
    for (int i = victim; i < q.count; i++)
      q.colour[i] = q.colour[i + 1], q.type[i] = q.type[i + 1], q.square[i] = q.square[i + 1];
  }
  if (scratchInCheck(q, p.stm)) return;
  // A double step leaves an en-passant square only when an enemy pawn stands beside it.
  const Square from = square88(p.square[mover]);
  if (p.type[mover] == PAWN && (to - from == 32 || from - to == 32))
    for (Square beside : {to - 1, to + 1}) {
      if (!onBoard(beside)) continue;
      const int man = manAt(q, square64(beside));
      if (man >= 0 && q.colour[man] != p.stm && q.type[man] == PAWN) q.ep = square64((to + from) / 2);
    }
  n++;
}

}  // namespace

bool scratchAttacked(const ScratchPosition& p, int sq64, int colour) {
  const Square target = square88(sq64);
  for (int i = 0; i < p.count; i++) {
    if (p.colour[i] != colour) continue;
    const Square from = square88(p.square[i]);
    const int code = colour * BLACK_BIT + p.type[i];
    const AttackEntry& a = attackEntry(from - target);
    if (from == target || !(a.mask & pieceMask[code])) continue;
    if (!isSlider(code)) return true;
    Square at = from + a.dir;
    while (at != target && manAt(p, square64(at)) < 0) at += a.dir;
    if (at == target) return true;
  }
  return false;
}

bool scratchInCheck(const ScratchPosition& p, int colour) {
  for (int i = 0; i < 2; i++)
    if (p.colour[i] == colour) return scratchAttacked(p, p.square[i], colour ^ 1);
  return false;
}

int genScratchMoves(const ScratchPosition& p, ScratchPosition* children, int room) {
  int n = 0;
  const int us = p.stm;
  const PawnInfo& pawn = pawnInfo[us];
  for (int i = 0; i < p.count && n < room; i++) {
    if (p.colour[i] != us) continue;
    const Square from = square88(p.square[i]);
    const int code = us * BLACK_BIT + p.type[i];
    if (p.type[i] == PAWN) {
      auto pawnTo = [&](Square to, int victim64) {
        if ((to >> 4) != pawn.promoteRank) return addChild(p, i, to, PAWN, victim64, children, n, room);
        for (int type : {QUEEN, ROOK, BISHOP, KNIGHT}) addChild(p, i, to, type, victim64, children, n, room);
      };
      const Square ahead = from + pawn.forward;
      if (targetOf(p, ahead) == -1) {
        pawnTo(ahead, -1);
        if ((from >> 4) == pawn.startRank && targetOf(p, from + pawn.doubleStep) == -1)
          addChild(p, i, from + pawn.doubleStep, PAWN, -1, children, n, room);
      }
      for (const int* d = pieceDirs[code]; *d; d++) {
        const int t = targetOf(p, from + *d);
        if (t >= 0) pawnTo(from + *d, t);
        if (t == -1 && square64(from + *d) == p.ep)
          addChild(p, i, from + *d, PAWN, square64(from + *d - pawn.forward), children, n, room);
      }
      continue;
    }
    for (const int* d = pieceDirs[code]; *d; d++)
      for (Square to = from + *d;; to += *d) {
        const int t = targetOf(p, to);
        if (t == -2) break;
        addChild(p, i, to, p.type[i], t, children, n, room);
        if (t >= 0 || !isSlider(code)) break;
      }
  }
  return n;
}

uint64_t stepSquares64(int code, int sq64) {
  uint64_t squares = 0;
  for (const int* d = pieceDirs[code]; *d; d++)
    if (onBoard(square88(sq64) + *d)) squares |= uint64_t(1) << square64(square88(sq64) + *d);
  return squares;
}
