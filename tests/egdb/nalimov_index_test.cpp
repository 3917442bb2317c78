#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/egdb/layout_checks.h"
#include "tests/support/support.h"

namespace {

// Indices worked out by hand from the layout: the first kings of each numbering, a later pawn
// group that does not leave out the kings, and the en-passant part after the main part.
TEST(NalimovLayout, DecodesIndicesWorkedOutByHand) {
  resetEngine();
  const int KQK = classNumber("kqk"), KPKP = classNumber("kpkp");
  struct Case { int c; int side; uint32_t index; const char* fen; };
  const Case cases[] = {
      // Kings a1 and c1; the queen of the side to move leaves out the squares next to c1.
      {KQK, 0, 0, "8/8/8/8/8/8/8/K1k1Q3 w - - 0 1"},
      // Black to move: the board upside down, the white queen not left out of b1 (now b8).
      {KQK, 1, 0, "kQK5/8/8/8/8/8/8/8 b - - 0 1"},
      {KQK, 1, 61, "k1K5/8/8/8/8/8/8/7Q b - - 0 1"},
      // The last pair, d4 and h8 (d5 and h1 upside down), and the last queen square.
      {KQK, 1, 28643, "8/8/8/3k4/8/8/8/6QK b - - 0 1"},
      {KPKP, 0, 0, "8/8/8/8/8/8/Pp6/K1k5 w - - 0 1"},
      // Pair 12 is kings a1 and a3 (a8 and a6 upside down); black's pawn, first, cannot stand
      // on b2 (b7) where it would attack the white king; white's pawn codes skip a2 only.
      {KPKP, 1, 570 * 47 + 6, "k7/p6P/K7/8/8/8/8/8 b - - 0 1"},
      // The en-passant part starts at 81664 * 47: kings a1 c1, pawn a5 just advanced, b5 takes.
      {KPKP, 0, 3838208, "8/8/8/pP6/8/8/8/K1k5 w - a6 0 1"},
      {KPKP, 1, 3838208 + 13, "k1K5/8/8/8/6pP/8/8/8 b - h3 0 1"},
      // Pair 36 is kings a1 and a6, slot 2 a pawn on b5 taken from c5.
      {KPKP, 0, 3838208 + 36 * 14 + 2, "8/8/k7/1pP5/8/8/8/K7 w - b6 0 1"},
  };
  for (const Case& test : cases) {
    TbPosition p;
    ASSERT_TRUE(decodeTbIndex(test.c, test.side, test.index, p)) << test.index;
    EXPECT_EQ(fenOf(p, false), test.fen) << tbClassName(test.c) << " " << test.index;
  }
  TbPosition p;
  EXPECT_FALSE(decodeTbIndex(KPKP, 1, 570 * 47 + 7, p));              // white pawn on a king
  EXPECT_FALSE(decodeTbIndex(KPKP, 0, 3838208 + 36 * 14, p));          // king on a crossed square
  EXPECT_FALSE(decodeTbIndex(KPKP, 0, uint32_t(layoutIndexCount(KPKP, 0)), p));  // past the end
  EXPECT_FALSE(decodeTbIndex(0, 0, 0, p));
  EXPECT_FALSE(decodeTbIndex(TB_CLASSES, 0, 0, p));
  EXPECT_EQ(layoutIndexCount(KQK, 1), 462u * 62);
  EXPECT_EQ(layoutIndexCount(KPKP, 0), 3838208u + 1806 * 14);
}

TEST(NalimovLayout, NamesEveryLegalThreeManPositionOnce) {
  resetEngine();
  for (const char* name : {"kpk", "knk", "kbk", "krk", "kqk"}) expectEveryLegalPositionOnce(name, 100000);
}

// ---------------------------------------------------------------------------------------------
// The engine's index functions against the decoder
// ---------------------------------------------------------------------------------------------

// (File lengths: nalimov_lengths_test.cpp.)
TEST(NalimovIndex, CountsAgreeWithTheLayoutForEveryClass) {
  resetEngine();
  for (int c = 1; c < TB_CLASSES; c++)
    for (int side = 0; side < 2; side++)
      EXPECT_EQ(tbIndexCount(c, side), layoutIndexCount(c, side)) << tbClassName(c) << " " << side;
}

// Every index of the three-man classes, both sides to move, both ways up.
TEST(NalimovIndex, GivesBackEveryIndexOfTheThreeManClasses) {
  resetEngine();
  for (const char* name : {"kpk", "knk", "kbk", "krk", "kqk"})
    for (int side = 0; side < 2; side++) {
      int failures = 0;
      for (uint32_t i = 0; i < layoutIndexCount(classNumber(name), side) && failures < 5; i++) {
        std::string problem = checkIndexRoundTrip(classNumber(name), side, i);
        if (!problem.empty()) ADD_FAILURE() << problem, failures++;
      }
    }
}

// A sample of every class: indices all over the table, its last ones and, where there is one,
// the en-passant part.
TEST(NalimovIndex, GivesBackSampledIndicesOfEveryClass) {
  resetEngine();
  std::mt19937_64 random(77);
  for (int c = 1; c < TB_CLASSES; c++)
    for (int side = 0; side < 2; side++) {
      uint64_t count = layoutIndexCount(c, side), epStart = layoutEnPassantStart(c, side);
      std::vector<uint64_t> sample;
      for (int n = 0; n < 120; n++) sample.push_back(random() % count);
      for (int n = 0; n < 40 && epStart < count; n++) sample.push_back(epStart + random() % (count - epStart));
      for (uint64_t n = 1; n <= 20; n++) sample.push_back(count - n);
      int failures = 0;
      for (uint64_t i : sample) {
        std::string problem = checkIndexRoundTrip(c, side, uint32_t(i));
        if (!problem.empty() && failures++ < 3) ADD_FAILURE() << problem;
      }
    }
}

// A random placement of the class's men on distinct squares (pawns on ranks 2-7, kings apart),
// with an en-passant square behind a pawn of the side not to move now and then.
TbPosition randomPosition(int c, int side, std::mt19937& random) {
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
  } while (std::abs(p.kings[0] % 8 - p.kings[1] % 8) <= 1 && std::abs(p.kings[0] / 8 - p.kings[1] / 8) <= 1);
  int s = 0;
  for (const char* n = tbClassName(c) + 1; *n; n++) {
    if (*n == 'k') {
      s = 1;
      continue;
    }
    int type = int(std::string(" kpnbrq").find(*n));
    p.units[s].push_back(type * 64 + (type == PAWN ? freeSquare(8, 55) : freeSquare(0, 63)));
  }
  // Half of the time when both sides have pawns: a pawn of the side not to move has just
  // advanced two squares, and often one or two pawns of the side to move stand beside it.
  int mover = side ^ 1;
  std::vector<int*> victims, takers;
  for (int& unit : p.units[mover])
    if (unit / 64 == PAWN) victims.push_back(&unit);
  for (int& unit : p.units[side])
    if (unit / 64 == PAWN) takers.push_back(&unit);
  if (victims.empty() || takers.empty() || random() % 2) return p;
  int file = int(random() % 8), rank = mover == 0 ? 3 : 4, step = mover == 0 ? -8 : 8;
  int sq = rank * 8 + file;
  auto isFree = [&](int square) {
    if (square == p.kings[0] || square == p.kings[1]) return false;
    for (int t = 0; t < 2; t++)
      for (int unit : p.units[t])
        if (unit % 64 == square) return false;
    return true;
  };
  if (!isFree(sq) || !isFree(sq + step) || !isFree(sq + 2 * step)) return p;
  *victims[0] = PAWN * 64 + sq;
  for (size_t t = 0; t < takers.size() && t < 2; t++) {
    int beside = sq + (t == 0 ? -1 : 1);
    if ((file > 0 || t) && (file < 7 || !t) && random() % 4 && isFree(beside)) *takers[t] = PAWN * 64 + beside;
  }
  p.ep = sq + step;
  return p;
}

// Whether a pawn of the side to move stands beside the pawn that just advanced past p.ep.
bool capturable(const TbPosition& p) {
  if (p.ep < 0) return false;
  int advanced = p.ep + (p.side == 0 ? -8 : 8);
  for (int unit : p.units[p.side])
    if (unit / 64 == PAWN && (unit % 64) / 8 == advanced / 8 && std::abs(unit % 8 - advanced % 8) == 1)
      return true;
  return false;
}

// Positions as a board gives them (any mirror, the en-passant square set after every double
// step) index inside the table, the same both ways up, and the index names the position up to
// the board's symmetries; the en-passant square counts only when a pawn can take. Positions with
// the side not to move in check need no index, but one they get must name them.
TEST(NalimovIndex, IndexesPositionsGivenInAnyOrientation) {
  resetEngine();
  std::mt19937 random(2024);
  int withEp = 0, legal = 0;
  for (int c = 1; c < TB_CLASSES; c++)
    for (int side = 0; side < 2; side++)
      for (int trial = 0; trial < 60; trial++) {
        TbPosition p = randomPosition(c, side, random);
        TbPosition expected = p;
        if (!capturable(p)) expected.ep = -1;
        uint32_t index = tbIndexOf(c, p, false);
        EXPECT_EQ(tbIndexOf(c, p, true), index) << tbClassName(c) << " " << fenOf(p, false);
        if (!tbPositionLegal(expected) && index == TB_NO_INDEX) continue;
        legal += tbPositionLegal(expected);
        withEp += expected.ep >= 0;
        ASSERT_LT(index, tbIndexCount(c, side)) << tbClassName(c) << " " << fenOf(p, false);
        TbPosition decoded;
        ASSERT_TRUE(decodeTbIndex(c, side, index, decoded)) << tbClassName(c) << " " << index;
        bool found = false;
        for (const TbPosition& image : tbSymmetricImages(expected, hasPawns(c)))
          found = found || tbPositionKey(image) == tbPositionKey(decoded);
        EXPECT_TRUE(found) << tbClassName(c) << " side " << side << ": " << fenOf(p, false)
                           << " decodes to " << fenOf(decoded, false);
      }
  EXPECT_GT(legal, 10000);
  EXPECT_GT(withEp, 50);  // en-passant positions were among them
}

// Squares that fit no position (kings next to each other, two men on one square, whichever group
// they belong to) have no index.
TEST(NalimovIndex, RefusesSquaresThatFitNoPosition) {
  resetEngine();
  const int KQK = classNumber("kqk"), KRPK = classNumber("krpk"), KPKP = classNumber("kpkp");
  struct Case { int c; TbPosition p; };
  const Case cases[] = {
      {KQK, {0, {0, 1}, {{QUEEN * 64 + 40}, {}}, -1}},
      {KQK, {0, {0, 63}, {{QUEEN * 64 + 0}, {}}, -1}},
      {KQK, {1, {0, 63}, {{QUEEN * 64 + 63}, {}}, -1}},
      {KPKP, {1, {20, 40}, {{PAWN * 64 + 30}, {PAWN * 64 + 40}}, -1}},
      {KPKP, {0, {20, 40}, {{PAWN * 64 + 30}, {PAWN * 64 + 30}}, -1}},
      {KRPK, {0, {20, 40}, {{ROOK * 64 + 30, PAWN * 64 + 20}, {}}, -1}},
      {KRPK, {1, {20, 40}, {{ROOK * 64 + 30, PAWN * 64 + 30}, {}}, -1}},
      {KPKP, {0, {20, 40}, {{PAWN * 64 + 30}, {PAWN * 64 + 40}}, -1}},
      {KPKP, {1, {20, 40}, {{PAWN * 64 + 20}, {PAWN * 64 + 30}}, -1}},
  };
  for (const Case& test : cases)
    for (bool invert : {false, true}) {
      uint32_t index = tbIndexOf(test.c, test.p, invert);
      EXPECT_EQ(index, TB_NO_INDEX) << tbClassName(test.c) << " " << test.p.side;
    }
}

}  // namespace
