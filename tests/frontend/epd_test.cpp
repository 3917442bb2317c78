// EPD test suites through the "epdtest" command: records taking part, the solution rules,
// the iteration rule, the summary and the log.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "frontend/frontend.h"
#include "search/search.h"
#include "tests/frontend/frontend_support.h"
#include "tests/support/support.h"

namespace {

const char* const TITLE =
    "\n\n                       ============================="
    "\n                              E P D   T E S T       "
    "\n                       =============================\n\n";
const char* const DASHES = "------------------------------------------------------------------------------\n";

// The same mate in one: White's Ra8# is the only move that mates.
const char* const MATE_IN_ONE = "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - -";
// White wins the queen with Rxd5, no check.
const char* const WIN_QUEEN = "4k3/8/8/3q4/8/8/8/3RK3 w - -";

// A fresh directory for the suite and log files, removed afterwards.
struct SuiteDirectory {
  std::filesystem::path dir;
  SuiteDirectory() {
    char pattern[] = "/tmp/talvek-epd-XXXXXX";
    dir = mkdtemp(pattern);
  }
  ~SuiteDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream((dir / name).string(), std::ios::binary) << text;
    return (dir / name).string();
  }
  std::string read(const std::string& name) const {
    std::ifstream file((dir / name).string(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }
};

void startSuite() {
  resetEngine();
  initSearchTables();
  settings.post = 0;
}

std::string summary(int positions, int solved, const char* percent) {
  return "\n\ntime used: {}\npositions: " + std::to_string(positions) + "\nsolved: " + std::to_string(solved) +
         " (" + percent + "%)\ntotal nodes: {}\n";
}

}  // namespace

TEST(EpdTest, SolutionRulesAreSubstringTests) {
  startSuite();
  SuiteDirectory suite;
  const std::string records[] = {
      std::string(MATE_IN_ONE) + " bm Ra8#; id \"mate\";\n",        // solved
      std::string(WIN_QUEEN) + " bm Rxd5+; id \"queen\";\n",        // Rxd5 is in Rxd5+: solved
      std::string(MATE_IN_ONE) + " bm Ra8; id \"mark\";\n",         // Ra8# is not in Ra8: unsolved
      std::string(MATE_IN_ONE) + " am Rb1; id \"avoid\";\n",        // solved
      std::string(MATE_IN_ONE) + " am Ra8#; id \"avoided\";\n",     // unsolved
  };
  std::string text = "4k3/8/8/8/8/8/8/4K3 w - - id \"no operation\";\n";  // skipped
  for (const std::string& record : records) text += record;
  const std::string file = suite.write("rules.epd", text);
  const std::string log = (suite.dir / "rules.log").string();

  std::string out = typeLine("epdtest " + file + " 30 0 " + log);
  ASSERT_EQ(out.rfind(TITLE, 0), 0u) << out;
  const bool solved[] = {true, true, false, true, false};
  size_t at = 0;
  for (int i = 0; i < 5; i++) {
    at = out.find(DASHES + records[i] + "\n\n", at);
    ASSERT_NE(at, std::string::npos) << records[i];
    at = out.find(solved[i] ? "\nsolved\n" : "\nunsolved\n", at);
    ASSERT_NE(at, std::string::npos) << records[i];
  }
  EXPECT_TRUE(matchesMask(out.substr(out.find("\n\ntime used:")), summary(5, 3, "60.00") + "\n\n"));
  EXPECT_EQ(out.find("no operation"), std::string::npos);
  EXPECT_TRUE(matchesMask(suite.read("rules.log"),
                          "EPD test suite: " + file + "\n\nunsolved:\n" + records[2] + records[4] +
                              summary(5, 3, "60.00")));

  // Afterwards a new game, and the state is Waiting again.
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_EQ(limits.moveTime, 0);
  EXPECT_EQ(engineState, STATE_WAITING);
}

// With one iteration asked for, a found solution ends the position long before its time.
TEST(EpdTest, IterationsEndAPositionEarly) {
  startSuite();
  SuiteDirectory suite;
  const std::string file = suite.write("mate.epd", std::string(MATE_IN_ONE) + " bm Ra8#;\n" + WIN_QUEEN + " bm Rxd5;");
  const std::string log = (suite.dir / "mate.log").string();
  const int start = nowMs();
  std::string out = typeLine("epdtest " + file + " 20 1 " + log);
  EXPECT_LT(nowMs() - start, 10000);
  EXPECT_TRUE(matchesMask(out.substr(out.find("\n\ntime used:")), summary(2, 2, "100.00") + "\n\n")) << out;
  // All solved: "unsolved:" is followed at once by the verdict. The last record had no newline.
  EXPECT_TRUE(matchesMask(suite.read("mate.log"),
                          "EPD test suite: " + file + "\n\nunsolved:\nall positions solved\n" + summary(2, 2, "100.00")));
}

// A file without a taking-part record reports no positions instead of dividing by zero.
TEST(EpdTest, NoPositionsAndFilesThatCannotBeOpened) {
  startSuite();
  SuiteDirectory suite;
  const std::string empty = suite.write("empty.epd", "just a comment\n\n");
  std::string out = typeLine("epdtest " + empty + " 1 1");
  EXPECT_TRUE(matchesMask(out, std::string(TITLE) + "\n\ntime used: {}\npositions: 0\nsolved: 0 (0.00%)\n"
                                                    "total nodes: 0\n\n\n"))
      << out;

  EXPECT_EQ(typeLine("epdtest /nowhere/x.epd 1 1"),
            std::string(TITLE) + "**ERROR**  epdTest() : unable to open file /nowhere/x.epd\n\n");
  EXPECT_EQ(typeLine("epdtest " + empty + " 1 1 /nowhere/x.log"),
            std::string(TITLE) + "**ERROR**  epdTest() : unable to open file /nowhere/x.log\n\n");
  EXPECT_EQ(engineState, STATE_WAITING);
}

// Records longer than 255 characters are cut, and their tail never becomes a record.
TEST(EpdTest, OverlongRecordsAreCut) {
  startSuite();
  SuiteDirectory suite;
  const std::string record = std::string(MATE_IN_ONE) + " bm Ra8#; c0 \"" + std::string(300, 'x') + " bm Qh5\";\n";
  const std::string file = suite.write("long.epd", record);
  std::string out = typeLine("epdtest " + file + " 5 0");
  EXPECT_NE(out.find(DASHES + record.substr(0, 255) + "\n\n"), std::string::npos);
  EXPECT_TRUE(matchesMask(out.substr(out.find("\n\ntime used:")), summary(1, 1, "100.00") + "\n\n")) << out;
}
