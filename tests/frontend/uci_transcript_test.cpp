// The program under UCI, driven through pipes as a GUI drives it: searches that only "stop"
// or "ponderhit" end, "isready" while a search runs, long move lists, and "quit".
#include <string>

#include <gtest/gtest.h>

#include "tests/frontend/program.h"

namespace {

// Starts the program and switches it to UCI; the identification ends with "uciok".
void startUci(EngineProcess& engine) {
  ASSERT_TRUE(engine.running());
  engine.send("uci");
  ASSERT_TRUE(engine.waitFor("uciok\n", 20000)) << engine.taken();
  engine.taken();
}

}  // namespace

TEST(UciTranscript, InfiniteSearchEndsOnStop) {
  EngineProcess engine;
  startUci(engine);
  engine.send("isready");
  ASSERT_TRUE(engine.waitFor("readyok\n", 5000));
  engine.send("ucinewgame");
  engine.send("position startpos moves e2e4");
  engine.send("go infinite");
  ASSERT_TRUE(engine.waitFor("info depth 3\n", 10000)) << engine.taken();
  engine.drain(500);
  std::string during = engine.taken();
  EXPECT_EQ(during.find("bestmove"), std::string::npos) << during;

  engine.send("stop");
  ASSERT_TRUE(engine.waitFor("bestmove ", 5000)) << engine.taken();
  engine.drain(100);
  std::string last = engine.taken();
  EXPECT_EQ(last.find("bestmove e2e4"), std::string::npos);  // a Black move, not an impossible one

  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// GUIs send "isready" while the engine thinks and wait for "readyok" before anything else.
TEST(UciTranscript, IsreadyDuringASearchIsAnsweredAtOnce) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos moves e2e4");
  engine.send("go infinite");
  ASSERT_TRUE(engine.waitFor("info depth 3\n", 10000)) << engine.taken();
  engine.taken();
  engine.send("isready");
  ASSERT_TRUE(engine.waitFor("readyok\n", 3000)) << engine.taken();
  engine.drain(300);
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);  // the search goes on
  engine.send("stop");
  ASSERT_TRUE(engine.waitFor("bestmove ", 5000));
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// A search that reaches its depth while infinite or pondering keeps its answer until asked.
TEST(UciTranscript, AFinishedInfiniteSearchWaitsForStop) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position fen 6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1");
  engine.send("go infinite depth 2");
  ASSERT_TRUE(engine.waitFor("info depth 2\n", 5000));
  engine.drain(500);
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  engine.send("isready");
  ASSERT_TRUE(engine.waitFor("readyok\n", 3000));
  engine.send("stop");
  ASSERT_TRUE(engine.waitFor("bestmove a1a8\n", 3000)) << engine.taken();
  engine.taken();
  engine.send("stop");  // outside a search: ignored
  engine.send("isready");
  ASSERT_TRUE(engine.waitFor("readyok\n", 3000));
  EXPECT_EQ(engine.taken(), "readyok\n");
  engine.closeInput();  // the end of input ends the program
  EXPECT_EQ(engine.waitExit(5000), 0);
}

TEST(UciTranscript, PonderhitTurnsThePonderSearchIntoTheEnginesOwn) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos moves e2e4 e7e5");
  engine.send("go ponder wtime 2000 btime 2000");
  ASSERT_TRUE(engine.waitFor("info depth 3\n", 10000));
  engine.drain(1500);  // pondering is never stopped by the clock
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  engine.send("ponderhit");
  ASSERT_TRUE(engine.waitFor("bestmove ", 5000)) << engine.taken();
  engine.taken();

  // Stopped while still pondering: the answer comes at once.
  engine.send("position startpos moves e2e4 e7e5 g1f3");
  engine.send("go ponder wtime 60000 btime 60000");
  ASSERT_TRUE(engine.waitFor("info depth 2\n", 10000));
  engine.send("stop");
  ASSERT_TRUE(engine.waitFor("bestmove ", 3000)) << engine.taken();
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

TEST(UciTranscript, LongGamesTyposAndDepthLimits) {
  EngineProcess engine;
  startUci(engine);
  std::string line = "position startpos moves";
  for (int i = 0; i < 150; i++) line += " b1c3 b8c6 c3b1 c6b8";
  line += " e2e4";
  engine.send(line);  // 601 moves
  engine.send("go depth 3");
  ASSERT_TRUE(engine.waitFor("bestmove ", 20000)) << engine.taken();
  std::string out = engine.taken();
  EXPECT_NE(out.find("info depth 3\n"), std::string::npos);
  EXPECT_EQ(out.find("info depth 4\n"), std::string::npos);

  engine.send("position startpos moves e2e4 e7e5 g1f4 b8c6");
  engine.send("go depth 1");
  ASSERT_TRUE(engine.waitFor("bestmove ", 10000));
  out = engine.taken();
  EXPECT_EQ(out.rfind("Illegal move: g1f4\n", 0), 0u) << out;
  // The move list stopped at the typo: White is to move after 1.e4 e5.
  EXPECT_EQ(out.find("bestmove b8"), std::string::npos);
  EXPECT_EQ(out.find("bestmove g8"), std::string::npos);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// "uci" typed at the console prompt: an empty line, then the 21 identification lines.
TEST(UciTranscript, TheConsoleCommandSwitchesForGood) {
  ProgramRun run = runProgram("uci\nisready\nhelp\nquit\nfen\n");
  EXPECT_EQ(run.exitCode, 0);
  size_t start = run.output.find("Talvek[W-1]> \nid name Talvek v" TALVEK_VERSION "\n");
  ASSERT_NE(start, std::string::npos) << run.output;
  std::string rest = run.output.substr(start + 14);
  EXPECT_EQ(rest.substr(rest.find("uciok\n")), "uciok\nreadyok\n");  // help and fen are not UCI
  int lines = 0;
  for (size_t at = 0; at < rest.find("uciok\n"); at = rest.find('\n', at) + 1) lines++;
  EXPECT_EQ(lines + 1, 21);
}

// A GUI that sends its next position and search without "stop" gets both answers, in order.
TEST(UciTranscript, PositionAndGoWaitBehindARunningSearch) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos");
  engine.send("go movetime 1500");
  ASSERT_TRUE(engine.waitFor("info depth 2", 10000)) << engine.taken();
  engine.send("position startpos moves e2e4");
  engine.send("go depth 3");
  engine.send("isready");
  ASSERT_TRUE(engine.waitFor("readyok\n", 3000)) << engine.taken();
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);  // the first search goes on
  const std::string first = engine.takeLine("bestmove ", 10000);
  const std::string second = engine.takeLine("bestmove ", 10000);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty()) << engine.taken();
  // The first answer is White's; the second is Black's answer to 1.e4.
  EXPECT_NE(first.substr(10, 1).find_first_of("12"), std::string::npos) << first;
  EXPECT_NE(second.substr(10, 1).find_first_of("78"), std::string::npos) << second;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// UCI move text writes promotions in lower case; both cases are read.
TEST(UciTranscript, PromotionsInLowerCase) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position fen 8/P7/8/8/8/8/8/k6K w - - 0 1");
  engine.send("go depth 3");
  const std::string best = engine.takeLine("bestmove ", 10000);
  EXPECT_EQ(best.substr(0, 14), "bestmove a7a8q") << best;
  engine.taken();
  engine.send("position fen 8/P7/8/8/8/8/8/k6K w - - 0 1 moves a7a8Q");
  engine.send("go depth 1");
  EXPECT_EQ(engine.takeLine("bestmove ", 10000).substr(0, 10), "bestmove a") << "Black's king moves";
  engine.send("position fen 8/P7/8/8/8/8/8/k6K w - - 0 1 moves A7A8n");
  engine.send("go depth 1");
  EXPECT_EQ(engine.takeLine("bestmove ", 10000).substr(0, 10), "bestmove a");
  EXPECT_EQ(engine.taken().find("Illegal move"), std::string::npos);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}
