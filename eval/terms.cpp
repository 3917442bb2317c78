// The full positional evaluation: attack maps, piece tables, mobility, outposts, rook files,
// the seventh rank, development, patterns, king safety, king placement, imbalance and the
// bishop pair. One pass over the piece lists builds the attack maps; the pawn structure
// (pawns.cpp) runs between the aggregates and the patterns and reads the same scratch state.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "eval/eval.h"

constinit thread_local uint8_t attackMapPadded[2][256]{};  // 0x88 board of each colour, embedded at index 64 like board
constinit thread_local int8_t pawnsOnFile[2][10]{};
constinit thread_local int8_t lowestWhitePawn[10]{};
constinit thread_local int8_t highestBlackPawn[10]{};
constinit thread_local int developmentCount[2]{};
constinit thread_local int seventhCount[2]{};
constinit thread_local int rookFileCount[2]{};
constinit thread_local int isEndgame{};

namespace {

// Attack-map weights of each kind of attacker; see the field layout in fullEvaluation.
constexpr uint8_t PAWN_ATTACK = 64;
constexpr uint8_t MINOR_ATTACK = 16;
constexpr uint8_t ROOK_ATTACK = 4;   // also a queen's x-ray
constexpr uint8_t QUEEN_ATTACK = 2;
constexpr uint8_t KING_ATTACK = 1;
constexpr uint8_t PAWN_FIELD = 192;

// Index of a square in an 8x8 table printed with rank 8 on top, read for colour.
// Black reads White's value of the vertically mirrored square.
struct TableIndices {
  uint8_t of[2][128];
  constexpr TableIndices() : of{} {
    for (int colour = WHITE; colour <= BLACK; ++colour)
      for (Square sq = 0; sq < 128; ++sq) {
        const Square s = colour == WHITE ? sq : sq ^ 0x70;
        of[colour][sq] = uint8_t(printedIndex(s));
      }
  }
};
constexpr TableIndices tableIndices;
constexpr int tableIndex(int colour, Square sq) { return tableIndices.of[colour][sq]; }

// Piece-square tables by type, for White (rank 8 on top).
constexpr int8_t pawnTable[64] = {
    0,  0,  0,  0,  0,  0,  0,  0,   10, 10, 12, 14, 14, 12, 10, 10,
    10, 18, 24, 36, 36, 24, 18, 10,  2,  9,  17, 36, 36, 17, 9,  2,
    2,  4,  12, 29, 29, 12, 4,  2,   2,  4,  10, 18, 18, 10, 4,  2,
    4,  6,  10, 14, 14, 10, 6,  4,   0,  0,  0,  0,  0,  0,  0,  0};
constexpr int8_t knightTable[64] = {
    -36, -22, -16, -16, -16, -16, -22, -36,  -22, 0,   6,  10, 10, 6,  0,   -22,
    -18, 8,   15,  18,  18,  15,  8,   -18,  -18, 8,   12, 21, 21, 12, 8,   -18,
    -18, 4,   11,  16,  16,  11,  4,   -18,  -18, 2,   10, 12, 12, 10, 2,   -18,
    -22, -10, 2,   6,   6,   2,   -10, -22,  -36, -22, -16, -16, -16, -16, -22, -36};
constexpr int8_t bishopTable[64] = {
    30, 22, 22, 22, 22, 22, 22, 30,  24, 30, 26, 26, 26, 26, 30, 24,
    26, 30, 32, 32, 32, 32, 30, 26,  26, 28, 32, 36, 36, 32, 28, 26,
    24, 26, 28, 30, 30, 28, 26, 24,  22, 24, 26, 26, 26, 26, 24, 22,
    18, 28, 18, 20, 20, 18, 28, 18,  22, 18, 12, 8,  8,  12, 18, 22};
constexpr int8_t rookTable[64] = {
    22, 24, 26, 27, 27, 26, 24, 22,  24, 26, 28, 30, 30, 28, 26, 24,
    12, 16, 20, 22, 22, 20, 16, 12,  0,  2,  4,  8,  8,  4,  2,  0,
    0,  2,  4,  8,  8,  4,  2,  0,   0,  2,  4,  8,  8,  4,  2,  0,
    0,  2,  4,  8,  8,  4,  2,  0,   0,  2,  4,  8,  8,  4,  2,  0};
constexpr int8_t queenTable[64] = {
    12, 12, 14, 14, 14, 14, 12, 12,  18, 20, 22, 24, 24, 22, 20, 18,
    20, 24, 26, 28, 28, 26, 24, 20,  16, 18, 20, 22, 22, 20, 18, 16,
    12, 16, 20, 22, 22, 20, 16, 12,  10, 14, 18, 20, 20, 18, 14, 10,
    6,  10, 14, 16, 16, 14, 10, 6,   0,  2,  4,  8,  8,  4,  2,  0};
constexpr int8_t kingMiddleTable[64] = {
    -40, -40, -40, -40, -40, -40, -40, -40,  -40, -40, -40, -40, -40, -40, -40, -40,
    -40, -40, -40, -40, -40, -40, -40, -40,  -36, -40, -40, -40, -40, -40, -40, -36,
    -24, -28, -32, -36, -36, -32, -28, -24,  -12, -14, -18, -24, -24, -18, -14, -12,
    8,   8,   -4,  -8,  -8,  -4,  8,   8,    12,  20,  10,  0,   0,   10,  20,  12};
// One table for both kings: symmetric in every direction.
constexpr int8_t kingEndgameTable[64] = {
    0,  4,  8,  10, 10, 8,  4,  0,   4,  10, 16, 24, 24, 16, 10, 4,
    8,  14, 28, 40, 40, 28, 14, 8,   14, 24, 40, 56, 56, 40, 24, 14,
    14, 24, 40, 56, 56, 40, 24, 14,  8,  14, 28, 40, 40, 28, 14, 8,
    4,  10, 16, 24, 24, 16, 10, 4,   0,  4,  8,  10, 10, 8,  4,  0};

// Pawn storms for White's pawns: A when White castled king side and Black queen side,
// B the other way round; Black's pawns read the mirror of the other table.
constexpr int8_t stormTableA[64] = {
    0,   0,   0,   0,  0,  0, 0, 0,  21, 27, 27, 21, 0,  0, 0, 0,
    21,  27,  27,  21, 0,  0, 0, 0,  15, 21, 21, 15, 0,  0, 0, 0,
    6,   12,  15,  12, 6,  0, 0, 0,  -3, -6, -6, -6, -3, 0, 0, 0,
    -15, -15, -15, -9, -3, 0, 0, 0,  0,  0,  0,  0,  0,  0, 0, 0};
constexpr int8_t stormTableB[64] = {
    0, 0, 0, 0,  0,  0,   0,   0,    0, 0, 0, 0,  0,  21, 27,  21,
    0, 0, 0, 0,  6,  18,  27,  24,   0, 0, 0, 0,  6,  12, 18,  18,
    0, 0, 0, 0,  6,  6,   6,   6,    0, 0, 0, -3, -6, -9, -12, -12,
    0, 0, 0, -3, -9, -15, -18, -18,  0, 0, 0, 0,  0,  0,  0,   0};

// Knight outposts for White: files c-f on ranks 4-6.
constexpr int8_t outpostTable[64] = {
    0, 0, 0,  0,  0,  0,  0, 0,  0, 0, 0,  0,  0,  0,  0, 0,
    0, 0, 10, 15, 15, 10, 0, 0,  0, 0, 10, 15, 15, 10, 0, 0,
    0, 0, 10, 15, 15, 10, 0, 0,  0, 0, 0,  0,  0,  0,  0, 0,
    0, 0, 0,  0,  0,  0,  0, 0,  0, 0, 0,  0,  0,  0,  0, 0};

constexpr int SEVENTH_ENTRIES = 32;
constexpr int seventhRankTable[SEVENTH_ENTRIES] = {  // by seventh count
    0,   16,  32,  64,  110, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150,
    150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150};
constexpr int ROOK_FILE_ENTRIES = 13;
constexpr int rookFileTable[ROOK_FILE_ENTRIES] = {  // by rook-file count
    0, 10, 20, 30, 50, 60, 70, 90, 100, 110, 130, 140, 150};
constexpr int DEVELOPMENT_ENTRIES = 10;
constexpr int developmentTable[DEVELOPMENT_ENTRIES] = {0, 4, 12, 20, 30, 40, 50, 60, 70, 80};

constexpr int shieldHoleTable[8] = {0, 1, 3, 5, 2, 5, 6, 8};  // by the set of shield files lacking a pawn
constexpr int kingFileTable[8] = {1, 0, 1, 2, 2, 1, 0, 1};    // by king file
constexpr int kingRankTable[8] = {0, 1, 2, 3, 3, 3, 3, 3};    // by the king's own-side rank
// Shield values of the examined files (c/f, b/g, a/h) by own-side rank 2, 3, 4, and the
// file's bit in the hole set when none of them holds an own pawn.
constexpr int shieldValue[3][3] = {{2, 1, 0}, {4, 2, 1}, {3, 2, 1}};
constexpr int shieldHoleBit[3] = {1, 2, 4};

constexpr int DANGER_MIN = -9;
constexpr int DANGER_MAX = 62;
constexpr int kingDangerTable[DANGER_MAX - DANGER_MIN + 1] = {  // by index F, from -9
    -15, -10, -5,  0,   5,   10,  15,  20,  25,  30,  35,  40,  47,  56,  67,  80,  95,  112,
    131, 152, 175, 200, 227, 256, 286, 316, 346, 376, 406, 436, 466, 496, 616, 616, 616, 616,
    616, 616, 616, 616, 526, 556, 586, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616,
    616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616, 616};
static_assert(kingDangerTable[22 - DANGER_MIN] == 496 && kingDangerTable[31 - DANGER_MIN] == 526 &&
              kingDangerTable[DANGER_MAX - DANGER_MIN] == 616);

constexpr int sign(int colour) { return colour == WHITE ? 1 : -1; }
constexpr int ownRank(int colour, Square sq) { return colour == WHITE ? sq >> 4 : 7 - (sq >> 4); }

// Walks one ray from sq: marks and counts the empty squares, marks the first occupied square
// and counts it when it holds an enemy. Through an own unit of a type in xrayTypes (bit per
// type) it goes on over empty squares only, marking them with xrayMark and counting none.
// The step is a template argument so that every ray of a piece compiles to its own loop.
template <int colour, int dir>
[[gnu::always_inline]] inline int scanRay(uint8_t* __restrict map, Square sq, uint8_t mark, uint8_t xrayMark,
                                          unsigned xrayTypes) {
  const uint8_t* __restrict board = &::board[0];
  int count = 0;
  Square t = sq + dir;
  while (board[t] == EMPTY) {
    map[t] += mark;
    ++count;
    t += dir;
  }
  const int code = board[t];
  if (code == OFFBOARD) return count;
  map[t] += mark;
  if (colourOf(code) != colour) return count + 1;
  if (xrayTypes & (1u << typeOf(code))) {
    for (t += dir; board[t] == EMPTY; t += dir) map[t] += xrayMark;
  }
  return count;
}

// Knight outpost bonus: the table value once, again when no enemy pawn on an adjacent file
// can chase the knight, and a third and fourth time when no enemy pawn can ever attack it from
// its own file and one or two own pawns defend it.
int knightOutpost(int colour, Square sq) {
  int value = outpostTable[tableIndex(colour, sq)];
  if (value == 0) return 0;
  int f = sq & 7, r = sq >> 4, bonus = value;
  uint8_t defence = attackMap[colour][sq];
  bool safeSides, safeFile;
  if (colour == WHITE) {
    safeSides = highestBlackPawn[f] <= r && highestBlackPawn[f + 2] <= r;
    safeFile = highestBlackPawn[f + 1] < r;
  } else {
    safeSides = lowestWhitePawn[f] >= r && lowestWhitePawn[f + 2] >= r;
    safeFile = lowestWhitePawn[f + 1] > r;
  }
  if (!safeSides) return bonus;
  bonus += value;
  if (safeFile && (defence & PAWN_FIELD)) {
    bonus += value;
    if (defence & 128) bonus += value;
  }
  return bonus;
}

// One knight jump: marks the target and answers 1 when it counts for mobility (empty or enemy).
template <int colour, int dir>
[[gnu::always_inline]] inline int knightJump(uint8_t* __restrict map, Square sq) {
  const Square t = sq + dir;
  map[t] += MINOR_ATTACK;
  // Bit c of targets: code c is empty or an enemy unit.
  constexpr uint64_t targets = colour == WHITE ? 0x1FF00 : 0x100FF;
  return (targets >> board[t]) & 1;
}

template <int colour>
int evalKnight(Square sq) {
  uint8_t* map = attackMap[colour];
  int mobility = -4 + knightJump<colour, 33>(map, sq) + knightJump<colour, 31>(map, sq) +
                 knightJump<colour, 18>(map, sq) + knightJump<colour, 14>(map, sq) +
                 knightJump<colour, -14>(map, sq) + knightJump<colour, -18>(map, sq) +
                 knightJump<colour, -31>(map, sq) + knightJump<colour, -33>(map, sq);
  if (ownRank(colour, sq) == 0) developmentCount[colour] += 2;
  return knightTable[tableIndex(colour, sq)] + 4 * mobility + knightOutpost(colour, sq);
}

template <int colour>
int evalBishop(Square sq) {
  uint8_t* map = attackMap[colour];
  constexpr unsigned xray = 1u << QUEEN;
  int mobility = -6 + scanRay<colour, 17>(map, sq, MINOR_ATTACK, MINOR_ATTACK, xray) +
                 scanRay<colour, 15>(map, sq, MINOR_ATTACK, MINOR_ATTACK, xray) +
                 scanRay<colour, -15>(map, sq, MINOR_ATTACK, MINOR_ATTACK, xray) +
                 scanRay<colour, -17>(map, sq, MINOR_ATTACK, MINOR_ATTACK, xray);
  if (ownRank(colour, sq) == 0) developmentCount[colour] += mobility <= 2 ? 2 : 1;
  return bishopTable[tableIndex(colour, sq)] + 5 * mobility;
}

template <int colour>
int evalRook(Square sq) {
  uint8_t* map = attackMap[colour];
  constexpr unsigned xray = 1u << ROOK | 1u << QUEEN;
  int mobility = -7 + scanRay<colour, 16>(map, sq, ROOK_ATTACK, ROOK_ATTACK, xray) +
                 scanRay<colour, 1>(map, sq, ROOK_ATTACK, ROOK_ATTACK, xray) +
                 scanRay<colour, -1>(map, sq, ROOK_ATTACK, ROOK_ATTACK, xray) +
                 scanRay<colour, -16>(map, sq, ROOK_ATTACK, ROOK_ATTACK, xray);
  int f = sq & 7;
  if (pawnsOnFile[colour][f + 1] == 0) rookFileCount[colour] += pawnsOnFile[colour ^ 1][f + 1] ? 1 : 2;
  if (ownRank(colour, sq) >= 6) seventhCount[colour] += 2;
  return rookTable[tableIndex(colour, sq)] + 3 * mobility;
}

// A queen's x-ray goes through its own rooks and queens along files and ranks, through its own
// bishops and queens along diagonals, and marks as a rook does.
template <int colour>
int evalQueen(Square sq) {
  uint8_t* map = attackMap[colour];
  constexpr unsigned straight = 1u << ROOK | 1u << QUEEN, diagonal = 1u << BISHOP | 1u << QUEEN;
  int mobility = -13 + scanRay<colour, 17>(map, sq, QUEEN_ATTACK, ROOK_ATTACK, diagonal) +
                 scanRay<colour, 16>(map, sq, QUEEN_ATTACK, ROOK_ATTACK, straight) +
                 scanRay<colour, 15>(map, sq, QUEEN_ATTACK, ROOK_ATTACK, diagonal) +
                 scanRay<colour, 1>(map, sq, QUEEN_ATTACK, ROOK_ATTACK, straight) +
                 scanRay<colour, -1>(map, sq, QUEEN_ATTACK, ROOK_ATTACK, straight) +
                 scanRay<colour, -15>(map, sq, QUEEN_ATTACK, ROOK_ATTACK, diagonal) +
                 scanRay<colour, -16>(map, sq, QUEEN_ATTACK, ROOK_ATTACK, straight) +
                 scanRay<colour, -17>(map, sq, QUEEN_ATTACK, ROOK_ATTACK, diagonal);
  if (ownRank(colour, sq) >= 6) seventhCount[colour] += 1;
  return queenTable[tableIndex(colour, sq)] + mobility;
}

// The pieces of one colour, with their contribution from that colour's point of view.
template <int colour>
int evalPiecesOf() {
  int score = 0;
  const PieceEntry* list = pieceList[colour];
  for (int slot = 1, end = pieceSlots[colour]; slot < end; ++slot) {
    PieceEntry e = list[slot];
    if (e & GONE) continue;
    Square sq = slotSquare(e);
    switch (typeOf(slotCode(e))) {
      case KNIGHT: score += evalKnight<colour>(sq); break;
      case BISHOP: score += evalBishop<colour>(sq); break;
      case ROOK: score += evalRook<colour>(sq); break;
      case QUEEN: score += evalQueen<colour>(sq); break;
      default: break;
    }
  }
  return score;
}

// Pawn shelter part of the king-safety index: holes, king rank and file, minus the shield.
int kingShelter(int colour, Square king) {
  int file = king & 7, firstFile, step;
  if (file <= 2) {
    firstFile = 2;
    step = -1;
  } else if (file >= 5) {
    firstFile = 5;
    step = 1;
  } else {
    return kingRankTable[ownRank(colour, king)] + kingFileTable[file];
  }
  int ownPawn = colour * BLACK_BIT + PAWN, holes = 0, shield = 0;
  for (int i = 0; i < 3; ++i) {
    int f = firstFile + i * step, found = -1;
    for (int k = 0; k < 3 && found < 0; ++k) {
      int r = colour == WHITE ? 1 + k : 6 - k;
      if (board[r * 16 + f] == ownPawn) found = k;
    }
    if (found < 0)
      holes |= shieldHoleBit[i];
    else
      shield += shieldValue[i][found];
  }
  return shieldHoleTable[holes] + kingRankTable[ownRank(colour, king)] + kingFileTable[file] - shield;
}

}  // namespace

void clearEvalScratch() {
  // Only the 0x88 area is ever read; marks that fall into the guard rows stay unread.
  // (Fixed-size copies of zeros rather than memset calls: this runs at every evaluation.)
  static constexpr uint8_t zeros[128] = {};
  memcpy(attackMapPadded[WHITE] + 64, zeros, 128);
  memcpy(attackMapPadded[BLACK] + 64, zeros, 128);
  memset(pawnsOnFile, 0, sizeof pawnsOnFile);
  std::fill(std::begin(lowestWhitePawn), std::end(lowestWhitePawn), 7);
  std::fill(std::begin(highestBlackPawn), std::end(highestBlackPawn), 0);
  for (int c = WHITE; c <= BLACK; ++c) developmentCount[c] = seventhCount[c] = rookFileCount[c] = 0;
  isEndgame = nonPawnMaterial(WHITE) + nonPawnMaterial(BLACK) <= ENDGAME_PIECES;
}

namespace {

// Fills the pawn files and extreme ranks of the current pawns into the scratch state, and the
// pawn-table and storm sums into entry.
void fillPawnPlacement(PawnCacheEntry& entry) {
  int placement = 0, stormA[2] = {0, 0}, stormB[2] = {0, 0};
  for (int c = WHITE; c <= BLACK; ++c) {
    for (int slot = PAWN_SLOT0; slot < PAWN_SLOT0 + pawnSlots[c]; ++slot) {
      PieceEntry e = pieceList[c][slot];
      if (e & GONE) continue;
      Square sq = slotSquare(e);
      int f = sq & 7, r = sq >> 4, index = tableIndex(c, sq);
      ++pawnsOnFile[c][f + 1];
      if (c == WHITE) {
        lowestWhitePawn[f + 1] = int8_t(std::min<int>(lowestWhitePawn[f + 1], r));
      } else {
        highestBlackPawn[f + 1] = int8_t(std::max<int>(highestBlackPawn[f + 1], r));
      }
      placement += sign(c) * pawnTable[index];
      stormA[c] += stormTableA[index];
      stormB[c] += stormTableB[index];
    }
  }
  entry.placement = int16_t(placement);
  entry.stormKingSide = int16_t(stormA[WHITE] - stormB[BLACK]);
  entry.stormQueenSide = int16_t(stormB[WHITE] - stormA[BLACK]);
  memcpy(entry.filePawns, pawnsOnFile, sizeof pawnsOnFile);
  memcpy(entry.lowestWhite, lowestWhitePawn, sizeof lowestWhitePawn);
  memcpy(entry.highestBlack, highestBlackPawn, sizeof highestBlackPawn);
}

}  // namespace

// Adds each pawn's table and storm value; counts pawns per file, records the extreme pawn ranks
// per file and marks pawn attacks. Reads both king squares. What depends on the pawns alone
// comes from the pawn cache, computed on a miss; pawnEntry is left pointing at the entry.
int evalPawnPlacement() {
  HashKey key = PAWN_KEY_SEED;
  for (int c = WHITE; c <= BLACK; ++c) {
    const int pawn = c * BLACK_BIT + PAWN;
    const int left = pieceDirs[pawn][0], right = pieceDirs[pawn][1];
    uint8_t* __restrict map = attackMap[c];
    const PieceEntry* list = pieceList[c];
    for (int slot = PAWN_SLOT0, end = PAWN_SLOT0 + pawnSlots[c]; slot < end; ++slot) {
      PieceEntry e = list[slot];
      if (e & GONE) continue;
      Square sq = slotSquare(e);
      key ^= pieceKeys[pawn][square64(sq)];
      map[sq + left] += PAWN_ATTACK;
      map[sq + right] += PAWN_ATTACK;
    }
  }
  PawnCacheEntry& entry = pawnCache[key & (PAWN_CACHE_ENTRIES - 1)];
  if (entry.key != key) {
    fillPawnPlacement(entry);
    fillPawnStructure(entry);
    entry.key = key;
  } else {
    memcpy(pawnsOnFile, entry.filePawns, sizeof pawnsOnFile);
    memcpy(lowestWhitePawn, entry.lowestWhite, sizeof lowestWhitePawn);
    memcpy(highestBlackPawn, entry.highestBlack, sizeof highestBlackPawn);
  }
  pawnEntry = &entry;

  int score = entry.placement;
  if (!isEndgame) {
    int whiteFile = kingSquare(WHITE) & 7, blackFile = kingSquare(BLACK) & 7;
    if (whiteFile >= 5 && blackFile <= 3)
      score += entry.stormKingSide;
    else if (whiteFile <= 3 && blackFile >= 5)
      score += entry.stormQueenSide;
  }
  return score;
}

// Piece tables, mobility and outposts of every knight, bishop, rook and queen, White first;
// marks their attacks and fills the development, seventh-rank and rook-file counters.
int evalPieces() {
  int score = evalPiecesOf<WHITE>();
  return score - evalPiecesOf<BLACK>();
}

// Marks each king's neighbours in its own attack map.
static void markKingAttacks() {
  for (int c = WHITE; c <= BLACK; ++c) {
    uint8_t* __restrict around = attackMap[c] + kingSquare(c);
    around[17] += KING_ATTACK;
    around[16] += KING_ATTACK;
    around[15] += KING_ATTACK;
    around[1] += KING_ATTACK;
    around[-1] += KING_ATTACK;
    around[-15] += KING_ATTACK;
    around[-16] += KING_ATTACK;
    around[-17] += KING_ATTACK;
  }
}

// Heavy pieces on the seventh (only in the middlegame or against a king on its back rank),
// rooks on open and half-open files, and undeveloped minor pieces with an early queen.
int evalAggregates() {
  int score = 0;
  if (!isEndgame || (kingSquare(BLACK) >> 4) == 7)
    score += seventhRankTable[std::min(seventhCount[WHITE], SEVENTH_ENTRIES - 1)];
  if (!isEndgame || (kingSquare(WHITE) >> 4) == 0)
    score -= seventhRankTable[std::min(seventhCount[BLACK], SEVENTH_ENTRIES - 1)];
  score += rookFileTable[std::min(rookFileCount[WHITE], ROOK_FILE_ENTRIES - 1)] -
           rookFileTable[std::min(rookFileCount[BLACK], ROOK_FILE_ENTRIES - 1)];
  constexpr Square D1 = 3, D8 = 115;
  int d = std::min(developmentCount[WHITE], DEVELOPMENT_ENTRIES - 1);
  score -= developmentTable[d];
  if (d >= 4 && typeCount[WHITE][QUEEN] && board[D1] != QUEEN) score -= 50;
  d = std::min(developmentCount[BLACK], DEVELOPMENT_ENTRIES - 1);
  score += developmentTable[d];
  if (d >= 4 && typeCount[BLACK][QUEEN] && board[D8] != (BLACK_BIT | QUEEN)) score += 50;
  return score;
}

// Fixed-square patterns: a bishop trapped on a7/h7 by a pawn on b6/g6, centre pawns blocked
// on their start squares, and rooks shut in by an uncastled king.
int evalPatterns() {
  constexpr int WP = PAWN, BP = BLACK_BIT | PAWN, WB = BISHOP, BB = BLACK_BIT | BISHOP;
  constexpr int WR = ROOK, BR = BLACK_BIT | ROOK, WK = KING, BK = BLACK_BIT | KING;
  const uint8_t* white = attackMap[WHITE];
  const uint8_t* black = attackMap[BLACK];
  int score = 0;
  // a7 96, b6 81, h7 103, g6 86; a2 16, b3 33, h2 23, g3 38.
  if (board[96] == WB && board[81] == BP && black[81] > white[81] - 16) score -= 150;
  if (board[103] == WB && board[86] == BP && black[86] > white[86] - 16) score -= 150;
  if (board[16] == BB && board[33] == WP && white[33] > black[33] - 16) score += 150;
  if (board[23] == BB && board[38] == WP && white[38] > black[38] - 16) score += 150;
  // d2 19, d3 35, e2 20, e3 36; d7 99, d6 83, e7 100, e6 84.
  if (board[19] == WP && board[35] != EMPTY) score -= 50;
  if (board[20] == WP && board[36] != EMPTY) score -= 50;
  if (board[99] == BP && board[83] != EMPTY) score += 50;
  if (board[100] == BP && board[84] != EMPTY) score += 50;
  // c1 2, b1 1, a1 0, a2 16; f1 5, g1 6, h1 7, h2 23; and the same on rank 8 / 7.
  if ((board[2] == WK || board[1] == WK) && (board[0] == WR || board[16] == WR || board[1] == WR))
    score -= 50;
  if ((board[5] == WK || board[6] == WK) && (board[7] == WR || board[23] == WR || board[6] == WR))
    score -= 50;
  if ((board[114] == BK || board[113] == BK) &&
      (board[112] == BR || board[96] == BR || board[113] == BR))
    score += 50;
  if ((board[117] == BK || board[118] == BK) &&
      (board[119] == BR || board[103] == BR || board[118] == BR))
    score += 50;
  return score;
}

namespace {

// Danger points of one neighbour of the king: one when the enemy attacks it, more when a queen
// takes part or nothing of the king's side but the king defends it.
constexpr int dangerPoints(uint8_t attack, bool onlyKingDefends) {
  if (attack == 0) return 0;
  int danger = 1;
  if (attack & QUEEN_ATTACK) {
    ++danger;
    if (onlyKingDefends) {
      ++danger;
      if (attack & 253) danger += 2;
    }
  } else {
    if (attack & 8) ++danger;
    if (onlyKingDefends) ++danger;
  }
  return danger;
}

// dangerPoints by the attack byte and whether only the king defends, looked up at evaluation.
struct DangerTable {
  uint8_t points[2][256];
  constexpr DangerTable() : points{} {
    for (int attack = 0; attack < 256; ++attack)
      for (int onlyKing = 0; onlyKing < 2; ++onlyKing)
        points[onlyKing][attack] = uint8_t(dangerPoints(uint8_t(attack), onlyKing != 0));
  }
};
constexpr DangerTable dangerTable;

[[gnu::always_inline]] inline int neighbourDanger(const uint8_t* their, const uint8_t* own, Square sq) {
  if (!onBoard(sq)) return 0;
  return dangerTable.points[own[sq] == KING_ATTACK][their[sq]];
}

}  // namespace

// Index F into kingDangerTable for colour's king: the pawn shelter against heavy enemy
// material, then one to five points for each attacked neighbour of the king.
int kingDangerIndex(int colour) {
  int enemy = colour ^ 1;
  Square king = kingSquare(colour);
  int danger = 0;
  if (nonPawnMaterial(enemy) >= 1500) danger = kingShelter(colour, king);
  const uint8_t* their = attackMap[enemy];
  const uint8_t* own = attackMap[colour];
  danger += neighbourDanger(their, own, king + 17) + neighbourDanger(their, own, king + 16) +
            neighbourDanger(their, own, king + 15) + neighbourDanger(their, own, king + 1) +
            neighbourDanger(their, own, king - 1) + neighbourDanger(their, own, king - 15) +
            neighbourDanger(their, own, king - 16) + neighbourDanger(their, own, king - 17);
  return std::clamp(danger, DANGER_MIN, DANGER_MAX);
}

int evalKingSafety() {
  int score = 0;
  if (typeCount[BLACK][QUEEN] && nonPawnMaterial(BLACK) > 900)
    score -= kingDangerTable[kingDangerIndex(WHITE) - DANGER_MIN];
  if (typeCount[WHITE][QUEEN] && nonPawnMaterial(WHITE) > 900)
    score += kingDangerTable[kingDangerIndex(BLACK) - DANGER_MIN];
  return score;
}

int evalKingPlacement() {
  Square white = kingSquare(WHITE), black = kingSquare(BLACK);
  if (isEndgame) return kingEndgameTable[tableIndex(WHITE, white)] - kingEndgameTable[tableIndex(WHITE, black)];
  return kingMiddleTable[tableIndex(WHITE, white)] - kingMiddleTable[tableIndex(BLACK, black)];
}

// A piece's worth more than its pawns: bonuses by the difference in non-pawn material, else by
// the difference in minor pieces, else for the only queen on the board.
int evalImbalance() {
  int diff = nonPawnMaterial(WHITE) - nonPawnMaterial(BLACK);
  if (diff >= 300) return 120;
  if (diff >= 200) return 60;
  if (diff <= -300) return -120;
  if (diff <= -200) return -60;
  int minors = typeCount[WHITE][KNIGHT] + typeCount[WHITE][BISHOP] - typeCount[BLACK][KNIGHT] -
               typeCount[BLACK][BISHOP];
  if (minors >= 3) return 120;
  if (minors >= 2) return 60;
  if (minors <= -3) return -120;
  if (minors <= -2) return -60;
  bool whiteQueen = typeCount[WHITE][QUEEN] > 0, blackQueen = typeCount[BLACK][QUEEN] > 0;
  if (whiteQueen && !blackQueen) return 120;
  if (blackQueen && !whiteQueen) return -120;
  return 0;
}

int evalBishopPair() {
  int score = 0;
  for (int c = WHITE; c <= BLACK; ++c) {
    int enemy = c ^ 1;
    if (typeCount[c][BISHOP] < 2) continue;
    int bonus = typeCount[enemy][BISHOP] ? 40 : typeCount[enemy][KNIGHT] ? 50 : 70;
    score += sign(c) * bonus;
  }
  return score;
}

// The whole positional evaluation, White-relative. Attack maps hold byte fields per square:
// pawns 64 each (bits 6-7), knights and bishops 16 (bits 4-5), rooks and queen x-rays 4
// (bits 2-3), queens 2, kings 1; additions carry into the next field without saturating.
// Writes all scratch state; evaluate() reads isEndgame afterwards.
int fullEvaluation() {
  // 1. Clear the scratch state.
  clearEvalScratch();

  int score = material[WHITE] - material[BLACK];
  // 2. Pawns: tables, storms, files and attacks.
  score += evalPawnPlacement();
  // 3. Pieces.
  score += evalPieces();
  // 4. Kings.
  markKingAttacks();
  // 5. Aggregates.
  score += evalAggregates();
  // 6. Pawn structure.
  score += evalPawnStructure();
  // 7. Patterns.
  score += evalPatterns();
  // 8. King safety.
  score += evalKingSafety();
  // 9. King placement.
  score += evalKingPlacement();
  // 10. Imbalance.
  score += evalImbalance();
  // 11. Bishop pair.
  score += evalBishopPair();
  return score;
}
