// Lines that reach the program in pieces, with pauses between them, during every kind of
// search: the search keeps its own clock, and the line acts once its last piece has come. And
// the UCI rule that a "go infinite" or "go ponder" search ends only on stop, ponderhit or quit,
// while every other line waits for its bestmove and then acts in order.
#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/frontend/program.h"

namespace {

void startUci(EngineProcess& engine) {
  ASSERT_TRUE(engine.running());
  engine.send("uci");
  ASSERT_TRUE(engine.waitFor("uciok\n", 20000)) << engine.taken();
  engine.taken();
}

void startXboard(EngineProcess& engine) {
  ASSERT_TRUE(engine.running());
  engine.send("xboard");
  engine.send("protover 2");
  ASSERT_TRUE(engine.waitFor("done=1", 20000)) << engine.taken();
  engine.taken();
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// Reads until the output since the last mark holds n copies of text.
bool waitForCount(EngineProcess& engine, const std::string& text, size_t n, int timeoutMs) {
  const int end = nowMs() + timeoutMs;
  for (;;) {
    std::string so = engine.taken();
    const bool done = count(so, text) >= n;
    engine.keep(so);
    if (done) return true;
    if (nowMs() >= end) return false;
    engine.drain(100);
  }
}

}  // namespace

// A timed search ends on its clock while half a line waits; the line acts when it is whole.
TEST(SplitInput, UciTimedSearchKeepsItsClock) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos");
  const int start = nowMs();
  engine.send("go movetime 1000");
  engine.drain(200);
  engine.sendPiece("isre");
  const std::string best = engine.takeLine("bestmove ", 4000);
  ASSERT_FALSE(best.empty()) << engine.taken();
  EXPECT_LT(nowMs() - start, 2500);  // the search did not wait for the rest of the line
  engine.drain(300);
  EXPECT_EQ(engine.taken().find("readyok"), std::string::npos);  // "isre" is no line yet
  engine.sendPiece("ady");
  engine.drain(300);
  EXPECT_EQ(engine.taken().find("readyok"), std::string::npos);
  engine.sendPiece("\n");
  EXPECT_TRUE(engine.waitFor("readyok\n", 3000));
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// During "go infinite" and "go ponder" a line in pieces is answered once whole, and the search
// goes on; "stop" and "ponderhit" in pieces end it only once whole.
TEST(SplitInput, UciEndlessSearchesReadPiecesAsTheyCome) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos moves e2e4");
  engine.send("go infinite");
  ASSERT_TRUE(engine.waitFor("info depth 3\n", 10000)) << engine.taken();
  engine.sendPiece("isre");
  engine.drain(400);
  engine.sendPiece("ady\n");
  ASSERT_TRUE(engine.waitFor("readyok\n", 3000)) << engine.taken();
  engine.sendPiece("st");
  engine.drain(400);
  engine.sendPiece("o");
  engine.drain(400);
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  engine.sendPiece("p\n");
  EXPECT_FALSE(engine.takeLine("bestmove ", 3000).empty());

  engine.send("position startpos moves e2e4 e7e5");
  engine.send("go ponder wtime 3000 btime 3000");
  ASSERT_TRUE(engine.waitFor("info depth 3\n", 10000)) << engine.taken();
  engine.sendPiece("ponder");
  engine.drain(1500);  // longer than the engine's whole budget: pondering has no clock
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  const int hit = nowMs();
  engine.sendPiece("hit\n");
  EXPECT_FALSE(engine.takeLine("bestmove ", 3000).empty());
  EXPECT_LT(nowMs() - hit, 2500);  // the engine's own search on its 3 s clock
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// The lines a GUI sends during an endless search wait for stop or ponderhit and then act in
// the order they came: the option, the position, the next search.
TEST(SplitInput, UciLinesWaitForStopAndPonderhit) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos");
  engine.send("go infinite");
  ASSERT_TRUE(engine.waitFor("info depth 2\n", 10000)) << engine.taken();
  engine.send("setoption name MultiPV value 2");
  engine.send("ucinewgame");
  engine.send("position startpos moves e2e4");
  engine.send("go depth 3");
  engine.drain(1500);
  std::string out = engine.taken();
  EXPECT_EQ(out.find("bestmove"), std::string::npos) << out;
  engine.send("stop");
  ASSERT_TRUE(waitForCount(engine, "bestmove ", 2, 10000));
  out = engine.taken();
  const size_t second = out.rfind("bestmove ");
  // The first answer is White's move; the waiting search ran after the option and the
  // position: two lines a depth, and Black's reply.
  EXPECT_NE(out.substr(out.find("bestmove ") + 10, 1).find_first_of("12"), std::string::npos) << out;
  EXPECT_NE(out.substr(second + 10, 1).find_first_of("78"), std::string::npos) << out;
  EXPECT_NE(out.find("multipv 2", out.find("bestmove ")), std::string::npos) << out;

  engine.send("setoption name MultiPV value 1");
  engine.send("position startpos moves e2e4 e7e5");
  engine.send("go ponder wtime 60000 btime 60000");
  ASSERT_TRUE(engine.waitFor("info depth 2\n", 10000)) << engine.taken();
  engine.send("setoption name Hash value 16");
  engine.send("position startpos moves d2d4");
  engine.send("go depth 2");
  engine.send("isready");
  ASSERT_TRUE(engine.waitFor("readyok\n", 3000));  // questions pass the waiting lines
  engine.drain(1000);
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  engine.send("ponderhit");
  const std::string first = engine.takeLine("bestmove ", 70000);
  const std::string next = engine.takeLine("bestmove ", 10000);
  ASSERT_FALSE(next.empty()) << engine.taken();
  EXPECT_NE(first.substr(10, 1).find_first_of("12"), std::string::npos) << first;  // after 1.e4 e5
  EXPECT_NE(next.substr(10, 1).find_first_of("78"), std::string::npos) << next;    // after 1.d4
  engine.drain(300);
  EXPECT_EQ(count(engine.taken(), "bestmove"), 0u);  // one answer for each go
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// xboard: the engine's move comes on its clock while half a "ping" waits; the pong follows once
// the line is whole. While pondering and while analysing, a line in pieces acts once whole.
TEST(SplitInput, XboardSearchesKeepTheirClock) {
  EngineProcess engine;
  startXboard(engine);
  engine.send("new");
  engine.send("easy");
  engine.send("st 1");
  const int start = nowMs();
  engine.send("go");
  engine.drain(200);
  engine.sendPiece("pin");
  ASSERT_TRUE(engine.waitFor("move ", 4000)) << engine.taken();
  EXPECT_LT(nowMs() - start, 2500);
  engine.drain(200);
  EXPECT_EQ(engine.taken().find("pong"), std::string::npos);
  engine.sendPiece("g 7\n");
  EXPECT_TRUE(engine.waitFor("pong 7\n", 3000));

  // Analysis: "ping" in pieces is answered at once once whole; the analysis goes on.
  engine.send("new");
  engine.send("post");
  engine.send("analyze");
  engine.drain(1000);
  engine.sendPiece("pi");
  engine.drain(300);
  engine.sendPiece("ng 8\n");
  ASSERT_TRUE(engine.waitFor("pong 8\n", 3000)) << engine.taken();
  engine.taken();
  engine.sendPiece("e2");
  engine.drain(300);
  engine.sendPiece("e4\n");  // a new position: the analysis starts again
  engine.drain(500);
  engine.send(".");
  ASSERT_TRUE(engine.waitFor("stat01:", 3000)) << engine.taken();
  engine.send("exit");

  // Pondering: the predicted move in pieces turns the ponder search into the engine's own.
  engine.send("new");
  engine.send("hard");
  engine.send("st 1");
  engine.send("go");
  const std::string move = engine.takeLine("move ", 5000);
  ASSERT_FALSE(move.empty()) << engine.taken();
  engine.drain(300);
  engine.send("ping 9");
  ASSERT_TRUE(engine.waitFor("pong 9\n", 3000));  // answered while pondering
  engine.taken();
  engine.sendPiece("pi");
  engine.drain(300);
  EXPECT_EQ(engine.taken().find("pong"), std::string::npos);
  engine.sendPiece("ng 10\n");
  EXPECT_TRUE(engine.waitFor("pong 10\n", 3000));
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// Move Overhead: kept back from the clock on every move, in UCI and xboard alike.
TEST(SplitInput, MoveOverheadShortensTheMove) {
  EngineProcess engine;
  startUci(engine);
  engine.send("setoption name Move Overhead value 5000");
  engine.send("position startpos");
  const int start = nowMs();
  // The last move of a control with 6 s on the clock: without the overhead the search may
  // take 4.7 s; with 5 s kept back nothing is left to spend.
  engine.send("go wtime 6000 btime 6000 movestogo 1");
  ASSERT_FALSE(engine.takeLine("bestmove ", 5000).empty()) << engine.taken();
  EXPECT_LT(nowMs() - start, 600);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// "go infinite" or "go ponder" with a node count: the count may end the search, but not the
// wait for stop or ponderhit.
TEST(SplitInput, UciEndlessSearchWithANodeCountWaitsForStop) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos");
  engine.send("go infinite nodes 3000");
  engine.drain(800);
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  engine.send("stop");
  EXPECT_FALSE(engine.takeLine("bestmove ", 3000).empty());
  engine.send("go ponder nodes 3000 wtime 1000 btime 1000");
  engine.drain(800);
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  engine.send("ponderhit");
  EXPECT_FALSE(engine.takeLine("bestmove ", 3000).empty());
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}
