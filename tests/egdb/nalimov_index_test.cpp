#include <algorithm>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

// The square blocks the probe passes for a table position, seen through a board transform.
void blocksOf(const TbPosition& p, int transform, int blocks[2][TB_BLOCK_SIZE]) {
  static const int OFFSET[7] = {0, 15, 0, 3, 6, 9, 12};
  for (int s = 0; s < 2; s++) {
    std::fill(blocks[s], blocks[s] + TB_BLOCK_SIZE, 0);
    int used[7] = {};
    blocks[s][15] = p.kings[s] ^ transform;
    for (int unit : p.units[s]) {
      int type = unit / 64;
      blocks[s][OFFSET[type] + used[type]++] = (unit % 64) ^ transform;
    }
  }
}

// The position after a symmetry of the board: mask 7 mirrors the files, 56 the ranks, and
// transposing swaps files and ranks.
TbPosition transformed(const TbPosition& p, int mask, bool transpose) {
  auto apply = [&](int sq) {
    sq ^= mask;
    return transpose ? (sq & 7) << 3 | sq >> 3 : sq;
  };
  TbPosition q = p;
  for (int s = 0; s < 2; s++) {
    q.kings[s] = apply(p.kings[s]);
    for (int& unit : q.units[s]) unit = unit / 64 * 64 + apply(unit % 64);
    std::sort(q.units[s].begin(), q.units[s].end());
  }
  if (p.ep >= 0) q.ep = apply(p.ep);
  return q;
}

bool samePosition(TbPosition a, TbPosition b) {
  for (int s = 0; s < 2; s++) {
    std::sort(a.units[s].begin(), a.units[s].end());
    std::sort(b.units[s].begin(), b.units[s].end());
  }
  return a.side == b.side && a.kings[0] == b.kings[0] && a.kings[1] == b.kings[1] &&
         a.units[0] == b.units[0] && a.units[1] == b.units[1] && a.ep == b.ep;
}

// A random placement of the class's men on distinct squares (pawns on ranks 2-7, kings apart),
// with an en-passant square behind a pawn of the side not to move now and then.
TbPosition randomPosition(int classNumber, int side, std::mt19937& random) {
  TbPosition p{side, {0, 0}, {{}, {}}, -1};
  std::vector<int> taken;
  auto freeSquare = [&](int low, int high) {
    for (;;) {
      int sq = low + int(random() % unsigned(high - low + 1));
      if (std::find(taken.begin(), taken.end(), sq) == taken.end()) {
        taken.push_back(sq);
        return sq;
      }
    }
  };
  do {
    taken.clear();
    p.kings[0] = freeSquare(0, 63);
    p.kings[1] = freeSquare(0, 63);
  } while (std::abs((p.kings[0] & 7) - (p.kings[1] & 7)) <= 1 &&
           std::abs((p.kings[0] >> 3) - (p.kings[1] >> 3)) <= 1);
  int s = 0;
  for (const char* c = tbClassName(classNumber) + 1; *c; c++) {
    if (*c == 'k') {
      s = 1;
      continue;
    }
    int type = int(std::string(" kpnbrq").find(*c));
    p.units[s].push_back(type * 64 + (type == PAWN ? freeSquare(8, 55) : freeSquare(0, 63)));
  }
  // En passant, half of the time when both sides have pawns: a pawn of the side not to move has
  // just advanced two squares, and often a pawn of the side to move stands beside it.
  int mover = side ^ 1;
  auto pawnOf = [&](int s) {
    for (int& unit : p.units[s])
      if (unit / 64 == PAWN) return &unit;
    return static_cast<int*>(nullptr);
  };
  int* victim = pawnOf(mover);
  int* captor = pawnOf(side);
  if (victim && captor && random() % 2) {
    int file = int(random() % 8), rank = mover == 0 ? 3 : 4, step = mover == 0 ? -8 : 8;
    int sq = rank * 8 + file, beside = sq + (file == 0 || (file < 7 && random() % 2) ? 1 : -1);
    auto isFree = [&](int square) {
      return square != p.kings[0] && square != p.kings[1] &&
             std::none_of(p.units[0].begin(), p.units[0].end(), [&](int u) { return u % 64 == square; }) &&
             std::none_of(p.units[1].begin(), p.units[1].end(), [&](int u) { return u % 64 == square; });
    };
    if (isFree(sq) && isFree(sq + step) && isFree(sq + 2 * step)) {
      *victim = PAWN * 64 + sq;
      if (random() % 4 && isFree(beside)) *captor = PAWN * 64 + beside;
      p.ep = sq + step;
    }
  }
  return p;
}

// Whether an en-passant capture by the side to move is there at all.
bool capturable(const TbPosition& p) {
  if (p.ep < 0) return false;
  int victim = p.ep + (p.side == 0 ? -8 : 8);
  for (int unit : p.units[p.side])
    if (unit / 64 == PAWN && (unit % 64) >> 3 == victim >> 3 &&
        std::abs((unit % 64 & 7) - (victim & 7)) == 1)
      return true;
  return false;
}

// For every class and side: the index of a position lies in the table, and the layout decoder
// (written separately from the index functions) turns it back into the same position up to the
// board symmetries the class allows; the upside-down board with the invert flag gives the same
// index.
TEST(NalimovIndex, DecodesBackToThePositionForEveryClass) {
  resetEngine();
  std::mt19937 random(2024);
  int withEp = 0;
  for (int c = 1; c < TB_CLASSES; c++) {
    bool pawns = std::string(tbClassName(c)).find('p') != std::string::npos;
    uint32_t size = tbTableSize(tbClassName(c));
    ASSERT_GT(size, 0u) << tbClassName(c);
    for (int side = 0; side < 2; side++)
      for (int trial = 0; trial < 60; trial++) {
        TbPosition p = randomPosition(c, side, random);
        int blocks[2][TB_BLOCK_SIZE], flipped[2][TB_BLOCK_SIZE];
        blocksOf(p, 0, blocks);
        blocksOf(p, 56, flipped);
        int ep = p.ep >= 0 ? p.ep : TB_NO_EP;
        uint32_t index = indexTB(c, side, blocks[0], blocks[1], ep, 0);
        ASSERT_LT(index, size) << tbClassName(c);
        EXPECT_EQ(indexTB(c, side, flipped[0], flipped[1], ep == TB_NO_EP ? ep : ep ^ 56, 1), index);
        TbPosition expected = p;
        if (!capturable(p)) expected.ep = -1;
        withEp += expected.ep >= 0;
        TbPosition decoded;
        ASSERT_TRUE(decodeTbIndex(c, side, index, decoded)) << tbClassName(c) << " " << index;
        bool found = false;
        for (int t = 0; t < (pawns ? 2 : 16) && !found; t++) {
          int mask = (t & 1 ? 7 : 0) | (t & 2 ? 56 : 0) | (t & 4 ? 63 : 0);
          found = samePosition(transformed(expected, pawns ? mask & 7 : mask, t >= 8), decoded);
        }
        EXPECT_TRUE(found) << tbClassName(c) << " side " << side << ": " << fenOf(p, false)
                           << " decodes to " << fenOf(decoded, false);
      }
  }
  EXPECT_GT(withEp, 50);  // en-passant positions were among them
}

// A real file ends at its last index that holds a legal position. With black to move every kqk
// placement of three distinct squares with the kings apart is legal, so the largest index the
// index function gives over all of them, plus one, is the length of the published kqk.nbb.
TEST(NalimovIndex, LargestKqkIndexWithBlackToMoveGivesThePublishedFileLength) {
  resetEngine();
  int blocks[2][TB_BLOCK_SIZE] = {};
  uint64_t largest = 0;
  int positions = 0;
  for (int wk = 0; wk < 64; wk++)
    for (int bk = 0; bk < 64; bk++) {
      if (std::abs(wk % 8 - bk % 8) <= 1 && std::abs(wk / 8 - bk / 8) <= 1) continue;
      for (int q = 0; q < 64; q++) {
        if (q == wk || q == bk) continue;
        blocks[0][15] = wk;
        blocks[1][15] = bk;
        blocks[0][12] = q;
        uint32_t index = indexTB(5, 1, blocks[0], blocks[1], TB_NO_EP, 0);
        ASSERT_NE(index, TB_NO_INDEX);
        largest = std::max<uint64_t>(largest, index);
        positions++;
      }
    }
  EXPECT_EQ(positions, 3612 * 62);
  EXPECT_EQ(largest + 1, 28644u);
}

TEST(NalimovIndex, KingPairsTakeAFixedShareOfTheTables) {
  resetEngine();
  // Published sizes of the tables without pawns against a bare king, black to move.
  EXPECT_EQ(tbTableSize("kqk"), 28644u);
  EXPECT_EQ(tbTableSize("kqqk"), 873642u);
  EXPECT_EQ(tbTableSize("kqqqk"), 17472840u);
  int blocks[2][TB_BLOCK_SIZE] = {};
  blocks[0][15] = 0;   // a1
  blocks[1][15] = 1;   // b1: the kings touch
  blocks[0][12] = 40;
  EXPECT_EQ(indexTB(5, 0, blocks[0], blocks[1], TB_NO_EP, 0), TB_NO_INDEX);
  blocks[0][12] = 0;  // queen on the white king
  blocks[1][15] = 63;
  EXPECT_EQ(indexTB(5, 0, blocks[0], blocks[1], TB_NO_EP, 0), TB_NO_INDEX);
}

}  // namespace
