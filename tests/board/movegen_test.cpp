#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/support/support.h"

namespace {

// The current ply's list as coordinate texts, in emission order.
std::string listed() {
  std::string out;
  const PlyRecord& rec = plyStack[ply];
  for (int i = 0; i < rec.moveCount; i++) out += std::string(out.empty() ? "" : " ") + moveToCoord(rec.moves[i]);
  EXPECT_EQ(rec.moves[rec.moveCount], 0u);
  return out;
}

// The legal moves of the current ply, in emission order.
std::string legalListed() {
  std::string out;
  const PlyRecord& rec = plyStack[ply];
  for (int i = 0; i < rec.moveCount; i++)
    if (legal(rec.moves[i])) out += std::string(out.empty() ? "" : " ") + moveToCoord(rec.moves[i]);
  return out;
}

TEST(MoveGen, StartPositionOrder) {
  resetEngine();
  genPlyMoves();
  EXPECT_EQ(listed(),
            "b1c3 b1a3 g1h3 g1f3 a2a3 a2a4 b2b3 b2b4 c2c3 c2c4 d2d3 d2d4 e2e3 e2e4 f2f3 f2f4 "
            "g2g3 g2g4 h2h3 h2h4");
  ASSERT_TRUE(setPosition("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"));
  genPlyMoves();
  EXPECT_EQ(listed().substr(0, 19), "b8a6 b8c6 g8f6 g8h6");
}

TEST(MoveGen, PromotionsQueenFirstCapturesBeforeAdvance) {
  resetEngine();
  ASSERT_TRUE(setPosition("r3k3/1P6/8/8/8/8/8/4K3 w - - 0 1"));
  genMoves();
  EXPECT_EQ(listed(), "b7a8Q b7a8R b7a8B b7a8N b7b8Q b7b8R b7b8B b7b8N e1f2 e1e2 e1d2 e1f1 e1d1");
  const Move m = plyStack[ply].moves[0];
  EXPECT_EQ(capturedOf(m), ROOK + BLACK_BIT);
  EXPECT_EQ(promotionOf(m), QUEEN);
  genCaptures();
  EXPECT_EQ(listed(), "b7a8Q b7b8Q");
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/1p6/R3K3 b - - 0 1"));
  genCaptures();
  EXPECT_EQ(listed(), "b2a1Q b2b1Q");
  EXPECT_EQ(promotionOf(plyStack[ply].moves[1]), QUEEN + BLACK_BIT);
}

TEST(MoveGen, CapturesLeaveOutQuietMovesAndCastling) {
  resetEngine();
  ASSERT_TRUE(setPosition("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"));
  genCaptures();
  EXPECT_EQ(listed(), "e5f7 e5d7 e5g6 e2a6 f3f6 f3h3 g2h3 d5e6");
  ASSERT_TRUE(setPosition("rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 1"));
  genCaptures();
  EXPECT_EQ(listed(), "e5f6");
  EXPECT_TRUE(plyStack[ply].moves[0] & MF_EN_PASSANT);
}

TEST(MoveGen, CastlingRules) {
  resetEngine();
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1"));
  genPlyMoves();
  const std::string all = listed();
  EXPECT_NE(all.find("e1g1 e1c1 e1f2"), std::string::npos) << all;
  // b1 attacked: long castling still allowed; d1 attacked: not.
  ASSERT_TRUE(setPosition("1r2k3/8/8/8/8/8/8/R3K2R w KQ - 0 1"));
  genPlyMoves();
  EXPECT_NE(listed().find("e1c1"), std::string::npos);
  ASSERT_TRUE(setPosition("3rk3/8/8/8/8/8/8/R3K2R w KQ - 0 1"));
  genPlyMoves();
  EXPECT_EQ(listed().find("e1c1"), std::string::npos);
  EXPECT_NE(listed().find("e1g1"), std::string::npos);
  // f1 attacked: no short castling; in check: none at all.
  ASSERT_TRUE(setPosition("4kr2/8/8/8/8/8/8/R3K2R w KQ - 0 1"));
  genPlyMoves();
  EXPECT_EQ(listed().find("e1g1"), std::string::npos);
  ASSERT_TRUE(setPosition("4r1k1/8/8/8/8/8/8/R3K2R w KQ - 0 1"));
  genPlyMoves();
  EXPECT_EQ(plyStack[ply].checkCount, 1);
  EXPECT_EQ(listed().find("e1g1"), std::string::npos);
  EXPECT_EQ(listed().find("e1c1"), std::string::npos);
  // A piece between king and rook blocks even when b1 is the only square in question.
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/RN2K2R w KQ - 0 1"));
  genPlyMoves();
  EXPECT_EQ(listed().find("e1c1"), std::string::npos);
}

TEST(MoveGen, RootMovesAreTheLegalOnes) {
  resetEngine();
  ASSERT_TRUE(setPosition("4k3/p7/8/1b6/8/3N4/8/5K2 w - - 0 1"));
  genRootMoves();
  EXPECT_EQ(listed(), "f1g2 f1f2 f1e2 f1g1 f1e1");  // the knight shields e2
  EXPECT_EQ(legalListed(), listed());
}

TEST(MoveGen, EvasionsOfSingleAndDoubleCheck) {
  resetEngine();
  // Double check: king moves only, and not backwards along the rook's file.
  ASSERT_TRUE(setPosition("4r1k1/8/8/8/8/5n2/3Q4/4K3 w - - 0 1"));
  EXPECT_EQ(plyStack[0].checkCount, 2);
  EXPECT_EQ(listed(), "e1f2 e1f1 e1d1");
  // Single check by a rook: pawn block (single and double step), piece block and capture.
  ASSERT_TRUE(setPosition("4k3/8/8/8/r6K/8/1P3P2/2N1B3 w - - 0 1"));
  EXPECT_EQ(listed(), "b2b4 f2f4 e1b4 h4h5 h4g5 h4h3 h4g3");
  // A pinned piece does not block; a capture of the checker by a pawn promotes.
  ASSERT_TRUE(setPosition("1r2k3/P7/8/5b2/8/3B4/8/1K6 w - - 0 1"));
  EXPECT_EQ(listed(), "a7b8Q a7b8R a7b8B a7b8N b1c2 b1a2 b1c1 b1a1");
  // Checks from a pawn: the en-passant capture of the checker is an evasion...
  ASSERT_TRUE(setPosition("8/8/8/3pP3/4K3/8/8/7k w - d6 0 1"));
  EXPECT_EQ(legalListed().substr(0, 9), "e5d6 e4f5");
  // ...unless it opens the king's file.
  ASSERT_TRUE(setPosition("2r5/8/8/2Pp4/2K5/8/8/7k w - d6 0 1"));
  EXPECT_EQ(legalListed().find("c5d6"), std::string::npos);
  EXPECT_NE(legalListed().find("c4d5"), std::string::npos);
}

}  // namespace
