// Chess960: castling from any start squares, both FEN forms of the rights, castling move text,
// and perft against Stockfish's counts.
#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "session/session.h"
#include "tests/board/chess960_perft.h"
#include "tests/support/support.h"

namespace {

// Depths of the perft sweeps: with assertions on (the sanitizer build) every move made and
// taken back is audited, and the sweeps stay shallow there.
#ifdef NDEBUG
constexpr int START_DEPTH = 4, MIDDLE_DEPTH = 4;
#else
constexpr int START_DEPTH = 2, MIDDLE_DEPTH = 3;
#endif

std::string fenNow() {
  char fen[FEN_BUFFER];
  getFEN(fen);
  return fen;
}

const std::map<std::string, std::vector<PerftCase>>& suite() {
  static const auto groups = loadChess960Suite();
  return groups;
}

Move castling(Move flag) {
  genPlyMoves();
  for (int i = 0; i < plyStack[ply].moveCount; i++)
    if (plyStack[ply].moves[i] & flag) return plyStack[ply].moves[i];
  return 0;
}

// Makes m, checks the board against a fresh count, takes it back, checks the position is as before.
void makeAndTakeBack(Move m, const std::string& after) {
  const std::string before = fenNow();
  const HashKey key = hashKey;
  makeMove(m);
  EXPECT_EQ(fenNow(), after);
  EXPECT_TRUE(boardIsConsistent());
  EXPECT_EQ(hashKey, computeHashKey());
  unmakeMove();
  EXPECT_EQ(fenNow(), before);
  EXPECT_EQ(hashKey, key);
  EXPECT_TRUE(boardIsConsistent());
}

}  // namespace

TEST(Chess960, StartPositionsByNumberMatchTheOracleFile) {
  const auto& start = suite().at("start");
  ASSERT_EQ(start.size(), 960u);
  EXPECT_EQ(chess960Rank(518), "RNBQKBNR");
  EXPECT_EQ(chess960Rank(0), "BBQNNRKR");
  for (int n = 0; n < 960; n++) EXPECT_EQ(start[n].fen, chess960Fen(n, true)) << n;
}

// Every start position to depth 4, its rights given as files; as KQkq (the outermost rooks)
// one ply less, which must read the same rooks.
TEST(Chess960, PerftOfEveryStartPosition) {
  resetEngine();
  const auto& start = suite().at("start");
  for (int n = 0; n < int(start.size()); n++) {
    const PerftCase& c = start[n];
    ASSERT_TRUE(setPerftPosition(c.fen)) << c.fen;
    for (int depth = 1; depth <= START_DEPTH; depth++)
      ASSERT_EQ(perftCount(depth), c.counts[depth - 1]) << c.fen << " depth " << depth;
    ASSERT_TRUE(setPerftPosition(chess960Fen(n, false))) << n;
    ASSERT_EQ(perftCount(START_DEPTH - 1), c.counts[START_DEPTH - 2]) << chess960Fen(n, false);
  }
}

// Positions of random games: castling still possible, just castled, en passant, promotions.
TEST(Chess960, PerftOfMiddleGames) {
  resetEngine();
  const auto& middle = suite().at("middle");
  ASSERT_GE(middle.size(), 30u);
  for (const PerftCase& c : middle) {
    ASSERT_TRUE(setPerftPosition(c.fen)) << c.fen;
    for (int depth = 1; depth <= MIDDLE_DEPTH && depth <= int(c.counts.size()); depth++)
      EXPECT_EQ(perftCountByMaking(depth), c.counts[depth - 1]) << c.fen << " depth " << depth;
  }
}

TEST(Chess960, CastlingWhereKingOrRookStaysPut) {
  resetEngine();
  // The king stays on g1; the rook goes h1-f1.
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/5bKR w H - 0 1"));
  EXPECT_EQ(castling(MF_SHORT_CASTLE), 0u) << "f1 must be empty";
  ASSERT_TRUE(setPosition("r3k3/8/8/8/8/8/8/6KR w H - 0 1"));
  Move m = castling(MF_SHORT_CASTLE);
  ASSERT_NE(m, 0u);
  makeAndTakeBack(m, "r3k3/8/8/8/8/8/8/5RK1 b - - 1 1");
  // The rook stays on d1, the king goes f1-c1, crossing e1 and d1's rook.
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/3R1K2 w D - 0 1"));
  m = castling(MF_LONG_CASTLE);
  ASSERT_NE(m, 0u);
  makeAndTakeBack(m, "4k3/8/8/8/8/8/8/2KR4 b - - 1 1");
  // King and rook change places.
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/5KR1 w G - 0 1"));
  m = castling(MF_SHORT_CASTLE);
  ASSERT_NE(m, 0u);
  makeAndTakeBack(m, "4k3/8/8/8/8/8/8/5RK1 b - - 1 1");
  ASSERT_TRUE(setPosition("1rk5/8/8/8/8/8/8/4K3 b b - 0 1"));
  m = castling(MF_LONG_CASTLE);
  ASSERT_NE(m, 0u);
  makeAndTakeBack(m, "2kr4/8/8/8/8/8/8/4K3 w - - 1 1");
}

TEST(Chess960, CastlingPathsAndAttacks) {
  resetEngine();
  // The rook on b1 shields c1 from a1 until it leaves: castling would put the king in check.
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/rR1K4 w B - 0 1"));
  EXPECT_EQ(castling(MF_LONG_CASTLE), 0u);
  // A knight on the rook's path blocks, though the king's path is free.
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/RN1K4 w A - 0 1"));
  EXPECT_EQ(castling(MF_LONG_CASTLE), 0u);
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/R2K4 w A - 0 1"));
  EXPECT_NE(castling(MF_LONG_CASTLE), 0u);
  // A square the king crosses under attack; the square beyond the king's landing does not count.
  ASSERT_TRUE(setPosition("4kr2/8/8/8/8/8/8/1K4R1 w G - 0 1"));
  EXPECT_EQ(castling(MF_SHORT_CASTLE), 0u);
  ASSERT_TRUE(setPosition("4k2r/8/8/8/8/8/8/1K4R1 w G - 0 1"));
  EXPECT_NE(castling(MF_SHORT_CASTLE), 0u);
  // Rights go when the rook moves or is taken, and with any king move.
  ASSERT_TRUE(setPosition("1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1"));
  makeMove(matchMove(parseCoord("g1g8")));
  EXPECT_EQ(fenNow(), "1r2k1R1/8/8/8/8/8/8/1R2K3 b Bb - 0 1");
  makeMove(matchMove(parseCoord("e8e7")));
  EXPECT_EQ(fenNow(), "1r4R1/4k3/8/8/8/8/8/1R2K3 w B - 1 1");
}

TEST(Chess960, FenRoundTripsInBothForms) {
  resetEngine();
  for (const char* fen : {
           "nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBgb - 0 1",
           "nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w KQkq - 0 1",
           "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 1",
           "4k3/8/8/8/8/8/8/R2K1RR1 w FA - 0 1",
           "4k3/8/8/8/8/8/8/R2K2RR w KQ - 0 1",
           "4k3/8/8/8/8/8/8/R2K2RR w GQ - 0 1",  // X-FEN: the inner rook by its file
           "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1",
       }) {
    ASSERT_TRUE(setPosition(fen)) << fen;
    EXPECT_EQ(fenNow(), fen);
  }
  // X-FEN: K names the outermost rook; once another rook stands outside it, its file.
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/7R/R2K2R1 w KQ - 0 1"));
  makeMove(matchMove(parseCoord("h2h1")));
  EXPECT_EQ(fenNow(), "4k3/8/8/8/8/8/8/R2K2RR b GQ - 1 1");
  // Standard rights given as files are written as today, unless the GUI plays Chess960.
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1"));
  EXPECT_EQ(fenNow(), "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  settings.chess960 = 1;
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1"));
  EXPECT_EQ(fenNow(), "r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1");
  settings.chess960 = 0;
}

TEST(Chess960, BadRightsAreRefusedAndThePositionKept) {
  resetEngine();
  // The offending letter's place in the rights.
  const std::pair<std::string, size_t> cases[] = {
      {"nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w HBgb - 0 1", 0},  // no rook on h1
      {"nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBgc - 0 1", 3},  // a bishop on c8
      {"4k3/8/8/8/8/8/8/KR6 w B - 0 1", 0},                             // the king on a1
      {"4k3/8/8/8/8/8/8/1R1K2RR w GH - 0 1", 1},                        // two rooks, one right
      {"4k3/8/8/8/8/8/8/1R6 w B - 0 1", 0},                             // no king on rank 1
  };
  const std::string kept = "1r1k2r1/1p4p1/8/8/8/8/1P4P1/1R1K2R1 w GBgb - 0 1";
  for (const auto& [fen, offset] : cases) {
    ASSERT_TRUE(setPosition(kept));
    const std::string out = captureOutput([&] { setBoard(fen.c_str()); });
    const size_t index = fen.find(" w ") + 3 + offset;
    EXPECT_EQ(out, "**ERROR**  setBoard() : bad FEN (char " + std::to_string(index) + ")\n") << fen;
    EXPECT_EQ(fenNow(), kept) << fen;
    EXPECT_NE(castling(MF_SHORT_CASTLE), 0u) << fen;
  }
  // KQkq without a rook on that side keep the message of standard chess.
  const std::string out = captureOutput([] { setBoard("4k3/8/8/8/8/8/8/3K4 w Q - 0 1"); });
  EXPECT_EQ(out.rfind("**ERROR**  validatePosition() : white king and rook's positions don't allow long castle\n", 0), 0u)
      << out;
}

TEST(Chess960, CastlingText) {
  resetEngine();
  ASSERT_TRUE(setPosition("1r1k2r1/1p4p1/8/8/8/8/1P4P1/1R1K2R1 w GBgb - 0 1"));
  const Move shortCastle = castling(MF_SHORT_CASTLE), longCastle = castling(MF_LONG_CASTLE);
  EXPECT_STREQ(moveToSAN(shortCastle), "O-O");
  EXPECT_STREQ(moveToSAN(longCastle), "O-O-O");
  // Not two files: written and read as the king taking its rook, with or without UCI_Chess960.
  EXPECT_STREQ(moveToCoord(shortCastle), "d1g1");
  EXPECT_STREQ(moveToUci(longCastle), "d1b1");
  for (const char* text : {"d1g1", "O-O", "o-o", "0-0+"}) EXPECT_EQ(matchMove(parseCoord(text)), shortCastle) << text;
  for (const char* text : {"d1b1", "O-O-O", "0-0-0"}) EXPECT_EQ(matchMove(parseCoord(text)), longCastle) << text;
  EXPECT_EQ(matchMove(parseCoord("d1c1")), makeMoveWord(3, 2, KING));  // a king step
  EXPECT_EQ(matchMove(parseCoord("O-O-O-O")), 0u);
  EXPECT_EQ(matchMove(shortCastle), shortCastle);                      // a whole move word
  // Standard chess: e1g1 as today, e1h1 read as well; UCI_Chess960 writes e1h1.
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1"));
  const Move standard = castling(MF_SHORT_CASTLE);
  EXPECT_STREQ(moveToCoord(standard), "e1g1");
  EXPECT_STREQ(moveToUci(standard), "e1g1");
  EXPECT_EQ(matchMove(parseCoord("e1g1")), standard);
  EXPECT_EQ(matchMove(parseCoord("e1h1")), standard);
  settings.chess960 = 1;
  EXPECT_STREQ(moveToUci(standard), "e1h1");
  EXPECT_STREQ(moveToUci(castling(MF_LONG_CASTLE)), "e1a1");
  settings.chess960 = 0;
  // Without the right, O-O names no move.
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1"));
  EXPECT_NE(parseCoord("O-O"), 0u);
  EXPECT_EQ(matchMove(parseCoord("O-O")), 0u);
}
