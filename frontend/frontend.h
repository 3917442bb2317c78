// The front end: start-up, the console loop, the command language and the game turns.
//
// Every reader of input (the main loop, the settings file, command files, the protocol loops)
// reads one line into lineBuffer, splits it into tokens with tokeniseLine and hands its first
// word, lower-cased, to dispatchCommand, which routes it by the active protocol.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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
constexpr int TOKEN_SIZE = 4096;  // bytes of a word slot: a path as long as the system allows
constexpr const char* SETTINGS_FILE = "talvek.ini";
constexpr const char* VERSION_TEXT = "ver. " TALVEK_VERSION;  // TALVEK_VERSION comes from CMake
constexpr const char* ENGINE_NAME = "Talvek v" TALVEK_VERSION;
constexpr int MAX_FETCH_DEPTH = 16;   // command files that fetch command files, nested at most
constexpr int MAX_BOOK_ENTRIES = 256;  // book entries read for one position, the rest ignored
#ifdef TALVEK_FUZZ
constexpr int MAX_TABLE_MB = 8;       // fuzz builds keep every table small, so each input runs fast
#else
constexpr int MAX_TABLE_MB = 4095;    // largest table size whose byte count fits 32 bits
#endif

// What a command does when its line arrives while the engine searches; each protocol's command
// table gives one for every command (a word no table knows is answered at once, as between
// searches). Lines act in the order they came: once a line waits, every
// later line waits behind it, except the IMMEDIATE ones.
enum SearchTiming : uint8_t {
  WAITS,          // kept until the search ends; a search that only input can end is ended for it
  ACTS,           // acts at once and the search goes on (unless the command stops it)
  IMMEDIATE,      // acts at once even behind waiting lines: questions
  QUITS,          // acts at once; behind waiting lines it stops the search (its move is played,
                  // as on "move now") and runs after them
  ENDS,           // a change of the game: the search ends, its move is not played, then it runs
  ACTS_OFF_MOVE,  // ACTS while pondering or analysing; WAITS while the engine thinks on its move
};

// How a search run by runSearch ended, for the turn that started it.
struct SearchOutcome {
  bool ponderHit = false;  // the opponent played the predicted move: the ponder search went on
                           // as the engine's own search, on its clock
  Move otherMove = 0;      // while pondering, the opponent played this other legal move
  bool dropped = false;    // a change of the game ended the search: its move is not played
  bool endedByInput = false;  // a line read during the search (or the end of input) ended it
};

// The console's command groups.
enum CommandGroup : uint8_t {
  GROUP_A,    // tools and game commands: not while Initialising
  GROUP_B,    // settings: always, silently while the settings file is read
  INIT_ONLY,  // the settings-file reader: only while Initialising
};

// What a row of the command table is.
enum RowKind : uint8_t {
  ROW_COMMAND,  // a console command with its own handler
  ROW_SWITCH,   // a setting on or off; a UCI check box
  ROW_NUMBER,   // a number held to [low, high]; a UCI spin
  ROW_SIZE,     // a table size in megabytes held to [1, high]; a UCI spin
  ROW_PATH,     // a file or folder of any length; a UCI string
  ROW_CHOICE,   // one of the words of choices, numbered by their values; a UCI combo
  ROW_BUTTON,   // a UCI button: apply alone
  ROW_ABOUT,    // the UCI string that describes the engine: no setting
};

// One choice of a ROW_CHOICE setting: its UCI word and the value it stands for.
struct Choice {
  const char* word;
  int value;
};

// One row of the command table: a console command, or a user setting with everything made from
// it (its console command and confirmation, its help line, its line in the default settings
// file, its UCI option and setoption). Members left out keep the values below.
struct CommandRow;
using CommandHandler = void (*)(const CommandRow& row, const char* word);
struct CommandRow {
  const char* name = nullptr;         // console word, which any prefix names; null: UCI only
  CommandGroup group = GROUP_B;
  RowKind kind = ROW_COMMAND;
  int minWords = 2;                   // words the line needs, command included
  const char* parameters = "";        // the help's parameters
  const char* usage = nullptr;        // text after "usage: "; settings: name and parameters
  const char* help = nullptr;         // the help's description; null: not listed
  CommandHandler handler = nullptr;   // a command, or a setting's own console form
  SearchTiming timing = WAITS;        // what the command does during a search
  int shortest = 1;                   // characters an abbreviation needs at least
  int Settings::*value = nullptr;     // the field of a switch, number, size or choice
  std::string Settings::*path = nullptr;  // the field of a path
  int low = 0, high = 0, start = 0;   // range and start-up value
  const char* startPath = "";         // start-up value of a path
  const char* confirm = nullptr;      // console confirmation: printf format of the value
  const char* onWord = "on";          // a switch's value in its confirmation
  const char* offWord = "off";
  const Choice* choices = nullptr;    // a choice's words, in UCI order
  int choiceCount = 0;
  void (*apply)() = nullptr;          // after a change, once the engine has started
  const char* iniValue = nullptr;     // the value createini writes
  int iniPlace = 0;                   // its line among them (1 on; 0: none)
  const char* uciName = nullptr;      // the UCI option
  int uciPlace = 0;                   // its place in the option list (1 on; 0: not announced)
};

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
extern const CommandRow COMMAND_ROWS[];        // the console commands and the settings, in the
extern const int COMMAND_ROW_COUNT;            // help's order (commands.cpp)
extern FILE* commandInput;       // where the command loops and the poll read: standard input
extern int (*inputWaitingHook)();  // when set, replaces the readiness test of commandInput
                                   // (a test driver's scripted input)
extern SearchOutcome searchOutcome;  // how the running search is ending (poll.cpp)

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// Input and routing (loop.cpp).
bool readLineInto(FILE* file, char* buffer);  // next line into buffer (LINE_SIZE bytes);
                                              // false at the end of input
bool readLine(FILE* file);        // next line into lineBuffer; false at the end of input
bool nextLine(FILE* input);       // a kept line, else the next of input, into lineBuffer
bool inputPending();              // kept lines, a whole line waiting, or the end of input
bool looksLikeMove(const char* lower);  // the word begins with two squares (e2e4)
int tokeniseLine();               // words of lineBuffer into tokens; returns their number
int firstWordOf(const char* line, char* typed, char* lower);  // first word of line, as typed
                                          // and lower-cased (TOKEN_SIZE bytes each); its
                                          // length, 0 if none
int firstWord(char* typed, char* lower);  // firstWordOf lineBuffer
int dispatchCommand(const char* word);    // route word to the active handler; 0 if unknown
int runCommandLine(const char* line);     // lineBuffer := line, then dispatch its first word
void reportUnknownCommand(const char* typed);  // the active protocol's "unknown command" line
void printPrompt();               // "Talvek[W-1]> " for the side to move and move number
void startEngine(int argc, char** argv);  // the start-up sequence, up to the first prompt
int mainLoop(FILE* input);        // console and xboard loop over input; 0 at its end
[[noreturn]] void quitEngine();   // free the transposition table and evaluation cache, exit 0
extern void (*quitHook)();        // when set, quitEngine calls it first (it must not return):
                                  // lets an in-process driver such as a fuzz target end a run

// Console commands and settings (commands.cpp).
int consoleCommand(const char* word);     // 1 when word named a console command
SearchTiming consoleTiming(const char* word);  // the timing of the command word names
int matchCommand(const char* name, const char* word);  // word equals name or abbreviates it
int parseNumber(const char* text);        // decimal with sign; no digits, 0; clamped to int
void newGame();                   // start position, 30-minute clocks, 60 moves, depth 64
void resetSettings();             // every setting to its start-up value
int settingLow(const CommandRow& row);    // the least value of a number or size setting
int settingInRange(const CommandRow& row, int number);  // number held to the row's range: the
                                          // one rule of a setting's range, for every front end
const CommandRow& settingRow(int Settings::*field);          // the row of a setting
const CommandRow& settingRow(std::string Settings::*field);
uint32_t settingBytes(int Settings::*field);  // a size setting in bytes, held to its row's range
void applySetting(int Settings::*field);  // set up what the setting sets up (its row's apply), as
void applySetting(std::string Settings::*field);  // a change of it does; start-up's one way
void setSettingNumber(int Settings::*field, int number);  // held to the row's range, then applied
void applyUciOption(const CommandRow& row, const char* value);  // setoption of row's option
void reopenBook();                // open the book while it is on and named, else close it

// Settings file and command files (settings.cpp).
void readSettingsFile();          // run the setting lines of talvek.ini (while Initialising)
void runCommandLines(FILE* file, bool reportUnknown);  // dispatch every command line of file
void createIni();                 // write talvek.ini: default settings, the paths set now
void fetchFile(const char* name); // run a command file, nested at most MAX_FETCH_DEPTH deep

// xboard protocol (xboard.cpp).
int xboardCommand(const char* word);  // 1 when word is an xboard command (compared exactly)
SearchTiming xboardTiming(const char* word);  // the timing of the command word names
extern int editingPosition;       // xboard "edit" mode: lines are edit commands until "."
void xboardEdit(const char* word);  // one line of edit mode (word as typed)
void prepareRoot();               // ply 0, piece lists, checkers and replies at ply 0

// UCI protocol (uci.cpp).
int uciCommand(const char* word);     // 1 when word is a UCI command (by its first letters)
SearchTiming uciTiming(const char* word);  // the timing of the command word names
void printUciIdentification();    // the id and option lines and "uciok"
[[noreturn]] void uciLoop(FILE* input);  // serve UCI commands until input ends
void uciPosition(const char* text);   // "position" arguments: startpos/fen, then moves
void uciGo(const char* text);     // "go" arguments: search, then the bestmove line
void uciSetOption(const char* text);  // "setoption name" text: name, then "value ..."

// EPD test suites (epd.cpp).
void epdTest(const char* epdFile, int seconds, int iterations, const char* logFile);

// Input during a search (poll.cpp).
int inputWaiting();               // input units waiting on commandInput; 0 when none
bool wholeLineWaiting();          // reads what waits on commandInput without blocking; true
                                  // when a whole line has come
bool takeInputLine(FILE* input, char* buffer);  // the next line of input into buffer
                                  // (LINE_SIZE bytes), the part already read from commandInput
                                  // first; blocks; false at the end of input
void discardHeldInput();          // forget the bytes read from commandInput but not yet taken
void waitForInput();              // blocks until input is waiting (at once for a test driver)
void pollInput();                 // take one whole line while the search runs: act on it,
                                  // or keep it for the command loop
SearchOutcome runSearch(int state, bool searchPosition = true);  // think in state; an endless
                                  // search that ran out of depth (or has nothing to search)
                                  // goes on reading input until a line ends it
void ponderHit();                 // while pondering: the search becomes the engine's own, timed
bool searchEndless();             // the running search ends only on input

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

// The table generator's command line, "talvek tbgen <folder> [<class>|3|4 ...]" (tbgen.cpp).
int runTableGenerator(int count, char** words);  // the words after "tbgen"; the exit status

// Game turns (turns.cpp).
void engineTurn();                // search and play the engine's move
void analyseTurn();               // think on the current position without moving until input
int ponderTurn();                 // think on the opponent's time; 1 when a move was played
void userMove(const char* word);  // a coordinate move typed by the user
void playGameMove(Move m);        // play an accepted move on the game record
void keepPonderReplies();         // the legal moves of the current position, the one pondered on
Move matchPonderReply(Move partial);  // the kept legal move that matches partial; 0 if none
void chargeMove(bool engine, int used);  // the mover's clock after a move that took used ms
