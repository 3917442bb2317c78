// The UCI protocol: identification and options, the command loop, position, go with the
// bestmove line, and setoption.
//
// Words are recognised by their first letters. Nothing happens on the engine's own initiative:
// a search runs only for "go", synchronously; while it runs, the input poll reads the lines.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"

namespace {

constexpr int OPTION_TEXT = 128;  // bytes of the setoption text and of its value
constexpr const char* AUTHOR = "the Talvek developers";
constexpr const char* WEB_ADDRESS = "https://talvek.example.org";

FILE* uciInput = stdin;  // where the loop, and the wait for "stop", read their lines

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
// (a typing error, a move of the wrong side) is reported and ends the list: the position
// reached so far stays, so that a GUI never has the engine search a position it did not mean.
void applyMoves(const char* text) {
  char word[TOKEN_SIZE];
  while (*(text = skipSpaces(text)) != '\0') {
    size_t length = std::strcspn(text, " ");
    std::snprintf(word, sizeof word, "%.*s", int(length < sizeof word ? length : sizeof word - 1), text);
    text += length;
    if (historyFull()) {
      std::printf("Illegal move (game record full): %s\n", word);
      return;
    }
    char lower[TOKEN_SIZE];
    size_t i = 0;
    for (; word[i] != '\0'; i++) lower[i] = char(std::tolower(static_cast<unsigned char>(word[i])));
    lower[i] = '\0';
    Move m = matchMove(parseCoord(lower));  // E2E4 and a7a8Q read like e2e4 and a7a8q
    if (m == 0) {
      std::printf("Illegal move: %s\n", word);
      return;
    }
    makeMove(m);
    prepareRoot();
  }
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

// A search that ran out of depth while pondering or under "go infinite" keeps its answer until
// the GUI asks for it with "stop" or "ponderhit"; "isready" is answered meanwhile and other
// lines are kept for the loop. The end of input, or a full store of kept lines, gives the
// answer too; the loop then runs the kept lines and meets the end.
void waitForStop() {
  static char line[LINE_SIZE];
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  while (!inputEnded && !queueFull()) {
    if (!readLineInto(uciInput, line)) {
      inputEnded = 1;
      return;
    }
    if (firstWordOf(line, typed, lower) == 0) continue;
    if (startsWith(lower, "stop") || startsWith(lower, "ponderhit")) return;
    if (startsWith(lower, "quit")) quitEngine();
    if (startsWith(lower, "isready"))
      std::fputs("readyok\n", stdout);
    else
      queueLine(line);
  }
}

// A path option: stored (and acted on) only when it fits and differs from the setting.
bool takePath(const char* name, const char* value, char* setting) {
  if (std::strlen(value) > size_t(PATH_SIZE - 1)) {
    std::printf("info string usage: setoption name %s value <path> (at most %d characters)\n", name,
                PATH_SIZE - 1);
    return false;
  }
  if (std::strcmp(value, setting) == 0) return false;
  std::strcpy(setting, value);
  return true;
}

// A size option in MB, held to 1..maximum; true when the setting changed.
bool takeSize(const char* value, int* setting, int maximum = MAX_TABLE_MB) {
  int size = parseNumber(value);
  if (size < 1) size = 1;
  if (size > maximum) size = maximum;
  if (size == *setting) return false;
  *setting = size;
  return true;
}

void takeSwitch(const char* value, int* setting) {
  if (startsWith(value, "true")) *setting = 1;
  if (startsWith(value, "false")) *setting = 0;
}

}  // namespace

void printUciIdentification() {
  std::printf("id name %s\n", ENGINE_NAME);
  std::printf("id author %s\n", AUTHOR);
  std::printf("option name Hash type spin default %d min 1 max %d\n", settings.hash, MAX_TABLE_MB);
  std::printf("option name NalimovPath type string default %s\n", settings.nalimovPath);
  std::printf("option name NalimovCache type spin default %d min 1 max %d\n", settings.nalimovCache, MAX_TABLE_MB);
  std::fputs("option name Ponder type check default false\n", stdout);
  std::fputs("option name OwnBook type check default false\n", stdout);
  std::fputs("option name Clear Hash type button\n", stdout);
  std::fputs("option name ZELT type combo default Disabled var Disabled var Bitbases var Tablebases\n", stdout);
  std::printf("option name ZELT Path type string default %s\n", settings.zeltPath);
  // A cache size of 0 is taken as 1, and a GUI refuses a default below the announced minimum.
  std::printf("option name ZELT Cache type spin default %d min 1 max %d\n", std::max(settings.zeltCache, 1),
              MAX_TABLE_MB);
  std::printf("option name Shawul EGBB Path type string default %s\n", settings.egbbPath);
  std::printf("option name Shawul EGBB Cache type spin default %d min 1 max %d\n", settings.egbbCache, EGBB_MAX_CACHE_MB);
  std::printf("option name Evaluation Cache type spin default %d min 1 max %d\n", settings.ecache, MAX_TABLE_MB);
  std::printf("option name Check Extension type spin default %d min 0 max 4\n", settings.checkExtension);
  std::printf("option name Mate Threat Extension type spin default %d min 0 max 4\n",
              settings.mateThreatExtension);
  std::printf("option name Pawn 7th Rank Extension type spin default %d min 0 max 4\n",
              settings.pawn7thExtension);
  std::printf("option name Recapture Extension type spin default %d min 0 max 4\n", settings.recaptureExtension);
  std::printf("option name Single Reply Extension type spin default %d min 0 max 4\n",
              settings.singleReplyExtension);
  std::printf("option name UCI_EngineAbout type string default Talvek by %s, see %s\n", AUTHOR, WEB_ADDRESS);
  std::fputs("uciok\n", stdout);
}

// Reads commands (first those kept while a search ran) from input until it ends, then frees
// the tables and ends the program.
void uciLoop(FILE* input) {
  uciInput = input;
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  while (nextLine(input)) {
    if (lineBuffer[0] == '\n' || firstWord(typed, lower) == 0) continue;
    dispatchCommand(lower);
  }
  quitEngine();
}

// position [startpos | fen <FEN>] [moves <m1> <m2> ...]. A FEN that cannot be read leaves the
// position as it was and no move is applied to it.
void uciPosition(const char* text) {
  text = skipSpaces(text);
  bool positionSet = true;
  if (startsWith(text, "startpos")) {
    setBoard(START_FEN);
    text += 8;
  } else if (startsWith(text, "fen")) {
    text = skipSpaces(text + 3);
    positionSet = setBoard(text) == 0;
    const char* moves = std::strstr(text, "moves");
    text = moves != nullptr ? moves : text + std::strlen(text);
  }
  movesPerControl = 60;
  engineIncrement = 0;
  engineClock = opponentClock = 1800000;
  maxDepth = 64;
  moveTime = 0;
  gameOver = 0;
  text = skipSpaces(text);
  if (!positionSet || !startsWith(text, "moves")) return;
  applyMoves(text + 5);
}

// go [wtime n] [btime n] [winc n] [binc n] [movestogo n] [depth n] [movetime n] [infinite]
// [ponder]: searches the position and writes the bestmove line.
void uciGo(const char* text) {
  engineClock = opponentClock = engineIncrement = opponentIncrement = 0;
  movesPerControl = moveTime = infiniteSearch = 0;
  int value = 0;
  if (std::strstr(text, "infinite") != nullptr) infiniteSearch = 1;
  if (keywordValue(text, "wtime", &value)) (sideToMove == WHITE ? engineClock : opponentClock) = value;
  if (keywordValue(text, "btime", &value)) (sideToMove == BLACK ? engineClock : opponentClock) = value;
  if (keywordValue(text, "winc", &value)) (sideToMove == WHITE ? engineIncrement : opponentIncrement) = value;
  if (keywordValue(text, "binc", &value)) (sideToMove == BLACK ? engineIncrement : opponentIncrement) = value;
  if (keywordValue(text, "movestogo", &value)) movesPerControl = value;
  if (keywordValue(text, "depth", &value)) maxDepth = value;
  if (keywordValue(text, "movetime", &value)) moveTime = value;
  const bool ponder = std::strstr(text, "ponder") != nullptr;
  const bool infinite = infiniteSearch != 0;
  // "go depth N" without the engine's clock or a move time: the depth alone ends the search,
  // which an empty clock would otherwise cut short after its first iteration.
  const bool clockGiven = std::strstr(text, sideToMove == WHITE ? "wtime" : "btime") != nullptr;
  if (std::strstr(text, "depth") != nullptr && !clockGiven && moveTime == 0) infiniteSearch = 1;

  engineSide = sideToMove;
  engineState = ponder ? STATE_PONDERING : STATE_THINKING;
  endlessSearch = infinite;
  if (!positionRejected) {
    think();
    if (!stopSearch && (engineState == STATE_PONDERING || infinite)) waitForStop();
  } else {
    pvTable[0][0] = 0;
  }
  engineState = STATE_WAITING;
  infiniteSearch = 0;
  endlessSearch = 0;
  printBestMove();
}

// text follows "setoption name ": "<name> value <value>", or a button's name alone.
void uciSetOption(const char* text) {
  char option[OPTION_TEXT];
  std::snprintf(option, sizeof option, "%s", text);
  option[std::strcspn(option, "\r\n")] = '\0';
  const char* found = std::strstr(option, "value");
  if (found == nullptr) {
    if (startsWith(option, "Clear Hash")) clearTT();
    return;
  }
  char value[OPTION_TEXT];
  std::snprintf(value, sizeof value, "%s", found[5] != '\0' ? found + 6 : "");

  if (startsWith(option, "Hash")) {
    if (takeSize(value, &settings.hash)) {
      freeTT();
      initTT(tableBytes(settings.hash));
    }
  } else if (startsWith(option, "NalimovPath")) {
    if (takePath("NalimovPath", value, settings.nalimovPath))
      initNalimov(settings.nalimovPath, tableBytes(settings.nalimovCache));
  } else if (startsWith(option, "NalimovCache")) {
    if (takeSize(value, &settings.nalimovCache))
      initNalimov(settings.nalimovPath, tableBytes(settings.nalimovCache));
  } else if (startsWith(option, "Ponder")) {
    takeSwitch(value, &settings.ponder);
  } else if (startsWith(option, "ZELT Path")) {
    if (takePath("ZELT Path", value, settings.zeltPath) && settings.zelt)
      initZelt(settings.zelt, settings.zeltPath, tableBytes(settings.zeltCache));
  } else if (startsWith(option, "ZELT Cache")) {
    settings.zeltCache = parseNumber(value);
    if (settings.zelt) initZelt(settings.zelt, settings.zeltPath, tableBytes(settings.zeltCache));
  } else if (startsWith(option, "ZELT")) {
    if (startsWith(value, "Tablebases")) settings.zelt = ZELT_TABLEBASES;
    if (startsWith(value, "Bitbases")) settings.zelt = ZELT_BITBASES;
    if (startsWith(value, "Disab")) settings.zelt = ZELT_OFF;
    initZelt(settings.zelt, settings.zeltPath, tableBytes(settings.zeltCache));
  } else if (startsWith(option, "Shawul EGBB Path")) {
    if (takePath("Shawul EGBB Path", value, settings.egbbPath))
      egbbAvailable = loadEgbb(settings.egbbPath, tableBytes(settings.egbbCache));
  } else if (startsWith(option, "Shawul EGBB Cache")) {
    if (takeSize(value, &settings.egbbCache, EGBB_MAX_CACHE_MB))
      egbbAvailable = loadEgbb(settings.egbbPath, tableBytes(settings.egbbCache));
  } else if (startsWith(option, "Evaluation Cache")) {
    if (takeSize(value, &settings.ecache)) {
      freeECache();
      initECache(tableBytes(settings.ecache));
    }
  } else if (startsWith(option, "Check Extension")) {
    settings.checkExtension = parseNumber(value);
  } else if (startsWith(option, "Mate Threat Extension")) {
    settings.mateThreatExtension = parseNumber(value);
  } else if (startsWith(option, "Pawn 7th Rank Extension")) {
    settings.pawn7thExtension = parseNumber(value);
  } else if (startsWith(option, "Recapture Extension")) {
    settings.recaptureExtension = parseNumber(value);
  } else if (startsWith(option, "Single Reply Extension")) {
    settings.singleReplyExtension = parseNumber(value);
  } else if (startsWith(option, "UCI_Chess960")) {
    takeSwitch(value, &settings.chess960);
  }
}

// word is the first word of lineBuffer, lower-cased; it is recognised by its first letters.
// Returns 1 when handled; "stop" and "ponderhit" outside a search are not, and are ignored.
int uciCommand(const char* word) {
  if (startsWith(word, "ucinewgame")) return 1;
  if (startsWith(word, "uci")) {
    printUciIdentification();
    return 1;
  }
  if (startsWith(word, "isready")) {
    std::fputs("readyok\n", stdout);
    return 1;
  }
  if (startsWith(word, "go")) {
    uciGo(argumentText());
    return 1;
  }
  if (startsWith(word, "position")) {
    uciPosition(argumentText());
    return 1;
  }
  const char* line = skipSpaces(lineBuffer);
  if (startsWith(line, "setoption name")) {
    uciSetOption(line[14] != '\0' ? line + 15 : "");
    return 1;
  }
  if (startsWith(word, "quit")) quitEngine();
  return 0;
}
