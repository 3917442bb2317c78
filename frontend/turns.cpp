// Moves played on the game record: the moves the user types, and the sequence that follows
// every accepted move.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "frontend/frontend.h"

// Makes m on the game record and prepares the root of the next turn: ply 0, fresh piece
// lists, checkers and replies at ply 0; the board is shown when the console user wants it;
// the game-end test may print a result and set gameOver.
void playGameMove(Move m) {
  makeMove(m);
  ply = 0;
  initPieceLists();
  genPlyMoves();
  if (settings.showBoard && consoleMode) printBoard();
  checkGameEnd();
}

// word is the first word of the line as typed; its lower-case form is matched against the
// legal moves. Refused: any move after the end of the game, any move once the game record is
// full, and moves that are not legal. The opponent's clock is charged in the console.
void userMove(const char* word) {
  if (gameOver) {
    if (xboardMode)
      std::printf("Illegal move: %s\n", word);
    else
      std::fputs("Game ended. To start a new game type new\n", stdout);
    return;
  }
  if (gamePly >= MAX_GAME_PLIES) {
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
  if (consoleMode) {
    // Stamps wrap, so their difference is taken in unsigned arithmetic.
    int used = int(uint32_t(nowMs()) - uint32_t(opponentTurnStart));
    long long clock = (long long)opponentClock + engineIncrement - used;
    opponentClock = int(std::clamp(clock, (long long)-INT_MAX, (long long)INT_MAX));
  }
  playGameMove(m);
}
