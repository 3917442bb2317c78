// The program under UCI, driven through pipes as a GUI drives it: searches that only "stop"
// or "ponderhit" end, "isready" while a search runs, long move lists, and "quit".
#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/frontend/program.h"

namespace {

// Starts the program and switches it to UCI; the identification ends with "uciok".
void startUci(EngineProcess& engine) {
  ASSERT_TRUE(engine.running());
  engine.send("uci");
  ASSERT_TRUE(engine.waitFor("uciok\n", 20000)) << engine.taken();
  engine.taken();
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
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

// "uci" typed at the console prompt: an empty line, then the identification: two id lines, 23
// options, uciok.
TEST(UciTranscript, TheConsoleCommandSwitchesForGood) {
  ProgramRun run = runProgram("uci\nisready\nhelp\nquit\nfen\n");
  EXPECT_EQ(run.exitCode, 0);
  size_t start = run.output.find("Talvek[W-1]> \nid name Talvek v" TALVEK_VERSION "\n");
  ASSERT_NE(start, std::string::npos) << run.output;
  std::string rest = run.output.substr(start + 14);
  EXPECT_EQ(rest.substr(rest.find("uciok\n")), "uciok\nreadyok\n");  // help and fen are not UCI
  int lines = 0;
  for (size_t at = 0; at < rest.find("uciok\n"); at = rest.find('\n', at) + 1) lines++;
  EXPECT_EQ(lines + 1, 26);
}

// A GUI that sends its next position and search without "stop" gets both answers, in order:
// the new position ends the running search, which still answers for its own position first.
TEST(UciTranscript, ANewPositionEndsTheRunningSearch) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos");
  engine.send("go movetime 20000");
  ASSERT_TRUE(engine.waitFor("info depth 2", 10000)) << engine.taken();
  const int start = nowMs();
  engine.send("position startpos moves e2e4");
  engine.send("go depth 3");
  engine.send("isready");
  const std::string first = engine.takeLine("bestmove ", 10000);
  const std::string second = engine.takeLine("bestmove ", 10000);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty()) << engine.taken();
  EXPECT_LT(nowMs() - start, 10000);  // not the 20 seconds of the first search
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

// A refused position leaves nothing to search: "go" answers bestmove 0000 and says why, until
// a position is accepted. Moves of a refused position are not played either.
TEST(UciTranscript, ARefusedPositionIsNeverSearched) {
  EngineProcess engine;
  startUci(engine);
  for (const char* position : {"fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkx - 0 1 moves g1f3",
                               "fen r3k2r/8/8/8/8/8/8/4K3 w KQkq - 0 1", "startpos moves e2e4 e2e4"}) {
    engine.send("position startpos moves d2d4");
    engine.send(std::string("position ") + position);
    engine.send("go depth 3");
    ASSERT_TRUE(engine.waitFor("bestmove ", 10000)) << position;
    engine.drain(100);
    const std::string out = engine.taken();
    EXPECT_NE(out.find("info string no position to search"), std::string::npos) << position << out;
    EXPECT_NE(out.find("\nbestmove 0000\n"), std::string::npos) << position << out;
  }
  engine.send("position fen 4k3/8/8/8/8/8/8/4K2R w K - 0 1");
  engine.send("go depth 3");
  const std::string best = engine.takeLine("bestmove ", 10000);
  EXPECT_EQ(best.substr(0, 10), "bestmove e") << best;
  // Castling rights named by rook files, as Chess960 GUIs write them, are the standard rights.
  engine.send("position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1 moves g1f3");
  engine.send("go depth 3");
  ASSERT_TRUE(engine.waitFor("bestmove ", 10000));
  engine.drain(100);
  const std::string reply = engine.taken();
  EXPECT_EQ(reply.find("ERROR"), std::string::npos) << reply;
  EXPECT_EQ(reply.find("bestmove 0000"), std::string::npos) << reply;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// searchmoves limits the root; nodes and mate run without a clock to their own end.
TEST(UciTranscript, SearchMovesNodesAndMate) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos");
  engine.send("go searchmoves a2a3 h2h3 movetime 500");
  std::string best = engine.takeLine("bestmove ", 10000);
  EXPECT_TRUE(best.substr(0, 13) == "bestmove a2a3" || best.substr(0, 13) == "bestmove h2h3") << best;
  engine.taken();
  engine.send("go nodes 200000");
  ASSERT_TRUE(engine.waitFor("bestmove ", 30000));
  std::string out = engine.taken();
  const size_t nodes = out.rfind(" nodes ");
  ASSERT_NE(nodes, std::string::npos) << out;
  EXPECT_GT(std::stoll(out.substr(nodes + 7)), 100000) << out;  // not cut short by an empty clock
  // Mate in two: found and played; a mate in one is looked for and, with none, given up.
  engine.send("position fen 6k1/5ppp/8/8/8/8/1Q3PPP/1R4K1 w - - 0 1");
  engine.send("go mate 2");
  best = engine.takeLine("bestmove ", 30000);
  EXPECT_EQ(best.substr(0, 13), "bestmove b2b8") << best << engine.taken();
  engine.send("position startpos");
  engine.send("go mate 1");
  EXPECT_FALSE(engine.takeLine("bestmove ", 30000).empty());
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// Every "go" gets exactly one bestmove. An endless search answers only when stopped; the new
// game, position and search sent meanwhile wait for its answer and then run in order.
TEST(UciTranscript, OneBestmoveForEveryGo) {
  EngineProcess engine;
  startUci(engine);
  engine.send("position startpos");
  engine.send("go infinite");
  engine.drain(500);
  engine.send("ucinewgame");
  engine.send("position startpos moves e2e4");
  engine.send("go ponder");
  engine.drain(500);
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  engine.send("stop");  // answers "go infinite"; "go ponder" starts
  engine.drain(500);
  engine.send("position startpos moves e2e4 e7e5");
  engine.send("go depth 2");
  engine.drain(500);
  EXPECT_EQ(count(engine.taken(), "bestmove "), 1u);
  engine.send("stop");  // answers "go ponder"; "go depth 2" runs and answers by itself
  engine.send("isready");
  ASSERT_TRUE(engine.waitFor("readyok\n", 10000));
  engine.drain(1000);
  const std::string out = engine.taken();
  EXPECT_EQ(count(out, "bestmove "), 2u) << out;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}
