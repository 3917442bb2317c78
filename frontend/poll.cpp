// Input while the search runs: a non-blocking readiness test on standard input, and the poll
// the search calls every few thousand nodes, which reads at most one line and acts on the few
// commands that make sense during a search.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

namespace {

// Characters that the C library has already read from the descriptor into stdin's buffer:
// the descriptor no longer shows them, but they are input all the same.
int bufferedInput() {
#ifdef __GLIBC__
  const long count = stdin->_IO_read_end - stdin->_IO_read_ptr;
  return count > 0 ? int(count > INT_MAX ? INT_MAX : count) : 0;
#else
  return 0;
#endif
}

bool isFileLetter(char c) { return c >= 'a' && c <= 'h'; }
bool isRankDigit(char c) { return c >= '1' && c <= '8'; }

// xboard clocks come in centiseconds.
int centisecondsToMs(const char* text) {
  const long long ms = 10LL * parseNumber(text);
  return ms > INT_MAX ? INT_MAX : ms < INT_MIN ? INT_MIN : int(ms);
}

// A typed move while the engine ponders: the predicted move turns the ponder search into the
// engine's own search on its clock; any other move stops it, to be played by the ponder turn.
void pollMove(const char* word) {
  if (engineState != STATE_PONDERING) return;
  pendingMove = parseCoord(word);
  const bool predicted = moveFrom(pendingMove) == moveFrom(ponderMove) && moveTo(pendingMove) == moveTo(ponderMove) &&
                         typeOf(promotionOf(pendingMove)) == typeOf(promotionOf(ponderMove));
  if (!predicted) {
    stopSearch = 1;
    return;
  }
  ponderElapsed = msSince(searchStart);
  const long long clock = (long long)opponentClock + engineIncrement - msSince(opponentTurnStart);
  opponentClock = clock > INT_MAX ? INT_MAX : clock < -INT_MAX ? -INT_MAX : int(clock);
  allocateTime();
  engineState = STATE_THINKING;
}

void pollXboard(const char* word) {
  if (std::strcmp(word, "quit") == 0) {
    quitEngine();
  } else if (std::strcmp(word, "force") == 0) {
    engineSide = NO_SIDE;
    stopSearch = 1;
  } else if (word[0] == '?') {
    if (engineState == STATE_THINKING) stopSearch = 1;
  } else if (std::strcmp(word, "time") == 0) {
    if (tokenCount >= 2) engineClock = centisecondsToMs(tokens[1]);
  } else if (std::strcmp(word, "otim") == 0) {
    if (tokenCount >= 2) opponentClock = centisecondsToMs(tokens[1]);
  } else if (std::strcmp(word, "hint") == 0) {
    if (engineState == STATE_PONDERING) std::printf("Hint: %s\n", ponderText);
  } else if (std::strcmp(word, "hard") == 0) {
    settings.ponder = 1;
  } else if (std::strcmp(word, "easy") == 0) {
    settings.ponder = 0;
    if (engineState == STATE_PONDERING) stopSearch = 1;
  }
}

void pollUci(const char* word) {
  if (std::strncmp(word, "quit", 4) == 0) {
    quitEngine();
  } else if (std::strncmp(word, "stop", 4) == 0) {
    stopSearch = 1;
  } else if (std::strncmp(word, "isready", 7) == 0) {
    // GUIs wait for this answer while the engine thinks; the search goes on.
    std::fputs("readyok\n", stdout);
  } else if (std::strncmp(word, "ponderhit", 9) == 0 && engineState == STATE_PONDERING) {
    allocateTime();
    engineState = STATE_THINKING;
  }
}

}  // namespace

// Number of input units waiting on standard input, 0 when none: characters left in stdin's
// buffer, else what the descriptor holds (1 at its end, so that the reader finds the end).
// Never blocks.
int inputWaiting() {
  const int buffered = bufferedInput();
  if (buffered > 0) return buffered;
  pollfd request{STDIN_FILENO, POLLIN, 0};
  if (poll(&request, 1, 0) <= 0 || request.revents == 0) return 0;
  int available = 0;
  if (ioctl(STDIN_FILENO, FIONREAD, &available) == 0 && available > 0) return available;
  return 1;
}

// Called by the search every POLL_INTERVAL nodes. Reads one line when input is waiting and acts
// on it: a move while pondering (console and xboard), stop, move now, force, clocks, ponder
// hit, hint, ponder switches and quit; every other line is dropped. At the end of input the
// search stops, and the reader after it ends the program.
void pollInput() {
  if (stopSearch || inputWaiting() == 0) return;
  if (!readLine(stdin)) {
    stopSearch = 1;
    return;
  }
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  if (firstWord(typed, lower) == 0) return;
  if (!uciMode && isFileLetter(lower[0]) && isRankDigit(lower[1]) && isFileLetter(lower[2]) && isRankDigit(lower[3])) {
    pollMove(lower);
    return;
  }
  if (!xboardMode && !uciMode) return;
  tokeniseLine();
  if (xboardMode) pollXboard(lower);
  else pollUci(lower);
}
