// An opening-book file, opened and probed in a few positions with the reader's every procedure.
// The first byte says how the rest becomes the file: bit 0 gives its entries the keys of the
// probed positions (in order), so that their moves are decoded in real positions; bit 1 leaves
// the keys as they are but sorts the entries, so that the file passes the order check.
#include <algorithm>
#include <cstring>
#include <vector>

#include "frontend/frontend.h"
#include "tests/fuzz/harness.h"

namespace {

const char* const POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",  // en passant
    "r3k2r/1P4p1/8/8/8/8/1p4P1/R3K2R w KQkq - 0 1",                   // castling, promotion
    "r3k2r/1P4p1/8/8/8/8/1p4P1/R3K2R b KQkq - 0 1",
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"};
constexpr int POSITION_COUNT = sizeof POSITIONS / sizeof POSITIONS[0];
constexpr size_t ENTRY = 16;

void putKey(uint8_t* entry, uint64_t key) {
  for (int i = 0; i < 8; i++) entry[i] = uint8_t(key >> (56 - 8 * i));
}

uint64_t getKey(const uint8_t* entry) {
  uint64_t key = 0;
  for (int i = 0; i < 8; i++) key = key << 8 | entry[i];
  return key;
}

// Every entry found is a legal move of the position, and a chosen move is one of them.
void probeHere() {
  const HashKey before = hashKey;
  BookEntry entries[MAX_BOOK_ENTRIES];
  const int count = findBookEntries(entries);
  fuzzRequire(count >= 0 && count <= MAX_BOOK_ENTRIES, "entry count out of range");
  for (int i = 0; i < count; i++) fuzzRequire(matchMove(entries[i].move) == entries[i].move, "an entry is no legal move");
  const Move chosen = probeBook();
  bool listed = chosen == 0;
  for (int i = 0; i < count; i++)
    if (entries[i].move == chosen && entries[i].weight > 0) listed = true;
  fuzzRequire(listed || bookEntryCount() == 0, "the chosen move is not a weighted entry");
  fuzzRequire(hashKey == before && boardIsConsistent(), "probing changed the position");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  if (size == 0) return 0;
  fuzzReset(Protocol::Console);
  std::vector<uint8_t> bytes(data + 1, data + size);
  const size_t entries = bytes.size() / ENTRY;
  if (data[0] & 1) {
    std::vector<uint64_t> keys;
    for (const char* fen : POSITIONS) {
      setBoard(fen);
      keys.push_back(bookKey());
    }
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < entries; i++) putKey(&bytes[i * ENTRY], keys[i * POSITION_COUNT / entries]);
  } else if (data[0] & 2) {
    std::vector<std::vector<uint8_t>> list;
    for (size_t i = 0; i < entries; i++) list.emplace_back(&bytes[i * ENTRY], &bytes[i * ENTRY] + ENTRY);
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return getKey(a.data()) < getKey(b.data()); });
    for (size_t i = 0; i < entries; i++) std::memcpy(&bytes[i * ENTRY], list[i].data(), ENTRY);
  }
  fuzzWrite("book.bin", bytes.data(), bytes.size());

  seedBook(data[0]);
  const bool opened = openBook("book.bin");
  fuzzRequire(opened == (bookEntryCount() > 0), "openBook and the entry count disagree");
  for (const char* fen : POSITIONS) {
    setBoard(fen);
    prepareRoot();
    probeHere();
  }
  xboardMode = 1;
  consoleMode = 0;
  probeHere();
  closeBook();
  fuzzRequire(chooseBookMove() == 0, "a closed book still has moves");
  fuzzCheck();
  return 0;
}
