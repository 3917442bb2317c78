// The check of table contents against the rules, and what a tablebase folder may hold besides
// tables: tables made by the solver pass, files gone bad the ways files do (zeros, a negated or
// wrong-class file, an interrupted copy, a damaged block, a flipped bit, a file replaced after
// registration) are refused before any of their values reaches a probe, a FIFO or a folder named
// like a table is not opened, and an ".emd" header may not claim more than its blocks need.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/egdb/table_files.h"
#include "tests/support/support.h"

namespace {

constexpr int KPK = 1, KNK = 2, KBK = 3, KRK = 4, KQK = 5;

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
  std::string printed = registerFolder(folder);
  EXPECT_NE(printed.find(refusal(folder, "kqk.nbw")), std::string::npos);
  EXPECT_NE(printed.find(refusal(folder, "kqk.nbb.emd")), std::string::npos);
  EXPECT_NE(printed.find("No Nalimov tablebases found!\n"), std::string::npos);
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
// refused and the engine goes on without them: the checkmates contradict the rules, and the mates
// in one the checkmates they lead to.
TEST_F(LayoutCheck, RefusesTablesOfZeros) {
  TempFolder folder;
  folder.write("kqk.nbw", std::vector<uint8_t>(tbFileLength(KQK, 0), 0));
  folder.write("kqk.nbb", std::vector<uint8_t>(tbFileLength(KQK, 1), 0));
  writeClassFiles(folder, KRK, Solver("krk"), false);
  std::string printed = registerFolder(folder);
  EXPECT_NE(printed.find(refusal(folder, "kqk.nbw")), std::string::npos);
  EXPECT_NE(printed.find(refusal(folder, "kqk.nbb")), std::string::npos);
  EXPECT_TRUE(printed.ends_with("\n3-men Nalimov tablebases found\nEGTB cache:  64 KB\n")) << printed;
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
  writeClassFiles(folder, KPK, Solver("kpk"), false);
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
  std::vector<uint8_t> header(TALVEK_EMD_BANNER, TALVEK_EMD_BANNER + EMD_SIGNATURE_SIZE - 4);
  header.resize(EMD_SIGNATURE_SIZE);
  EXPECT_EQ(emdChecksum(header.data(), header.size()), 0xDC23A1AEu);
}

}  // namespace

namespace {

const char* const THREE_MAN[] = {"kpk", "knk", "kbk", "krk", "kqk"};

// Writes every three-man file but the one of class c, side s, which gets `bytes` (compressed
// when asked); registers the folder and returns what was printed.
std::string registerWith(const TempFolder& folder, int c, int s, const std::vector<uint8_t>& bytes,
                         bool compressed = false) {
  for (int k = KPK; k <= KQK; k++)
    for (int side = 0; side < 2; side++)
      if (k != c || side != s) folder.write(fileName(k, side), solved(k, side));
  folder.write(fileName(c, s) + (compressed ? ".emd" : ""), bytes);
  return registerFolder(folder);
}

// Every three-man file registered, but the one of class c, side s.
::testing::AssertionResult onlyRefused(int c, int s) {
  std::vector<int> threeMan;
  for (int k = KPK; k <= KQK; k++) threeMan.push_back(k);
  return onlyRefusedOf(threeMan, c, s);
}

}  // namespace

// A folder of every three-man table is registered whole, plain or compressed.
TEST_F(LayoutCheck, TakesEveryCorrectTable) {
  for (bool compressed : {false, true}) {
    TempFolder folder;
    for (int c = KPK; c <= KQK; c++) writeClassFiles(folder, c, Solver(tbClassName(c)), compressed);
    EXPECT_EQ(registerFolder(folder), "3-men Nalimov tablebases found\nEGTB cache:  64 KB\n");
    EXPECT_TRUE(onlyRefused(0, 0));
  }
}

// Each three-man file gone bad as files do, next to correct files of every other table: all
// zeros, negated, zeros from a quarter, half or three quarters on (an interrupted copy),
// truncated, or another class's file of the same length under its name. It alone is refused at
// registration. (knk and kbk hold only draws: zeros are their right contents.)
TEST_F(LayoutCheck, RefusesFilesGoneBadAtRegistration) {
  int cases = 0;
  for (int c = KPK; c <= KQK; c++)
    for (int s = 0; s < 2; s++) {
      const std::vector<uint8_t>& right = solved(c, s);
      std::vector<std::pair<std::string, std::vector<uint8_t>>> bad = filesGoneBad(right, 1000);
      if (c == KNK || c == KBK) bad.erase(bad.begin(), bad.end() - 1);
      for (int other = KNK; other <= KQK; other++)
        if (other != c && solved(other, s).size() == right.size() && solved(other, s) != right)
          bad.push_back({std::string("copy of ") + tbClassName(other), solved(other, s)});
      for (const auto& [what, bytes] : bad) {
        TempFolder folder;
        std::string printed = registerWith(folder, c, s, bytes);
        EXPECT_TRUE(onlyRefused(c, s)) << fileName(c, s) << " " << what << "\n" << printed;
        cases++;
      }
    }
  EXPECT_GT(cases, 30);
}

// One 8 KB block of a file damaged: filled with random bytes, or with zeros. Every such file is
// refused at registration, or the block is refused when it is loaded: no probe answers a wrong
// value. (Three-man files are short enough for registration to check every block.)
TEST_F(LayoutCheck, RefusesDamagedBlocksBeforeAnyValueIsUsed) {
  std::mt19937 random(2026);
  int cases = 0, refused = 0;
  for (int c = KPK; c <= KQK; c++)
    for (int s = 0; s < 2; s++) {
      const std::vector<uint8_t>& right = solved(c, s);
      uint32_t blocks = uint32_t((right.size() + TB_BLOCK - 1) / TB_BLOCK);
      for (uint32_t block = 0; block < blocks; block++)
        for (bool zeros : {false, true}) {
          std::vector<uint8_t> bytes = right;
          for (size_t i = block * size_t(TB_BLOCK); i < bytes.size() && i < (block + 1) * size_t(TB_BLOCK); i++)
            bytes[i] = zeros ? 0 : uint8_t(random());
          if (bytes == right) continue;
          TempFolder folder;
          registerWith(folder, c, s, bytes, block % 2);
          cases++;
          refused += tbClasses[c].fileName[s] == nullptr;
          EXPECT_EQ(wrongAnswers(c, s, block), 0) << fileName(c, s) << " block " << block << (zeros ? " zeros" : "");
        }
    }
  EXPECT_GT(cases, 50);
  EXPECT_GE(refused * 100, cases * 95);
}

// One bit flipped in the compressed data of a block: mostly the block no longer decodes, its
// code no longer ends with it (and the check then tries a quarter of its positions), or it
// decodes to values the check refuses. What gets through is a code that falls back into step
// after a few symbols: a handful of wrong values, too few for checks of some positions of a
// block to find (about one case in five here).
TEST_F(LayoutCheck, RefusesBlocksWithAFlippedBit) {
  std::mt19937 random(7);
  int cases = 0, wrongCases = 0;
  for (int c : {KPK, KRK, KQK})
    for (int s = 0; s < 2; s++) {
      std::vector<uint8_t> file = encodeEmd(solved(c, s));
      uint32_t header = emdHeaderLength(file);
      for (int flip = 0; flip < 12; flip++) {
        std::vector<uint8_t> bytes = file;
        size_t at = header + random() % (file.size() - header);
        bytes[at] ^= uint8_t(1 << (random() % 8));
        TempFolder folder;
        registerWith(folder, c, s, bytes, true);
        // Which block holds the flipped byte is found by probing them all.
        int wrong = 0;
        for (uint32_t block = 0; block * TB_BLOCK < solved(c, s).size(); block++) wrong += wrongAnswers(c, s, block);
        cases++;
        wrongCases += wrong > 0;
        EXPECT_LE(wrong, 8) << fileName(c, s) << " byte " << at;
      }
    }
  EXPECT_EQ(cases, 72);
  EXPECT_LE(wrongCases * 100, cases * 25);
}

// A file replaced after registration is registered again, and checked, before a block of it is
// next loaded; blocks loaded from the old file stay as they were.
TEST_F(LayoutCheck, ChecksAFileReplacedAfterRegistration) {
  TempFolder folder;
  registerWith(folder, KPK, 1, solved(KPK, 1));
  EXPECT_TRUE(onlyRefused(0, 0));
  EXPECT_EQ(readTBByte(100, 1, KPK), int8_t(solved(KPK, 1)[100]));
  folder.write("kpk.nbb", std::vector<uint8_t>(solved(KPK, 1).size(), 0));
  std::string printed = captureOutput([] { EXPECT_EQ(readTBByte(50000, 1, KPK), 127); });
  EXPECT_EQ(printed, refusal(folder, "kpk.nbb"));
  EXPECT_EQ(tbClasses[KPK].fileName[1], nullptr);
  int score = 0;
  ASSERT_TRUE(setPosition("8/8/8/8/8/3k4/3P4/3K4 b - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 0);
  ASSERT_TRUE(setPosition("8/8/8/8/8/3k4/3P4/3K4 w - - 0 1"));
  EXPECT_EQ(probeNalimov(&score), 1);
}

// En-passant positions reach the index the layout gives them from the board: every step-th
// legal position of the en-passant part of kpkp and kppkp, both ways up, with both sides to move.
// Where the side to move has pawns on both sides of the pawn that has just advanced, the
// position has two entries (either pawn the taker); the board's index names the same position.
TEST_F(LayoutCheck, IndexesEnPassantPositionsFromTheBoard) {
  int probed = 0, bothSides = 0;
  std::string failures;
  captureOutput([&] {
    for (int c : {6, 36})
      for (int side = 0; side < 2; side++)
        for (uint64_t i = layoutEnPassantStart(c, side); i < tbFileLength(c, side); i += c == 6 ? 7 : 41) {
          TbPosition p, q;
          if (!decodeTbIndex(c, side, uint32_t(i), p) || !tbPositionLegal(p)) continue;
          // The same position with the colours exchanged (kpkp's two tables are one layout).
          TbPosition exchanged{side ^ 1, {p.kings[1] ^ 56, p.kings[0] ^ 56}, {{}, {}}, p.ep ^ 56};
          for (int s = 0; s < 2; s++)
            for (int unit : p.units[s]) exchanged.units[s ^ 1].push_back(unit ^ 56);
          for (bool flip : {false, true}) {
            int classNumber = 0, tableSide = -1;
            uint32_t index = setBoard(fenOf(p, flip).c_str()) == 0 && epSquare
                                 ? boardTBIndex(&classNumber, &tableSide) : TB_NO_INDEX;
            bool same = index != TB_NO_INDEX && decodeTbIndex(c, tableSide, index, q) &&
                        tbPositionKey(q) == tbPositionKey(tableSide == side ? p : exchanged);
            if (classNumber != c || !same) failures += fenOf(p, flip) + "\n";
          }
          probed++;
          int neighbours = 0;
          int advanced = p.ep + (side ? 8 : -8);
          for (int unit : p.units[side])
            neighbours += unit / 64 == PAWN && std::abs(unit % 64 - advanced) == 1 &&
                          (unit % 64) / 8 == advanced / 8;
          bothSides += neighbours == 2;
        }
  });
  EXPECT_EQ(failures.substr(0, 1000), "");
  EXPECT_GT(probed, 5000);
  EXPECT_GT(bothSides, 10);
}
