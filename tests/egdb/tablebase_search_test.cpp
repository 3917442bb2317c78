// Tablebases in the search: mate distances from Nalimov tables made by the solver and from
// Debian's Gaviota tables (the ZELT settings) reach the search's output exactly, at whatever ply
// the tables are probed; the cross-check finds the solver's tables and Gaviota's in agreement.
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "board/board.h"
#include "egdb/egdb.h"
#include "search/search.h"
#include "session/session.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/frontend/frontend_support.h"

namespace {

constexpr int KPK = 1, KRK = 4, KQK = 5;

// Mates of the issue report, with the solver's (and Gaviota's) distances in moves.
struct MateCase {
  const char* fen;
  int moves;
};
constexpr MateCase MATES[] = {
    {"k7/8/1K6/8/8/8/8/2Q5 w - - 0 1", 1},
    {"8/8/8/2k5/8/8/3QK3/8 w - - 0 1", 6},
    {"7k/8/8/8/8/8/8/K3R3 w - - 0 1", 10},
    {"4k3/8/3K4/3P4/8/8/8/8 w - - 0 1", 12},
};

// The folder of Debian's three-man Gaviota tables, "" when they are not installed.
std::string gaviotaFolder() {
  for (const char* folder : {"/usr/share/gaviotatb/gtb4", "/usr/share/gaviotatb/gtb2",
                             "/usr/share/gaviotatb/gtb1", "/usr/share/gaviotatb/gtb3"})
    if (std::filesystem::exists(std::string(folder) + "/kqk.gtb.cp" + folder[std::strlen(folder) - 1]))
      return folder;
  return "";
}

class TablebaseSearch : public testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    initSearchTables();
    uciMode = 1;
    settings.post = 1;
  }
  void TearDown() override {
    captureOutput([] {
      initNalimov("", 0);
      initZelt(ZELT_OFF, "", 0);
    });
    settings.zelt = 0;
    uciMode = 0;
    settings.post = 0;
    resetEngine();
  }

  // Registers the solver's three-man tables.
  void useSolverTables() {
    for (int c : {KPK, KRK, KQK}) writeClassFiles(folder, c, Solver(tbClassName(c)), c == KRK);
    EXPECT_EQ(captureOutput([&] { initNalimov(folder.path().c_str(), 1 << 20); }),
              "3-men Nalimov tablebases found\nEGTB cache:  1024 KB\n");
  }

  // Loads Gaviota's tables in a mode through the UCI options; false when they are not there.
  static bool useGaviota(const char* mode) {
    std::string path = gaviotaFolder();
    if (path.empty()) return false;
    typeLine("setoption name ZELT Path value " + path);
    std::string printed = typeLine(std::string("setoption name ZELT value ") + mode);
    EXPECT_EQ(printed, std::string("3-men ZELT ") + (mode[0] == 'B' ? "bitbases" : "tablebases") +
                           " found\nZELT cache:  1024 KB\n");
    return zeltMaxMen == 3;
  }

  // The score of the last thinking line of a search of fen to depth: "mate 6", "cp 0".
  static std::string scoreOf(const std::string& fen, int depth) {
    typeLine("ucinewgame");
    typeLine("position fen " + fen);
    std::string out = typeLine("go depth " + std::to_string(depth));
    size_t at = out.rfind(" score ");
    if (at == std::string::npos) return out;
    size_t end = out.find(' ', out.find(' ', at + 7) + 1);
    return out.substr(at + 7, end - at - 7);
  }

  // Positions of a class, in the table's colours, that are won or lost for the side to move.
  static std::vector<std::pair<TbPosition, SolvedValue>> decided(int c, int count) {
    Solver solver(tbClassName(c));
    std::mt19937 random{uint32_t(c)};
    std::vector<std::pair<TbPosition, SolvedValue>> found;
    for (int wins = 0, losses = 0; wins + losses < count;) {
      int side = int(random() % 2);
      TbPosition p;
      if (!decodeTbIndex(c, side, uint32_t(random() % tbFileLength(c, side)), p) || !tbPositionLegal(p) || p.ep >= 0)
        continue;
      SolvedValue value = solver.valueOf(p);
      bool win = value.state == SOLVED_WIN, loss = value.state == SOLVED_LOSS && value.plies > 0;
      if ((win && wins < count / 2 && ++wins) || (loss && losses < count / 2 && ++losses))
        found.push_back({p, value});
    }
    return found;
  }

  // The score of a solved value as the engine reports it.
  static std::string expectedScore(SolvedValue value) {
    return value.state == SOLVED_WIN ? "mate " + std::to_string((value.plies + 1) / 2)
                                     : "mate -" + std::to_string(value.plies / 2);
  }

  // Searches a sample of won and lost positions of KQK, KRK and KPK (each side to move, both
  // colourings) and compares the mate reported with the solver's distance.
  static void expectSampleDistances() {
    for (int c : {KQK, KRK, KPK})
      for (const auto& [p, value] : decided(c, 24))
        EXPECT_EQ(scoreOf(fenOf(p, p.side == 1), 2), expectedScore(value)) << fenOf(p, p.side == 1);
  }

  TempFolder folder;
};

TEST_F(TablebaseSearch, NalimovMateDistancesAreExact) {
  useSolverTables();
  for (const MateCase& mate : MATES)
    for (int depth : {2, 5}) EXPECT_EQ(scoreOf(mate.fen, depth), "mate " + std::to_string(mate.moves)) << mate.fen;
  expectSampleDistances();
}

// A table's answer is exact at any depth: the transposition table keeps it for deeper searches
// and for positions reached without a capture, where the tables are not asked.
TEST_F(TablebaseSearch, TableAnswersAreKeptForEveryDepth) {
  useSolverTables();
  EXPECT_EQ(scoreOf("8/8/8/3k4/8/8/3n4/3QK3 w - - 0 1", 2).substr(0, 5), "mate ");
  ASSERT_EQ(setBoard("8/8/8/3k4/8/8/3Q4/4K3 b - - 0 1"), 0);  // after the queen takes the knight
  int alpha = -MATE, beta = MATE, score = 0, nullAllowed = 1;
  Move move = 0;
  EXPECT_EQ(probeTT(MAX_SEARCH_DEPTH * 4, alpha, beta, score, move, nullAllowed), PROBE_EXACT);
  EXPECT_LT(score, -MATE_RANGE);
}

TEST_F(TablebaseSearch, GaviotaMateDistancesAreExact) {
  if (!useGaviota("Tablebases")) GTEST_SKIP() << "Debian's gaviotatb tables or ZELT support missing";
  EXPECT_EQ(tablebaseMen(), 3);
  for (const MateCase& mate : MATES)
    for (int depth : {2, 5}) EXPECT_EQ(scoreOf(mate.fen, depth), "mate " + std::to_string(mate.moves)) << mate.fen;
  EXPECT_EQ(scoreOf("k7/8/8/8/8/8/P7/7K w - - 0 1", 6), "cp 0");  // the rook pawn cannot win
  expectSampleDistances();
}

// Bitbases tell wins from draws; the search still finds the mates it can see, exactly.
TEST_F(TablebaseSearch, GaviotaBitbasesTellWinsFromDraws) {
  if (!useGaviota("Bitbases")) GTEST_SKIP() << "Debian's gaviotatb tables or ZELT support missing";
  EXPECT_EQ(tablebaseMen(), 0);
  EXPECT_EQ(bitbasesAvailable(), 1);
  EXPECT_EQ(scoreOf("k7/8/8/8/8/8/P7/7K w - - 0 1", 8), "cp 0");
  std::string win = scoreOf("4k3/8/3K4/3P4/8/8/8/8 w - - 0 1", 8);
  EXPECT_TRUE(win.rfind("cp ", 0) == 0 && std::stoi(win.substr(3)) > 20000) << win;
  EXPECT_EQ(scoreOf("k7/8/1K6/8/8/8/8/2Q5 w - - 0 1", 4), "mate 1");
  EXPECT_EQ(scoreOf("1k6/8/1K6/8/8/8/8/7R w - - 0 1", 6), "mate 1");
}

// tbcheck compares every position of the solver's three-man tables with Gaviota's distances.
TEST_F(TablebaseSearch, CrossCheckFindsTheSolverTablesInAgreementWithGaviota) {
  for (int c = 1; c <= KQK; c++) writeClassFiles(folder, c, Solver(tbClassName(c)), false);
  captureOutput([&] { initNalimov(folder.path().c_str(), 1 << 20); });
  uciMode = 0;
  if (gaviotaFolder().empty()) GTEST_SKIP() << "Debian's gaviotatb tables missing";
  settings.zelt = 1;
  settings.zeltPath = gaviotaFolder();
  std::string loaded = typeLine("zeltpath " + gaviotaFolder());
  if (zeltMaxMen != 3) GTEST_SKIP() << "ZELT support not built in: " << loaded;
  std::string report = typeLine("tbcheck");
  for (int c = 1; c <= KQK; c++)
    for (const char* side : {".nbw", ".nbb"}) {
      std::string name = std::string(tbClassName(c)) + side + ": ";
      size_t at = report.find(name);
      ASSERT_NE(at, std::string::npos) << report;
      std::string line = report.substr(at, report.find('\n', at) - at);
      EXPECT_NE(line.find(" 0 disagreements"), std::string::npos) << line;
      EXPECT_GT(std::stoul(line.substr(name.size())), 10000u) << line;
    }
  EXPECT_EQ(report.find("index"), std::string::npos) << report.substr(0, 2000);
}

// A table value that disagrees with Gaviota's is shown with its position.
TEST_F(TablebaseSearch, CrossCheckShowsDisagreements) {
  std::vector<uint8_t> kqk = classTable(KQK, 0, Solver("kqk"));
  uint32_t changed = 0;
  while (int8_t(kqk[changed]) <= 0 || int8_t(kqk[changed]) == 127) changed++;
  kqk[changed]--;  // one move longer
  folder.write("kqk.nbw", kqk);
  captureOutput([&] { initNalimov(folder.path().c_str(), 1 << 20); });
  uciMode = 0;
  if (gaviotaFolder().empty()) GTEST_SKIP() << "Debian's gaviotatb tables missing";
  settings.zelt = 1;
  if (typeLine("zeltpath " + gaviotaFolder()).empty() || zeltMaxMen != 3) GTEST_SKIP() << "no ZELT support";
  std::string report = typeLine("tbcheck");
  EXPECT_NE(report.find("kqk.nbw index " + std::to_string(changed) + " ("), std::string::npos) << report;
  EXPECT_NE(report.find("kqk.nbw: "), std::string::npos);
  EXPECT_NE(report.find(" 1 disagreements"), std::string::npos) << report;
}

}  // namespace
