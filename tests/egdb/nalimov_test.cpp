#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "session/session.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

constexpr int KPK = 1, KRK = 4, KQK = 5, KQKR = 19, KBBBK = 130;

// The solver's table of class c, side s.
const std::vector<uint8_t>& solved(int classNumber, int side) {
  static std::map<std::pair<int, int>, std::vector<uint8_t>> tables;
  std::vector<uint8_t>& table = tables[{classNumber, side}];
  if (table.empty()) table = classTable(classNumber, side, Solver(tbClassName(classNumber)));
  return table;
}

int8_t solvedByte(int classNumber, int side, uint32_t index) {
  return int8_t(solved(classNumber, side)[index]);
}

std::string fileName(int classNumber, int side) {
  return std::string(tbClassName(classNumber)) + (side ? ".nbb" : ".nbw");
}

// Registers folder and gives the reader a cache of the given size; returns what initTB printed.
struct Reader {
  std::vector<uint8_t> memory;
  int men = 0;
  std::string printed;
  Reader(const std::string& path, uint32_t cacheBytes) : memory(cacheBytes + 1) {
    printed = captureOutput([&] { men = initTB(path.c_str()); });
    resetTBCache(cacheBytes, memory.data());
  }
  ~Reader() {
    resetTBCache(0, nullptr);
    captureOutput([] { initTB(""); });
  }
};

class NalimovReader : public testing::Test {
 protected:
  void SetUp() override { resetEngine(); }
};

TEST_F(NalimovReader, RegistersEachFileFromTheFirstFolderThatHasIt) {
  TempFolder one, two, three;
  one.write(fileName(KQK, 0), solved(KQK, 0));
  two.write(fileName(KQK, 0), std::vector<uint8_t>(solved(KQK, 0).size(), 0));  // never read
  two.write(fileName(KQK, 1), solved(KQK, 1));
  three.write(fileName(KRK, 1), solved(KRK, 1));
  Reader reader(one.path() + ";" + two.path() + "," + three.path(), 100000);
  EXPECT_EQ(reader.men, 3);
  EXPECT_EQ(reader.printed, "");
  EXPECT_EQ(readTBByte(20000, 0, KQK), solvedByte(KQK, 0, 20000));
  EXPECT_NE(readTBByte(20000, 0, KQK), 0);
  EXPECT_EQ(readTBByte(20000, 1, KQK), solvedByte(KQK, 1, 20000));
  EXPECT_EQ(readTBByte(777, 1, KRK), solvedByte(KRK, 1, 777));
  EXPECT_EQ(readTBByte(777, 0, KRK), 127);  // no file for that side
  ASSERT_NE(tbClasses[KQK].fileName[0], nullptr);
  EXPECT_EQ(tbClasses[KQK].fileName[0], one.file(fileName(KQK, 0)));

  int whiteQueen[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  int blackRook[10] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  int rookAgainstQueen[10] = {0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(lookupTBClass(whiteQueen), KQK);
  EXPECT_EQ(lookupTBClass(blackRook), -KRK);
  EXPECT_EQ(lookupTBClass(rookAgainstQueen), -KQKR);  // known, though not registered
}

TEST_F(NalimovReader, ReportsTheLargestNumberOfMen) {
  TempFolder three, four, five, none;
  three.write(fileName(KPK, 1), solved(KPK, 1));
  // Tables that know nothing (127 everywhere): nothing in them contradicts the rules. The
  // five-man one is compressed (17 MB).
  four.write(fileName(KQKR, 0), std::vector<uint8_t>(layoutFileLength(KQKR, 0), 127));
  five.write(fileName(KBBBK, 0) + ".emd",
             encodeEmd(std::vector<uint8_t>(layoutFileLength(KBBBK, 0), 127)));
  EXPECT_EQ(Reader(three.path(), 0).men, 3);
  EXPECT_EQ(Reader(four.path(), 0).men, 4);
  EXPECT_EQ(Reader(five.path(), 0).men, 5);
  EXPECT_EQ(Reader(none.path(), 0).men, 0);
  EXPECT_EQ(Reader(three.path() + ";" + four.path(), 0).men, 4);
}

TEST_F(NalimovReader, ReadsBothCompressedFileNames) {
  TempFolder folder;
  folder.write("kqk.nbw.emd", encodeEmd(solved(KQK, 0)));
  folder.write("kqknbb.emd", encodeEmd(solved(KQK, 1)));
  Reader reader(folder.path() + "/", 3 * TB_SLOT_COST);
  EXPECT_EQ(reader.men, 3);
  for (int side = 0; side < 2; side++)
    for (uint32_t index : {0u, 8191u, 8192u, layoutFileLength(KQK, side) - 1})
      EXPECT_EQ(readTBByte(index, side, KQK), solvedByte(KQK, side, index)) << index;
}

// Files with structural problems get their message and are left out; the engine goes on.
TEST_F(NalimovReader, LeavesOutBrokenFilesWithTheirMessages) {
  TempFolder folder;
  std::vector<uint8_t> shortTable = solved(KQK, 0);
  shortTable.pop_back();
  folder.write(fileName(KQK, 0), shortTable);
  std::vector<uint8_t> broken = encodeEmd(solved(KQK, 1));
  broken[emdHeaderLength(broken) - 1] ^= 1;
  folder.write(fileName(KQK, 1) + ".emd", broken);
  std::vector<uint8_t> noBanner = encodeEmd(solved(KRK, 0));
  noBanner[58] = ' ';  // the banner line does not end in CR LF
  folder.write(fileName(KRK, 0) + ".emd", noBanner);
  EmdOptions smallBlocks;
  smallBlocks.width = 12;
  folder.write(fileName(KRK, 1) + ".emd", encodeEmd(solved(KRK, 1), smallBlocks));
  folder.write(fileName(KPK, 0), solved(KPK, 0));
  std::vector<uint8_t> truncated = encodeEmd(solved(KPK, 1));
  truncated.resize(emdHeaderLength(truncated) - 10);
  folder.write(fileName(KPK, 1) + ".emd", truncated);

  Reader reader(folder.path(), 100000);
  EXPECT_EQ(reader.men, 3);
  EXPECT_EQ(reader.printed,
            "*** Unable to read " + folder.file("kpk.nbb.emd") + " - file cut short\n"
            "*** Unable to read " + folder.file("krk.nbw.emd") + " - read error\n"
            "*** " + folder.file("krk.nbb.emd") + ": Unsupported block size 4096\n"
            "*** " + folder.file("kqk.nbw") + " corrupted\n"
            "*** Unable to read " + folder.file("kqk.nbb.emd") + " - file broken\n");
  EXPECT_EQ(tbClasses[KQK].fileName[0], nullptr);
  EXPECT_EQ(tbClasses[KQK].fileName[1], nullptr);
  EXPECT_EQ(readTBByte(9, 0, KPK), solvedByte(KPK, 0, 9));
}

// Compressors differ in their banner line: any line of the format's shape (58 characters, CR LF,
// four zero bytes) is read, the fixed fields and the header checksum identifying the format.
// Names that lead to no file say so: a link to nothing, a link in a loop, a file that may not be
// read. A name with nothing behind it is simply not there.
TEST_F(NalimovReader, ReportsTableNamesThatLeadNowhere) {
  TempFolder folder;
  folder.write(fileName(KQK, 0), solved(KQK, 0));
  std::filesystem::create_symlink(folder.file("elsewhere.nbw"), folder.file(fileName(KQK, 1)));
  std::filesystem::create_symlink(folder.file(fileName(KRK, 0)), folder.file(fileName(KRK, 0)));
  folder.write(fileName(KRK, 1), solved(KRK, 1));
  std::filesystem::permissions(folder.file(fileName(KRK, 1)), std::filesystem::perms::none);
  const bool rootReads = access(folder.file(fileName(KRK, 1)).c_str(), R_OK) == 0;
  Reader reader(folder.path(), 100000);
  EXPECT_EQ(reader.men, 3);
  std::string expected = "*** " + folder.file(fileName(KRK, 0)) + " is a link that leads round in a loop\n";
  if (!rootReads) expected += "*** " + folder.file(fileName(KRK, 1)) + " cannot be opened (Permission denied)\n";
  expected += "*** " + folder.file(fileName(KQK, 1)) + " is a link that leads nowhere\n";
  EXPECT_EQ(reader.printed, expected);
  EXPECT_NE(tbClasses[KQK].fileName[0], nullptr);
  EXPECT_EQ(tbClasses[KQK].fileName[1], nullptr);
  // Under UCI the same messages are "info string" lines, the only ones GUIs show.
  uciMode = 1;
  std::string underUci = captureOutput([&] { initTB(folder.path().c_str()); });
  uciMode = 0;
  EXPECT_EQ(underUci.rfind("info string *** " + folder.file(fileName(KRK, 0)) + " is a link", 0), 0u) << underUci;
  EXPECT_NE(underUci.find("\ninfo string *** " + folder.file(fileName(KQK, 1)) + " is a link that leads nowhere\n"),
            std::string::npos) << underUci;
}

TEST_F(NalimovReader, ReadsCompressedFilesWhateverTheirBanner) {
  TempFolder folder;
  EmdOptions other;
  other.banner = "Some other compressor 1.0   (c) nobody in particular, 1999\r\n";
  ASSERT_EQ(std::strlen(other.banner), 60u);
  folder.write(fileName(KQK, 0) + ".emd", encodeEmd(solved(KQK, 0), other));
  std::vector<uint8_t> zeroInBanner = encodeEmd(solved(KQK, 1), other);
  zeroInBanner[10] = 0;  // a banner is one line of text
  resealEmdHeader(zeroInBanner);
  folder.write(fileName(KQK, 1) + ".emd", zeroInBanner);
  Reader reader(folder.path(), 100000);
  EXPECT_EQ(reader.men, 3);
  EXPECT_EQ(reader.printed, "*** Unable to read " + folder.file("kqk.nbb.emd") + " - read error\n");
  for (uint32_t index = 0; index < solved(KQK, 0).size(); index += 97)
    ASSERT_EQ(readTBByte(index, 0, KQK), solvedByte(KQK, 0, index)) << index;
}

TEST_F(NalimovReader, ConvertsStoredBytesToValues) {
  TempFolder folder;
  // The values go where positions cannot occur (Black in check with White to move): no check
  // reads them, and the rest of the table knows nothing (127).
  std::vector<uint8_t> table(layoutFileLength(KQK, 0), 127);
  const int stored[] = {0, 1, 126, 127, -1, -126, -127, -128};
  const int value[] = {0, 32641, 32766, TB_NO_ANSWER, -32641, -32766, -32640, 32640};
  std::vector<uint32_t> at;
  for (uint32_t i = 0; at.size() < 8; i += 1 + uint32_t(at.size()) * 1500) {
    TbPosition p;
    if (decodeTbIndex(KQK, 0, i, p) && !tbPositionLegal(p)) at.push_back(i);
  }
  for (int i = 0; i < 8; i++) table[at[size_t(i)]] = uint8_t(stored[i]);
  folder.write(fileName(KQK, 0), table);
  Reader reader(folder.path(), 100000);
  for (int i = 0; i < 8; i++) EXPECT_EQ(probeTB(at[size_t(i)], 0, KQK), value[i]) << stored[i];
  EXPECT_EQ(probeTB(0, 1, KQK), TB_NO_ANSWER);  // side without a file
  EXPECT_EQ(probeTB(uint32_t(table.size()), 0, KQK), TB_NO_ANSWER);  // past the table
}

TEST_F(NalimovReader, ProbesNothingWithoutACache) {
  TempFolder folder;
  folder.write(fileName(KQK, 0), solved(KQK, 0));
  Reader reader(folder.path(), 31);
  EXPECT_EQ(resetTBCache(31, reader.memory.data()), 0);
  EXPECT_EQ(readTBByte(5, 0, KQK), 127);
  EXPECT_EQ(resetTBCache(TB_SLOT_COST - 1, reader.memory.data()), 1);
  EXPECT_EQ(tbCacheSlots(), 0);
  EXPECT_EQ(readTBByte(5, 0, KQK), 127);
}

TEST_F(NalimovReader, ReloadsBlocksThroughASingleSlot) {
  TempFolder folder;
  folder.write(fileName(KQK, 0), solved(KQK, 0));
  folder.write(fileName(KQK, 1) + ".emd", encodeEmd(solved(KQK, 1)));
  Reader reader(folder.path(), TB_SLOT_COST);
  EXPECT_EQ(tbCacheSlots(), 1);
  for (int round = 0; round < 4; round++) {
    EXPECT_EQ(readTBByte(100, 0, KQK), solvedByte(KQK, 0, 100));
    EXPECT_EQ(readTBByte(25000, 0, KQK), solvedByte(KQK, 0, 25000));
    EXPECT_EQ(readTBByte(27001, 1, KQK), solvedByte(KQK, 1, 27001));
  }
}

TEST_F(NalimovReader, KeepsAnswersRightUnderEviction) {
  TempFolder folder;
  folder.write(fileName(KPK, 0), solved(KPK, 0));
  folder.write(fileName(KPK, 1) + ".emd", encodeEmd(solved(KPK, 1)));
  std::mt19937 random(5);
  for (uint32_t cache : {3u * TB_SLOT_COST, 12u * TB_SLOT_COST}) {  // re-carving on resize
    Reader reader(folder.path(), cache);
    for (int i = 0; i < 3000; i++) {
      int side = int(random() % 2);
      uint32_t index = random() % 2 ? random() % layoutFileLength(KPK, side) : random() % (3 * TB_BLOCK);
      ASSERT_EQ(readTBByte(index, side, KPK), solvedByte(KPK, side, index)) << index;
    }
  }
}

// Every block loaded stays found while the cache has room for it: with the files gone, a cache
// that holds all their blocks still answers every position, without a word.
TEST_F(NalimovReader, FindsEveryCachedBlock) {
  TempFolder folder;
  const std::pair<int, int> sides[] = {{KQK, 0}, {KQK, 1}, {KRK, 0}, {KPK, 1}};
  uint32_t blocks = 0;
  for (auto [c, side] : sides) {
    folder.write(fileName(c, side), solved(c, side));
    blocks += (layoutFileLength(c, side) + TB_BLOCK - 1) / TB_BLOCK;
  }
  Reader reader(folder.path(), blocks * TB_SLOT_COST);
  for (auto [c, side] : sides)
    for (uint32_t index = 0; index < layoutFileLength(c, side); index += TB_BLOCK) readTBByte(index, side, c);
  for (auto [c, side] : sides) std::filesystem::remove(folder.file(fileName(c, side)));
  std::mt19937 random(11);
  EXPECT_EQ(captureOutput([&] {
              for (int i = 0; i < 3000; i++) {
                auto [c, side] = sides[random() % 4];
                uint32_t index = random() % layoutFileLength(c, side);
                ASSERT_EQ(readTBByte(index, side, c), solvedByte(c, side, index)) << c << " " << index;
              }
            }),
            "");
}

// Table files are only read. A file changed while the engine runs is registered again when a
// block of it is next loaded: one that shrank or vanished is refused, and its side answers
// "unknown" from then on; blocks already loaded from the old file stay as they were checked.
TEST_F(NalimovReader, RegistersChangedFilesAgain) {
  TempFolder folder;
  std::vector<uint8_t> plain = solved(KQK, 0);
  std::vector<uint8_t> compressed = encodeEmd(solved(KQK, 1));
  folder.write(fileName(KQK, 0), plain);
  folder.write(fileName(KQK, 1) + ".emd", compressed);
  folder.write(fileName(KRK, 0), solved(KRK, 0));
  Reader reader(folder.path(), 2 * TB_SLOT_COST);
  EXPECT_EQ(readTBByte(10, 0, KQK), solvedByte(KQK, 0, 10));
  EXPECT_EQ(readTBByte(12345, 1, KQK), solvedByte(KQK, 1, 12345));

  std::filesystem::resize_file(folder.file(fileName(KQK, 0)), 9000);
  std::filesystem::resize_file(folder.file(fileName(KQK, 1) + ".emd"), compressed.size() / 2);
  std::string printed = captureOutput([] {
    EXPECT_EQ(readTBByte(10, 0, KQK), solvedByte(KQK, 0, 10));  // loaded before the change
    EXPECT_EQ(readTBByte(20000, 0, KQK), 127);
    EXPECT_EQ(readTBByte(8500, 0, KQK), 127);
    EXPECT_EQ(readTBByte(27000, 1, KQK), 127);
  });
  EXPECT_EQ(printed, "*** " + folder.file(fileName(KQK, 0)) + " corrupted\n" +
                         "*** Unable to read " + folder.file(fileName(KQK, 1) + ".emd") +
                         " - file broken\n");
  EXPECT_EQ(tbClasses[KQK].fileName[0], nullptr);
  EXPECT_EQ(tbClasses[KQK].fileName[1], nullptr);

  // A table deleted while the engine runs is reported once, when it is next needed.
  std::filesystem::remove(folder.file(fileName(KRK, 0)));
  resetTBCache(uint32_t(reader.memory.size() - 1), reader.memory.data());  // closes every file
  printed = captureOutput([] {
    EXPECT_EQ(readTBByte(10, 0, KRK), 127);
    EXPECT_EQ(readTBByte(20, 0, KRK), 127);
  });
  EXPECT_EQ(printed, "*** " + folder.file(fileName(KRK, 0)) + " is gone; its table is not used\n");
  EXPECT_EQ(tbClasses[KRK].fileName[0], nullptr);

  std::ifstream in(folder.file(fileName(KQK, 0)), std::ios::binary);
  std::vector<uint8_t> left((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(left, std::vector<uint8_t>(plain.begin(), plain.begin() + 9000));  // never written
}

}  // namespace
