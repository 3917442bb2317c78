// Making and unmaking moves: board, piece lists, counts, material, state and the incremental
// hash key in one pass, with the undo state pushed onto history[gamePly].
#include <cassert>
#include <utility>

#include "board/board.h"

namespace {

inline HashKey zobrist(int code, Square sq) { return pieceKeys[code][square64(sq)]; }

// Moves a unit to an empty square, list entry first; returns its slot.
inline int moveUnit(int side, Square from, Square to, int piece) {
  const int slot = listIndex[from];
  pieceList[side][slot] = PieceEntry(to | piece << 8);
  listIndex[to] = uint8_t(slot);
  listIndex[from] = NO_SLOT;
  board[to] = uint8_t(piece);
  board[from] = EMPTY;
  return slot;
}

// Moves a castling king and rook: both leave their squares before either lands, since in
// Chess960 each may land where the other stood, or stay where it is.
inline void shiftKingAndRook(int side, Square kingFrom, Square rookFrom, Square kingTo, Square rookTo) {
  const int king = side * 8 + KING, rook = side * 8 + ROOK;
  const int kingSlot = listIndex[kingFrom], rookSlot = listIndex[rookFrom];
  listIndex[kingFrom] = listIndex[rookFrom] = NO_SLOT;
  board[kingFrom] = board[rookFrom] = EMPTY;
  pieceList[side][kingSlot] = PieceEntry(kingTo | king << 8);
  pieceList[side][rookSlot] = PieceEntry(rookTo | rook << 8);
  listIndex[kingTo] = uint8_t(kingSlot);
  listIndex[rookTo] = uint8_t(rookSlot);
  board[kingTo] = uint8_t(king);
  board[rookTo] = uint8_t(rook);
}

// Castling for makeMove, which has done the king's key: the rook's key, both units, the clock.
[[gnu::noinline]] void makeCastle(Move m, HashKey& key) {
  const CastlePath& p = castlePathOf(m);
  const int rook = sideToMove * 8 + ROOK;
  key ^= zobrist(rook, p.rookFrom) ^ zobrist(rook, p.rookTo);
  shiftKingAndRook(sideToMove, moveFrom(m), p.rookFrom, p.kingTo, p.rookTo);
  fiftyCount++;
}

// Square of the unit a capture takes: beside the mover's origin, on the to-square's file, for
// en passant; the to-square otherwise.
inline Square victimSquare(Move m) {
  return (m & MF_EN_PASSANT) ? (moveFrom(m) & 0x70) | fileOf(moveTo(m)) : moveTo(m);
}

// Square a double push passes over, which becomes the en-passant square.
inline Square passedSquare(Move m) { return (moveFrom(m) + moveTo(m)) / 2; }

// The rarer half of makeMove, done before the mover leaves: captures and double pushes.
[[gnu::noinline]] void makeSpecialMove(Move m, UndoRecord& rec, HashKey& key) {
  const int captured = capturedOf(m);
  const int enemy = otherSide;

  fiftyCount = 0;
  if (m & MF_DOUBLE_PUSH) {
    epSquare = passedSquare(m);
    key ^= zobrist(0, epSquare);
  }

  // The captured unit leaves the board; its slot is only marked GONE.
  if (captured) {
    const Square victim = victimSquare(m);
    const int victimSlot = listIndex[victim];
    key ^= zobrist(captured, victim);
    pieceList[enemy][victimSlot] = PieceEntry(GONE | victim | captured << 8);
    rec.capturedSlot = uint8_t(victimSlot);
    material[enemy] -= pieceValue[captured];
    typeCount[enemy][typeOf(captured)]--;
    listIndex[victim] = NO_SLOT;
    board[victim] = EMPTY;
  }
}

// A promoted pawn gives its slot up to a new piece appended after the last piece slot.
[[gnu::noinline]] void promotePawn(Move m, UndoRecord& rec, int slot, HashKey& key) {
  const Square to = moveTo(m);
  const int piece = pieceOf(m);
  const int promotion = promotionOf(m);
  const int side = sideToMove;
  key ^= zobrist(piece, to) ^ zobrist(promotion, to);
  typeCount[side][PAWN]--;
  typeCount[side][typeOf(promotion)]++;
  material[side] += pieceValue[promotion] - pieceValue[PAWN];
  board[to] = uint8_t(promotion);
  rec.promotedSlot = uint8_t(slot);
  pieceList[side][slot] = PieceEntry(GONE | to | piece << 8);
  const int newSlot = pieceSlots[side]++;
  pieceList[side][newSlot] = PieceEntry(to | promotion << 8);
  listIndex[to] = uint8_t(newSlot);
}

}  // namespace

void makeMove(Move m) {
  UndoRecord& rec = history[gamePly];
  rec.move = m;
  rec.epSquare = epSquare;
  rec.castleRights = castleRights;
  rec.fiftyCount = fiftyCount;
  rec.hashKey = hashKey;

  const Square from = moveFrom(m);
  const Square to = moveTo(m);
  const int piece = pieceOf(m);
  const int side = sideToMove;

  // 1. Key: the mover leaves `from` for `to`, the side flips, the old en-passant square leaves.
  HashKey key = keyAfterNullMove() ^ zobrist(piece, from) ^ zobrist(piece, to);

  // 2. Castling rights lost by touching a king or rook square.
  const int rights = rightsAfter(from, to);
  if (rights != castleRights) {
    key ^= castleKeys[castleRights] ^ castleKeys[rights];
    castleRights = rights;
  }

  // 3. Fifty-move counter and en-passant square, then the mover goes to its square. Captures
  //    and double pushes do the rest of their work apart, a pawn may promote on arrival;
  //    castling moves king and rook apart.
  epSquare = 0;
  if (!(m & 0xFFF00000u)) {
    fiftyCount = typeOf(piece) == PAWN ? 0 : fiftyCount + 1;
    moveUnit(side, from, to, piece);
  } else if (m & MF_CASTLE) {
    makeCastle(m, key);
  } else {
    makeSpecialMove(m, rec, key);
    const int slot = moveUnit(side, from, to, piece);
    if (isPromotion(m)) promotePawn(m, rec, slot, key);
  }
  hashKey = key;
  gamePly++;
  ply++;
  sideToMove = side ^ 1;
  otherSide = side;
  assert(boardIsConsistent());
}

void unmakeMove() {
  otherSide = sideToMove;
  sideToMove ^= 1;
  ply--;
  const UndoRecord& rec = history[--gamePly];
  fiftyCount = rec.fiftyCount;
  epSquare = rec.epSquare;
  castleRights = rec.castleRights;
  hashKey = rec.hashKey;

  const Move m = rec.move;
  const Square from = moveFrom(m);
  const Square to = moveTo(m);
  const int piece = pieceOf(m);
  const int captured = capturedOf(m);
  const int side = sideToMove;
  const int enemy = otherSide;

  // A promotion first hands the square back to the pawn's slot and frees the appended one.
  if (isPromotion(m)) {
    const int promotion = promotionOf(m);
    pieceList[side][listIndex[to]] = GONE;
    pieceSlots[side]--;
    typeCount[side][PAWN]++;
    typeCount[side][typeOf(promotion)]--;
    material[side] += pieceValue[PAWN] - pieceValue[promotion];
    listIndex[to] = rec.promotedSlot;
  }

  if (m & MF_CASTLE) {
    const CastlePath& p = castlePathOf(m);
    shiftKingAndRook(side, p.kingTo, p.rookTo, from, p.rookFrom);
    assert(boardIsConsistent());
    return;
  }

  // The mover goes back (a promoted pawn's slot loses its GONE bit here).
  const int slot = listIndex[to];
  pieceList[side][slot] = PieceEntry(from | piece << 8);
  listIndex[from] = uint8_t(slot);
  listIndex[to] = NO_SLOT;
  board[from] = uint8_t(piece);
  board[to] = EMPTY;

  if (captured) {
    const Square victim = victimSquare(m);
    listIndex[victim] = rec.capturedSlot;
    pieceList[enemy][rec.capturedSlot] = PieceEntry(victim | captured << 8);
    board[victim] = uint8_t(captured);
    material[enemy] += pieceValue[captured];
    typeCount[enemy][typeOf(captured)]++;
  }
  assert(boardIsConsistent());
}

void makeNullMove() {
  UndoRecord& rec = history[gamePly];
  rec.move = 0;
  rec.epSquare = epSquare;
  rec.castleRights = castleRights;
  rec.fiftyCount = fiftyCount;
  rec.hashKey = hashKey;
  changeSideToMove(otherSide);
  fiftyCount++;
  gamePly++;
  ply++;
}

void changeSideToMove(int colour) {
  if (colour == sideToMove) return;
  hashKey = keyAfterNullMove();
  epSquare = 0;
  sideToMove = colour;
  otherSide = colour ^ 1;
}

void unmakeNullMove() {
  ply--;
  sideToMove ^= 1;
  otherSide ^= 1;
  const UndoRecord& rec = history[--gamePly];
  epSquare = rec.epSquare;
  castleRights = rec.castleRights;
  fiftyCount = rec.fiftyCount;
  hashKey = rec.hashKey;
}

// Takes back the last move of the game when the piece lists have been rebuilt since it was made
// (every search and every new root does so): the slots its record names may have been reused.
// The lists are rebuilt once more, without free slots; then the captured unit gets a free slot
// at the end of its list, and a promoted piece moves to the last piece slot with a free pawn
// slot for the pawn, which is where unmakeMove expects them.
void unmakeGameMove() {
  initPieceLists();
  UndoRecord& rec = history[gamePly - 1];
  const Move m = rec.move;
  const int mover = otherSide;
  if (capturedOf(m)) {
    const bool pawn = typeOf(capturedOf(m)) == PAWN;
    const int slot = pawn ? PAWN_SLOT0 + pawnSlots[sideToMove]++ : pieceSlots[sideToMove]++;
    pieceList[sideToMove][slot] = GONE;
    rec.capturedSlot = uint8_t(slot);
  }
  if (isPromotion(m)) {
    const Square to = moveTo(m);
    const int last = pieceSlots[mover] - 1;
    const int slot = listIndex[to];
    const Square other = slotSquare(pieceList[mover][last]);
    std::swap(pieceList[mover][slot], pieceList[mover][last]);
    if (!(pieceList[mover][slot] & GONE)) listIndex[other] = uint8_t(slot);
    listIndex[to] = uint8_t(last);
    const int pawnSlot = PAWN_SLOT0 + pawnSlots[mover]++;
    pieceList[mover][pawnSlot] = GONE;
    rec.promotedSlot = uint8_t(pawnSlot);
  }
  unmakeMove();
}

// Everything makeMove does to the key, without making the move: the mover, the victim, the
// castling rook, the rights and the new en-passant square, on top of nullKey.
HashKey keyAfterSpecialMove(Move m, HashKey nullKey) {
  const Square from = moveFrom(m), to = moveTo(m);
  const int piece = pieceOf(m);
  HashKey key = nullKey ^ zobrist(piece, from) ^ zobrist(isPromotion(m) ? promotionOf(m) : piece, to);
  if (capturedOf(m)) key ^= zobrist(capturedOf(m), victimSquare(m));
  if (m & MF_DOUBLE_PUSH) key ^= zobrist(0, passedSquare(m));
  if (m & MF_CASTLE) {
    const int rook = sideToMove * 8 + ROOK;
    key ^= zobrist(rook, castlePathOf(m).rookFrom) ^ zobrist(rook, castlePathOf(m).rookTo);
  }
  const int rights = rightsAfter(from, to);
  if (rights != castleRights) key ^= castleKeys[castleRights] ^ castleKeys[rights];
  return key;
}
