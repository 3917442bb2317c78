// The opening book: a file in the Polyglot format, the one GUIs and adapters use.
//
// A book is a sorted array of 16-byte entries (key, move, weight, learn; integers stored highest
// byte first). The file stays where it is: each position is found by a binary search that reads
// single entries, so books of any size cost no memory. A file is checked in full when it is
// opened and refused when it cannot be a book; an entry whose move is not legal in its position
// is skipped with a message when the position comes up.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "frontend/frontend.h"
#include "search/search.h"

namespace {

// The format's key numbers: 768 for a piece on a square (64 * kind + square, where kind is
// 2 * type + 1 for White, types pawn, knight, bishop, rook, queen, king, and square is
// 8 * row + file from a1), then castling rights (white short, white long, black short, black
// long), the en-passant file, and White to move.
constexpr int BOOK_CASTLE_KEYS = 768;
constexpr int BOOK_EP_KEYS = 772;
constexpr int BOOK_TURN_KEY = 780;
constexpr int BOOK_KEY_COUNT = 781;
constexpr uint64_t bookKeyTable[BOOK_KEY_COUNT] = {
#include "frontend/book_keys.inc"
};
static_assert(sizeof bookKeyTable == BOOK_KEY_COUNT * sizeof(uint64_t));

// Book piece type (pawn 0 ... king 5) by engine piece type (KING 1 ... QUEEN 6).
constexpr int bookPieceType[7] = {0, 5, 0, 1, 2, 3, 4};

constexpr int ENTRY_BYTES = 16;
constexpr int SCAN_ENTRIES = 1 << 16;  // entries read at once while a file is checked (1 MB)

FILE* bookFile = nullptr;            // the open book, null when none
uint64_t bookCount = 0;              // its entries
std::string bookName;                // its name, for messages
std::set<uint64_t> bookReported;     // entries whose skip was reported since it was opened
uint64_t randomState = 0;            // the chooser's generator
bool randomSeeded = false;

uint64_t readBigEndian(const unsigned char* bytes, int count) {
  uint64_t value = 0;
  for (int i = 0; i < count; i++) value = value << 8 | bytes[i];
  return value;
}

// The key at the start of a stored entry.
HashKey readKey(const unsigned char* bytes) { return readBigEndian(bytes, 8); }

// Next number of the chooser (SplitMix64), seeded from the clock on first use.
uint64_t nextRandom() {
  if (!randomSeeded)
    seedBook(uint64_t(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  randomState += 0x9E3779B97F4A7C15ULL;
  uint64_t z = randomState;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Entry index into its key, raw move and weight; false, with a message and the book closed,
// when the file can no longer be read there (it was cut short after it was opened).
bool readEntry(uint64_t index, BookEntry* entry, HashKey* key) {
  unsigned char bytes[ENTRY_BYTES];
  if (std::fseek(bookFile, long(index * ENTRY_BYTES), SEEK_SET) != 0 ||
      std::fread(bytes, 1, ENTRY_BYTES, bookFile) != size_t(ENTRY_BYTES)) {
    printNotice("**ERROR**  findBookEntries() : unable to read %s; book closed\n", bookName.c_str());
    closeBook();
    return false;
  }
  *key = readKey(bytes);
  entry->raw = uint16_t(readBigEndian(bytes + 8, 2));
  entry->weight = uint16_t(readBigEndian(bytes + 10, 2));
  entry->move = 0;
  return true;
}

// The whole file in order (keys never decrease) and with a move to play: at least one entry of
// a move of weight above 0 (a file of zeros passes the order). Reports and returns false otherwise.
bool checkOrder(const char* name) {
  static unsigned char chunk[SCAN_ENTRIES * ENTRY_BYTES];
  HashKey previous = 0;
  uint64_t index = 0;
  bool playable = false;
  std::rewind(bookFile);
  while (index < bookCount) {
    const uint64_t want = std::min<uint64_t>(SCAN_ENTRIES, bookCount - index);
    if (std::fread(chunk, ENTRY_BYTES, want, bookFile) != want) {
      printNotice("**ERROR**  openBook() : unable to read %s\n", name);
      return false;
    }
    for (uint64_t i = 0; i < want; i++, index++) {
      const HashKey key = readKey(chunk + i * ENTRY_BYTES);
      if (key < previous) {
        printNotice("**ERROR**  openBook() : %s is no Polyglot book: keys out of order at entry %" PRIu64 "\n",
                    name, index);
        return false;
      }
      previous = key;
      const unsigned char* entry = chunk + i * ENTRY_BYTES;
      playable = playable || (readBigEndian(entry + 8, 2) != 0 && readBigEndian(entry + 10, 2) != 0);
    }
  }
  if (!playable) printNotice("**ERROR**  openBook() : %s is no Polyglot book: no entry holds a move of weight above 0\n", name);
  return playable;
}

// The coordinate text of a raw book move, for messages (e2e4, e7e8q). Static buffer.
const char* rawMoveText(uint16_t raw) {
  static char text[8];
  const char promotions[] = " nbrq???";
  text[0] = char('a' + ((raw >> 6) & 7));
  text[1] = char('1' + ((raw >> 9) & 7));
  text[2] = char('a' + (raw & 7));
  text[3] = char('1' + ((raw >> 3) & 7));
  text[4] = ((raw >> 12) & 7) != 0 ? promotions[(raw >> 12) & 7] : '\0';
  text[5] = '\0';
  return text;
}

}  // namespace

// Opens path as the book, closing any book open before. The file must be a regular file of
// whole entries, at least one, with its keys in order; otherwise a message says why and no
// book is open. Returns true when the book is open.
bool openBook(const char* path) {
  closeBook();
  const char* fault = nullptr;
  FILE* file = openUserFile(path, "rb", "a Polyglot book", &fault);
  struct stat status;
  if (file != nullptr && fstat(fileno(file), &status) != 0) fault = "cannot be read";
  else if (file != nullptr && status.st_size == 0) fault = "is empty";
  else if (file != nullptr && status.st_size % ENTRY_BYTES != 0)
    fault = "is no Polyglot book: its size is not a multiple of 16 bytes";
  if (file == nullptr || fault != nullptr) {
    if (fault == nullptr) printNotice("**ERROR**  openBook() : unable to open %s\n", path);
    else printNotice("**ERROR**  openBook() : %s %s\n", path, fault);
    if (file != nullptr) std::fclose(file);
    return false;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);  // each probe reads the file itself, never a stale buffer
  bookFile = file;
  bookCount = uint64_t(status.st_size) / ENTRY_BYTES;
  if (!checkOrder(path)) {
    closeBook();
    return false;
  }
  bookName = path;
  return true;
}

// Closes the book; without a book the engine searches every position.
void closeBook() {
  if (bookFile != nullptr) std::fclose(bookFile);
  bookFile = nullptr;
  bookCount = 0;
  bookName.clear();
  bookReported.clear();
}

uint64_t bookEntryCount() { return bookCount; }

// The Polyglot key of the current position. The en-passant file counts only when a pawn of the
// side to move stands beside the pawn that has just made its double step, whether or not the
// capture would be legal.
HashKey bookKey() {
  HashKey key = 0;
  for (Square sq = 0; sq < 128; sq++) {
    if (!onBoard(sq) || board[sq] == EMPTY) continue;
    const int code = board[sq];
    const int kind = 2 * bookPieceType[typeOf(code)] + (colourOf(code) == WHITE ? 1 : 0);
    key ^= bookKeyTable[64 * kind + square64(sq)];
  }
  const int rights[4] = {CASTLE_WK, CASTLE_WQ, CASTLE_BK, CASTLE_BQ};
  for (int i = 0; i < 4; i++)
    if (castleRights & rights[i]) key ^= bookKeyTable[BOOK_CASTLE_KEYS + i];
  if (epSquare != 0) {
    const Square pushed = epSquare - pawnInfo[sideToMove].forward;
    const int ownPawn = sideToMove * 8 + PAWN;
    if ((onBoard(pushed - 1) && board[pushed - 1] == ownPawn) || (onBoard(pushed + 1) && board[pushed + 1] == ownPawn))
      key ^= bookKeyTable[BOOK_EP_KEYS + fileOf(epSquare)];
  }
  if (sideToMove == WHITE) key ^= bookKeyTable[BOOK_TURN_KEY];
  return key;
}

// The legal move a raw book move stands for in the current position, 0 when there is none.
// Castling is stored as the king taking its own rook; promotions carry the new piece in bits
// 12-14 (1 knight ... 4 queen). Regenerates plyStack[ply].
Move decodeBookMove(uint16_t raw) {
  const int promotion = (raw >> 12) & 7;
  if (raw == 0 || (raw >> 15) != 0 || promotion > 4) return 0;
  const Square from = ((raw >> 9) & 7) * 16 + ((raw >> 6) & 7);
  Square to = ((raw >> 3) & 7) * 16 + (raw & 7);
  const int own = sideToMove * 8;
  if (board[from] == own + KING && board[to] == own + ROOK && rankOf[from] == rankOf[to]) {
    to = from + (to > from ? 2 : -2);
    const Move m = matchMove(Move(from) | Move(to) << 8);
    return (m & MF_CASTLE) != 0 ? m : 0;
  }
  const Move type = promotion != 0 ? Move(promotion + KNIGHT - 1) : 0;
  return matchMove(Move(from) | Move(to) << 8 | type << 28);
}

// The entries of the current position, in file order, at most MAX_BOOK_ENTRIES, each with the
// legal move it decodes to. Entries whose move is not legal here, or that hold none (code 0),
// are left out with a message, once for each entry while the book stays open. Returns their
// number; 0 without a book, in a position refused by setBoard and in Chess960 (the format knows
// standard chess only, its castling moves the king two files).
int findBookEntries(BookEntry* entries) {
  if (bookFile == nullptr || positionRejected || settings.chess960 || !castlingIsStandard()) return 0;
  const HashKey key = bookKey();
  uint64_t low = 0, high = bookCount;
  BookEntry entry;
  HashKey found;
  while (low < high) {
    const uint64_t middle = low + (high - low) / 2;
    if (!readEntry(middle, &entry, &found)) return 0;
    if (found < key) low = middle + 1;
    else high = middle;
  }
  int count = 0;
  for (uint64_t i = low; i < bookCount; i++) {
    if (!readEntry(i, &entry, &found)) return 0;
    if (found != key) break;
    if (count == MAX_BOOK_ENTRIES) {
      printNotice("**ERROR**  findBookEntries() : %s holds more than %d entries for one position; the rest ignored\n",
                  bookName.c_str(), MAX_BOOK_ENTRIES);
      break;
    }
    entry.move = decodeBookMove(entry.raw);
    if (entry.move != 0) entries[count++] = entry;
    else if (bookReported.insert(i).second)
      printNotice("**ERROR**  findBookEntries() : %s entry %" PRIu64 " holds %s; skipped\n", bookName.c_str(), i,
                  entry.raw == 0 ? "no move (code 0)" : (std::string(rawMoveText(entry.raw)) + ", no legal move here").c_str());
  }
  return count;
}

void seedBook(uint64_t seed) {
  randomState = seed;
  randomSeeded = true;
}

// A move of the current position's entries chosen at random with a chance in proportion to its
// weight; entries of weight 0 are never chosen. percent, when given, receives the chosen
// entry's share of the position's weight. Returns 0 when the book has no move here.
Move chooseBookMove(int* percent) {
  BookEntry entries[MAX_BOOK_ENTRIES];
  const int count = findBookEntries(entries);
  uint64_t total = 0;
  for (int i = 0; i < count; i++) total += entries[i].weight;
  if (total == 0) return 0;
  uint64_t pick = nextRandom() % total;
  int i = 0;
  while (pick >= entries[i].weight) pick -= entries[i++].weight;
  if (percent != nullptr) *percent = int((entries[i].weight * 100 + total / 2) / total);
  return entries[i].move;
}

// For the front ends when the engine is to move: a book move for the current position, written
// to the thinking output as such, or 0 when no book is open or it has no move here.
Move probeBook() {
  int percent = 0;
  const Move m = chooseBookMove(&percent);
  if (m != 0) printBookMove(m, percent);
  return m;
}
