// Helpers of the front-end tests: the search's tables, the main loop over a text, and typed
// lines through the real dispatcher.
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"
#include "tests/support/support.h"

// Small transposition table and evaluation cache (allocated once; their size lines are not
// captured), as start-up leaves them.
inline void initSearchTables() {
  static bool done = false;
  if (done) return;
  std::string ignored = captureOutput([] {
    initTT(1 << 20);
    initECache(1 << 20);
  });
  done = true;
}

// Runs one typed line through the dispatcher and returns what it printed; known receives the
// dispatcher's result.
inline std::string typeLine(const std::string& line, int* known = nullptr) {
  return captureOutput([&] {
    int result = runCommandLine(line.c_str());
    if (known != nullptr) *known = result;
  });
}

// Runs the main loop over input in-process and returns what it printed.
inline std::string runLoop(const std::string& input) {
  return captureOutput([&] {
    FILE* file = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(mainLoop(file), 0);
    std::fclose(file);
  });
}

// True when text equals pattern, where each "{}" in pattern stands for any run of characters
// other than a newline (times, node counts, speeds that vary from run to run).
inline bool matchesMask(const std::string& text, const std::string& pattern, size_t t = 0, size_t p = 0) {
  while (p < pattern.size()) {
    if (pattern.compare(p, 2, "{}") == 0) {
      for (size_t end = t;; end++) {
        if (matchesMask(text, pattern, end, p + 2)) return true;
        if (end >= text.size() || text[end] == '\n') return false;
      }
    }
    if (t >= text.size() || text[t] != pattern[p]) return false;
    t++;
    p++;
  }
  return t == text.size();
}

inline std::string currentFen() {
  char fen[FEN_BUFFER];
  getFEN(fen);
  return fen;
}
