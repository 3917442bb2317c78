// Moves typed by the user and the prompt that follows them.
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "frontend/frontend.h"
#include "tests/frontend/frontend_support.h"
#include "tests/support/support.h"

namespace {

std::string type(const char* word) {
  return captureOutput([&] { userMove(word); });
}

std::string prompt() {
  return captureOutput([] { printPrompt(); });
}

}  // namespace

TEST(UserMove, PlaysLegalMovesAndTheMoveNumberAdvances) {
  resetEngine();
  engineSide = NO_SIDE;
  settings.showBoard = 0;
  EXPECT_EQ(prompt(), "Talvek[W-1]> ");
  EXPECT_EQ(type("e2e4"), "");
  EXPECT_EQ(prompt(), "Talvek[B-1]> ");
  EXPECT_EQ(type("E7E5"), "");
  EXPECT_EQ(prompt(), "Talvek[W-2]> ");
  EXPECT_EQ(gamePly, 2);
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 1");
  // The root of the next turn is ready: white's 29 replies at ply 0.
  EXPECT_EQ(ply, 0);
  int legalCount = 0;
  for (int i = 0; i < plyStack[0].moveCount; i++) legalCount += legal(plyStack[0].moves[i]);
  EXPECT_EQ(legalCount, 29);
}

TEST(UserMove, ShowsTheBoardOnlyWhenWanted) {
  resetEngine();
  engineSide = NO_SIDE;
  consoleMode = 1;
  EXPECT_NE(type("g1f3").find("a b c d e f g h"), std::string::npos);
  consoleMode = 0;
  EXPECT_EQ(type("g8f6"), "");
}

TEST(UserMove, RefusesIllegalMovesAndLeavesThePosition) {
  resetEngine();
  const std::string start = currentFen();
  for (const char* word : {"e2e5", "e7e5", "e1g1", "e2e4+", "a1a1", "e2e4x"}) {
    EXPECT_EQ(type(word), std::string("Illegal move: ") + word + "\n");
    EXPECT_EQ(currentFen(), start);
  }
  EXPECT_EQ(gamePly, 0);
}

TEST(UserMove, AfterTheEndOfTheGame) {
  resetEngine();
  engineSide = NO_SIDE;
  std::string mate = captureOutput([] {
    userMove("f2f3");
    userMove("e7e5");
    userMove("g2g4");
    userMove("d8h4");
  });
  EXPECT_NE(mate.find("0-1 {Black mates}\n"), std::string::npos);
  EXPECT_EQ(gameOver, 1);
  EXPECT_EQ(type("a2a3"), "Game ended. To start a new game type new\n");
  xboardMode = 1;
  EXPECT_EQ(type("a2a3"), "Illegal move: a2a3\n");
  EXPECT_EQ(gamePly, 4);
}

TEST(UserMove, RefusedWhenTheGameRecordIsFull) {
  resetEngine();
  const std::string start = currentFen();
  gamePly = MAX_GAME_PLIES;
  EXPECT_EQ(type("e2e4"), "Illegal move (game record full): e2e4\n");
  EXPECT_EQ(gamePly, MAX_GAME_PLIES);
  EXPECT_EQ(currentFen(), start);
}

TEST(UserMove, IgnoredOnTheEnginesTurnAndChargesTheOpponentsClock) {
  resetEngine();
  settings.showBoard = 0;
  engineSide = WHITE;
  EXPECT_EQ(type("e2e4"), "");  // the engine is to move: no message, nothing played
  EXPECT_EQ(gamePly, 0);

  engineSide = BLACK;
  consoleMode = 1;
  opponentClock = 60000;
  engineIncrement = 5000;
  opponentTurnStart = nowMs() - 2000;
  std::string out = type("e2e4");
  const int used = 65000 - opponentClock;
  EXPECT_GE(used, 2000);
  EXPECT_LT(used, 3000);
  const std::string usedText = formatTime(used);
  const std::string remainingText = formatTime(opponentClock);
  EXPECT_EQ(out, "   time used: " + usedText + "\n   time remaining: " + remainingText + "\n");
}

// At the console each clock gets the control's time again once its side has made the
// control's moves, as a GUI's clock does; the increment comes with every move.
TEST(UserMove, ConsoleTimeControlsAreRenewed) {
  resetEngine();
  consoleMode = 1;
  startControl(2, 60000, 1000);
  chargeMove(true, 21000);
  EXPECT_EQ(engineClock, 40000);
  chargeMove(true, 30000);
  EXPECT_EQ(engineClock, 11000 + 60000);
  EXPECT_EQ(opponentClock, 60000);  // the opponent's control runs on its own moves
  for (int move = 0; move < 2; move++) chargeMove(false, 1000);
  EXPECT_EQ(opponentClock, 120000);
  startControl(0, 60000, 0);  // a whole game: nothing is added
  for (int move = 0; move < 50; move++) chargeMove(true, 100);
  EXPECT_EQ(engineClock, 55000);
  xboardMode = 1;  // under a GUI the GUI's clocks rule
  consoleMode = 0;
  startControl(1, 60000, 0);
  chargeMove(true, 1000);
  EXPECT_EQ(engineClock, 59000);
}

namespace {

// Mate in one for White (Ra8#), the engine playing White on a one-minute clock.
void mateInOneForTheEngine() {
  resetEngine();
  initSearchTables();
  setPosition("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1");
  engineSide = WHITE;
  settings.post = 0;
  settings.showBoard = 0;
  settings.ponder = 0;
  engineClock = opponentClock = 60000;
  engineIncrement = 2000;
  movesPerControl = 0;
  limits.moveTime = 0;
  limits.maxDepth = 64;
}

}  // namespace

TEST(EngineTurn, ConsoleShowsTheMoveTheBeepsAndTheClock) {
  mateInOneForTheEngine();
  consoleMode = 1;
  const int before = nowMs();
  std::string out = captureOutput(engineTurn);
  EXPECT_TRUE(matchesMask(out, "Talvek[W-1]> Ra8#\n\a\a\ttime used: {}\n\ttime remaining: {}\n1-0 {Talvek mates}\n")) << out;
  const int used = 62000 - engineClock;
  EXPECT_GE(used, 0);
  EXPECT_LE(used, nowMs() - before);
  EXPECT_NE(out.find(std::string("\ttime remaining: ") + formatTime(engineClock) + "\n"), std::string::npos);
  EXPECT_EQ(engineState, STATE_WAITING);
  EXPECT_EQ(gameOver, 1);

  mateInOneForTheEngine();
  consoleMode = 1;
  settings.beep = 0;
  EXPECT_TRUE(matchesMask(captureOutput(engineTurn), "Talvek[W-1]> Ra8#\n\ttime used: {}\n\ttime remaining: {}\n{}\n"));
}

TEST(EngineTurn, XboardWritesTheMoveInSan) {
  mateInOneForTheEngine();
  xboardMode = 1;
  EXPECT_EQ(captureOutput(engineTurn), "move Ra8#\n1-0 {Talvek mates}\n");
  EXPECT_EQ(engineClock, 60000);  // xboard keeps the clocks itself
}

// A resignation ends the turn without a move.
TEST(EngineTurn, ResignationPlaysNothing) {
  mateInOneForTheEngine();
  xboardMode = 1;
  setPosition("4k3/8/8/8/P7/8/3qq3/7K w - - 0 1");
  engineSide = WHITE;
  settings.resignThreshold = 300;
  settings.resignCount = 1;
  limits.maxDepth = 3;
  std::string out = captureOutput(engineTurn);
  EXPECT_EQ(out, "0-1 {Talvek resigns}\n");
  EXPECT_EQ(gamePly, 0);
  EXPECT_EQ(engineSide, NO_SIDE);
  EXPECT_EQ(gameOver, 1);
}

namespace {

// Standard input replaced by an empty pipe for the life of the object, so that the input
// test sees nothing waiting until the test types something.
struct QuietInput {
  int saved = dup(0);
  int fds[2] = {-1, -1};
  QuietInput() {
    EXPECT_EQ(pipe(fds), 0);
    dup2(fds[0], 0);
  }
  ~QuietInput() {
    dup2(saved, 0);
    close(saved);
    close(fds[0]);
    close(fds[1]);
  }
  void type(const char* text) { EXPECT_EQ(write(fds[1], text, strlen(text)), ssize_t(strlen(text))); }
};

}  // namespace

// Without a poll, a ponder search ends at its depth and the position is given back untouched.
TEST(PonderTurn, PondersOnTheTablesMoveAndGivesThePositionBack) {
  resetEngine();
  initSearchTables();
  settings.post = 0;
  settings.showBoard = 0;
  engineSide = NO_SIDE;
  userMove("e2e4");
  consoleMode = 1;
  limits.maxDepth = 4;
  engineSide = BLACK;
  engineState = STATE_PONDERING;  // four whole iterations, whatever the clocks
  captureOutput([] { think(); });
  engineState = STATE_WAITING;
  makeMove(pvTable[0][0]);  // the engine's move; now the table predicts White's reply
  prepareRoot();
  const std::string before = currentFen();
  const int plies = gamePly;

  QuietInput input;
  std::string out = captureOutput([] { EXPECT_EQ(ponderTurn(), 0); });
  ASSERT_NE(ponderMove, 0u);
  EXPECT_EQ(out, std::string("Talvek[W-2]> ") + ponderText + " [pondering]\n");
  EXPECT_EQ(currentFen(), before);
  EXPECT_EQ(gamePly, plies);
  EXPECT_EQ(engineState, STATE_WAITING);
  EXPECT_TRUE(boardIsConsistent());

  // Without a prediction the engine thinks as if it were the opponent.
  clearTT();
  makeMove(matchMove(parseCoord("a2a3")));
  prepareRoot();
  makeMove(matchMove(parseCoord("a7a6")));
  prepareRoot();
  const std::string later = currentFen();
  xboardMode = 0;
  consoleMode = 1;
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(ponderTurn(), 0); }), "Talvek[W-3]> - [pretending to be the opponent]\n");
  EXPECT_EQ(currentFen(), later);

  // Input already waiting: no pondering at all.
  makeMove(matchMove(parseCoord("h2h3")));
  prepareRoot();
  input.type("e2e4\n");
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(ponderTurn(), 0); }), "");
}

// In xboard mode the prediction is announced as a hint.
TEST(PonderTurn, XboardAnnouncesThePredictionAsAHint) {
  resetEngine();
  initSearchTables();
  settings.post = 0;
  xboardMode = 1;
  engineSide = NO_SIDE;
  userMove("d2d4");
  limits.maxDepth = 4;
  engineState = STATE_PONDERING;
  captureOutput([] { think(); });
  engineState = STATE_WAITING;
  makeMove(pvTable[0][0]);
  prepareRoot();
  engineSide = BLACK;
  QuietInput input;
  std::string out = captureOutput([] { EXPECT_EQ(ponderTurn(), 0); });
  ASSERT_NE(ponderMove, 0u);
  EXPECT_EQ(out, std::string("Hint: ") + ponderText + "\n");
}

// The main loop never ponders before the first move, nor with pondering off.
TEST(PonderTurn, NotBeforeTheFirstMoveNorWhenSwitchedOff) {
  resetEngine();
  initSearchTables();
  consoleMode = 1;
  settings.showBoard = 0;
  engineSide = WHITE;  // the side not to move after Black is given the move
  setPosition("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1");
  engineSide = WHITE;
  QuietInput input;
  EXPECT_EQ(runLoop("fen\n"), "Talvek[B-1]> FEN: rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1\nTalvek[B-1]> ");
  settings.ponder = 0;
  engineSide = NO_SIDE;
  captureOutput([] { userMove("e7e5"); });
  engineSide = BLACK;
  EXPECT_EQ(runLoop(""), "Talvek[W-1]> ");
}
