#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "board/board.h"
#include "session/session.h"
#include "egdb/egdb.h"
#include "frontend/frontend.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

constexpr int KPK = 1, KRK = 4, KQK = 5;

const Solver& solved(const std::string& name) {
  static std::map<std::string, std::unique_ptr<Solver>> solvers;
  auto& solver = solvers[name];
  if (!solver) solver = std::make_unique<Solver>(name);
  return *solver;
}

// The search score a solved value must come back as at the root: a mate p plies away scores
// 32767 - p for the side that mates, -(32767 - p) for the side mated; a draw 0.
int expectedScore(SolvedValue value) {
  if (value.state == SOLVED_WIN) return 32767 - value.plies;
  if (value.state == SOLVED_LOSS) return -32767 + value.plies;
  return 0;
}

class EndgameDatabases : public testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    searchStats = SearchStats{};
  }
  void TearDown() override {  // leave no database on for the tests that follow
    captureOutput([] { initNalimov("", 0); });
    egbbAvailable = 0;
    resetEngine();
  }
};

// Probes every legal position of a three-man class, with the stronger side as White and (every
// third position) as Black on the board turned upside down, through setBoard and probeNalimov.
// Returns the number of positions probed; failures are reported as they happen.
int probeEveryPosition(const char* name) {
  const Solver& solver = solved(name);
  int checked = 0, counter = 0, failures = 0;
  std::string printed = captureOutput([&] {  // setBoard announces mates and stalemates
    for (int side = 0; side < 2; side++)
      for (int wk = 0; wk < 64; wk++)
        for (int bk = 0; bk < 64; bk++)
          for (int sq = 0; sq < 64 && failures < 5; sq++) {
            SolvedValue value = solver.value(wk, bk, {sq}, side);
            if (value.state == SOLVED_ILLEGAL) continue;
            TbPosition p{side, {wk, bk}, {{}, {}}, -1};
            p.units[0].push_back(solver.material().units[0].second * 64 + sq);
            for (bool flip : {false, true}) {
              if (flip && ++counter % 3) continue;
              std::string fen = fenOf(p, flip);
              int score = 12345;
              if (setBoard(fen.c_str()) != 0 || probeNalimov(&score) != 1 ||
                  score != expectedScore(value)) {
                ADD_FAILURE() << name << " " << fen << ": score " << score << ", expected "
                              << expectedScore(value);
                failures++;
              }
              checked++;
            }
          }
  });
  EXPECT_EQ(printed.find("ERROR"), std::string::npos) << name;
  return checked;
}

void writeThreeManTables(const TempFolder& folder) {
  writeClassFiles(folder, KQK, solved("kqk"), false);
  writeClassFiles(folder, KRK, solved("krk"), true);
  writeClassFiles(folder, KPK, solved("kpk"), true);
  EXPECT_EQ(captureOutput([&] { initNalimov(folder.path().c_str(), 1 << 20); }),
            "3-men Nalimov tablebases found\nEGTB cache:  1024 KB\n");
  EXPECT_EQ(tbMaxMen, 3);
}

TEST_F(EndgameDatabases, ProbesEveryKqkAndKrkPosition) {
  TempFolder folder;
  writeThreeManTables(folder);
  EXPECT_GT(probeEveryPosition("kqk"), 100000);
  EXPECT_GT(probeEveryPosition("krk"), 100000);
  EXPECT_EQ(searchStats.egtbHits, searchStats.egtbProbes);
}

TEST_F(EndgameDatabases, ProbesEveryKpkPosition) {
  TempFolder folder;
  writeThreeManTables(folder);
  EXPECT_GT(probeEveryPosition("kpk"), 100000);

  // A mate in one with the rook, and a rook pawn that cannot win.
  int score = 0;
  ASSERT_TRUE(setPosition("7k/8/6K1/8/8/8/8/R7 w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 1);
  EXPECT_EQ(score, 32766);
  ASSERT_TRUE(setPosition("k7/8/8/8/8/8/P7/7K w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 1);
  EXPECT_EQ(score, 0);
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 0);  // castling rights: the tables cannot tell
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/R3K3 w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 1);
}

// The solver behind the generated tables knows the longest mates of these endings: ten moves
// with the queen, sixteen with the rook.
TEST_F(EndgameDatabases, GeneratorFindsTheLongestMates) {
  for (auto [name, moves] : {std::pair{"kqk", 10}, std::pair{"krk", 16}}) {
    const Solver& solver = solved(name);
    int longest = 0;
    for (int wk = 0; wk < 64; wk++)
      for (int bk = 0; bk < 64; bk++)
        for (int sq = 0; sq < 64; sq++) {
          SolvedValue value = solver.value(wk, bk, {sq}, 0);
          if (value.state == SOLVED_WIN) longest = std::max(longest, value.plies);
          EXPECT_NE(value.state, SOLVED_LOSS);
        }
    EXPECT_EQ(longest, 2 * moves - 1) << name;
  }
}

TEST_F(EndgameDatabases, AnswersNothingWithoutAFittingTable) {
  TempFolder folder;
  folder.write("kqk.nbw", classTable(KQK, 0, solved("kqk")));
  captureOutput([&] { initNalimov(folder.path().c_str(), 1 << 16); });
  int score = 99;
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KQ6 b - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 0);  // black to move: no kqk.nbb
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KQ5r w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 0);  // kqkr is not there
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KQ6 w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 1);
  EXPECT_EQ(score, expectedScore(solved("kqk").value(0, 18, {1}, 0)));
  EXPECT_EQ(searchStats.egtbProbes, 3);
  EXPECT_EQ(searchStats.egtbHits, 1);

  EXPECT_EQ(captureOutput([] { initNalimov("/nonexistent/egtb", 1 << 16); }),
            "No Nalimov tablebases found!\n");
  EXPECT_EQ(tbMaxMen, 0);
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KQ6 w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 0);
}

// The seven kppkp positions (Black to move) that the published table stores wrongly, by their
// published indices: Black's b-pawn and king boxed in on the queen's side, White's two pawns
// running on the king's side. Their indices pin down the pawn layout with Black to move.
struct KppkpEntry {
  uint32_t index;
  const char* fen;
};
constexpr KppkpEntry CORRECTED_KPPKP[] = {
    {56802428, "8/1p6/5P2/5P2/8/k1K5/8/8 b - - 0 1"},   {56811076, "8/8/1p3P2/5P2/8/k1K5/8/8 b - - 0 1"},
    {56849992, "8/1p6/5P2/5P2/8/k2K4/8/8 b - - 0 1"},   {56858640, "8/8/1p3P2/5P2/8/k2K4/8/8 b - - 0 1"},
    {59592489, "8/8/4P3/1p3P2/8/1k1K4/8/8 b - - 0 1"},  {67775659, "8/8/4P3/1p3P2/8/2K5/k7/8 b - - 0 1"},
    {71071628, "8/8/4P3/1p3P2/8/8/1k6/3K4 b - - 0 1"},
};

// Everything the engine knows of them in one place: the layout decodes each index to its
// position, the index functions give the index back from the board (also with the colours
// exchanged, White to move), and a probe answers them as lost for the side to move without
// reading: the value of a loss in 127 moves, mated 254 plies on, 32767 - 254 = 32513. The table
// here knows nothing else (127 everywhere).
TEST_F(EndgameDatabases, KnowsTheSevenCorrectedKppkpPositions) {
  const int KPPKP = 36;
  ASSERT_STREQ(tbClassName(KPPKP), "kppkp");
  TempFolder folder;
  folder.write("kppkp.nbb", std::vector<uint8_t>(tbFileLength(KPPKP, 1), 127));
  EXPECT_EQ(captureOutput([&] { initNalimov(folder.path().c_str(), 1 << 16); }),
            "5-men Nalimov tablebases found\nEGTB cache:  64 KB\n");
  for (const KppkpEntry& entry : CORRECTED_KPPKP) {
    TbPosition p;
    ASSERT_TRUE(decodeTbIndex(KPPKP, 1, entry.index, p)) << entry.index;
    EXPECT_TRUE(tbPositionLegal(p)) << entry.index;
    EXPECT_EQ(fenOf(p, false), entry.fen) << entry.index;
    for (bool flip : {false, true}) {
      ASSERT_TRUE(setPosition(fenOf(p, flip)));
      int classNumber = 0, side = -1, score = 0;
      EXPECT_EQ(boardTBIndex(&classNumber, &side), entry.index) << fenOf(p, flip);
      EXPECT_EQ(classNumber, KPPKP);
      EXPECT_EQ(side, 1);
      EXPECT_EQ(probeNalimov(&score), 1) << fenOf(p, flip);
      EXPECT_EQ(score, -32513) << fenOf(p, flip);
    }
  }
  int score = 0;
  ASSERT_TRUE(setPosition("8/1p6/5P2/5P2/k7/2K5/8/8 b - - 0 1"));  // a neighbour: read, unknown
  EXPECT_EQ(probeNalimov(&score), 0);
}

// A table value counts the plies to the mate from the probed position; the score counts them
// from the root, as every mate score of the search does.
TEST_F(EndgameDatabases, TurnsTableValuesIntoSearchScores) {
  EXPECT_EQ(nalimovScore(32766, 0), 32766);    // mates in one: at ply 1
  EXPECT_EQ(nalimovScore(32766, 7), 32759);    // at ply 8
  EXPECT_EQ(nalimovScore(-32766, 0), -32767);  // checkmated
  EXPECT_EQ(nalimovScore(-32766, 4), -32763);
  EXPECT_EQ(nalimovScore(-32765, 1), -32764);  // mated in one: at ply 3
  EXPECT_EQ(nalimovScore(0, 9), 0);
  EXPECT_EQ(nalimovScore(32641, 0), 32516);    // mates in 126 moves: 251 plies
  EXPECT_EQ(nalimovScore(-32641, 2), -32515);  // mated in 125 moves: 250 plies
}

// The stand-in library's hooks, found in the same loaded copy the engine uses.
template <typename T>
T hook(const char* name) {
  void* library = dlopen(TALVEK_EGBB_FOLDER "/egbbso64.so", RTLD_NOW | RTLD_NOLOAD);
  return library ? reinterpret_cast<T>(dlsym(library, name)) : nullptr;
}

TEST_F(EndgameDatabases, LoadsTheBitbaseLibraryFromItsFolder) {
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(loadEgbb("/nonexistent/egbb", 1 << 20), 0); }),
            "EgbbProbe not Loaded!\n");
  EXPECT_EQ(egbbAvailable, 0);

  settings.egbbPath = TALVEK_EGBB_FOLDER;
  EXPECT_EQ(captureOutput([] { EXPECT_EQ(loadEgbb(settings.egbbPath.c_str(), 3 << 20), 1); }), "");
  EXPECT_EQ(egbbAvailable, 1);
  EXPECT_EQ(std::string(settings.egbbPath), std::string(TALVEK_EGBB_FOLDER) + "/");
  auto path = hook<const char* (*)()>("fake_egbb_path");
  auto cache = hook<int (*)()>("fake_egbb_cache");
  ASSERT_TRUE(path && cache);
  EXPECT_EQ(std::string(path()), std::string(TALVEK_EGBB_FOLDER) + "/");
  EXPECT_EQ(cache(), 3 << 20);
}

// The library may keep the folder pointer it is loaded with and read it later (it opens its files
// when they are first needed): the text must still be there, unchanged, at every probe.
TEST_F(EndgameDatabases, TheBitbaseFolderTextOutlivesTheLoad) {
  std::string folder = std::string(TALVEK_EGBB_FOLDER) + "/";
  ASSERT_EQ(captureOutput([] { loadEgbb(TALVEK_EGBB_FOLDER, 1 << 20); }), "");
  auto atProbe = hook<const char* (*)()>("fake_egbb_path_at_probe");
  ASSERT_TRUE(atProbe);
  // Deep calls between the load and the probe reuse the stack the load ran on.
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KQ6 b - - 0 1"));
  captureOutput([] { initNalimov("", 1 << 16); });
  int score = 0;
  EXPECT_EQ(probeEgbb(&score), 1);
  EXPECT_EQ(std::string(atProbe()), folder);
}

// A bitbase answer keeps its sign at every ply: shorter wins score higher, but a win never turns
// into a loss; answers beyond the range of ordinary scores are not taken for mates.
TEST_F(EndgameDatabases, BitbaseScoresKeepTheirSignAtEveryPly) {
  EXPECT_EQ(egbbScore(1500, 3), 1100);   // 1500 - 100 - 100 x 3
  EXPECT_EQ(egbbScore(-1500, 3), -1100);
  EXPECT_EQ(egbbScore(0, 40), 0);
  EXPECT_GT(egbbScore(500, 2), egbbScore(500, 3));
  for (int ply = 0; ply < 128; ply++) {
    EXPECT_GT(egbbScore(500, ply), 0) << ply;
    EXPECT_LT(egbbScore(-500, ply), 0) << ply;
    EXPECT_GT(egbbScore(1, ply), 0) << ply;
    EXPECT_LT(egbbScore(-1, ply), 0) << ply;
  }
  EXPECT_LT(egbbScore(2000000000, 0), 32467);
  EXPECT_GT(egbbScore(-2000000000, 0), -32467);
  EXPECT_GT(egbbScore(-2147483647 - 1, 0), -32467);
}

// The library takes its cache size as a signed 32-bit count: sizes of 2 GiB and more never reach
// it as a negative number. The egbbcache setting's range is the one rule: the console refuses
// more with the usage line, the UCI option holds it to what fits, and a value past the range
// written by code is held to it on its way to the library.
TEST_F(EndgameDatabases, BitbaseCacheSizesReachTheLibraryAsPositiveNumbers) {
  settings.egbbPath = TALVEK_EGBB_FOLDER;
  ASSERT_EQ(captureOutput([] { applySetting(&Settings::egbbPath); }), "");
  auto cache = hook<int (*)()>("fake_egbb_cache");
  ASSERT_TRUE(cache);
  EXPECT_EQ(cache(), 16 << 20);
  EXPECT_EQ(captureOutput([] { runCommandLine("egbbcache 2048"); }),
            "usage: egbbcache <size> (1 to 2047)\n");
  EXPECT_EQ(settings.egbbCache, 16);
  EXPECT_EQ(cache(), 16 << 20);
  EXPECT_EQ(captureOutput([] { runCommandLine("egbbcache 2047"); }), "");
  EXPECT_EQ(settings.egbbCache, 2047);
  EXPECT_EQ(cache(), 2047 << 20);
  EXPECT_EQ(captureOutput([] { applyUciOption(settingRow(&Settings::egbbCache), "4095"); }), "");
  EXPECT_EQ(settings.egbbCache, 2047);
  settings.egbbCache = 4095;
  captureOutput([] { applySetting(&Settings::egbbCache); });
  EXPECT_EQ(cache(), 2047 << 20);
}

TEST_F(EndgameDatabases, PassesTheBitbaseTheMenInItsOrder) {
  ASSERT_EQ(captureOutput([] { loadEgbb(TALVEK_EGBB_FOLDER, 1 << 20); }), "");
  auto lastProbe = hook<const int* (*)()>("fake_egbb_last_probe");
  ASSERT_TRUE(lastProbe);
  int score = 0;
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KQ6 b - - 0 1"));
  EXPECT_EQ(probeEgbb(&score), 1);
  EXPECT_EQ(score, -1500);
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/7q/K7 b - - 0 1"));
  EXPECT_EQ(probeEgbb(&score), 1);
  EXPECT_EQ(score, 1500);
  ASSERT_TRUE(setPosition("8/8/4k3/3p4/8/8/1P6/K5N1 w - - 0 1"));
  EXPECT_EQ(probeEgbb(&score), 0);  // not in the stand-in's bitbase
  const int expected[9] = {0, 0, 44, 6, 9, 5, 6, 12, 35};  // pawns first, then pieces, by colour
  EXPECT_EQ(std::vector<int>(lastProbe(), lastProbe() + 9), std::vector<int>(expected, expected + 9));
  EXPECT_EQ(searchStats.egbbProbes, 3);
  EXPECT_EQ(searchStats.egbbHits, 2);
}

}  // namespace
