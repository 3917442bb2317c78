// Pawn blockade: in a pure pawn ending, White's rammed pawns and the squares Black's pawns
// attack may form a fence from the a-file to the h-file that White's king cannot cross. When
// no free White pawn can break through either, White cannot make progress and the search may
// bound the node by a draw. Written from White's side only; independent of the side to move.
#include <cstring>
#include <initializer_list>

#include "eval/eval.h"

constinit thread_local uint8_t fencePath[8][8]{};

namespace {

constinit thread_local uint8_t fenceMap[8][8]{};      // White's rammed pawns and squares Black's pawns attack
constinit thread_local uint8_t fenceVisited[8][8]{};  // squares the path search has entered
constinit thread_local int fencePawnsOnFile[8]{};     // White's pawns per file

constexpr int WHITE_PAWN = PAWN;
constexpr int BLACK_PAWN = BLACK_BIT | PAWN;

inline bool inFence(int file, int rank) {
  return file >= 0 && file < 8 && rank >= 0 && rank < 8 && fenceMap[file][rank];
}

// Takes the neighbour (file, rank) into the path search when it belongs to the fence and has
// not been entered yet.
inline bool enter(int file, int rank) {
  if (!inFence(file, rank) || fenceVisited[file][rank]) return false;
  fenceVisited[file][rank] = 1;
  return true;
}

inline bool blackPawnOn(Square sq) { return board[sq] == BLACK_PAWN; }

}  // namespace

// 1 when the pawn on sq cannot advance because an enemy pawn stands in front of it or of the
// own pawns directly ahead of it on the file, and it has nothing to capture on the way.
int isRammed(Square sq) {
  int colour = colourOf(board[sq]), enemy = colour ^ 1;
  int ownPawn = colour * BLACK_BIT + PAWN, enemyPawn = enemy * BLACK_BIT + PAWN;
  const int* captures = pieceDirs[ownPawn];
  for (;;) {
    if (colourOf(board[sq + captures[0]]) == enemy || colourOf(board[sq + captures[1]]) == enemy) return 0;
    Square front = sq + pawnInfo[colour].forward;
    if (board[front] == EMPTY) return 0;
    if (board[front] == enemyPawn) return 1;
    if (board[front] != ownPawn) return 0;
    sq = front;
  }
}

int highestFenceRank(int file) {
  for (int rank = 6; rank >= 1; --rank)
    if (fencePath[file][rank]) return rank;
  return -1;
}

namespace {

// The last check for a free pawn whose path is guarded below the fence: it may sit behind its
// two rammed neighbours only when they stand level on ranks below 5 and Black's king watches
// its file.
bool neighboursHoldFile(int file) {
  if ((kingSquare(BLACK) & 7) != file || file == 0 || file == 7) return false;
  int ranks[2];
  for (int i = 0; i < 2; ++i) {
    int f = file - 1 + 2 * i;
    if (fencePawnsOnFile[f] != 1) return false;
    int rank = highestFenceRank(f);
    if (rank < 0 || rank >= 5) return false;
    Square sq = rank * 16 + f;
    if (board[sq] != WHITE_PAWN || !isRammed(sq)) return false;
    ranks[i] = rank;
  }
  return ranks[0] == ranks[1];
}

// Depth-first search for a fence path from (file, rank) to the h-file: up, then right, then
// down. Marks the path in fencePath on the way back.
int findFencePath(int file, int rank) {
  if (enter(file, rank + 1) && findFencePath(file, rank + 1)) {
    fencePath[file][rank] = 1;
    return 1;
  }
  if (enter(file + 1, rank)) {
    if (file + 1 == 7) {
      fencePath[7][rank] = 1;
      fencePath[file][rank] = 1;
      return 1;
    }
    if (findFencePath(file + 1, rank)) {
      fencePath[file][rank] = 1;
      return 1;
    }
  }
  if (enter(file, rank - 1) && findFencePath(file, rank - 1)) {
    fencePath[file][rank] = 1;
    return 1;
  }
  return 0;
}

// 1 when none of White's free (unrammed) pawns can get through the fence.
int freePawnsCannotBreak(const Square* pawns, int count) {
  for (int i = 0; i < count; ++i) {
    Square sq = pawns[i];
    int file = sq & 7, rank = sq >> 4, fence = highestFenceRank(file);
    if (rank > fence) {
      // 1. Already past the fence: only Black's king on its file stops it.
      if ((kingSquare(BLACK) & 7) != file) return 0;
    } else if (rank == fence) {
      // 2. On the fence: it must be blocked two squares ahead and have nothing to take.
      if (!blackPawnOn(sq + 32) || fencePawnsOnFile[file] > 1 || blackPawnOn(sq + 31) || blackPawnOn(sq + 33))
        return 0;
    } else {
      // 3. Below the fence: walk its path up to the first square Black's pawns guard.
      for (Square t = sq + 16; onBoard(t); t += 16) {
        if (board[t] == WHITE_PAWN) break;
        if (!blackPawnOn(t + 15) && !blackPawnOn(t + 17)) continue;
        if ((t >> 4) < fence) return 0;
        if (!blackPawnOn(t + 32) && !neighboursHoldFile(file)) return 0;
        if (fencePawnsOnFile[file] > 1 || blackPawnOn(t + 31) || blackPawnOn(t + 33)) return 0;
        break;
      }
    }
  }
  return 1;
}

}  // namespace

// 1 when only kings and pawns are left and White can make no progress: a fence of rammed
// White pawns and Black pawn attacks runs from the a- to the h-file, White's king is behind it,
// Black's king in front of it, and no free White pawn breaks through. Writes the fence grids.
int isPawnBlockade() {
  // 1. Pawns only.
  for (int c = WHITE; c <= BLACK; ++c)
    if (typeCount[c][KNIGHT] + typeCount[c][BISHOP] + typeCount[c][ROOK] + typeCount[c][QUEEN]) return 0;

  // 2. Clear.
  memset(fencePath, 0, sizeof fencePath);
  memset(fenceVisited, 0, sizeof fenceVisited);
  memset(fenceMap, 0, sizeof fenceMap);
  memset(fencePawnsOnFile, 0, sizeof fencePawnsOnFile);

  // 3. The fence squares and White's free pawns.
  Square freePawns[PIECE_SLOTS];
  int freeCount = 0;
  for (int slot = PAWN_SLOT0; slot < PAWN_SLOT0 + pawnSlots[WHITE]; ++slot) {
    PieceEntry e = pieceList[WHITE][slot];
    if (e & GONE) continue;
    Square sq = slotSquare(e);
    ++fencePawnsOnFile[sq & 7];
    if (isRammed(sq))
      fenceMap[sq & 7][sq >> 4] = 1;
    else
      freePawns[freeCount++] = sq;
  }
  for (int slot = PAWN_SLOT0; slot < PAWN_SLOT0 + pawnSlots[BLACK]; ++slot) {
    PieceEntry e = pieceList[BLACK][slot];
    if (e & GONE) continue;
    for (Square t : {slotSquare(e) - 15, slotSquare(e) - 17})
      if (onBoard(t)) fenceMap[t & 7][t >> 4] = 1;
  }

  // 4. A path from the a-file, starting as high as possible.
  bool found = false;
  for (int rank = 6; rank >= 1 && !found; --rank) {
    if (!fenceMap[0][rank]) continue;
    fenceVisited[0][rank] = 1;
    found = findFencePath(0, rank);
  }
  if (!found) return 0;

  // 5. White's king must be below the fence and Black's king above it, on their files.
  Square white = kingSquare(WHITE), black = kingSquare(BLACK);
  for (int rank = 1; rank <= 6; ++rank) {
    if (fencePath[black & 7][rank] && (black >> 4) < rank) return 0;
    if (fencePath[white & 7][rank] && (white >> 4) > rank) return 0;
  }

  // 6. Free pawns.
  return freePawnsCannotBreak(freePawns, freeCount);
}
