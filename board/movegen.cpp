// Move generation into plyStack[ply]: all pseudo-legal moves, captures and queen promotions,
// evasions from check and the legal root moves. The emission order is fixed (pieces in slot
// order, pawns, en passant, castling, king) because ordering, perft and move text rely on it.
#include <cstdlib>

#include "board/board.h"

namespace {

// Appends the four promotions of one pawn move, queen first, knight last.
inline Move* addPromotions(Move* out, Square from, Square to, int pawn, int captured) {
  const int colourBits = pawn & BLACK_BIT;
  for (int type = QUEEN; type >= KNIGHT; type--)
    *out++ = makeMoveWord(from, to, pawn, captured, colourBits | type);
  return out;
}

inline void finishList(Move* out) {
  PlyRecord& rec = plyStack[ply];
  *out = 0;
  rec.moveCount = int(out - rec.moves);
}

// One ray of a slider: quiet moves to the empty squares, nearest first, then the capture of an
// enemy unit on the first occupied square. Steps are template arguments: one loop per ray.
template <int colour, int dir, bool quiet>
[[gnu::always_inline]] inline Move* slide(Move* out, Square from, Move base) {
  Square to = from + dir;
  while (board[to] == EMPTY) {
    if (quiet) *out++ = base | Move(to) << 8;
    to += dir;
  }
  if (colourOf(board[to]) == (colour ^ 1)) *out++ = base | Move(to) << 8 | Move(board[to]) << 24;
  return out;
}

// One knight jump: a quiet move to an empty square or the capture of an enemy unit.
template <int colour, int dir, bool quiet>
[[gnu::always_inline]] inline Move* jump(Move* out, Square from, Move base) {
  const Square to = from + dir;
  const int target = board[to];
  if (target == EMPTY) {
    if (quiet) *out++ = base | Move(to) << 8;
  } else if (colourOf(target) == (colour ^ 1)) {
    *out++ = base | Move(to) << 8 | Move(target) << 24;
  }
  return out;
}

// Quiet moves and captures of the pieces in slots 1 onward (the king excluded), each piece's
// directions in the order of its pieceDirs row (Black's rows are White's negated).
template <int colour, bool quiet>
Move* pieceMoves(Move* out) {
  constexpr int s = colour == WHITE ? 1 : -1;
  const PieceEntry* list = pieceList[colour];
  for (int slot = 1, end = pieceSlots[colour]; slot < end; slot++) {
    const PieceEntry e = list[slot];
    if (e & GONE) continue;
    const Square from = slotSquare(e);
    const int code = slotCode(e);
    const Move base = makeMoveWord(from, 0, code);
    switch (typeOf(code)) {
      case KNIGHT:
        out = jump<colour, 33 * s, quiet>(out, from, base);
        out = jump<colour, 31 * s, quiet>(out, from, base);
        out = jump<colour, 18 * s, quiet>(out, from, base);
        out = jump<colour, 14 * s, quiet>(out, from, base);
        out = jump<colour, -14 * s, quiet>(out, from, base);
        out = jump<colour, -18 * s, quiet>(out, from, base);
        out = jump<colour, -31 * s, quiet>(out, from, base);
        out = jump<colour, -33 * s, quiet>(out, from, base);
        break;
      case BISHOP:
        out = slide<colour, 17 * s, quiet>(out, from, base);
        out = slide<colour, 15 * s, quiet>(out, from, base);
        out = slide<colour, -15 * s, quiet>(out, from, base);
        out = slide<colour, -17 * s, quiet>(out, from, base);
        break;
      case ROOK:
        out = slide<colour, 16 * s, quiet>(out, from, base);
        out = slide<colour, 1 * s, quiet>(out, from, base);
        out = slide<colour, -1 * s, quiet>(out, from, base);
        out = slide<colour, -16 * s, quiet>(out, from, base);
        break;
      case QUEEN:
        out = slide<colour, 17 * s, quiet>(out, from, base);
        out = slide<colour, 16 * s, quiet>(out, from, base);
        out = slide<colour, 15 * s, quiet>(out, from, base);
        out = slide<colour, 1 * s, quiet>(out, from, base);
        out = slide<colour, -1 * s, quiet>(out, from, base);
        out = slide<colour, -15 * s, quiet>(out, from, base);
        out = slide<colour, -16 * s, quiet>(out, from, base);
        out = slide<colour, -17 * s, quiet>(out, from, base);
        break;
      default:
        break;
    }
  }
  return out;
}

// Pawn captures and advances; without quiet moves only captures (queen promotion on the last
// rank) and the advance onto the last rank (queen only) remain.
template <int side, bool quiet>
Move* pawnMoves(Move* out) {
  constexpr int enemy = side ^ 1;
  constexpr int pawn = side * 8 + PAWN;
  constexpr int queen = side * 8 + QUEEN;
  constexpr PawnInfo info = pawnInfo[side];
  constexpr int caps[2] = {pieceDirs[pawn][0], pieceDirs[pawn][1]};
  constexpr int preRank = info.promoteRank - info.forward / 16;  // the rank before the last
  const PieceEntry* list = pieceList[side];
  for (int slot = PAWN_SLOT0, end = PAWN_SLOT0 + pawnSlots[side]; slot < end; slot++) {
    const PieceEntry e = list[slot];
    if (e & GONE) continue;
    const Square from = slotSquare(e);
    const bool promoting = (from >> 4) == preRank;
    for (int i = 0; i < 2; i++) {
      const Square to = from + caps[i];
      const int target = board[to];
      if (colourOf(target) != enemy) continue;
      if (!promoting)
        *out++ = makeMoveWord(from, to, pawn, target);
      else if (quiet)
        out = addPromotions(out, from, to, pawn, target);
      else
        *out++ = makeMoveWord(from, to, pawn, target, queen);
    }
    const Square to = from + info.forward;
    if (board[to] != EMPTY) continue;
    if (promoting) {
      if (quiet)
        out = addPromotions(out, from, to, pawn, 0);
      else
        *out++ = makeMoveWord(from, to, pawn, 0, queen);
    } else if (quiet) {
      *out++ = makeMoveWord(from, to, pawn);
      if ((from >> 4) == info.startRank && board[to + info.forward] == EMPTY)
        *out++ = makeMoveWord(from, to + info.forward, pawn, 0, 0, MF_DOUBLE_PUSH);
    }
  }
  return out;
}

Move* enPassantMoves(Move* out) {
  if (!epSquare) return out;
  const int pawn = sideToMove * 8 + PAWN;
  const int* caps = pieceDirs[pawn];
  for (int i = 0; i < 2; i++) {
    const Square from = epSquare - caps[i];
    if (board[from] == pawn)
      *out++ = makeMoveWord(from, epSquare, pawn, otherSide * 8 + PAWN, 0, MF_EN_PASSANT);
  }
  return out;
}

// One castling move when its path is empty and safe. The rook is lifted while the king's
// squares are tested: once it has gone, it no longer shields them along the back rank.
inline Move* castleIfFree(Move* out, int right, Square king, int code, Move flag) {
  const CastlePath& p = castlePaths[right];
  for (int i = 0; i < p.emptyCount; i++)
    if (board[p.empty[i]] != EMPTY) return out;
  const uint8_t rook = board[p.rookFrom];
  board[p.rookFrom] = EMPTY;
  bool safe = true;
  for (int i = 0; i < p.safeCount && safe; i++) safe = !isAttacked(p.safe[i], otherSide);
  board[p.rookFrom] = rook;
  if (safe) *out++ = makeMoveWord(king, p.kingTo, code, 0, 0, flag);
  return out;
}

// Castling for any start squares of king and rook (Chess960 included), king side first.
Move* castlingMoves(Move* out) {
  const int side = sideToMove;
  if (!(castleRights & (3 << 2 * side)) || plyStack[ply].checkCount) return out;
  const Square king = kingSquare(side);
  const int code = side * 8 + KING;
  if (castleRights & (CASTLE_WK << 2 * side)) out = castleIfFree(out, 2 * side, king, code, MF_SHORT_CASTLE);
  if (castleRights & (CASTLE_WQ << 2 * side)) out = castleIfFree(out, 2 * side + 1, king, code, MF_LONG_CASTLE);
  return out;
}

template <int colour, bool quiet>
Move* kingMoves(Move* out) {
  constexpr int s = colour == WHITE ? 1 : -1;
  const Square from = kingSquare(colour);
  const Move base = makeMoveWord(from, 0, colour * 8 + KING);
  out = jump<colour, 17 * s, quiet>(out, from, base);
  out = jump<colour, 16 * s, quiet>(out, from, base);
  out = jump<colour, 15 * s, quiet>(out, from, base);
  out = jump<colour, 1 * s, quiet>(out, from, base);
  out = jump<colour, -1 * s, quiet>(out, from, base);
  out = jump<colour, -15 * s, quiet>(out, from, base);
  out = jump<colour, -16 * s, quiet>(out, from, base);
  out = jump<colour, -17 * s, quiet>(out, from, base);
  return out;
}

// A pinned unit may only move along its pin line.
inline bool mayMoveAlong(Square from, int step) {
  const int pin = pinDirection(from);
  return pin == 0 || abs(pin) == abs(step);
}

// Evasions of a single check other than king moves: pawn captures of the checker, pawn blocks,
// piece captures and blocks, en passant.
Move* interpositions(Move* out) {
  const int side = sideToMove;
  const int pawn = side * 8 + PAWN;
  const PawnInfo& info = pawnInfo[side];
  const Square king = kingSquare(side);
  const Square checker = plyStack[ply].checkers[0];
  const int checkerCode = board[checker];
  const int* caps = pieceDirs[pawn];

  // 1. Pawn captures of the checker.
  for (int i = 0; i < 2; i++) {
    const Square from = checker - caps[i];
    if (board[from] != pawn || !mayMoveAlong(from, caps[i])) continue;
    if (rankOf[checker] == info.promoteRank)
      out = addPromotions(out, from, checker, pawn, checkerCode);
    else
      *out++ = makeMoveWord(from, checker, pawn, checkerCode);
  }

  // 2. Pawn blocks on the squares between a distant slider and the king.
  const int toward = isSlider(checkerCode) ? attackEntry(checker - king).dir : 0;
  if (toward) {
    for (Square s = checker + toward; s != king; s += toward) {
      const Square from = s - info.forward;
      if (board[from] == pawn) {
        if (!mayMoveAlong(from, 16)) continue;
        if (rankOf[s] == info.promoteRank)
          out = addPromotions(out, from, s, pawn, 0);
        else
          *out++ = makeMoveWord(from, s, pawn);
      } else if (board[from] == EMPTY && board[from - info.forward] == pawn &&
                 rankOf[from - info.forward] == info.startRank &&
                 mayMoveAlong(from - info.forward, 16)) {
        *out++ = makeMoveWord(from - info.forward, s, pawn, 0, 0, MF_DOUBLE_PUSH);
      }
    }
  }

  // 3. Piece captures of the checker and blocks, target by target from the checker on.
  for (Square t = checker;; t += toward) {
    if (t == king) break;
    const int captured = t == checker ? checkerCode : 0;
    for (int slot = 1, end = pieceSlots[side]; slot < end; slot++) {
      const PieceEntry e = pieceList[side][slot];
      if (e & GONE) continue;
      const Square from = slotSquare(e);
      const int code = slotCode(e);
      const AttackEntry& a = attackEntry(from - t);
      if (!(a.mask & pieceMask[code])) continue;
      if (isSlider(code) && !rayReaches(from, a.dir, t)) continue;
      if (!mayMoveAlong(from, a.dir)) continue;
      *out++ = makeMoveWord(from, t, code, captured);
    }
    if (!toward) break;
  }

  // 4. En passant, kept when it leaves the king safe.
  if (epSquare) {
    for (int i = 0; i < 2; i++) {
      const Square from = epSquare - caps[i];
      if (board[from] != pawn) continue;
      const Move m = makeMoveWord(from, epSquare, pawn, otherSide * 8 + PAWN, 0, MF_EN_PASSANT);
      makeMove(m);
      const bool safe = !inCheck(side);
      unmakeMove();
      if (safe) *out++ = m;
    }
  }
  return out;
}

template <int colour>
void genMovesOf() {
  Move* out = plyStack[ply].moves;
  out = pieceMoves<colour, true>(out);
  out = pawnMoves<colour, true>(out);
  out = enPassantMoves(out);
  out = castlingMoves(out);
  out = kingMoves<colour, true>(out);
  finishList(out);
}

template <int colour>
void genCapturesOf() {
  Move* out = plyStack[ply].moves;
  out = pieceMoves<colour, false>(out);
  out = pawnMoves<colour, false>(out);
  out = enPassantMoves(out);
  out = kingMoves<colour, false>(out);
  finishList(out);
}

}  // namespace

void genMoves() {
  if (sideToMove == WHITE)
    genMovesOf<WHITE>();
  else
    genMovesOf<BLACK>();
}

void genCaptures() {
  if (sideToMove == WHITE)
    genCapturesOf<WHITE>();
  else
    genCapturesOf<BLACK>();
}

void genEvasions() {
  Move* out = plyStack[ply].moves;
  if (plyStack[ply].checkCount == 1) out = interpositions(out);

  // King moves, with the king lifted so that a checking slider sees through its square.
  const Square from = kingSquare(sideToMove);
  const int code = board[from];
  const Move base = makeMoveWord(from, 0, code);
  board[from] = EMPTY;
  for (const int* d = pieceDirs[code]; *d; d++) {
    const Square to = from + *d;
    const int target = board[to];
    if (target != EMPTY && colourOf(target) != otherSide) continue;
    if (isAttacked(to, otherSide)) continue;
    *out++ = base | Move(to) << 8 | Move(target == EMPTY ? 0 : target) << 24;
  }
  board[from] = uint8_t(code);
  finishList(out);
}

void genRootMoves() {
  PlyRecord& rec = plyStack[ply];
  if (positionRejected) {
    rec.moves[0] = 0;
    rec.moveCount = 0;
    return;
  }
  if (rec.checkCount) {
    genEvasions();
    return;
  }
  genMoves();
  int kept = 0;
  for (int i = 0; i < rec.moveCount; i++)
    if (legal(rec.moves[i])) rec.moves[kept++] = rec.moves[i];
  rec.moves[kept] = 0;
  rec.moveCount = kept;
}

void genPlyMoves() {
  PlyRecord& rec = plyStack[ply];
  rec.checkCount = findCheckers(rec.checkers);
  if (rec.checkCount)
    genEvasions();
  else
    genMoves();
}
