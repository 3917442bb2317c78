#include <cstdarg>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "search/search.h"
#include "tests/support/support.h"

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return buffer;
}

// Runs print with output captured and checks it against expected(elapsed) for some elapsed
// time in the window the call took (the lines carry the time since searchStart).
void expectLine(const std::function<void()>& print, const std::function<std::string(int)>& expected) {
  const int before = nowMs() - searchStart;
  const std::string out = captureOutput(print);
  const int after = nowMs() - searchStart;
  for (int e = before; e <= after; e++)
    if (out == expected(e)) return;
  ADD_FAILURE() << "got:\n" << out << "expected (elapsed " << before << "):\n" << expected(before);
}

// Sets the line of the search: the moves given in coordinates from the current position.
void setLine(std::initializer_list<const char*> moves) {
  int n = 0;
  for (const char* text : moves) {
    const Move m = matchMove(parseCoord(text));
    ASSERT_NE(m, 0u) << text;
    pvTable[0][n++] = m;
    makeMove(m);
  }
  while (n-- > 0) unmakeMove();
  pvLength[0] = int(moves.size());
  ply = 0;
}

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    captureOutput([] { initTT(1 << 20); });
    searchStats = SearchStats{};
    settings.post = 1;
    iterDepth = 3;
    seldepth = 5;
    nodes = 12345;
    qnodes = 0;
    easyMove = 0;
    ttStores = 0;
    searchStart = nowMs() - 1500;
  }
  void TearDown() override {
    captureOutput([] { initTT(16 << 20); });
    resetEngine();
  }
};

TEST_F(OutputTest, Scores) {
  settings.abscore = 1;
  EXPECT_STREQ(formatScore(250), "2.50");
  EXPECT_STREQ(formatScore(-7), "-0.07");
  EXPECT_STREQ(formatScore(0), "draw");
  EXPECT_STREQ(formatScore(32764), "#02");
  EXPECT_STREQ(formatScore(32766), "#");
  EXPECT_STREQ(formatScore(32765), "#");
  EXPECT_STREQ(formatScore(-32763), "-#02");
  EXPECT_STREQ(formatScore(-32766), "-#");
  EXPECT_STREQ(formatScore(32767 - 21), "#11");
  sideToMove = BLACK;
  EXPECT_STREQ(formatScore(250), "-2.50");
  EXPECT_STREQ(formatScore(32764), "-#02");
  settings.abscore = 0;
  EXPECT_STREQ(formatScore(250), "2.50");
  sideToMove = WHITE;
}

TEST_F(OutputTest, TimesAndNodes) {
  EXPECT_STREQ(formatTime(59999), "60.00");
  EXPECT_STREQ(formatTime(1234), "1.23");
  EXPECT_STREQ(formatTime(61500), "1:01");
  EXPECT_STREQ(formatTime(3599999), "59:59");
  EXPECT_STREQ(formatTime(3600000), "1:00:00");
  EXPECT_STREQ(formatTime(3723000), "1:02:03");
  EXPECT_STREQ(formatTime(36000000 + 59000), "10:00:59");
  EXPECT_STREQ(formatClock(65250), "00:01:5.25");
  EXPECT_STREQ(formatClock(3723500), "01:02:3.50");
  nodes = 9999;
  EXPECT_STREQ(formatNodes(), "9999N");
  nodes = 10000;
  EXPECT_STREQ(formatNodes(), "10kN");
  nodes = 99999999;
  EXPECT_STREQ(formatNodes(), "99999kN");
  nodes = 123456789;
  EXPECT_STREQ(formatNodes(), "123mN");
}

TEST_F(OutputTest, UciThinkingLine) {
  uciMode = 1;
  setLine({"e2e4", "e7e5", "g1f3"});
  expectLine([] { printThinking(25, THINK_ITERATION); }, [](int e) {
    return format("info depth 3 seldepth 5 score cp 25 time %d nodes 12345 nps %d pv e2e4 e7e5 g1f3 "
                  "hashfull 0 tbhits 0\n", e, 12345 * 1000 / e);
  });
  searchStats.egtbHits = 7;
  expectLine([] { printThinking(32764, THINK_FAIL_HIGH); }, [](int e) {
    return format("info depth 3 seldepth 5 score mate 2 lowerbound time %d nodes 12345 nps %d pv e2e4 e7e5 g1f3 "
                  "hashfull 0 tbhits 7\n", e, 12345 * 1000 / e);
  });
  searchStart = nowMs();  // within the first second the speed is the node count
  expectLine([] { printThinking(-32762, THINK_NEW_BEST); }, [](int e) {
    return format("info depth 3 seldepth 5 score mate -3 time %d nodes 12345 nps 12345 pv e2e4 e7e5 g1f3 "
                  "hashfull 0 tbhits 7\n", e);
  });
}

TEST_F(OutputTest, LineIsExtendedFromTheTableUpToTheIterationDepth) {
  uciMode = 1;
  setLine({"e2e4"});
  makeMove(matchMove(parseCoord("e2e4")));
  ply = 0;
  const Move reply = matchMove(parseCoord("c7c5"));
  storeTT(0, 0, reply, BOUND_EXACT, 0);
  unmakeMove();
  ply = 0;
  const HashKey key = hashKey;
  iterDepth = 5;
  const std::string out = captureOutput([] { printThinking(0, THINK_ITERATION); });
  EXPECT_NE(out.find(" pv e2e4 c7c5 hashfull "), std::string::npos) << out;
  iterDepth = 1;
  const std::string shorter = captureOutput([] { printThinking(0, THINK_ITERATION); });
  EXPECT_NE(shorter.find(" pv e2e4 hashfull "), std::string::npos) << shorter;
  EXPECT_EQ(hashKey, key);
  EXPECT_EQ(gamePly, 0);
}

TEST_F(OutputTest, XboardThinkingLine) {
  xboardMode = 1;
  consoleMode = 0;
  setLine({"e2e4", "e7e5", "g1f3"});
  expectLine([] { printThinking(25, THINK_ITERATION); },
             [](int e) { return format("3 25 %d 12345 1. e4 e5 2. Nf3\n", e / 10); });
  expectLine([] { printThinking(40, THINK_FAIL_HIGH); },
             [](int e) { return format("++\n3 40 %d 12345 1. e4 e5 2. Nf3\n", e / 10); });
  // Move numbers count the game's half-moves: 1.e4 was played.
  makeMove(matchMove(parseCoord("e2e4")));
  ply = 0;
  setLine({"e7e5", "g1f3", "b8c6"});
  settings.abscore = 1;
  expectLine([] { printThinking(25, THINK_NEW_BEST); },
             [](int e) { return format("3 -25 %d 12345 1. ... e5 2. Nf3 Nc6\n", e / 10); });
  settings.abscore = 0;
  expectLine([] { printThinking(25, THINK_NEW_BEST); },
             [](int e) { return format("3 25 %d 12345 1. ... e5 2. Nf3 Nc6\n", e / 10); });
}

TEST_F(OutputTest, ConsoleThinkingLineAndNoise) {
  consoleMode = 1;
  setLine({"e2e4", "e7e5", "g1f3"});
  iterDepth = 5;
  EXPECT_EQ(captureOutput([] { printThinking(25, THINK_ITERATION); }), "");  // below noise 6
  engineState = STATE_EPD_TESTING;
  iterDepth = 3;
  expectLine([] { printThinking(25, THINK_ITERATION); }, [](int e) {
    return format("1. e4 e5 2. Nf3\n-> (0.25)\tDepth: 3/5\t%s\t12kN (%dkN/s)\n", formatClock(e), 12345 / e);
  });
  engineState = STATE_THINKING;
  settings.noise = 3;
  searchStart = nowMs();
  expectLine([] { printThinking(-32763, THINK_FAIL_HIGH); }, [](int e) {
    return format("1. e4 e5 2. Nf3\n++ (-#02)\tDepth: 3/5\t%s\t12kN (12kN/s)\n", formatClock(e));
  });
  expectLine([] { printThinking(0, THINK_NEW_BEST); }, [](int e) {
    return format("1. e4 e5 2. Nf3\n = (draw)\tDepth: 3/5\t%s\t12kN (12kN/s)\n", formatClock(e));
  });
  settings.post = 0;
  EXPECT_EQ(captureOutput([] { printThinking(0, THINK_NEW_BEST); }), "");
}

TEST_F(OutputTest, ThinkingLineLeavesTheRootListAndPositionAlone) {
  consoleMode = 1;
  settings.noise = 0;
  ASSERT_TRUE(setPosition("r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4"));
  genRootMoves();
  PlyRecord& root = plyStack[0];
  for (int i = 0; i < root.moveCount; i++) root.scores[i] = 1000 - i;
  const PlyRecord saved = root;
  const HashKey key = hashKey;
  setLine({"h5f7"});  // mate: the SAN test generates replies in the next ply
  iterDepth = 1;
  const std::string out = captureOutput([] { printThinking(MATE - 1, THINK_ITERATION); });
  EXPECT_EQ(out.rfind("1. Qxf7#\n", 0), 0u) << out;
  EXPECT_EQ(root.moveCount, saved.moveCount);
  for (int i = 0; i < saved.moveCount; i++) {
    EXPECT_EQ(root.moves[i], saved.moves[i]);
    EXPECT_EQ(root.scores[i], saved.scores[i]);
  }
  EXPECT_EQ(hashKey, key);
  EXPECT_EQ(ply, 0);
  EXPECT_STREQ(rootMoveSAN(saved.moves[0]), moveToSAN(saved.moves[0]));
}

TEST_F(OutputTest, VeryLongLineStopsAtTheBuffer) {
  // 127 plies of knight shuffles: the SAN line with move numbers passes 516 characters.
  uciMode = 0;
  xboardMode = 1;
  const char* cycle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  int n = 0;
  for (; n < 127; n++) {
    const Move m = matchMove(parseCoord(cycle[n % 4]));
    ASSERT_NE(m, 0u);
    pvTable[0][n] = m;
    makeMove(m);
  }
  while (n-- > 0) unmakeMove();
  ply = 0;
  pvLength[0] = 127;
  iterDepth = 127;
  const std::string out = captureOutput([] { printThinking(0, THINK_ITERATION); });
  const size_t lineStart = out.find("1. Nf3");
  ASSERT_NE(lineStart, std::string::npos);
  EXPECT_LE(out.size() - lineStart - 1, 515u);
  EXPECT_GT(out.size() - lineStart, 480u);
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(gamePly, 0);
}

TEST_F(OutputTest, OtherSearchLines) {
  targetTime = 12340;
  EXPECT_EQ(captureOutput(printTimeAllocation), "time allocated: 12.34\n");
  easyMove = 1;
  targetTime = 125000;
  EXPECT_EQ(captureOutput(printTimeAllocation), "time allocated: 2:05   **EASY MOVE DETECTED**\n");
  iterDepth = 7;
  EXPECT_EQ(captureOutput(printInfoDepth), "info depth 7\n");
  EXPECT_EQ(captureOutput([] { printCurrentMove(matchMove(parseCoord("g1f3")), 4); }),
            "info currmove g1f3 currmovenumber 4\n");
  EXPECT_EQ(captureOutput([] { printResignation("1-0"); }), "1-0 {Talvek resigns}\n");
  EXPECT_EQ(captureOutput(printIcsResignation), "tellall Talvek resigns\n");
  settings.abscore = 0;
  rootScore = 137;
  nodes = 2500000;
  expectLine(printIcsSummary, [](int e) {
    return format("tellall score=1.37   depth=7   time=%s   nodes=2500kN   nps=%dkN/s\n", formatTime(e), 2500000 / e);
  });
}

TEST_F(OutputTest, StatisticsBlock) {
  nodes = 1000;
  qnodes = 333;
  SearchStats& st = searchStats;
  st.cutoffs = 8;
  st.firstMoveCutoffs = 7;
  st.nullTries = 3;
  st.nullCuts = 1;
  st.extCheck = 11;
  st.extSingleReply = 12;
  st.extMateThreat = 13;
  st.extPawn7th = 14;
  st.extRecapture = 15;
  st.lateMoveReductions = 16;
  st.hashProbes = 400;
  st.hashHits = 100;
  st.evalProbes = 3;
  st.evalHits = 0;
  st.egtbProbes = 3;
  st.egtbHits = 2;
  prevIterationTime = 1000;
  lastIterationTime = 2500;
  EXPECT_EQ(captureOutput(printStatistics),
            "nodes=1000 (33.00% qnodes)\n"
            "move ordering: 87.50%   EBF: 2.50\n"
            "nulls ->  tries=3   cuts=1 (33.33%)\n"
            "exts  ->  check=11   1reply=12   mate=13\n"
            "          pawn7th=14   recapt=15   pawnendgame=0\n"
            "reds  ->  latemove=16\n"
            "hash  ->  search : probes=400  hits=100 (25.00%)\n"
            "          eval   : probes=3  hits=0 (0.00%)\n"
            "egtb  ->  probes=3   hits=2 (66.00%)\n"
            "egbb  ->  probes=0   hits=0 (0.00%)\n"
            "\n");
  prevIterationTime = 999;
  easyMove = 1;
  st = SearchStats{};
  const std::string out = captureOutput(printStatistics);
  EXPECT_NE(out.find("move ordering: 0.00%   EBF: -\n"), std::string::npos) << out;
  EXPECT_NE(out.find("nulls ->  tries=0   cuts=0 (0.00%)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("**THIS WAS EASY**\n\n"), std::string::npos) << out;
}

}  // namespace
