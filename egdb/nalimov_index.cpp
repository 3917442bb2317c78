// Index functions of the Nalimov tables: the position index of every class and side to move.
//
// The index is a mixed-radix number whose digits are, most significant first:
//
// Classes without pawns: the king pair (462 values), then the groups of the first side's queens,
// rooks, bishops and knights, then the same groups of the second side. The board is turned by
// one of its 8 symmetries so that the king of the side to move stands in the triangle a1-d1-d4,
// and, when that king is on the a1-h8 diagonal, the other king on or below the diagonal. A group
// of k like pieces is one combination of k of the 62 squares left by the kings (C(62, k) values).
//
// Classes with pawns: the leading pawn (28 values), the king pair (64 x 64 values: first king,
// second king), the first side's queens, rooks, bishops, knights and remaining pawns, then the
// second side's groups in the same order. The leading pawn belongs to the first side when it has
// pawns, else to the second: the one nearest rank 1, then nearest the edge. The board is
// mirrored left to right so that it stands on files a-d. Piece groups take combinations of all
// 64 squares (C(64, k) values), pawn groups combinations of 56 pawn codes (C(56, k) values).
//
// A pawn code is the pawn's square seen from its own side (the second side's pawns with the
// ranks turned over), 8-55 for ranks 2-7. A pawn that has just advanced two squares and can be
// taken en passant has code 0-7 by its file instead. The leading pawn's digit is
// (code / 8) * 4 + code % 8. The invert flag turns the board upside down first, so that the
// first side's pawns always move up the board.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "egdb/egdb.h"

namespace {

constexpr int PAWN_GROUP = 0;
constexpr int GROUP_TYPES = 5;                    // pawns, knights, bishops, rooks, queens
constexpr int PIECE_ORDER[4] = {4, 3, 2, 1};      // queens, rooks, bishops, knights
constexpr int KING_PAIRS = 462;
constexpr int LEADING_PAWN_VALUES = 28;
constexpr int PAWN_CODES = 56;
constexpr int TRIANGLE[10] = {0, 1, 2, 3, 9, 10, 11, 18, 19, 27};  // a1 b1 c1 d1 b2 c2 d2 c3 d3 d4

struct ClassShape {
  int counts[2][GROUP_TYPES];  // units per side (first, second) and group type
  bool pawns;
  int leadSide;                // side of the leading pawn
};

ClassShape shapes[TB_CLASSES];
bool shapesBuilt = false;
int16_t kingPairIndex[64][64];  // by canonical king of the side to move, other king; -1 if none
uint64_t binomial[65][4];       // C(n, k) for k <= 3

constexpr int fileOf64(int sq) { return sq & 7; }
constexpr int rankOf64(int sq) { return sq >> 3; }
constexpr int transpose64(int sq) { return (sq & 7) << 3 | sq >> 3; }

bool kingsTouch(int a, int b) {
  return std::abs(fileOf64(a) - fileOf64(b)) <= 1 && std::abs(rankOf64(a) - rankOf64(b)) <= 1;
}

bool shapeOfName(const char* name, ClassShape& shape) {
  std::memset(&shape, 0, sizeof shape);
  if (name[0] != 'k') return false;
  int side = 0;
  const char* const letters = "pnbrq";
  for (const char* c = name + 1; *c; c++) {
    const char* letter = std::strchr(letters, *c);
    if (*c == 'k' && side == 0)
      side = 1;
    else if (letter)
      shape.counts[side][letter - letters]++;
    else
      return false;
  }
  shape.pawns = shape.counts[0][PAWN_GROUP] + shape.counts[1][PAWN_GROUP] > 0;
  shape.leadSide = shape.counts[0][PAWN_GROUP] > 0 ? 0 : 1;
  return side == 1;
}

void buildTables() {
  for (int n = 0; n <= 64; n++)
    for (int k = 0; k < 4; k++)
      binomial[n][k] = k == 0 ? 1 : n == 0 ? 0 : binomial[n - 1][k - 1] + binomial[n - 1][k];
  std::memset(kingPairIndex, -1, sizeof kingPairIndex);
  int next = 0;
  for (int a : TRIANGLE)
    for (int b = 0; b < 64; b++) {
      bool aboveDiagonal = rankOf64(b) > fileOf64(b);
      if (b == a || kingsTouch(a, b) || (rankOf64(a) == fileOf64(a) && aboveDiagonal)) continue;
      kingPairIndex[a][b] = int16_t(next++);
    }
  for (int c = 1; c < TB_CLASSES; c++) shapeOfName(tbClassName(c), shapes[c]);
  shapesBuilt = true;
}

// Index of a set of k distinct values in a combination numbering; false on a repeated value.
bool combinationIndex(int* values, int k, uint64_t& index) {
  for (int i = 1; i < k; i++)
    for (int j = i; j > 0 && values[j] < values[j - 1]; j--) std::swap(values[j], values[j - 1]);
  index = 0;
  for (int i = 0; i < k; i++) {
    if (i && values[i] == values[i - 1]) return false;
    index += binomial[values[i]][i + 1];
  }
  return true;
}

// The squares of one probe: units by side (first, second), group type and number, and kings.
struct Placement {
  int squares[2][GROUP_TYPES][3];
  int kings[2];
};

void transformAll(Placement& p, int mask, bool transpose) {
  auto apply = [&](int& sq) {
    sq ^= mask;
    if (transpose) sq = transpose64(sq);
  };
  for (auto& side : p.squares)
    for (auto& group : side)
      for (int& sq : group) apply(sq);
  apply(p.kings[0]);
  apply(p.kings[1]);
}

bool appendDigit(uint64_t& index, uint64_t radix, uint64_t digit) {
  index = index * radix + digit;
  return index < (uint64_t(1) << 32);
}

uint32_t indexPawnless(const ClassShape& shape, Placement& p, int side) {
  int mover = p.kings[side], other = p.kings[side ^ 1];
  int mask = (fileOf64(mover) > 3 ? 7 : 0) | (rankOf64(mover) > 3 ? 56 : 0);
  mover ^= mask;
  other ^= mask;
  bool transpose = rankOf64(mover) > fileOf64(mover);
  if (transpose) mover = transpose64(mover), other = transpose64(other);
  if (rankOf64(mover) == fileOf64(mover) && rankOf64(other) > fileOf64(other))
    transpose = !transpose, other = transpose64(other);
  transformAll(p, mask, transpose);
  int pair = kingPairIndex[p.kings[side]][p.kings[side ^ 1]];
  if (pair < 0) return TB_NO_INDEX;
  uint64_t index = uint64_t(pair);
  int low = std::min(p.kings[0], p.kings[1]), high = std::max(p.kings[0], p.kings[1]);
  for (int s = 0; s < 2; s++)
    for (int type : PIECE_ORDER) {
      int k = shape.counts[s][type];
      if (!k) continue;
      int values[3];
      for (int i = 0; i < k; i++) {
        int sq = p.squares[s][type][i];
        if (sq == low || sq == high) return TB_NO_INDEX;
        values[i] = sq - (sq > low) - (sq > high);
      }
      uint64_t digit;
      if (!combinationIndex(values, k, digit) || !appendDigit(index, binomial[62][k], digit))
        return TB_NO_INDEX;
    }
  return uint32_t(index);
}

// Pawn code of a pawn of side s on sq; -1 when no pawn can stand there.
int pawnCode(int sq, int s, int marked) {
  if (sq == marked) return fileOf64(sq);
  int relative = s == 0 ? sq : sq ^ 56;
  return rankOf64(relative) >= 1 && rankOf64(relative) <= 6 ? relative : -1;
}

// Square of the pawn that can be taken en passant, or -1.
int markedPawn(const ClassShape& shape, const Placement& p, int side, int ep) {
  if (ep < 0 || ep > 63) return -1;
  int victimSide = side ^ 1;
  int victim = victimSide == 1 ? ep - 8 : ep + 8;  // the second side's pawns move down
  if (rankOf64(ep) != (victimSide == 1 ? 5 : 2)) return -1;
  bool victimThere = false, captorThere = false;
  for (int i = 0; i < shape.counts[victimSide][PAWN_GROUP]; i++)
    victimThere |= p.squares[victimSide][PAWN_GROUP][i] == victim;
  for (int i = 0; i < shape.counts[side][PAWN_GROUP]; i++) {
    int sq = p.squares[side][PAWN_GROUP][i];
    captorThere |= rankOf64(sq) == rankOf64(victim) && std::abs(fileOf64(sq) - fileOf64(victim)) == 1;
  }
  return victimThere && captorThere ? victim : -1;
}

uint32_t indexWithPawns(const ClassShape& shape, Placement& p, int side, int ep) {
  int lead = shape.leadSide;
  int* pawns = p.squares[lead][PAWN_GROUP];
  // Nearest its own first rank, then nearest an edge, then on files a-d.
  auto key = [lead](int sq) {
    int file = fileOf64(sq);
    return rankOf64(lead ? sq ^ 56 : sq) * 16 + std::min(file, 7 - file) * 2 + (file > 3);
  };
  int leader = 0;
  for (int i = 1; i < shape.counts[lead][PAWN_GROUP]; i++)
    if (key(pawns[i]) < key(pawns[leader])) leader = i;
  std::swap(pawns[0], pawns[leader]);
  if (fileOf64(pawns[0]) > 3) {
    transformAll(p, 7, false);
    if (ep >= 0 && ep <= 63) ep ^= 7;
  }
  int marked = markedPawn(shape, p, side, ep);
  int leadCode = pawnCode(pawns[0], lead, marked);
  if (leadCode < 0) return TB_NO_INDEX;
  uint64_t index = uint64_t(leadCode / 8 * 4 + leadCode % 8);
  appendDigit(index, 4096, uint64_t(p.kings[0] * 64 + p.kings[1]));
  for (int s = 0; s < 2; s++) {
    for (int type : PIECE_ORDER) {
      int k = shape.counts[s][type];
      if (!k) continue;
      int values[3];
      std::copy(p.squares[s][type], p.squares[s][type] + k, values);
      uint64_t digit;
      if (!combinationIndex(values, k, digit) || !appendDigit(index, binomial[64][k], digit))
        return TB_NO_INDEX;
    }
    int from = s == lead ? 1 : 0;
    int k = shape.counts[s][PAWN_GROUP] - from;
    if (k <= 0) continue;
    int values[3];
    for (int i = 0; i < k; i++) {
      values[i] = pawnCode(p.squares[s][PAWN_GROUP][from + i], s, marked);
      if (values[i] < 0) return TB_NO_INDEX;
    }
    uint64_t digit;
    if (!combinationIndex(values, k, digit) || !appendDigit(index, binomial[PAWN_CODES][k], digit))
      return TB_NO_INDEX;
  }
  return uint32_t(index);
}

}  // namespace

// Index of the position given by two square blocks in the table of class c for side s to move
// (s = 0: the first block's side). ep is the en-passant square or 127; with invert set the board
// is turned upside down first. TB_NO_INDEX when the squares fit no index of the layout.
uint32_t indexTB(int classNumber, int side, const int* first, const int* second, int ep,
                 int invert) {
  if (classNumber <= 0 || classNumber >= TB_CLASSES || side < 0 || side > 1) return TB_NO_INDEX;
  if (!shapesBuilt) buildTables();
  const ClassShape& shape = shapes[classNumber];
  Placement p{};
  const int* blocks[2] = {first, second};
  for (int s = 0; s < 2; s++) {
    for (int type = 0; type < GROUP_TYPES; type++)
      for (int i = 0; i < shape.counts[s][type]; i++) p.squares[s][type][i] = blocks[s][3 * type + i];
    p.kings[s] = blocks[s][15];
  }
  for (auto& s : p.squares)
    for (auto& group : s)
      for (int sq : group)
        if (sq < 0 || sq > 63) return TB_NO_INDEX;
  if (p.kings[0] < 0 || p.kings[0] > 63 || p.kings[1] < 0 || p.kings[1] > 63) return TB_NO_INDEX;
  if (ep < 0 || ep > 63) ep = -1;
  if (invert) {
    transformAll(p, 56, false);
    if (ep >= 0) ep ^= 56;
  }
  return shape.pawns ? indexWithPawns(shape, p, side, ep) : indexPawnless(shape, p, side);
}

// Positions in the layout of the class named name (0 for a name that is no class).
uint32_t tbTableSize(const char* name) {
  if (!shapesBuilt) buildTables();
  ClassShape shape;
  if (!shapeOfName(name, shape)) return 0;
  uint64_t size = shape.pawns ? uint64_t(LEADING_PAWN_VALUES) * 4096 : KING_PAIRS;
  int pieceSquares = shape.pawns ? 64 : 62;
  for (int s = 0; s < 2; s++)
    for (int type = 0; type < GROUP_TYPES; type++) {
      int k = shape.counts[s][type];
      if (type == PAWN_GROUP) {
        if (s == shape.leadSide && shape.pawns) k--;
        if (k > 0) size *= binomial[PAWN_CODES][k];
      } else if (k > 0) {
        size *= binomial[pieceSquares][k];
      }
    }
  return size < (uint64_t(1) << 32) ? uint32_t(size) : 0;
}
