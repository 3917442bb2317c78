// Transposition table: four-entry buckets addressed by the low key half, verified with all 64
// bits; replacement prefers entries of earlier searches, then the shallowest.
#include <sys/mman.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "search/search.h"

TTBucket* ttTable = nullptr;
uint32_t ttBuckets = 0;
uint32_t ttMask = 0;
int ttAge = 0;
constinit thread_local uint32_t ttStores = 0;

namespace {

void* ttBlock = nullptr;  // the mapping that holds the table
size_t ttBlockSize = 0;

constexpr size_t HUGE_PAGE = 2u << 20;

// Zeroed memory for the table, from the system in one mapping; null on failure. Blocks of 2 MB
// and more start on a 2 MB boundary and ask for huge pages: every probe lands on a random
// bucket, and with small pages most of them would also miss the address translation cache.
TTBucket* mapTable(size_t size) {
  const size_t slack = size >= HUGE_PAGE ? HUGE_PAGE : 0;
  void* block = mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  ttBlock = block;
  ttBlockSize = size + slack;
  uintptr_t start = reinterpret_cast<uintptr_t>(block);
  if (slack != 0) {
    start = (start + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
#endif
  }
  return reinterpret_cast<TTBucket*>(start);
}

constexpr uint32_t DEPTH_MASK = 0x1FF;
constexpr int SCORE_SHIFT = 9;
constexpr uint32_t SCORE_MASK = 0x1FFFF;
constexpr int SCORE_OFFSET = 65536;
constexpr int BOUND_SHIFT = 26;
constexpr int THREAT_SHIFT = 28;
constexpr int AGE_SHIFT = 29;

constexpr int depthOf(uint32_t packed) { return packed & DEPTH_MASK; }
constexpr int scoreOf(uint32_t packed) { return int((packed >> SCORE_SHIFT) & SCORE_MASK) - SCORE_OFFSET; }
constexpr int boundOf(uint32_t packed) { return (packed >> BOUND_SHIFT) & 3; }
constexpr int ageOf(uint32_t packed) { return packed >> AGE_SHIFT; }

uint32_t packEntry(int depth, int score, int bound, int mateThreat) {
  return uint32_t(depth) | uint32_t(score + SCORE_OFFSET) << SCORE_SHIFT |
         uint32_t(bound) << BOUND_SHIFT | uint32_t(mateThreat & 1) << THREAT_SHIFT |
         uint32_t(ttAge) << AGE_SHIFT;
}

inline TTBucket& bucketOf(HashKey key) { return ttTable[uint32_t(key) & ttMask]; }

// Writes one entry: data first, then the check word that makes it the position's.
void writeEntry(TTEntry& e, HashKey key, uint64_t data) {
  std::atomic_ref<uint64_t>(e.data).store(data, std::memory_order_relaxed);
  std::atomic_ref<uint64_t>(e.check).store(key ^ data, std::memory_order_relaxed);
}

}  // namespace

// Allocates ttBuckets buckets, the largest power of two that fits in bytes (at least one), and
// clears them. The previous table, if any, is released first. Exits with status 1 when the
// memory cannot be had.
void initTT(uint32_t bytes) {
  freeTT();
  uint32_t n = bytes >> 6;
  uint32_t buckets = 1;
  while (buckets <= n / 2) buckets <<= 1;
  size_t size = size_t(buckets) * sizeof(TTBucket);
  ttTable = mapTable(size);
  if (ttTable == nullptr) {
    printf("**ERROR**  initTT() : unable to allocate %u bytes of memory\n", unsigned(size));
    std::exit(1);
  }
  ttBuckets = buckets;
  ttMask = buckets - 1;
  ttAge = 0;
  ttStores = 0;
  printf("Main Hash : %6d KB  [%dK entries]\n", int(size / 1024), int(buckets / 1000));
}

void freeTT() {
  if (ttBlock != nullptr) munmap(ttBlock, ttBlockSize);
  ttBlock = nullptr;
  ttBlockSize = 0;
  ttTable = nullptr;
  ttBuckets = 0;
  ttMask = 0;
}

void clearTT() {
  if (ttTable != nullptr) std::memset(static_cast<void*>(ttTable), 0, size_t(ttBuckets) * sizeof(TTBucket));
}

// Stores the result of the node at the current ply. Mate scores are made relative to this node.
// The same position is overwritten in place (keeping its move when move is 0); otherwise the
// victim is the shallowest entry of an earlier search, else the shallowest of this one.
// Entries are read once into locals, so a word another thread changes meanwhile is seen whole.
void storeTT(int depth, int score, Move move, int bound, int mateThreat) {
  if (score > TT_MATE_BOUND) score += ply + 1;
  else if (score < -TT_MATE_BOUND) score -= ply + 1;
  const uint64_t packed = uint64_t(packEntry(depth, score, bound, mateThreat)) << 32;
  TTEntry* entries = bucketOf(hashKey).entries;
  TTEntry* victim = &entries[0];
  uint32_t victimPacked = ttEntryPacked(entries[0]);
  for (int i = 0; i < TT_BUCKET_ENTRIES; i++) {
    TTEntry& e = entries[i];
    const uint64_t data = ttWord(e.data);
    if ((ttWord(e.check) ^ data) == hashKey) {
      const Move kept = move != 0 ? move : Move(data);
      writeEntry(e, hashKey, packed | kept);
      return;
    }
    if (i == 0) continue;
    const uint32_t entryPacked = uint32_t(data >> 32);
    bool victimCurrent = ageOf(victimPacked) == ttAge;
    bool entryCurrent = ageOf(entryPacked) == ttAge;
    if ((victimCurrent && !entryCurrent) ||
        (victimCurrent == entryCurrent && depthOf(entryPacked) < depthOf(victimPacked))) {
      victim = &e;
      victimPacked = entryPacked;
    }
  }
  writeEntry(*victim, hashKey, packed | move);
  ttStores++;
}

// Looks the current position up. Delivers the stored move and score (mate scores made relative
// to the root again) on any hit, clears nullAllowed when an upper bound below beta is stored,
// and narrows alpha or beta from a deep enough bound. Returns PROBE_* (non-zero: cut off).
int probeTT(int depth, int& alpha, int& beta, int& score, Move& move, int& nullAllowed) {
  countStat(searchStats.hashProbes);
  const TTEntry* entries = bucketOf(hashKey).entries;
  uint64_t data = 0;
  bool hit = false;
  for (int i = 0; i < TT_BUCKET_ENTRIES; i++) {
    data = ttWord(entries[i].data);
    if ((ttWord(entries[i].check) ^ data) == hashKey) {
      hit = true;
      break;
    }
  }
  if (!hit) {
    move = 0;
    return PROBE_NONE;
  }
  countStat(searchStats.hashHits);
  uint32_t packed = uint32_t(data >> 32);
  int s = scoreOf(packed);
  int bound = boundOf(packed);
  if (bound == BOUND_UPPER && s < beta) nullAllowed = 0;
  move = Move(data);
  if (s > TT_MATE_BOUND) s -= ply + 1;
  else if (s < -TT_MATE_BOUND) s += ply + 1;
  score = s;
  if (depth < 0 || depthOf(packed) < depth) return PROBE_NONE;
  switch (bound) {
    case BOUND_UPPER:
      if (s <= alpha) return PROBE_UPPER_CUT;
      if (s < beta) beta = s;
      return PROBE_NONE;
    case BOUND_LOWER:
      if (s >= beta) return PROBE_LOWER_CUT;
      if (s > alpha) alpha = s;
      return PROBE_NONE;
    case BOUND_EXACT:
      return PROBE_EXACT;
    default:
      return PROBE_NONE;
  }
}

// The stored move of the current position, for display lines, hints and pondering; counts as a
// probe like any other.
Move probeTTMove() {
  int alpha = -MATE, beta = MATE, score = 0, nullAllowed = 0;
  Move move = 0;
  probeTT(0, alpha, beta, score, move, nullAllowed);
  return move;
}

// Expected per-mille of distinct slots hit by the search threads' ttStores uniformly spread writes.
int hashFull() {
  if (ttBuckets == 0) return 0;
  double slots = 4.0 * ttBuckets;
  return int(1000.0 * (1.0 - std::exp(double(totalStores()) * std::log1p(-1.0 / slots))));
}
