// Console colours on a real terminal (a pseudo-terminal standing in for standard output), and
// the millisecond clock.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "board/board.h"
#include "session/session.h"
#include "tests/support/support.h"

namespace {

// Puts a pseudo-terminal in place of standard output for the life of the object.
class TerminalOutput {
 public:
  TerminalOutput() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0) return;
    std::fflush(stdout);
    savedOutput = dup(STDOUT_FILENO);
    dup2(slave, STDOUT_FILENO);
    close(slave);
    fcntl(master, F_SETFL, O_NONBLOCK);
  }
  ~TerminalOutput() {
    if (savedOutput >= 0) {
      std::fflush(stdout);
      dup2(savedOutput, STDOUT_FILENO);
      close(savedOutput);
    }
    if (master >= 0) close(master);
  }
  bool ready() const { return savedOutput >= 0; }

  // What reached the terminal since the last call.
  std::string written() {
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string text;
    char chunk[256];
    ssize_t n;
    while ((n = read(master, chunk, sizeof chunk)) > 0) text.append(chunk, size_t(n));
    return text;
  }

 private:
  int master = -1;
  int savedOutput = -1;
};

}  // namespace

TEST(Console, ColoursBecomeEscapesOnlyOnATerminalInConsoleMode) {
  resetEngine();
  consoleMode = 1;
  EXPECT_FALSE(outputIsTerminal());  // the tests' output is captured, never a terminal
  EXPECT_EQ(captureOutput([] { setColour(9); resetColour(); clearConsole(); }), "");

  TerminalOutput terminal;
  ASSERT_TRUE(terminal.ready());
  ASSERT_TRUE(outputIsTerminal());
  setColour(9);  // bright blue on black
  EXPECT_EQ(terminal.written(), "\x1b[94;40m");
  setColour(6);  // brown (dark yellow), background kept
  EXPECT_EQ(terminal.written(), "\x1b[33;40m");
  inverseColour();  // black on white
  EXPECT_EQ(terminal.written(), "\x1b[30;107m");
  setColour(12);  // bright red, still on white
  EXPECT_EQ(terminal.written(), "\x1b[91;107m");
  resetColour();
  EXPECT_EQ(terminal.written(), "\x1b[0m");
  setColour(7);
  EXPECT_EQ(terminal.written(), "\x1b[37;40m");
  clearConsole();
  setConsoleTitle("T");
  EXPECT_EQ(terminal.written(), "\x1b[H\x1b[2J\x1b]0;T\x07");

  consoleMode = 0;  // a GUI never gets colours, terminal or not
  setColour(15);
  inverseColour();
  resetColour();
  EXPECT_EQ(terminal.written(), "");
}

TEST(Console, ClockCountsMilliseconds) {
  int start = nowMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  int elapsed = msSince(start);
  EXPECT_GE(elapsed, 55);
  EXPECT_LT(elapsed, 1000);
}
