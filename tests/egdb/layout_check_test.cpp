// The check of table files at registration, and what a tablebase folder may hold besides tables:
// generated tables pass, a table laid out with the other king on the other side of the diagonal
// or filled with zeros is refused by name, a FIFO or a folder named like a table is not opened,
// and an ".emd" header may not claim more than its blocks need.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

constexpr int KQK = 5;

const Solver& kqkSolver() {
  static Solver solver("kqk");
  return solver;
}

std::string registerFolder(const TempFolder& folder) {
  return captureOutput([&] { initNalimov(folder.path().c_str(), 1 << 16); });
}

std::string refusal(const TempFolder& folder, const std::string& name) {
  return "*** " + folder.file(name) + ": table layout or contents do not match\n";
}

class LayoutCheck : public testing::Test {
 protected:
  void SetUp() override { resetEngine(); }
  void TearDown() override {
    captureOutput([] { initNalimov("", 0); });
    resetEngine();
  }
};

bool touching(int a, int b) { return std::abs((a & 7) - (b & 7)) <= 1 && std::abs((a >> 3) - (b >> 3)) <= 1; }
int transpose(int sq) { return (sq & 7) << 3 | sq >> 3; }

// Index of a kqk position in a layout that differs from the engine's in one choice only: when
// the mover's king is on the a1-h8 diagonal, the other king is taken to the side above it, not
// below. Every file length stays the same.
uint32_t otherDiagonalIndex(const TbPosition& p) {
  int flip = p.side ? 56 : 0;
  int m = p.kings[p.side] ^ flip, o = p.kings[p.side ^ 1] ^ flip, q = (p.units[0][0] % 64) ^ flip;
  int mask = ((m & 7) > 3 ? 7 : 0) | ((m >> 3) > 3 ? 56 : 0);
  m ^= mask, o ^= mask, q ^= mask;
  bool turn = (m >> 3) > (m & 7);
  if (turn) m = transpose(m), o = transpose(o), q = transpose(q);
  if ((m >> 3) == (m & 7) && (o >> 3) < (o & 7)) m = transpose(m), o = transpose(o), q = transpose(q);
  bool own = p.side == 0;  // the queen belongs to the side to move
  auto allowed = [&](int km, int ko, int sq) { return sq != km && sq != ko && !(own && touching(sq, ko)); };
  // Dense numbers before each king pair, in pair order (mover's king over the triangle).
  static std::vector<int64_t> offsets[2];
  std::vector<int64_t>& offset = offsets[own];
  if (offset.empty()) {
    static const int TRIANGLE[10] = {0, 1, 2, 3, 9, 10, 11, 18, 19, 27};
    offset.assign(64 * 64, -1);
    int64_t next = 0;
    for (int km : TRIANGLE)
      for (int ko = 0; ko < 64; ko++) {
        if (ko == km || touching(km, ko)) continue;
        if ((km >> 3) == (km & 7) && (ko >> 3) < (ko & 7)) continue;
        offset[size_t(km * 64 + ko)] = next;
        for (int sq = 0; sq < 64; sq++) next += allowed(km, ko, sq);
      }
  }
  int64_t base = offset[size_t(m * 64 + o)];
  if (base < 0 || !allowed(m, o, q)) return TB_NO_INDEX;
  int code = 0;
  for (int sq = 0; sq < q; sq++) code += allowed(m, o, sq);
  return uint32_t(base + code);
}

std::vector<uint8_t> otherDiagonalTable(int side) {
  std::vector<uint8_t> bytes(tbFileLength(KQK, side), 127);
  for (int m = 0; m < 64; m++)
    for (int o = 0; o < 64; o++)
      for (int q = 0; q < 64; q++) {
        TbPosition p{side, {side ? o : m, side ? m : o}, {{QUEEN * 64 + q}, {}}, -1};
        if (!tbPositionLegal(p)) continue;
        uint32_t index = otherDiagonalIndex(p);
        if (index < bytes.size()) bytes[index] = uint8_t(tableByte(kqkSolver().valueOf(p)));
      }
  return bytes;
}

TEST_F(LayoutCheck, GeneratedTablesPass) {
  TempFolder plain, compressed;
  writeClassFiles(plain, KQK, kqkSolver(), false);
  writeClassFiles(compressed, KQK, kqkSolver(), true);
  EXPECT_EQ(registerFolder(plain), "3-men Nalimov tablebases found\nEGTB cache:  64 KB\n");
  EXPECT_EQ(registerFolder(compressed), "3-men Nalimov tablebases found\nEGTB cache:  64 KB\n");
  EXPECT_NE(tbClasses[KQK].fileName[0], nullptr);
  EXPECT_NE(tbClasses[KQK].fileName[1], nullptr);
}

// The same values laid out with the other king on the other side of the diagonal: every length
// is right, but positions are read from the wrong places. Both files are refused.
TEST_F(LayoutCheck, RefusesATableWithTheOtherDiagonalChoice) {
  TempFolder folder;
  folder.write("kqk.nbw", otherDiagonalTable(0));
  folder.write("kqk.nbb.emd", encodeEmd(otherDiagonalTable(1)));
  EXPECT_EQ(registerFolder(folder), refusal(folder, "kqk.nbw") + refusal(folder, "kqk.nbb.emd") +
                                        "No Nalimov tablebases found!\n");
  EXPECT_EQ(tbMaxMen, 0);
  // The layout itself is sound: the two layouts name the same positions.
  int agree = 0;
  for (uint32_t i = 0; i < tbFileLength(KQK, 0); i += 97) {
    TbPosition p;
    if (!decodeTbIndex(KQK, 0, i, p) || !tbPositionLegal(p)) continue;
    EXPECT_LT(otherDiagonalIndex(p), tbFileLength(KQK, 0));
    agree += otherDiagonalIndex(p) == i;
  }
  EXPECT_GT(agree, 0);  // they differ only where the mover's king is on the diagonal
}

// Files of the right lengths full of zero bytes (every position a draw, checkmates included) are
// refused and the engine goes on without them.
TEST_F(LayoutCheck, RefusesTablesOfZeros) {
  TempFolder folder;
  folder.write("kqk.nbw", std::vector<uint8_t>(tbFileLength(KQK, 0), 0));
  folder.write("kqk.nbb", std::vector<uint8_t>(tbFileLength(KQK, 1), 0));
  writeClassFiles(folder, 4, Solver("krk"), false);
  EXPECT_EQ(registerFolder(folder), refusal(folder, "kqk.nbw") + refusal(folder, "kqk.nbb") +
                                        "3-men Nalimov tablebases found\nEGTB cache:  64 KB\n");
  int score = 0;
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KQ6 w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 0);
  ASSERT_TRUE(setPosition("8/8/8/8/8/2k5/8/KR6 w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 1);
}

// A FIFO named like a table would block an open for reading until a writer comes: it is not
// opened, at registration or later, and neither is a folder.
TEST_F(LayoutCheck, OpensOnlyRegularFilesAsTables) {
  TempFolder folder;
  ASSERT_EQ(mkfifo(folder.file("kqk.nbw").c_str(), 0600), 0);
  std::filesystem::create_directory(folder.file("krk.nbw"));
  std::filesystem::create_directory(folder.file("krk.nbw.emd"));
  writeClassFiles(folder, 1, Solver("kpk"), false);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(registerFolder(folder), "*** " + folder.file("krk.nbw") + " is not a regular file\n" +
                                        "*** " + folder.file("krk.nbw.emd") + " is not a regular file\n" +
                                        "*** " + folder.file("kqk.nbw") + " is not a regular file\n" +
                                        "3-men Nalimov tablebases found\nEGTB cache:  64 KB\n");
  EXPECT_EQ(tbClasses[KQK].fileName[0], nullptr);
  EXPECT_EQ(openRegularFile(folder.file("kqk.nbw").c_str()), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  // A table replaced by a FIFO while the engine runs answers "unknown".
  std::filesystem::remove(folder.file("kpk.nbw"));
  ASSERT_EQ(mkfifo(folder.file("kpk.nbw").c_str(), 0600), 0);
  closeTBFiles();
  emptyTBCache();
  std::string printed = captureOutput([] { EXPECT_EQ(readTBByte(100, 0, 1), 127); });
  EXPECT_NE(printed.find("is not a regular file"), std::string::npos);
}

// An ".emd" header whose stated length is more than its blocks can use is broken, and is found
// so before anything of that length is allocated or read (the file here is sparse, 1 GiB).
TEST_F(LayoutCheck, BoundsTheHeaderLengthByItsBlocks) {
  TempFolder folder;
  std::vector<uint8_t> file = encodeEmd(std::vector<uint8_t>(tbFileLength(KQK, 0), 0));
  uint32_t claimed = 1u << 30;
  for (int i = 0; i < 4; i++) file[size_t(64 + i)] = uint8_t(claimed >> (24 - 8 * i));
  folder.write("kqk.nbw.emd", file);
  std::filesystem::resize_file(folder.file("kqk.nbw.emd"), claimed + 100);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(registerFolder(folder), "*** Unable to read " + folder.file("kqk.nbw.emd") +
                                        " - file broken\nNo Nalimov tablebases found!\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // A count of blocks no table needs is broken too.
  FILE* out = std::fopen(folder.file("x.emd").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> many = encodeEmd(std::vector<uint8_t>(100, 1));
  uint32_t blocks = 1u << 20;
  for (int i = 0; i < 4; i++) many[size_t(72 + i)] = uint8_t(blocks >> (24 - 8 * i));
  std::fwrite(many.data(), 1, many.size(), out);
  std::fclose(out);
  std::filesystem::resize_file(folder.file("x.emd"), uint64_t(blocks) * 16);
  FILE* in = std::fopen(folder.file("x.emd").c_str(), "rb");
  EmdDirectory* directory = nullptr;
  EXPECT_EQ(readEmdHeader(in, &directory), EMD_BROKEN);
  EXPECT_EQ(directory, nullptr);
  std::fclose(in);
}

// The header checksum of the compressed files, worked out by hand from its description: table
// entry i is i shifted right eight times, XOR-ed with EDB88320 after every shift that pushed out
// a 0 bit; each byte b turns the sum s into table[(s ^ b) & FF] ^ (s >> 8), starting from 0.
//   table[0]: every shift pushes out a 0 bit: 0 -> EDB88320 -> 76DC4190 ^ EDB88320 = 9B64C2B0
//   -> 4DB26158 ^ EDB88320 = A00AE278 -> BDBDF21C -> B3667A2E -> B40BBE37 -> 5A05DF1B
//   -> 2D02EF8D. The single byte 0 sums to table[0] = 2D02EF8D.
//   table[1]: the first shift pushes out the 1 bit (no XOR) and leaves 0; the seven others are
//   the first seven steps of table[0], ending at 5A05DF1B, the sum of the single byte 1.
// The longer strings were summed in a separate script following the same steps, not with the
// engine's code. (The checksum is not the usual CRC-32: its XOR follows the 0 bits and there is
// no final inversion.)
TEST(EmdChecksum, MatchesValuesWorkedOutByHand) {
  const uint8_t zero[1] = {0};
  const uint8_t one[1] = {1};
  EXPECT_EQ(emdChecksum(zero, 0), 0u);
  EXPECT_EQ(emdChecksum(zero, 1), 0x2D02EF8Du);
  EXPECT_EQ(emdChecksum(one, 1), 0x5A05DF1Bu);
  const char* text = "Talvek";
  EXPECT_EQ(emdChecksum(reinterpret_cast<const uint8_t*>(text), 6), 0x203023D4u);
  std::vector<uint8_t> header(EMD_SIGNATURE, EMD_SIGNATURE + EMD_SIGNATURE_SIZE);
  EXPECT_EQ(emdChecksum(header.data(), header.size()), 0xDC23A1AEu);
}

}  // namespace

namespace {

// Writes every one of the 290 tables into folder as a sparse file of the right length that is
// zero but at the positions the registration checks.
void writeEveryTable(const std::string& folder) {
  for (int c = 1; c < TB_CLASSES; c++)
    for (int side = 0; side < 2; side++) {
      std::string name = folder + "/" + tbClassName(c) + (side ? ".nbb" : ".nbw");
      FILE* file = std::fopen(name.c_str(), "wb");
      ASSERT_NE(file, nullptr);
      std::fclose(file);
      ASSERT_EQ(truncate(name.c_str(), off_t(tbFileLength(c, side))), 0);
      putSampleValues(name, c, side);
    }
}

}  // namespace

// A folder of all 290 tables, each right where the registration looks, is taken whole.
TEST_F(LayoutCheck, RegistersAFolderOfEveryTable) {
  TempFolder folder;
  writeEveryTable(folder.path());
  EXPECT_EQ(registerFolder(folder), "5-men Nalimov tablebases found\nEGTB cache:  64 KB\n");
  for (int c = 1; c < TB_CLASSES; c++)
    for (int side = 0; side < 2; side++) EXPECT_NE(tbClasses[c].fileName[side], nullptr) << c;
}

// Writes such a folder to /tmp/talvek-all-tables for timing the registration by hand:
//   build/talvek_tests --gtest_also_run_disabled_tests --gtest_filter='*WritesAFolderOfEveryTable'
TEST_F(LayoutCheck, DISABLED_WritesAFolderOfEveryTable) {
  std::filesystem::create_directories("/tmp/talvek-all-tables");
  writeEveryTable("/tmp/talvek-all-tables");
}

namespace {

// Stored byte of a pattern for the en-passant part: never 127 ("unknown") nor the two odd codes.
uint8_t epPattern(uint64_t index) { return uint8_t(int((index * 7 + 3) % 253) - 126); }

int scoreOfByte(int8_t b) {
  return nalimovScore(b > 0 ? b + 32640 : b < 0 ? b - 32640 : 0);
}

// Probes every step-th en-passant position of class c through the board and probeNalimov, both
// ways up, and compares with the byte the file holds at the index the decoder names. Returns the
// positions probed; bothSides counts those with pawns of the side to move on both sides of the
// pawn that has just advanced.
int probeEnPassantPart(const std::string& path, int c, int side, uint32_t step, int* bothSides) {
  std::vector<uint8_t> file(tbFileLength(c, side));
  FILE* in = std::fopen(path.c_str(), "rb");
  EXPECT_NE(in, nullptr);
  if (!in) return 0;
  uint64_t start = layoutEnPassantStart(c, side);
  std::fseek(in, long(start), SEEK_SET);
  size_t got = std::fread(file.data() + start, 1, file.size() - start, in);
  std::fclose(in);
  EXPECT_EQ(got, file.size() - start);
  uint64_t restRange = (layoutIndexCount(c, side) - start) / (1806 * 14);
  int probed = 0;
  std::string failures;
  captureOutput([&] {
    for (uint64_t i = start; i < file.size(); i += step) {
      TbPosition p;
      if (!decodeTbIndex(c, side, uint32_t(i), p) || !tbPositionLegal(p)) continue;
      // With pawns of the side to move on both sides of the advanced one, the position has two
      // entries (either pawn as the taker); the one with the taker on the left is read.
      int advanced = p.ep + (side ? 8 : -8), neighbours = 0;
      for (int unit : p.units[side])
        neighbours += unit / 64 == PAWN && (unit % 64) / 8 == advanced / 8 &&
                      std::abs(unit % 64 - advanced) == 1;
      uint64_t slot = (i - start) / restRange % 14;
      bool takerOnTheLeft = slot % 2 == 1;
      if (neighbours == 2 && !takerOnTheLeft) continue;
      for (bool flip : {false, true}) {
        std::string fen = fenOf(p, flip);
        int score = 0;
        if (setBoard(fen.c_str()) != 0 || epSquare == 0 || probeNalimov(&score) != 1 ||
            score != scoreOfByte(int8_t(file[i]))) {
          failures += fen + " index " + std::to_string(i) + "\n";
          if (failures.size() > 1000) return;
        }
      }
      probed++;
      *bothSides += neighbours == 2;
    }
  });
  EXPECT_EQ(failures, "") << tbClassName(c) << " side " << side;
  return probed;
}

}  // namespace

// En-passant positions probed end to end, from the board through the index functions and the
// reader, in tables with pawns on both sides: kpkp whole, and the en-passant part of kppkp, where
// the side with two pawns may have one on each side of the pawn that has just advanced.
TEST_F(LayoutCheck, ProbesEnPassantPositionsThroughGeneratedTables) {
  TempFolder folder;
  for (int side = 0; side < 2; side++) {
    std::vector<uint8_t> kpkp(tbFileLength(6, side));
    for (size_t i = 0; i < kpkp.size(); i++) kpkp[i] = epPattern(i);
    putSampleValues(kpkp, 6, side);
    folder.write(std::string("kpkp") + (side ? ".nbb" : ".nbw"), kpkp);

    std::string name = folder.file(std::string("kppkp") + (side ? ".nbb" : ".nbw"));
    uint64_t start = layoutEnPassantStart(36, side), length = tbFileLength(36, side);
    std::vector<uint8_t> part(length - start);
    for (size_t i = 0; i < part.size(); i++) part[i] = epPattern(start + i);
    FILE* out = std::fopen(name.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
    ASSERT_EQ(truncate(name.c_str(), off_t(length)), 0);
    out = std::fopen(name.c_str(), "r+b");
    std::fseek(out, long(start), SEEK_SET);
    std::fwrite(part.data(), 1, part.size(), out);
    std::fclose(out);
    putSampleValues(name, 36, side);
  }
  EXPECT_EQ(registerFolder(folder), "5-men Nalimov tablebases found\nEGTB cache:  64 KB\n");
  int bothSides = 0;
  for (int side = 0; side < 2; side++) {
    EXPECT_GT(probeEnPassantPart(folder.file(std::string("kpkp") + (side ? ".nbb" : ".nbw")), 6,
                                 side, 7, &bothSides), 2000);
    EXPECT_GT(probeEnPassantPart(folder.file(std::string("kppkp") + (side ? ".nbb" : ".nbw")), 36,
                                 side, 41, &bothSides), 500);
  }
  EXPECT_GT(bothSides, 10);
}
