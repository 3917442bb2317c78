// The game as the console and xboard play it: the engine's turn with its clock and move
// output, thinking on the opponent's time, the moves the user types, and the sequence that
// follows every accepted move.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

namespace {

constexpr char BEL = 7;

// The legal moves of the position the engine ponders on, kept before the predicted move is
// played: a move typed during the ponder search is checked against them.
Move ponderReplies[MAX_MOVES];
int ponderReplyCount = 0;

int clampClock(long long value) { return int(std::clamp(value, (long long)-INT_MAX, (long long)INT_MAX)); }

// The engine's move in the console: the prompt and the move in inverse colours, the beeps, and
// the time lines in the form given by format.
void showEngineMove(const char* san, int used, const char* (*format)(int), const char* indent) {
  inverseColour();
  printPrompt();
  std::printf("%s\n", san);
  resetColour();
  if (settings.beep) std::printf("%c%c", BEL, BEL);
  std::printf("%stime used: %s\n", indent, format(used));
  std::printf("%stime remaining: %s\n", indent, format(engineClock));
  opponentTurnStart = nowMs();
}

// The opponent's clock in the console after the opponent moved.
void chargeOpponent(const char* (*format)(int)) {
  int used = msSince(opponentTurnStart);
  chargeMove(false, used);
  std::printf("   time used: %s\n", format(used));
  std::printf("   time remaining: %s\n", format(opponentClock));
}

// The search's best move when it is a legal move of the current position, else 0.
Move bestLegalMove() {
  Move best = pvTable[0][0];
  return best == 0 ? 0 : matchMove(best);
}

// Takes back the predicted move when one was played for pondering and rebuilds the root.
void takeBackPonderMove(bool played) {
  if (played) unmakeGameMove();
  prepareRoot();
}

// Plays the engine's move found by a search that went on after a ponder hit; with no move to
// play (or the move dropped by a change of the game) the opponent's move stands alone.
int playAfterPonderHit(bool dropped) {
  const Move best = dropped || engineSide == NO_SIDE ? 0 : bestLegalMove();
  if (best == 0 || historyFull()) {
    prepareRoot();
    checkGameEnd();
    return 1;
  }
  char san[16];
  std::snprintf(san, sizeof san, "%s", moveToSAN(best));
  if (xboardMode) {
    std::printf("move %s\n", san);
  } else {
    int used = msSince(searchStart) - ponderElapsed;
    chargeMove(true, used);
    showEngineMove(san, used, formatClock, "   ");
  }
  playGameMove(best);
  return 1;
}

}  // namespace

// The clock of the side that just moved: the increment added and the time used taken off; at
// the console, the control's time again once the side has made the control's moves (the GUIs
// keep their own clocks and send them).
void chargeMove(bool engine, int used) {
  int& clock = engine ? engineClock : opponentClock;
  int& moves = engine ? engineControlMoves : opponentControlMoves;
  clock = clampClock((long long)clock + engineIncrement - used);
  if (consoleMode && movesPerControl > 0 && ++moves >= movesPerControl) {
    moves = 0;
    clock = clampClock((long long)clock + controlTime);
  }
}

void keepPonderReplies() {
  genPlyMoves();
  ponderReplyCount = 0;
  const PlyRecord& root = plyStack[ply];
  for (int i = 0; i < root.moveCount; i++)
    if (legal(root.moves[i])) ponderReplies[ponderReplyCount++] = root.moves[i];
}

Move matchPonderReply(Move partial) {
  for (int i = 0; i < ponderReplyCount; i++) {
    const Move m = ponderReplies[i];
    if (moveMatches(m, partial)) return m;
  }
  return 0;
}

// Makes m on the game record and prepares the root of the next turn: ply 0, fresh piece
// lists, checkers and replies at ply 0; the board is shown when the console user wants it;
// the game-end test may print a result and set gameOver.
void playGameMove(Move m) {
  makeMove(m);
  prepareRoot();
  if (settings.showBoard && consoleMode) printBoard();
  checkGameEnd();
}

// Plays the book's move, or searches for the engine's move, and plays it: in the console with the prompt, the move in SAN,
// the beeps and the clock; for xboard as "move <SAN>". A search that was told "force", a
// resignation, or a search without a playable move leaves the game to the user
// (engineSide NO_SIDE), so the main loop never asks again for a move that cannot come.
void engineTurn() {
  Move best = 0;
  if (!historyFull()) {
    searchStart = nowMs();
    best = probeBook();
  }
  if (best == 0) {
    const SearchOutcome outcome = runSearch(STATE_THINKING);
    engineState = STATE_WAITING;
    if (outcome.dropped || engineSide == NO_SIDE) return;
    best = bestLegalMove();
  }
  if (best == 0 || historyFull()) {
    engineSide = NO_SIDE;
    return;
  }
  char san[16];
  std::snprintf(san, sizeof san, "%s", moveToSAN(best));
  if (consoleMode) {
    int used = msSince(searchStart);
    chargeMove(true, used);
    showEngineMove(san, used, formatTime, "\t");
  } else {
    std::printf("move %s\n", san);
  }
  playGameMove(best);
}

// Thinks on the opponent's time about the move the transposition table predicts (or, with no
// prediction, about the position itself). Returns 1 when a move was played: the engine's own
// after the opponent played the predicted move (a ponder hit), or the opponent's other move
// typed meanwhile. Returns 0, with the position as it was, in every other case: among them a
// line other than a move, which ends pondering and is run by the main loop at once.
int ponderTurn() {
  if (inputPending()) return 0;
  std::strcpy(ponderText, "none");
  keepPonderReplies();
  ponderMove = probeTTMove();
  if (ponderMove != 0) ponderMove = matchMove(ponderMove);
  bool played = false;
  if (ponderMove != 0 && !historyFull()) {
    std::snprintf(ponderText, sizeof ponderText, "%s", moveToSAN(ponderMove));
    if (xboardMode) {
      std::printf("Hint: %s\n", ponderText);
    } else {
      printPrompt();
      std::printf("%s [pondering]\n", ponderText);
    }
    makeMove(ponderMove);
    played = true;
  } else {
    ponderMove = 0;
    if (!xboardMode) {
      printPrompt();
      std::fputs("- [pretending to be the opponent]\n", stdout);
    }
  }

  const SearchOutcome outcome = runSearch(STATE_PONDERING);
  int result = 0;
  if (outcome.ponderHit) {
    // The predicted move is the opponent's, and the search went on as the engine's.
    result = playAfterPonderHit(outcome.dropped);
  } else if (outcome.otherMove != 0) {
    // The opponent played another legal move: it replaces the predicted one.
    takeBackPonderMove(played);
    if (!historyFull()) {
      if (!xboardMode) chargeOpponent(formatClock);
      playGameMove(outcome.otherMove);
    } else {
      std::printf("Illegal move (game record full): %s\n", moveToCoord(outcome.otherMove));
    }
    result = 1;
  } else {
    takeBackPonderMove(played);
  }
  engineState = STATE_WAITING;
  return result;
}

// Thinks on the current position without moving and shows the lines until input ends it: the
// analysis of xboard's analyze mode and of the console's analyze command.
void analyseTurn() {
  limits.endless = 1;
  limits.untimed = 1;
  runSearch(STATE_ANALYSING);
  limits.endless = 0;
  limits.untimed = 0;
  engineState = STATE_WAITING;
  prepareRoot();
}

// word is the first word of the line as typed; its lower-case form is matched against the
// legal moves. Ignored while the engine is to move. Refused: any move after the end of the
// game, any move once the game record is full, and moves that are not legal. The opponent's
// clock is charged in the console.
void userMove(const char* word) {
  if (sideToMove == engineSide) return;
  if (gameOver) {
    if (xboardMode)
      std::printf("Illegal move: %s\n", word);
    else
      std::fputs("Game ended. To start a new game type new\n", stdout);
    return;
  }
  if (historyFull()) {
    std::printf("Illegal move (game record full): %s\n", word);
    return;
  }
  char lower[TOKEN_SIZE];
  int length = 0;
  for (; word[length] != '\0' && length < TOKEN_SIZE - 1; length++)
    lower[length] = char(std::tolower(static_cast<unsigned char>(word[length])));
  lower[length] = '\0';
  Move m = matchMove(parseCoord(lower));
  if (m == 0) {
    std::printf("Illegal move: %s\n", word);
    return;
  }
  if (consoleMode) chargeOpponent(formatTime);
  playGameMove(m);
}
