#include <cstring>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/support/support.h"

namespace {

Square sq(const char* name) { return (name[1] - '1') * 16 + (name[0] - 'a'); }

TEST(Position, StartPositionLists) {
  resetEngine();
  const char* pieces[] = {"e1", "b1", "g1", "c1", "f1", "a1", "h1", "d1"};
  const int codes[] = {KING, KNIGHT, KNIGHT, BISHOP, BISHOP, ROOK, ROOK, QUEEN};
  ASSERT_EQ(pieceSlots[WHITE], 8);
  for (int slot = 0; slot < 8; slot++) {
    EXPECT_EQ(pieceList[WHITE][slot], PieceEntry(sq(pieces[slot]) | codes[slot] << 8)) << slot;
    EXPECT_EQ(listIndex[sq(pieces[slot])], slot);
  }
  for (int file = 0; file < 8; file++) {
    EXPECT_EQ(slotSquare(pieceList[WHITE][PAWN_SLOT0 + file]), 0x10 + file);
    EXPECT_EQ(slotSquare(pieceList[BLACK][PAWN_SLOT0 + file]), 0x60 + file);
  }
  EXPECT_EQ(kingSquare(BLACK), sq("e8"));
  EXPECT_EQ(pawnSlots[WHITE], 8);
  EXPECT_EQ(material[WHITE], 3900);
  EXPECT_EQ(material[BLACK], 3900);
  EXPECT_EQ(listIndex[sq("e4")], NO_SLOT);
}

TEST(Position, GuardsStopEveryStepAndJump) {
  resetEngine();
  for (Square from = 0; from < 128; from++) {
    if (!onBoard(from)) continue;
    for (int code : {KING, KNIGHT}) {
      for (const int* d = pieceDirs[code]; *d; d++) {
        const Square to = from + *d;
        if (onBoard(to) && to >= 0 && to < 128) continue;
        EXPECT_EQ(board[to], OFFBOARD) << from << " " << *d;
        EXPECT_NE(board[to] >> 3, otherSide);
      }
    }
  }
  EXPECT_EQ(square64(sq("h1")), 7);
  EXPECT_EQ(square64(sq("a8")), 56);
  EXPECT_EQ(square88(63), sq("h8"));
}

TEST(Position, KeyTermsForRightsSideAndEnPassant) {
  resetEngine();
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1"));
  const HashKey all = hashKey;
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w Kq - 0 1"));
  EXPECT_EQ(all ^ hashKey, castleKeys[15] ^ castleKeys[CASTLE_WK | CASTLE_BQ]);
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1"));
  EXPECT_EQ(all ^ hashKey, SIDE_KEY);
  ASSERT_TRUE(setPosition("4k3/8/8/8/4P3/8/8/4K3 b - e3 0 1"));
  const HashKey withEp = hashKey;
  ASSERT_TRUE(setPosition("4k3/8/8/8/4P3/8/8/4K3 b - - 0 1"));
  EXPECT_EQ(withEp ^ hashKey, pieceKeys[0][square64(sq("e3"))]);
  EXPECT_NE(withEp, hashKey);
}

TEST(Position, ListsNeverOverflowWhateverTheBoardHolds) {
  resetEngine();
  for (Square s = 0; s < 128; s++)
    if (onBoard(s)) board[s] = EMPTY;
  board[sq("e8")] = KING + BLACK_BIT;
  board[sq("h8")] = ROOK + BLACK_BIT;
  for (Square s = 0x10; s < 0x48; s++)
    if (onBoard(s)) board[s] = PAWN;  // 32 white pawns
  for (Square s = 0x50; s < 0x58; s++) board[s] = QUEEN;  // and 8 queens, 16 more
  for (Square s = 0x60; s < 0x68; s++) board[s] = QUEEN;
  board[sq("a1")] = KING;
  initPieceLists();
  EXPECT_EQ(typeCount[WHITE][PAWN], 32);
  EXPECT_EQ(typeCount[WHITE][QUEEN], 16);
  EXPECT_EQ(pawnSlots[WHITE], 8);
  EXPECT_EQ(pieceSlots[WHITE], 16);
  // Black's list is intact: nothing spilled over from white's.
  EXPECT_EQ(pieceSlots[BLACK], 2);
  EXPECT_EQ(pieceList[BLACK][0], PieceEntry(sq("e8") | (KING + BLACK_BIT) << 8));
  EXPECT_EQ(pieceList[BLACK][1], PieceEntry(sq("h8") | (ROOK + BLACK_BIT) << 8));
  for (int slot = 2; slot < PIECE_SLOTS; slot++) EXPECT_EQ(pieceList[BLACK][slot], GONE);
  EXPECT_EQ(listIndex[sq("a8")], NO_SLOT);  // the seventeenth queen found no slot
  EXPECT_FALSE(boardIsConsistent());
  EXPECT_GT(captureOutput([] { validatePosition(); }).size(), 0u);
  setBoard(START_FEN);
  EXPECT_TRUE(boardIsConsistent());
}

TEST(Position, AuditNoticesDamage) {
  resetEngine();
  EXPECT_TRUE(boardIsConsistent());
  hashKey ^= 1;
  EXPECT_FALSE(boardIsConsistent());
  hashKey ^= 1;
  material[BLACK] += 100;
  EXPECT_FALSE(boardIsConsistent());
  material[BLACK] -= 100;
  board[sq("e4")] = PAWN;
  EXPECT_FALSE(boardIsConsistent());
  board[sq("e4")] = EMPTY;
  boardPadded[3] = EMPTY;
  EXPECT_FALSE(boardIsConsistent());
  boardPadded[3] = OFFBOARD;
  EXPECT_TRUE(boardIsConsistent());
}

}  // namespace
