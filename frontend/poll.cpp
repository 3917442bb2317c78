// Input while the search runs: a non-blocking readiness test on standard input, and the poll
// the search calls every few thousand nodes, which reads at most one line and acts on the few
// commands that make sense during a search. Every other line is kept, in order, for the
// command loop; while the engine ponders in the console or under xboard such a line also ends
// the ponder search, so that it takes effect at once in the position the user sees.
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

// xboard clocks come in centiseconds.
int centisecondsToMs(const char* text) {
  const long long ms = 10LL * parseNumber(text);
  return ms > INT_MAX ? INT_MAX : ms < INT_MIN ? INT_MIN : int(ms);
}

// The second word of line (split at spaces, as the command words are) into word, cut to
// TOKEN_SIZE - 1 characters; false when the line has one word. The poll leaves lineBuffer and
// tokens alone: the command that started the search may still be reading them.
bool secondWord(const char* line, char* word) {
  while (*line == ' ') line++;
  line += std::strcspn(line, " ");
  while (*line == ' ') line++;
  size_t length = std::strcspn(line, " \n");
  if (length == 0) return false;
  if (length > size_t(TOKEN_SIZE - 1)) length = TOKEN_SIZE - 1;
  std::memcpy(word, line, length);
  word[length] = '\0';
  return true;
}

// A search that could never end by itself: pondering, or UCI "go infinite".
bool endless() { return engineState == STATE_PONDERING || endlessSearch; }

// A typed move while the engine ponders: the predicted move turns the ponder search into the
// engine's own search on its clock; any other move stops it, to be played by the ponder turn.
// A move while the engine thinks is not taken here (false): it waits for the engine's move.
bool pollMove(const char* word) {
  if (engineState != STATE_PONDERING) return false;
  pendingMove = parseCoord(word);
  const bool predicted = moveFrom(pendingMove) == moveFrom(ponderMove) && moveTo(pendingMove) == moveTo(ponderMove) &&
                         typeOf(promotionOf(pendingMove)) == typeOf(promotionOf(ponderMove));
  if (!predicted) {
    stopSearch = 1;
    return true;
  }
  ponderElapsed = msSince(searchStart);
  const long long clock = (long long)opponentClock + engineIncrement - msSince(opponentTurnStart);
  opponentClock = clock > INT_MAX ? INT_MAX : clock < -INT_MAX ? -INT_MAX : int(clock);
  allocateTime();
  engineState = STATE_THINKING;
  return true;
}

// The xboard words the poll acts on; false for any other.
bool pollXboard(const char* word, const char* line) {
  char argument[TOKEN_SIZE];
  if (std::strcmp(word, "quit") == 0) {
    quitEngine();
  } else if (std::strcmp(word, "force") == 0) {
    engineSide = NO_SIDE;
    stopSearch = 1;
  } else if (word[0] == '?') {
    if (engineState == STATE_THINKING) stopSearch = 1;
  } else if (std::strcmp(word, "time") == 0) {
    if (secondWord(line, argument)) engineClock = centisecondsToMs(argument);
  } else if (std::strcmp(word, "otim") == 0) {
    if (secondWord(line, argument)) opponentClock = centisecondsToMs(argument);
  } else if (std::strcmp(word, "hint") == 0) {
    if (engineState == STATE_PONDERING) std::printf("Hint: %s\n", ponderText);
  } else if (std::strcmp(word, "hard") == 0) {
    settings.ponder = 1;
  } else if (std::strcmp(word, "easy") == 0) {
    settings.ponder = 0;
    if (engineState == STATE_PONDERING) stopSearch = 1;
  } else {
    return false;
  }
  return true;
}

// The UCI words the poll acts on, by their first letters; false for any other.
bool pollUci(const char* word) {
  if (std::strncmp(word, "quit", 4) == 0) {
    quitEngine();
  } else if (std::strncmp(word, "stop", 4) == 0) {
    stopSearch = 1;
  } else if (std::strncmp(word, "isready", 7) == 0) {
    // GUIs wait for this answer while the engine thinks; the search goes on.
    std::fputs("readyok\n", stdout);
  } else if (std::strncmp(word, "ponderhit", 9) == 0) {
    if (engineState != STATE_PONDERING) return true;
    allocateTime();
    engineState = STATE_THINKING;
  } else {
    return false;
  }
  return true;
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
// hit, hint, ponder switches, isready and quit. Any other line is kept for the command loop;
// while the engine ponders in the console or under xboard it also ends the ponder search.
// Once the store of kept lines is full nothing more is read (a search that only input can
// end is ended then). The end of input ends only a search that could not end by itself; a
// timed or depth-limited one finishes, and the command loop meets the end after it.
void pollInput() {
  if (stopSearch || inputEnded) return;
  if (queueFull()) {
    if (endless()) stopSearch = 1;
    return;
  }
  if (inputWaiting() == 0) return;
  static char line[LINE_SIZE];
  if (!readLineInto(stdin, line)) {
    inputEnded = 1;
    if (endless()) stopSearch = 1;
    return;
  }
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  if (firstWordOf(line, typed, lower) == 0) return;  // an empty line asks for nothing
  bool handled = false;
  if (!uciMode && looksLikeMove(lower)) handled = pollMove(lower);
  else if (xboardMode) handled = pollXboard(lower, line);
  else if (uciMode) handled = pollUci(lower);
  if (handled) return;
  queueLine(line);
  if (engineState == STATE_PONDERING && !uciMode) stopSearch = 1;
}
