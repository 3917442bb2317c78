#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/support/support.h"

namespace {

Square sq(const char* name) { return (name[1] - '1') * 16 + (name[0] - 'a'); }

TEST(Attacks, TableEntriesByDifference) {
  resetEngine();
  EXPECT_EQ(attackEntry(sq("a1") - sq("h8")).mask, 16 | 64);
  EXPECT_EQ(attackEntry(sq("a1") - sq("h8")).dir, 17);
  EXPECT_EQ(attackEntry(sq("b1") - sq("a1")).mask, 1 | 32 | 64);
  EXPECT_EQ(attackEntry(sq("b1") - sq("a1")).dir, -1);
  EXPECT_EQ(attackEntry(33).mask, 8);
  EXPECT_EQ(attackEntry(33).dir, -33);
  EXPECT_EQ(attackEntry(sq("e4") - sq("d5")).mask, 1 | 2 | 16 | 64);  // white pawn only
  EXPECT_EQ(attackEntry(sq("e5") - sq("d4")).mask, 1 | 4 | 16 | 64);  // black pawn only
  EXPECT_EQ(attackEntry(sq("a1") - sq("b3")).mask & MASK_QUEEN, 0);
  EXPECT_EQ(distance(sq("a1"), sq("h8")), 7);
  EXPECT_EQ(distance(sq("e4"), sq("c5")), 2);
}

TEST(Attacks, PawnsAndSliders) {
  resetEngine();
  ASSERT_TRUE(setPosition("4k3/8/8/8/4P3/8/8/R3K3 w - - 0 1"));
  EXPECT_TRUE(isAttacked(sq("d5"), WHITE));
  EXPECT_TRUE(isAttacked(sq("f5"), WHITE));
  EXPECT_FALSE(isAttacked(sq("e5"), WHITE));
  EXPECT_TRUE(isAttacked(sq("a8"), WHITE));
  EXPECT_TRUE(isAttacked(sq("d1"), WHITE));   // the rook reaches up to the king
  EXPECT_TRUE(isAttacked(sq("f1"), WHITE));   // the king itself
  EXPECT_FALSE(isAttacked(sq("g1"), WHITE));  // the rook does not see through its own king
  EXPECT_FALSE(inCheck(BLACK));
}

TEST(Attacks, CheckersDirectAndDiscovered) {
  resetEngine();
  int out[2];
  ASSERT_TRUE(setPosition("4r1k1/8/8/8/8/8/8/4K3 w - - 0 1"));
  EXPECT_EQ(findCheckers(out), 1);
  EXPECT_EQ(out[0], sq("e8"));

  // Rook e1 behind bishop e4; the bishop leaves the file: one checker, the rook.
  ASSERT_TRUE(setPosition("4k3/8/8/8/4B3/8/8/K3R3 w - - 0 1"));
  makeMove(matchMove(parseCoord("e4h1")));
  EXPECT_EQ(findCheckers(out), 1);
  EXPECT_EQ(out[0], sq("e1"));
  EXPECT_EQ(findCheckersAfterMove(out), 1);
  EXPECT_EQ(out[0], sq("e1"));
  unmakeMove();
  // The bishop checks as it uncovers the rook: two checkers, the mover first.
  makeMove(matchMove(parseCoord("e4g6")));
  EXPECT_EQ(findCheckersAfterMove(out), 2);
  EXPECT_EQ(out[0], sq("g6"));
  EXPECT_EQ(out[1], sq("e1"));
  EXPECT_EQ(findCheckers(out), 2);
  unmakeMove();
  // A knight check and a pawn check are found after the move too.
  ASSERT_TRUE(setPosition("4k3/8/8/3P4/4N3/8/8/K7 w - - 0 1"));
  makeMove(matchMove(parseCoord("e4f6")));
  EXPECT_EQ(findCheckersAfterMove(out), 1);
  EXPECT_EQ(out[0], sq("f6"));
  unmakeMove();
  ASSERT_TRUE(setPosition("4k3/8/3P4/8/8/8/8/K7 w - - 0 1"));
  makeMove(matchMove(parseCoord("d6d7")));
  EXPECT_EQ(findCheckersAfterMove(out), 1);
  EXPECT_EQ(out[0], sq("d7"));
  unmakeMove();
}

TEST(Attacks, EnPassantAlongTheKingsRank) {
  resetEngine();
  ASSERT_TRUE(setPosition("8/8/8/K2Pp2r/8/8/8/7k w - e6 0 1"));
  const Move ep = makeMoveWord(sq("d5"), sq("e6"), PAWN, PAWN + BLACK_BIT, 0, MF_EN_PASSANT);
  plyStack[ply].checkCount = 0;
  EXPECT_EQ(legal(ep), 0);
  EXPECT_EQ(matchMove(parseCoord("d5e6")), 0u);
  ASSERT_TRUE(setPosition("8/8/8/3Pp2r/8/8/8/K6k w - e6 0 1"));
  EXPECT_EQ(legal(ep), 1);
  EXPECT_EQ(matchMove(parseCoord("d5e6")), ep);
  // The captured pawn itself shielding the king on a diagonal (set-up positions only).
  ASSERT_TRUE(setPosition("1b6/8/8/3Pp3/8/8/7K/k7 w - e6 0 1"));
  EXPECT_EQ(legal(ep), 0);
}

TEST(Attacks, PinsAllowMovesAlongThePinOnly) {
  resetEngine();
  ASSERT_TRUE(setPosition("4k3/p7/8/1b6/8/3N4/8/5K2 w - - 0 1"));
  EXPECT_EQ(abs(pinDirection(sq("d3"))), 15);
  for (const char* to : {"b4", "b2", "c1", "e1", "f2", "f4", "e5", "c5"})
    EXPECT_EQ(matchMove(parseCoord((std::string("d3") + to).c_str())), 0u) << to;
  ASSERT_TRUE(setPosition("4r1k1/8/8/8/8/8/4R3/4K3 w - - 0 1"));
  EXPECT_EQ(abs(pinDirection(sq("e2"))), 16);
  EXPECT_NE(matchMove(parseCoord("e2e8")), 0u);
  EXPECT_NE(matchMove(parseCoord("e2e5")), 0u);
  EXPECT_EQ(matchMove(parseCoord("e2d2")), 0u);
  ASSERT_TRUE(setPosition("4r1k1/8/8/8/8/4N3/4R3/4K3 w - - 0 1"));
  EXPECT_EQ(pinDirection(sq("e2")), 0);
}

}  // namespace
