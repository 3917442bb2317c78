// Start-up, the console and xboard main loop, and the input line shared by every reader.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"

char lineBuffer[LINE_SIZE];
char tokens[MAX_TOKENS][TOKEN_SIZE];
int tokenCount = 0;

namespace {

// The program's name in block letters, three lines.
constexpr const char* BANNER[3] = {
    "  #####   ###   #      #   #  #####  #   #",
    "    #    #####  #      #   #  ###    ####",
    "    #    #   #  #####    #    #####  #   #",
};

void printBanner() {
  for (int i = 0; i < 3; i++) std::printf("\n%s", BANNER[i]);
  std::printf("\n\n%18s%s\n\n\n", "", VERSION_TEXT);
}

}  // namespace

// Reads up to the next newline into buffer (LINE_SIZE bytes). A line is kept to LINE_SIZE - 2
// characters plus its newline; the rest of a longer line is read and dropped, so its tail
// never runs as a command. A carriage return before the newline is removed, as text mode does
// elsewhere. A last line without a newline is returned as it is. Returns false, with buffer
// empty, at the end of input.
bool readLineInto(FILE* file, char* buffer) {
  int length = 0;
  int c = EOF;
  bool any = false;
  while ((c = std::getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (length < LINE_SIZE - 2) buffer[length++] = char(c);
  }
  if (c == '\n') {
    if (length > 0 && buffer[length - 1] == '\r') length--;
    buffer[length++] = '\n';
  }
  buffer[length] = '\0';
  return any;
}

bool readLine(FILE* file) { return readLineInto(file, lineBuffer); }

// The command loops' reader: a line kept while a search ran comes first, in the order read.
bool nextLine(FILE* input) { return takeQueuedLine(lineBuffer, LINE_SIZE) || takeInputLine(input, lineBuffer); }

// Input that a turn should serve before thinking on the opponent's time: kept lines, a whole
// line waiting on the command input, or its end. The beginning of a line is not yet a line:
// the engine thinks meanwhile, and its poll takes the line once the rest has come.
bool inputPending() { return queuedLines() > 0 || wholeLineWaiting() || inputEnded; }

// Splits lineBuffer at spaces (a tab belongs to its word) into at most MAX_TOKENS words of at
// most TOKEN_SIZE - 1 characters; longer words are cut. The newline that ends the line is
// removed from the last word, and a last word that held only that newline is no word. Every
// slot holds a word or ""; tokenCount becomes the number of words.
int tokeniseLine() {
  for (char* slot : tokens) slot[0] = '\0';
  int count = 0;
  const char* p = lineBuffer;
  while (count < MAX_TOKENS) {
    while (*p == ' ') p++;
    if (*p == '\0') break;
    int length = 0;
    for (; *p != '\0' && *p != ' '; p++)
      if (length < TOKEN_SIZE - 1) tokens[count][length++] = *p;
    tokens[count][length] = '\0';
    count++;
  }
  if (count > 0) {
    char* last = tokens[count - 1];
    size_t length = std::strlen(last);
    if (length > 0 && last[length - 1] == '\n') last[--length] = '\0';
    if (length == 0) count--;
  }
  tokenCount = count;
  return count;
}

// Copies the first word of line (leading white space skipped, up to the next white space, cut
// to TOKEN_SIZE - 1 characters) into typed and its lower-case form into lower.
int firstWordOf(const char* line, char* typed, char* lower) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(line);
  while (*p != '\0' && std::isspace(*p)) p++;
  int length = 0;
  for (; *p != '\0' && !std::isspace(*p); p++) {
    if (length == TOKEN_SIZE - 1) continue;
    typed[length] = char(*p);
    lower[length] = char(std::tolower(*p));
    length++;
  }
  typed[length] = lower[length] = '\0';
  return length;
}

int firstWord(char* typed, char* lower) { return firstWordOf(lineBuffer, typed, lower); }

// Tokenises the line and hands word to the handler of the active protocol. While the engine
// initialises every word goes to the console handler, whose setting commands alone act then.
int dispatchCommand(const char* word) {
  tokeniseLine();
  if (engineState != STATE_INITIALISING) {
    if (xboardMode) return xboardCommand(word);
    if (uciMode) return uciCommand(word);
  }
  return consoleCommand(word);
}

void (*quitHook)() = nullptr;

// Also from inside a search (a "quit" that acts at once): the helper threads stop before the
// tables they search go.
void quitEngine() {
  stopHelpers();
  if (quitHook != nullptr) quitHook();
  freeTT();
  freeECache();
  std::exit(0);
}

// A word whose first four characters name two squares (e2e4, e7e8q, e2e4junk) is a move, and
// so is castling written o-o or o-o-o (letter or digit), as xboard sends it in Chess960.
bool looksLikeMove(const char* lower) {
  auto file = [](char c) { return c >= 'a' && c <= 'h'; };
  auto rank = [](char c) { return c >= '1' && c <= '8'; };
  auto oh = [](char c) { return c == 'o' || c == '0'; };
  if (oh(lower[0]) && lower[1] == '-' && oh(lower[2])) return true;
  return file(lower[0]) && rank(lower[1]) && file(lower[2]) && rank(lower[3]);
}

// Used by start-up to issue its own commands as if they had been read.
int runCommandLine(const char* line) {
  std::snprintf(lineBuffer, LINE_SIZE, "%s", line);
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  if (firstWord(typed, lower) == 0) return 0;
  return dispatchCommand(lower);
}

void printPrompt() { std::printf("Talvek[%c-%d]> ", sideToMove == WHITE ? 'W' : 'B', (gamePly + 2) / 2); }

void startEngine(int argc, char** argv) {
  // 1. Initialising; every byte written goes out at once. Standard input is read byte by
  // byte, so that a line the search has not read yet is always still waiting on the
  // descriptor, where the input poll looks for it.
  engineState = STATE_INITIALISING;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stdin, nullptr, _IONBF, 0);

  // 2. The command-line switch to xboard, compared exactly.
  if (argc > 1 && (std::strcmp(argv[1], "-xboard") == 0 || std::strcmp(argv[1], "/xboard") == 0)) {
    xboardMode = 1;
    consoleMode = 0;
    std::fputs("feature done=0\n", stdout);
  }

  // 3. The console greeting.
  if (consoleMode) {
    clearConsole();
    setConsoleTitle(". : T A L V E K : .");
    printBanner();
    resetColour();
  }

  // 4. Empty game record and search stack, built-in settings.
  clearGameState();
  resetSettings();

  // 5. The settings file, which can only change settings while Initialising.
  runCommandLine("init");

  // 6. Board, distance and attack tables, king-and-pawn bitbase.
  initTables();

  // 7. Transposition table, evaluation cache. From here on each table, database and pool is
  // set up by its setting's own apply, as a change of the setting at the prompt would.
  applySetting(&Settings::hash);
  applySetting(&Settings::ecache);

  // 8. Endgame databases (the Gaviota tables only when switched on), the opening book (only
  // while one is played from) and the search threads; the search polls the input from now on.
  std::fputs("\n", stdout);
  applySetting(&Settings::nalimovPath);
  applySetting(&Settings::zelt);
  applySetting(&Settings::egbbPath);
  applySetting(&Settings::bookPath);
  std::fputs("\n\n", stdout);
  applySetting(&Settings::threads);
  pollHook = pollInput;

  // 9. Ready: a new game in the active protocol. Should no handler know "new", the
  // console's new game is set up, so that a position always stands on the board.
  engineState = STATE_WAITING;
  if (!runCommandLine("new")) newGame();
}

// Each pass first runs the lines kept while a search ran, in the order they came; with none
// kept it lets the engine move when it is its turn, thinks on the opponent's time, or analyses
// (xboard analyze mode, which is force mode in which the engine thinks). Otherwise it takes one
// line (one kept while a search ran, else the next of input, which the poll reads too) and plays
// it as a move or runs it as a command. A game that has ended, or a refused position, is never
// searched. Returns 0 at the end of input.
int mainLoop(FILE* input) {
  commandInput = input;
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  for (;;) {
    if (queuedLines() == 0 && !editingPosition) {
      if (analysing) {
        engineSide = NO_SIDE;
        if (!inputPending()) analyseTurn();
      } else {
        if (!gameOver && engineSide == sideToMove) engineTurn();
        if (settings.ponder && !gameOver && engineSide == otherSide && gamePly > 0 && ponderTurn()) continue;
      }
    }
    if (consoleMode) printPrompt();
    if (!nextLine(input)) {
      commandInput = stdin;
      return 0;
    }
    if (lineBuffer[0] == '\n' || firstWord(typed, lower) == 0) continue;
    if (editingPosition && xboardMode) {
      xboardEdit(typed);
      continue;
    }
    if (looksLikeMove(lower)) {
      userMove(typed);
      continue;
    }
    if (!dispatchCommand(lower)) reportUnknownCommand(typed);
  }
}

void reportUnknownCommand(const char* typed) {
  std::printf(xboardMode ? "Error (unknown command): %s\n" : "**ERROR**  unknown command: %s\n", typed);
}
