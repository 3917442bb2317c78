// Thousands of random and malformed lines through the real main loop: nothing may crash, the
// position must stay consistent and the engine must still answer afterwards. Lines that would
// end the process, run a shell, switch protocol, or start a long perft or the speed test are
// left out of the input.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "frontend/frontend.h"
#include "tests/support/support.h"

namespace {

const char* const WORDS[] = {"fen",    "help",   "lmoves", "newgame",  "perft",       "setboard",
                             "tc",     "init",   "abscore", "beep",    "board",       "zelt",
                             "zeltcache", "zeltpath", "noise", "ponder", "post",      "resign",
                             "nalimovcache", "nalimovpath", "egbbcache", "egbbpath", "e2e4",
                             "on",     "off",    "ON",     "-3",       "0",           "1",
                             "2",      "99999999999999999999", "-2147483648", "\t", "x\ty"};

class LineMaker {
 public:
  explicit LineMaker(unsigned seed) : random(seed) {}

  std::string next() {
    switch (below(8)) {
      case 0: return randomBytes(1 + below(200));
      case 1: return commandWithArguments();
      case 2: return word() + " " + std::string(128 + below(5000), char('a' + below(26)));
      case 3: return wordsLine(500 + below(1200));  // 4000 to 9000 characters or so
      case 4: return wordsLine(30 + below(70));
      case 5: return (below(2) ? "setboard " : "s ") + fenLike(below(80));
      case 6: return moveLike();
      default: return word().substr(0, 1 + below(4)) + " " + word();
    }
  }

 private:
  std::mt19937 random;

  int below(int n) { return int(random() % unsigned(n)); }
  std::string word() { return WORDS[below(sizeof WORDS / sizeof WORDS[0])]; }

  std::string randomBytes(int n) {
    std::string s;
    for (int i = 0; i < n; i++) {
      char c = char(below(256));
      s += c == '\n' ? ' ' : c;
    }
    return s;
  }

  std::string commandWithArguments() {
    std::string line = word();
    for (int i = below(6); i > 0; i--) line += (below(4) ? " " : "  ") + (below(3) ? word() : randomBytes(1 + below(8)));
    return line;
  }

  std::string wordsLine(int count) {
    std::string line;
    for (int i = 0; i < count; i++) line += word() + " ";
    return line;
  }

  std::string fenLike(int n) {
    static const char alphabet[] = "rnbqkpRNBQKP0123456789/ wb-KQkqabcdefgh36";
    std::string s;
    for (int i = 0; i < n; i++) s += alphabet[below(sizeof alphabet - 1)];
    return s;
  }

  std::string moveLike() {
    std::string s;
    for (int i = 0; i < 4; i++) s += char(i % 2 ? '1' + below(8) : 'a' + below(8));
    if (below(2)) s += "qrbnkx=+\r"[below(9)];
    return s;
  }
};

// True when the line, as the loop will read it, must not be fed to it.
bool excluded(const std::string& line) {
  size_t length = std::min(line.size(), size_t(LINE_SIZE - 2));
  std::memcpy(lineBuffer, line.data(), length);
  lineBuffer[length] = '\0';
  char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  if (firstWord(typed, lower) == 0) return false;
  if (lower[0] == '!' || matchCommand("quit", lower) || matchCommand("speedtest", lower) ||
      matchCommand("xboard", lower))
    return true;
  if (matchCommand("perft", lower)) {
    tokeniseLine();
    return parseNumber(tokens[1]) > 2;
  }
  return false;
}

}  // namespace

TEST(LoopFuzz, MalformedLinesNeverBreakTheEngine) {
  resetEngine();
  consoleMode = 1;
  LineMaker maker(20240611);
  std::string input;
  int fed = 0;
  while (fed < 3000) {
    std::string line = maker.next();
    if (excluded(line)) continue;
    input += line + "\n";
    fed++;
  }
  input += "fen\n";
  std::string out = captureOutput([&] {
    FILE* file = fmemopen(input.data(), input.size(), "r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(mainLoop(file), 0);
    std::fclose(file);
  });
  EXPECT_TRUE(boardIsConsistent());
  EXPECT_LE(tokenCount, MAX_TOKENS);
  EXPECT_EQ(engineState, STATE_WAITING);
  size_t last = out.rfind("FEN: ");
  ASSERT_NE(last, std::string::npos);
  EXPECT_NE(out.find('\n', last), std::string::npos);
}
