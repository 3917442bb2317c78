// The xboard (winboard) protocol: the commands a graphical interface sends between moves.
//
// The main loop reads the lines and plays the interface's coordinate moves itself; every other
// word comes here, compared exactly. A command with fewer words than it needs is accepted and
// does nothing. While the engine searches, the input poll reads the lines and the table's
// timing says whether a command acts at once, waits for the search, or ends it first.
#include <algorithm>
#include <climits>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frontend/frontend.h"
#include "search/search.h"

namespace {

struct XboardCommand {
  const char* name;
  int minWords;     // words the line needs, command included; fewer do nothing
  void (*handler)();
  SearchTiming timing;  // what the command does when it arrives during a search
  bool searchOnly = false;  // a command only while the engine searches; unknown otherwise
};

int clampToInt(double value) {
  if (!(value > -INT_MAX)) return -INT_MAX;  // also NaN
  if (value > INT_MAX) return INT_MAX;
  return int(value);
}

void xboardNothing() {}

// Protocol 2 and later: the path settings as options (a file or a folder the GUI lets the user
// choose, sent back by "option"), then the features, done last.
void xboardProtover() {
  if (parseNumber(tokens[1]) < 2) return;
  for (int i = 0; i < COMMAND_ROW_COUNT; i++) {
    const CommandRow& row = COMMAND_ROWS[i];
    if (row.kind == ROW_PATH && row.uciName != nullptr)
      std::printf("feature option=\"%s %s %s\"\n", row.uciName, row.path == &Settings::bookPath ? "-file" : "-path",
                  (settings.*row.path).c_str());
  }
  std::printf(
        "feature setboard=1 draw=0 sigint=0 sigterm=0 analyze=1 ping=1 smp=1 myname=\"%s\" "
        "variants=\"normal,fischerandom\" colors=0 ics=1 done=1\n",
        ENGINE_NAME);
}

void xboardNew() {
  settings.chess960 = 0;
  setBoard(START_FEN);
  newGameClocks();
  if (icsMode) std::printf("tellall Hello from %s!\n", ENGINE_NAME);
}

// variant <name>: fischerandom (Chess960) or normal; xboard sends it after "new" and before
// the position. Other variants are refused, the game staying normal chess.
void xboardVariant() {
  if (std::strcmp(tokens[1], "fischerandom") == 0)
    settings.chess960 = 1;
  else if (std::strcmp(tokens[1], "normal") == 0)
    settings.chess960 = 0;
  else
    std::printf("Error (unsupported variant): %s\n", tokens[1]);
}

void xboardQuit() { quitEngine(); }

void xboardForce() { engineSide = NO_SIDE; }

void xboardGo() { engineSide = sideToMove; }

// Gives the move to colour, which the engine then does not play. The position key and the
// replies follow the new side to move; a side that could now take the enemy king makes the
// position illegal, and it is then never searched. A refused position stays refused, its key
// following the side all the same. The game record starts again from the position: its moves
// were made with the other side to move, and taking one back now would corrupt the board.
void setSideToMove(int colour) {
  engineSide = colour ^ 1;
  if (sideToMove == colour) return;
  changeSideToMove(colour);
  clearGameState();
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
  char* rest = nullptr;
  double base = std::strtol(tokens[2], &rest, 10) * 60000.0;
  if (*rest == ':') base += std::strtol(rest + 1, nullptr, 10) * 1000.0;
  startControl(parseNumber(tokens[1]), clampToInt(base), clampToInt(std::round(std::strtod(tokens[3], nullptr) * 1000.0)));
}

void xboardSt() { limits.moveTime = clampToInt(parseNumber(tokens[1]) * 1000.0); }

// A depth below 1 is no depth limit.
void xboardSd() {
  const int depth = parseNumber(tokens[1]);
  limits.maxDepth = depth < 1 ? NO_DEPTH_LIMIT : depth;
}

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

// The table's move for the position, which also becomes the move to ponder on. During a search
// the board is deep in the tree: pondering answers with the predicted move, analysis with the
// best move so far (in coordinates, which xboard reads as well), thinking not at all.
void xboardHint() {
  if (engineState == STATE_PONDERING) {
    std::printf("Hint: %s\n", ponderText);
    return;
  }
  if (engineState == STATE_ANALYSING) {
    if (pvTable[0][0] != 0) std::printf("Hint: %s\n", moveToCoord(pvTable[0][0]));
    return;
  }
  if (engineState != STATE_WAITING) return;
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

// Pondering off ends a ponder search at once; the engine's own search goes on.
void xboardEasy() {
  settings.ponder = 0;
  if (engineState == STATE_PONDERING) {
    stopSearch = 1;
    searchOutcome.dropped = true;
  }
}

// Move now: the engine's own search stops and its best move so far is played. Pondering and
// analysis have no move to play and go on.
void xboardMoveNow() {
  if (engineState == STATE_THINKING) stopSearch = 1;
}

// Answered once every earlier line has acted (the poll keeps it behind waiting lines, and
// behind the engine's move while it thinks on it).
void xboardPing() { std::printf("pong %s\n", tokens[1]); }

// The game is over for the GUI: the engine stops playing it.
void xboardResult() { engineSide = NO_SIDE; }

// Analysis: force mode in which the engine thinks on every position it is given (the main
// loop starts the search whenever no input waits) and never moves.
void xboardAnalyze() {
  analysing = 1;
  engineSide = NO_SIDE;
}

void xboardExit() { analysing = 0; }

// The analysis status line "stat01: time nodes ply movesLeft movesTotal", time in centiseconds.
// A request that arrives in analysis mode before the search has started (xboard sends "." in
// the same burst as "analyze" or a move) is answered too, for a search not yet begun: nothing
// spent, every legal move still to search.
void xboardStatus() {
  if (engineState != STATE_ANALYSING) {
    if (!analysing || engineState != STATE_WAITING) return;
    const PlyRecord& root = plyStack[0];
    int total = 0;
    for (int i = 0; i < root.moveCount; i++) total += root.checkCount != 0 || legal(root.moves[i]);
    std::printf("stat01: 0 0 0 %d %d\n", total, total);
    return;
  }
  const int total = plyStack[0].moveCount;
  std::printf("stat01: %d %llu %u %d %d\n", msSince(searchStart) / 10, (unsigned long long)totalSearchNodes(), iterDepth,
              total > rootMovesDone ? total - rootMovesDone : 0, total);
}

void xboardPost() { settings.post = 1; }

void xboardNopost() { settings.post = 0; }

// Edit mode: the board as edited, 'c' switching the colour of the units placed.
char editSquares[64];   // a8..h8, a7..h7, ..., a1..h1: FEN letters, '.' for empty
int editColour = WHITE;

void xboardEditStart() {
  char fen[FEN_BUFFER];
  getFEN(fen);
  std::memset(editSquares, '.', sizeof editSquares);
  int square = 0;
  for (const char* p = fen; *p != '\0' && *p != ' ' && square < 64; p++) {
    if (*p == '/') continue;
    if (*p >= '1' && *p <= '8') square += *p - '0';
    else editSquares[square++] = *p;
  }
  editColour = WHITE;
  editingPosition = 1;
}

// Leaves edit mode with the edited position: the side to move kept, castling where king and
// rook stand on their first squares, no en-passant capture, the move counters reset.
void xboardEditDone() {
  editingPosition = 0;
  char fen[FEN_BUFFER];
  int length = 0;
  for (int rank = 0; rank < 8; rank++) {
    int empty = 0;
    for (int file = 0; file < 8; file++) {
      const char piece = editSquares[rank * 8 + file];
      if (piece == '.') {
        empty++;
        continue;
      }
      if (empty > 0) fen[length++] = char('0' + empty);
      empty = 0;
      fen[length++] = piece;
    }
    if (empty > 0) fen[length++] = char('0' + empty);
    fen[length++] = rank < 7 ? '/' : ' ';
  }
  auto at = [](const char* square) { return editSquares[(8 - (square[1] - '0')) * 8 + (square[0] - 'a')]; };
  char rights[5];
  int r = 0;
  if (at("e1") == 'K' && at("h1") == 'R') rights[r++] = 'K';
  if (at("e1") == 'K' && at("a1") == 'R') rights[r++] = 'Q';
  if (at("e8") == 'k' && at("h8") == 'r') rights[r++] = 'k';
  if (at("e8") == 'k' && at("a8") == 'r') rights[r++] = 'q';
  if (r == 0) rights[r++] = '-';
  rights[r] = '\0';
  std::snprintf(fen + length, sizeof fen - size_t(length), "%c %s - 0 1", sideToMove == WHITE ? 'w' : 'b', rights);
  const bool forceMode = engineSide == NO_SIDE;
  if (setBoard(fen) != 0) {
    std::fputs("Errors found in the FEN. Setting the start position\n", stdout);
    setBoard(START_FEN);
  }
  if (forceMode) engineSide = NO_SIDE;
}

// The book's moves in the current position, a line each beginning with a tab, and an empty line.
// The book moves of the position that can be played (weight above 0), each with its chance of
// being chosen, rounded as the book move's announcement rounds it.
void xboardBook() {
  BookEntry entries[MAX_BOOK_ENTRIES];
  const int count = bookEntryCount() > 0 && !positionRejected ? findBookEntries(entries) : 0;
  int total = 0;
  for (int i = 0; i < count; i++) total += entries[i].weight;
  if (total == 0) std::fputs("\tno book move\n", stdout);
  for (int i = 0; i < count; i++)
    if (entries[i].weight > 0)
      std::printf("\t%s %d%%\n", moveToSAN(entries[i].move), (entries[i].weight * 100 + total / 2) / total);
  std::fputs("\n", stdout);
}

// "option NAME=VALUE": one of the options announced by protover, set as UCI's setoption sets it
// (the value is the rest of the line, spaces included); naming a book plays from it, as the
// console's "book" does, and an empty name plays without. Unknown names are reported.
void xboardOption() {
  const char* text = lineBuffer;
  while (*text == ' ') text++;
  text += std::strlen("option");
  while (*text == ' ') text++;
  const std::string line(text, std::strcspn(text, "\r\n"));
  const size_t equals = line.find('=');
  const std::string name = line.substr(0, equals);
  for (int i = 0; i < COMMAND_ROW_COUNT; i++) {
    const CommandRow& row = COMMAND_ROWS[i];
    if (row.kind != ROW_PATH || row.uciName == nullptr || name != row.uciName || equals == std::string::npos)
      continue;
    if (row.path == &Settings::bookPath) {
      settings.bookPath = line.substr(equals + 1);
      settings.ownBook = !settings.bookPath.empty();
      reopenBook();
    } else {
      applyUciOption(row, line.c_str() + equals + 1);
    }
    return;
  }
  std::printf("Error (unknown option): %s\n", name.c_str());
}

// "cores N": the threads setting, as the console sets it; a change during a search applies to
// the next.
void xboardCores() { setSettingNumber(&Settings::threads, parseNumber(tokens[1])); }

void xboardIcs() {
  if (std::strcmp(tokens[1], "-") != 0) icsMode = 1;
}

// The xboard commands in matching order. During a search: what only informs the engine, the
// clocks, the switches and "?" act at once; what changes the game, the position, the side or
// the time control ends the search first; "hint" is answered at once. The status request "."
// acts at once only while no line waits: behind a waiting "edit" it is the edit's end.
constexpr XboardCommand XBOARD_COMMANDS[] = {
    {"xboard", 1, xboardNothing, ACTS},       {"protover", 2, xboardProtover, ACTS},
    {"accepted", 1, xboardNothing, ACTS},     {"rejected", 1, xboardNothing, ACTS},
    {"new", 1, xboardNew, ENDS},              {"quit", 1, xboardQuit, QUITS},
    {"force", 1, xboardForce, ENDS},          {"go", 1, xboardGo, ENDS},
    {"white", 1, xboardWhite, ENDS},          {"black", 1, xboardBlack, ENDS},
    {"level", 4, xboardLevel, ENDS},          {"st", 2, xboardSt, ENDS},
    {"sd", 2, xboardSd, ENDS},                {"time", 2, xboardTime, ACTS},
    {"otim", 2, xboardOtim, ACTS},            {"setboard", 2, xboardSetboard, ENDS},
    {"hint", 1, xboardHint, IMMEDIATE},       {"undo", 1, xboardUndo, ENDS},
    {"remove", 1, xboardRemove, ENDS},        {"hard", 1, xboardHard, ACTS},
    {"easy", 1, xboardEasy, ACTS},            {"post", 1, xboardPost, ACTS},
    {"nopost", 1, xboardNopost, ACTS},        {"ics", 2, xboardIcs, ACTS},
    {"computer", 1, xboardNothing, ACTS},     {"?", 1, xboardMoveNow, ACTS, true},
    {"ping", 2, xboardPing, ACTS_OFF_MOVE},   {"result", 1, xboardResult, ENDS},
    {"edit", 1, xboardEditStart, ENDS},       {"analyze", 1, xboardAnalyze, ENDS},
    {"exit", 1, xboardExit, ENDS},            {".", 1, xboardStatus, ACTS},
    {"bk", 1, xboardBook, WAITS},             {"option", 2, xboardOption, WAITS},
    {"variant", 2, xboardVariant, ENDS},
    {"cores", 2, xboardCores, ACTS},
};

const XboardCommand* findXboardCommand(const char* word) {
  for (const XboardCommand& command : XBOARD_COMMANDS)
    if (std::strcmp(command.name, word) == 0) return &command;
  return nullptr;
}

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
  const XboardCommand* command = findXboardCommand(word);
  if (command == nullptr || (command->searchOnly && engineState == STATE_WAITING)) return 0;
  if (tokenCount >= command->minWords) command->handler();
  return 1;
}

SearchTiming xboardTiming(const char* word) {
  const XboardCommand* command = findXboardCommand(word);
  return command != nullptr ? command->timing : ACTS;
}

int editingPosition = 0;

// One line of edit mode, word as typed: "c" switches the colour, "#" empties the board, a
// piece letter and a square (Pa4) puts a unit of the current colour there, "x" and a square
// empties it, "." ends edit mode with the position. Anything else is not an edit command.
void xboardEdit(const char* word) {
  auto isSquare = [](const char* s) { return s[0] >= 'a' && s[0] <= 'h' && s[1] >= '1' && s[1] <= '8' && s[2] == '\0'; };
  const char letter = char(std::toupper(static_cast<unsigned char>(word[0])));
  if (std::strcmp(word, "c") == 0 || std::strcmp(word, "C") == 0) {
    editColour ^= 1;
  } else if (std::strcmp(word, "#") == 0) {
    std::memset(editSquares, '.', sizeof editSquares);
  } else if (std::strcmp(word, ".") == 0) {
    xboardEditDone();
  } else if (word[0] != '\0' && std::strchr("PNBRQKX", letter) != nullptr && isSquare(word + 1)) {
    const int square = (8 - (word[2] - '0')) * 8 + (word[1] - 'a');
    editSquares[square] = letter == 'X' ? '.' : editColour == WHITE ? letter : char(std::tolower(letter));
  } else {
    std::printf("Error (unknown command): %s\n", word);
  }
}
