// Search threads: a pool of helpers that run the same iterative deepening as the main thread on
// their own copies of the position, at staggered depths, and meet through the transposition
// table. The main thread alone reads input, keeps time, prints and chooses the move.
//
// What the threads share and how it stays safe:
// - the transposition table: entries are two words written and read whole (relaxed atomics);
//   an entry torn by two writers fails its key check (TTEntry, tt.cpp);
// - ttAge, the settings, limits and the fixed tables of board/ and eval/: written only between
//   searches by the main thread, before startHelpers hands the search over under poolMutex;
// - helpersStop and each helper's published counters: atomics;
// - each helper's line of its last completed iteration: written by the helper during a search,
//   read by the main thread only after stopHelpers has seen every helper idle (under poolMutex);
// - the position handed to the helpers (rootCopy): written by the main thread before it wakes
//   them under poolMutex, read by them after they wake, never written during a search;
// - the endgame databases: each library and cache is entered under its own lock (egdb/).
// Everything else the search writes (board, lists, stacks, history, killers, PV, counters,
// evaluation and pawn caches, stopSearch) is thread_local.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "search/search.h"

constinit thread_local int searchThreadIndex = 0;

namespace {

constexpr size_t HELPER_STACK = size_t(32) << 20;  // thread_local tables live beside the stack

// One helper thread and the counters it publishes for the main thread's output.
struct Helper {
  pthread_t thread{};
  int index = 0;                   // 1, 2, ...
  bool quit = false;               // under poolMutex: leave the loop
  uint64_t seen = 0;               // under poolMutex: the last search handed out it has taken
  std::atomic<uint64_t> nodes{0};  // this search's nodes so far
  std::atomic<uint64_t> qnodes{0};
  std::atomic<uint32_t> stores{0};
  std::atomic<int> tbHits{0};
  SearchStats stats{};  // the last search's counters: written before the helper goes idle
  // The line of the deepest iteration this search completed (depth 0: none yet).
  int lineDepth = 0, lineScore = 0, lineLength = 0;
  Move line[MAX_PLY]{};
};

// The main thread's position at the start of a search, as the helpers copy it.
struct RootCopy {
  PositionSnapshot position;  // taken at the root: ply 0
  PlyRecord root;
  uint32_t evalCacheBytes;
};

// Never destroyed: helpers may still wait on the lock while the process exits.
std::mutex& poolMutex = *new std::mutex;
std::condition_variable& poolWake = *new std::condition_variable;
std::condition_variable& poolIdle = *new std::condition_variable;
Helper* helpers[MAX_SEARCH_THREADS];
int helperCount = 0;           // helpers in the pool
uint64_t generation = 0;       // under poolMutex: searches handed out
int helpersBusy = 0;           // under poolMutex: helpers still searching
bool helpersRunning = false;   // main thread only: a search has the helpers
std::atomic<bool> helpersStop{false};
RootCopy& rootCopy = *new RootCopy;
constinit thread_local Helper* ownHelper = nullptr;  // on a helper thread, its entry

// Which depths a helper leaves out, so that helpers do not all search the same iteration:
// helper k searches in blocks of blockSize depths, every other block, shifted by phase.
bool skipDepth(int helper, int depth) {
  static constexpr int BLOCK_SIZE[] = {1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3};
  static constexpr int BLOCK_PHASE[] = {0, 1, 0, 1, 2, 3, 0, 1, 2, 3, 4, 5};
  const int i = (helper - 1) % int(std::size(BLOCK_SIZE));
  return (depth + BLOCK_PHASE[i]) / BLOCK_SIZE[i] % 2 != 0;
}

void copyRootFromMain() {
  RootCopy& c = rootCopy;
  savePosition(c.position);
  c.root = plyStack[0];
  c.evalCacheBytes = evalCacheEntries * uint32_t(sizeof(EvalCacheEntry));
}

void copyRootToHelper() {
  const RootCopy& c = rootCopy;
  restorePosition(c.position);
  if (c.evalCacheBytes == 0) freeECache();
  else if (evalCacheEntries * uint32_t(sizeof(EvalCacheEntry)) != c.evalCacheBytes) resizeECache(c.evalCacheBytes);
}

// One helper's search: the main thread's position, its root moves in the main thread's order,
// then iterations at the helper's depths until the last depth or helpersStop.
void helperSearch(Helper& h) {
  copyRootToHelper();
  helperThink(rootCopy.root);
  h.nodes.store(nodes, std::memory_order_relaxed);
  h.qnodes.store(qnodes, std::memory_order_relaxed);
  h.stores.store(ttStores, std::memory_order_relaxed);
  h.tbHits.store(searchStats.egtbHits, std::memory_order_relaxed);
  h.stats = searchStats;  // read by the main thread once every helper is idle (stopHelpers)
}

void* helperLoop(void* arg) {
  Helper& h = *static_cast<Helper*>(arg);
  searchThreadIndex = h.index;
  ownHelper = &h;
  std::unique_lock<std::mutex> lock(poolMutex);
  for (;;) {
    poolWake.wait(lock, [&] { return h.quit || generation != h.seen; });
    if (h.quit) break;
    h.seen = generation;
    lock.unlock();
    helperSearch(h);
    lock.lock();
    if (--helpersBusy == 0) poolIdle.notify_all();
  }
  lock.unlock();
  freeECache();
  return nullptr;
}

// Starts one more helper; returns false when the system refuses a thread.
bool addHelper() {
  Helper* h = new Helper;
  h->index = helperCount + 1;
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    h->seen = generation;  // searches handed out before it existed are not its own
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, HELPER_STACK);
  const int error = pthread_create(&h->thread, &attr, helperLoop, h);
  pthread_attr_destroy(&attr);
  if (error != 0) {
    delete h;
    return false;
  }
  helpers[helperCount++] = h;
  return true;
}

void removeHelper() {
  Helper* h = helpers[--helperCount];
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    h->quit = true;
  }
  poolWake.notify_all();
  pthread_join(h->thread, nullptr);
  delete h;
}

}  // namespace

int searchThreadCount() { return helperCount + 1; }

// Between searches only: the pool is held to count - 1 helpers. The threads setting's row holds
// count to 1..MAX_SEARCH_THREADS; the pool keeps to its array whatever count it is given.
// Threads the system refuses are reported and left out.
void resizeSearchThreads(int count) {
  if (helpersRunning) return;
  count = std::clamp(count, 1, MAX_SEARCH_THREADS);
  while (helperCount > count - 1) removeHelper();
  while (helperCount < count - 1) {
    if (!addHelper()) {
      std::printf("**ERROR**  unable to start search thread %d; searching with %d\n", helperCount + 2,
                  helperCount + 1);
      break;
    }
  }
}

// Called by think once the root moves are ordered: resizes the pool to the threads setting and
// hands the position to every helper. Does nothing with one thread.
void startHelpers() {
  if (helperCount != settings.threads - 1) resizeSearchThreads(settings.threads);
  if (helperCount == 0) return;
  copyRootFromMain();
  helpersStop.store(false);
  for (int i = 0; i < helperCount; i++) {
    helpers[i]->nodes.store(0, std::memory_order_relaxed);
    helpers[i]->qnodes.store(0, std::memory_order_relaxed);
    helpers[i]->stores.store(0, std::memory_order_relaxed);
    helpers[i]->tbHits.store(0, std::memory_order_relaxed);
    helpers[i]->stats = SearchStats{};
    helpers[i]->lineDepth = 0;
  }
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    generation++;
    helpersBusy = helperCount;
  }
  helpersRunning = true;
  poolWake.notify_all();
}

// Ends the helpers' searches and waits until every one has returned.
void stopHelpers() {
  if (!helpersRunning) return;
  helpersStop.store(true);
  std::unique_lock<std::mutex> lock(poolMutex);
  poolIdle.wait(lock, [] { return helpersBusy == 0; });
  helpersRunning = false;
}

// A helper's poll: publishes its counters and picks up the stop. Returns true when it must unwind.
bool pollHelper() {
  Helper& h = *ownHelper;
  h.nodes.store(nodes, std::memory_order_relaxed);
  h.qnodes.store(qnodes, std::memory_order_relaxed);
  h.stores.store(ttStores, std::memory_order_relaxed);
  h.tbHits.store(searchStats.egtbHits, std::memory_order_relaxed);
  if (helpersStop.load(std::memory_order_relaxed)) stopSearch = 1;
  nextPoll = nodes + HELPER_POLL_INTERVAL;
  return stopSearch != 0;
}

void publishIteration(int depth, int score) {
  Helper& h = *ownHelper;
  h.lineLength = std::clamp(pvLength[0], 0, MAX_PLY);
  std::copy(pvTable[0], pvTable[0] + h.lineLength, h.line);
  h.lineScore = score;
  h.lineDepth = h.lineLength > 0 ? depth : 0;
}

bool takeDeeperHelperLine(int completed, int maxDepth) {
  if (helpersRunning) return false;
  const Helper* deepest = nullptr;
  for (int i = 0; i < helperCount; i++) {
    const Helper* h = helpers[i];
    if (h->lineDepth > completed && h->lineDepth <= maxDepth && (!deepest || h->lineDepth > deepest->lineDepth))
      deepest = h;
  }
  if (!deepest) return false;
  std::copy(deepest->line, deepest->line + deepest->lineLength, pvTable[0]);
  pvLength[0] = deepest->lineLength;
  rootScore = deepest->lineScore;
  iterDepth = unsigned(deepest->lineDepth);
  return true;
}

bool helperSkipsDepth(int depth) { return searchThreadIndex != 0 && skipDepth(searchThreadIndex, depth); }

uint64_t totalSearchNodes() {
  uint64_t sum = nodes;
  for (int i = 0; i < helperCount; i++) sum += helpers[i]->nodes.load(std::memory_order_relaxed);
  return sum;
}

uint64_t totalQuiesceNodes() {
  uint64_t sum = qnodes;
  for (int i = 0; i < helperCount; i++) sum += helpers[i]->qnodes.load(std::memory_order_relaxed);
  return sum;
}

uint32_t totalStores() {
  uint32_t sum = ttStores;
  for (int i = 0; i < helperCount; i++) sum += helpers[i]->stores.load(std::memory_order_relaxed);
  return sum;
}

int totalTbHits() {
  int sum = searchStats.egtbHits;
  for (int i = 0; i < helperCount; i++) sum += helpers[i]->tbHits.load(std::memory_order_relaxed);
  return sum;
}

// Once the search has ended: the counters of every thread, summed.
SearchStats totalSearchStats() {
  SearchStats sum = searchStats;
  if (!helpersRunning)
    for (int i = 0; i < helperCount; i++) addStats(sum, helpers[i]->stats);
  return sum;
}
