// Runs the built talvek program in a fresh temporary directory with a given standard input,
// for the tests that need the whole program: start-up, the command-line switch, end of input.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

struct ProgramRun {
  std::string output;  // everything written to standard output
  int exitCode;        // -1 when the program did not exit normally
};

// Starts TALVEK_BINARY with args in a new directory holding talvek.ini when settingsFile is not
// null, feeds it input and waits for it to end.
inline ProgramRun runProgram(const std::string& input, const std::string& args = "",
                             const char* settingsFile = nullptr) {
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/talvek-program-XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) return {"mkdtemp failed", -1};
  std::ofstream(std::string(dir) + "/input.txt", std::ios::binary) << input;
  if (settingsFile != nullptr) std::ofstream(std::string(dir) + "/talvek.ini", std::ios::binary) << settingsFile;
  std::string command = std::string("cd '") + dir + "' && '" TALVEK_BINARY "' " + args + " < input.txt";
  ProgramRun run{"", -1};
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, n);
    int status = pclose(pipe);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return run;
}
