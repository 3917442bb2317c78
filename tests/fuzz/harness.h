// What every fuzz target shares: a quiet engine working in a scratch folder, input handed to the
// engine's own readers at chosen moments of its searches, and the checks that follow each input.
//
// Input script. The lines of a session reach the engine through the stream its command loops
// and its input poll read. An unmarked line is there at once, as a GUI's burst of lines is; a
// line can instead be marked to arrive later, during a search:
//
//   @N line    arrives N polls after the line before it was read (N digits; none is 0)
//   @@N line   arrives at poll N of the first search that starts after the line before it was
//              read; every further '@' passes over one more search ("@@@3 g1f3": poll 3 of the
//              second search, the one that ponders after the engine's own)
//
// One space after the mark is dropped with it. A line that ends in a backslash is a piece of a
// line: its text, without the backslash and without a newline, arrives as marked, and the next
// line of the script continues it ("go infinite", "@3 st\", "@5 op": "stop" arrives in two
// pieces five polls apart), as a pipe or a socket may split any write. Searches poll every POLL_INTERVAL nodes, and a
// search that only input ends (pondering, analysis, UCI "go infinite" or "go ponder") polls on
// once it has run out of depth. A search that never polls does not count. Whenever a command
// loop wants a line it reads the next one, marked or not, as a blocking read would.
//
// Every search ends after a few thousand nodes or a few dozen polls, if nothing ends it sooner
// (once an input has made a few hundred polls, at its first poll); a UCI "go infinite" or "go
// ponder" search is not cut short: instead every line still to come arrives at once, and the end
// of the script ends it.
//
// After each input the protocols' rules are checked against the engine's output and the moments
// it read each line (tests/fuzz/protocol_checks.cpp). UCI: exactly one bestmove for each go (one
// fewer when quit ended a search), never before the go was read, for go infinite or go ponder
// only after a stop, ponderhit or quit read since the go, or the end of input, and legal (with its
// ponder move) in the position the GUI last set before that go; readyok and uciok answer isready
// and uci in order, readyok at once, and every answer comes in the order the requests were sent.
// xboard: no move while the engine analyses or is in force mode as the GUI sees it (beyond the
// one move of a search already running when the line that entered the mode was read), every move
// legal in the game the GUI keeps from what it sent and received, pong and the book's answer in
// the order sent and after the move of the search they came in, and no move from an own-move
// search that a change of the game ended (unless a request waiting for the move came first). The
// clock advances one
// millisecond each time the engine reads it, and the tables start empty for every input: the
// same input makes the same run, and time limits fall where the engine's speed puts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class Protocol { Console, Xboard, Uci };

// Once per process: tables, small hash tables, a scratch working folder, standard input from
// /dev/null and standard output to a scratch file that the checks read (TALVEK_FUZZ_VERBOSE
// copies each input's output to standard error), the bounded poll.
// "quit" ends the current input instead of the process.
void fuzzStart();

// Before each input: settings, game record, start position, tables and clock as after start-up,
// in protocol p; the input runs in the scratch folder until fuzzCheck.
void fuzzReset(Protocol p);

// The input script (see above) through the protocol's reader (the main loop, or the UCI loop),
// as a GUI or a person would send it; a switch of protocol ("xboard", "uci" at the console)
// goes on reading it. Lines that would run a shell command or write a file named by the input
// are left out, and so are perft beyond depth 3 and the speed test at the console.
void fuzzLines(Protocol p, const std::string& text);

// Runs fn; a "quit" inside it ends fn.
void fuzzGuarded(void (*fn)());

// The board, its lists and its key agree. A position refused in xboard mode stays on the board
// as it was read and is never searched; one with more units than the lists hold is exempt.
bool fuzzConsistent();

// Aborts (a finding) unless the board is consistent and perft 2 of the start position is 400.
void fuzzCheck();

// Aborts with message when ok is false.
void fuzzRequire(bool ok, const char* message);

// Writes bytes to a file in the scratch folder; returns its name.
std::string fuzzWrite(const char* name, const uint8_t* data, size_t size);
