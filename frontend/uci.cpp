// The UCI protocol: identification and options, the command loop, position, go with the
// bestmove line, and setoption.
//
// Words are recognised by their first letters. Nothing happens on the engine's own initiative:
// a search runs only for "go", synchronously; while it runs, the input poll reads the lines and
// the table's timing says whether a command acts at once, waits for the search, or ends it
// first. Every "go" is answered by exactly one bestmove line, before the next command runs.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"

namespace {

constexpr const char* AUTHOR = "the Talvek developers";
constexpr const char* WEB_ADDRESS = "https://talvek.example.org";

// Why there is no position to search: the last "position" command was refused (its record
// could not be read or was not a legal position, or a move of its list was not legal). Null
// once a position has been accepted.
const char* positionRefused = nullptr;

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

const char* skipSpaces(const char* text) {
  while (*text == ' ') text++;
  return text;
}

// The text of lineBuffer after the space that ends its first word, without the line end; an
// empty text when the line has one word. Static buffer, overwritten by the next call.
const char* argumentText() {
  static char text[LINE_SIZE];
  const char* p = std::strchr(skipSpaces(lineBuffer), ' ');
  std::snprintf(text, sizeof text, "%s", p != nullptr ? p + 1 : "");
  text[std::strcspn(text, "\r\n")] = '\0';
  return text;
}

// The number after a keyword of "go" (one separating character) into value; false when the
// keyword is absent. A keyword at the very end of the line reads as 0.
bool keywordValue(const char* text, const char* keyword, int* value) {
  const char* p = std::strstr(text, keyword);
  if (p == nullptr) return false;
  p += std::strlen(keyword);
  *value = *p == '\0' ? 0 : parseNumber(p + 1);
  return true;
}

// Plays the coordinate moves of a "position" line. The first word that is not a legal move
// (a typing error, a move of the wrong side) is reported and ends the list; false then, and the
// position is refused: the engine never searches a position the GUI does not have.
bool applyMoves(const char* text) {
  char word[TOKEN_SIZE];
  while (*(text = skipSpaces(text)) != '\0') {
    size_t length = std::strcspn(text, " ");
    std::snprintf(word, sizeof word, "%.*s", int(length < sizeof word ? length : sizeof word - 1), text);
    text += length;
    if (historyFull()) {
      std::printf("Illegal move (game record full): %s\n", word);
      return false;
    }
    char lower[TOKEN_SIZE];
    size_t i = 0;
    for (; word[i] != '\0'; i++) lower[i] = char(std::tolower(static_cast<unsigned char>(word[i])));
    lower[i] = '\0';
    Move m = matchMove(parseCoord(lower));  // E2E4 and a7a8Q read like e2e4 and a7a8q
    if (m == 0) {
      std::printf("Illegal move: %s\n", word);
      return false;
    }
    makeMove(m);
    prepareRoot();
  }
  return true;
}

// "bestmove" with the principal variation's first move, and " ponder" with its second when
// the line has one. Both are checked against the position, so the line never names a move
// that cannot be played: with no legal move it reads "bestmove 0000".
void printBestMove() {
  Move best = pvTable[0][0] != 0 && !positionRejected ? matchMove(pvTable[0][0]) : 0;
  if (best == 0) {
    std::fputs("bestmove 0000\n", stdout);
    return;
  }
  char bestText[16];
  std::snprintf(bestText, sizeof bestText, "%s", moveToUci(best));
  Move reply = 0;
  if (pvTable[0][1] != 0 && !historyFull()) {
    makeMove(best);
    reply = matchMove(pvTable[0][1]);
    if (reply != 0) std::printf("bestmove %s ponder %s\n", bestText, moveToUci(reply));
    unmakeMove();
    prepareRoot();
  }
  if (reply == 0) std::printf("bestmove %s\n", bestText);
}

}  // namespace

namespace {

// The row of the option whose name (any case) is text up to its end or to " value"; null if none.
const CommandRow* findOption(const char* text, size_t length) {
  for (int i = 0; i < COMMAND_ROW_COUNT; i++) {
    const char* name = COMMAND_ROWS[i].uciName;
    if (name != nullptr && std::strlen(name) == length && strncasecmp(name, text, length) == 0) return &COMMAND_ROWS[i];
  }
  return nullptr;
}

// The option line of a row: its type, and for a setting its current value and range.
void printOption(const CommandRow& row) {
  std::printf("option name %s type ", row.uciName);
  const int value = row.value != nullptr ? settings.*row.value : 0;
  switch (row.kind) {
    case ROW_SWITCH:
      std::printf("check default %s\n", value ? "true" : "false");
      break;
    case ROW_NUMBER:
    case ROW_SIZE:
      std::printf("spin default %d min %d max %d\n", settingInRange(row, value), settingLow(row),
                  row.high);
      break;
    case ROW_PATH:
      std::printf("string default %s\n", (settings.*row.path).c_str());
      break;
    case ROW_CHOICE:
      std::fputs("combo default ", stdout);
      for (int i = 0; i < row.choiceCount; i++)
        if (row.choices[i].value == value) std::fputs(row.choices[i].word, stdout);
      for (int i = 0; i < row.choiceCount; i++) std::printf(" var %s", row.choices[i].word);
      std::fputs("\n", stdout);
      break;
    case ROW_BUTTON:
      std::fputs("button\n", stdout);
      break;
    default:
      std::printf("string default Talvek by %s, see %s\n", AUTHOR, WEB_ADDRESS);
  }
}

}  // namespace

// The id lines, the options in their places and "uciok".
void printUciIdentification() {
  std::printf("id name %s\n", ENGINE_NAME);
  std::printf("id author %s\n", AUTHOR);
  for (int place = 1;; place++) {
    const CommandRow* found = nullptr;
    for (int i = 0; i < COMMAND_ROW_COUNT; i++)
      if (COMMAND_ROWS[i].uciPlace == place) found = &COMMAND_ROWS[i];
    if (found == nullptr) break;
    printOption(*found);
  }
  std::fputs("uciok\n", stdout);
}

// Reads commands (first those kept while a search ran) from input until it ends, then frees
// the tables and ends the program.
void uciLoop(FILE* input) {
  commandInput = input;
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  while (nextLine(input)) {
    if (lineBuffer[0] == '\n' || firstWord(typed, lower) == 0) continue;
    dispatchCommand(lower);
  }
  quitEngine();
}

// position [startpos | fen <FEN>] [moves <m1> <m2> ...]. A record that cannot be read or is not
// a legal position, or a move of the list that is not legal, refuses the whole command: the
// engine then has no position to search until a position is accepted. Without startpos or fen
// the moves go on from the position there is; after a refusal there is none, and it stands.
void uciPosition(const char* text) {
  text = skipSpaces(text);
  if (startsWith(text, "startpos") || startsWith(text, "fen")) positionRefused = nullptr;
  if (startsWith(text, "startpos")) {
    setBoard(START_FEN);
    text += 8;
  } else if (startsWith(text, "fen")) {
    text = skipSpaces(text + 3);
    if (setBoard(text) != 0) positionRefused = "its FEN could not be read";
    else if (positionRejected) positionRefused = "its FEN is not a legal position";
    const char* moves = std::strstr(text, "moves");
    text = moves != nullptr ? moves : text + std::strlen(text);
  }
  newGameClocks();
  text = skipSpaces(text);
  if (positionRefused != nullptr || !startsWith(text, "moves")) return;
  if (!applyMoves(text + 5)) positionRefused = "a move of its list is not legal";
}

// The root moves listed after "searchmoves" (up to the next word that is no move) that are
// legal; a listed move that is not legal is reported and left out.
void readSearchMoves(const char* text) {
  const char* list = std::strstr(text, "searchmoves");
  if (list == nullptr) return;
  list += 11;
  char word[TOKEN_SIZE];
  while (*(list = skipSpaces(list)) != '\0' && limits.searchMoveCount < MAX_SEARCH_MOVES) {
    const size_t length = std::strcspn(list, " ");
    std::snprintf(word, sizeof word, "%.*s", int(length < sizeof word ? length : sizeof word - 1), list);
    for (char* p = word; *p != '\0'; p++) *p = char(std::tolower(static_cast<unsigned char>(*p)));
    if (!looksLikeMove(word)) break;
    list += length;
    const Move m = matchMove(parseCoord(word));
    if (m != 0) limits.searchMoves[limits.searchMoveCount++] = m;
    else std::printf("info string searchmoves: %s is not a legal move\n", word);
  }
}

// go [searchmoves <moves>] [ponder] [wtime n] [btime n] [winc n] [binc n] [movestogo n]
// [depth n] [nodes n] [mate n] [movetime n] [infinite]: searches the position and writes the
// bestmove line. A depth, node count or mate length without the engine's clock or a move time
// is searched to its end, untimed; a depth below 1 is no depth limit.
void uciGo(const char* text) {
  engineClock = opponentClock = engineIncrement = opponentIncrement = movesPerControl = 0;
  limits = SearchLimits{};
  int value = 0;
  if (std::strstr(text, "infinite") != nullptr) limits.untimed = 1;
  if (keywordValue(text, "wtime", &value)) (sideToMove == WHITE ? engineClock : opponentClock) = value;
  if (keywordValue(text, "btime", &value)) (sideToMove == BLACK ? engineClock : opponentClock) = value;
  if (keywordValue(text, "winc", &value)) (sideToMove == WHITE ? engineIncrement : opponentIncrement) = value;
  if (keywordValue(text, "binc", &value)) (sideToMove == BLACK ? engineIncrement : opponentIncrement) = value;
  if (keywordValue(text, "movestogo", &value)) movesPerControl = value;
  if (keywordValue(text, "depth", &value) && value >= 1) limits.maxDepth = value;
  if (keywordValue(text, "nodes", &value) && value >= 1) limits.nodes = uint64_t(value);
  if (keywordValue(text, "mate", &value) && value >= 1) {
    // A mate in n needs 2n - 1 plies; a few more let reductions and extensions settle.
    limits.mate = value;
    limits.maxDepth = std::min(limits.maxDepth, value < NO_DEPTH_LIMIT / 2 ? 2 * value + 3 : NO_DEPTH_LIMIT);
  }
  if (keywordValue(text, "movetime", &value)) limits.moveTime = value;
  readSearchMoves(text);
  const bool ponder = std::strstr(text, "ponder") != nullptr;
  const bool infinite = limits.untimed != 0;
  const bool clockGiven = std::strstr(text, sideToMove == WHITE ? "wtime" : "btime") != nullptr;
  const bool limited = std::strstr(text, "depth") != nullptr || limits.nodes != 0 || limits.mate != 0;
  if (limited && !clockGiven && limits.moveTime == 0) limits.untimed = 1;

  engineSide = sideToMove;
  limits.endless = infinite;
  // With no position to search, an infinite or ponder search still answers only when told.
  const int state = ponder ? STATE_PONDERING : STATE_THINKING;
  if (positionRefused != nullptr) {
    std::printf("info string no position to search: the last position command was refused (%s)\n",
                positionRefused);
    pvTable[0][0] = 0;
    if (ponder || infinite) runSearch(state, false);
  } else if (!ponder && !infinite && limits.searchMoveCount == 0 && (pvTable[0][0] = probeBook()) != 0) {
    pvTable[0][1] = 0;
    pvLength[0] = 1;
  } else if (!positionRejected) {
    runSearch(state);
  } else {
    pvTable[0][0] = 0;
    if (ponder || infinite) runSearch(state, false);
  }
  engineState = STATE_WAITING;
  limits.endless = 0;
  printBestMove();
}

// text follows "setoption name ": "<name> value <value>", or a button's name alone. The value is
// held to the option's range; a size, path or choice is applied only when it changes.
void uciSetOption(const char* text) {
  const std::string line(text, std::strcspn(text, "\r\n"));
  const char* option = line.c_str();
  const char* found = std::strstr(option, " value");
  const size_t nameLength = found != nullptr ? size_t(found - option) : line.size();
  const CommandRow* row = findOption(option, nameLength);
  if (row == nullptr || (found == nullptr) != (row->kind == ROW_BUTTON)) return;
  applyUciOption(*row, found != nullptr ? skipSpaces(found + 6) : "");
}

void applyUciOption(const CommandRow& row, const char* value) {
  switch (row.kind) {
    case ROW_SWITCH: {
      const int on = startsWith(value, "true") ? 1 : startsWith(value, "false") ? 0 : settings.*row.value;
      if (on == settings.*row.value) return;
      settings.*row.value = on;
      break;
    }
    case ROW_NUMBER:
    case ROW_SIZE: {
      const int number = settingInRange(row, parseNumber(value));
      if (number == settings.*row.value) return;
      settings.*row.value = number;
      break;
    }
    case ROW_PATH:
      if (settings.*row.path == value) return;
      settings.*row.path = value;
      break;
    case ROW_CHOICE: {
      const Choice* choice = std::find_if(row.choices, row.choices + row.choiceCount,
                                          [&](const Choice& c) { return strcasecmp(c.word, value) == 0; });
      if (choice == row.choices + row.choiceCount || choice->value == settings.*row.value) return;
      settings.*row.value = choice->value;
      break;
    }
    case ROW_BUTTON:
      break;
    default:
      return;
  }
  if (row.apply != nullptr) row.apply();
}

namespace {

void uciNewGame() {}

void uciIdentify() { printUciIdentification(); }

void uciReady() { std::fputs("readyok\n", stdout); }

void uciGoLine() { uciGo(argumentText()); }

void uciPositionLine() { uciPosition(argumentText()); }

void uciSetOptionLine() {
  const char* line = skipSpaces(lineBuffer);
  if (startsWith(line, "setoption name")) uciSetOption(line[14] != '\0' ? line + 15 : "");
}

void uciQuit() { quitEngine(); }

// "stop" and "ponderhit" mean something only during a search; between searches they are not
// commands and are ignored.
void uciStop() {
  if (engineState != STATE_WAITING) stopSearch = 1;
}

// The ponder search becomes the engine's own search, on its clock.
void uciPonderHit() { ponderHit(); }

struct UciCommand {
  const char* prefix;   // the word begins with it
  void (*handler)();
  SearchTiming timing;  // during a search: see the poll's table; stop and ponderhit pass
                        // any line that waits
  bool searchOnly;      // not a command between searches
};

// The UCI commands in matching order.
constexpr UciCommand UCI_COMMANDS[] = {
    {"ucinewgame", uciNewGame, ENDS, false},   {"uci", uciIdentify, ACTS, false},
    {"isready", uciReady, IMMEDIATE, false},   {"go", uciGoLine, WAITS, false},
    {"position", uciPositionLine, ENDS, false}, {"setoption", uciSetOptionLine, WAITS, false},
    {"quit", uciQuit, QUITS, false},       {"stop", uciStop, IMMEDIATE, true},
    {"ponderhit", uciPonderHit, IMMEDIATE, true},
};

const UciCommand* findUciCommand(const char* word) {
  for (const UciCommand& command : UCI_COMMANDS)
    if (startsWith(word, command.prefix)) return &command;
  return nullptr;
}

}  // namespace

// word is the first word of lineBuffer, lower-cased; it is recognised by its first letters.
// Returns 1 when handled; "stop" and "ponderhit" outside a search are not, and are ignored.
int uciCommand(const char* word) {
  const UciCommand* command = findUciCommand(word);
  if (command == nullptr || (command->searchOnly && engineState == STATE_WAITING)) return 0;
  command->handler();
  return 1;
}

SearchTiming uciTiming(const char* word) {
  const UciCommand* command = findUciCommand(word);
  return command != nullptr ? command->timing : ACTS;
}
