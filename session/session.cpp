// The session state shared by the front ends, the search and the board procedures, the
// start-up values of the user settings, and the store of lines read during a search.
#include "session/session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

int engineState = STATE_INITIALISING;
int consoleMode = 1;
int xboardMode = 0;
int uciMode = 0;
int icsMode = 0;
int engineSide = NO_SIDE;
int gameOver = 0;
SearchLimits limits;
constinit thread_local volatile int stopSearch = 0;
Move ponderMove = 0;
char ponderText[8] = "none";
int engineClock = 0;
int opponentClock = 0;
int engineIncrement = 0;
int opponentIncrement = 0;
int movesPerControl = 0;
int searchStart = 0;
int opponentTurnStart = 0;
int ponderElapsed = 0;
int analysing = 0;
int controlTime = 0;
int engineControlMoves = 0;
int opponentControlMoves = 0;
int inputEnded = 0;
Settings settings;

void printNotice(const char* format, ...) {
  if (uciMode) std::fputs("info string ", stdout);
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
}

void startControl(int moves, int baseMs, int incrementMs) {
  movesPerControl = moves;
  engineClock = opponentClock = controlTime = baseMs;
  engineIncrement = incrementMs;
  engineControlMoves = opponentControlMoves = 0;
  limits.moveTime = 0;
}

void newGameClocks() {
  limits = SearchLimits{};
  startControl(NEW_GAME_MOVES, NEW_GAME_CLOCK, 0);
  gameOver = 0;
}

namespace {

std::deque<std::string> queued;  // oldest first
size_t queuedBytes = 0;

}  // namespace

bool queueFull() { return queued.size() >= size_t(MAX_QUEUED_LINES) || queuedBytes >= MAX_QUEUED_BYTES; }

// A line is taken while the line count allows, so that a reader that found the store not full
// never loses the line it then reads; the byte count may pass its bound by that one line.
bool queueLine(const char* line) {
  const size_t length = std::strlen(line);
  if (queued.size() >= size_t(MAX_QUEUED_LINES)) return false;
  queued.emplace_back(line, length);
  queuedBytes += length;
  return true;
}

int queuedLines() { return int(queued.size()); }

// The oldest line, cut to size - 1 bytes (the readers' buffers hold any line that was read).
bool takeQueuedLine(char* buffer, size_t size) {
  if (queued.empty() || size == 0) return false;
  const std::string& line = queued.front();
  const size_t length = line.size() < size - 1 ? line.size() : size - 1;
  std::memcpy(buffer, line.data(), length);
  buffer[length] = '\0';
  queuedBytes -= line.size();
  queued.pop_front();
  return true;
}

void clearQueuedLines() {
  queued.clear();
  queuedBytes = 0;
}
