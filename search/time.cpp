// Time management: the budget of a move, the periodic check inside the search, and the tests
// that end iterative deepening between iterations.
#include <algorithm>
#include <cstdint>

#include "search/search.h"

int targetTime = 0;
int maxTime = 0;
int lastInfoTime = 0;

namespace {

constexpr int DEFAULT_MOVES_TO_GO = 30;
constexpr double CLOCK_SHARE = 0.95;   // of the clock that may be spent at all
constexpr int CLOCK_RESERVE = 1000;    // ms always kept back
constexpr double PONDER_FACTOR = 1.3;  // pondering earns time on the opponent's clock
constexpr double MAX_SHARE = 0.5;      // of the available time one move may take at most
constexpr int64_t MAX_MOVES_TO_GO = 1000;  // moves a control is taken to last at most

}  // namespace

// Sets targetTime and maxTime from the clocks (Thinking or a ponder hit). A fixed move time is
// the target as it stands; otherwise the safe part of the clock plus the increments still to
// come is spread over the moves left in the control (30 when the game has no control). Any
// clock, increment or move count a GUI or a user can send gives a budget within the clock:
// the sums are taken in 64 bits, a negative increment counts as none, a control of fewer than
// one move as no control, and a control lasts at most MAX_MOVES_TO_GO moves. The move overhead
// is taken off the clock first: the time the GUI and the connection lose on every move.
void allocateTime() {
  if (limits.moveTime != 0) {
    targetTime = std::max(limits.moveTime, 1);
    return;
  }
  int64_t movesToGo = DEFAULT_MOVES_TO_GO;
  if (movesPerControl > 0) {
    if (uciMode) movesToGo = movesPerControl;
    else movesToGo = movesPerControl - int64_t((gamePly - ply) / 2) % movesPerControl;
    movesToGo = std::clamp<int64_t>(movesToGo, 1, MAX_MOVES_TO_GO);
  }
  const int64_t clock = int64_t(engineClock) - settings.moveOverhead;
  const int64_t safe = std::max<int64_t>(int64_t(double(clock) * CLOCK_SHARE - CLOCK_RESERVE), 0);
  const double available = double(movesToGo - 1) * std::max(engineIncrement, 0) + double(safe);
  int64_t target = int64_t(available / double(movesToGo));
  if (settings.ponder) target = int64_t(double(target) * PONDER_FACTOR);
  target = std::min(target, safe);
  targetTime = int(target);
  const int64_t hardLimit = std::max(int64_t(available * MAX_SHARE), target);
  maxTime = int(std::min(hardLimit, safe));
}

// Runs every POLL_INTERVAL nodes. In UCI mode prints the progress line at most once a second
// after the first second. Past the target it stops the search when the move time is fixed, the
// hard limit is reached, or the iteration has not finished a root move and no score drop is
// pending; a pondering or infinite search never stops on time.
void checkTime() {
  const int elapsed = msSince(searchStart);
  if (uciMode) {
    if (elapsed < 1000) {
      lastInfoTime = 0;
    } else if (elapsed - lastInfoTime >= 1000) {
      printProgress(elapsed);
      lastInfoTime = elapsed;
    }
  }
  if (engineState == STATE_PONDERING || limits.untimed || elapsed < targetTime) return;
  if (limits.moveTime != 0 || elapsed >= maxTime || (!scoreDropped && !prevScoreDropped && rootMovesDone == 0))
    stopSearch = 1;
}

// The tests after a completed iteration of a timed game search, elapsed ms after its end and
// dropped its score-drop flag. Returns 1 when no further iteration may start: time is up, an
// easy move has had its quarter of the target, most of the target is gone with a stable score
// and no re-search, or the score is a mate for the engine within the depth just searched.
int endOfIteration(int elapsed, int score, int dropped) {
  if (elapsed >= targetTime && !dropped) stopSearch = 1;
  if (elapsed >= 0.25 * targetTime && easyMove) stopSearch = 1;
  if (elapsed >= 0.6 * targetTime && !dropped && !rootResearch) stopSearch = 1;
  if (stopSearch) return 1;
  return unsigned(MATE - score) < iterDepth ? 1 : 0;
}
