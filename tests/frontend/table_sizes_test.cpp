// Every size the hash and ecache commands accept (1 to 4095 MB) gives a table of that budget:
// budgets of 2 GiB and more are not taken for nothing.
#include <gtest/gtest.h>

#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"
#include "tests/support/support.h"

TEST(TableSizes, HashAndEvalCacheTakeEverySizeTheCommandsAccept) {
  resetEngine();
  const std::pair<int, uint64_t> sizes[] = {{1, 1u << 20}, {2047, 1u << 30}, {2048, 1ull << 31},
                                             {4095, 1ull << 31}};
  for (auto [megabytes, bytes] : sizes) {
    std::string command = "ecache " + std::to_string(megabytes);
    std::string out = captureOutput([&] { runCommandLine(command.c_str()); });
    EXPECT_EQ(out.rfind("Eval Cache: ", 0), 0u) << command;
    EXPECT_EQ(settings.ecache, megabytes);
    EXPECT_EQ(uint64_t(evalCacheEntries) * sizeof(EvalCacheEntry), bytes) << command;
    command = "hash " + std::to_string(megabytes);
    out = captureOutput([&] { runCommandLine(command.c_str()); });
    EXPECT_EQ(out.rfind("Main Hash : ", 0), 0u) << command;
    EXPECT_EQ(uint64_t(ttBuckets) * sizeof(TTBucket), bytes) << command;
  }
  captureOutput([] {
    runCommandLine("hash 16");
    runCommandLine("ecache 4");
  });
  resetEngine();
}
