// When the search looks a node up in the Nalimov tables: only without castling rights, with no
// more men than the largest table, and either within the first plies or right after a capture
// or a promotion. Each case searches one node one ply deep at a chosen ply; its children are
// quiescence nodes, which never probe, so the node's own probe is the only one counted.
#include <memory>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/search/search_fixture.h"

namespace {

constexpr int KRK = 4, KQK = 5;

class TablebaseGate : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    folder = std::make_unique<TempFolder>();
    writeClassFiles(*folder, KRK, Solver("krk"), false);
    writeClassFiles(*folder, KQK, Solver("kqk"), true);
    captureOutput([&] { initNalimov(folder->path().c_str(), 1 << 20); });
    ASSERT_EQ(tbMaxMen, 3);
  }
  void TearDown() override {
    captureOutput([] { initNalimov("", 0); });
    SearchTest::TearDown();
  }

  // Probes made by the current position searched as a node at the given ply.
  int probesAt(int atPly) {
    searchStats = SearchStats{};
    clearTT();
    ply = atPly;
    searchNode(4, -MATE, MATE);
    ply = 0;
    return searchStats.egtbProbes;
  }

  // Sets fen, plays the move (it becomes the last move of the node) and counts the node's probes.
  int probesAfter(const char* fen, const char* move, int atPly) {
    place(fen);
    playMove(move);
    return probesAt(atPly);
  }

  std::unique_ptr<TempFolder> folder;
};

TEST_F(TablebaseGate, NeverWithCastlingRights) {
  place("4k3/8/8/8/8/8/8/4K2R b K - 0 1");
  EXPECT_EQ(probesAt(1), 0);
  place("4k3/8/8/8/8/8/8/4K2R b - - 0 1");
  EXPECT_EQ(probesAt(1), 1);
  EXPECT_EQ(searchStats.egtbHits, 1);
}

TEST_F(TablebaseGate, OnlyInTheFirstPliesAfterQuietMoves) {
  place("4k3/8/8/8/8/8/8/4K2R b - - 0 1");
  EXPECT_EQ(probesAt(2), 1);
  EXPECT_EQ(probesAt(3), 0);
  EXPECT_EQ(probesAfter("4k3/8/8/8/8/8/7R/4K3 w - - 0 1", "h2h3", 2), 1);
  EXPECT_EQ(probesAfter("4k3/8/8/8/8/8/7R/4K3 w - - 0 1", "h2h3", 3), 0);
  EXPECT_EQ(probesAfter("4k3/8/8/8/8/8/7R/4K3 w - - 0 1", "h2h3", 9), 0);
}

TEST_F(TablebaseGate, AtAnyPlyAfterACaptureOrAPromotion) {
  EXPECT_EQ(probesAfter("4k3/8/8/7n/8/8/7R/4K3 w - - 0 1", "h2h5", 9), 1);
  EXPECT_EQ(searchStats.egtbHits, 1);
  EXPECT_EQ(probesAfter("4k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7a8q", 9), 1);
  EXPECT_EQ(searchStats.egtbHits, 1);
  EXPECT_EQ(probesAfter("4k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7a8r", 9), 1);
}

TEST_F(TablebaseGate, NeverWithMoreMenThanTheTables) {
  place("4k3/8/8/7n/8/8/7R/4K3 b - - 0 1");
  EXPECT_EQ(probesAt(1), 0);
  EXPECT_EQ(probesAfter("4k3/8/8/7n/8/8/7R/4K3 w - - 0 1", "h2h3", 1), 0);
}

}  // namespace
