// The session: what the engine is doing and for whom, the clocks, the user settings, and the
// input lines read while a search ran and kept for the command loop.
//
// The front ends (frontend/) own and change this state; the search reads the clocks, the
// limits and the settings and sets stopSearch; setBoard and the game-end test report to it
// (engineSide, gameOver). It depends on nothing else in Talvek, so any part may include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

using Move = uint32_t;  // packed move word (board/board.h); 0 = no move

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

// Front-end state values (engineState).
constexpr int STATE_INITIALISING = 64;
constexpr int STATE_WAITING = 1;
constexpr int STATE_THINKING = 2;
constexpr int STATE_PONDERING = 4;
constexpr int STATE_ANALYSING = 8;   // thinking without moving, until input ends it
constexpr int STATE_EPD_TESTING = 32;

constexpr int NO_SIDE = 16;   // engineSide when the engine plays neither colour
constexpr int MAX_SEARCH_MOVES = 256;  // root moves a search can be limited to

// A new game's time control and depth.
constexpr int NEW_GAME_MOVES = 60;          // moves of the control
constexpr int NEW_GAME_CLOCK = 1800000;     // ms on each clock: 30 minutes
constexpr int NO_DEPTH_LIMIT = 64;          // plies: as deep as the search goes

// The user-settable values; their ranges and start-up values are the front end's command table.
struct Settings {
  int abscore;                // thinking scores from White's point of view
  int beep;                   // BEL after each engine move in console mode
  int showBoard;              // board display after every move in console mode
  int ecache;                 // evaluation cache, MB
  int hash;                   // transposition table, MB
  int noise;                  // thinking lines from this depth on
  int ponder;                 // think on the opponent's time
  int post;                   // show thinking lines
  int resignThreshold;        // centipawns
  int resignCount;            // consecutive searches
  std::string nalimovPath;    // folders of the Nalimov tables
  int nalimovCache;           // MB
  std::string egbbPath;       // folder of the bitbase library
  int egbbCache;              // MB
  int zelt;                   // Gaviota tables: 0 off, 1 tablebases, 2 bitbases (ZELT_* of egdb.h)
  int zeltCache;              // MB of the Gaviota library's cache
  std::string zeltPath;       // folders of the Gaviota tables
  int checkExtension;         // quarter plies
  int mateThreatExtension;
  int pawn7thExtension;
  int recaptureExtension;
  int singleReplyExtension;
  int chess960;               // Chess960 game (UCI_Chess960, xboard's fischerandom): castling
                              // text of UCI, FEN rights written as the GUI sent them, no book
  int ownBook;                // play from the opening book
  std::string bookPath;       // the opening book
  int multiPV;                // best root lines a search finds and reports (1 to MAX_MULTI_PV)
  int moveOverhead;           // ms kept back from the clock on every move for the GUI's and
                              // the connection's delays
  int threads;                // search threads, the main one included
};

// What ends a search besides the clock: set by the time control and by the protocols' search
// commands, read by the search.
struct SearchLimits {
  int maxDepth = NO_DEPTH_LIMIT;  // iterations in plies
  int moveTime = 0;         // fixed ms per move; 0 = none
  int untimed = 0;          // no clock: the depth, the limits below or input end the search
  int endless = 0;          // only input ends the search (UCI "go infinite", analysis)
  uint64_t nodes = 0;       // stop after about this many nodes; 0 = none
  int mate = 0;             // stop once a mate in this many moves is found; 0 = none
  int searchMoveCount = 0;  // the root moves to search (UCI "searchmoves"); 0 = every legal move
  Move searchMoves[MAX_SEARCH_MOVES] = {};
};

// Lines kept while a search runs: at most this many, of at most this many bytes in all. When
// the store is full the poll leaves further input unread on standard input, where the
// command loop finds it later, so no line is lost.
constexpr int MAX_QUEUED_LINES = 1024;
constexpr size_t MAX_QUEUED_BYTES = size_t(1) << 22;

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

// Session state (session.cpp).
extern int engineState;        // STATE_*
extern int consoleMode;        // a person uses the console
extern int xboardMode;         // xboard protocol active
extern int uciMode;            // UCI protocol active
extern int icsMode;            // xboard told us we play on a chess server
extern int engineSide;         // colour the engine plays, or NO_SIDE
extern int gameOver;           // set when the game has ended
extern SearchLimits limits;    // what ends the next search
extern constinit thread_local volatile int stopSearch;  // set to end the running thread's search
extern Move ponderMove;        // predicted opponent move being pondered
extern char ponderText[8];     // SAN of ponderMove, or "none"
extern int engineClock, opponentClock;           // ms left
extern int engineIncrement, opponentIncrement;   // ms per move
extern int movesPerControl;    // moves per time control; 0 = whole game
extern int searchStart;        // nowMs() when the search began
extern int opponentTurnStart;  // nowMs() when the opponent's turn began
extern int ponderElapsed;      // ms pondered before a ponder hit
extern int analysing;          // xboard analyze mode: the engine thinks on every position it is given
extern int controlTime;        // console: ms each clock gets again when a control's moves are done
extern int engineControlMoves, opponentControlMoves;  // moves made in the current control
extern int inputEnded;         // the poll met the end of standard input
extern Settings settings;      // user settings

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// A message of one line (format ends in "\n") about a file or an input the engine cannot use:
// written as it is, or under UCI as an "info string" line, the only text GUIs show (session.cpp).
void printNotice(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Opens the file a user named for reading (mode "r" or "rb") when it is a regular file (userfile.cpp).
// Otherwise returns null with *fault saying why, as words that follow the file's name: "is a
// device, not <noun>" for a folder, device, named pipe or socket ("is not a regular file" when noun
// is null), "is a link that leads nowhere", "is a link that leads round in a loop", or "cannot be
// opened (<reason>)"; *fault is null when nothing is there at all.
FILE* openUserFile(const char* path, const char* mode, const char* noun, const char** fault);

// Time controls (session.cpp).
void startControl(int moves, int baseMs, int incrementMs);  // both clocks; no fixed move time
void newGameClocks();             // a new game's control and limits; the game not over

// Lines read while a search ran, first in first out (session.cpp).
bool queueLine(const char* line); // keeps a copy; false, keeping nothing, when no line fits
bool queueFull();                 // no further line fits
int queuedLines();                // lines kept
bool takeQueuedLine(char* buffer, size_t size);  // oldest line into buffer; false when none
void clearQueuedLines();
