#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "search/search.h"
#include "tests/support/support.h"

namespace {

constexpr uint32_t MB = 1u << 20;

// A one-bucket table, so that every key competes for the same four slots.
void oneBucket() {
  captureOutput([] { initTT(64); });
  ASSERT_EQ(ttBuckets, 1u);
}

// Stored depth of the slot holding key, -1 when no slot holds it.
int storedDepth(HashKey key) {
  for (const TTEntry& e : ttTable[uint32_t(key) & ttMask].entries)
    if (ttEntryKey(e) == key) return int(ttEntryPacked(e) & 0x1FF);
  return -1;
}

int slotOf(HashKey key) {
  const TTEntry* entries = ttTable[uint32_t(key) & ttMask].entries;
  for (int i = 0; i < TT_BUCKET_ENTRIES; i++)
    if (ttEntryKey(entries[i]) == key) return i;
  return -1;
}

void storeAt(HashKey key, int depth, int score = 0, Move move = 0, int bound = BOUND_EXACT) {
  hashKey = key;
  storeTT(depth, score, move, bound, 0);
}

struct Probe {
  int result, alpha, beta, score, nullAllowed;
  Move move;
};

Probe probeAt(HashKey key, int depth, int alpha, int beta) {
  hashKey = key;
  Probe p{0, alpha, beta, 12345, 1, 77};
  p.result = probeTT(depth, p.alpha, p.beta, p.score, p.move, p.nullAllowed);
  return p;
}

class TTTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    searchStats = SearchStats{};
  }
  void TearDown() override {
    captureOutput([] { initTT(16 * MB); });
    resetEngine();
  }
};

TEST_F(TTTest, SizeIsLargestPowerOfTwoAndIsReported) {
  EXPECT_EQ(captureOutput([] { initTT(MB); }), "Main Hash :   1024 KB  [16K entries]\n");
  EXPECT_EQ(ttBuckets, 16384u);
  EXPECT_EQ(ttMask, 16383u);
  EXPECT_EQ(captureOutput([] { initTT(3 * MB); }), "Main Hash :   2048 KB  [32K entries]\n");
  EXPECT_EQ(ttBuckets, 32768u);
  EXPECT_EQ(captureOutput([] { initTT(16 * MB); }), "Main Hash :  16384 KB  [262K entries]\n");
  EXPECT_EQ(captureOutput([] { initTT(100 * MB); }), "Main Hash :  65536 KB  [1048K entries]\n");
  captureOutput([] { initTT(0); });
  EXPECT_EQ(ttBuckets, 1u);
  captureOutput([] { initTT(127); });
  EXPECT_EQ(ttBuckets, 1u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ttTable) % 64, 0u);
}

TEST_F(TTTest, GigabyteTableStoresAndProbesAtItsFarEnd) {
  EXPECT_EQ(captureOutput([] { initTT(1024 * MB); }), "Main Hash : 1048576 KB  [16777K entries]\n");
  ASSERT_EQ(ttBuckets, 1u << 24);
  const HashKey key = 0x123456789ABCDEF0ULL | ttMask;  // lands in the last bucket
  storeAt(key, 20, 150, 0x4321, BOUND_EXACT);
  Probe p = probeAt(key, 20, -100, 100);
  EXPECT_EQ(p.result, PROBE_EXACT);
  EXPECT_EQ(p.score, 150);
  EXPECT_EQ(p.move, 0x4321u);
}

#if !defined(__SANITIZE_ADDRESS__)
// Asks for a gigabyte in a process limited to less; the message is sent to standard error
// where the death test can read it.
void allocateBeyondLimit() {
  dup2(STDERR_FILENO, STDOUT_FILENO);
  const rlimit limit{768u * MB, 768u * MB};
  setrlimit(RLIMIT_AS, &limit);
  initTT(1024 * MB);
}

TEST_F(TTTest, AllocationFailureReportsAndEndsWithStatusOne) {
  EXPECT_EXIT(allocateBeyondLimit(), ::testing::ExitedWithCode(1),
      "\\*\\*ERROR\\*\\*  initTT\\(\\) : unable to allocate 1073741824 bytes of memory");
}
#endif

TEST_F(TTTest, SecondStoreOfAPositionOverwritesInPlace) {
  oneBucket();
  storeAt(1, 12, 30, 0x1111, BOUND_LOWER);
  EXPECT_EQ(ttStores, 1u);
  storeAt(1, 4, -20, 0, BOUND_UPPER);  // shallower, and no move
  EXPECT_EQ(ttStores, 1u);
  EXPECT_EQ(slotOf(1), 0);
  EXPECT_EQ(storedDepth(1), 4);
  Probe p = probeAt(1, 0, -100, 100);
  EXPECT_EQ(p.score, -20);
  EXPECT_EQ(p.move, 0x1111u);  // the earlier move stays
  storeAt(1, 4, -20, 0x2222, BOUND_UPPER);
  EXPECT_EQ(probeAt(1, 0, -100, 100).move, 0x2222u);
}

TEST_F(TTTest, NewPositionReplacesTheShallowestCurrentEntryFirstOnTies) {
  oneBucket();
  storeAt(1, 12);
  storeAt(2, 8);
  storeAt(3, 8);
  storeAt(4, 20);
  storeAt(5, 40);
  EXPECT_EQ(slotOf(5), 1);
  EXPECT_EQ(slotOf(2), -1);
  EXPECT_EQ(slotOf(3), 2);
  storeAt(6, 40);  // 3 (depth 8) is now the shallowest
  EXPECT_EQ(slotOf(6), 2);
  storeAt(7, 40);  // then 1 (depth 12)
  EXPECT_EQ(slotOf(7), 0);
}

TEST_F(TTTest, EntryOfAnEarlierSearchIsReplacedWhateverItsDepth) {
  oneBucket();
  storeAt(1, 4);
  storeAt(2, 4);
  storeAt(3, 40);  // slot 2, deepest of all
  storeAt(4, 4);
  ttAge = (ttAge + 1) & 7;  // a new search
  storeAt(1, 8);
  storeAt(2, 8);
  storeAt(4, 8);
  storeAt(5, 0);  // slot 2 holds the only entry of the earlier search
  EXPECT_EQ(slotOf(5), 2);
  // Among old entries the shallowest goes: age the bucket again and store two more.
  ttAge = (ttAge + 1) & 7;
  storeAt(6, 60);
  EXPECT_EQ(slotOf(6), 2);  // 5 (depth 0) was the shallowest old entry
  storeAt(7, 60);
  EXPECT_EQ(slotOf(7), 0);  // 1, 2 and 4 all at depth 8: the first goes
}

TEST_F(TTTest, MateScoresCountFromTheStoringNode) {
  oneBucket();
  ply = 3;
  storeAt(1, 8, 32760);
  storeAt(2, 8, -32760);
  storeAt(3, 8, 5000);
  storeAt(4, 8, -5001);
  EXPECT_EQ(probeAt(1, 0, -MATE, MATE).score, 32760);  // same ply: unchanged
  ply = 5;
  EXPECT_EQ(probeAt(1, 0, -MATE, MATE).score, 32758);
  EXPECT_EQ(probeAt(2, 0, -MATE, MATE).score, -32758);
  EXPECT_EQ(probeAt(3, 0, -MATE, MATE).score, 5000);
  EXPECT_EQ(probeAt(4, 0, -MATE, MATE).score, -4999);  // held as -5005
  ply = 0;
  EXPECT_EQ(probeAt(1, 0, -MATE, MATE).score, 32763);  // held as 32764 = 32760 + ply 3 + 1
}

TEST_F(TTTest, ShallowEntryGivesMoveAndNullHintButNoBound) {
  oneBucket();
  storeAt(1, 4, 50, 0x3333, BOUND_UPPER);
  Probe p = probeAt(1, 8, -100, 100);
  EXPECT_EQ(p.result, PROBE_NONE);
  EXPECT_EQ(p.move, 0x3333u);
  EXPECT_EQ(p.nullAllowed, 0);  // an upper bound below beta
  EXPECT_EQ(p.alpha, -100);
  EXPECT_EQ(p.beta, 100);
  p = probeAt(1, 8, -100, 40);  // bound not below beta: null move stays allowed
  EXPECT_EQ(p.nullAllowed, 1);
  p = probeAt(1, -4, -100, 100);  // negative depth never cuts
  EXPECT_EQ(p.result, PROBE_NONE);
}

TEST_F(TTTest, BoundsCutOrNarrowTheWindow) {
  oneBucket();
  storeAt(1, 8, 50, 0, BOUND_UPPER);
  storeAt(2, 8, 50, 0, BOUND_LOWER);
  storeAt(3, 8, 50, 0, BOUND_EXACT);
  Probe p = probeAt(1, 8, -10, 100);
  EXPECT_EQ(p.result, PROBE_NONE);
  EXPECT_EQ(p.beta, 50);
  EXPECT_EQ(p.alpha, -10);
  EXPECT_EQ(probeAt(1, 8, 50, 100).result, PROBE_UPPER_CUT);
  p = probeAt(2, 4, -10, 100);
  EXPECT_EQ(p.result, PROBE_NONE);
  EXPECT_EQ(p.alpha, 50);
  EXPECT_EQ(p.beta, 100);
  EXPECT_EQ(probeAt(2, 8, -10, 50).result, PROBE_LOWER_CUT);
  EXPECT_EQ(probeAt(3, 8, 60, 100).result, PROBE_EXACT);
  p = probeAt(99, 0, -10, 10);  // a miss changes nothing but the move
  EXPECT_EQ(p.result, PROBE_NONE);
  EXPECT_EQ(p.move, 0u);
  EXPECT_EQ(p.score, 12345);
  EXPECT_EQ(searchStats.hashProbes, 6);
  EXPECT_EQ(searchStats.hashHits, 5);
}

TEST_F(TTTest, ClearEmptiesEntriesButKeepsAgeAndCount) {
  oneBucket();
  ttAge = 5;
  storeAt(1, 8, 1, 0x55);
  clearTT();
  EXPECT_EQ(probeAt(1, 0, -MATE, MATE).move, 0u);
  EXPECT_EQ(ttAge, 5);
  EXPECT_EQ(ttStores, 1u);
}

TEST_F(TTTest, HashFullEstimatesDistinctSlots) {
  captureOutput([] { initTT(16 * MB); });
  EXPECT_EQ(hashFull(), 0);
  ttStores = 4 * ttBuckets;  // as many stores as slots
  EXPECT_EQ(hashFull(), 632);
  ttStores = 4 * ttBuckets / 10;
  EXPECT_EQ(hashFull(), 95);
  ttStores = 0xFFFFFFFFu;
  EXPECT_EQ(hashFull(), 1000);
}

}  // namespace
