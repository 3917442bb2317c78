// A short game typed at the console prompt of the real program, compared with the exact texts;
// times, which vary, and the engine's choice of move are masked.
#include <string>

#include <gtest/gtest.h>

#include "tests/frontend/frontend_support.h"
#include "tests/frontend/program.h"

TEST(ConsoleTranscript, AShortGameAtThePrompt) {
  // Empty clocks make each engine move a one-iteration search.
  const std::string input =
      "board off\nbeep off\npost off\nponder off\n"
      "tc 0 0 0\n"
      "e2e4\n"       // the engine answers at once
      "e2e4\n"       // no longer legal
      "newgame\n"
      "tc 40 0 0\n"
      "go\n"         // the engine takes White
      "setboard 6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1\n"
      "a1a8\n"       // mate
      "e2e4\n"
      "go\n"         // nothing to play after the end
      "fen\n"
      "xboard\nforce\nundo\nfen\nhint\nremove\na1a8\nnew\nquit\nfen\n";
  ProgramRun run = runProgram(input);
  EXPECT_EQ(run.exitCode, 0);
  size_t first = run.output.find("Talvek[W-1]> ");
  ASSERT_NE(first, std::string::npos) << run.output;
  const std::string expected =
      "Talvek[W-1]> auto display board after move: off\n"
      "Talvek[W-1]> beep after move: off\n"
      "Talvek[W-1]> post thinking: off\n"
      "Talvek[W-1]> pondering: off\n"
      "Talvek[W-1]> time control: game in 0 minutes\n"
      "Talvek[W-1]>    time used: {}\n"
      "   time remaining: {}\n"
      "Talvek[B-1]> {}\n"
      "\ttime used: {}\n"
      "\ttime remaining: {}\n"
      "Talvek[W-2]> Illegal move: e2e4\n"
      "Talvek[W-2]> Talvek[W-1]> time control: 40 moves in 0 minutes\n"
      "Talvek[W-1]> Talvek[W-1]> {}\n"
      "\ttime used: {}\n"
      "\ttime remaining: {}\n"
      "Talvek[B-1]> Talvek[W-1]>    time used: {}\n"
      "   time remaining: {}\n"
      "1-0 {Talvek is mated}\n"
      "Talvek[B-1]> Game ended. To start a new game type new\n"
      "Talvek[B-1]> Talvek[B-1]> FEN: R5k1/5ppp/8/8/8/8/5PPP/6K1 b - - 1 1\n"
      "Talvek[B-1]> \n"                       // xboard: no prompt from here on
      "Error (unknown command): fen\n"
      "Hint: none\n"
      "1-0 {White mates}\n";                   // the undone mate, played again
  EXPECT_TRUE(matchesMask(run.output.substr(first), expected)) << run.output.substr(first);
}

// A device that never ends (here /dev/zero) is refused as a command, settings or EPD file
// instead of being read for ever; the program goes on answering.
TEST(ConsoleTranscript, EndlessDevicesAreRefusedAsFiles) {
  EngineProcess engine;
  engine.send("fetch /dev/zero");
  EXPECT_TRUE(engine.waitFor("**ERROR**  fetch(): /dev/zero is a device, not a command file\n", 10000));
  engine.send("epdtest /dev/zero 1 1");
  EXPECT_TRUE(engine.waitFor("**ERROR**  epdTest() : /dev/zero is a device, not an EPD file\n", 10000));
  engine.send("fen");
  EXPECT_TRUE(engine.waitFor("FEN: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\n", 10000));
  engine.send("quit");
}
