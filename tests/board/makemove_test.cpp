#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/support/support.h"

namespace {

int failures = 0;
std::vector<PositionSnapshot> snapshots;  // the position at each ply of the walk, and one after
                                          // each unmake (last)

// Visits every node of the legal tree to `depth`: after each make the incremental key, the key
// predicted before the move and the lists must match a recount, after each unmake every global
// of the position (PositionSnapshot: the history in use included) must be back bit for bit. A
// null move is tried at every node that is not in check.
void roundTrip(int depth) {
  genPlyMoves();
  PlyRecord& rec = plyStack[ply];
  PositionSnapshot& before = snapshots[size_t(ply)];
  savePosition(before);
  auto restored = [&] {
    savePosition(snapshots.back());
    return samePosition(before, snapshots.back());
  };
  const HashKey nullKey = keyAfterNullMove();
  if (!rec.checkCount) {
    makeNullMove();
    if (hashKey != nullKey || hashKey != computeHashKey() || !boardIsConsistent()) failures++;
    unmakeNullMove();
    if (!restored()) failures++;
  }
  for (int i = 0; i < rec.moveCount; i++) {
    const Move m = rec.moves[i];
    if (!legal(m)) continue;
    const HashKey predicted = keyAfterMove(m, nullKey);
    makeMove(m);
    if (hashKey != predicted || hashKey != computeHashKey() || !boardIsConsistent()) {
      ADD_FAILURE() << "after making " << moveToCoord(m);
      failures++;
    }
    if (depth > 1) roundTrip(depth - 1);
    unmakeMove();
    if (!restored()) {
      ADD_FAILURE() << "after unmaking " << moveToCoord(m);
      failures++;
    }
  }
}

TEST(MakeMove, RoundTripsRestoreEveryGlobal) {
  const char* positions[] = {
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
      "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1",
      "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
      "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
  };
  resetEngine();
  constexpr int DEPTH = 3;
  snapshots.resize(DEPTH + 1);
  for (const char* fen : positions) {
    ASSERT_TRUE(setPosition(fen));
    failures = 0;
    roundTrip(DEPTH);
    EXPECT_EQ(failures, 0) << fen;
  }
}

// A snapshot carries a whole game over (as a search thread takes the main thread's), and tells
// apart positions that differ in any one global or in a move of the history.
TEST(MakeMove, SnapshotsCarryTheWholePositionAndTellItApart) {
  resetEngine();
  ASSERT_TRUE(setPosition("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"));
  for (const char* move : {"e1g1", "h3g2", "a2a4", "b4a3"}) {
    const Move m = matchMove(parseCoord(move));
    ASSERT_NE(m, 0u) << move;
    makeMove(m);
  }
  std::vector<PositionSnapshot> kept(3);
  savePosition(kept[0]);
  char fen[FEN_BUFFER];
  getFEN(fen);
  const std::string game = fen;

  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KQ6 b - - 0 1"));
  savePosition(kept[1]);
  EXPECT_FALSE(samePosition(kept[0], kept[1]));
  restorePosition(kept[0]);
  getFEN(fen);
  EXPECT_EQ(fen, game);
  EXPECT_EQ(gamePly, 4);
  EXPECT_TRUE(boardIsConsistent());
  savePosition(kept[1]);
  EXPECT_TRUE(samePosition(kept[0], kept[1]));
  unmakeMove();  // the history came along: the en-passant capture is taken back
  getFEN(fen);
  EXPECT_EQ(std::string(fen), "r3k2r/p1ppqpb1/bn2pnp1/3PN3/Pp2P3/2N2Q2/1PPBBPpP/R4RK1 b kq a3 0 1");

  for (int change = 0; change < 3; change++) {
    restorePosition(kept[0]);
    if (change == 0) fiftyCount++;
    if (change == 1) history[1].hashKey ^= 1;
    if (change == 2) listIndex[0] ^= 1;
    savePosition(kept[2]);
    EXPECT_FALSE(samePosition(kept[0], kept[2])) << change;
  }
  resetEngine();
}

// Plays a coordinate move of the current position.
void play(const char* text) {
  const Move m = matchMove(parseCoord(text));
  ASSERT_NE(m, 0u) << text;
  makeMove(m);
}

TEST(MakeMove, EnPassantSquareEntersAndLeavesTheKey) {
  resetEngine();
  play("e2e4");
  EXPECT_EQ(epSquare, 0x24);  // e3
  EXPECT_EQ(hashKey, computeHashKey());
  const HashKey withEp = hashKey;
  epSquare = 0;
  EXPECT_EQ(withEp ^ computeHashKey(), pieceKeys[0][square64(0x24)]);
  epSquare = 0x24;
  play("g8f6");
  EXPECT_EQ(epSquare, 0);
  EXPECT_EQ(hashKey, computeHashKey());
}

TEST(MakeMove, CastlingRightsFollowKingAndRookSquares) {
  resetEngine();
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1"));
  play("h1h2");
  EXPECT_EQ(castleRights, CASTLE_WQ | CASTLE_BK | CASTLE_BQ);
  play("e8d8");
  EXPECT_EQ(castleRights, CASTLE_WQ);
  EXPECT_EQ(hashKey, computeHashKey());

  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1"));
  play("a1a8");
  EXPECT_EQ(castleRights, CASTLE_WK | CASTLE_BK);
  const HashKey key = hashKey;
  play("e8e7");
  play("h1h2");
  EXPECT_EQ(castleRights, 0);
  EXPECT_NE(key, hashKey);
  EXPECT_EQ(hashKey, computeHashKey());
}

TEST(MakeMove, FiftyCounterAndCastlingRook) {
  resetEngine();
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/4P3/R3K2R w KQkq - 7 1"));
  play("e1g1");
  EXPECT_EQ(fiftyCount, 8);
  EXPECT_EQ(board[5], ROOK);  // f1
  EXPECT_EQ(board[7], EMPTY);
  play("e8c8");
  EXPECT_EQ(board[0x73], ROOK + BLACK_BIT);  // d8
  EXPECT_EQ(board[0x70], EMPTY);
  EXPECT_EQ(fiftyCount, 9);
  makeNullMove();
  EXPECT_EQ(fiftyCount, 10);
  unmakeNullMove();
  play("e2e3");
  EXPECT_EQ(fiftyCount, 0);
  EXPECT_TRUE(boardIsConsistent());
}

TEST(MakeMove, PromotionAndUnmakeRestoreSlotsAndMaterial) {
  resetEngine();
  ASSERT_TRUE(setPosition("1n2k3/P7/8/8/8/8/8/4K3 w - - 0 1"));
  const int slots = pieceSlots[WHITE];
  const int value = material[WHITE];
  const Move m = matchMove(parseCoord("a7b8q"));
  ASSERT_NE(m, 0u);
  makeMove(m);
  EXPECT_EQ(material[WHITE], value + 800);
  EXPECT_EQ(material[BLACK], 0);
  EXPECT_EQ(pieceSlots[WHITE], slots + 1);
  EXPECT_EQ(typeCount[WHITE][QUEEN], 1);
  EXPECT_EQ(typeCount[WHITE][PAWN], 0);
  EXPECT_TRUE(boardIsConsistent());
  unmakeMove();
  EXPECT_EQ(pieceSlots[WHITE], slots);
  EXPECT_EQ(material[WHITE], value);
  EXPECT_EQ(board[0x60], PAWN);
  EXPECT_EQ(board[0x71], KNIGHT + BLACK_BIT);
  EXPECT_TRUE(boardIsConsistent());
}

TEST(MakeMove, EnPassantRemovesThePawnBehindTheTarget) {
  resetEngine();
  ASSERT_TRUE(setPosition("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1"));
  const Move m = matchMove(parseCoord("e5d6"));
  ASSERT_NE(m, 0u);
  EXPECT_TRUE(m & MF_EN_PASSANT);
  makeMove(m);
  EXPECT_EQ(board[0x43], EMPTY);  // d5
  EXPECT_EQ(typeCount[BLACK][PAWN], 0);
  EXPECT_TRUE(boardIsConsistent());
  unmakeMove();
  EXPECT_EQ(board[0x43], PAWN + BLACK_BIT);
  EXPECT_EQ(typeCount[BLACK][PAWN], 1);
  EXPECT_TRUE(boardIsConsistent());
}

}  // namespace

// Game moves are taken back after the piece lists were rebuilt (by the search or a new root):
// captures, promotions and a capturing promotion come back with consistent lists and key.
TEST(MakeMove, GameMoveTakenBackAfterTheListsWereRebuilt) {
  resetEngine();
  struct Case {
    const char* fen;
    const char* move;
  } cases[] = {{"rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2", "e4d5"},
               {"r3k3/1P6/8/8/8/8/8/4K3 w q - 0 1", "b7a8q"},
               {"4k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b7b8n"},
               {"4k3/8/8/8/2b5/3N4/P7/4K3 b - - 0 1", "c4d3"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(setPosition(c.fen));
    const HashKey key = hashKey;
    Move m = matchMove(parseCoord(c.move));
    ASSERT_NE(m, 0u) << c.move;
    makeMove(m);
    ply = 0;
    initPieceLists();
    unmakeGameMove();
    EXPECT_TRUE(boardIsConsistent()) << c.fen;
    EXPECT_EQ(hashKey, key) << c.fen;
    char fen[FEN_BUFFER];
    getFEN(fen);
    EXPECT_EQ(std::string(fen).substr(0, std::string(fen).find(' ')),
              std::string(c.fen).substr(0, std::string(c.fen).find(' ')));
  }
}
