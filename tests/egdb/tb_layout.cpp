// Test tools around the tablebase layout: the symmetric images of table positions, the coverage
// check of the layout decoder, index round trips through the engine's index functions, temporary
// folders, FEN text of table positions and the writers of table files.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"

namespace {

constexpr uint64_t PAWN_SQUARES = 0x00FFFFFFFFFFFF00ull;  // a2-h7

uint64_t bit(int sq) { return uint64_t(1) << sq; }
bool touching(int a, int b) { return std::abs((a & 7) - (b & 7)) <= 1 && std::abs((a >> 3) - (b >> 3)) <= 1; }


}  // namespace

std::vector<TbPosition> tbSymmetricImages(const TbPosition& p, bool pawns) {
  std::vector<TbPosition> images;
  for (int t = 0; t < (pawns ? 2 : 8); t++) {
    int mask = (t & 1 ? 7 : 0) | (t & 2 ? 56 : 0);  // files, ranks mirrored
    auto apply = [&](int sq) {
      sq ^= mask;
      return t >= 4 ? (sq & 7) << 3 | sq >> 3 : sq;  // reflected in the a1-h8 diagonal
    };
    TbPosition q = p;
    for (int s = 0; s < 2; s++) {
      q.kings[s] = apply(p.kings[s]);
      for (int& unit : q.units[s]) unit = unit / 64 * 64 + apply(unit % 64);
    }
    if (p.ep >= 0) q.ep = apply(p.ep);
    images.push_back(q);
  }
  return images;
}

uint64_t tbPositionKey(TbPosition p) {
  uint64_t key = uint64_t(p.side) << 7 | uint64_t(p.ep + 1);
  key = key << 12 | uint64_t(p.kings[0]) << 6 | uint64_t(p.kings[1]);
  for (int s = 0; s < 2; s++) {
    std::sort(p.units[s].begin(), p.units[s].end());
    for (int unit : p.units[s]) key = key * 512 + uint64_t(unit);
    key = key * 2 + 1;
  }
  return key;
}

namespace {

// Units on distinct squares, kings apart, pawns on ranks 2-7: what every decoded index must be.
bool wellFormed(const TbPosition& p) {
  uint64_t occupied = bit(p.kings[0]) | bit(p.kings[1]);
  if (occupied == bit(p.kings[0]) || touching(p.kings[0], p.kings[1])) return false;
  for (int s = 0; s < 2; s++)
    for (int unit : p.units[s]) {
      int sq = unit % 64;
      if ((occupied & bit(sq)) || (unit / 64 == PAWN && !(PAWN_SQUARES & bit(sq)))) return false;
      occupied |= bit(sq);
    }
  return true;
}

}  // namespace

LayoutCoverage checkLayoutCoverage(int classNumber, int side) {
  LayoutCoverage coverage;
  int counts[2][7];
  if (!tbClassCounts(classNumber, counts)) return coverage;
  bool pawns = counts[0][PAWN] + counts[1][PAWN] > 0;
  std::vector<uint64_t> keys;
  uint64_t count = layoutIndexCount(classNumber, side);
  for (uint64_t i = 0; i < count; i++) {
    TbPosition p;
    if (!decodeTbIndex(classNumber, side, uint32_t(i), p)) continue;
    coverage.decoded++;
    if (!wellFormed(p) && !coverage.malformed++) coverage.firstProblem = fenOf(p, false);
    keys.push_back(tbPositionKey(p));
  }
  std::sort(keys.begin(), keys.end());
  for (size_t i = 1; i < keys.size(); i++) coverage.repeated += keys[i] == keys[i - 1];

  // Every placement: kings, then the units of the first and the second side.
  std::vector<std::pair<int, int>> men;  // (table side, type)
  for (int s = 0; s < 2; s++)
    for (int type = PAWN; type <= QUEEN; type++)
      for (int n = 0; n < counts[s][type]; n++) men.push_back({s, type});
  std::vector<int> squares(men.size() + 2, 0);
  std::function<void(size_t)> place = [&](size_t at) {
    if (at < squares.size()) {
      for (int sq = 0; sq < 64; sq++) {
        squares[at] = sq;
        place(at + 1);
      }
      return;
    }
    TbPosition p{side, {squares[0], squares[1]}, {{}, {}}, -1};
    for (size_t u = 0; u < men.size(); u++)
      p.units[men[u].first].push_back(men[u].second * 64 + squares[u + 2]);
    std::vector<TbPosition> variants = {p};
    for (int unit : p.units[side ^ 1])  // a pawn of the side not to move may just have advanced two
      if (unit / 64 == PAWN && unit % 64 >= 8 && unit % 64 < 56) {
        variants.push_back(p);
        variants.back().ep = unit % 64 + (side ? -8 : 8);
      }
    for (const TbPosition& v : variants) {
      if (!tbPositionLegal(v)) continue;
      coverage.legal++;
      bool found = false;
      for (const TbPosition& image : tbSymmetricImages(v, pawns))
        found = found || std::binary_search(keys.begin(), keys.end(), tbPositionKey(image));
      if (!found && !coverage.missing++ && coverage.firstProblem.empty())
        coverage.firstProblem = fenOf(v, false);
    }
  };
  place(0);
  return coverage;
}

uint32_t tbIndexOf(int classNumber, const TbPosition& position, bool invert) {
  static const int FIRST_SLOT[7] = {0, 15, 0, 3, 6, 9, 12};  // of a type in a square block
  int flip = invert ? 56 : 0;
  int blocks[2][TB_BLOCK_SIZE] = {};
  for (int s = 0; s < 2; s++) {
    int used[7] = {};
    blocks[s][15] = position.kings[s] ^ flip;
    for (int unit : position.units[s]) {
      int type = unit / 64;
      blocks[s][FIRST_SLOT[type] + used[type]++] = (unit % 64) ^ flip;
    }
  }
  int ep = position.ep < 0 ? TB_NO_EP : position.ep ^ flip;
  return indexTB(classNumber, position.side, blocks[0], blocks[1], ep, invert);
}

std::string checkIndexRoundTrip(int classNumber, int side, uint32_t index) {
  TbPosition p, q;
  if (!decodeTbIndex(classNumber, side, index, p)) return "";
  bool pawns = std::strchr(tbClassName(classNumber), 'p') != nullptr;
  for (bool invert : {false, true}) {
    uint32_t back = tbIndexOf(classNumber, p, invert);
    if (back == index) continue;
    bool same = back != TB_NO_INDEX && decodeTbIndex(classNumber, side, back, q);
    if (same) {
      std::vector<TbPosition> images = tbSymmetricImages(p, pawns);
      same = std::any_of(images.begin(), images.end(),
                         [&](const TbPosition& image) { return tbPositionKey(image) == tbPositionKey(q); });
    }
    if (!same)
      return std::string(tbClassName(classNumber)) + " side " + std::to_string(side) + " index " +
             std::to_string(index) + " (" + fenOf(p, false) + ")" + (invert ? " inverted" : "") +
             " indexes as " + std::to_string(back) +
             (back != TB_NO_INDEX && decodeTbIndex(classNumber, side, back, q) ? " (" + fenOf(q, false) + ")" : "");
  }
  return "";
}

TempFolder::TempFolder() {
  char pattern[] = "/tmp/talvek-egdb-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  folderPath = pattern;
}

TempFolder::~TempFolder() {
  std::error_code error;
  std::filesystem::remove_all(folderPath, error);
}

void TempFolder::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::ofstream out(file(name), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void writeClassFiles(const TempFolder& folder, int classNumber, const Solver& solver,
                     bool compressed) {
  for (int side = 0; side < 2; side++) {
    std::vector<uint8_t> bytes = classTable(classNumber, side, solver);
    std::string name = std::string(tbClassName(classNumber)) + (side ? ".nbb" : ".nbw");
    if (compressed)
      folder.write(name + ".emd", encodeEmd(bytes));
    else
      folder.write(name, bytes);
  }
}


