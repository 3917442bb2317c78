// The layout of the Nalimov tables read backwards: the position an index stands for, the
// legality of table positions and the length of a correct file. The registration check uses it to
// find the positions a block holds; it is written from the description of the layout separately
// from the index functions of nalimov_index.cpp, so that the tests can hold the two against each
// other.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "board/board.h"
#include "egdb/egdb.h"
namespace {

// The layout works on a view of the position in which the side to move plays up the board; "own"
// units are the side to move's, M its king and O the other king.

constexpr uint64_t ALL_SQUARES = ~uint64_t(0);
constexpr uint64_t PAWN_SQUARES = 0x00FFFFFFFFFFFF00ull;  // a2-h7
constexpr int MAX_GROUP = 5;                              // units of one kind in a class
constexpr int EP_SLOTS = 14;  // en passant: file of the advanced pawn and side of the taker

uint64_t bit(int sq) { return uint64_t(1) << sq; }
int fileOf64(int sq) { return sq & 7; }
int rankOf64(int sq) { return sq >> 3; }
bool touching(int a, int b) { return std::abs(fileOf64(a) - fileOf64(b)) <= 1 && std::abs(rankOf64(a) - rankOf64(b)) <= 1; }

// C(n, k) for n <= 64, k <= MAX_GROUP; 0 when k > n.
constexpr auto CHOOSE = [] {
  std::array<std::array<uint64_t, MAX_GROUP + 1>, 65> t{};
  for (int n = 0; n <= 64; n++) {
    t[size_t(n)][0] = 1;
    for (int k = 1; k <= MAX_GROUP && k <= n; k++)
      t[size_t(n)][size_t(k)] = t[size_t(n - 1)][size_t(k - 1)] + t[size_t(n - 1)][size_t(k)];
  }
  return t;
}();

uint64_t choose(int n, int k) {
  return n < 0 || k < 0 || k > MAX_GROUP || n > 64 ? 0 : CHOOSE[size_t(n)][size_t(k)];
}

// The codes c1 < ... < ck of combination number `number` = C(c1, 1) + ... + C(ck, k).
void unrank(uint64_t number, int k, int* codes) {
  for (int i = k; i >= 1; i--) {
    // The largest c with C(c, i) <= number (C(n, i) grows with n).
    int low = i - 1, high = 64;
    while (low < high) {
      int mid = (low + high + 1) / 2;
      if (choose(mid, i) <= number) low = mid;
      else high = mid - 1;
    }
    codes[i - 1] = low;
    number -= choose(low, i);
  }
}

// The square of the n-th (from 0) square of mask, -1 when it has fewer.
int nthSquare(uint64_t mask, int n) {
  for (int i = 0; i < n && mask; i++) mask &= mask - 1;
  return mask ? std::countr_zero(mask) : -1;
}

// Squares a king (or one step of a queen) on sq reaches, orthogonally and diagonally.
uint64_t stepSquares(int sq, bool orthogonal, bool diagonal) {
  uint64_t squares = 0;
  for (int df = -1; df <= 1; df++)
    for (int dr = -1; dr <= 1; dr++) {
      if (!df && !dr) continue;
      if ((df && dr) ? !diagonal : !orthogonal) continue;
      int f = fileOf64(sq) + df, r = rankOf64(sq) + dr;
      if (f >= 0 && f < 8 && r >= 0 && r < 8) squares |= bit(r * 8 + f);
    }
  return squares;
}

uint64_t knightSquares(int sq) {
  static const int JUMPS[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
  uint64_t squares = 0;
  for (auto [df, dr] : JUMPS) {
    int f = fileOf64(sq) + df, r = rankOf64(sq) + dr;
    if (f >= 0 && f < 8 && r >= 0 && r < 8) squares |= bit(r * 8 + f);
  }
  return squares;
}

// Squares from which a unit of the given type attacks the king on sq directly (next to it, or a
// knight's jump away); pawns move up the board.
uint64_t directAttackers(int type, int sq) {
  switch (type) {
    case QUEEN: return stepSquares(sq, true, true);
    case ROOK: return stepSquares(sq, true, false);
    case BISHOP: return stepSquares(sq, false, true);
    case KNIGHT: return knightSquares(sq);
    case PAWN: {
      uint64_t squares = 0;
      if (sq >= 8 && fileOf64(sq) > 0) squares |= bit(sq - 9);
      if (sq >= 8 && fileOf64(sq) < 7) squares |= bit(sq - 7);
      return squares;
    }
    default: return 0;
  }
}

// One group of like units in the view.
struct Group {
  bool own;   // the side to move's
  int type;   // PAWN .. QUEEN
  int count;
};

// Everything needed to number the positions of one class and side to move.
struct Layout {
  int side = 0;
  bool pawns = false;
  std::vector<Group> groups;                  // groups[0] is numbered with the kings
  const std::vector<std::pair<int, int>>* pairs = nullptr;  // (M, O) in numbering order
  std::vector<uint64_t> offsets;              // dense numbers before each pair; one more at the end
  std::vector<uint64_t> laterRanges;          // of groups[1..]
  uint64_t laterProduct = 1;
  uint64_t mainSize = 0;
  std::vector<Group> rest;                    // en-passant part: all but the two slot pawns
  std::vector<uint64_t> restRanges;
  uint64_t restProduct = 1;
  uint64_t epSize = 0;
};

// King pairs in numbering order. Without pawns M stands in the triangle a1-d1-d4 (and O on or
// below the a1-h8 diagonal when M is on it); with pawns M stands on files a-d.
const std::vector<std::pair<int, int>>& kingPairs(bool pawns) {
  static std::vector<std::pair<int, int>> lists[2];
  std::vector<std::pair<int, int>>& pairs = lists[pawns];
  if (pairs.empty())
    for (int m = 0; m < 64; m++) {
      if (fileOf64(m) > 3 || (!pawns && rankOf64(m) > fileOf64(m))) continue;
      for (int o = 0; o < 64; o++) {
        if (o == m || touching(m, o)) continue;
        if (!pawns && rankOf64(m) == fileOf64(m) && rankOf64(o) > fileOf64(o)) continue;
        pairs.push_back({m, o});
      }
    }
  return pairs;
}

// The squares the first group may stand on with the kings on m and o.
uint64_t firstGroupSquares(const Group& group, int m, int o) {
  uint64_t squares = (group.type == PAWN ? PAWN_SQUARES : ALL_SQUARES) & ~bit(m) & ~bit(o);
  if (group.own) squares &= ~directAttackers(group.type, o);
  return squares;
}


std::unique_ptr<Layout> buildLayout(int classNumber, int side) {
  int counts[2][7];
  if (!tbClassCounts(classNumber, counts)) return nullptr;
  auto layout = std::make_unique<Layout>();
  layout->side = side;
  static const int ORDER[5] = {QUEEN, ROOK, BISHOP, KNIGHT, PAWN};
  for (bool own : {true, false})
    for (int type : ORDER) {
      int count = counts[own ? side : side ^ 1][type];
      if (count) layout->groups.push_back({own, type, count});
      if (type == PAWN && count) layout->pawns = true;
    }
  if (layout->groups.empty()) return nullptr;
  layout->pairs = &kingPairs(layout->pawns);

  const Group& first = layout->groups[0];
  layout->offsets.push_back(0);
  for (auto [m, o] : *layout->pairs)
    layout->offsets.push_back(layout->offsets.back() +
                              choose(std::popcount(firstGroupSquares(first, m, o)), first.count));

  int units = first.count, pawnUnits = first.type == PAWN ? first.count : 0;
  for (size_t g = 1; g < layout->groups.size(); g++) {
    const Group& group = layout->groups[g];
    uint64_t range = group.type == PAWN ? choose(48 - pawnUnits, group.count)
                                        : choose(62 - units, group.count);
    layout->laterRanges.push_back(range);
    layout->laterProduct *= range;
    units += group.count;
    if (group.type == PAWN) pawnUnits += group.count;
  }
  layout->mainSize = layout->offsets.back() * layout->laterProduct;

  bool ownPawns = counts[side][PAWN] > 0, otherPawns = counts[side ^ 1][PAWN] > 0;
  if (ownPawns && otherPawns) {
    int restUnits = 0, restPawns = 0;
    for (Group group : layout->groups) {
      if (group.type == PAWN) group.count--;  // the slot's pawn of that side
      if (!group.count) continue;
      uint64_t range = group.type == PAWN ? choose(44 - restPawns, group.count)
                                          : choose(58 - restUnits, group.count);
      layout->rest.push_back(group);
      layout->restRanges.push_back(range);
      layout->restProduct *= range;
      restUnits += group.count;
      if (group.type == PAWN) restPawns += group.count;
    }
    layout->epSize = uint64_t(layout->pairs->size()) * EP_SLOTS * layout->restProduct;
  }
  return layout;
}

// The layout of class c and side s, built once; null for a class that is not there.
const Layout* layoutOf(int classNumber, int side) {
  static std::unique_ptr<Layout> layouts[TB_CLASSES][2];
  static bool built[TB_CLASSES][2];
  if (classNumber <= 0 || classNumber >= TB_CLASSES || side < 0 || side > 1) return nullptr;
  if (!built[classNumber][side]) {
    layouts[classNumber][side] = buildLayout(classNumber, side);
    built[classNumber][side] = true;
  }
  return layouts[classNumber][side].get();
}

// A position seen in the view, filled while decoding.
constexpr int MAX_UNITS = 8;
struct View {
  int m = 0, o = 0;
  std::pair<bool, int> units[MAX_UNITS];  // (own, type * 64 + square)
  int count = 0;
  uint64_t occupied = 0;                  // kings and units
  int ep = -1;
  void add(bool own, int unit) { units[count++] = {own, unit}; }
};

// Splits `number` into the mixed-radix digits of ranges, the last one least significant.
std::array<uint64_t, MAX_UNITS> digitsOf(uint64_t number, const std::vector<uint64_t>& ranges) {
  std::array<uint64_t, MAX_UNITS> digits{};
  for (size_t i = ranges.size(); i-- > 0;) {
    digits[i] = number % ranges[i];
    number /= ranges[i];
  }
  return digits;
}

// Places group's units at the combination `number` of the squares of `free`; false when one of
// them lands on a square already taken.
bool placeGroup(View& view, const Group& group, uint64_t number, uint64_t free) {
  int codes[MAX_GROUP];
  unrank(number, group.count, codes);
  for (int i = 0; i < group.count; i++) {
    int sq = nthSquare(free, codes[i]);
    if (sq < 0 || (view.occupied & bit(sq)) || view.count == MAX_UNITS) return false;
    view.occupied |= bit(sq);
    view.add(group.own, group.type * 64 + sq);
  }
  return true;
}

// The squares of the units placed so far, pawns only or all.
uint64_t unitSquares(const View& view, bool pawnsOnly) {
  uint64_t squares = 0;
  for (int i = 0; i < view.count; i++) {
    int unit = view.units[i].second;
    if (!pawnsOnly || unit / 64 == PAWN) squares |= bit(unit % 64);
  }
  return squares;
}

bool decodeMain(const Layout& layout, uint64_t index, View& view) {
  uint64_t dense = index / layout.laterProduct;
  auto next = std::upper_bound(layout.offsets.begin(), layout.offsets.end(), dense);
  size_t pair = size_t(next - layout.offsets.begin()) - 1;
  std::tie(view.m, view.o) = (*layout.pairs)[pair];
  view.occupied = bit(view.m) | bit(view.o);
  const Group& first = layout.groups[0];
  if (!placeGroup(view, first, dense - layout.offsets[pair], firstGroupSquares(first, view.m, view.o)))
    return false;
  auto digits = digitsOf(index % layout.laterProduct, layout.laterRanges);
  for (size_t g = 1; g < layout.groups.size(); g++) {
    const Group& group = layout.groups[g];
    uint64_t free = group.type == PAWN ? PAWN_SQUARES & ~unitSquares(view, true)
                                       : ~view.occupied;
    if (!placeGroup(view, group, digits[g - 1], free)) return false;
  }
  return true;
}

bool decodeEnPassant(const Layout& layout, uint64_t index, View& view) {
  uint64_t block = index / layout.restProduct;
  int pair = int(block / EP_SLOTS), slot = int(block % EP_SLOTS);
  std::tie(view.m, view.o) = (*layout.pairs)[size_t(pair)];
  int file = (slot + 1) / 2;                                   // of the pawn that advanced
  int taker = slot == 0 ? 1 : slot % 2 ? file - 1 : file + 1;  // file of the own pawn beside it
  int advanced = 32 + file;                                    // on the fifth rank of the view
  uint64_t crossed = bit(advanced + 8) | bit(advanced + 16);
  uint64_t kept = bit(advanced) | bit(32 + taker) | crossed;
  if ((bit(view.m) | bit(view.o)) & kept) return false;
  view.occupied = bit(view.m) | bit(view.o) | bit(advanced) | bit(32 + taker);
  view.add(true, PAWN * 64 + 32 + taker);
  view.add(false, PAWN * 64 + advanced);
  view.ep = advanced + 8;
  auto digits = digitsOf(index % layout.restProduct, layout.restRanges);
  uint64_t restSquares = 0, restPawns = 0;
  for (size_t g = 0; g < layout.rest.size(); g++) {
    const Group& group = layout.rest[g];
    uint64_t free = group.type == PAWN ? PAWN_SQUARES & ~(kept | restPawns)
                                       : ~(bit(view.m) | bit(view.o) | kept | restSquares);
    uint64_t before = view.occupied;
    if (!placeGroup(view, group, digits[g], free)) return false;
    restSquares |= view.occupied & ~before;
    if (group.type == PAWN) restPawns |= view.occupied & ~before;
  }
  return true;
}

}  // namespace

bool tbClassCounts(int classNumber, int counts[2][7]) {
  if (classNumber <= 0 || classNumber >= TB_CLASSES) return false;
  std::memset(counts, 0, sizeof(int) * 14);
  int side = 0;
  const char* name = tbClassName(classNumber);
  if (!*name) return false;
  for (const char* c = name + 1; *c; c++) {
    const char* letter = std::strchr("kpnbrq", *c);
    if (!letter) return false;
    int type = int(letter - "kpnbrq") + KING;
    if (type == KING) side = 1;
    else counts[side][type]++;
  }
  return true;
}

bool decodeTbIndex(int classNumber, int side, uint32_t index, TbPosition& position) {
  // The unit lists are emptied, not replaced, so that a caller decoding many positions into one
  // TbPosition allocates once.
  position.side = side;
  position.kings[0] = position.kings[1] = 0;
  position.units[0].clear();
  position.units[1].clear();
  position.ep = -1;
  const Layout* layout = layoutOf(classNumber, side);
  if (!layout || index >= layout->mainSize + layout->epSize) return false;
  View view;
  bool placed = index < layout->mainSize ? decodeMain(*layout, index, view)
                                         : decodeEnPassant(*layout, index - layout->mainSize, view);
  if (!placed) return false;
  // Back to the table's colours: with the second side to move the view is upside down and its
  // own units are the second side's.
  int flip = side ? 56 : 0;
  position.kings[side] = view.m ^ flip;
  position.kings[side ^ 1] = view.o ^ flip;
  for (int i = 0; i < view.count; i++) {
    auto [own, unit] = view.units[i];
    position.units[own ? side : side ^ 1].push_back(unit / 64 * 64 + ((unit % 64) ^ flip));
  }
  if (view.ep >= 0) position.ep = view.ep ^ flip;
  return true;
}

namespace {

// Whether the units of `side` attack square target, with blockers on the squares of occupied.
bool attacks(const TbPosition& p, int side, int target, uint64_t occupied) {
  static const int RAYS[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  if (touching(p.kings[side], target)) return true;
  for (int unit : p.units[side]) {
    int type = unit / 64, sq = unit % 64;
    if (type == KNIGHT && (knightSquares(sq) & bit(target))) return true;
    if (type == PAWN) {
      int ahead = side == 0 ? 1 : -1;  // the first side's pawns move up
      if (rankOf64(target) == rankOf64(sq) + ahead && std::abs(fileOf64(target) - fileOf64(sq)) == 1)
        return true;
    }
    if (type != BISHOP && type != ROOK && type != QUEEN) continue;
    for (int r = 0; r < 8; r++) {
      bool diagonal = r >= 4;
      if ((diagonal && type == ROOK) || (!diagonal && type == BISHOP)) continue;
      int f = fileOf64(sq), k = rankOf64(sq);
      for (;;) {
        f += RAYS[r][0];
        k += RAYS[r][1];
        if (f < 0 || f > 7 || k < 0 || k > 7) break;
        if (k * 8 + f == target) return true;
        if (occupied & bit(k * 8 + f)) break;
      }
    }
  }
  return false;
}

}  // namespace

bool tbPositionLegal(const TbPosition& p) {
  uint64_t occupied = 0;
  auto place = [&](int sq) {
    if (sq < 0 || sq > 63 || (occupied & bit(sq))) return false;
    occupied |= bit(sq);
    return true;
  };
  if (p.side < 0 || p.side > 1 || !place(p.kings[0]) || !place(p.kings[1])) return false;
  if (touching(p.kings[0], p.kings[1])) return false;
  for (int s = 0; s < 2; s++)
    for (int unit : p.units[s]) {
      if (unit / 64 < PAWN || unit / 64 > QUEEN || !place(unit % 64)) return false;
      if (unit / 64 == PAWN && (unit % 64 < 8 || unit % 64 > 55)) return false;
    }
  if (attacks(p, p.side, p.kings[p.side ^ 1], occupied)) return false;
  if (p.ep >= 0) {
    // The side not to move has just advanced a pawn two squares past ep, leaving ep and the
    // square it started from empty, and a pawn of the side to move stands beside it.
    int back = p.side == 1 ? -8 : 8;  // from ep towards the starting square
    int pawn = p.ep - back;
    if (p.ep < 0 || p.ep > 63 || rankOf64(p.ep) != (p.side == 1 ? 2 : 5)) return false;
    if (occupied & (bit(p.ep) | bit(p.ep + back))) return false;
    auto has = [&](int s, int sq) {
      return std::find(p.units[s].begin(), p.units[s].end(), PAWN * 64 + sq) != p.units[s].end();
    };
    if (!has(p.side ^ 1, pawn)) return false;
    bool taker = (fileOf64(pawn) > 0 && has(p.side, pawn - 1)) || (fileOf64(pawn) < 7 && has(p.side, pawn + 1));
    if (!taker) return false;
  }
  return true;
}

uint64_t layoutIndexCount(int classNumber, int side) {
  const Layout* layout = layoutOf(classNumber, side);
  return layout ? layout->mainSize + layout->epSize : 0;
}

uint64_t layoutEnPassantStart(int classNumber, int side) {
  const Layout* layout = layoutOf(classNumber, side);
  return layout ? layout->mainSize : 0;
}

uint32_t layoutFileLength(int classNumber, int side) {
  static uint32_t lengths[TB_CLASSES][2];
  static bool known[TB_CLASSES][2];
  if (classNumber <= 0 || classNumber >= TB_CLASSES || side < 0 || side > 1) return 0;
  if (!known[classNumber][side]) {
    uint64_t index = layoutIndexCount(classNumber, side);
    TbPosition position;
    while (index > 0 && !(decodeTbIndex(classNumber, side, uint32_t(index - 1), position) &&
                          tbPositionLegal(position)))
      index--;
    lengths[classNumber][side] = uint32_t(index);
    known[classNumber][side] = true;
  }
  return lengths[classNumber][side];
}


const char* tbPositionFen(const TbPosition& position, bool flip) {
  static char text[FEN_BUFFER];
  char squares[64];
  std::memset(squares, 0, sizeof squares);
  auto put = [&](int side, int type, int sq) {
    int colour = flip ? side ^ 1 : side;
    if (flip) sq ^= 56;
    squares[sq] = PIECE_CHARS[type + 8 * colour];
  };
  for (int s = 0; s < 2; s++) {
    put(s, KING, position.kings[s]);
    for (int unit : position.units[s]) put(s, unit / 64, unit % 64);
  }
  std::string fen;
  for (int rank = 7; rank >= 0; rank--) {
    int empty = 0;
    for (int file = 0; file < 8; file++) {
      char c = squares[rank * 8 + file];
      if (!c) {
        empty++;
        continue;
      }
      if (empty) fen += char('0' + empty), empty = 0;
      fen += c;
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  int mover = flip ? position.side ^ 1 : position.side;
  fen += mover ? " b - " : " w - ";
  if (position.ep >= 0) {
    int ep = flip ? position.ep ^ 56 : position.ep;
    fen += char('a' + (ep & 7));
    fen += char('1' + (ep >> 3));
  } else {
    fen += '-';
  }
  fen += " 0 1";
  std::snprintf(text, sizeof text, "%s", fen.c_str());
  return text;
}
