// Lines that arrive while the real program searches, sent through pipes as a person or a GUI
// sends them: none is lost. While the engine ponders, a line other than the opponent's move
// ends the ponder search and runs at once; while it thinks, lines wait for its move; the end
// of input lets a search that can end finish first.
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "tests/frontend/program.h"

namespace {

// Console: one-minute game, so that each move takes a second or two; no board, no beeps.
void startConsole(EngineProcess& engine) {
  ASSERT_TRUE(engine.running());
  engine.send("board off");
  engine.send("beep off");
  engine.send("post off");
  engine.send("tc 40 1 0");
  ASSERT_TRUE(engine.waitFor("time control: 40 moves in 1 minutes\n", 20000)) << engine.taken();
  engine.taken();
}

// Checks that the console ran fen, help and "ponder off" in order with White to move after
// the engine's reply, then quits.
void expectFenHelpPonderOffQuit(EngineProcess& engine) {
  engine.send("fen");
  engine.send("help");
  engine.send("ponder off");
  engine.send("quit");
  ASSERT_TRUE(engine.waitFor("pondering: off\n", 10000)) << engine.taken();
  EXPECT_EQ(engine.waitExit(5000), 0);
  const std::string out = engine.taken();
  const size_t fen = out.find("FEN: ");
  const size_t help = out.find("H E L P");
  const size_t off = out.find("pondering: off");
  ASSERT_NE(fen, std::string::npos) << out;
  EXPECT_LT(fen, help) << out;
  EXPECT_LT(help, off) << out;
  // The position after 1.e4 and the engine's reply, not the one it pondered.
  const std::string fenLine = out.substr(fen, out.find('\n', fen) - fen);
  EXPECT_NE(fenLine.find(" w "), std::string::npos) << fenLine;
  EXPECT_NE(fenLine.find("4P3"), std::string::npos) << fenLine;
}

}  // namespace

TEST(QueuedInput, ConsoleLinesWhilePonderingRunAtOnce) {
  EngineProcess engine;
  startConsole(engine);
  engine.send("e2e4");
  ASSERT_TRUE(engine.waitFor("[pondering]\n", 20000)) << engine.taken();
  engine.drain(300);
  engine.taken();
  expectFenHelpPonderOffQuit(engine);
}

TEST(QueuedInput, ConsoleLinesWhileThinkingRunAfterTheMove) {
  EngineProcess engine;
  startConsole(engine);
  engine.send("e2e4");
  ASSERT_TRUE(engine.waitFor("   time remaining: ", 5000)) << engine.taken();
  // The engine now thinks on its own clock; these lines wait for its move.
  engine.taken();
  expectFenHelpPonderOffQuit(engine);
}

// A piped suite runs every position to its full search and the end of input then ends the
// program; "quit" typed during the run ends it at once.
TEST(QueuedInput, EpdTestOnOnePipe) {
  const std::string suite = std::filesystem::temp_directory_path() / "talvek-queued-suite.epd";
  std::ofstream(suite) << "1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5 b - - bm Qd1+; id \"BK.01\";\n"
                          "r1b2rk1/2q1b1pp/p2ppn2/1p6/3QP3/1BN1B3/PPP3PP/R4RK1 w - - bm Nd5 a4; id \"BK.05\";\n";
  ProgramRun run = runProgram("epdtest " + suite + " 1 100\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.output.find("positions: 2\n"), std::string::npos) << run.output;
  // With a hundred iterations required, only the time ends each search: a second each.
  const size_t total = run.output.find("total nodes: ");
  ASSERT_NE(total, std::string::npos) << run.output;
  EXPECT_GT(std::stoll(run.output.substr(total + 13)), 200000) << run.output;
  run = runProgram("epdtest " + suite + " 1 100\nquit\n");
  std::filesystem::remove(suite);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output.find("positions: "), std::string::npos) << run.output;
}

// "init" inside the settings file is not read again; the other lines still act.
TEST(QueuedInput, InitInsideTheSettingsFileDoesNotRecurse) {
  ProgramRun run = runProgram("uci\nquit\n", "", "init\nhash 8\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_LT(run.output.size(), 20000u);
  EXPECT_EQ(run.output.find("unable to open talvek.ini"), std::string::npos) << run.output.substr(0, 2000);
  EXPECT_NE(run.output.find("init(): "), std::string::npos) << run.output.substr(0, 2000);
  EXPECT_NE(run.output.find("option name Hash type spin default 8 "), std::string::npos) << run.output.substr(0, 4000);
}

// At the console, a move typed while the engine thinks on its own move is refused at once and
// never played later; quit then acts at once, with the default clocks too.
TEST(QueuedInput, ConsoleMoveWhileThinkingIsRefused) {
  EngineProcess engine;
  startConsole(engine);
  engine.send("ponder off");
  engine.send("tc 0 2 0");
  engine.send("e2e4");
  ASSERT_TRUE(engine.waitFor("   time remaining: ", 5000)) << engine.taken();
  engine.send("d2d4");
  ASSERT_TRUE(engine.waitFor("Illegal move (the engine is thinking): d2d4\n", 2000)) << engine.taken();
  ASSERT_TRUE(engine.waitFor("\ttime remaining: ", 20000)) << engine.taken();  // the engine's reply
  engine.send("fen");
  ASSERT_TRUE(engine.waitFor("FEN: ", 5000));
  engine.drain(300);
  const std::string out = engine.taken();
  const std::string fen = out.substr(out.find("FEN: "));
  EXPECT_NE(fen.find(" w "), std::string::npos) << fen;  // White to move: d2d4 was not played
  EXPECT_NE(fen.find("/4P3/8/PPPP1PPP/"), std::string::npos) << fen;
  engine.send("newgame");
  engine.send("e2e4");
  ASSERT_TRUE(engine.waitFor("   time remaining: ", 5000)) << engine.taken();
  const int sent = nowMs();
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
  EXPECT_LT(nowMs() - sent, 3000);
}

// Text that names no move, typed while the engine ponders, is an illegal move: the engine goes
// on pondering and does not play for the user.
TEST(QueuedInput, ConsoleNoMoveWhilePondering) {
  EngineProcess engine;
  startConsole(engine);
  engine.send("e2e4");
  ASSERT_TRUE(engine.waitFor("[pondering]\n", 20000)) << engine.taken();
  engine.taken();
  engine.send("a1a1");
  ASSERT_TRUE(engine.waitFor("Illegal move: a1a1\n", 2000)) << engine.taken();
  engine.drain(500);
  EXPECT_EQ(engine.taken().find("time used"), std::string::npos);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// The console's analyze shows the engine's lines on the current position, whatever post says,
// until a line is typed; that line then runs, and nothing is played.
TEST(QueuedInput, ConsoleAnalyzeUntilALineIsTyped) {
  EngineProcess engine;
  startConsole(engine);
  engine.send("noise 1");
  engine.send("analyze");
  ASSERT_TRUE(engine.waitFor("Depth: 3/", 10000)) << engine.taken();
  engine.send("fen");
  ASSERT_TRUE(engine.waitFor("FEN: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq", 5000)) << engine.taken();
  engine.drain(700);
  engine.taken();
  engine.send("post on");  // analysis has given post back as it was
  ASSERT_TRUE(engine.waitFor("post thinking: on\n", 5000));
  engine.drain(500);
  EXPECT_EQ(engine.taken().find("Depth: "), std::string::npos);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}
