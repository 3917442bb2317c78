// Input while the search runs: a non-blocking readiness test on the command input, and the poll
// the search calls every few thousand nodes. The poll reads at most one line and hands it to the
// active protocol's own command table, which says when the command acts (SearchTiming): at once,
// after the search, or after ending the search. Lines act in the order they came, so a line that
// must wait makes every later line wait behind it; only questions and quit pass.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

FILE* commandInput = stdin;
int (*inputWaitingHook)() = nullptr;

namespace {

// Characters that the C library has already read from the descriptor into the stream's buffer:
// the descriptor no longer shows them, but they are input all the same.
int bufferedInput(FILE* in) {
#ifdef __GLIBC__
  const long count = in->_IO_read_end - in->_IO_read_ptr;
  return count > 0 ? int(count > INT_MAX ? INT_MAX : count) : 0;
#else
  (void)in;
  return 0;
#endif
}

// The timing of a coordinate move read during a search (console and xboard): the opponent's
// move while pondering acts at once, as does the refusal of a move typed while the engine
// thinks on its own move; a move given to the analysis changes the position.
SearchTiming moveTiming() {
  if (engineState == STATE_PONDERING || engineState == STATE_THINKING) return ACTS;
  return engineState == STATE_ANALYSING ? ENDS : WAITS;
}

SearchTiming timingOf(const char* lower) {
  if (!uciMode && looksLikeMove(lower)) return moveTiming();
  if (xboardMode) return xboardTiming(lower);
  if (uciMode) return uciTiming(lower);
  return consoleTiming(lower);
}

// The search stops, and the console and xboard do not play its move: the game it was for has
// changed, or the line that ended it must run in the position the user sees. UCI still
// answers the "go" that started it with its bestmove.
void dropSearch() {
  stopSearch = 1;
  searchDropped = 1;
}

// A move typed during a search. While the engine thinks on its own move it is refused at once;
// while it ponders, the predicted move turns the ponder search into the engine's own search on
// its clock, another legal move ends the ponder search to be played by the ponder turn, and an
// illegal one is answered as the main loop answers it.
void searchMove(const char* typed, const char* lower) {
  if (engineState != STATE_PONDERING) {
    std::printf("Illegal move (the engine is thinking): %s\n", typed);
    return;
  }
  const Move m = matchPonderReply(parseCoord(lower));
  if (m == 0) {
    std::printf("Illegal move: %s\n", typed);
    return;
  }
  if (m != ponderMove) {
    pendingMove = m;
    stopSearch = 1;
    return;
  }
  ponderElapsed = msSince(searchStart);
  chargeMove(false, msSince(opponentTurnStart));
  allocateTime();
  engineState = STATE_THINKING;
}

// Runs a line that acts during the search through the same handlers as between searches. The
// command that started the search may still read lineBuffer and tokens: they are put back.
void runLine(const char* line, const char* typed, const char* lower) {
  static char savedLine[LINE_SIZE];
  static char savedTokens[MAX_TOKENS][TOKEN_SIZE];
  std::memcpy(savedLine, lineBuffer, std::strlen(lineBuffer) + 1);
  std::memcpy(savedTokens, tokens, sizeof tokens);
  const int savedCount = tokenCount;
  std::memcpy(lineBuffer, line, std::strlen(line) + 1);
  if (!uciMode && looksLikeMove(lower)) searchMove(typed, lower);
  else if (!dispatchCommand(lower) && !uciMode) reportUnknownCommand(typed);
  std::memcpy(lineBuffer, savedLine, std::strlen(savedLine) + 1);
  std::memcpy(tokens, savedTokens, sizeof tokens);
  tokenCount = savedCount;
}

// Once a line has ended the search, the lines that arrived with it (a GUI sends its commands in
// bursts: "level", "time", "otim") are kept behind it before anything is searched again, so
// that the next search starts from all of them.
void keepWaitingLines() {
  static char line[LINE_SIZE];
  while (!queueFull() && inputWaiting() > 0) {
    if (!readLineInto(commandInput, line)) {
      inputEnded = 1;
      return;
    }
    queueLine(line);
  }
}

}  // namespace

bool searchEndless() {
  return engineState == STATE_PONDERING || engineState == STATE_ANALYSING || limits.endless;
}

// Number of input units waiting on the command input, 0 when none: characters left in the
// stream's buffer, else what the descriptor holds (1 at its end, so that the reader finds the
// end; a stream without a descriptor is always ready). Never blocks.
int inputWaiting() {
  if (inputWaitingHook != nullptr) return inputWaitingHook();
  const int buffered = bufferedInput(commandInput);
  if (buffered > 0) return buffered;
  const int fd = fileno(commandInput);
  if (fd < 0) return 1;
  pollfd request{fd, POLLIN, 0};
  if (poll(&request, 1, 0) <= 0 || request.revents == 0) return 0;
  int available = 0;
  if (ioctl(fd, FIONREAD, &available) == 0 && available > 0) return available;
  return 1;
}

void waitForInput() {
  if (inputWaitingHook != nullptr || inputWaiting() > 0) return;
  pollfd request{fileno(commandInput), POLLIN, 0};
  while (poll(&request, 1, -1) < 0) {
  }
}

// Called by the search every POLL_INTERVAL nodes. Reads one line when input is waiting and gives
// it to the active protocol's table: the line acts at once, or is kept for the command loop and
// perhaps ends the search first (SearchTiming). A kept line ends a search that only input can
// end, so that it runs in the position the user sees. Once the store of kept lines is full
// nothing more is read (such a search is ended then). The end of input ends only a search that
// could not end by itself; a timed or depth-limited one finishes, and the loop meets the end.
void pollInput() {
  if (stopSearch || inputEnded) return;
  if (queueFull()) {
    if (searchEndless()) dropSearch();
    return;
  }
  if (inputWaiting() == 0) return;
  static char line[LINE_SIZE];
  if (!readLineInto(commandInput, line)) {
    inputEnded = 1;
    if (searchEndless()) stopSearch = 1;
    return;
  }
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  if (firstWordOf(line, typed, lower) == 0) return;  // an empty line asks for nothing
  SearchTiming timing = timingOf(lower);
  if (timing == ACTS_OFF_MOVE) timing = engineState == STATE_THINKING ? WAITS : ACTS;
  if (timing == ENDS && engineState == STATE_EPD_TESTING) timing = WAITS;
  if (timing == QUITS && queuedLines() == 0) timing = ACTS;
  if (timing != IMMEDIATE && timing != QUITS && queuedLines() > 0) timing = WAITS;
  if (timing == ACTS || timing == IMMEDIATE) {
    runLine(line, typed, lower);
    return;
  }
  queueLine(line);
  if (timing == QUITS) stopSearch = 1;
  else if (timing == ENDS || searchEndless()) dropSearch();
  if (stopSearch) keepWaitingLines();
}

// The search, and for a search that only input can end (pondering, analysis, UCI "go
// infinite" or "go ponder") that ran out of depth first, the wait for the line that ends it:
// meanwhile every line is handled by the search's poll as during the search. Without a poll
// (tests, bench) nothing waits.
void runSearch(int state) {
  engineState = state;
  searchDropped = 0;
  think();
  while (pollHook != nullptr && !stopSearch && !inputEnded && searchEndless()) {
    waitForInput();
    pollHook();
  }
}
