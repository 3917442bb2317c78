#include <stdio_ext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "frontend/frontend.h"
#include "search/search.h"
#include "tests/support/support.h"

int inputWaiting();
void pollInput();

namespace {

// Standard input taken from a pipe for the life of the object; the real standard input is
// put back (and stdin's buffer emptied) afterwards.
class PipedStdin {
 public:
  PipedStdin() {
    EXPECT_EQ(pipe(fds_), 0);
    saved_ = dup(STDIN_FILENO);
    dup2(fds_[0], STDIN_FILENO);
    close(fds_[0]);
    __fpurge(stdin);
    clearerr(stdin);
  }
  ~PipedStdin() {
    end();
    __fpurge(stdin);
    dup2(saved_, STDIN_FILENO);
    close(saved_);
    clearerr(stdin);
  }
  void send(const std::string& text) { EXPECT_EQ(write(fds_[1], text.data(), text.size()), ssize_t(text.size())); }
  void end() {
    if (fds_[1] >= 0) close(fds_[1]);
    fds_[1] = -1;
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};

class PollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    engineState = STATE_THINKING;
    consoleMode = 0;
  }
  void TearDown() override { resetEngine(); }

  // Feeds one line and polls once; returns what the poll printed.
  std::string pollLine(PipedStdin& in, const std::string& line) {
    in.send(line);
    return captureOutput(pollInput);
  }
};

TEST_F(PollTest, WaitingCountsThePipeAndTheStreamBuffer) {
  PipedStdin in;
  EXPECT_EQ(inputWaiting(), 0);
  in.send("stop\n");
  EXPECT_EQ(inputWaiting(), 5);
  in.send("quit\n");
  ASSERT_TRUE(readLine(stdin));  // the C library reads both lines into its buffer
  EXPECT_STREQ(lineBuffer, "stop\n");
  EXPECT_EQ(inputWaiting(), 5);  // "quit\n" waits in stdin's buffer, not on the pipe
  ASSERT_TRUE(readLine(stdin));
  EXPECT_EQ(inputWaiting(), 0);
  in.end();
  EXPECT_GE(inputWaiting(), 1);  // the end of input is there to be read
}

TEST_F(PollTest, NothingIsReadWhileTheSearchIsStopping) {
  PipedStdin in;
  uciMode = 1;
  stopSearch = 1;
  in.send("quit\n");
  pollInput();
  EXPECT_EQ(inputWaiting(), 5);
}

TEST_F(PollTest, UciWordsCompareByTheirFirstLetters) {
  PipedStdin in;
  uciMode = 1;
  EXPECT_EQ(pollLine(in, "isready\n"), "readyok\n");  // answered at once, the search goes on
  EXPECT_EQ(stopSearch, 0);
  EXPECT_EQ(inputWaiting(), 0);
  pollLine(in, "e2e4\n");  // no moves in UCI
  EXPECT_EQ(stopSearch, 0);
  pollLine(in, "ponderhit\n");  // not pondering: nothing
  EXPECT_EQ(engineState, STATE_THINKING);
  pollLine(in, "stopper\n");
  EXPECT_EQ(stopSearch, 1);
  stopSearch = 0;
  engineState = STATE_PONDERING;
  engineClock = 100000;
  movesPerControl = 0;
  pollLine(in, "ponderhit\n");
  EXPECT_EQ(engineState, STATE_THINKING);
  EXPECT_GT(targetTime, 0);
  EXPECT_EQ(stopSearch, 0);
}

TEST_F(PollTest, XboardCommandsDuringASearch) {
  PipedStdin in;
  xboardMode = 1;
  pollLine(in, "time 12345\n");
  EXPECT_EQ(engineClock, 123450);
  pollLine(in, "otim 500\n");
  EXPECT_EQ(opponentClock, 5000);
  pollLine(in, "time\n");  // no number: unchanged
  EXPECT_EQ(engineClock, 123450);
  pollLine(in, "easy\n");
  EXPECT_EQ(settings.ponder, 0);
  EXPECT_EQ(stopSearch, 0);  // a normal search goes on
  pollLine(in, "hard\n");
  EXPECT_EQ(settings.ponder, 1);
  pollLine(in, "ping 3\n");  // on the engine's move: answered after the move
  EXPECT_EQ(stopSearch, 0);
  EXPECT_EQ(queuedLines(), 1);
  pollLine(in, "time 9\n");  // behind a waiting line, even a clock waits
  EXPECT_EQ(engineClock, 123450);
  EXPECT_EQ(queuedLines(), 2);
  pollLine(in, "?\n");
  EXPECT_EQ(queuedLines(), 3);
  clearQueuedLines();
  pollLine(in, "?\n");
  EXPECT_EQ(stopSearch, 1);
  EXPECT_FALSE(searchOutcome.dropped);  // the best move so far is played
  stopSearch = 0;
  engineSide = BLACK;
  pollLine(in, "force\n");  // ends the search, whose move is not played, then runs
  EXPECT_EQ(stopSearch, 1);
  EXPECT_TRUE(searchOutcome.dropped);
  EXPECT_EQ(engineSide, BLACK);
  char line[LINE_SIZE];
  ASSERT_TRUE(takeQueuedLine(line, sizeof line));
  EXPECT_STREQ(line, "force\n");
}

TEST_F(PollTest, XboardWhilePondering) {
  PipedStdin in;
  xboardMode = 1;
  engineState = STATE_PONDERING;
  snprintf(ponderText, sizeof ponderText, "Nf3");
  EXPECT_EQ(pollLine(in, "hint\n"), "Hint: Nf3\n");
  pollLine(in, "?\n");  // move now means nothing while pondering
  EXPECT_EQ(stopSearch, 0);
  pollLine(in, "easy\n");
  EXPECT_EQ(settings.ponder, 0);
  EXPECT_EQ(stopSearch, 1);
}

TEST_F(PollTest, PredictedMoveTurnsPonderingIntoThinking) {
  PipedStdin in;
  consoleMode = 1;
  keepPonderReplies();
  engineState = STATE_PONDERING;
  ponderMove = matchMove(parseCoord("e2e4"));
  ASSERT_NE(ponderMove, 0u);
  engineIncrement = 2000;
  opponentClock = 60000;
  engineClock = 60000;
  searchStart = nowMs() - 300;
  opponentTurnStart = nowMs() - 1000;
  pollLine(in, "e2e4\n");
  EXPECT_EQ(engineState, STATE_THINKING);
  EXPECT_EQ(stopSearch, 0);
  EXPECT_GE(ponderElapsed, 300);
  EXPECT_LT(ponderElapsed, 400);
  EXPECT_LE(opponentClock, 61000);  // plus the increment, less the opponent's thinking time
  EXPECT_GT(opponentClock, 60900);
  EXPECT_GT(targetTime, 0);
  // The engine now thinks on its own move: a move typed meanwhile is refused at once.
  EXPECT_EQ(pollLine(in, "d7d5\n"), "Illegal move (the engine is thinking): d7d5\n");
  EXPECT_EQ(queuedLines(), 0);
  EXPECT_EQ(stopSearch, 0);
}

TEST_F(PollTest, OtherMovesWhilePondering) {
  PipedStdin in;
  consoleMode = 1;
  keepPonderReplies();
  engineState = STATE_PONDERING;
  ponderMove = matchMove(parseCoord("e2e4"));
  // Text that names no move, and moves that are not legal, are refused; pondering goes on.
  for (const char* word : {"a1a1", "b1b1", "e2e5", "e7e5"}) {
    EXPECT_EQ(pollLine(in, std::string(word) + "\n"), "Illegal move: " + std::string(word) + "\n");
    EXPECT_EQ(stopSearch, 0);
    EXPECT_EQ(engineState, STATE_PONDERING);
  }
  pollLine(in, "d2d4\n");
  EXPECT_EQ(stopSearch, 1);
  EXPECT_EQ(engineState, STATE_PONDERING);
  EXPECT_EQ(searchOutcome.otherMove, matchMove(parseCoord("d2d4")));
  // While the engine thinks, a command waits, in order, for the engine's move.
  stopSearch = 0;
  searchOutcome = SearchOutcome{};
  engineState = STATE_THINKING;
  pollLine(in, "help\n");
  pollLine(in, "d2d4\n");  // behind a waiting line, a move waits too
  EXPECT_EQ(stopSearch, 0);
  char line[LINE_SIZE];
  ASSERT_TRUE(takeQueuedLine(line, sizeof line));
  EXPECT_STREQ(line, "help\n");
  ASSERT_TRUE(takeQueuedLine(line, sizeof line));
  EXPECT_STREQ(line, "d2d4\n");
  EXPECT_FALSE(takeQueuedLine(line, sizeof line));
}

// While the engine ponders in the console or under xboard, a line other than a move ends the
// ponder search and is kept for the main loop; the lines behind it stay unread. The poll leaves
// the line and words of the command that started the search alone.
TEST_F(PollTest, OtherLinesEndPonderingAndWait) {
  PipedStdin in;
  xboardMode = 1;
  engineState = STATE_PONDERING;
  runCommandLine("epdtest suite.epd 5 2 log.txt");
  pollLine(in, "time 500\n");  // clocks are still taken at once
  EXPECT_EQ(engineClock, 5000);
  EXPECT_EQ(stopSearch, 0);
  EXPECT_EQ(pollLine(in, "ping 8\n"), "pong 8\n");  // pondering: answered at once
  // A change of the game ends the search; the lines that came with it are kept behind it, so
  // that the next search starts after all of them.
  in.send("remove\n");
  in.send("e2e4\n");
  pollInput();
  EXPECT_EQ(stopSearch, 1);
  EXPECT_EQ(searchOutcome.otherMove, 0u);
  EXPECT_EQ(queuedLines(), 2);
  EXPECT_EQ(inputWaiting(), 0);
  in.send("hint\n");
  pollInput();  // stopping: nothing more is read
  EXPECT_EQ(inputWaiting(), 5);
  EXPECT_EQ(tokenCount, 5);
  EXPECT_STREQ(tokens[4], "log.txt");
  EXPECT_EQ(std::string(lineBuffer), "epdtest suite.epd 5 2 log.txt");
  ASSERT_TRUE(readLine(stdin));
  // Under UCI a ponder search goes on until ponderhit or stop: a new position waits for it.
  // A search on the engine's own clock is ended by a new position, and still answers with
  // its bestmove.
  stopSearch = 0;
  clearQueuedLines();
  xboardMode = 0;
  uciMode = 1;
  pollLine(in, "position startpos moves e2e4\n");
  EXPECT_EQ(stopSearch, 0);
  EXPECT_EQ(queuedLines(), 1);
  engineState = STATE_THINKING;
  clearQueuedLines();
  pollLine(in, "position startpos moves e2e4\n");
  EXPECT_EQ(stopSearch, 1);
  EXPECT_EQ(queuedLines(), 1);
}

// The end of input ends only a search that could never end by itself.
TEST_F(PollTest, EndOfInputEndsOnlyAnEndlessSearch) {
  {
    PipedStdin in;
    uciMode = 1;
    in.end();
    pollInput();
    EXPECT_EQ(stopSearch, 0);  // a timed or depth-limited search finishes
    EXPECT_EQ(inputEnded, 1);
  }
  inputEnded = 0;
  {
    PipedStdin in;
    limits.endless = 1;
    in.end();
    pollInput();
    EXPECT_EQ(stopSearch, 1);
  }
  stopSearch = inputEnded = limits.endless = 0;
  {
    PipedStdin in;
    xboardMode = 1;
    uciMode = 0;
    engineState = STATE_PONDERING;
    in.end();
    pollInput();
    EXPECT_EQ(stopSearch, 1);
  }
}

// Runs one poll on a line in a child process that must end.
void pollAndExit(int xboard, const char* line) {
  PipedStdin in;
  xboardMode = xboard;
  uciMode = !xboard;
  in.send(line);
  pollInput();
  std::exit(3);  // the poll did not end the program
}

TEST_F(PollTest, QuitEndsTheProgramDuringASearch) {
  EXPECT_EXIT(pollAndExit(1, "quit\n"), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(pollAndExit(0, "quit\n"), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(pollAndExit(1, "quitting\n"), ::testing::ExitedWithCode(3), "");  // xboard: exact words
}

}  // namespace

namespace {

// Runs the program on a shell command's output; returns its output and exit status.
std::string runProgram(const std::string& feed, int* status) {
  const std::string command = "(" + feed + ") | timeout 60 " TALVEK_BINARY " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = pclose(pipe);
  return out;
}

TEST(PollProgram, EndOfInputEndsAnInfiniteSearchAndThenTheProgram) {
  int status = -1;
  const std::string out = runProgram("printf 'uci\\ngo infinite\\n'; sleep 1", &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(out.find("\nbestmove "), std::string::npos) << out;
}

TEST(PollProgram, StopAndQuitAreReadDuringASearch) {
  int status = -1;
  std::string out = runProgram("printf 'uci\\ngo infinite\\n'; sleep 1; printf 'isready\\nstop\\n'; sleep 1", &status);
  EXPECT_NE(out.find("\nbestmove "), std::string::npos) << out;
  EXPECT_NE(out.find("readyok\n"), std::string::npos) << out;  // answered during the search
  // After "quit" the feeder keeps the input open until the program has gone.
  const int start = nowMs();
  out = runProgram("printf 'xboard\\nnew\\ngo\\n'; sleep 1; printf 'quit\\n'; "
                   "while printf '\\n' 2>/dev/null; do sleep 0.1; done",
                   &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(nowMs() - start, 20000);
}

}  // namespace

namespace {

// A full store of kept lines: the poll reads nothing more, so the input waits unread, and it
// ends a search that only input could end.
TEST_F(PollTest, AFullStoreLeavesInputUnread) {
  PipedStdin in;
  uciMode = 1;
  for (int i = 0; i < MAX_QUEUED_LINES; i++) ASSERT_TRUE(queueLine("isready\n"));
  EXPECT_TRUE(queueFull());
  EXPECT_FALSE(queueLine("one too many\n"));
  in.send("stop\n");
  pollInput();
  EXPECT_EQ(inputWaiting(), 5);
  EXPECT_EQ(stopSearch, 0);
  limits.endless = 1;
  pollInput();
  EXPECT_EQ(stopSearch, 1);
  EXPECT_EQ(inputWaiting(), 5);
  char line[LINE_SIZE];
  ASSERT_TRUE(takeQueuedLine(line, sizeof line));
  EXPECT_FALSE(queueFull());
  ASSERT_TRUE(readLine(stdin));
}

}  // namespace

namespace {

// The poll takes the bytes that have come and acts on a line only once it is whole; the main
// loop's reader then finishes a line the poll began. The last line may end without a newline.
TEST_F(PollTest, LinesInPiecesActOnceWhole) {
  PipedStdin in;
  uciMode = 1;
  EXPECT_EQ(pollLine(in, "isre"), "");
  EXPECT_EQ(inputWaiting(), 0);  // the piece was taken, not left on the pipe
  EXPECT_FALSE(inputPending());  // and is no line yet
  EXPECT_EQ(pollLine(in, "ad"), "");
  EXPECT_EQ(pollLine(in, "y\r\nst"), "readyok\n");
  EXPECT_EQ(stopSearch, 0);
  EXPECT_EQ(pollLine(in, "op\nisready\n"), "");
  EXPECT_EQ(stopSearch, 1);
  // The line behind the stop stays held for the command loop, whole.
  EXPECT_TRUE(inputPending());
  in.send("quit");
  in.end();
  ASSERT_TRUE(nextLine(stdin));
  EXPECT_STREQ(lineBuffer, "isready\n");
  ASSERT_TRUE(nextLine(stdin));
  EXPECT_STREQ(lineBuffer, "quit");  // the last line, without its newline
  EXPECT_FALSE(nextLine(stdin));
}

TEST_F(PollTest, TheLoopFinishesALineThePollBegan) {
  PipedStdin in;
  xboardMode = 1;
  pollLine(in, "ping");
  EXPECT_EQ(queuedLines(), 0);
  in.send(" 5\nnew\n");
  ASSERT_TRUE(nextLine(stdin));
  EXPECT_STREQ(lineBuffer, "ping 5\n");
  ASSERT_TRUE(nextLine(stdin));
  EXPECT_STREQ(lineBuffer, "new\n");
  // An endless search polled at the end of input: a held piece becomes the last line.
  engineState = STATE_PONDERING;
  snprintf(ponderText, sizeof ponderText, "none");
  pollLine(in, "hint");
  in.end();
  EXPECT_EQ(captureOutput(pollInput), "Hint: none\n");  // "hint" is answered at once
  pollInput();
  EXPECT_EQ(stopSearch, 1);
}

// Under UCI a "go infinite" or "go ponder" search ends only on stop, ponderhit or quit: every
// other line waits, in order; stop passes the lines that wait; quit behind them stops the search
// and runs after them.
TEST_F(PollTest, UciEndlessSearchesEndOnlyWhenTold) {
  PipedStdin in;
  uciMode = 1;
  for (const bool ponder : {false, true}) {
    engineState = ponder ? STATE_PONDERING : STATE_THINKING;
    limits.endless = !ponder;
    for (const char* line : {"setoption name Hash value 32\n", "position startpos moves e2e4\n", "ucinewgame\n",
                             "go depth 3\n", "uci\n"}) {
      pollLine(in, line);
      EXPECT_EQ(stopSearch, 0) << line;
    }
    EXPECT_EQ(queuedLines(), 5);
    EXPECT_EQ(pollLine(in, "isready\n"), "readyok\n");
    pollLine(in, ponder ? "ponderhit\n" : "stop\n");
    EXPECT_EQ(engineState, STATE_THINKING);
    EXPECT_EQ(stopSearch, ponder ? 0 : 1);
    EXPECT_FALSE(searchOutcome.dropped);
    EXPECT_EQ(searchOutcome.ponderHit, ponder);
    EXPECT_EQ(queuedLines(), 5);
    char line[LINE_SIZE];
    ASSERT_TRUE(takeQueuedLine(line, sizeof line));
    EXPECT_STREQ(line, "setoption name Hash value 32\n");
    clearQueuedLines();
    stopSearch = 0;
    searchOutcome = SearchOutcome{};
  }
  limits.endless = 1;
  engineState = STATE_THINKING;
  pollLine(in, "position startpos\n");
  pollLine(in, "quit\n");
  EXPECT_EQ(stopSearch, 1);
  EXPECT_EQ(queuedLines(), 2);
}

}  // namespace
