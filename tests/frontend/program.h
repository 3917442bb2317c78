// Runs the built talvek program in a fresh temporary directory, for the tests that need the
// whole program: start-up, the command-line switch, end of input, and talking to it through
// pipes while it searches.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

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

// The built talvek program as a live process in a fresh temporary directory: lines are sent to
// its standard input one at a time and its output is read as it comes, so that a test can
// talk to it while it searches.
class EngineProcess {
 public:
  explicit EngineProcess(const std::string& args = "") {
    signal(SIGPIPE, SIG_IGN);  // a line sent after the engine ended must not end the test
    char pattern[] = "/tmp/talvek-engine-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) dir = made;
    int toEngine[2], fromEngine[2];
    if (dir.empty() || pipe(toEngine) != 0 || pipe(fromEngine) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(toEngine[0], 0);
      dup2(fromEngine[1], 1);
      close(toEngine[1]);
      close(fromEngine[0]);
      if (chdir(dir.c_str()) != 0) _exit(127);
      if (args.empty())
        execl(TALVEK_BINARY, TALVEK_BINARY, (char*)nullptr);
      else
        execl(TALVEK_BINARY, TALVEK_BINARY, args.c_str(), (char*)nullptr);
      _exit(127);
    }
    close(toEngine[0]);
    close(fromEngine[1]);
    input = toEngine[1];
    output = fromEngine[0];
  }

  ~EngineProcess() {
    if (input >= 0) close(input);
    if (pid > 0 && waitExit(5000) == -2) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (output >= 0) close(output);
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }

  bool running() const { return pid > 0; }

  void send(const std::string& line) {
    std::string text = line + "\n";
    if (input >= 0 && write(input, text.data(), text.size()) != ssize_t(text.size())) closeInput();
  }

  // Writes text as it is, without a newline: a piece of a line, as a relay may deliver it.
  void sendPiece(const std::string& text) {
    if (input >= 0 && write(input, text.data(), text.size()) != ssize_t(text.size())) closeInput();
  }

  void closeInput() {
    if (input >= 0) close(input);
    input = -1;
  }

  // Reads until the output read since the last mark contains text, for at most timeoutMs.
  // Returns true when it came; taken() then gives everything read since the mark.
  bool waitFor(const std::string& text, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pending.find(text) == std::string::npos) {
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0 || !readSome(left)) return false;
    }
    return true;
  }

  // Reads whatever arrives within ms milliseconds.
  void drain(int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0 || !readSome(left)) return;
    }
  }

  // Waits for a whole line that begins with prefix and returns it without its newline; the
  // output up to that line's end is taken, what follows stays. Empty when none came in time.
  std::string takeLine(const std::string& prefix, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      size_t at = pending.compare(0, prefix.size(), prefix) == 0 ? 0 : pending.find('\n' + prefix);
      if (at != 0 && at != std::string::npos) at++;
      size_t end = at == std::string::npos ? at : pending.find('\n', at);
      if (end != std::string::npos) {
        std::string line = pending.substr(at, end - at);
        pending.erase(0, end + 1);
        return line;
      }
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0 || !readSome(left)) return "";
    }
  }

  // Puts text back in front of the output not yet taken.
  void keep(const std::string& text) { pending = text + pending; }

  // The output read since the last call, which starts a new mark.
  std::string taken() {
    std::string text = std::move(pending);
    pending.clear();
    return text;
  }

  // Waits for the process to end: its exit code, -1 for another end, -2 when it did not end.
  int waitExit(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      drain(10);
      usleep(10000);  // the output may have ended before the process did
    } while (std::chrono::steady_clock::now() < deadline);
    return -2;
  }

 private:
  bool readSome(int timeoutMs) {
    pollfd ready{output, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) return false;
    char chunk[4096];
    ssize_t n = read(output, chunk, sizeof chunk);
    if (n <= 0) return false;
    pending.append(chunk, size_t(n));
    return true;
  }

  std::string dir;
  pid_t pid = -1;
  int input = -1;
  int output = -1;
  std::string pending;
};
