#include <string>

#include <gtest/gtest.h>

#include "search/search.h"
#include "tests/support/support.h"

namespace {

class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    engineClock = opponentClock = 0;
    engineIncrement = opponentIncrement = 0;
    movesPerControl = limits.moveTime = limits.untimed = 0;
    scoreDropped = prevScoreDropped = rootResearch = easyMove = rootMovesDone = 0;
    iterDepth = 1;
    engineState = STATE_THINKING;
  }
  void TearDown() override { resetEngine(); }

  // Budget for a clock, an increment, a control of moves and game plies played.
  void allocate(int clock, int increment, int control, int plies, int ponder) {
    engineClock = clock;
    engineIncrement = increment;
    movesPerControl = control;
    gamePly = plies;
    settings.ponder = ponder;
    allocateTime();
  }
};

TEST_F(TimeTest, ControlWithPonderingGetsThirtyPercentMore) {
  allocate(300000, 0, 40, 20, 1);  // ten moves played: thirty to go
  EXPECT_EQ(targetTime, 12305);
  EXPECT_EQ(maxTime, 142000);
  allocate(300000, 0, 40, 20, 0);
  EXPECT_EQ(targetTime, 9466);
}

TEST_F(TimeTest, SuddenDeathWithIncrement) {
  allocate(60000, 2000, 0, 7, 0);
  EXPECT_EQ(targetTime, 3800);
  EXPECT_EQ(maxTime, 56000);  // half of 114,000, clamped to the safe clock
}

TEST_F(TimeTest, LastMoveOfAControlMaySpendTheWholeSafeClock) {
  allocate(100000, 0, 40, 78, 1);  // 39 moves played
  EXPECT_EQ(targetTime, 94000);
  EXPECT_EQ(maxTime, 94000);
  allocate(100000, 0, 40, 80, 0);  // a new control starts: 40 to go
  EXPECT_EQ(targetTime, 2350);
}

// The overhead comes off the clock before anything else: every budget is the one of a clock
// shorter by exactly the overhead, in every protocol and control; a fixed move time stays.
TEST_F(TimeTest, MoveOverheadIsTakenOffTheClock) {
  struct Case { int clock, increment, control, plies, ponder; };
  for (const Case c : {Case{300000, 0, 40, 20, 1}, Case{20000, 200, 0, 30, 1}, Case{4840, 200, 0, 60, 0},
                       Case{100000, 0, 40, 78, 0}}) {
    for (int overhead : {1, 100, 5000}) {
      for (int uci : {0, 1}) {
        uciMode = uci;
        settings.moveOverhead = 0;
        allocate(c.clock - overhead, c.increment, c.control, c.plies, c.ponder);
        const int target = targetTime, maximum = maxTime;
        settings.moveOverhead = overhead;
        allocate(c.clock, c.increment, c.control, c.plies, c.ponder);
        EXPECT_EQ(targetTime, target) << c.clock << " " << overhead;
        EXPECT_EQ(maxTime, maximum) << c.clock << " " << overhead;
      }
    }
  }
  settings.moveOverhead = 0;
  allocate(4840, 200, 0, 60, 0);  // 20 s + 0.2 s with 4.84 s left
  EXPECT_EQ(targetTime, 313);
  EXPECT_EQ(maxTime, 3598);
  settings.moveOverhead = 5000;  // more than the clock: nothing to spend
  allocate(4840, 200, 0, 60, 0);
  EXPECT_EQ(targetTime, 0);
  EXPECT_EQ(maxTime, 0);
  limits.moveTime = 700;
  allocateTime();
  EXPECT_EQ(targetTime, 700);
}

TEST_F(TimeTest, UciMovesToGoIsTakenAsGiven) {
  uciMode = 1;
  allocate(100000, 0, 1, 78, 0);
  EXPECT_EQ(targetTime, 94000);
  allocate(100000, 0, 40, 78, 0);  // no counting of played moves under UCI
  EXPECT_EQ(targetTime, 2350);
  allocate(100000, 0, 0, 78, 0);
  EXPECT_EQ(targetTime, 3133);
}

TEST_F(TimeTest, FixedMoveTimeIsTheTargetAndKeepsTheOldMaximum) {
  allocate(300000, 0, 40, 20, 1);
  limits.moveTime = 5000;
  allocate(1000, 0, 0, 0, 1);
  EXPECT_EQ(targetTime, 5000);
  EXPECT_EQ(maxTime, 142000);
}

TEST_F(TimeTest, ShortOrNegativeClocksLeaveNothing) {
  allocate(1053, 0, 0, 0, 1);
  EXPECT_EQ(targetTime, 0);
  EXPECT_EQ(maxTime, 0);
  allocate(-5000, 3000, 0, 0, 0);  // increments to come never exceed what the clock holds now
  EXPECT_EQ(targetTime, 0);
  EXPECT_EQ(maxTime, 0);
  allocate(1100, 0, 0, 0, 0);  // 45 ms are safe
  EXPECT_EQ(maxTime, 22);
}

TEST_F(TimeTest, ExtremeClocksStayWithinTheClock) {
  // "go wtime 2000000000 btime 2000000000 movestogo 1" with pondering: the whole safe clock.
  uciMode = 1;
  allocate(2000000000, 0, 1, 0, 1);
  EXPECT_EQ(targetTime, 1899999000);
  EXPECT_EQ(maxTime, 1899999000);
  allocate(2147483647, 2147483647, 2000000000, 0, 1);  // a control longer than any game
  EXPECT_EQ(targetTime, 2040108464);                    // the safe clock: 95 % less one second
  EXPECT_EQ(maxTime, 2040108464);
  uciMode = 0;
  allocate(2147483647, 2147483647, 60, 0, 1);  // xboard "level 60 35791 2147483"
  EXPECT_EQ(targetTime, 2040108464);
  EXPECT_EQ(maxTime, 2040108464);
}

TEST_F(TimeTest, NonsenseControlsAndIncrementsCountAsNone) {
  allocate(100000, 0, 0, 10, 0);
  const int target = targetTime, maximum = maxTime;
  for (int control : {-1, -40, -2147483647 - 1}) {
    allocate(100000, 0, control, 10, 0);
    EXPECT_EQ(targetTime, target) << control;
    EXPECT_EQ(maxTime, maximum) << control;
  }
  allocate(100000, -2147483647 - 1, 0, 10, 0);
  EXPECT_EQ(targetTime, target);
  EXPECT_EQ(maxTime, maximum);
  limits.moveTime = -5;  // a negative fixed time still stops at the first check
  allocateTime();
  EXPECT_EQ(targetTime, 1);
}

TEST_F(TimeTest, CheckPastTheTarget) {
  targetTime = 1000;
  maxTime = 5000;
  searchStart = nowMs() - 2000;
  checkTime();
  EXPECT_EQ(stopSearch, 1);  // no root move finished, no drop pending
  stopSearch = 0;
  rootMovesDone = 1;
  checkTime();
  EXPECT_EQ(stopSearch, 0);
  rootMovesDone = 0;
  prevScoreDropped = 1;
  checkTime();
  EXPECT_EQ(stopSearch, 0);
  searchStart = nowMs() - 6000;  // past the maximum: nothing helps
  checkTime();
  EXPECT_EQ(stopSearch, 1);
}

TEST_F(TimeTest, CheckNeverStopsPonderingOrInfiniteAndAlwaysStopsAFixedTime) {
  targetTime = maxTime = 0;
  searchStart = nowMs() - 2000;
  engineState = STATE_PONDERING;
  checkTime();
  EXPECT_EQ(stopSearch, 0);
  engineState = STATE_THINKING;
  limits.untimed = 1;
  checkTime();
  EXPECT_EQ(stopSearch, 0);
  limits.untimed = 0;
  limits.moveTime = 1500;
  targetTime = 1500;
  maxTime = 100000;
  rootMovesDone = 3;
  checkTime();
  EXPECT_EQ(stopSearch, 1);
  stopSearch = 0;
  searchStart = nowMs();
  checkTime();
  EXPECT_EQ(stopSearch, 0);
}

TEST_F(TimeTest, UciProgressLineAtMostOncePerSecondAfterTheFirst) {
  uciMode = 1;
  limits.untimed = 1;
  nodes = 3000;
  lastInfoTime = 777;
  searchStart = nowMs() - 500;
  EXPECT_EQ(captureOutput(checkTime), "");
  EXPECT_EQ(lastInfoTime, 0);
  searchStart = nowMs() - 1500;
  const std::string line = captureOutput(checkTime);
  EXPECT_EQ(line.rfind("info time ", 0), 0u) << line;
  EXPECT_NE(line.find(" nodes 3000 nps "), std::string::npos) << line;
  EXPECT_NE(line.find(" hashfull 0 tbhits 0\n"), std::string::npos) << line;
  EXPECT_GE(lastInfoTime, 1500);
  EXPECT_EQ(captureOutput(checkTime), "");
  searchStart -= 1000;
  EXPECT_NE(captureOutput(checkTime), "");
}

TEST_F(TimeTest, EndOfIterationRules) {
  targetTime = 10000;
  EXPECT_EQ(endOfIteration(5000, 0, 0), 0);
  EXPECT_EQ(endOfIteration(6500, 0, 0), 1);  // 65 % of the target, stable score
  EXPECT_EQ(stopSearch, 1);
  stopSearch = 0;
  rootResearch = 1;
  EXPECT_EQ(endOfIteration(6500, 0, 0), 0);
  EXPECT_EQ(endOfIteration(10000, 0, 1), 0);  // a dropped score may use time up to the maximum
  EXPECT_EQ(endOfIteration(10000, 0, 0), 1);
  stopSearch = 0;
  rootResearch = 0;
  easyMove = 1;
  EXPECT_EQ(endOfIteration(2400, 0, 1), 0);
  EXPECT_EQ(endOfIteration(2500, 0, 1), 1);
  EXPECT_EQ(stopSearch, 1);
}

TEST_F(TimeTest, MateWithinTheDepthEndsDeepeningWithoutStopping) {
  targetTime = 100000;
  iterDepth = 4;
  EXPECT_EQ(endOfIteration(10, MATE - 3, 0), 1);
  EXPECT_EQ(stopSearch, 0);
  iterDepth = 3;
  EXPECT_EQ(endOfIteration(10, MATE - 3, 0), 0);
  iterDepth = 20;
  EXPECT_EQ(endOfIteration(10, 3 - MATE, 0), 0);  // being mated never ends it
}

}  // namespace
