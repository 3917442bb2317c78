// The xboard protocol through the real dispatcher and main loop, compared with the exact texts.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "frontend/frontend.h"
#include "search/search.h"
#include "tests/frontend/frontend_support.h"
#include "tests/support/support.h"

namespace {

// The path settings as options the GUI lets the user choose, then the features.
const char* const FEATURES =
    "feature option=\"Book File -file \"\n"
    "feature option=\"Shawul EGBB Path -path c:\\EGBB\"\n"
    "feature option=\"ZELT Path -path \"\n"
    "feature option=\"NalimovPath -path c:\\EGTB\"\n"
    "feature setboard=1 draw=0 sigint=0 sigterm=0 analyze=1 ping=1 smp=1 myname=\"Talvek v" TALVEK_VERSION "\" "
    "variants=\"normal,fischerandom\" colors=0 ics=1 done=1\n";

void startXboard() {
  resetEngine();
  initSearchTables();
  xboardMode = 1;
  icsMode = 0;
  settings.post = 0;
  settings.ponder = 0;
}

}  // namespace

TEST(Xboard, ProtoverAndTheCommandsThatOnlyAnswer) {
  startXboard();
  EXPECT_EQ(typeLine("protover 2"), FEATURES);
  EXPECT_EQ(typeLine("protover 3"), FEATURES);
  EXPECT_EQ(typeLine("protover 1"), "");
  int known = 0;
  EXPECT_EQ(typeLine("protover", &known), "");  // too few words: accepted, ignored
  EXPECT_EQ(known, 1);
  for (const char* line : {"xboard", "accepted setboard", "rejected ping", "computer", "level 40 5", "st", "time"}) {
    known = 0;
    EXPECT_EQ(typeLine(line, &known), "") << line;
    EXPECT_EQ(known, 1) << line;
  }
  // Words compare exactly: no abbreviations, no console commands.
  for (const char* line : {"pro 2", "Protover2", "help", "fen", "random", "draw", "usermove e2e4", "?"}) {
    known = 1;
    EXPECT_EQ(typeLine(line, &known), "") << line;
    EXPECT_EQ(known, 0) << line;
  }
  // "?" means "move now" only during a search; "ping" is answered with its number.
  EXPECT_EQ(runLoop("ping 7\nresult 1-0 {x}\n?\nping\n"), "pong 7\nError (unknown command): ?\n");
}

TEST(Xboard, NewResetsTheGameAndGreetsOnAServer) {
  startXboard();
  typeLine("level 40 5 3");
  typeLine("sd 7");
  typeLine("st 9");
  typeLine("setboard 4k3/8/8/8/8/8/8/4K2R w K - 0 1");
  gameOver = 1;
  EXPECT_EQ(typeLine("new"), "");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_EQ(movesPerControl, 60);
  EXPECT_EQ(engineIncrement, 0);
  EXPECT_EQ(engineClock, 1800000);
  EXPECT_EQ(opponentClock, 1800000);
  EXPECT_EQ(limits.maxDepth, 64);
  EXPECT_EQ(limits.moveTime, 0);
  EXPECT_EQ(gameOver, 0);
  EXPECT_EQ(engineSide, BLACK);

  EXPECT_EQ(typeLine("ics -"), "");
  EXPECT_EQ(typeLine("new"), "");
  EXPECT_EQ(typeLine("ics"), "");  // no host: ignored
  EXPECT_EQ(typeLine("new"), "");
  EXPECT_EQ(typeLine("ics freechess.org"), "");
  EXPECT_EQ(typeLine("new"), "tellall Hello from Talvek v" TALVEK_VERSION "!\n");
  EXPECT_EQ(typeLine("ics -"), "");  // never cleared
  EXPECT_EQ(typeLine("new"), "tellall Hello from Talvek v" TALVEK_VERSION "!\n");
  icsMode = 0;
}

TEST(Xboard, ClocksAndTimeControls) {
  startXboard();
  const std::pair<const char*, std::pair<int, int>> levels[] = {
      {"level 40 5 0", {300000, 0}},
      {"level 0 2 12", {120000, 12000}},
      {"level 0 0:10 0.1", {10000, 100}},     // minutes:seconds, fractional increment
      {"level 40 0:30 0", {30000, 0}},
      {"level 0 1:05 2.345", {65000, 2345}},
      {"level 40 5x 1y", {300000, 1000}},     // text after the digits is ignored
  };
  for (const auto& [line, clock] : levels) {
    limits.moveTime = 5000;
    EXPECT_EQ(typeLine(line), "") << line;
    EXPECT_EQ(engineClock, clock.first) << line;
    EXPECT_EQ(opponentClock, clock.first) << line;
    EXPECT_EQ(engineIncrement, clock.second) << line;
    EXPECT_EQ(limits.moveTime, 0) << line;
  }
  EXPECT_EQ(movesPerControl, 40);
  typeLine("time 12345");
  EXPECT_EQ(engineClock, 123450);
  typeLine("otim 99");
  EXPECT_EQ(opponentClock, 990);
  typeLine("otim -250");  // a flag fell: the clock goes below zero
  EXPECT_EQ(opponentClock, -2500);
  typeLine("st 7");
  EXPECT_EQ(limits.moveTime, 7000);
  typeLine("sd 5");
  EXPECT_EQ(limits.maxDepth, 5);
}

TEST(Xboard, SwitchesAndSides) {
  startXboard();
  typeLine("hard");
  typeLine("post");
  EXPECT_EQ(settings.ponder + settings.post, 2);
  typeLine("easy");
  typeLine("nopost");
  EXPECT_EQ(settings.ponder + settings.post, 0);

  typeLine("go");
  EXPECT_EQ(engineSide, WHITE);
  typeLine("force");
  EXPECT_EQ(engineSide, NO_SIDE);

  // white and black change the side to move and the engine's side, not the position.
  userMove("e2e4");
  typeLine("white");
  EXPECT_EQ(sideToMove, WHITE);
  EXPECT_EQ(engineSide, BLACK);
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_TRUE(boardIsConsistent());
  EXPECT_EQ(matchMove(parseCoord("d2d4")) != 0, true);  // white's replies are ready
  typeLine("black");
  EXPECT_EQ(sideToMove, BLACK);
  EXPECT_EQ(engineSide, WHITE);
  EXPECT_TRUE(boardIsConsistent());
  // The game record starts again there: e2e4 was White's move, and Black is to move now.
  typeLine("white");
  typeLine("undo");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_TRUE(boardIsConsistent());

  // A side that could take the enemy king: the position is refused and never searched.
  typeLine("setboard 4k3/8/8/8/8/8/4r3/4K3 w - - 0 1");  // White in check, to move
  EXPECT_EQ(typeLine("black"), "tellusererror Illegal position\n");
  EXPECT_EQ(gameOver, 1);
  EXPECT_TRUE(boardIsConsistent());
  EXPECT_EQ(typeLine("white"), "");  // it stays refused, its key following the side
  EXPECT_EQ(gameOver, 1);
  EXPECT_TRUE(boardIsConsistent());
}

// A refused position stays on the board; giving the move to the other side there must still
// take the en-passant square away and turn the key with it.
TEST(Xboard, SideChangeOnARefusedPositionKeepsTheBoardConsistent) {
  startXboard();
  const std::pair<const char*, const char*> cases[] = {
      {"setboard 4k3/8/8/8/8/8/8/4K3 w KQkq - 0 1", "black"},
      {"setboard 4k3/8/8/8/8/8/8/4K3 b - e3 0 1", "white"},
  };
  for (const auto& [setboard, side] : cases) {
    EXPECT_NE(typeLine(setboard).find("tellusererror Illegal position\n"), std::string::npos) << setboard;
    EXPECT_EQ(typeLine(side), "") << setboard;
    EXPECT_EQ(sideToMove, std::string(side) == "white" ? WHITE : BLACK);
    EXPECT_EQ(epSquare, 0);
    EXPECT_TRUE(boardIsConsistent()) << setboard << " then " << side;
  }
}

TEST(Xboard, SetboardAcceptsRefusesAndKeepsRejectedPositionsOutOfTheSearch) {
  startXboard();
  EXPECT_EQ(typeLine("setboard 4k3/8/8/8/8/8/8/4K2R b K - 3 20"), "");
  EXPECT_EQ(currentFen(), "4k3/8/8/8/8/8/8/4K2R b K - 3 1");
  EXPECT_EQ(engineSide, WHITE);

  std::string bad = typeLine("setboard 4k3/8/8/8/8/8/8/4K2X w - - 0 1");
  EXPECT_EQ(bad, "**ERROR**  setBoard() : bad FEN (char 19)\nErrors found in the FEN. Setting the start position\n");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");

  // Two white kings: refused, kept with the game over; "go" and moves find nothing to do.
  std::string out = runLoop("setboard 4k3/8/8/8/8/8/8/K3K3 w - - 0 1\ne1e2\ngo\nhint\nundo\n");
  EXPECT_NE(out.find("tellusererror Illegal position\n"), std::string::npos);
  EXPECT_EQ(out.find("move "), std::string::npos);
  EXPECT_NE(out.find("Illegal move: e1e2\n"), std::string::npos);
  EXPECT_NE(out.find("Hint: none\n"), std::string::npos);
  EXPECT_EQ(gameOver, 1);
  EXPECT_EQ(gamePly, 0);
}

TEST(Xboard, UndoAndRemove) {
  startXboard();
  typeLine("force");
  const std::string start = currentFen();
  EXPECT_EQ(typeLine("undo"), "");  // nothing to take back
  EXPECT_EQ(currentFen(), start);
  userMove("e2e4");
  EXPECT_EQ(typeLine("remove"), "");  // one move only: nothing happens
  EXPECT_EQ(gamePly, 1);
  userMove("e7e5");
  EXPECT_EQ(typeLine("remove"), "");
  EXPECT_EQ(currentFen(), start);
  EXPECT_EQ(gamePly, 0);

  // Taking back the mate reopens the game; the root moves are those of the new position.
  std::string mate = runLoop("f2f3\ne7e5\ng2g4\nd8h4\n");
  EXPECT_EQ(mate, "0-1 {Black mates}\n");
  EXPECT_EQ(gameOver, 1);
  typeLine("undo");
  EXPECT_EQ(gameOver, 0);
  EXPECT_EQ(sideToMove, BLACK);
  EXPECT_EQ(runLoop("d8h4\n"), "0-1 {Black mates}\n");
  EXPECT_TRUE(boardIsConsistent());
}

TEST(Xboard, HintComesFromTheTable) {
  startXboard();
  clearTT();
  EXPECT_EQ(typeLine("hint"), "Hint: none\n");
  EXPECT_EQ(ponderMove, 0u);
  // After a search the position that follows the best move is in the table.
  limits.maxDepth = 4;
  engineState = STATE_PONDERING;
  captureOutput([] { think(); });
  engineState = STATE_WAITING;
  makeMove(pvTable[0][0]);
  prepareRoot();
  std::string hint = typeLine("hint");
  ASSERT_NE(ponderMove, 0u);
  EXPECT_EQ(matchMove(ponderMove), ponderMove);
  EXPECT_EQ(hint, std::string("Hint: ") + moveToSAN(ponderMove) + "\n");
  EXPECT_STREQ(ponderText, moveToSAN(ponderMove));
}

// The engine answers the interface's move with "move" and the move in SAN, and plays it.
TEST(Xboard, EngineAnswersInSan) {
  startXboard();
  std::string out = runLoop("new\nsd 2\ne2e4\n");
  ASSERT_EQ(out.rfind("move ", 0), 0u) << out;
  std::string move = out.substr(5, out.find('\n') - 5);
  EXPECT_EQ(out, "move " + move + "\n");
  EXPECT_EQ(gamePly, 2);
  EXPECT_EQ(sideToMove, WHITE);
  EXPECT_EQ(typeLine("undo"), "");
  EXPECT_EQ(typeLine("undo"), "");
  userMove("e2e4");
  std::string again = captureOutput([] { userMove("e7e5"); });
  EXPECT_EQ(again, "");  // Black is the engine's: the user's move for it is ignored
  EXPECT_EQ(gamePly, 1);

  // A mate in one is played and the game-end line follows.
  typeLine("setboard 6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1");
  EXPECT_EQ(runLoop("go\n"), "move Ra8#\n1-0 {Talvek mates}\n");
  EXPECT_EQ(engineSide, NO_SIDE);
}

// Chess960 ("variant fischerandom"): positions in either FEN form, castling read as O-O or as
// the king taking its rook, and written in SAN; "new" is standard chess again.
TEST(Xboard, FischerandomVariant) {
  startXboard();
  EXPECT_EQ(typeLine("variant fischerandom"), "");
  EXPECT_EQ(settings.chess960, 1);
  EXPECT_EQ(typeLine("variant crazyhouse"), "Error (unsupported variant): crazyhouse\n");
  typeLine("force");
  typeLine("setboard nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w KQkq - 0 1");
  EXPECT_EQ(runLoop("g2g3\ng7g6\nf1g2\nf8g7\ne2e3\ne7e6\ne1e2\ne8e7\nO-O\nd8g8\n"), "");
  EXPECT_EQ(currentFen(), "nrb2rkn/ppppqpbp/4p1p1/8/8/4P1P1/PPPPQPBP/NRB2RKN w - - 4 1");
  // The engine castles into mate; the king stays on g1, the rook goes h1-f1.
  typeLine("setboard 4rkr1/4p1p1/8/8/8/8/8/6KR w H - 0 1");
  EXPECT_EQ(runLoop("go\n"), "move O-O\n1-0 {Talvek mates}\n");
  EXPECT_EQ(typeLine("new"), "");
  EXPECT_EQ(settings.chess960, 0);
}
