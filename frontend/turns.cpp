// The game as the console and xboard play it: the engine's turn with its clock and move
// output, thinking on the opponent's time, the moves the user types, and the sequence that
// follows every accepted move.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

namespace {

constexpr char BEL = 7;

// clock + increment - used, held inside the int range.
int chargeClock(int clock, int used) {
  long long value = (long long)clock + engineIncrement - used;
  return int(std::clamp(value, (long long)-INT_MAX, (long long)INT_MAX));
}

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
  opponentClock = chargeClock(opponentClock, used);
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

}  // namespace

// Makes m on the game record and prepares the root of the next turn: ply 0, fresh piece
// lists, checkers and replies at ply 0; the board is shown when the console user wants it;
// the game-end test may print a result and set gameOver.
void playGameMove(Move m) {
  makeMove(m);
  prepareRoot();
  if (settings.showBoard && consoleMode) printBoard();
  checkGameEnd();
}

// Searches for the engine's move and plays it: in the console with the prompt, the move in SAN,
// the beeps and the clock; for xboard as "move <SAN>". A search that was told "force", a
// resignation, or a search without a playable move leaves the game to the user
// (engineSide NO_SIDE), so the main loop never asks again for a move that cannot come.
void engineTurn() {
  engineState = STATE_THINKING;
  think();
  engineState = STATE_WAITING;
  if (engineSide == NO_SIDE) return;
  Move best = bestLegalMove();
  if (best == 0 || historyFull()) {
    engineSide = NO_SIDE;
    return;
  }
  char san[16];
  std::snprintf(san, sizeof san, "%s", moveToSAN(best));
  if (consoleMode) {
    int used = msSince(searchStart);
    engineClock = chargeClock(engineClock, used);
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
  pendingMove = 0;
  std::strcpy(ponderText, "none");
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

  engineState = STATE_PONDERING;
  think();

  // Told "force", or pondering switched off: nothing is played.
  if (engineSide == NO_SIDE || (!settings.ponder && engineState == STATE_PONDERING)) {
    takeBackPonderMove(played);
    engineState = STATE_WAITING;
    return 0;
  }

  // Ponder hit: the search went on as the engine's own and its move is played now.
  if (engineState == STATE_THINKING) {
    Move best = bestLegalMove();
    if (best == 0 || historyFull()) {
      prepareRoot();
      checkGameEnd();
      engineState = STATE_WAITING;
      return 1;
    }
    char san[16];
    std::snprintf(san, sizeof san, "%s", moveToSAN(best));
    if (xboardMode) {
      std::printf("move %s\n", san);
    } else {
      int used = msSince(searchStart) - ponderElapsed;
      engineClock = chargeClock(engineClock, used);
      showEngineMove(san, used, formatClock, "   ");
    }
    playGameMove(best);
    engineState = STATE_WAITING;
    return 1;
  }

  // The opponent played another move: it replaces the predicted one.
  if (pendingMove != 0) {
    takeBackPonderMove(played);
    Move m = matchMove(pendingMove);
    if (m != 0 && !historyFull()) {
      if (!xboardMode) chargeOpponent(formatClock);
      playGameMove(m);
    } else {
      std::printf("Illegal move: %s\n", moveToCoord(pendingMove));
    }
    pendingMove = 0;
    engineState = STATE_WAITING;
    return 1;
  }

  takeBackPonderMove(played);
  engineState = STATE_WAITING;
  return 0;
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
