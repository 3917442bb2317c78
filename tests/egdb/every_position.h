// Every legal position of a small class, indexed through the engine's index functions in both
// colour orientations: the largest index of a legal position + 1 is the length of a correct
// table file. Shared by the fast and the slow length tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "egdb/egdb.h"

namespace lengths {

inline int fileOf(int sq) { return sq & 7; }
inline int rankOf(int sq) { return sq >> 3; }
inline bool touching(int a, int b) {
  return std::abs(fileOf(a) - fileOf(b)) <= 1 && std::abs(rankOf(a) - rankOf(b)) <= 1;
}

// A small board for legality: unit letter per square (0 empty; upper case White, lower Black).
struct Board {
  char at[64] = {};
  bool queenAttacks(int from, int to) const {
    int df = fileOf(to) - fileOf(from), dr = rankOf(to) - rankOf(from);
    if (from == to || !(df == 0 || dr == 0 || std::abs(df) == std::abs(dr))) return false;
    int sf = (df > 0) - (df < 0), sr = (dr > 0) - (dr < 0);
    for (int sq = from + sr * 8 + sf; sq != to; sq += sr * 8 + sf)
      if (at[sq]) return false;
    return true;
  }
  // Is the king on sq attacked by one of the units (types, squares) of the other colour?
  bool attacked(int sq, bool whiteKing, const std::vector<char>& types,
                const std::vector<int>& squares) const {
    for (size_t i = 0; i < types.size(); i++) {
      char c = types[i];
      int from = squares[i];
      if ((c >= 'a') != whiteKing) continue;
      int df = fileOf(sq) - fileOf(from), dr = rankOf(sq) - rankOf(from);
      bool straight = df == 0 || dr == 0, diagonal = std::abs(df) == std::abs(dr);
      if ((c == 'q' || c == 'Q') && queenAttacks(from, sq)) return true;
      if ((c == 'r' || c == 'R') && straight && queenAttacks(from, sq)) return true;
      if ((c == 'b' || c == 'B') && diagonal && queenAttacks(from, sq)) return true;
      if ((c == 'n' || c == 'N') && std::abs(df * dr) == 2) return true;
      if (c == 'P' && dr == 1 && std::abs(df) == 1) return true;
      if (c == 'p' && dr == -1 && std::abs(df) == 1) return true;
    }
    return false;
  }
};

// Enumerates every legal position of the units (kings added) with each side to move and calls
// visit(white squares, black squares, side to move, en-passant square or TB_NO_EP).
template <typename Visit>
void everyPosition(const std::vector<char>& units, Visit visit) {
  std::vector<int> squares(units.size());
  Board board;
  auto place = [&](auto&& self, size_t i, int wk, int bk) -> void {
    if (i == units.size()) {
      for (int stm = 0; stm < 2; stm++) {
        // The side not to move must not be in check.
        if (board.attacked(stm == 0 ? bk : wk, stm != 0, units, squares)) continue;
        visit(squares, wk, bk, stm, TB_NO_EP);
        // The same placement right after the other side's double step, when a pawn can take.
        for (size_t j = 0; j < units.size(); j++) {
          bool victimWhite = units[j] == 'P';
          if (units[j] != (stm == 0 ? 'p' : 'P')) continue;
          int sq = squares[j];
          if (rankOf(sq) != (victimWhite ? 3 : 4)) continue;
          int crossed = victimWhite ? sq - 8 : sq + 8, start = victimWhite ? sq - 16 : sq + 16;
          if (board.at[crossed] || board.at[start]) continue;
          bool taker = false;
          for (size_t t = 0; t < units.size(); t++)
            taker |= units[t] == (stm == 0 ? 'P' : 'p') && rankOf(squares[t]) == rankOf(sq) &&
                     std::abs(fileOf(squares[t]) - fileOf(sq)) == 1;
          if (taker) visit(squares, wk, bk, stm, crossed);
        }
      }
      return;
    }
    bool pawn = units[i] == 'P' || units[i] == 'p';
    for (int sq = pawn ? 8 : 0; sq < (pawn ? 56 : 64); sq++) {
      if (board.at[sq]) continue;
      board.at[sq] = units[i];
      squares[i] = sq;
      self(self, i + 1, wk, bk);
      board.at[sq] = 0;
    }
  };
  for (int wk = 0; wk < 64; wk++)
    for (int bk = 0; bk < 64; bk++) {
      if (wk == bk || touching(wk, bk)) continue;
      board.at[wk] = 'K';
      board.at[bk] = 'k';
      place(place, 0, wk, bk);
      board.at[wk] = board.at[bk] = 0;
    }
}

// Square blocks of the index functions: pawns 0-2, knights 3-5, bishops 6-8, rooks 9-11,
// queens 12-14, king 15.
inline void fillBlocks(const std::vector<char>& units, const std::vector<int>& squares, int wk, int bk,
                bool flip, int blocks[2][TB_BLOCK_SIZE]) {
  int used[2][5] = {};
  for (int s = 0; s < 2; s++) std::fill(blocks[s], blocks[s] + TB_BLOCK_SIZE, 0);
  for (size_t i = 0; i < units.size(); i++) {
    int colour = units[i] >= 'a';
    static const char TYPES[] = "pnbrq";
    int type = int(std::strchr(TYPES, units[i] | 32) - TYPES);
    int side = flip ? colour ^ 1 : colour;  // side of the class: 0 the stronger
    blocks[side][3 * type + used[side][type]++] = flip ? squares[i] ^ 56 : squares[i];
  }
  blocks[flip ? 1 : 0][15] = flip ? wk ^ 56 : wk;
  blocks[flip ? 0 : 1][15] = flip ? bk ^ 56 : bk;
}

// Largest index + 1 over the legal positions of a class, per side, checking on the way that the
// colour-exchanged position (Black holding the class's stronger side, invert flag set) gets the
// same index.
inline std::vector<uint32_t> lengthsOf(int classNumber, const std::vector<char>& units) {
  std::vector<uint32_t> largest(2, 0);
  uint64_t mismatches = 0, outside = 0;
  everyPosition(units, [&](const std::vector<int>& squares, int wk, int bk, int stm, int ep) {
    int blocks[2][TB_BLOCK_SIZE], flipped[2][TB_BLOCK_SIZE];
    fillBlocks(units, squares, wk, bk, false, blocks);
    uint32_t index = indexTB(classNumber, stm, blocks[0], blocks[1], ep, 0);
    // The same position with colours exchanged and the board turned: Black is the stronger side.
    std::vector<char> swapped(units);
    for (char& c : swapped) c = c >= 'a' ? char(c - 32) : char(c + 32);
    fillBlocks(swapped, squares, bk, wk, true, flipped);
    // flipped[0] now holds the stronger side's (Black's) squares; Black is the side of stm ^ 1
    // in the exchanged game only by colour, the table side stays stm.
    uint32_t again = indexTB(classNumber, stm, flipped[0], flipped[1],
                             ep == TB_NO_EP ? TB_NO_EP : ep ^ 56, 1);
    if (again != index) mismatches++;
    if (index == TB_NO_INDEX || index >= tbIndexCount(classNumber, stm)) {
      outside++;
      return;
    }
    largest[size_t(stm)] = std::max(largest[size_t(stm)], index + 1);
  });
  EXPECT_EQ(mismatches, 0u) << tbClassName(classNumber);
  EXPECT_EQ(outside, 0u) << tbClassName(classNumber);
  return largest;
}

}  // namespace lengths
