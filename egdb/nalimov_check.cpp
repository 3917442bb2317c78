// The layout check of a table file at registration: a few positions of each table whose value
// follows from the rules alone (the side to move is checkmated, stalemated, or mates in one move)
// are looked up in the file through the index functions. A file that answers any of them wrongly
// is either laid out differently from what the index functions assume or does not hold what its
// name says, and is not used.
//
// The positions are chosen so that every layout choice that changes no file length is tried:
// without pawns the mover's king on each square of the a1-h8 diagonal with the other king on
// both sides of it (and on it), with pawns on both sides en-passant positions taken from the
// left and from the right (and, with two pawns, with pawns on both sides of the advanced one),
// and for every class positions spread over the whole table, which tries the order of groups of
// mixed kinds. The list is made by a tool of the test suite, which also checks every entry
// against the move generator.
#include <algorithm>
#include <cstring>

#include "egdb/egdb.h"

namespace {

constexpr TbSample SAMPLES[] = {
#include "egdb/nalimov_samples.inc"
};
constexpr int SAMPLE_COUNT = int(sizeof SAMPLES / sizeof SAMPLES[0]);

// First sample of each class and side, and one past the last.
struct SampleRange {
  int first = 0, last = 0;
};

const SampleRange& rangeOf(int classNumber, int side) {
  static SampleRange ranges[TB_CLASSES][2];
  static bool built = false;
  if (!built) {
    for (int i = SAMPLE_COUNT - 1; i >= 0; i--) {
      SampleRange& range = ranges[SAMPLES[i].classNumber][SAMPLES[i].side];
      if (range.last == 0) range.last = i + 1;
      range.first = i;
    }
    built = true;
  }
  return ranges[classNumber][side];
}

// Stored byte at index of a plain file, or of a compressed file through its directory; -1000
// when it cannot be read. `block` and `data` keep the block decoded last.
int storedByte(FILE* file, const EmdDirectory* directory, uint32_t index, int64_t& block,
               uint8_t* data) {
  if (!directory) {
    if (std::fseek(file, long(index), SEEK_SET) != 0) return -1000;
    int c = std::fgetc(file);
    return c == EOF ? -1000 : int(int8_t(c));
  }
  uint32_t wanted = index >> TB_BLOCK_SHIFT;
  if (block != int64_t(wanted)) {
    block = -1;
    int produced = decodeEmdBlock(file, directory, wanted, data);
    if (produced < 0) return -1000;
    if (uint32_t(produced) < TB_BLOCK) std::memset(data + produced, 127, size_t(TB_BLOCK - produced));
    block = wanted;
  }
  return int(int8_t(data[index & (TB_BLOCK - 1)]));
}

}  // namespace

// Squares of a sample as the two blocks of an index function (the stronger side's first).
void tbSampleBlocks(const TbSample& sample, int first[TB_BLOCK_SIZE], int second[TB_BLOCK_SIZE]) {
  std::memset(first, 0, TB_BLOCK_SIZE * sizeof(int));
  std::memset(second, 0, TB_BLOCK_SIZE * sizeof(int));
  int* blocks[2] = {first, second};
  int used[2][5] = {};
  for (int side = 0; side < 2; side++) blocks[side][15] = sample.kings[side];
  for (int i = 0; i < TB_SAMPLE_UNITS; i++) {
    int unit = sample.units[i];
    if (unit < 0) continue;
    int side = unit >> 9, type = (unit >> 6) & 7, square = unit & 63;  // type 0 pawn .. 4 queen
    if (type > 4 || used[side][type] == 3) continue;
    blocks[side][3 * type + used[side][type]++] = square;
  }
}

const TbSample* tbSamples(int classNumber, int side, int* count) {
  *count = 0;
  if (classNumber <= 0 || classNumber >= TB_CLASSES || side < 0 || side > 1) return nullptr;
  const SampleRange& range = rangeOf(classNumber, side);
  *count = range.last - range.first;
  return SAMPLES + range.first;
}

// Whether the open table file of class c, side s (with its directory when it is compressed)
// answers every sample of its table as the rules do. Samples are read in index order so that a
// compressed block is decoded once.
bool tableLayoutMatches(FILE* file, const EmdDirectory* directory, int classNumber, int side) {
  int count;
  const TbSample* samples = tbSamples(classNumber, side, &count);
  if (count == 0) return true;
  if (directory && !allocDecodeContext()) return true;  // registration reports the failure
  struct Probe {
    uint32_t index;
    int expected;
  } probes[TB_MAX_SAMPLES];
  int n = 0;
  for (int i = 0; i < count && n < TB_MAX_SAMPLES; i++) {
    int first[TB_BLOCK_SIZE], second[TB_BLOCK_SIZE];
    tbSampleBlocks(samples[i], first, second);
    uint32_t index = indexTB(classNumber, side, first, second, samples[i].ep, 0);
    if (index == TB_NO_INDEX) continue;
    probes[n++] = {index, samples[i].value};
  }
  std::sort(probes, probes + n, [](const Probe& a, const Probe& b) { return a.index < b.index; });
  static uint8_t data[TB_SLOT_DATA];
  int64_t block = -1;
  for (int i = 0; i < n; i++)
    if (storedByte(file, directory, probes[i].index, block, data) != probes[i].expected) return false;
  return true;
}
