// What every fuzz target shares: a quiet engine working in a scratch folder, input handed to the
// engine's own readers, and the checks that follow each input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class Protocol { Console, Xboard, Uci };

// Once per process: tables, small hash tables, a scratch working folder, standard input from
// /dev/null and standard output discarded (TALVEK_FUZZ_VERBOSE keeps it). Searches stop at their
// first input poll; "quit" ends the current input instead of the process.
void fuzzStart();

// Before each input: settings, game record and start position as after start-up, in protocol p;
// the input runs in the scratch folder until fuzzCheck.
void fuzzReset(Protocol p);

// The lines of text through the protocol's reader (the main loop, or the UCI loop), as a GUI or
// a person would send them. Lines that would run a shell command or write a file named by the
// input are left out, and so are perft beyond depth 3 and the speed test at the console.
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
