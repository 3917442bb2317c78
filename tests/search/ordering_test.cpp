#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "search/search.h"
#include "tests/support/support.h"

namespace {

// The legal move of the current position with this coordinate text (0 if none); the current
// ply's list is regenerated.
Move moveOf(const char* text) { return matchMove(parseCoord(text)); }

// Index of move in the current ply's list, -1 if absent.
int indexOf(Move m) {
  const PlyRecord& rec = plyStack[ply];
  for (int i = 0; i < rec.moveCount; i++)
    if (rec.moves[i] == m) return i;
  return -1;
}

int scoreOf(Move m) { return plyStack[ply].scores[indexOf(m)]; }

// Generates all moves of the current position at the current ply.
void generate() {
  plyStack[ply].checkCount = findCheckers(plyStack[ply].checkers);
  if (plyStack[ply].checkCount) genEvasions();
  else genMoves();
}

class OrderingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    for (auto& row : historyScores)
      for (int& h : row) h = 0;
  }
};

TEST_F(OrderingTest, ExchangeValues) {
  ASSERT_TRUE(setPosition("4k3/8/4p3/3n4/4P3/8/8/4K3 w - - 0 1"));
  EXPECT_EQ(see(moveOf("e4d5")), 200);  // pawn takes a knight defended by a pawn
  ASSERT_TRUE(setPosition("4k3/8/4p3/3p4/8/8/8/3QK3 w - - 0 1"));
  EXPECT_EQ(see(moveOf("d1d5")), -800);  // queen takes a pawn defended by a pawn
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/4p3/3n4/4K3 w - - 0 1"));
  // The king may not walk into the pawn's recapture: the king's loss dominates.
  EXPECT_EQ(see(makeMoveWord(4, 19, KING, KNIGHT + BLACK_BIT)), -5000);
  ASSERT_TRUE(setPosition("4k3/8/8/3p4/8/8/8/3RK3 w - - 0 1"));
  EXPECT_EQ(see(moveOf("d1d5")), 100);  // undefended
}

TEST_F(OrderingTest, ExchangeCountsPiecesBehindTheCapturers) {
  // A rook behind the capturing rook recaptures after it.
  ASSERT_TRUE(setPosition("3rk3/8/8/3p4/8/8/3R4/3RK3 w - - 0 1"));
  EXPECT_EQ(see(moveOf("d2d5")), 100);
  // A black rook behind the defending rook answers the knight's recapture.
  ASSERT_TRUE(setPosition("3rk3/3r4/8/3p4/8/2N5/8/3RK3 w - - 0 1"));
  EXPECT_EQ(see(moveOf("d1d5")), -200);
  // Least valuable first: the knight recaptures before the rook behind the queen.
  ASSERT_TRUE(setPosition("4k3/4r3/8/4p3/8/5N2/4Q3/4R1K1 w - - 0 1"));
  EXPECT_EQ(see(moveOf("f3e5")), 100);
  // An en-passant capture sees an empty target square.
  ASSERT_TRUE(setPosition("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1"));
  EXPECT_EQ(see(moveOf("e5d6")), 0);
}

TEST_F(OrderingTest, HashMoveMissingFromTheListChangesNothing) {
  ASSERT_TRUE(setPosition("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3"));
  generate();
  scoreMoves(0);
  const PlyRecord before = plyStack[ply];
  scoreMoves(makeMoveWord(0x10, 0x70, QUEEN));  // no such move
  for (int i = 0; i < before.moveCount; i++) EXPECT_EQ(plyStack[ply].scores[i], before.scores[i]) << i;
  const Move hash = moveOf("f1b5");
  generate();
  scoreMoves(hash);
  EXPECT_EQ(scoreOf(hash), 1000000000);
  EXPECT_EQ(pickMove(), hash);
}

TEST_F(OrderingTest, EqualExchangeAndFirstKillerTieInListOrder) {
  ASSERT_TRUE(setPosition("4k3/8/4p3/3n4/8/2N5/8/4K3 w - - 0 1"));
  const Move capture = moveOf("c3d5");
  const Move quiet = moveOf("e1d2");
  generate();
  plyStack[ply].killer1 = quiet;
  scoreMoves(0);
  EXPECT_EQ(scoreOf(capture), 90000000);
  EXPECT_EQ(scoreOf(quiet), 90000000);
  const Move first = indexOf(capture) < indexOf(quiet) ? capture : quiet;
  const Move second = first == capture ? quiet : capture;
  EXPECT_EQ(pickMove(), first);
  EXPECT_EQ(pickMove(), second);
}

TEST_F(OrderingTest, BandsFollowTheTable) {
  ASSERT_TRUE(setPosition("4k3/1P6/8/8/3p4/4P3/2r5/R3K2R w KQ - 0 1"));
  const Move promotion = moveOf("b7b8q");
  const Move underPromotion = moveOf("b7b8n");
  const Move goodCapture = moveOf("e3d4");  // pawn takes undefended pawn
  const Move mateKiller = moveOf("a1a8");
  const Move killer2 = moveOf("h1h8");
  const Move quiet = moveOf("e1g1");
  generate();
  plyStack[ply].mateKiller = mateKiller;
  plyStack[ply].killer2 = killer2;
  historyScores[square64(moveTo(quiet))][pieceOf(quiet)] = 321;
  scoreMoves(0);
  EXPECT_EQ(scoreOf(mateKiller), 999999999);
  EXPECT_EQ(scoreOf(promotion), 100000000);
  EXPECT_EQ(scoreOf(goodCapture), 90000100);
  EXPECT_EQ(scoreOf(killer2), 89999999);
  EXPECT_EQ(scoreOf(quiet), 321);
  EXPECT_EQ(scoreOf(underPromotion), 0);
}

TEST_F(OrderingTest, RecaptureBandAndOlderKillersNeedDepthIntoTheSearch) {
  // 1... Bxc3 2. bxc3 is a recapture on the square of the last capture.
  ASSERT_TRUE(setPosition("4k3/8/8/8/1b6/2N5/1P6/4K3 b - - 0 1"));
  makeMove(moveOf("b4c3"));
  ply = 0;  // as a game move: the recapture is searched from the root
  const Move recapture = moveOf("b2c3");
  generate();
  scoreMoves(0);
  EXPECT_EQ(scoreOf(recapture), 90000300);
  ply = 1;  // the same position inside the search
  generate();
  scoreMoves(0);
  EXPECT_EQ(scoreOf(recapture), 100000300);
  // Killers of two plies up are consulted from ply 2 on only.
  const Move quiet = moveOf("e1d1");
  plyStack[ply - 1].killer1 = quiet;
  generate();
  scoreMoves(0);
  EXPECT_LT(scoreOf(quiet), 89999997);
  ply = 2;
  plyStack[0].killer1 = quiet;
  plyStack[0].killer2 = moveOf("e1f1");
  generate();
  scoreMoves(0);
  EXPECT_EQ(scoreOf(quiet), 89999998);
  EXPECT_EQ(scoreOf(moveOf("e1f1")), 89999997);
  ply = 0;
}

TEST_F(OrderingTest, QuietMovesOfAPieceLinedUpWithTheEnemyKingGetABonus) {
  // The rook stands on the king's file behind a pawn, the bishop on its diagonal behind
  // another; the bonus goes by the square the piece leaves.
  ASSERT_TRUE(setPosition("k7/pp6/8/8/8/8/8/R3K2B w - - 0 1"));
  generate();
  scoreMoves(0);
  EXPECT_EQ(scoreOf(moveOf("a1b1")), 40);
  EXPECT_EQ(scoreOf(moveOf("a1a2")), 40);
  EXPECT_EQ(scoreOf(moveOf("h1g2")), 60);
  EXPECT_EQ(scoreOf(moveOf("e1e2")), 0);
  ASSERT_TRUE(setPosition("k7/pp6/8/8/8/8/1R6/4K2B w - - 0 1"));
  generate();
  scoreMoves(0);
  EXPECT_EQ(scoreOf(moveOf("b2c2")), 0);
}

TEST_F(OrderingTest, QuiescenceOrderIsVictimThenAttacker) {
  ASSERT_TRUE(setPosition("4k3/1P6/r1q5/1P6/8/8/8/2R1K3 w - - 0 1"));
  const Move pawnTakesQueen = moveOf("b5c6");
  const Move rookTakesQueen = moveOf("c1c6");
  const Move pawnTakesRook = moveOf("b5a6");
  const Move promotion = moveOf("b7b8q");
  genCaptures();
  scoreCaptures(pawnTakesRook);
  EXPECT_EQ(scoreOf(pawnTakesRook), 100000000);
  EXPECT_EQ(scoreOf(promotion), 10000000);
  EXPECT_EQ(scoreOf(pawnTakesQueen), 9000000 + 900 - PAWN);
  EXPECT_EQ(scoreOf(rookTakesQueen), 9000000 + 900 - ROOK);
  // Inside the search a capture on the square just captured on comes first.
  ASSERT_TRUE(setPosition("4k3/8/8/8/1b6/2N5/1P6/4K3 b - - 0 1"));
  makeMove(moveOf("b4c3"));
  const Move recapture = moveOf("b2c3");
  genCaptures();
  scoreCaptures(0);
  EXPECT_EQ(scoreOf(recapture), 10000000 - PAWN);
  unmakeMove();
}

TEST_F(OrderingTest, PickMoveConsumesEachMoveOnceBestFirst) {
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1"));
  generate();
  const int count = plyStack[ply].moveCount;
  for (int i = 0; i < count; i++) plyStack[ply].scores[i] = i % 3;
  int picked = 0, last = 3;
  for (Move m = pickMove(); m != 0; m = pickMove()) {
    const int original = indexOf(m) % 3;
    EXPECT_LE(original, last);
    last = original;
    picked++;
  }
  EXPECT_EQ(picked, count);
  EXPECT_EQ(pickMove(), 0u);
}

// The search's picker hands out the moves in exactly pickMove's order, also after it has sorted
// the rest of the list: many ties (kept in list order), a consumed entry that must never come,
// a hash move and real scores.
TEST_F(OrderingTest, MovePickerFollowsPickMoveOrder) {
  ASSERT_TRUE(setPosition("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"));
  generate();
  for (int variant = 0; variant < 3; variant++) {
    PlyRecord& rec = plyStack[ply];
    if (variant == 0) {
      for (int i = 0; i < rec.moveCount; i++) rec.scores[i] = i % 4;
      rec.scores[5] = SCORE_CONSUMED;
    } else {
      historyScores[square64(moveTo(rec.moves[7]))][pieceOf(rec.moves[7])] = 500;
      scoreMoves(variant == 2 ? rec.moves[rec.moveCount - 1] : 0);
    }
    const PlyRecord scored = rec;
    std::vector<Move> expected;
    for (Move m = pickMove(); m != 0; m = pickMove()) expected.push_back(m);
    rec = scored;
    std::vector<Move> picked;
    MovePicker picker;
    for (Move m = picker.next(); m != 0; m = picker.next()) picked.push_back(m);
    EXPECT_EQ(picked, expected) << "variant " << variant;
    EXPECT_EQ(picked.size(), size_t(scored.moveCount - (variant == 0 ? 1 : 0)));
    EXPECT_EQ(picker.next(), 0u);
  }
}

TEST_F(OrderingTest, HistoryKillersAndMateKiller) {
  ASSERT_TRUE(setPosition("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1"));
  const Move quiet = moveOf("a1a5");
  const Move capture = makeMoveWord(0, 112, ROOK, ROOK + BLACK_BIT);
  int& entry = historyScores[square64(moveTo(quiet))][pieceOf(quiet)];
  updateHistory(quiet, 40, 10);
  EXPECT_EQ(entry, 1600);
  updateHistory(quiet, 12, 10);
  EXPECT_EQ(entry, 1744);
  EXPECT_EQ(plyStack[ply].killer1, quiet);
  EXPECT_EQ(plyStack[ply].killer2, quiet);  // the same move twice fills both slots
  historyScores[5][9] = 7;
  entry = 32767 - 16;
  updateHistory(quiet, 4, 10);  // 32767: not yet past the limit
  EXPECT_EQ(entry, 32767);
  updateHistory(quiet, 4, 10);  // 32783: everything is halved
  EXPECT_EQ(entry, 16391);
  EXPECT_EQ(historyScores[5][9], 3);
  updateHistory(capture, 20, MATE - 5);
  EXPECT_EQ(plyStack[ply].killer1, quiet);  // captures never become killers
  EXPECT_EQ(plyStack[ply].mateKiller, capture);
  updateHistory(quiet, 4, MATE_RANGE);  // not beyond the mate range
  EXPECT_EQ(plyStack[ply].mateKiller, capture);
}

// The root sort puts the moves in descending order of score, each move keeping its own score;
// moves of equal score may come in any order. Lists of every length up to a full one, from all
// ties to all different, and a list sorted already.
TEST_F(OrderingTest, RootSortOrdersByDescendingScore) {
  PlyRecord& rec = plyStack[0];
  std::mt19937 random(11);
  for (int trial = 0; trial < 200; trial++) {
    const int count = trial == 0 ? 0 : trial == 1 ? 1 : 1 + int(random() % (MAX_MOVES - 1));
    const int spread = 1 + int(random() % 6) * (trial % 5 == 0 ? 1000 : 3);  // many ties to none
    std::vector<std::pair<Move, int>> given;
    for (int i = 0; i < count; i++) given.push_back({Move(i + 1), int(random() % unsigned(spread)) - spread / 2});
    if (trial == 2) std::sort(given.begin(), given.end(), [](auto a, auto b) { return a.second > b.second; });
    rec.moveCount = count;
    for (int i = 0; i < count; i++) {
      rec.moves[i] = given[size_t(i)].first;
      rec.scores[i] = given[size_t(i)].second;
    }
    sortRootMoves();
    std::vector<std::pair<Move, int>> sorted;
    for (int i = 0; i < count; i++) sorted.push_back({rec.moves[i], rec.scores[i]});
    for (size_t i = 1; i < sorted.size(); i++) ASSERT_GE(sorted[i - 1].second, sorted[i].second) << trial;
    std::sort(given.begin(), given.end());
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, given) << trial;  // the same moves, each with its score
  }
}

TEST_F(OrderingTest, PrincipalVariationTakesTheChildLine) {
  ply = 2;
  pvLength[3] = 5;
  pvTable[3][3] = 31;
  pvTable[3][4] = 41;
  updatePV(21);
  EXPECT_EQ(pvLength[2], 5);
  EXPECT_EQ(pvTable[2][2], 21u);
  EXPECT_EQ(pvTable[2][3], 31u);
  EXPECT_EQ(pvTable[2][4], 41u);
  ply = 0;
}

}  // namespace
