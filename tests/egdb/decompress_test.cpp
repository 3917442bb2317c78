#include <cstdio>
#include <random>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

// Data with every feature of the format: several blocks, long runs (long overlapping copies of
// distance 1), repeats at other distances, a block of noise that is stored raw, and a short
// last block.
std::vector<uint8_t> sampleData() {
  std::mt19937 random(7);
  std::vector<uint8_t> data(20000, 0);  // one literal, then one long copy
  for (int i = 0; i < 9000; i++) data.push_back(uint8_t(i % 62 < 30 ? 3 : i % 7));
  for (int i = 0; i < 8192; i++) data.push_back(uint8_t(random()));  // incompressible
  for (int i = 0; i < 5000; i++) data.push_back(uint8_t("abcabcabd"[i % 9]));
  for (int i = 0; i < 1234; i++) data.push_back(uint8_t(random() % 4));
  return data;
}

// Opens bytes as a temporary file for reading.
FILE* openBytes(const TempFolder& folder, const std::vector<uint8_t>& bytes) {
  folder.write("x.emd", bytes);
  return std::fopen(folder.file("x.emd").c_str(), "rb");
}

// Decodes every block of an encoded file; empty when the header or a block fails.
std::vector<uint8_t> decodeAll(const std::vector<uint8_t>& file, int* headerResult = nullptr) {
  TempFolder folder;
  FILE* in = openBytes(folder, file);
  EmdDirectory* directory = nullptr;
  int result = readEmdHeader(in, &directory);
  if (headerResult) *headerResult = result;
  std::vector<uint8_t> out;
  if (result == EMD_OK) {
    EXPECT_TRUE(allocDecodeContext());
    uint32_t size = emdUncompressedSize(directory);
    uint8_t block[TB_SLOT_DATA];
    for (uint32_t b = 0; b * uint64_t(TB_BLOCK) < size; b++) {
      int produced = decodeEmdBlock(in, directory, b, block);
      if (produced < 0) {
        out.clear();
        break;
      }
      out.insert(out.end(), block, block + produced);
    }
    freeEmdDirectory(directory);
    freeDecodeContext();
  }
  std::fclose(in);
  return out;
}

TEST(EmdDecoder, ReturnsTheOriginalBytesOfEveryKindOfBlock) {
  std::vector<uint8_t> data = sampleData();
  std::vector<uint8_t> file = encodeEmd(data);
  EXPECT_LT(file.size(), data.size() / 2);  // copies were used
  EXPECT_EQ(decodeAll(file), data);

  // A file with an exact number of full blocks, and one stored without copies (literals only).
  std::vector<uint8_t> full(data.begin(), data.begin() + 3 * TB_BLOCK);
  EXPECT_EQ(decodeAll(encodeEmd(full)), full);
  EmdOptions literals;
  literals.copies = false;
  EXPECT_EQ(decodeAll(encodeEmd(data, literals)), data);
}

TEST(EmdDecoder, DecodesCodesWithoutBits) {
  // One symbol only (a block of one byte value, no copies): its code has no bits.
  std::vector<uint8_t> same(10000, 42);
  EmdOptions literals;
  literals.copies = false;
  EXPECT_EQ(decodeAll(encodeEmd(same, literals)), same);
  // No symbol at all: every block is stored raw and every code length is zero.
  std::mt19937 random(3);
  std::vector<uint8_t> noise(TB_BLOCK + 100);
  for (uint8_t& b : noise) b = uint8_t(random());
  EXPECT_EQ(decodeAll(encodeEmd(noise, literals)), noise);
}

TEST(EmdDecoder, SortsHeaderFailuresIntoTheirClasses) {
  std::vector<uint8_t> file = encodeEmd(sampleData());
  uint32_t header = emdHeaderLength(file);
  int result = EMD_OK;

  // The banner line: any text of its shape, covered by the header checksum.
  for (int at : {20, 58, 59, 61}) {  // a zero byte in the text, no CR, no LF, no zero after it
    std::vector<uint8_t> banner = file;
    banner[size_t(at)] = at == 20 ? 0 : 'x';
    resealEmdHeader(banner);
    decodeAll(banner, &result);
    EXPECT_EQ(result, EMD_READ_ERROR) << "byte " << at;
  }
  std::vector<uint8_t> otherText = file;
  otherText[5] ^= 1;
  decodeAll(otherText, &result);
  EXPECT_EQ(result, EMD_BROKEN);  // the checksum no longer matches
  resealEmdHeader(otherText);
  EXPECT_EQ(decodeAll(otherText, &result), sampleData());
  EXPECT_EQ(result, EMD_OK);
  decodeAll(std::vector<uint8_t>(file.begin(), file.begin() + 79), &result);
  EXPECT_EQ(result, EMD_READ_ERROR);

  decodeAll(std::vector<uint8_t>(file.begin(), file.begin() + header - 1), &result);
  EXPECT_EQ(result, EMD_CUT_SHORT);  // the file ends inside its header

  std::vector<uint8_t> checksum = file;
  checksum[header - 6] ^= 0x10;
  decodeAll(checksum, &result);
  EXPECT_EQ(result, EMD_BROKEN);

  for (int field : {70, 71, 77}) {  // block-size exponent above 16, size mark, magic number
    std::vector<uint8_t> bad = file;
    bad[size_t(field)] = 99;
    resealEmdHeader(bad);
    decodeAll(bad, &result);
    EXPECT_EQ(result, EMD_BROKEN) << "byte " << field;
  }

  EmdOptions incomplete;
  incomplete.tamperLengths = [](std::vector<uint8_t>& lengths) { lengths[0]++; };
  decodeAll(encodeEmd(sampleData(), incomplete), &result);
  EXPECT_EQ(result, EMD_BROKEN);

  decodeAll(std::vector<uint8_t>(file.begin(), file.end() - 1), &result);
  EXPECT_EQ(result, EMD_BROKEN);  // the last block runs past the end of the file
}

TEST(EmdDecoder, RefusesBlocksItCannotDecode) {
  std::vector<uint8_t> file = encodeEmd(sampleData());
  TempFolder folder;
  FILE* in = openBytes(folder, file);
  EmdDirectory* directory = nullptr;
  ASSERT_EQ(readEmdHeader(in, &directory), EMD_OK);
  uint8_t block[TB_SLOT_DATA];
  EXPECT_EQ(decodeEmdBlock(in, directory, 0, block), -1);  // no decode context yet
  ASSERT_TRUE(allocDecodeContext());
  EXPECT_EQ(decodeEmdBlock(in, directory, 0, block), TB_BLOCK);
  EXPECT_EQ(decodeEmdBlock(in, directory, 99, block), -1);  // beyond the directory
  freeEmdDirectory(directory);
  freeDecodeContext();
  std::fclose(in);
}

// Corrupted files never make the decoder read or write outside its buffers (the sanitizer build
// checks that); they either decode to something or fail.
TEST(EmdDecoder, SurvivesCorruptedFiles) {
  std::vector<uint8_t> data = sampleData();
  data.resize(30000);
  std::vector<uint8_t> file = encodeEmd(data);
  uint32_t header = emdHeaderLength(file);
  std::mt19937 random(11);
  int decoded = 0;
  for (int round = 0; round < 150; round++) {
    std::vector<uint8_t> bad = file;
    int flips = 1 + int(random() % 8);
    for (int i = 0; i < flips; i++) {
      size_t at = round % 2 ? EMD_FIXED_HEADER + random() % (header - 84)  // header fields
                            : header + random() % (bad.size() - header);  // block data
      bad[at] = uint8_t(random());
    }
    if (round % 2) resealEmdHeader(bad);
    decoded += !decodeAll(bad).empty();
  }
  EXPECT_GT(decoded, 0);
}

}  // namespace
