// Input while the search runs: a non-blocking reader of the command input, and the poll the
// search calls every few thousand nodes.
//
// The reader takes whatever bytes are waiting and keeps them until a whole line has come: a
// line that arrives in pieces (a pipe or a socket may split any write) never makes the search
// wait for its end. The poll hands each whole line to one table, which says from the line's
// kind (its protocol's SearchTiming, or a typed move), what the engine is doing and whether
// lines already wait, what happens to it: it acts at once, waits for the command loop, or
// waits and ends the search first. Lines act in the order they came, so a line that must
// wait makes every later line wait behind it; only questions and quit pass.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

FILE* commandInput = stdin;
int (*inputWaitingHook)() = nullptr;
SearchOutcome searchOutcome;

namespace {

// ----- the non-blocking reader ----------------------------------------------

// Bytes read from the command input that no reader has taken as a line yet: whole lines, each
// ending in a newline, and perhaps the beginning of the next. A line is kept to LINE_SIZE - 2
// characters and its newline, as readLineInto keeps it; the rest of a longer line is dropped.
// Bytes are read only while no whole line is held, so the partial line and one read fit.
char held[2 * LINE_SIZE];
size_t heldLength = 0;
size_t heldLineStart = 0;  // where the last, unfinished line begins
bool heldCut = false;      // that line passed its size: its rest up to the newline is dropped

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

bool heldLineReady() { return heldLineStart > 0; }

// Adds one byte read from the input to the held lines. A carriage return before the newline is
// removed, as text mode does elsewhere.
void holdByte(char c) {
  if (c == '\n') {
    if (!heldCut && heldLength > heldLineStart && held[heldLength - 1] == '\r') heldLength--;
    held[heldLength++] = '\n';
    heldLineStart = heldLength;
    heldCut = false;
  } else if (heldCut || heldLength - heldLineStart >= size_t(LINE_SIZE - 2)) {
    heldCut = true;
  } else {
    held[heldLength++] = c;
  }
}

// The end of input: a last line without its newline becomes a line.
void endInput() {
  inputEnded = 1;
  if (heldLength > heldLineStart) holdByte('\n');
}

// Reads the bytes waiting on the command input, never more than are there, until a whole line
// is held or nothing more waits. Never blocks.
void readWaitingBytes() {
  static char chunk[LINE_SIZE];
  while (!heldLineReady() && !inputEnded) {
    const int waiting = inputWaiting();
    if (waiting <= 0) return;
    const size_t want = std::min<size_t>(size_t(waiting), sizeof chunk);
    const size_t got = std::fread(chunk, 1, want, commandInput);
    for (size_t i = 0; i < got; i++) holdByte(chunk[i]);
    if (got < want) {
      if (std::feof(commandInput)) endInput();
      std::clearerr(commandInput);
      return;
    }
  }
}

// The first held line into buffer (LINE_SIZE bytes); false when no whole line is held.
bool takeHeldLine(char* buffer) {
  if (!heldLineReady()) return false;
  const char* end = static_cast<const char*>(std::memchr(held, '\n', heldLength));
  const size_t length = size_t(end - held) + 1;
  std::memcpy(buffer, held, length);
  buffer[length] = '\0';
  std::memmove(held, held + length, heldLength - length);
  heldLength -= length;
  heldLineStart -= length;
  if (std::memchr(held, '\n', heldLineStart) == nullptr) heldLineStart = 0;
  return true;
}

// The next whole line of the command input into buffer, if one has come; never blocks.
bool takeWaitingLine(char* buffer) {
  if (!heldLineReady()) readWaitingBytes();
  return takeHeldLine(buffer);
}

// ----- what a line read during a search does ----------------------------------

// What the poll does with a line.
enum LineAction : uint8_t {
  RUN,   // acts now; the search goes on unless the line itself stops it
  KEEP,  // kept for the command loop; the search goes on
  STOP,  // kept; the search stops and its move stands (quit behind waiting lines)
  DROP,  // kept; the search stops and the console and xboard do not play its move
};

// What the engine is doing: the table's columns.
enum Activity : uint8_t {
  OWN_MOVE,     // thinking on its own move; under UCI any search that ends by itself
  PONDERING,    // console or xboard, on the opponent's time
  ANALYSING,    // console or xboard analysis
  UCI_ENDLESS,  // UCI "go infinite" or "go ponder": only stop, ponderhit and quit end it
  EPD_TEST,     // a position of a test suite
  ACTIVITIES,
};

constexpr int MOVE_ROW = ACTS_OFF_MOVE + 1;  // a coordinate move (console and xboard)
constexpr int ROWS = MOVE_ROW + 1;

// [lines already wait][the line's kind][what the engine does]. A console or xboard search that
// only input can end is ended by a line that waits, so that the line runs in the position the
// user sees; under UCI such a search goes on until stop or ponderhit, and lines wait behind it.
// Behind waiting lines only questions pass, and quit stops the search to run after them.
constexpr LineAction ACTIONS[2][ROWS][ACTIVITIES] = {
    {
        //                  own move  pondering  analysing  UCI endless  EPD test
        /* WAITS         */ {KEEP,    DROP,      DROP,      KEEP,        KEEP},
        /* ACTS          */ {RUN,     RUN,       RUN,       RUN,         RUN},
        /* IMMEDIATE     */ {RUN,     RUN,       RUN,       RUN,         RUN},
        /* QUITS         */ {RUN,     RUN,       RUN,       RUN,         RUN},
        /* ENDS          */ {DROP,    DROP,      DROP,      KEEP,        KEEP},
        /* ACTS_OFF_MOVE */ {KEEP,    RUN,       RUN,       RUN,         RUN},
        /* a move        */ {RUN,     RUN,       DROP,      RUN,         KEEP},
    },
    {
        // Behind waiting lines.
        /* WAITS         */ {KEEP,    DROP,      DROP,      KEEP,        KEEP},
        /* ACTS          */ {KEEP,    DROP,      DROP,      KEEP,        KEEP},
        /* IMMEDIATE     */ {RUN,     RUN,       RUN,       RUN,         RUN},
        /* QUITS         */ {STOP,    STOP,      STOP,      STOP,        STOP},
        /* ENDS          */ {KEEP,    DROP,      DROP,      KEEP,        KEEP},
        /* ACTS_OFF_MOVE */ {KEEP,    DROP,      DROP,      KEEP,        KEEP},
        /* a move        */ {KEEP,    DROP,      DROP,      KEEP,        KEEP},
    },
};

Activity activity() {
  if (engineState == STATE_EPD_TESTING) return EPD_TEST;
  if (uciMode) return searchEndless() ? UCI_ENDLESS : OWN_MOVE;
  if (engineState == STATE_PONDERING) return PONDERING;
  if (engineState == STATE_ANALYSING || limits.endless) return ANALYSING;
  return OWN_MOVE;
}

int rowOf(const char* lower) {
  if (!uciMode && looksLikeMove(lower)) return MOVE_ROW;
  if (xboardMode) return xboardTiming(lower);
  if (uciMode) return uciTiming(lower);
  return consoleTiming(lower);
}

// The search stops, and the console and xboard do not play its move: the game it was for has
// changed, or the line that ended it must run in the position the user sees. UCI still
// answers the "go" that started it with its bestmove.
void dropSearch() {
  stopSearch = 1;
  searchOutcome.dropped = true;
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
    searchOutcome.otherMove = m;
    stopSearch = 1;
    return;
  }
  ponderElapsed = msSince(searchStart);
  chargeMove(false, msSince(opponentTurnStart));
  ponderHit();
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
  while (!queueFull() && takeWaitingLine(line)) queueLine(line);
}

// Takes one whole line, if one has come, and does with it what the table says.
void pollLine();

}  // namespace

bool searchEndless() {
  return engineState == STATE_PONDERING || engineState == STATE_ANALYSING || limits.endless;
}

// Number of input units waiting on the command input, 0 when none: characters left in the
// stream's buffer, else what the descriptor holds (1 at its end, so that the reader finds the
// end; a stream without a descriptor is always ready). Never blocks.
int inputWaiting() {
  const int buffered = bufferedInput(commandInput);
  if (buffered > 0) return buffered;
  if (inputWaitingHook != nullptr) return inputWaitingHook();
  const int fd = fileno(commandInput);
  if (fd < 0) return 1;
  pollfd request{fd, POLLIN, 0};
  if (poll(&request, 1, 0) <= 0 || request.revents == 0) return 0;
  int available = 0;
  if (ioctl(fd, FIONREAD, &available) == 0 && available > 0) return available;
  return 1;
}

bool wholeLineWaiting() {
  if (!inputEnded) readWaitingBytes();
  return heldLineReady();
}

bool takeInputLine(FILE* input, char* buffer) {
  if (input == commandInput && heldLength > 0) {
    while (!heldLineReady()) {
      const int c = std::getc(input);
      if (c == EOF) {
        endInput();
        break;
      }
      holdByte(char(c));
    }
    if (takeHeldLine(buffer)) return true;
  }
  return readLineInto(input, buffer);
}

void discardHeldInput() {
  heldLength = heldLineStart = 0;
  heldCut = false;
}

void waitForInput() {
  if (inputWaitingHook != nullptr || heldLineReady() || inputWaiting() > 0) return;
  pollfd request{fileno(commandInput), POLLIN, 0};
  while (poll(&request, 1, -1) < 0) {
  }
}

void ponderHit() {
  if (engineState != STATE_PONDERING) return;
  allocateTime();
  engineState = STATE_THINKING;
  searchOutcome.ponderHit = true;
}

// Called by the search every POLL_INTERVAL nodes. Takes one whole line when one has come and
// does with it what the table says. Once the store of kept lines is full nothing more is read
// (a search that only input can end is ended then). The end of input ends only a search that
// could not end by itself; a timed or depth-limited one finishes, and the loop meets the end.
void pollInput() {
  if (stopSearch) return;
  pollLine();
  if (stopSearch) searchOutcome.endedByInput = true;
}

// The search, and for a search that only input can end (pondering, analysis, UCI "go
// infinite" or "go ponder") that ran out of depth first, the wait for the line that ends it:
// meanwhile every line is handled by the search's poll as during the search. A UCI search of
// that kind that reached a node count or a mate goes on waiting too: only stop, ponderhit or quit
// end it. Without a poll (tests, bench) nothing waits. A search started after the end of input
// that only input could end stops at its first poll. Without searchPosition only the wait runs
// (UCI: no position).
SearchOutcome runSearch(int state, bool searchPosition) {
  engineState = state;
  searchOutcome = SearchOutcome{};
  if (searchPosition) think();
  else searchStart = nowMs();
  if (!searchPosition || (uciMode && searchEndless() && !searchOutcome.endedByInput)) stopSearch = 0;
  while (pollHook != nullptr && !stopSearch && !(inputEnded && !heldLineReady()) && searchEndless()) {
    waitForInput();
    pollHook();
  }
  return searchOutcome;
}

namespace {

void pollLine() {
  if (queueFull()) {
    if (searchEndless()) dropSearch();
    return;
  }
  static char line[LINE_SIZE];
  if (!takeWaitingLine(line)) {
    if (inputEnded && searchEndless()) stopSearch = 1;
    return;
  }
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  if (firstWordOf(line, typed, lower) == 0) return;  // an empty line asks for nothing
  switch (ACTIONS[queuedLines() > 0][rowOf(lower)][activity()]) {
    case RUN:
      runLine(line, typed, lower);
      return;
    case KEEP:
      queueLine(line);
      return;
    case STOP:
      queueLine(line);
      stopSearch = 1;
      break;
    case DROP:
      queueLine(line);
      dropSearch();
      break;
  }
  keepWaitingLines();
}

}  // namespace
