#include <climits>
#include <cstdint>
#include <sstream>
#include <string>

#include "tests/search/search_fixture.h"

namespace {

class ThinkTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    settings.post = 0;
    engineState = STATE_WAITING;
  }
  // Runs think with output captured.
  std::string thinkQuietly() { return captureOutput(think); }
};

TEST_F(ThinkTest, NoLegalMoveLeavesNoMove) {
  place("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");
  thinkQuietly();
  EXPECT_EQ(pvTable[0][0], 0u);
}

TEST_F(ThinkTest, SingleLegalMoveIsPlayedAtOnceAndSilently) {
  ASSERT_TRUE(setPosition("R6k/6p1/8/8/8/8/8/4K3 b - - 0 1"));
  consoleMode = 1;
  settings.post = 1;
  engineState = STATE_THINKING;
  EXPECT_EQ(thinkQuietly(), "");
  EXPECT_EQ(pvTable[0][0], moveOf("h8h7"));
  EXPECT_EQ(nodes, 0u);
  engineState = STATE_PONDERING;  // a ponder search still searches
  settings.post = 0;
  limits.maxDepth = 2;
  thinkQuietly();
  EXPECT_GT(nodes, 0u);
}

TEST_F(ThinkTest, EasyMoveIsAnnouncedAfterTheAllocation) {
  ASSERT_TRUE(setPosition("4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1"));  // Rxd5 wins a queen
  consoleMode = 1;
  settings.post = 1;
  engineState = STATE_THINKING;
  limits.untimed = 0;
  engineClock = 60000;
  limits.maxDepth = 1;
  const std::string out = thinkQuietly();
  const std::string first = out.substr(0, out.find('\n'));
  EXPECT_EQ(first.rfind("time allocated: ", 0), 0u) << out;
  EXPECT_EQ(first.substr(first.size() - 25), "   **EASY MOVE DETECTED**") << out;
  EXPECT_NE(out.find("**THIS WAS EASY**\n"), std::string::npos) << out;
  EXPECT_EQ(pvTable[0][0], moveOf("d1d5"));
}

TEST_F(ThinkTest, LaterRootMoveThatBeatsTheFirstIsSearchedAgain) {
  // Capturing the pawn on h5 leads the pre-search; pinning the queen wins more two plies on.
  ASSERT_TRUE(setPosition("4k3/8/8/4q2p/8/6N1/8/R4K2 w - - 0 1"));
  limits.maxDepth = 2;
  thinkQuietly();
  EXPECT_EQ(pvTable[0][0], moveOf("a1e1"));
  EXPECT_EQ(rootResearch, 1);
  EXPECT_EQ(easyMove, 0);
}

TEST_F(ThinkTest, MateForTheEngineEndsDeepeningInAGameButNotWhenInfinite) {
  const char* mateInTwo = "6k1/8/8/8/8/8/R7/1R4K1 w - - 0 1";
  ASSERT_TRUE(setPosition(mateInTwo));
  engineState = STATE_THINKING;
  limits.untimed = 0;
  engineClock = 3600000;
  limits.maxDepth = 10;
  thinkQuietly();
  EXPECT_EQ(rootScore, MATE - 3);
  EXPECT_EQ(iterDepth, 4u);
  EXPECT_EQ(stopSearch, 0);
  ASSERT_TRUE(setPosition(mateInTwo));
  limits.untimed = 1;
  limits.maxDepth = 6;
  thinkQuietly();
  EXPECT_EQ(iterDepth, 6u);
}

TEST_F(ThinkTest, UciDepthLimitRunsThoseIterations) {
  uciMode = 1;
  settings.post = 1;
  limits.maxDepth = 3;
  const std::string out = thinkQuietly();
  const size_t d1 = out.find("info depth 1\n"), d2 = out.find("info depth 2\n"), d3 = out.find("info depth 3\n");
  ASSERT_NE(d1, std::string::npos) << out;
  EXPECT_LT(d1, d2);
  EXPECT_LT(d2, d3);
  EXPECT_EQ(out.find("info depth 4"), std::string::npos);
  EXPECT_NE(out.find("info currmove "), std::string::npos);
  EXPECT_NE(out.find("info depth 3 seldepth "), std::string::npos);
  EXPECT_GE(pvLength[0], 2);  // a ponder move for the bestmove line
}

// A line cut short by a transposition-table hit below the root (a second, shallower search of
// the same position) gets as its expected reply the second move its thinking line shows.
TEST_F(ThinkTest, AShortLineTakesTheReplyItsThinkingLineShows) {
  ASSERT_TRUE(setPosition("r3k2r/pp3ppp/2n1bn2/2bpp3/4P3/2NP1N2/PPP1BPPP/R1B1K2R w KQkq - 0 1"));
  uciMode = 1;
  limits.maxDepth = 7;
  thinkQuietly();
  settings.post = 1;
  limits.maxDepth = 3;
  const std::string out = thinkQuietly();
  ASSERT_EQ(pvLength[0], 1) << out;  // the case this is about
  const size_t line = out.rfind(" pv ");
  std::istringstream shown(out.substr(line + 4, out.find('\n', line) - line - 4));
  std::string first, second;
  shown >> first >> second;
  EXPECT_EQ(first, moveToUci(pvTable[0][0])) << out;
  ASSERT_FALSE(second.empty()) << out;
  EXPECT_EQ(second, moveToUci(pvTable[0][1])) << out;
}

TEST_F(ThinkTest, NoCompletedRootMovePlaysThePreSearchBest) {
  ASSERT_TRUE(setPosition("4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1"));
  limits.maxDepth = 0;
  thinkQuietly();
  EXPECT_EQ(pvTable[0][0], moveOf("d1d5"));
  EXPECT_EQ(pvLength[0], 1);
  EXPECT_GT(rootScore, 500);  // the pre-search score of the capture
  EXPECT_EQ(iterDepth, 0u);
}

TEST_F(ThinkTest, PreSearchIsTimedByItsOwnBudget) {
  // Twelve queens: the quiescence pre-search passes several polls. The budget left by a quick
  // search before must not stop it; five minutes on the clock leave time for an iteration.
  ASSERT_TRUE(setPosition("qqqqkqq1/8/8/8/8/8/8/QQQQKQQ1 w - - 0 1"));
  engineState = STATE_THINKING;
  limits.untimed = 0;
  nextPoll = POLL_INTERVAL;
  engineClock = 300000;
  targetTime = maxTime = 0;
  limits.maxDepth = 1;
  thinkQuietly();
  EXPECT_GT(nodes, uint64_t(POLL_INTERVAL));
  EXPECT_EQ(iterDepth, 1u);
  EXPECT_NE(prevScore, -MATE);  // the iteration completed
}

TEST_F(ThinkTest, AnyMateLengthIsAStopRule) {
  const char* mateInTwo = "6k1/8/8/8/8/8/R7/1R4K1 w - - 0 1";
  ASSERT_TRUE(setPosition(mateInTwo));
  limits.maxDepth = 8;
  limits.mate = 2;
  thinkQuietly();
  EXPECT_EQ(rootScore, MATE - 3);
  EXPECT_EQ(iterDepth, 3u);
  ASSERT_TRUE(setPosition(mateInTwo));
  limits.mate = INT_MAX;  // "go mate 2147483647": any mate ends the search
  thinkQuietly();
  EXPECT_EQ(iterDepth, 3u);
  limits.mate = 0;
}

TEST_F(ThinkTest, DepthLimitIsClampedSoTableDepthsFit) {
  place("8/8/8/4k3/8/8/8/4K3 w - - 0 1");  // a dead draw: each iteration is instant
  limits.maxDepth = 1000;
  thinkQuietly();
  EXPECT_EQ(iterDepth, 127u);
  EXPECT_NE(pvTable[0][0], 0u);
}

TEST_F(ThinkTest, StopFromInputKeepsTheLastLineAndThePosition) {
  ASSERT_TRUE(setPosition("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4"));
  char before[FEN_BUFFER], after[FEN_BUFFER];
  getFEN(before);
  pollHook = [] { stopSearch = 1; };
  limits.maxDepth = 64;
  thinkQuietly();
  getFEN(after);
  EXPECT_STREQ(before, after);
  EXPECT_EQ(ply, 0);
  EXPECT_EQ(gamePly, 0);
  EXPECT_NE(pvTable[0][0], 0u);
  EXPECT_LT(iterDepth, 64u);
  EXPECT_LT(nodes, 2u * POLL_INTERVAL);
}

TEST_F(ThinkTest, EpdRecordEndsThePositionOnceTheAnswerHolds) {
  ASSERT_TRUE(setPosition("4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1"));
  engineState = STATE_EPD_TESTING;
  limits.untimed = 0;
  limits.moveTime = 1000000;
  limits.maxDepth = 6;
  epdIterations = 2;
  epdRecord = "4k3/8/8/3q4/8/8/8/3RK3 w - - bm Rxd5; id \"free queen\";";
  thinkQuietly();
  EXPECT_EQ(iterDepth, 2u);
  ASSERT_TRUE(setPosition("4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1"));
  epdRecord = "4k3/8/8/3q4/8/8/8/3RK3 w - - am Rxd5; id \"avoid it\";";
  thinkQuietly();
  EXPECT_EQ(iterDepth, 6u);
  epdRecord = nullptr;
  limits.moveTime = 0;
}

TEST_F(ThinkTest, ResignAfterTheSetNumberOfLostSearches) {
  settings.resignThreshold = 300;
  settings.resignCount = 3;
  engineSide = WHITE;
  opponentClock = 60000;
  rootScore = -400;
  resignStreak = 0;
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(checkResign(), 0); }), "");
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(checkResign(), 0); }), "");
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(checkResign(), 1); }), "0-1 {Talvek resigns}\n");
  EXPECT_EQ(engineSide, NO_SIDE);
  EXPECT_EQ(gameOver, 1);
  // The streak starts again: the next game does not resign after a single bad search.
  engineSide = BLACK;
  gameOver = 0;
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(checkResign(), 0); }), "");
  rootScore = -300;  // not below the threshold: the streak is broken
  checkResign();
  rootScore = -400;
  checkResign();
  checkResign();
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(checkResign(), 1); }), "1-0 {Talvek resigns}\n");
  // Never while the opponent is short of time, unless the increment is generous.
  resignStreak = 10;
  engineSide = WHITE;
  opponentClock = 29999;
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(checkResign(), 0); }), "");
  engineIncrement = 5000;
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(checkResign(), 1); }), "0-1 {Talvek resigns}\n");
  engineIncrement = 0;
}

}  // namespace
