// The table checks on four-man tables made by the solver: correct files are all taken, files gone
// bad as a whole are refused at registration, and damaged blocks are refused before any of their
// values is answered. The figures (refused / cases) are printed as well as held to their targets.
// (Tables for timing by hand: `talvek tbgen <folder>`, see the README.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/egdb/table_files.h"
#include "tests/support/support.h"

namespace {

// Four-man classes whose files are mutated: with pawns (kppk, knpk), and with a piece on each
// side, in pairs of the same file length (a file of one installed under the other's name).
const char* const MUTATED[] = {"kppk", "knpk", "kqkn", "krkn", "kqkb", "krkb"};

// Classes of at most `men` men, by number.
std::vector<int> classesUpTo(size_t men) {
  std::vector<int> classes;
  for (int c = 1; c < TB_CLASSES; c++)
    if (std::strlen(tbClassName(c)) <= men) classes.push_back(c);
  return classes;
}

int classNumberOf(const std::string& name) {
  for (int c = 1; c < TB_CLASSES; c++)
    if (name == tbClassName(c)) return c;
  return 0;
}

// The classes the mutated ones need: every three-man class, and every four-man class without a
// man of the second side (the promotions of kppk lead through all of them), and the mutated ones.
std::vector<int> baseClasses() {
  std::vector<int> classes;
  for (int c : classesUpTo(4)) {
    std::string name = tbClassName(c);
    bool mutated = false;
    for (const char* m : MUTATED) mutated |= name == m;
    if (name.size() == 3 || name.ends_with("k") || mutated) classes.push_back(c);
  }
  return classes;
}

std::string registerPath(const std::string& path) {
  return captureOutput([&] { initNalimov(path.c_str(), 4 << 20); });
}

// Whether exactly the files of the base classes other than class c, side s are registered
// (c = 0: all of them).
::testing::AssertionResult onlyRefused(int c, int s) { return onlyRefusedOf(baseClasses(), c, s); }

// Registers a folder holding every correct base file (linked from base) but class c's side s
// file, which holds `bytes`.
std::string registerWith(const TempFolder& folder, const TempFolder& base, int c, int s,
                         const std::vector<uint8_t>& bytes) {
  for (int k : baseClasses())
    for (int side = 0; side < 2; side++)
      if (k != c || side != s) std::filesystem::create_hard_link(base.file(fileName(k, side)), folder.file(fileName(k, side)));
  folder.write(fileName(c, s), bytes);
  return registerPath(folder.path());
}

// All zeros, negated, zeros from a quarter, half or three quarters on, truncated, or the file of
// another class of the same length: each refused at registration, every other file kept.
void refuseFilesGoneBad(const TempFolder& base) {
  std::map<std::string, std::pair<int, int>> figures;  // by kind: refused, cases
  for (const char* name : MUTATED)
    for (int s = 0; s < 2; s++) {
      int c = classNumberOf(name);
      const std::vector<uint8_t>& right = solved(c, s);
      std::vector<std::pair<std::string, std::vector<uint8_t>>> bad = filesGoneBad(right, 5000);
      for (const char* otherName : MUTATED) {
        int other = classNumberOf(otherName);
        if (other != c && solved(other, s).size() == right.size())
          bad.push_back({"wrong class", solved(other, s)});
      }
      for (const auto& [what, bytes] : bad) {
        if (bytes == right) continue;
        TempFolder folder;
        std::string printed = registerWith(folder, base, c, s, bytes);
        EXPECT_TRUE(onlyRefused(c, s)) << fileName(c, s) << " " << what << "\n" << printed;
        figures[what].first += tbClasses[c].fileName[s] == nullptr;
        figures[what].second++;
      }
    }
  for (const auto& [what, figure] : figures)
    std::printf("%-14s refused at registration: %d / %d\n", what.c_str(), figure.first, figure.second);
  EXPECT_EQ(figures["wrong class"].second, 8);  // q and r files of one side, n and b files
}

// One 8 KB block of a file filled with random bytes, or with zeros, at random places of every
// mutated file: at least 95% refused (the file at registration, or the block at registration or
// when it is loaded) before any of its values is answered; a refused block costs no other file.
// What gets through is a block of mostly draws zeroed, with a few hundred values changed, which
// the checks of some of its positions at load do not meet.
void refuseDamagedBlocks(const TempFolder& base) {
  std::mt19937 random(2027);
  int cases = 0, fileRefused = 0, blockRefused = 0, missed = 0;
  for (const char* name : MUTATED)
    for (int s = 0; s < 2; s++) {
      int c = classNumberOf(name);
      const std::vector<uint8_t>& right = solved(c, s);
      uint32_t blocks = uint32_t((right.size() + TB_BLOCK - 1) / TB_BLOCK);
      for (int n = 0; n < 12; n++)
        for (bool zeros : {false, true}) {
          uint32_t block = random() % blocks;
          std::vector<uint8_t> bytes = right;
          for (size_t i = block * size_t(TB_BLOCK); i < bytes.size() && i < (block + 1) * size_t(TB_BLOCK); i++)
            bytes[i] = zeros ? 0 : uint8_t(random());
          if (bytes == right) continue;
          TempFolder folder;
          std::string printed = registerWith(folder, base, c, s, bytes);
          cases++;
          EXPECT_TRUE(onlyRefused(0, 0) || onlyRefused(c, s)) << fileName(c, s) << " block " << block << "\n" << printed;
          if (tbClasses[c].fileName[s] == nullptr) {
            fileRefused++;
            continue;
          }
          int wrong = wrongAnswers(c, s, block);
          if (wrong == 0 && tbClasses[c].refused[s] && (tbClasses[c].refused[s][block >> 3] >> (block & 7) & 1))
            blockRefused++;
          else if (wrong > 0)
            missed++, std::printf("missed: %s block %u %s, %d wrong values answered\n", fileName(c, s).c_str(),
                                  unsigned(block), zeros ? "zeros" : "random", wrong);
        }
    }
  std::printf("damaged blocks: %d cases, file refused %d, block refused %d, missed %d\n", cases,
              fileRefused, blockRefused, missed);
  EXPECT_GT(cases, 200);
  EXPECT_GE((fileRefused + blockRefused) * 100, cases * 95);
}

// One test, so that the classes are solved once (several minutes) however the suite is run.
TEST(FourManChecks, TakesCorrectFilesAndRefusesFilesGoneBad) {
  resetEngine();
  TempFolder base;
  for (int c : baseClasses())
    for (int s = 0; s < 2; s++) base.write(fileName(c, s), solved(c, s));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(registerPath(base.path()), "4-men Nalimov tablebases found\nEGTB cache:  4096 KB\n");
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(onlyRefused(0, 0));
  std::printf("registered %zu correct files in %.0f ms\n", 2 * baseClasses().size(), ms);
  refuseFilesGoneBad(base);
  refuseDamagedBlocks(base);
  captureOutput([] { initNalimov("", 0); });
  resetEngine();
}

}  // namespace
