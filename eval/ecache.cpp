// The evaluation cache: a direct-mapped table of White-relative scores keyed by the position's
// HashKey. evaluate() probes and stores inline; this file sizes, clears and frees the table.
#include <cstdio>
#include <cstdlib>

#include "eval/eval.h"

constinit thread_local EvalCacheEntry* evalCache = nullptr;
constinit thread_local uint32_t evalCacheEntries = 0;
constinit thread_local uint32_t evalCacheMask = 0;

void freeECache() {
  free(evalCache);
  evalCache = nullptr;
  evalCacheEntries = 0;
  evalCacheMask = 0;
}

// Allocates the largest power-of-two number of 16-byte entries that fits the byte budget (at
// least one entry) for the running thread and clears it; prints nothing. Every budget up to
// 4 GiB is taken as it is (the front ends hold sizes to 1..4095 MB). Discards the thread's
// previous table. Ends the process with status 1 when the memory cannot be had.
void resizeECache(uint32_t bytes) {
  freeECache();
  uint32_t wanted = bytes / sizeof(EvalCacheEntry);
  uint32_t entries = 1;
  while (entries <= wanted / 2) entries *= 2;
  size_t size = size_t(entries) * sizeof(EvalCacheEntry);
  evalCache = static_cast<EvalCacheEntry*>(allocateLarge(size));
  if (!evalCache) {
    printf("**ERROR**  initECache() : unable to allocate %llu bytes of memory\n",
           static_cast<unsigned long long>(size));
    exit(1);
  }
  evalCacheEntries = entries;
  evalCacheMask = entries - 1;
}

// resizeECache, then the size line.
void initECache(uint32_t bytes) {
  resizeECache(bytes);
  size_t size = size_t(evalCacheEntries) * sizeof(EvalCacheEntry);
  printf("Eval Cache: %6d KB  [%dK entries]\n", int(size / 1024), int(evalCacheEntries / 1000));
}
