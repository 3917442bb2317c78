// The front end: start-up, the console loop, the command language and the game turns.
//
// Every reader of input (the main loop, the settings file, command files, the protocol loops)
// reads one line into lineBuffer, splits it into tokens with tokeniseLine and hands its first
// word, lower-cased, to dispatchCommand, which routes it by the active protocol.
#pragma once

#include <cstdio>

#include "board/board.h"

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

constexpr int LINE_SIZE = 4096;   // bytes of lineBuffer, newline and NUL included
constexpr int MAX_TOKENS = 32;    // words kept from one line
constexpr int TOKEN_SIZE = 128;   // bytes of a word slot: 127 characters and a NUL
constexpr const char* SETTINGS_FILE = "talvek.ini";
constexpr const char* VERSION_TEXT = "ver. 0.8.3beta2";

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

extern char lineBuffer[LINE_SIZE];             // the current input line, newline included
extern char tokens[MAX_TOKENS][TOKEN_SIZE];    // its words, filled by tokeniseLine
extern int tokenCount;                         // number of words in tokens

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// Input and routing (loop.cpp).
bool readLine(FILE* file);        // next line into lineBuffer; false at the end of input
int tokeniseLine();               // words of lineBuffer into tokens; returns their number
int firstWord(char* typed, char* lower);  // first word, as typed and lower-cased (TOKEN_SIZE
                                          // bytes each); returns its length, 0 if none
int dispatchCommand(const char* word);    // route word to the active handler; 0 if unknown
int runCommandLine(const char* line);     // lineBuffer := line, then dispatch its first word
void printPrompt();               // "Talvek[W-1]> " for the side to move and move number
void startEngine(int argc, char** argv);  // the start-up sequence, up to the first prompt
int mainLoop(FILE* input);        // console and xboard loop over input; 0 at its end

// Console commands (commands.cpp).
int consoleCommand(const char* word);     // 1 when word named a console command
int matchCommand(const char* name, const char* word);  // word equals name or abbreviates it
int parseNumber(const char* text);        // decimal with sign; no digits, 0; clamped to int
void newGame();                   // start position, 30-minute clocks, 60 moves, depth 64

// Settings file (settings.cpp).
void readSettingsFile();          // run the setting lines of talvek.ini (while Initialising)
void runCommandLines(FILE* file, bool reportUnknown);  // dispatch every command line of file

// Game turns (turns.cpp).
void userMove(const char* word);  // a coordinate move typed by the user
void playGameMove(Move m);        // play an accepted move on the game record
