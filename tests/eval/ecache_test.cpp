// The evaluation cache: sizing, hits, eviction and the side-to-move sign.
#include "tests/eval/eval_fixture.h"

using EvalCache = EvalTest;

TEST_F(EvalCache, SizesToAPowerOfTwo) {
  EXPECT_EQ(captureOutput([] { initECache(3u << 20); }), "Eval Cache:   2048 KB  [131K entries]\n");
  EXPECT_EQ(evalCacheEntries, 131072u);
  EXPECT_EQ(evalCacheMask, 131071u);
  EXPECT_EQ(captureOutput([] { initECache(4u << 20); }), "Eval Cache:   4096 KB  [262K entries]\n");
  EXPECT_EQ(captureOutput([] { initECache(16); }), "Eval Cache:      0 KB  [0K entries]\n");
  EXPECT_EQ(evalCacheEntries, 1u);
  EXPECT_EQ(evalCacheMask, 0u);
}

TEST_F(EvalCache, ZeroSizeGetsTheSmallestTable) {
  captureOutput([] { initECache(0); });
  EXPECT_EQ(evalCacheEntries, 1u);
  place(START_FEN);
  EXPECT_EQ(evaluate(), 0);
}

// Budgets of 2 GiB and more (up to the 4095 MB the commands accept) get the table they ask for,
// not the smallest one.
TEST_F(EvalCache, BudgetsBeyondTwoGigabytesAreTakenAsGiven) {
  EXPECT_EQ(captureOutput([] { initECache(2048u << 20); }),
            "Eval Cache: 2097152 KB  [134217K entries]\n");
  EXPECT_EQ(evalCacheEntries, 1u << 27);
  captureOutput([] { initECache(4095u << 20); });
  EXPECT_EQ(evalCacheEntries, 1u << 27);
  place(START_FEN);
  EXPECT_EQ(evaluate(), 0);
  EXPECT_EQ(evaluate(), 0);
  EXPECT_EQ(searchStats.evalHits, 1);
}

TEST_F(EvalCache, SecondEvaluationIsAHit) {
  place("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3");
  int first = evaluate();
  EXPECT_EQ(searchStats.evalProbes, 1);
  EXPECT_EQ(searchStats.evalHits, 0);
  EXPECT_EQ(evaluate(), first);
  EXPECT_EQ(searchStats.evalProbes, 2);
  EXPECT_EQ(searchStats.evalHits, 1);
  const EvalCacheEntry& e = evalCache[uint32_t(hashKey) & evalCacheMask];
  EXPECT_EQ(e.keyLow, uint32_t(hashKey));
  EXPECT_EQ(e.keyHigh, uint32_t(hashKey >> 32));
  EXPECT_EQ(e.score, first);
  EXPECT_EQ(e.spare, 0u);
}

TEST_F(EvalCache, StoresWhiteRelativeScores) {
  place("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 2 3");
  int first = evaluate();
  const EvalCacheEntry& e = evalCache[uint32_t(hashKey) & evalCacheMask];
  EXPECT_EQ(e.score, -first);
  EXPECT_EQ(evaluate(), first);
  EXPECT_EQ(searchStats.evalHits, 1);
  // A planted entry answers for Black with its sign turned.
  evalCache[uint32_t(hashKey) & evalCacheMask].score = 123;
  EXPECT_EQ(evaluate(), -123);
}

TEST_F(EvalCache, PositionsSharingAnEntryEvictEachOther) {
  captureOutput([] { initECache(16); });  // one entry: every key shares it
  place(START_FEN);
  HashKey start = hashKey;
  evaluate();
  place("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  evaluate();
  EXPECT_EQ(evalCache[0].keyLow, uint32_t(hashKey));
  place(START_FEN);
  ASSERT_EQ(hashKey, start);
  evaluate();
  EXPECT_EQ(searchStats.evalHits, 0);
  evaluate();
  EXPECT_EQ(searchStats.evalHits, 1);
}

TEST_F(EvalCache, NoTableMeansNoCaching) {
  freeECache();
  place(START_FEN);
  EXPECT_EQ(evaluate(), 0);
  EXPECT_EQ(evaluate(), 0);
  EXPECT_EQ(searchStats.evalHits, 0);
}
