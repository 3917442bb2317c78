// Helpers shared by every test: a clean engine, captured output, test-data paths.
#pragma once

#include <functional>
#include <string>

// Builds the start-up tables once, then puts the session state and settings to their defaults
// and sets the start position, with the engine in Waiting state and no protocol mode.
void resetEngine();

// Sets a position and fails the test (returns false) when setBoard does not accept it as given.
bool setPosition(const std::string& fen);

// Runs fn with standard output captured and returns what it printed.
std::string captureOutput(const std::function<void()>& fn);

// Full path of a file in tests/data.
std::string dataPath(const std::string& name);
