// The opening book: keys, decoding, a book made by Polyglot itself and compared with Polyglot's
// own dump of it, the weighted choice, damaged files, large files, and the book Debian's pychess
// package ships.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "frontend/frontend.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/frontend/frontend_support.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;

struct RawEntry {
  uint64_t key;
  uint16_t move;
  uint16_t weight;
};

// The stored form of a coordinate move (e2e4, e7e8q).
uint16_t rawMove(const std::string& text) {
  auto square = [](char file, char rank) { return (rank - '1') * 8 + (file - 'a'); };
  int raw = square(text[0], text[1]) << 6 | square(text[2], text[3]);
  if (text.size() > 4) raw |= int(std::string(" nbrq").find(text[4])) << 12;
  return uint16_t(raw);
}

std::string polyglotProgram() {
  for (const char* candidate : {"/usr/games/polyglot", "/usr/bin/polyglot", "/usr/local/bin/polyglot"})
    if (access(candidate, X_OK) == 0) return candidate;
  return "";
}

std::string pychessBook() {
  for (const char* candidate :
       {"/usr/share/pychess/pychess_book.bin", "/tmp/pychess/usr/share/pychess/pychess_book.bin"})
    if (access(candidate, R_OK) == 0) return candidate;
  return "";
}

// A move's SAN as Polyglot writes it, check and mate signs left out.
std::string plainSAN(const std::string& san) {
  std::string out;
  for (char c : san)
    if (c != '+' && c != '#') out += c;
  return out;
}

// The legal move of the current position written san, 0 if none.
Move moveFromSAN(const std::string& san) {
  genRootMoves();
  const PlyRecord& root = plyStack[0];  // rootMoveSAN leaves it as it is
  for (int i = 0; i < root.moveCount; i++)
    if (plainSAN(rootMoveSAN(root.moves[i])) == plainSAN(san)) return root.moves[i];
  return 0;
}

void playMove(Move m) {
  makeMove(m);
  ply = 0;
}

class BookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    char pattern[] = "/tmp/talvek-book-XXXXXX";
    dir = mkdtemp(pattern);
  }
  void TearDown() override {
    closeBook();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    resetEngine();
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }

  // Writes entries as a book file: 16 bytes each, highest byte first, learn field 0.
  std::string writeBook(const std::string& name, const std::vector<RawEntry>& entries) const {
    std::ofstream out(path(name), std::ios::binary);
    for (const RawEntry& e : entries) {
      unsigned char bytes[16] = {};
      for (int i = 0; i < 8; i++) bytes[i] = uint8_t(e.key >> (56 - 8 * i));
      bytes[8] = uint8_t(e.move >> 8);
      bytes[9] = uint8_t(e.move);
      bytes[10] = uint8_t(e.weight >> 8);
      bytes[11] = uint8_t(e.weight);
      out.write(reinterpret_cast<const char*>(bytes), 16);
    }
    return path(name);
  }

  // Opens a book, failing the test on any message.
  void open(const std::string& file) {
    bool opened = false;
    EXPECT_EQ(captureOutput([&] { opened = openBook(file.c_str()); }), "");
    ASSERT_TRUE(opened) << file;
  }

  // The current position's entries as move text -> weight.
  std::map<std::string, int> entriesHere(std::string* messages = nullptr) {
    BookEntry entries[MAX_BOOK_ENTRIES];
    int count = 0;
    const std::string out = captureOutput([&] { count = findBookEntries(entries); });
    if (messages != nullptr) *messages = out;
    else EXPECT_EQ(out, "");
    std::map<std::string, int> found;
    for (int i = 0; i < count; i++) found[moveToUci(entries[i].move)] += entries[i].weight;
    return found;
  }

  std::string dir;
};

TEST_F(BookTest, KeysOfTheFormatsSamplePositions) {
  const std::pair<const char*, uint64_t> samples[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 0x463b96181691fc9cULL},
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", 0x823c9b50fd114196ULL},
      {"rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 2", 0x0756b94461c50fb0ULL},
      {"rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR b KQkq - 0 2", 0x662fafb965db29d4ULL},
      {"rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3", 0x22a48b5a8e47ff78ULL},
      {"rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPPKPPP/RNBQ1BNR b kq - 0 3", 0x652a607ca3f242c1ULL},
      {"rnbq1bnr/ppp1pkpp/8/3pPp2/8/8/PPPPKPPP/RNBQ1BNR w - - 0 4", 0x00fdd303c946bdd9ULL},
      {"rnbqkbnr/p1pppppp/8/8/PpP4P/8/1P1PPPP1/RNBQKBNR b KQkq c3 0 3", 0x3c8123ea7b067637ULL},
      {"rnbqkbnr/p1pppppp/8/8/P6P/R1p5/1P1PPPP1/1NBQKBNR b Kkq - 0 4", 0x5c3f9b829b279560ULL},
  };
  for (const auto& [fen, key] : samples) {
    ASSERT_TRUE(setPosition(fen));
    EXPECT_EQ(bookKey(), key) << fen;
  }
}

TEST_F(BookTest, StoredMovesThatAreNoLegalMoveDecodeToNothing) {
  ASSERT_TRUE(setPosition("r3k2r/1P6/8/8/8/8/8/R3K1NR w KQkq - 0 1"));
  EXPECT_NE(decodeBookMove(rawMove("e1a1")) & MF_LONG_CASTLE, 0u);
  EXPECT_EQ(decodeBookMove(rawMove("e1h1")), 0u);  // the knight stands between
  EXPECT_EQ(promotionOf(decodeBookMove(rawMove("b7a8n"))), KNIGHT);
  EXPECT_EQ(decodeBookMove(rawMove("b7a8")), 0u);  // a promotion needs its piece
  EXPECT_EQ(decodeBookMove(rawMove("b7b8") | 5 << 12), 0u);  // no such piece
  EXPECT_EQ(decodeBookMove(rawMove("b7b8q") | 0x8000), 0u);
  EXPECT_EQ(decodeBookMove(0), 0u);
  EXPECT_EQ(decodeBookMove(rawMove("e8g8")), 0u);  // Black's move
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1"));
  EXPECT_EQ(decodeBookMove(rawMove("e1h1")), 0u);  // the right is gone
  ASSERT_TRUE(setPosition("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1"));
  EXPECT_NE(decodeBookMove(rawMove("e8h8")) & MF_SHORT_CASTLE, 0u);
}

// A book made by Polyglot from games the test writes, then dumped by Polyglot for each colour:
// every line of the dump is replayed, and in each position on it the moves and weight shares
// Polyglot shows must be exactly the entries this reader finds there. The games hold castling
// on both wings, promotions to different pieces from the same position, en-passant captures,
// a double step beside no enemy pawn, and one beside a pawn that is pinned (the key has the
// en-passant part even though the capture is illegal).
TEST_F(BookTest, PolyglotBookReadsAsPolyglotDumpsIt) {
  const std::string polyglot = polyglotProgram();
  if (polyglot.empty()) GTEST_SKIP() << "polyglot is not installed (Debian package polyglot)";
  std::ofstream(path("games.pgn"))
      << "[Result \"1/2-1/2\"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bc4 Bc5 4. O-O Nf6 5. d3 O-O 1/2-1/2\n\n"
         "[Result \"1/2-1/2\"]\n\n1. d4 d5 2. Nc3 Nc6 3. Bf4 Bf5 4. Qd2 Qd7 5. O-O-O O-O-O 1/2-1/2\n\n"
         "[Result \"1/2-1/2\"]\n\n1. e4 Nf6 2. e5 d5 3. exd6 exd6 1/2-1/2\n\n"
         "[Result \"1/2-1/2\"]\n\n1. Nf3 d5 2. Nc3 d4 3. e4 dxe3 1/2-1/2\n\n"
         "[Result \"1/2-1/2\"]\n\n1. b3 d5 2. Bb2 d4 3. Nf3 g6 4. g3 Bh6 5. Bg2 Nf6 6. O-O O-O 7. a3 Nh5 "
         "8. a4 Kg7 9. e4 a6 1/2-1/2\n\n"
         "[Result \"1/2-1/2\"]\n\n1. a4 b5 2. axb5 a6 3. bxa6 Bb7 4. axb7 Nc6 5. bxa8=Q Nd4 1/2-1/2\n\n"
         "[Result \"1-0\"]\n\n1. a4 b5 2. axb5 a6 3. bxa6 Bb7 4. axb7 Nc6 5. bxa8=N Nd4 1-0\n\n"
         "[Result \"0-1\"]\n\n1. h3 b5 2. h4 b4 3. h5 b3 4. h6 bxc2 5. hxg7 cxd1=Q+ 6. Kxd1 Bb7 0-1\n\n"
         "[Result \"1/2-1/2\"]\n\n1. h3 b5 2. h4 b4 3. h5 b3 4. h6 bxc2 5. hxg7 cxb1=R 6. gxh8=B Bb7 1/2-1/2\n\n"
         "[Result \"1-0\"]\n\n1. e4 e5 2. Nf3 Nf6 1-0\n";
  const std::string quiet = " >/dev/null 2>&1";
  ASSERT_EQ(std::system(("cd '" + dir + "' && " + polyglot + " make-book -pgn games.pgn -bin book.bin -min-game 1" +
                         quiet).c_str()), 0);
  for (const char* colour : {"white", "black"})
    ASSERT_EQ(std::system(("cd '" + dir + "' && " + polyglot + " dump-book -bin book.bin -color " + colour +
                           " -out " + colour + ".txt" + quiet).c_str()), 0);
  open(path("book.bin"));

  std::map<uint64_t, std::map<std::string, int>> shown;  // Polyglot's moves and shares by key
  std::map<uint64_t, std::string> where;                  // a FEN of each key, for messages
  for (const char* colour : {"white", "black"}) {
    std::ifstream dump(path(std::string(colour) + ".txt"));
    std::string text;
    int lines = 0;
    while (std::getline(dump, text)) {
      if (text.empty() || !isdigit(static_cast<unsigned char>(text[0]))) continue;  // the title line
      lines++;
      setBoard(START_FEN);
      std::istringstream words(text.substr(text.find(':') + 1));
      std::string word;
      while (words >> word) {
        if (isdigit(static_cast<unsigned char>(word[0]))) continue;  // a move number
        const size_t brace = word.find('{');
        const std::string san = word.substr(0, brace);
        const Move m = moveFromSAN(san);
        ASSERT_NE(m, 0u) << san << " in " << text;
        if (brace != std::string::npos) {
          shown[bookKey()][moveToUci(m)] = std::atoi(word.c_str() + brace + 1);
          where[bookKey()] = currentFen();
        }
        playMove(m);
      }
    }
    EXPECT_GT(lines, 5) << colour;
  }

  size_t entries = 0;
  for (const auto& [key, moves] : shown) {
    ASSERT_TRUE(setPosition(where[key]));
    const std::map<std::string, int> found = entriesHere();
    int total = 0;
    for (const auto& [move, weight] : found) total += weight;
    std::map<std::string, int> shares;
    for (const auto& [move, weight] : found) shares[move] = (weight * 100 + total / 2) / total;
    EXPECT_EQ(shares, moves) << where[key];
    entries += found.size();
  }
  EXPECT_EQ(entries, bookEntryCount());  // the dumps reach every entry of the file
}

TEST_F(BookTest, ChoiceFollowsTheWeightsAndNeverTakesWeightZeroOrIllegalMoves) {
  const uint64_t start = bookKey();
  std::vector<RawEntry> entries = {{start, rawMove("e2e4"), 6}, {start, rawMove("d2d4"), 3},
                                   {start, rawMove("g1f3"), 1}, {start, rawMove("c2c4"), 0},
                                   {start, rawMove("e2e5"), 60000}};
  open(writeBook("book.bin", entries));
  std::string messages;
  EXPECT_EQ(entriesHere(&messages), (std::map<std::string, int>{{"e2e4", 6}, {"d2d4", 3}, {"g1f3", 1}, {"c2c4", 0}}));
  EXPECT_NE(messages.find("**ERROR**  findBookEntries() : "), std::string::npos) << messages;
  EXPECT_NE(messages.find("e2e5"), std::string::npos) << messages;

  const int draws = 20000;
  std::map<std::string, int> counts;
  std::vector<Move> firstChoices;
  captureOutput([&] {
    seedBook(7);
    for (int i = 0; i < draws; i++) {
      const Move m = chooseBookMove();
      counts[m == 0 ? "none" : moveToUci(m)]++;
      if (i < 30) firstChoices.push_back(m);
    }
  });
  EXPECT_EQ(counts.size(), 3u);
  EXPECT_NEAR(counts["e2e4"] / double(draws), 0.6, 0.02);
  EXPECT_NEAR(counts["d2d4"] / double(draws), 0.3, 0.02);
  EXPECT_NEAR(counts["g1f3"] / double(draws), 0.1, 0.02);

  std::vector<Move> again;
  captureOutput([&] {
    seedBook(7);  // the same seed gives the same choices
    for (int i = 0; i < 30; i++) again.push_back(chooseBookMove());
  });
  EXPECT_EQ(again, firstChoices);

  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"));  // not in the book
  EXPECT_EQ(chooseBookMove(), 0u);
  closeBook();
  ASSERT_TRUE(setPosition(START_FEN));
  EXPECT_EQ(chooseBookMove(), 0u);
}

TEST_F(BookTest, BookMoveIsAnnouncedInEachProtocol) {
  ASSERT_TRUE(setPosition("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"));
  open(writeBook("book.bin", {{bookKey(), rawMove("c7c5"), 5}, {bookKey(), rawMove("e7e5"), 0}}));
  Move m = 0;
  settings.post = 1;
  uciMode = 1;
  EXPECT_EQ(captureOutput([&] { m = probeBook(); }), "info string book move c7c5 (100%)\n");
  EXPECT_EQ(m, matchMove(parseCoord("c7c5")));
  uciMode = 0;
  xboardMode = 1;
  EXPECT_EQ(captureOutput([&] { probeBook(); }), "0 0 0 0 c5 (book 100%)\n");
  xboardMode = 0;
  consoleMode = 1;
  EXPECT_EQ(captureOutput([&] { probeBook(); }), "1. ... c5 (book 100%)\n");
  settings.post = 0;
  EXPECT_EQ(captureOutput([&] { m = probeBook(); }), "");
  EXPECT_NE(m, 0u);
  EXPECT_EQ(plyStack[0].moveCount, 20);  // the replies at ply 0 are generated again
}

TEST_F(BookTest, DamagedFilesAreRefusedAndTheEngineGoesOnWithoutABook) {
  const uint64_t start = bookKey();
  const std::string good = writeBook("good.bin", {{start, rawMove("e2e4"), 1}, {start + 1, rawMove("a7a6"), 1}});
  std::ifstream in(good, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::ofstream(path("cut.bin"), std::ios::binary) << bytes.substr(0, 27);
  std::ofstream(path("odd.bin"), std::ios::binary) << bytes << 'x';
  std::ofstream(path("empty.bin"), std::ios::binary);
  writeBook("unsorted.bin", {{start + 1, rawMove("a7a6"), 1}, {start, rawMove("e2e4"), 1}});
  mkdir(path("folder.bin").c_str(), 0700);
  mkfifo(path("pipe.bin").c_str(), 0600);  // opening it would wait for a writer
  fs::create_symlink(path("missing.bin"), path("nowhere.bin"));
  fs::create_symlink(path("loop.bin"), path("loop.bin"));
  writeBook("zeros.bin", std::vector<RawEntry>(4096, RawEntry{0, 0, 0}));  // key, move and weight 0
  writeBook("weightless.bin", {{start, rawMove("e2e4"), 0}, {start + 1, rawMove("a7a6"), 0}});

  const std::pair<std::string, const char*> cases[] = {
      {path("cut.bin"), "not a multiple of 16"}, {path("odd.bin"), "not a multiple of 16"},
      {path("empty.bin"), "is empty"},           {path("unsorted.bin"), "keys out of order at entry 1"},
      {path("folder.bin"), "is a folder, not a Polyglot book"}, {"/dev/zero", "is a device, not a Polyglot book"},
      {path("pipe.bin"), "is a named pipe, not a Polyglot book"},
      {path("missing.bin"), "unable to open"},
      {path("nowhere.bin"), "is a link that leads nowhere"},
      {path("loop.bin"), "is a link that leads round in a loop"},
      {path("zeros.bin"), "no entry holds a move of weight above 0"},
      {path("weightless.bin"), "no entry holds a move of weight above 0"}};
  for (const auto& [file, why] : cases) {
    open(good);  // a refused file also closes the book that was open
    bool opened = true;
    const std::string out = captureOutput([&] { opened = openBook(file.c_str()); });
    EXPECT_FALSE(opened) << file;
    EXPECT_EQ(out.rfind("**ERROR**  openBook() : ", 0), 0u) << out;
    EXPECT_NE(out.find(why), std::string::npos) << out;
    EXPECT_EQ(bookEntryCount(), 0u);
    EXPECT_EQ(chooseBookMove(), 0u);
    EXPECT_TRUE(boardIsConsistent());
  }
}

TEST_F(BookTest, FileCutShortAfterItWasOpenedClosesTheBook) {
  const uint64_t start = bookKey();
  std::vector<RawEntry> entries;
  for (uint64_t k = 0; k < 64; k++) entries.push_back({start - 32 + k, rawMove("e2e4"), 1});
  const std::string file = writeBook("book.bin", entries);
  open(file);
  ASSERT_EQ(truncate(file.c_str(), 16 * 8), 0);
  Move m = 1;
  const std::string out = captureOutput([&] { m = chooseBookMove(); });
  EXPECT_EQ(m, 0u);
  EXPECT_EQ(out.rfind("**ERROR**  findBookEntries() : unable to read", 0), 0u) << out;
  EXPECT_EQ(bookEntryCount(), 0u);
}

// A book of a million entries, the position's own among keys just below and above it and its
// neighbours sharing a key: the binary search on the file finds exactly its entries.
TEST_F(BookTest, LargeBookIsSearchedInTheFile) {
  const uint64_t start = bookKey();
  std::vector<RawEntry> entries;
  const uint64_t step = start / 700000;
  for (uint64_t k = 0; k < 700000; k++) entries.push_back({k * step, rawMove("a2a3"), 1});
  while (!entries.empty() && entries.back().key >= start - 1) entries.pop_back();
  entries.push_back({start - 1, rawMove("b2b3"), 1});
  entries.push_back({start, rawMove("g1f3"), 2});
  entries.push_back({start, rawMove("e2e4"), 3});
  entries.push_back({start + 1, rawMove("c2c3"), 1});
  for (uint64_t k = 1; entries.size() < 1000000; k++) entries.push_back({start + 1 + k * 977, rawMove("h2h3"), 1});
  open(writeBook("large.bin", entries));
  EXPECT_EQ(bookEntryCount(), 1000000u);
  EXPECT_EQ(entriesHere(), (std::map<std::string, int>{{"e2e4", 3}, {"g1f3", 2}}));
}

// Debian's pychess package ships a Polyglot book (tests/run fetches it into /tmp/pychess when it
// can): it opens, every entry on the way through a few book moves decodes to a legal move.
TEST_F(BookTest, PychessBookIsReadWithoutComplaint) {
  const std::string file = pychessBook();
  if (file.empty()) GTEST_SKIP() << "pychess_book.bin not found (apt-get download pychess; dpkg-deb -x ...)";
  open(file);
  EXPECT_EQ(bookEntryCount(), uint64_t(fs::file_size(file) / 16));
  const std::map<std::string, int> first = entriesHere();
  EXPECT_GE(first.size(), 4u);
  EXPECT_TRUE(first.count("e2e4") && first.count("d2d4"));
  for (uint64_t seed = 1; seed <= 20; seed++) {
    setBoard(START_FEN);
    seedBook(seed);
    for (int plies = 0; plies < 12; plies++) {
      Move m = 0;
      std::string out = captureOutput([&] { m = chooseBookMove(); });
      EXPECT_EQ(out, "") << currentFen();
      if (m == 0) break;
      playMove(m);
    }
    EXPECT_TRUE(boardIsConsistent());
  }
}

}  // namespace

// Every front end plays from the book once it is switched on and named: UCI through OwnBook and
// Book File, the console through "book <file>" (and "book off"); xboard's "bk" lists its moves.
TEST_F(BookTest, EveryFrontEndPlaysFromTheBook) {
  const std::string book = writeBook("book.bin", {{bookKey(), rawMove("e2e4"), 3}, {bookKey(), rawMove("d2d4"), 1}});
  initSearchTables();
  settings.post = 1;
  uciMode = 1;
  typeLine("setoption name Book File value " + book);
  EXPECT_EQ(bookEntryCount(), 0u);  // named, not yet switched on
  typeLine("setoption name OwnBook value true");
  EXPECT_EQ(bookEntryCount(), 2u);
  typeLine("position startpos");
  const std::string out = typeLine("go wtime 60000 btime 60000");
  EXPECT_TRUE(out == "info string book move e2e4 (75%)\nbestmove e2e4\n" ||
              out == "info string book move d2d4 (25%)\nbestmove d2d4\n")
      << out;
  // A GUI that names the moves to search gets one of them, never the book's.
  const std::string limited = typeLine("go depth 1 searchmoves g1f3");
  EXPECT_EQ(limited.find("book"), std::string::npos) << limited;
  EXPECT_NE(limited.find("bestmove g1f3"), std::string::npos) << limited;
  typeLine("setoption name OwnBook value false");
  EXPECT_EQ(bookEntryCount(), 0u);

  uciMode = 0;
  consoleMode = 1;
  settings.showBoard = 0;
  EXPECT_EQ(typeLine("book " + book), "book: " + book + ", 2 entries\n");
  engineSide = WHITE;
  const std::string played = captureOutput(engineTurn);
  EXPECT_TRUE(played.rfind("1. e4 (book 75%)\n", 0) == 0 || played.rfind("1. d4 (book 25%)\n", 0) == 0) << played;
  EXPECT_EQ(gamePly, 1);
  EXPECT_EQ(typeLine("book off"), "book: off\n");
  EXPECT_EQ(bookEntryCount(), 0u);

  consoleMode = 0;
  xboardMode = 1;
  setPosition(START_FEN);
  EXPECT_EQ(typeLine("bk"), "\tno book move\n\n");
  ASSERT_TRUE(openBook(book.c_str()));
  EXPECT_EQ(typeLine("bk"), "\te4 75%\n\td4 25%\n\n");
}

// An entry without a move (code 0) is skipped with a message, as an illegal one is, and each is
// reported once while the book stays open. xboard's "bk" lists only the moves that can be
// played, weight 0 left out, with their shares rounded as the book move's announcement is.
TEST_F(BookTest, EntriesWithoutAMoveAreReportedOnceAndBkListsOnlyPlayableMoves) {
  const uint64_t start = bookKey();
  open(writeBook("book.bin", {{start, 0, 5}, {start, rawMove("e2e4"), 2}, {start, rawMove("d2d4"), 1},
                              {start, rawMove("g1f3"), 0}, {start, rawMove("e2e5"), 9}}));
  BookEntry entries[MAX_BOOK_ENTRIES];
  int count = 0;
  const std::string first = captureOutput([&] { count = findBookEntries(entries); });
  EXPECT_EQ(count, 3);
  EXPECT_EQ(first, "**ERROR**  findBookEntries() : " + path("book.bin") + " entry 0 holds no move (code 0); skipped\n" +
                       "**ERROR**  findBookEntries() : " + path("book.bin") + " entry 4 holds e2e5, no legal move here; skipped\n");
  EXPECT_EQ(captureOutput([&] { count = findBookEntries(entries); }), "");
  xboardMode = 1;
  consoleMode = 0;
  EXPECT_EQ(typeLine("bk"), "\te4 67%\n\td4 33%\n\n");
  // Reopened, the book reports its entries again.
  open(path("book.bin"));
  EXPECT_EQ(captureOutput([&] { findBookEntries(entries); }), first);

  ASSERT_TRUE(setPosition("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"));
  open(writeBook("weightless.bin", {{bookKey(), rawMove("e7e5"), 0}, {bookKey() + 1, rawMove("e2e4"), 1}}));
  EXPECT_EQ(typeLine("bk"), "\tno book move\n\n");
}

// A book and a table folder whose paths are 200 characters long and hold spaces are taken by
// every front end, and createini writes them into the settings file, which reads them back.
TEST_F(BookTest, LongPathsWithSpacesWorkFromEveryFrontEndAndSurviveCreateini) {
  const std::string folder = path("my books and tables " + std::string(160, 'x') + " end");
  ASSERT_GE(folder.size(), 200u);
  fs::create_directories(folder);
  const std::string book = writeBook(fs::path(folder).filename().string() + "/opening book " + std::string(40, 'b') + ".bin",
                                     {{bookKey(), rawMove("e2e4"), 3}, {bookKey(), rawMove("d2d4"), 1}});
  ASSERT_GE(book.size(), 250u);
  for (int c = 1; c < TB_CLASSES && std::strlen(tbClassName(c)) == 3; c++)
    for (int s = 0; s < 2; s++) {
      const std::vector<uint8_t> bytes = classTable(c, s, Solver(tbClassName(c)));
      std::ofstream(folder + "/" + tbClassName(c) + (s ? ".nbb" : ".nbw"), std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
  initSearchTables();
  const std::string tablesFound = "3-men Nalimov tablebases found\nEGTB cache:  16384 KB\n";

  // The console, and the settings file createini writes.
  settings.showBoard = 0;
  EXPECT_EQ(typeLine("nalimovpath " + folder), tablesFound);
  EXPECT_EQ(tbMaxMen, 3);
  EXPECT_EQ(typeLine("book " + book), "book: " + book + ", 2 entries\n");
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  EXPECT_EQ(typeLine("createini"), "");
  std::ifstream file("talvek.ini", std::ios::binary);
  const std::string ini{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  EXPECT_NE(ini.find("\nnalimovpath " + folder + "\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\nbook " + book + "\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\negbbpath c:\\EGBB\n"), std::string::npos) << ini;  // unchanged settings: their defaults
  resetSettings();
  closeBook();
  engineState = STATE_INITIALISING;
  EXPECT_EQ(typeLine("init"), "");
  engineState = STATE_WAITING;
  fs::current_path(previous);
  EXPECT_EQ(settings.nalimovPath, folder);
  EXPECT_EQ(settings.bookPath, book);
  EXPECT_EQ(settings.ownBook, 1);

  // UCI.
  resetSettings();
  closeBook();
  captureOutput([] { initNalimov("", 1 << 20); });
  consoleMode = 0;
  uciMode = 1;
  EXPECT_EQ(typeLine("setoption name NalimovPath value " + folder), tablesFound);
  EXPECT_EQ(tbMaxMen, 3);
  EXPECT_EQ(typeLine("setoption name Book File value " + book) + typeLine("setoption name OwnBook value true"), "");
  EXPECT_EQ(bookEntryCount(), 2u);
  EXPECT_NE(typeLine("go wtime 1000 btime 1000").find("info string book move"), std::string::npos);

  // xboard: the options announced by protover, sent back by the GUI.
  resetSettings();
  closeBook();
  captureOutput([] { initNalimov("", 1 << 20); });
  uciMode = 0;
  xboardMode = 1;
  EXPECT_NE(typeLine("protover 2").find("feature option=\"Book File -file \"\n"), std::string::npos);
  EXPECT_EQ(typeLine("option NalimovPath=" + folder), tablesFound);
  EXPECT_EQ(tbMaxMen, 3);
  EXPECT_EQ(typeLine("option Book File=" + book), "");
  EXPECT_EQ(typeLine("bk"), "\te4 75%\n\td4 25%\n\n");
  EXPECT_EQ(typeLine("option Book File="), "");
  EXPECT_EQ(bookEntryCount(), 0u);
  EXPECT_EQ(typeLine("option Hash Size=4"), "Error (unknown option): Hash Size\n");
  // A book that cannot be used is said so, under UCI as an "info string".
  xboardMode = 0;
  uciMode = 1;
  EXPECT_EQ(typeLine("setoption name OwnBook value true"), "");
  EXPECT_EQ(typeLine("setoption name Book File value " + folder + "/none.bin"),
            "info string **ERROR**  openBook() : unable to open " + folder + "/none.bin\n");
  captureOutput([] { initNalimov("", 1 << 20); });
}
