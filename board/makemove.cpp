// Making and unmaking moves: board, piece lists, counts, material, state and the incremental
// hash key in one pass, with the undo state pushed onto history[gamePly].
#include <cassert>

#include "board/board.h"

namespace {

inline HashKey zobrist(int code, Square sq) { return pieceKeys[code][square64(sq)]; }

// Moves the rook of a castling move between two squares, list entry and board together.
inline void shiftRook(int side, Square from, Square to) {
  const int slot = listIndex[from];
  pieceList[side][slot] = PieceEntry((pieceList[side][slot] & ~0xFF) | to);
  listIndex[to] = uint8_t(slot);
  listIndex[from] = NO_SLOT;
  board[to] = board[from];
  board[from] = EMPTY;
}

// Square of the rook before and after castling, for a king starting on `kingFrom`.
inline Square rookOrigin(Move m, Square kingFrom) {
  return (m & MF_SHORT_CASTLE) ? kingFrom + 3 : kingFrom - 4;
}
inline Square rookTarget(Move m, Square kingFrom) {
  return (m & MF_SHORT_CASTLE) ? kingFrom + 1 : kingFrom - 1;
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
  const int captured = capturedOf(m);
  const int promotion = promotionOf(m);
  const int side = sideToMove;
  const int enemy = otherSide;

  // 1. Key: the mover leaves `from` and arrives (promoted or not) on `to`; the side flips and
  //    the old en-passant square leaves the key.
  HashKey key = hashKey ^ zobrist(piece, from) ^ zobrist(promotion ? promotion : piece, to) ^ SIDE_KEY;
  if (epSquare) key ^= zobrist(0, epSquare);

  // 2. State: fifty-move counter, en-passant square, the castling rook.
  if (m & MF_CASTLE) {
    const Square rookFrom = rookOrigin(m, from);
    const Square rookTo = rookTarget(m, from);
    const int rook = side * 8 + ROOK;
    key ^= zobrist(rook, rookFrom) ^ zobrist(rook, rookTo);
    shiftRook(side, rookFrom, rookTo);
    fiftyCount++;
    epSquare = 0;
  } else if (isTactical(m) || typeOf(piece) == PAWN) {
    fiftyCount = 0;
    if (m & MF_DOUBLE_PUSH) {
      epSquare = to + pawnInfo[enemy].forward;
      key ^= zobrist(0, epSquare);
    } else {
      epSquare = 0;
    }
  } else {
    fiftyCount++;
    epSquare = 0;
  }

  // 3. Castling rights lost by touching a king or rook square.
  const int rights = castleRights & castleMask[from] & castleMask[to];
  if (rights != castleRights) {
    key ^= castleKeys[castleRights] ^ castleKeys[rights];
    castleRights = rights;
  }

  // 4. The mover's list entry follows it.
  const int slot = listIndex[from];
  pieceList[side][slot] = PieceEntry((pieceList[side][slot] & ~0xFF) | to);

  // 5. The captured unit leaves the board; its slot is only marked GONE.
  if (captured) {
    const Square victim = (m & MF_EN_PASSANT) ? to + pawnInfo[enemy].forward : to;
    const int victimSlot = listIndex[victim];
    key ^= zobrist(captured, victim);
    pieceList[enemy][victimSlot] |= GONE;
    rec.capturedSlot = uint8_t(victimSlot);
    material[enemy] -= pieceValue[captured];
    typeCount[enemy][typeOf(captured)]--;
    if (m & MF_EN_PASSANT) {
      listIndex[victim] = NO_SLOT;
      board[victim] = EMPTY;
    }
  }

  // 6. The mover goes to its square.
  listIndex[to] = uint8_t(slot);
  listIndex[from] = NO_SLOT;
  board[to] = uint8_t(piece);
  board[from] = EMPTY;

  // 7. A promoted pawn gives its slot up to a new piece appended after the last piece slot.
  if (promotion) {
    typeCount[side][PAWN]--;
    typeCount[side][typeOf(promotion)]++;
    material[side] += pieceValue[promotion] - pieceValue[PAWN];
    board[to] = uint8_t(promotion);
    rec.promotedSlot = uint8_t(slot);
    pieceList[side][slot] |= GONE;
    const int newSlot = pieceSlots[side]++;
    pieceList[side][newSlot] = PieceEntry(to | promotion << 8);
    listIndex[to] = uint8_t(newSlot);
  }

  hashKey = key;
  gamePly++;
  ply++;
  sideToMove = enemy;
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
    pieceList[side][rec.promotedSlot] &= ~GONE;
  }

  // The mover goes back.
  const int slot = listIndex[to];
  pieceList[side][slot] = PieceEntry((pieceList[side][slot] & ~0xFF) | from);
  listIndex[from] = uint8_t(slot);
  listIndex[to] = NO_SLOT;
  board[from] = uint8_t(piece);
  board[to] = EMPTY;

  if (captured) {
    const Square victim = (m & MF_EN_PASSANT) ? to + pawnInfo[enemy].forward : to;
    listIndex[victim] = rec.capturedSlot;
    pieceList[enemy][rec.capturedSlot] &= ~GONE;
    board[victim] = uint8_t(captured);
    material[enemy] += pieceValue[captured];
    typeCount[enemy][typeOf(captured)]++;
  } else if (m & MF_CASTLE) {
    shiftRook(side, rookTarget(m, from), rookOrigin(m, from));
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
  hashKey ^= SIDE_KEY;
  if (epSquare) {
    hashKey ^= zobrist(0, epSquare);
    epSquare = 0;
  }
  fiftyCount++;
  gamePly++;
  ply++;
  sideToMove ^= 1;
  otherSide ^= 1;
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
