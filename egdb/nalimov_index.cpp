// Index functions of the Nalimov tables: the position index of every class and side to move.
//
// The index is computed on a view of the position in which the side to move plays up the board
// (the board is turned upside down when the side to move is Black). M is the mover's king, O the
// other king. The units form groups of like units: the mover's queens, rooks, bishops, knights,
// pawns, then the other side's. A group of k units is a combination of k codes c1 < ... < ck,
// numbered C(c1, 1) + ... + C(ck, k).
//
// The first group is numbered together with the kings: for each king pair, its allowed squares
// are its domain (the 64 squares, or the 48 pawn squares a2-h7) less both kings and, when the
// group is the mover's, less the squares from which one of its units would attack O directly
// (neighbours of O for queens, orthogonal ones for rooks, diagonal ones for bishops, knight
// squares, the two squares diagonally below O for pawns). The dense number is the sum of
// C(allowed, k) over the earlier pairs plus the group's combination over its allowed squares.
// Every later group is one more mixed-radix digit: piece groups code their squares among the 64
// less the kings and all earlier units, pawn groups among the 48 pawn squares less the earlier
// pawns.
//
// Without pawns the view is turned by one of the 8 symmetries so that M stands in the triangle
// a1-d1-d4 and, when M is on the a1-h8 diagonal, O on or below it: 462 king pairs, M in the order
// a1 b1 c1 d1 b2 c2 d2 c3 d3 d4, O ascending. With pawns the view is mirrored so that M stands on
// files a-d: 1806 pairs, M ascending over files a-d, O ascending.
//
// A position where the other side's pawn has just advanced two squares and can be taken by a
// pawn of the mover goes into the en-passant part after the main part: (pair * 14 + slot) times
// the rest's range plus the rest's digits, the slot naming the advanced pawn's file and the
// taker's side (left first), the rest being every other unit, coded among the squares left free
// by the kings, the two slot pawns and the two squares the advanced pawn crossed.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board/board.h"
#include "egdb/egdb.h"

namespace {

constexpr int TYPES = 5;                         // pawns, knights, bishops, rooks, queens
constexpr int PAWN_TYPE = 0;
constexpr int GROUP_ORDER[TYPES] = {4, 3, 2, 1, 0};  // queens, rooks, bishops, knights, pawns
constexpr int PAWNLESS_PAIRS = 462;
constexpr int PAWN_PAIRS = 1806;
constexpr int EP_SLOTS = 14;
constexpr uint64_t ALL_SQUARES = ~uint64_t(0);
constexpr uint64_t PAWN_SQUARES = 0x00FFFFFFFFFFFF00ull;  // a2-h7
constexpr int TRIANGLE[10] = {0, 1, 2, 3, 9, 10, 11, 18, 19, 27};  // a1 b1 c1 d1 b2 c2 d2 c3 d3 d4

struct Shape {
  int counts[2][TYPES];  // by side (first, second) and type
  bool pawns;
  bool valid;
};

// One group of like units of a table, in the view of the side to move.
struct Group {
  int owner;  // 0 the mover, 1 the other side
  int type;
  int count;
};

Shape shapes[TB_CLASSES];
bool tablesBuilt = false;
uint64_t binomial[65][4];                     // C(n, k) for k <= 3
int16_t pawnlessPair[64][64];                 // pair number by M, O; -1 when none
int16_t pawnPair[64][64];
int pawnlessKings[PAWNLESS_PAIRS][2];         // M, O of each pair
int pawnKings[PAWN_PAIRS][2];
uint64_t attackFrom[TYPES][64];               // squares from which a unit of a type attacks a king
// Dense offsets by pawns (0 without, 1 with), type, count - 1, owner; PAWN_PAIRS + 1 entries.
std::vector<uint64_t> denseOffsets[2][TYPES][3][2];

constexpr int transpose(int sq) { return file64(sq) << 3 | rank64(sq); }
constexpr uint64_t bit(int sq) { return uint64_t(1) << sq; }

bool touching(int a, int b) { return (stepSquares64(KING, a) & bit(b)) != 0; }

bool shapeOfName(const char* name, Shape& shape) {
  std::memset(&shape, 0, sizeof shape);
  if (name[0] != 'k') return false;
  int side = 0;
  const char* const letters = "pnbrq";
  for (const char* c = name + 1; *c; c++) {
    const char* letter = std::strchr(letters, *c);
    if (*c == 'k' && side == 0)
      side = 1;
    else if (letter && *c)
      shape.counts[side][letter - letters]++;
    else
      return false;
  }
  shape.pawns = shape.counts[0][PAWN_TYPE] + shape.counts[1][PAWN_TYPE] > 0;
  shape.valid = side == 1;
  return shape.valid;
}

// Squares where the first group may stand for the king pair M, O.
uint64_t allowedSquares(int type, int owner, int m, int o) {
  uint64_t domain = type == PAWN_TYPE ? PAWN_SQUARES : ALL_SQUARES;
  uint64_t mask = domain & ~bit(m) & ~bit(o);
  if (owner == 0) mask &= ~attackFrom[type][o];
  return mask;
}

void buildTables() {
  for (int n = 0; n <= 64; n++)
    for (int k = 0; k < 4; k++)
      binomial[n][k] = k == 0 ? 1 : n == 0 ? 0 : binomial[n - 1][k - 1] + binomial[n - 1][k];

  // A pawn attacks a king from the squares a step of a black pawn's capture away.
  for (int sq = 0; sq < 64; sq++) {
    attackFrom[PAWN_TYPE][sq] = stepSquares64(BLACK_BIT | PAWN, sq) & PAWN_SQUARES;
    attackFrom[1][sq] = stepSquares64(KNIGHT, sq);
    attackFrom[2][sq] = stepSquares64(BISHOP, sq);
    attackFrom[3][sq] = stepSquares64(ROOK, sq);
    attackFrom[4][sq] = stepSquares64(KING, sq);
  }

  std::memset(pawnlessPair, -1, sizeof pawnlessPair);
  std::memset(pawnPair, -1, sizeof pawnPair);
  int next = 0;
  for (int m : TRIANGLE)
    for (int o = 0; o < 64; o++) {
      if (o == m || touching(m, o)) continue;
      if (rank64(m) == file64(m) && rank64(o) > file64(o)) continue;
      pawnlessKings[next][0] = m;
      pawnlessKings[next][1] = o;
      pawnlessPair[m][o] = int16_t(next++);
    }
  next = 0;
  for (int m = 0; m < 64; m++) {
    if (file64(m) > 3) continue;
    for (int o = 0; o < 64; o++) {
      if (o == m || touching(m, o)) continue;
      pawnKings[next][0] = m;
      pawnKings[next][1] = o;
      pawnPair[m][o] = int16_t(next++);
    }
  }

  for (int pawns = 0; pawns < 2; pawns++) {
    int pairs = pawns ? PAWN_PAIRS : PAWNLESS_PAIRS;
    for (int type = 0; type < TYPES; type++)
      for (int k = 1; k <= 3; k++)
        for (int owner = 0; owner < 2; owner++) {
          std::vector<uint64_t>& offsets = denseOffsets[pawns][type][k - 1][owner];
          offsets.assign(size_t(pairs) + 1, 0);
          for (int p = 0; p < pairs; p++) {
            int m = pawns ? pawnKings[p][0] : pawnlessKings[p][0];
            int o = pawns ? pawnKings[p][1] : pawnlessKings[p][1];
            int n = std::popcount(allowedSquares(type, owner, m, o));
            offsets[size_t(p) + 1] = offsets[size_t(p)] + binomial[n][k];
          }
        }
  }

  for (int c = 1; c < TB_CLASSES; c++) shapeOfName(tbClassName(c), shapes[c]);
  tablesBuilt = true;
}

// The groups of class shape for the table where side s is to move, in index order.
int groupsOf(const Shape& shape, int s, Group* groups) {
  int n = 0;
  for (int owner = 0; owner < 2; owner++) {
    int side = owner == 0 ? s : s ^ 1;
    for (int type : GROUP_ORDER)
      if (shape.counts[side][type]) groups[n++] = {owner, type, shape.counts[side][type]};
  }
  return n;
}

// Combination number of the k codes (any order); false on a repeated code.
bool combination(int* codes, int k, uint64_t& number) {
  for (int i = 1; i < k; i++)
    for (int j = i; j > 0 && codes[j] < codes[j - 1]; j--) std::swap(codes[j], codes[j - 1]);
  number = 0;
  for (int i = 0; i < k; i++) {
    if (i && codes[i] == codes[i - 1]) return false;
    number += binomial[codes[i]][i + 1];
  }
  return true;
}

// Codes of the squares of a group among the free squares; false when one is not free.
bool groupNumber(const int* squares, int k, uint64_t free, uint64_t& number) {
  int codes[3];
  for (int i = 0; i < k; i++) {
    if (!(free & bit(squares[i]))) return false;
    codes[i] = std::popcount(free & (bit(squares[i]) - 1));
  }
  return combination(codes, k, number);
}

// The squares of one probe in the view: units by owner (mover, other) and type, and kings.
struct View {
  int squares[2][TYPES][3];
  int counts[2][TYPES];
  int kings[2];
  int ep;  // en-passant square or -1
};

void transformView(View& v, int mask, bool flipDiagonal) {
  auto apply = [&](int& sq) {
    sq ^= mask;
    if (flipDiagonal) sq = transpose(sq);
  };
  for (int owner = 0; owner < 2; owner++)
    for (int type = 0; type < TYPES; type++)
      for (int i = 0; i < v.counts[owner][type]; i++) apply(v.squares[owner][type][i]);
  apply(v.kings[0]);
  apply(v.kings[1]);
  if (v.ep >= 0) apply(v.ep);
}

// Range of the digits that follow the dense part (or the slot) and the digits themselves. Pieces
// are coded among the 64 squares less `pieceTaken`, pawns among the pawn squares less
// `pawnTaken`; each group then takes its own squares out for the groups after it.
bool restDigits(const View& v, const Group* groups, int count, uint64_t pieceTaken,
                uint64_t pawnTaken, uint64_t& range, uint64_t& digits) {
  range = 1;
  digits = 0;
  for (int g = 0; g < count; g++) {
    const Group& group = groups[g];
    const int* squares = v.squares[group.owner][group.type];
    uint64_t free = group.type == PAWN_TYPE ? PAWN_SQUARES & ~pawnTaken : ~pieceTaken;
    uint64_t number;
    if (!groupNumber(squares, group.count, free, number)) return false;
    uint64_t radix = binomial[std::popcount(free)][group.count];
    range *= radix;
    digits = digits * radix + number;
    for (int i = 0; i < group.count; i++) {
      pieceTaken |= bit(squares[i]);
      if (group.type == PAWN_TYPE) pawnTaken |= bit(squares[i]);
    }
  }
  return true;
}

// Size of the main part of a table and the range of its later groups.
uint64_t mainPartSize(const Shape& shape, const Group* groups, int count, uint64_t& laterRange) {
  laterRange = 1;
  int units = 0, pawns = 0;
  for (int g = 0; g < count; g++) {
    if (g) {
      int free = groups[g].type == PAWN_TYPE ? 48 - pawns : 62 - units;
      laterRange *= binomial[free][groups[g].count];
    }
    units += groups[g].count;
    if (groups[g].type == PAWN_TYPE) pawns += groups[g].count;
  }
  const Group& first = groups[0];
  const std::vector<uint64_t>& offsets =
      denseOffsets[shape.pawns][first.type][first.count - 1][first.owner];
  return offsets.back() * laterRange;
}

// Range of the rest of an en-passant position (every unit but the two slot pawns).
uint64_t enPassantRestRange(const Group* groups, int count) {
  uint64_t range = 1;
  int units = 0, pawns = 0;
  for (int g = 0; g < count; g++) {
    int k = groups[g].count - (groups[g].type == PAWN_TYPE ? 1 : 0);
    if (k <= 0) continue;
    int free = groups[g].type == PAWN_TYPE ? 44 - pawns : 58 - units;
    range *= binomial[free][k];
    units += k;
    if (groups[g].type == PAWN_TYPE) pawns += k;
  }
  return range;
}

bool bothSidesHavePawns(const Shape& shape) {
  return shape.counts[0][PAWN_TYPE] > 0 && shape.counts[1][PAWN_TYPE] > 0;
}

uint64_t enPassantIndex(const Shape& shape, View& v, const Group* groups, int count, int pair,
                        int taker) {
  int ep = v.ep, advanced = ep - 8, file = file64(advanced);
  int slot = file == 0 ? 0 : 2 * file - 1 + (file64(taker) > file ? 1 : 0);
  uint64_t crossed = bit(ep) | bit(ep + 8);
  uint64_t slotPawns = bit(advanced) | bit(taker);
  // The advanced pawn crossed two empty squares; a king there makes the position impossible.
  if ((bit(v.kings[0]) | bit(v.kings[1])) & (crossed | slotPawns)) return TB_NO_INDEX;
  // Take the two slot pawns out of their groups.
  auto remove = [&](int owner, int sq) {
    int* pawns = v.squares[owner][PAWN_TYPE];
    int& n = v.counts[owner][PAWN_TYPE];
    for (int i = 0; i < n; i++)
      if (pawns[i] == sq) {
        pawns[i] = pawns[--n];
        return;
      }
  };
  remove(0, taker);
  remove(1, advanced);
  Group rest[2 * TYPES] = {};
  int restCount = 0;
  for (int g = 0; g < count; g++) {
    Group group = groups[g];
    if (group.type == PAWN_TYPE) group.count--;
    if (group.count > 0) rest[restCount++] = group;
  }
  uint64_t range, digits;
  uint64_t pieceTaken = bit(v.kings[0]) | bit(v.kings[1]) | slotPawns | crossed;
  if (!restDigits(v, rest, restCount, pieceTaken, slotPawns | crossed, range, digits))
    return TB_NO_INDEX;
  uint64_t later;
  uint64_t index = mainPartSize(shape, groups, count, later) +
                   (uint64_t(pair) * EP_SLOTS + uint64_t(slot)) * range + digits;
  return index < TB_NO_INDEX ? index : TB_NO_INDEX;
}

// The mover's pawn that can take the pawn which has just advanced two squares past v.ep, or -1.
int enPassantTaker(const View& v) {
  if (v.ep < 0 || rank64(v.ep) != 5) return -1;
  int advanced = v.ep - 8;
  bool found = false;
  for (int i = 0; i < v.counts[1][PAWN_TYPE]; i++) found |= v.squares[1][PAWN_TYPE][i] == advanced;
  if (!found) return -1;
  int best = -1;
  for (int i = 0; i < v.counts[0][PAWN_TYPE]; i++) {
    int sq = v.squares[0][PAWN_TYPE][i];
    if (rank64(sq) == rank64(advanced) && std::abs(file64(sq) - file64(advanced)) == 1 &&
        (best < 0 || sq < best))
      best = sq;
  }
  return best;
}

uint64_t viewIndex(const Shape& shape, View& v, const Group* groups, int count) {
  int m = v.kings[0], o = v.kings[1];
  int pair;
  if (shape.pawns) {
    if (file64(m) > 3) transformView(v, 7, false);
    pair = pawnPair[v.kings[0]][v.kings[1]];
    if (pair < 0) return TB_NO_INDEX;
    int taker = bothSidesHavePawns(shape) ? enPassantTaker(v) : -1;
    if (taker >= 0) return enPassantIndex(shape, v, groups, count, pair, taker);
  } else {
    int mask = (file64(m) > 3 ? 7 : 0) | (rank64(m) > 3 ? 56 : 0);
    m ^= mask;
    o ^= mask;
    bool flipDiagonal = rank64(m) > file64(m);
    if (flipDiagonal) m = transpose(m), o = transpose(o);
    if (rank64(m) == file64(m) && rank64(o) > file64(o)) flipDiagonal = !flipDiagonal;
    transformView(v, mask, flipDiagonal);
    pair = pawnlessPair[v.kings[0]][v.kings[1]];
    if (pair < 0) return TB_NO_INDEX;
  }
  m = v.kings[0];
  o = v.kings[1];
  const Group& first = groups[0];
  const int* firstSquares = v.squares[first.owner][first.type];
  uint64_t number;
  if (!groupNumber(firstSquares, first.count,
                   allowedSquares(first.type, first.owner, m, o), number))
    return TB_NO_INDEX;
  uint64_t dense =
      denseOffsets[shape.pawns][first.type][first.count - 1][first.owner][size_t(pair)] + number;
  uint64_t pieceTaken = bit(m) | bit(o), pawnTaken = 0;
  for (int i = 0; i < first.count; i++) {
    pieceTaken |= bit(firstSquares[i]);
    if (first.type == PAWN_TYPE) pawnTaken |= bit(firstSquares[i]);
  }
  uint64_t range, digits;
  if (!restDigits(v, groups + 1, count - 1, pieceTaken, pawnTaken, range, digits))
    return TB_NO_INDEX;
  uint64_t index = dense * range + digits;
  return index < TB_NO_INDEX ? index : TB_NO_INDEX;
}

}  // namespace

// Index of the position given by two square blocks in the table of class c for side s to move
// (s = 0: the first block's side, the class's stronger side). Blocks list squares by type
// (pawns 0-2, knights 3-5, bishops 6-8, rooks 9-11, queens 12-14) and the king at 15. ep is the
// en-passant square or TB_NO_EP; invert says that the first block is Black's. TB_NO_INDEX when
// the squares fit no index of the layout (two men on one square, kings side by side, ...).
uint32_t indexTB(int classNumber, int side, const int* first, const int* second, int ep,
                 int invert) {
  if (classNumber <= 0 || classNumber >= TB_CLASSES || side < 0 || side > 1) return TB_NO_INDEX;
  if (!tablesBuilt) buildTables();
  const Shape& shape = shapes[classNumber];
  if (!shape.valid) return TB_NO_INDEX;
  const int* blocks[2] = {first, second};
  View v{};
  uint64_t occupied = 0;  // two men on one square fit no position
  int flip = side != (invert ? 1 : 0) ? 56 : 0;
  for (int owner = 0; owner < 2; owner++) {
    const int* block = blocks[owner == 0 ? side : side ^ 1];
    const int* counts = shape.counts[owner == 0 ? side : side ^ 1];
    for (int type = 0; type < TYPES; type++) {
      v.counts[owner][type] = counts[type];
      for (int i = 0; i < counts[type]; i++) {
        int sq = block[3 * type + i];
        if (sq < 0 || sq > 63 || (occupied & bit(sq))) return TB_NO_INDEX;
        occupied |= bit(sq);
        v.squares[owner][type][i] = sq ^ flip;
      }
    }
    int king = block[15];
    if (king < 0 || king > 63 || (occupied & bit(king))) return TB_NO_INDEX;
    occupied |= bit(king);
    v.kings[owner] = king ^ flip;
  }
  v.ep = ep >= 0 && ep <= 63 ? ep ^ flip : -1;
  Group groups[2 * TYPES];
  int count = groupsOf(shape, side, groups);
  return uint32_t(viewIndex(shape, v, groups, count));
}

// Number of indices of the table of class c for side s to move (main part and en-passant part);
// 0 for no class.
uint32_t tbIndexCount(int classNumber, int side) {
  if (classNumber <= 0 || classNumber >= TB_CLASSES || side < 0 || side > 1) return 0;
  if (!tablesBuilt) buildTables();
  const Shape& shape = shapes[classNumber];
  if (!shape.valid) return 0;
  Group groups[2 * TYPES];
  int count = groupsOf(shape, side, groups);
  uint64_t later;
  uint64_t size = mainPartSize(shape, groups, count, later);
  if (bothSidesHavePawns(shape))
    size += uint64_t(PAWN_PAIRS) * EP_SLOTS * enPassantRestRange(groups, count);
  return size < TB_NO_INDEX ? uint32_t(size) : 0;
}
