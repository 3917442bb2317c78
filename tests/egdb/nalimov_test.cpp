#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

constexpr int KPK = 1, KRK = 4, KQK = 5, KQKR = 19, KBBBK = 130;

// A table of the right length for class c and side whose byte i is a fixed function of i and a
// seed, except at the positions the registration checks, which hold their right values.
std::vector<uint8_t> patternTable(int classNumber, int side, int seed) {
  std::vector<uint8_t> bytes(layoutFileLength(classNumber, side));
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = uint8_t((i * 7 + i / 8192 * 13 + seed) % 251);
  putSampleValues(bytes, classNumber, side);
  return bytes;
}

// A table of zero bytes but at the positions the registration checks.
std::vector<uint8_t> sealedZeros(int classNumber, int side) {
  std::vector<uint8_t> bytes(layoutFileLength(classNumber, side), 0);
  putSampleValues(bytes, classNumber, side);
  return bytes;
}

int8_t patternByte(uint32_t index, int seed) {
  return int8_t(uint8_t((uint64_t(index) * 7 + index / 8192 * 13 + uint64_t(seed)) % 251));
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
  one.write(fileName(KQK, 0), patternTable(KQK, 0, 1));
  two.write(fileName(KQK, 0), patternTable(KQK, 0, 2));
  two.write(fileName(KQK, 1), patternTable(KQK, 1, 3));
  three.write(fileName(KRK, 1), patternTable(KRK, 1, 4));
  Reader reader(one.path() + ";" + two.path() + "," + three.path(), 100000);
  EXPECT_EQ(reader.men, 3);
  EXPECT_EQ(reader.printed, "");
  EXPECT_EQ(readTBByte(20000, 0, KQK), patternByte(20000, 1));
  EXPECT_EQ(readTBByte(20000, 1, KQK), patternByte(20000, 3));
  EXPECT_EQ(readTBByte(777, 1, KRK), patternByte(777, 4));
  EXPECT_EQ(readTBByte(777, 0, KRK), 127);  // no file for that side
  ASSERT_NE(tbClasses[KQK].fileName[0], nullptr);
  EXPECT_EQ(tbClasses[KQK].fileName[0], one.file(fileName(KQK, 0)));

  int whiteQueen[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  int blackRook[10] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  int rookAgainstQueen[10] = {0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(lookupTBClass(whiteQueen), KQK);
  EXPECT_EQ(lookupTBClass(blackRook), -KRK);
  EXPECT_EQ(lookupTBClass(rookAgainstQueen), 0);  // kqkr is not registered
}

TEST_F(NalimovReader, ReportsTheLargestNumberOfMen) {
  TempFolder three, four, five, none;
  three.write(fileName(KPK, 1), patternTable(KPK, 1, 0));
  four.write(fileName(KQKR, 0), patternTable(KQKR, 0, 0));
  // A five-man table of zeros, compressed (17 MB uncompressed).
  five.write(fileName(KBBBK, 0) + ".emd",
             encodeEmd(sealedZeros(KBBBK, 0)));
  EXPECT_EQ(Reader(three.path(), 0).men, 3);
  EXPECT_EQ(Reader(four.path(), 0).men, 4);
  EXPECT_EQ(Reader(five.path(), 0).men, 5);
  EXPECT_EQ(Reader(none.path(), 0).men, 0);
  EXPECT_EQ(Reader(three.path() + ";" + four.path(), 0).men, 4);
}

TEST_F(NalimovReader, ReadsBothCompressedFileNames) {
  TempFolder folder;
  folder.write("kqk.nbw.emd", encodeEmd(patternTable(KQK, 0, 5)));
  folder.write("kqknbb.emd", encodeEmd(patternTable(KQK, 1, 6)));
  Reader reader(folder.path() + "/", 3 * TB_SLOT_COST);
  EXPECT_EQ(reader.men, 3);
  for (int side = 0; side < 2; side++)
    for (uint32_t index : {0u, 8191u, 8192u, layoutFileLength(KQK, side) - 1})
      EXPECT_EQ(readTBByte(index, side, KQK), patternByte(index, side ? 6 : 5)) << index;
}

// Files with structural problems get their message and are left out; the engine goes on.
TEST_F(NalimovReader, LeavesOutBrokenFilesWithTheirMessages) {
  TempFolder folder;
  std::vector<uint8_t> shortTable = patternTable(KQK, 0, 0);
  shortTable.pop_back();
  folder.write(fileName(KQK, 0), shortTable);
  std::vector<uint8_t> broken = encodeEmd(patternTable(KQK, 1, 0));
  broken[emdHeaderLength(broken) - 1] ^= 1;
  folder.write(fileName(KQK, 1) + ".emd", broken);
  std::vector<uint8_t> emdSignature = encodeEmd(patternTable(KRK, 0, 0));
  emdSignature[0] = 'X';
  folder.write(fileName(KRK, 0) + ".emd", emdSignature);
  EmdOptions smallBlocks;
  smallBlocks.width = 12;
  folder.write(fileName(KRK, 1) + ".emd", encodeEmd(patternTable(KRK, 1, 0), smallBlocks));
  folder.write(fileName(KPK, 0), patternTable(KPK, 0, 0));
  std::vector<uint8_t> truncated = encodeEmd(patternTable(KPK, 1, 0));
  truncated.resize(emdHeaderLength(truncated) - 10);
  folder.write(fileName(KPK, 1) + ".emd", truncated);

  Reader reader(folder.path(), 100000);
  EXPECT_EQ(reader.men, 3);
  EXPECT_EQ(reader.printed,
            "*** Unable to read " + folder.file("kpk.nbb.emd") + " - out of memory\n"
            "*** Unable to read " + folder.file("krk.nbw.emd") + " - read error\n"
            "*** " + folder.file("krk.nbb.emd") + ": Unsupported block size 4096\n"
            "*** " + folder.file("kqk.nbw") + " corrupted\n"
            "*** Unable to read " + folder.file("kqk.nbb.emd") + " - file broken\n");
  EXPECT_EQ(tbClasses[KQK].fileName[0], nullptr);
  EXPECT_EQ(tbClasses[KQK].fileName[1], nullptr);
  EXPECT_EQ(readTBByte(9, 0, KPK), patternByte(9, 0));
}

TEST_F(NalimovReader, ConvertsStoredBytesToValues) {
  TempFolder folder;
  std::vector<uint8_t> table(layoutFileLength(KQK, 0), 0);
  const int stored[] = {0, 1, 126, 127, -1, -126, -127, -128};
  const int value[] = {0, 32641, 32766, TB_NO_ANSWER, -32641, -32766, -32640, 32640};
  putSampleValues(table, KQK, 0);
  for (int i = 0; i < 8; i++) table[size_t(i) * 3000] = uint8_t(stored[i]);
  folder.write(fileName(KQK, 0), table);
  Reader reader(folder.path(), 100000);
  for (int i = 0; i < 8; i++) EXPECT_EQ(probeTB(uint32_t(i) * 3000, 0, KQK), value[i]) << stored[i];
  EXPECT_EQ(probeTB(0, 1, KQK), TB_NO_ANSWER);  // side without a file
  EXPECT_EQ(probeTB(uint32_t(table.size()), 0, KQK), TB_NO_ANSWER);  // past the table
}

TEST_F(NalimovReader, ProbesNothingWithoutACache) {
  TempFolder folder;
  folder.write(fileName(KQK, 0), patternTable(KQK, 0, 1));
  Reader reader(folder.path(), 31);
  EXPECT_EQ(resetTBCache(31, reader.memory.data()), 0);
  EXPECT_EQ(readTBByte(5, 0, KQK), 127);
  EXPECT_EQ(resetTBCache(TB_SLOT_COST - 1, reader.memory.data()), 1);
  EXPECT_EQ(tbCacheSlots(), 0);
  EXPECT_EQ(readTBByte(5, 0, KQK), 127);
}

TEST_F(NalimovReader, ReloadsBlocksThroughASingleSlot) {
  TempFolder folder;
  folder.write(fileName(KQK, 0), patternTable(KQK, 0, 1));
  folder.write(fileName(KQK, 1) + ".emd", encodeEmd(patternTable(KQK, 1, 2)));
  Reader reader(folder.path(), TB_SLOT_COST);
  EXPECT_EQ(tbCacheSlots(), 1);
  for (int round = 0; round < 4; round++) {
    EXPECT_EQ(readTBByte(100, 0, KQK), patternByte(100, 1));
    EXPECT_EQ(readTBByte(25000, 0, KQK), patternByte(25000, 1));
    EXPECT_EQ(readTBByte(27001, 1, KQK), patternByte(27001, 2));
  }
}

TEST_F(NalimovReader, KeepsAnswersRightUnderEviction) {
  TempFolder folder;
  folder.write(fileName(KQKR, 0), patternTable(KQKR, 0, 8));
  folder.write(fileName(KQKR, 1) + ".emd", encodeEmd(patternTable(KQKR, 1, 9)));
  std::mt19937 random(5);
  for (uint32_t cache : {3u * TB_SLOT_COST, 40u * TB_SLOT_COST}) {  // re-carving on resize
    Reader reader(folder.path(), cache);
    for (int i = 0; i < 3000; i++) {
      int side = int(random() % 2);
      uint32_t index = random() % 2 ? random() % layoutFileLength(KQKR, side) : random() % (8 * TB_BLOCK);
      ASSERT_EQ(readTBByte(index, side, KQKR), patternByte(index, side ? 9 : 8)) << index;
    }
  }
}

// Table files are only read: a file that vanishes or shrinks while the engine runs makes its
// side answer "unknown" from then on.
TEST_F(NalimovReader, AnswersUnknownWhenFilesVanishOrShrink) {
  TempFolder folder;
  std::vector<uint8_t> plain = patternTable(KQK, 0, 1);
  std::vector<uint8_t> compressed = encodeEmd(patternTable(KQK, 1, 2));
  folder.write(fileName(KQK, 0), plain);
  folder.write(fileName(KQK, 1) + ".emd", compressed);
  folder.write(fileName(KRK, 0), patternTable(KRK, 0, 3));
  Reader reader(folder.path(), 2 * TB_SLOT_COST);
  EXPECT_EQ(readTBByte(10, 0, KQK), patternByte(10, 1));
  EXPECT_EQ(readTBByte(12345, 1, KQK), patternByte(12345, 2));

  std::filesystem::resize_file(folder.file(fileName(KQK, 0)), 9000);
  std::filesystem::resize_file(folder.file(fileName(KQK, 1) + ".emd"), compressed.size() / 2);
  EXPECT_EQ(readTBByte(8500, 0, KQK), patternByte(8500, 1));  // still inside the shorter file
  EXPECT_EQ(readTBByte(20000, 0, KQK), 127);                  // past its new end
  EXPECT_EQ(readTBByte(27000, 1, KQK), 127);                  // its block is gone
  EXPECT_EQ(tbClasses[KQK].fileName[1], nullptr);

  std::filesystem::remove(folder.file(fileName(KRK, 0)));
  resetTBCache(uint32_t(reader.memory.size() - 1), reader.memory.data());  // closes every file
  EXPECT_EQ(readTBByte(10, 0, KRK), 127);
  EXPECT_EQ(tbClasses[KRK].fileName[0], nullptr);

  std::ifstream in(folder.file(fileName(KQK, 0)), std::ios::binary);
  std::vector<uint8_t> left((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(left, std::vector<uint8_t>(plain.begin(), plain.begin() + 9000));  // never written
}

}  // namespace
