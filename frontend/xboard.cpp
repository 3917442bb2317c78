// The xboard (winboard) protocol: the commands a graphical interface sends between moves.
//
// The main loop reads the lines and plays the interface's coordinate moves itself; every other
// word comes here, compared exactly. A command with fewer words than it needs is accepted and
// does nothing. While the engine searches, the input poll takes the lines instead.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/frontend.h"
#include "search/search.h"

namespace {

struct XboardCommand {
  const char* name;
  int minWords;     // words the line needs, command included; fewer do nothing
  void (*handler)();
};

int clampToInt(double value) {
  if (!(value > -INT_MAX)) return -INT_MAX;  // also NaN
  if (value > INT_MAX) return INT_MAX;
  return int(value);
}

void xboardNothing() {}

void xboardProtover() {
  if (parseNumber(tokens[1]) >= 2)
    std::printf(
        "feature setboard=1 draw=0 sigint=0 sigterm=0 analyze=0 myname=\"%s\" "
        "variants=\"normal\" colors=0 ics=1 done=1\n",
        ENGINE_NAME);
}

void xboardNew() {
  setBoard(START_FEN);
  movesPerControl = 60;
  engineIncrement = 0;
  engineClock = opponentClock = 1800000;
  maxDepth = 64;
  moveTime = 0;
  gameOver = 0;
  if (icsMode) std::printf("tellall Hello from %s!\n", ENGINE_NAME);
}

void xboardQuit() { quitEngine(); }

void xboardForce() { engineSide = NO_SIDE; }

void xboardGo() { engineSide = sideToMove; }

// Gives the move to colour, which the engine then does not play. The position key and the
// replies follow the new side to move; a side that could now take the enemy king makes the
// position illegal, and it is then never searched.
void setSideToMove(int colour) {
  engineSide = colour ^ 1;
  if (sideToMove == colour) return;
  changeSideToMove(colour);
  if (positionRejected) return;
  if (inCheck(otherSide)) {
    std::fputs("tellusererror Illegal position\n", stdout);
    positionRejected = true;
    gameOver = 1;
    plyStack[0].moveCount = 0;
    plyStack[0].moves[0] = 0;
    return;
  }
  prepareRoot();
}

void xboardWhite() { setSideToMove(WHITE); }

void xboardBlack() { setSideToMove(BLACK); }

// level <moves> <base> <increment>: the base in minutes or minutes:seconds ("0:10" is ten
// seconds), the increment in seconds with a fraction kept to the millisecond ("0.1").
void xboardLevel() {
  movesPerControl = parseNumber(tokens[1]);
  char* rest = nullptr;
  double base = std::strtol(tokens[2], &rest, 10) * 60000.0;
  if (*rest == ':') base += std::strtol(rest + 1, nullptr, 10) * 1000.0;
  engineClock = opponentClock = clampToInt(base);
  engineIncrement = clampToInt(std::round(std::strtod(tokens[3], nullptr) * 1000.0));
  moveTime = 0;
}

void xboardSt() { moveTime = clampToInt(parseNumber(tokens[1]) * 1000.0); }

void xboardSd() { maxDepth = parseNumber(tokens[1]); }

void xboardTime() { engineClock = clampToInt(parseNumber(tokens[1]) * 10.0); }

void xboardOtim() { opponentClock = clampToInt(parseNumber(tokens[1]) * 10.0); }

// The FEN is the rest of the line after the space that ends the command word. In force mode
// the engine stays in force mode: GUIs set up positions to analyse or edit that way, and a
// move played on it must not make the engine answer.
void xboardSetboard() {
  const char* text = lineBuffer;
  while (*text == ' ') text++;
  text = std::strchr(text, ' ');
  if (text == nullptr) return;
  const bool forceMode = engineSide == NO_SIDE;
  if (setBoard(text + 1) != 0) {
    std::fputs("Errors found in the FEN. Setting the start position\n", stdout);
    setBoard(START_FEN);
  }
  if (forceMode) engineSide = NO_SIDE;
}

// The table's move for the position, which also becomes the move to ponder on.
void xboardHint() {
  ponderMove = positionRejected ? 0 : probeTTMove();
  if (ponderMove != 0) ponderMove = matchMove(ponderMove);
  if (ponderMove != 0)
    std::snprintf(ponderText, sizeof ponderText, "%s", moveToSAN(ponderMove));
  else
    std::strcpy(ponderText, "none");
  std::printf("Hint: %s\n", ponderText);
}

// Taking moves back reopens a game that had ended.
void takeBack(int moves) {
  if (gamePly < moves) return;
  for (int i = 0; i < moves; i++) unmakeGameMove();
  prepareRoot();
  gameOver = 0;
}

void xboardUndo() { takeBack(1); }

void xboardRemove() { takeBack(2); }

void xboardHard() { settings.ponder = 1; }

void xboardEasy() { settings.ponder = 0; }

void xboardPost() { settings.post = 1; }

void xboardNopost() { settings.post = 0; }

void xboardIcs() {
  if (std::strcmp(tokens[1], "-") != 0) icsMode = 1;
}

// The xboard commands in matching order.
constexpr XboardCommand XBOARD_COMMANDS[] = {
    {"xboard", 1, xboardNothing},   {"protover", 2, xboardProtover}, {"accepted", 1, xboardNothing},
    {"rejected", 1, xboardNothing}, {"new", 1, xboardNew},           {"quit", 1, xboardQuit},
    {"force", 1, xboardForce},      {"go", 1, xboardGo},             {"white", 1, xboardWhite},
    {"black", 1, xboardBlack},      {"level", 4, xboardLevel},       {"st", 2, xboardSt},
    {"sd", 2, xboardSd},            {"time", 2, xboardTime},         {"otim", 2, xboardOtim},
    {"setboard", 2, xboardSetboard}, {"hint", 1, xboardHint},        {"undo", 1, xboardUndo},
    {"remove", 1, xboardRemove},    {"hard", 1, xboardHard},         {"easy", 1, xboardEasy},
    {"post", 1, xboardPost},        {"nopost", 1, xboardNopost},     {"ics", 2, xboardIcs},
    {"computer", 1, xboardNothing},
};

}  // namespace

// After moves were made or taken back outside the game sequence: ply 0, fresh piece lists,
// the checkers and the replies at ply 0 (evasions when in check).
void prepareRoot() {
  ply = 0;
  initPieceLists();
  genPlyMoves();
}

// word is the first word of lineBuffer, lower-cased. Returns 1 when it is an xboard command,
// even one with too few words (which then does nothing).
int xboardCommand(const char* word) {
  for (const XboardCommand& command : XBOARD_COMMANDS) {
    if (std::strcmp(command.name, word) != 0) continue;
    if (tokenCount >= command.minWords) command.handler();
    return 1;
  }
  return 0;
}
