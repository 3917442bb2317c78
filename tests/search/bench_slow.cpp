// The bench's node count is the search's signature: two runs in one process give the same
// count, position by position (the total is pinned by the fast run's bench_signature).
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "search/search.h"
#include "tests/support/support.h"

namespace {

// The bench output without its times: position number, nodes and position of every line, then
// the total.
std::string nodeCounts(const std::string& out) {
  std::string counts;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    const size_t nodesAt = line.find(" nodes ");
    if (nodesAt != std::string::npos) counts += line.substr(0, nodesAt) + line.substr(line.find(" nps ")) + "\n";
    if (line.rfind("total nodes: ", 0) == 0) counts += line + "\n";
    start = end + 1;
  }
  return counts;
}

TEST(BenchSlow, NodeCountsRepeat) {
  resetEngine();
  const std::string first = nodeCounts(captureOutput([] { runBench(); }));
  const std::string second = nodeCounts(captureOutput([] { runBench(); }));
  EXPECT_NE(first.find("total nodes: "), std::string::npos);
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 41);
  EXPECT_EQ(first, second);
  resetEngine();
}

}  // namespace
