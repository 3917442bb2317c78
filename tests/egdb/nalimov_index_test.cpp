#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

int classNumber(const std::string& name) {
  for (int c = 1; c < TB_CLASSES; c++)
    if (name == tbClassName(c)) return c;
  return 0;
}

bool hasPawns(int c) { return std::string(tbClassName(c)).find('p') != std::string::npos; }

// File lengths of published tables (white to move, black to move): the layout must end each file
// exactly at its last legal position.
TEST(NalimovLayout, FileLengthsMatchThePublishedTables) {
  resetEngine();
  struct Published { const char* name; uint32_t length[2]; };
  const Published published[] = {
      {"kpk", {81664, 84012}},           {"kqk", {25629, 28644}},
      {"kpkp", {3863492, 3863492}},      {"kqqk", {698739, 873642}},
      {"kppkp", {84219361, 89391280}},   {"kqqkq", {41944320, 46912050}},
      {"kpppk", {26061704, 28388716}},   {"kqqqk", {12479974, 17472840}},
  };
  for (const Published& table : published)
    for (int side = 0; side < 2; side++)
      EXPECT_EQ(layoutFileLength(classNumber(table.name), side), table.length[side])
          << table.name << (side ? " black" : " white") << " to move";
}

// Seven entries of the published kppkp.nbb that were once read wrongly: all are positions with
// Black's pawn on the b-file and Black's king on the a- or b-file.
TEST(NalimovLayout, DecodesTheSevenKppkpEntries) {
  resetEngine();
  for (uint32_t index : {56802428u, 56811076u, 56849992u, 56858640u, 59592489u, 67775659u, 71071628u}) {
    TbPosition p;
    ASSERT_TRUE(decodeTbIndex(classNumber("kppkp"), 1, index, p)) << index;
    EXPECT_TRUE(tbPositionLegal(p)) << index << ": " << fenOf(p, false);
    EXPECT_EQ(p.side, 1);
    EXPECT_EQ(p.ep, -1);
    ASSERT_EQ(p.units[1].size(), 1u);
    EXPECT_EQ(p.units[1][0] / 64, PAWN);
    EXPECT_EQ(p.units[1][0] % 8, 1) << index << ": " << fenOf(p, false);
    EXPECT_LE(p.kings[1] % 8, 1) << index << ": " << fenOf(p, false);
  }
}

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

// Every index of a class names a well-formed position, no position twice, and every legal
// position (with its en-passant variant where there is one) has an index up to the symmetries of
// the board.
void expectEveryLegalPositionOnce(const char* name) {
  for (int side = 0; side < 2; side++) {
    LayoutCoverage coverage = checkLayoutCoverage(classNumber(name), side);
    EXPECT_EQ(coverage.malformed, 0u) << name << " side " << side << ": " << coverage.firstProblem;
    EXPECT_EQ(coverage.repeated, 0u) << name << " side " << side;
    EXPECT_EQ(coverage.missing, 0u) << name << " side " << side << ": " << coverage.firstProblem;
    EXPECT_GT(coverage.legal, 100000u) << name;
    EXPECT_GE(coverage.decoded, coverage.legal / (hasPawns(classNumber(name)) ? 2 : 8)) << name;
  }
}

TEST(NalimovLayout, NamesEveryLegalThreeManPositionOnce) {
  resetEngine();
  for (const char* name : {"kpk", "knk", "kbk", "krk", "kqk"}) expectEveryLegalPositionOnce(name);
}

// Writes the file length of every class and side as the lines of a C++ table to
// /tmp/tb_sizes.txt. Run on purpose with
//   talvek_tests --gtest_also_run_disabled_tests --gtest_filter='*WritesTheTableOfFileLengths'
TEST(NalimovLayout, DISABLED_WritesTheTableOfFileLengths) {
  resetEngine();
  FILE* out = std::fopen("/tmp/tb_sizes.txt", "w");
  ASSERT_NE(out, nullptr);
  for (int c = 0; c < TB_CLASSES; c++)
    std::fprintf(out, "{%u, %u},  // %d %s\n", layoutFileLength(c, 0), layoutFileLength(c, 1), c,
                 c ? tbClassName(c) : "kk");
  std::fclose(out);
}

}  // namespace
