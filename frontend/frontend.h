// The front end: start-up, the console loop, the command language and the game turns.
//
// Every reader of input (the main loop, the settings file, command files, the protocol loops)
// reads one line into lineBuffer, splits it into tokens with tokeniseLine and hands its first
// word, lower-cased, to dispatchCommand, which routes it by the active protocol.
#pragma once

#include <cstdint>
#include <cstdio>

#include "board/board.h"
#include "session/session.h"

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

// Bytes of lineBuffer, newline and NUL included: room for a UCI "position startpos moves"
// line that lists a whole game record (MAX_GAME_PLIES moves of up to six characters).
constexpr int LINE_SIZE = 1 << 17;
static_assert(LINE_SIZE > 6 * MAX_GAME_PLIES + 64);
constexpr int MAX_TOKENS = 32;    // words kept from one line
constexpr int TOKEN_SIZE = 128;   // bytes of a word slot: 127 characters and a NUL
constexpr const char* SETTINGS_FILE = "talvek.ini";
constexpr const char* VERSION_TEXT = "ver. 0.8.3beta2";
constexpr const char* ENGINE_NAME = "Talvek v0.8.3beta2";
constexpr int MAX_FETCH_DEPTH = 16;   // command files that fetch command files, nested at most
constexpr int MAX_BOOK_ENTRIES = 256;  // book entries read for one position, the rest ignored
#ifdef TALVEK_FUZZ
constexpr int MAX_TABLE_MB = 8;       // fuzz builds keep every table small, so each input runs fast
#else
constexpr int MAX_TABLE_MB = 4095;    // largest table size whose byte count fits 32 bits
#endif

// ---------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------

// One opening-book entry of the current position.
struct BookEntry {
  uint16_t raw;     // the move as the book stores it
  uint16_t weight;  // its share of the position's choices; 0 = never chosen
  Move move;        // the legal move it stands for
};

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

extern char lineBuffer[LINE_SIZE];             // the current input line, newline included
extern char tokens[MAX_TOKENS][TOKEN_SIZE];    // its words, filled by tokeniseLine
extern int tokenCount;                         // number of words in tokens
extern int fetchDepth;                         // command files being run, one inside another

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// Input and routing (loop.cpp).
bool readLineInto(FILE* file, char* buffer);  // next line into buffer (LINE_SIZE bytes);
                                              // false at the end of input
bool readLine(FILE* file);        // next line into lineBuffer; false at the end of input
// A character or block device such as /dev/zero or /dev/urandom: input without end, refused as
// a command, settings or EPD file (settings.cpp).
bool isDeviceFile(FILE* file);
bool nextLine(FILE* input);       // a kept line, else the next of input, into lineBuffer
bool inputPending();              // kept lines, or input waiting or ended on standard input
bool looksLikeMove(const char* lower);  // the word begins with two squares (e2e4)
int tokeniseLine();               // words of lineBuffer into tokens; returns their number
int firstWordOf(const char* line, char* typed, char* lower);  // first word of line, as typed
                                          // and lower-cased (TOKEN_SIZE bytes each); its
                                          // length, 0 if none
int firstWord(char* typed, char* lower);  // firstWordOf lineBuffer
int dispatchCommand(const char* word);    // route word to the active handler; 0 if unknown
int runCommandLine(const char* line);     // lineBuffer := line, then dispatch its first word
void printPrompt();               // "Talvek[W-1]> " for the side to move and move number
void startEngine(int argc, char** argv);  // the start-up sequence, up to the first prompt
int mainLoop(FILE* input);        // console and xboard loop over input; 0 at its end
[[noreturn]] void quitEngine();   // free the transposition table and evaluation cache, exit 0
extern void (*quitHook)();        // when set, quitEngine calls it first (it must not return):
                                  // lets an in-process driver such as a fuzz target end a run
uint32_t tableBytes(int megabytes);  // megabytes (held to 1..MAX_TABLE_MB) as a byte count

// Console commands (commands.cpp).
int consoleCommand(const char* word);     // 1 when word named a console command
int matchCommand(const char* name, const char* word);  // word equals name or abbreviates it
int parseNumber(const char* text);        // decimal with sign; no digits, 0; clamped to int
void newGame();                   // start position, 30-minute clocks, 60 moves, depth 64

// Settings file and command files (settings.cpp).
void readSettingsFile();          // run the setting lines of talvek.ini (while Initialising)
void runCommandLines(FILE* file, bool reportUnknown);  // dispatch every command line of file
void createIni();                 // write talvek.ini with the default settings
void fetchFile(const char* name); // run a command file, nested at most MAX_FETCH_DEPTH deep

// xboard protocol (xboard.cpp).
int xboardCommand(const char* word);  // 1 when word is an xboard command (compared exactly)
void prepareRoot();               // ply 0, piece lists, checkers and replies at ply 0

// UCI protocol (uci.cpp).
int uciCommand(const char* word);     // 1 when word is a UCI command (by its first letters)
void printUciIdentification();    // the id and option lines and "uciok"
[[noreturn]] void uciLoop(FILE* input);  // serve UCI commands until input ends
void uciPosition(const char* text);   // "position" arguments: startpos/fen, then moves
void uciGo(const char* text);     // "go" arguments: search, then the bestmove line
void uciSetOption(const char* text);  // "setoption name" text: name, then "value ..."

// EPD test suites (epd.cpp).
void epdTest(const char* epdFile, int seconds, int iterations, const char* logFile);

// Input during a search (poll.cpp).
int inputWaiting();               // input units waiting on standard input; 0 when none
void pollInput();                 // read one waiting line while the search runs: act on it,
                                  // or keep it for the command loop

// Opening book in the Polyglot format (book.cpp). Messages go to standard output; after any
// failure the engine goes on without a book.
bool openBook(const char* path);  // check and open path as the book; false, with a message, if refused
void closeBook();                 // no book from now on
uint64_t bookEntryCount();        // entries of the open book; 0 when none is open
HashKey bookKey();                // the Polyglot key of the current position
Move decodeBookMove(uint16_t raw);  // the legal move a stored move stands for here; 0 if none
int findBookEntries(BookEntry* entries);  // the current position's entries (MAX_BOOK_ENTRIES
                                  // room) whose moves are legal; their number
void seedBook(uint64_t seed);     // seed the random choice (else seeded from the clock)
Move chooseBookMove(int* percent = nullptr);  // a weighted random book move; 0 if none
Move probeBook();                 // chooseBookMove, announced in the thinking output

// Game turns (turns.cpp).
void engineTurn();                // search and play the engine's move
int ponderTurn();                 // think on the opponent's time; 1 when a move was played
void userMove(const char* word);  // a coordinate move typed by the user
void playGameMove(Move m);        // play an accepted move on the game record
