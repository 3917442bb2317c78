// Shared set-up of the search tests: a small cleared table, zeroed counters and history, no polling and no
// clock, and helpers that run one search node the way the search itself would.
#pragma once

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "eval/eval.h"
#include "search/search.h"
#include "tests/support/support.h"

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    captureOutput([] { initTT(1 << 20); });
    searchStats = SearchStats{};
    std::memset(historyScores, 0, sizeof historyScores);
    nodes = qnodes = 0;
    nextPoll = 1ull << 62;
    pollHook = nullptr;
    limits.untimed = 1;
    limits.moveTime = 0;
    seldepth = 0;
    iterDepth = 1;
    ttAge = 1;
  }
  void TearDown() override {
    pollHook = nullptr;
    limits.untimed = 0;
    captureOutput([] { initTT(16 << 20); });
    resetEngine();
  }

  // Sets a position that may be mate or stalemate (setBoard then announces the result).
  static void place(const std::string& fen) {
    captureOutput([&] { setBoard(fen.c_str()); });
  }

  // The legal move with this coordinate text in the current position.
  static Move moveOf(const char* text) {
    const Move m = matchMove(parseCoord(text));
    EXPECT_NE(m, 0u) << text;
    return m;
  }

  // Plays a move as the game does: it becomes history, and the search starts from ply 0.
  static void playMove(const char* text) {
    makeMove(moveOf(text));
    ply = 0;
  }

  // Searches the current position as a node of the search at the current ply.
  static int searchNode(int depth, int alpha, int beta, int nullAllowed = 1) {
    plyStack[ply].checkCount = findCheckers(plyStack[ply].checkers);
    return search(depth, alpha, beta, nullAllowed);
  }

  // Depth stored for key, -1 when the table does not hold it.
  static int storedDepth(HashKey key) {
    for (const TTEntry& e : ttTable[uint32_t(key) & ttMask].entries)
      if (ttEntryKey(e) == key) return int(ttEntryPacked(e) & 0x1FF);
    return -1;
  }

  // Key of the position after move, which is made and taken back.
  static HashKey keyAfter(Move m) {
    makeMove(m);
    const HashKey key = hashKey;
    unmakeMove();
    return key;
  }
};
