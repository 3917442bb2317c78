#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board.h"
#include "session/session.h"
#include "tests/support/support.h"

namespace {

std::string fenNow() {
  char fen[FEN_BUFFER];
  getFEN(fen);
  return fen;
}

std::string setText(const std::string& fen) {
  return captureOutput([&] { setBoard(fen.c_str()); });
}

const std::string REJECTED = "Errors have been found in the position. Setting the start one\n";
const std::string START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

std::string err(const std::string& what) { return "**ERROR**  validatePosition() : " + what + "\n"; }

TEST(SetBoard, ValidationMessagesThenStartPosition) {
  resetEngine();
  EXPECT_EQ(setText("8/8/8/8/8/8/8/8 w - - 0 1"),
            err("white's king count != 1") + err("black's king count != 1") + REJECTED);
  EXPECT_EQ(fenNow(), START);
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/4K3 w K - 0 1"),
            err("white king and rook's positions don't allow short castle") + REJECTED);
  EXPECT_EQ(setText("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1"), "");
  EXPECT_EQ(setText("4k2r/8/8/8/8/8/8/4K2R w Qk - 0 1"),
            err("white king and rook's positions don't allow long castle") + REJECTED);
  EXPECT_EQ(setText("r6k/8/8/8/8/8/8/4K3 b q - 0 1"),
            err("black king and rook's positions don't allow long castle") + REJECTED);
  EXPECT_EQ(setText("4k3/8/8/8/8/8/3p4/4K3 w - - 3 1"),
            err("impossibile fifty move rule value") + REJECTED);
  EXPECT_EQ(setText("4k3/8/8/3pP3/8/8/8/4K3 w - d6 2 1"),
            err("impossibile fifty move rule value") + REJECTED);
  EXPECT_EQ(setText("4k3/8/8/3p4/8/8/8/4K3 w - e6 0 1"), err("impossibile ep square") + REJECTED);
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/4R1K1 w - - 0 1"), err("side not on move is in check") + REJECTED);
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/4K2R w K - 0 1"), "");
  EXPECT_EQ(fenNow(), "4k3/8/8/8/8/8/8/4K2R w K - 0 1");
  EXPECT_EQ(engineSide, BLACK);
  EXPECT_EQ(gameOver, 0);
}

TEST(SetBoard, PiecesBeyondWhatPromotionsAllow) {
  resetEngine();
  EXPECT_EQ(setText("qqqqkqqq/qqqqqqqq/8/8/8/8/8/4K3 w - - 0 1"), "0-1 {Talvek mates}\n");
  EXPECT_EQ(setText("qqqqkqqq/qqqqqqqq/q7/8/8/8/8/4K3 w - - 0 1"),
            err("number of black pieces, considering promotions, not possible") +
                err("more than 16 black units") + REJECTED);
}

TEST(SetBoard, SyntaxErrorsNameTheCharacterAndChangeNothing) {
  resetEngine();
  const std::vector<std::pair<std::string, int>> cases = {
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e3 0 1", 54},  // rank digit
      {"rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 18},
      {"rnbqkbnr/p8/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 10},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1", 42},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1", 44},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQxq - 0 1", 48},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkb - 0 1", 49},   // an inner rook file
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq i6 0 1", 51},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", 43},                  // text ends
      {"8/8/8/8/8/8/8/8/ w - - 0 1", 15},                                  // a ninth rank
      {"8/8/8/8/8/8/8/8/8/8/8/8 w - - 0 1", 15},
      {"8/8/8/8/8/8/8/8k w - - 0 1", 15},                                  // a 65th square
      {"8/8/8/8/8/8/8/7K1 w - - 0 1", 16},
      // Fewer than eight ranks, or a rank of fewer than eight squares: nothing of the previous
      // position may show through the squares the record leaves out.
      {"4k3/8/8/8/8/8/8/4K w - - 0 1", 18},
      {"4k3/8/8/8/8/8/8 w - - 0 1", 15},
      {"4k3 w - - 0 1", 3},
      {"4k3/pp/8/8/8/8/8/R3K2R w - - 0 1", 6},
      {"4k3//8/8/8/8/8/8/4K3 w - - 0 1", 4},
      {"/4k3/8/8/8/8/8/8/4K3 w - - 0 1", 0},
  };
  for (const auto& [fen, index] : cases) {
    ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/4K2R w K - 0 1"));
    const std::string before = fenNow();
    int result = 0;
    const std::string out = captureOutput([&] { result = setBoard(fen.c_str()); });
    EXPECT_NE(result, 0) << fen;
    EXPECT_EQ(out, "**ERROR**  setBoard() : bad FEN (char " + std::to_string(index) + ")\n") << fen;
    EXPECT_EQ(fenNow(), before) << fen;
    EXPECT_TRUE(boardIsConsistent()) << fen;
  }
}

TEST(SetBoard, LooseButAcceptedRecords) {
  resetEngine();
  EXPECT_EQ(setText("K2k4/8/8/8/8/8/8/8 w - - 12 40"), "1/2-1/2 {Draw by insufficient material}\n");
  EXPECT_EQ(fiftyCount, 12);
  EXPECT_EQ(fenNow(), "K2k4/8/8/8/8/8/8/8 w - - 12 1");
  // Fields may be apart by several blanks, and "-" may stand among castling letters.
  ASSERT_TRUE(setPosition("4k3/pp6/8/8/8/8/8/R3K2R   w  K-Q   -   5"));
  EXPECT_EQ(fenNow(), "4k3/pp6/8/8/8/8/8/R3K2R w KQ - 5 1");
  // Rights named by the rooks' files, as GUIs write them in Chess960 notation.
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1"));
  EXPECT_EQ(fenNow(), "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  // A half-move clock with too many digits stops growing instead of overflowing.
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/4K2R b - - 99999999999999999999999 1"),
            "1/2-1/2 {Draw by fifty move rule}\n");
  EXPECT_GE(fiftyCount, 100);
  EXPECT_LT(fiftyCount, 10000000);
}

TEST(SetBoard, PositionsThePieceListsCannotHoldAreRefused) {
  resetEngine();
  EXPECT_EQ(setText("4k3/pppppppp/p7/8/8/8/PPPPPPPP/4K3 w - - 0 1"),
            err("more than 8 black pawns") + REJECTED);
  EXPECT_EQ(setText("4k3/8/8/8/8/P7/PPPPPPPP/RNBQKBNR w - - 0 1"),
            err("number of white pieces, considering promotions, not possible") +
                err("more than 8 white pawns") + err("more than 16 white units") + REJECTED);
  EXPECT_EQ(setText("4k3/8/8/8/8/8/8/P3K3 w - - 0 1"), err("pawn on the first or last rank") + REJECTED);
  EXPECT_EQ(setText("P3k3/8/8/8/8/8/8/4K3 b - - 0 1"), err("pawn on the first or last rank") + REJECTED);
  EXPECT_EQ(setText("k3r3/8/8/8/1b6/3n4/8/4K3 w - - 0 1"),
            err("side on move is in check by more than two units") + REJECTED);
  EXPECT_EQ(setText("KKKKKKKK/KKKKKKKK/KKKKKKKK/8/8/8/8/4k3 w - - 0 1"),
            err("white's king count != 1") + err("more than 16 white units") + REJECTED);
  EXPECT_EQ(setText("8/8/8/8/8/8/8/4K3 w - - 0 1"), err("black's king count != 1") + REJECTED);
  EXPECT_TRUE(boardIsConsistent());
  EXPECT_EQ(fenNow(), START);
}

TEST(SetBoard, XboardKeepsARefusedPositionButPlaysNothingFromIt) {
  resetEngine();
  xboardMode = 1;
  EXPECT_EQ(setText("4k3/pppppppp/pppppppp/8/8/8/8/4K3 w - - 0 1"),
            err("number of black pieces, considering promotions, not possible") +
                err("more than 8 black pawns") + err("more than 16 black units") +
                "tellusererror Illegal position\n");
  EXPECT_EQ(gameOver, 1);
  EXPECT_TRUE(positionRejected);
  EXPECT_EQ(matchMove(parseCoord("e1e2")), 0u);
  EXPECT_EQ(perftCount(2), 0u);
  genRootMoves();
  EXPECT_EQ(plyStack[0].moveCount, 0);
  EXPECT_EQ(setText(START), "");
  EXPECT_FALSE(positionRejected);
  EXPECT_EQ(gameOver, 0);
  EXPECT_NE(matchMove(parseCoord("e2e4")), 0u);
}

TEST(SetBoard, RootIsReadyAfterwards) {
  resetEngine();
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/r3K3 w - - 0 1"));
  EXPECT_EQ(plyStack[0].checkCount, 1);
  EXPECT_EQ(plyStack[0].checkers[0], 0);
  EXPECT_EQ(plyStack[0].moveCount, 3);  // d2, e2, f2: the rook covers the first rank
  EXPECT_EQ(engineSide, BLACK);
  EXPECT_EQ(hashKey, computeHashKey());
}

TEST(GetFEN, WritesBackWhatWasRead) {
  resetEngine();
  EXPECT_EQ(fenNow(), START);
  const char* records[] = {
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b Kq e3 0 1",
      "8/8/8/8/8/8/8/KQk5 b - - 37 1",
  };
  for (const char* fen : records) {
    ASSERT_TRUE(setPosition(fen));
    EXPECT_EQ(fenNow(), fen);
  }
}

TEST(PrintBoard, DiagramAndStateLines) {
  resetEngine();
  const std::string out = captureOutput(printBoard);
  char key[32];
  snprintf(key, sizeof key, "%llx", static_cast<unsigned long long>(hashKey));
  const std::string expected = std::string("\n\n") +
                               "\t8  r n b q k b n r \t\tWhite on move\n"
                               "\t7  p p p p p p p p \n"
                               "\t6                  \t\tEp: 0   Fifty: 0\n"
                               "\t5                  \t\tCastle rights: f\n"
                               "\t4                  \t\twKing in: 4   bKing in: 116\n"
                               "\t3                  \t\tPawns: 8,8   Pieces: 7,7\n"
                               "\t2  P P P P P P P P \t\tHashkey: " + key + "\n"
                               "\t1  R N B Q K B N R \n"
                               "\n\t   a b c d e f g h\n\n\n";
  EXPECT_EQ(out, expected);
}

// Random and damaged records: whatever setBoard makes of them, the position afterwards is
// consistent, and every legal move of it can be made and unmade cleanly.
TEST(SetBoard, FuzzedRecordsLeaveAConsistentPosition) {
  resetEngine();
  std::mt19937 rng(20240611);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  const std::vector<std::string> seeds = {
      START,
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
      "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
      "4k3/8/8/8/8/8/8/4K2R w K - 0 1",
  };
  const std::string alphabet = "kqrbnpKQRBNP12345678/ -wbKQkqabcdefgh0369";
  int accepted = 0;
  for (int round = 0; round < 3000; round++) {
    std::string fen;
    switch (round % 5) {
      case 0:  // random bytes
        for (int n = pick(120); n > 0; n--) fen += char(1 + pick(255));
        break;
      case 1:  // random FEN characters
        for (int n = pick(90); n > 0; n--) fen += alphabet[pick(int(alphabet.size()))];
        break;
      case 2:
      case 3: {  // a real record with a few characters replaced, inserted or removed
        fen = seeds[pick(int(seeds.size()))];
        for (int n = 1 + pick(3); n > 0; n--) {
          const int at = pick(int(fen.size()));
          const char ch = alphabet[pick(int(alphabet.size()))];
          switch (pick(3)) {
            case 0: fen[at] = ch; break;
            case 1: fen.insert(fen.begin() + at, ch); break;
            default: fen.erase(fen.begin() + at); break;
          }
          if (fen.empty()) fen = "x";
        }
        break;
      }
      default: {  // overlong fields
        fen = seeds[pick(int(seeds.size()))];
        const std::string extra[] = {"/8", "/pppppppp", "KQkq", "99999999999999", "PPPPPPPP/"};
        const std::string& piece = extra[pick(5)];
        for (int n = 1 + pick(30); n > 0; n--) fen.insert(fen.find(' ') + pick(2) * 2, piece);
        break;
      }
    }
    const std::string before = fenNow();
    int result = 0;
    captureOutput([&] { result = setBoard(fen.c_str()); });
    ASSERT_TRUE(boardIsConsistent()) << fen;
    if (result != 0) {
      ASSERT_EQ(fenNow(), before) << fen;
      continue;
    }
    accepted++;
    genPlyMoves();
    const PlyRecord& rec = plyStack[0];
    for (int i = 0; i < rec.moveCount; i++) {
      const Move m = rec.moves[i];
      if (!legal(m)) continue;
      makeMove(m);
      ASSERT_TRUE(boardIsConsistent()) << fen << " " << moveToCoord(m);
      unmakeMove();
    }
    ASSERT_TRUE(boardIsConsistent()) << fen;
  }
  EXPECT_GT(accepted, 50);  // damaged records seldom keep eight full ranks
}

}  // namespace
