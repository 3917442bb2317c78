// The positions of the layout check: every one is legal, gets an index inside its table, and has
// the value the rules give it (checkmated, stalemated, mates in one) by the move generator; the
// positions cover the layout choices no file length fixes. The list itself is written by a tool
// here (a disabled test) that searches positions of each kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

namespace {

// Stored bytes: checkmated, stalemated (or any other draw), mates in one; UNDECIDED otherwise.
constexpr int MATED = -126, STALEMATE = 0, MATES_IN_ONE = 126, UNDECIDED = 1;

bool anyLegalMove() {
  genPlyMoves();
  for (const Move* m = plyStack[ply].moves; *m; m++)
    if (legal(*m)) return true;
  return false;
}

// The stored byte the rules fix for the position on the board, or UNDECIDED: a draw when one
// side has a lone bishop or knight against the bare king.
int ruleValue() {
  int units = 0, minors = 0;
  for (int colour = 0; colour < 2; colour++) {
    units += typeCount[colour][PAWN] + typeCount[colour][KNIGHT] + typeCount[colour][BISHOP] +
             typeCount[colour][ROOK] + typeCount[colour][QUEEN];
    minors += typeCount[colour][KNIGHT] + typeCount[colour][BISHOP];
  }
  if (units == 1 && minors == 1) return STALEMATE;
  genPlyMoves();
  std::vector<Move> moves;
  for (const Move* m = plyStack[ply].moves; *m; m++)
    if (legal(*m)) moves.push_back(*m);
  if (moves.empty()) return inCheck(sideToMove) ? MATED : STALEMATE;
  for (Move m : moves) {
    makeMove(m);
    bool mate = !anyLegalMove() && inCheck(sideToMove);
    unmakeMove();
    if (mate) return MATES_IN_ONE;
  }
  return UNDECIDED;
}

TbPosition positionOf(const TbSample& sample) {
  TbPosition p{sample.side, {sample.kings[0], sample.kings[1]}, {{}, {}},
               sample.ep == TB_NO_EP ? -1 : sample.ep};
  for (int unit : sample.units)
    if (unit >= 0) p.units[unit >> 9].push_back((((unit >> 6) & 7) + PAWN) * 64 + (unit & 63));
  return p;
}

// Rule value of a table position set up on the board, or -1000 when the board refuses it.
int ruleValueOf(const TbPosition& p) {
  std::string fen = fenOf(p, false);
  if (setBoard(fen.c_str()) != 0 || positionRejected) return -1000;
  return ruleValue();
}

// The kinds of positions the check needs, told apart in the view of the side to move.
enum Kind {
  GENERAL,
  DIAGONAL_BELOW,  // mover's king on a1, b2, c3 or d4 of the view, other king below the diagonal
  DIAGONAL_ABOVE,
  DIAGONAL_ON,     // both kings on the diagonal
  EP_FROM_LEFT,    // en passant taken by the pawn on the left of the advanced one
  EP_FROM_RIGHT,
  EP_BOTH_SIDES,   // own pawns on both sides of the advanced one
  KINDS
};

struct Shape {
  int counts[2][5] = {};  // by table side and type (pawn .. queen)
  bool pawns = false;
};

Shape shapeOf(int classNumber) {
  Shape shape;
  int side = 0;
  const char* name = tbClassName(classNumber);
  for (const char* c = name + 1; *c; c++) {
    if (*c == 'k') {
      side = 1;
      continue;
    }
    const char* letter = std::strchr("pnbrq", *c);
    if (!letter) continue;
    int type = int(letter - "pnbrq");
    shape.counts[side][type]++;
    if (type == 0) shape.pawns = true;
  }
  return shape;
}

bool onDiagonal(int sq) { return (sq >> 3) == (sq & 7); }

// A random position of class c, side s of the given kind, in the table's colours; false when the
// kind cannot be built.
bool randomPosition(std::mt19937& rng, int c, int s, Kind kind, TbPosition& p) {
  Shape shape = shapeOf(c);
  auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
  uint64_t used = 0;
  auto take = [&](int sq) {
    if (sq < 0 || sq > 63 || (used >> sq & 1)) return false;
    used |= uint64_t(1) << sq;
    return true;
  };
  // View squares: the side to move moves up.
  int m, o, ep = -1;
  std::vector<int> own, other;  // type * 64 + square, view
  static const int DIAGONAL[4] = {0, 9, 18, 27};
  if (kind == DIAGONAL_BELOW || kind == DIAGONAL_ABOVE || kind == DIAGONAL_ON) {
    if (shape.pawns) return false;
    m = DIAGONAL[pick(4)];
    o = kind == DIAGONAL_ON ? 9 * pick(8) : pick(64);
    int rank = o >> 3, file = o & 7;
    if (kind == DIAGONAL_BELOW && rank >= file) return false;
    if (kind == DIAGONAL_ABOVE && rank <= file) return false;
  } else {
    m = pick(64);
    o = pick(64);
  }
  // Half the time put a king on the edge with the other king two squares from it, where mates
  // and stalemates are.
  if (pick(2) && kind != DIAGONAL_ON) {
    int& edge = kind == GENERAL && pick(2) ? m : o;
    int& near = &edge == &m ? o : m;
    if (kind == GENERAL || &edge == &o) {
      int file = pick(8), rank = pick(2) ? 0 : 7;
      if (pick(2)) std::swap(file, rank);
      edge = rank * 8 + file;
    }
    if (kind == GENERAL || &near == &o) {
      int file = (edge & 7) + pick(5) - 2, rank = (edge >> 3) + pick(5) - 2;
      if (file >= 0 && file < 8 && rank >= 0 && rank < 8) near = rank * 8 + file;
    }
    if (kind == DIAGONAL_BELOW && (o >> 3) >= (o & 7)) return false;
    if (kind == DIAGONAL_ABOVE && (o >> 3) <= (o & 7)) return false;
  }
  if (!take(m) || !take(o)) return false;
  int ownCounts[5], otherCounts[5];
  for (int t = 0; t < 5; t++) ownCounts[t] = shape.counts[s][t], otherCounts[t] = shape.counts[s ^ 1][t];
  if (kind >= EP_FROM_LEFT) {
    if (!ownCounts[0] || !otherCounts[0]) return false;
    if (kind == EP_BOTH_SIDES && ownCounts[0] < 2) return false;
    int file = kind == EP_BOTH_SIDES ? 1 + pick(6) : kind == EP_FROM_LEFT ? 1 + pick(7) : pick(7);
    int advanced = 32 + file;  // rank 5 of the view
    ep = advanced + 8;
    if (!take(advanced) || !take(ep) || !take(ep + 8)) return false;  // the crossed squares stay empty
    other.push_back(0 * 64 + advanced);
    otherCounts[0]--;
    if (kind != EP_FROM_RIGHT) {
      if (!take(advanced - 1)) return false;
      own.push_back(advanced - 1), ownCounts[0]--;
    }
    if (kind != EP_FROM_LEFT) {
      if (!take(advanced + 1)) return false;
      own.push_back(advanced + 1), ownCounts[0]--;
    }
  }
  for (int side = 0; side < 2; side++)
    for (int t = 0; t < 5; t++)
      for (int n = side ? otherCounts[t] : ownCounts[t]; n > 0; n--) {
        int sq = t == 0 ? 8 + pick(48) : pick(64);
        if (!take(sq)) return false;
        (side ? other : own).push_back(t * 64 + sq);
      }
  // To the table's colours.
  int flip = s ? 56 : 0;
  p = TbPosition{s, {0, 0}, {{}, {}}, ep < 0 ? -1 : ep ^ flip};
  p.kings[s] = m ^ flip;
  p.kings[s ^ 1] = o ^ flip;
  for (int unit : own) p.units[s].push_back((unit / 64 + PAWN) * 64 + ((unit % 64) ^ flip));
  for (int unit : other) p.units[s ^ 1].push_back((unit / 64 + PAWN) * 64 + ((unit % 64) ^ flip));
  for (auto& units : p.units) std::sort(units.begin(), units.end());
  return tbPositionLegal(p);
}

std::string sampleLine(int c, const TbPosition& p, int value) {
  int units[TB_SAMPLE_UNITS] = {-1, -1, -1}, n = 0;
  for (int side = 0; side < 2; side++)
    for (int unit : p.units[side]) units[n++] = side << 9 | (unit / 64 - PAWN) << 6 | unit % 64;
  char line[160];
  std::snprintf(line, sizeof line, "    {%d, %d, %d, %d, {%d, %d}, {%d, %d, %d}},  // %s\n", c,
                p.side, value, p.ep < 0 ? TB_NO_EP : p.ep, p.kings[0], p.kings[1], units[0],
                units[1], units[2], fenOf(p, false).c_str());
  return line;
}

// The kind a sample stands for, seen again from its squares.
Kind kindOf(const TbPosition& p, bool pawns) {
  int flip = p.side ? 56 : 0;
  int m = p.kings[p.side] ^ flip, o = p.kings[p.side ^ 1] ^ flip;
  if (p.ep >= 0) {
    int advanced = (p.ep ^ flip) - 8;
    bool left = false, right = false;
    for (int unit : p.units[p.side]) {
      int sq = (unit % 64) ^ flip;
      if (unit / 64 != PAWN) continue;
      left |= sq == advanced - 1 && (advanced & 7) > 0;
      right |= sq == advanced + 1 && (advanced & 7) < 7;
    }
    return left && right ? EP_BOTH_SIDES : left ? EP_FROM_LEFT : EP_FROM_RIGHT;
  }
  if (!pawns && (m == 0 || m == 9 || m == 18 || m == 27))
    return onDiagonal(o) ? DIAGONAL_ON : (o >> 3) < (o & 7) ? DIAGONAL_BELOW : DIAGONAL_ABOVE;
  return GENERAL;
}

}  // namespace

// Every sample is legal, lies inside its table and has the value the rules give it.
TEST(LayoutSamples, EverySampleHasTheValueTheRulesGiveIt) {
  resetEngine();
  int total = 0;
  captureOutput([&] {  // setBoard announces mates and stalemates
    for (int c = 1; c < TB_CLASSES; c++)
      for (int s = 0; s < 2; s++) {
        int count;
        const TbSample* samples = tbSamples(c, s, &count);
        ASSERT_LE(count, TB_MAX_SAMPLES) << tbClassName(c);
        for (int i = 0; i < count; i++) {
          EXPECT_EQ(samples[i].classNumber, c);
          EXPECT_EQ(samples[i].side, s);
          TbPosition p = positionOf(samples[i]);
          std::string fen = fenOf(p, false);
          ASSERT_TRUE(tbPositionLegal(p)) << fen;
          uint32_t index = tbIndexOf(c, p, false);
          ASSERT_LT(index, tbFileLength(c, s)) << fen;
          EXPECT_EQ(ruleValueOf(p), samples[i].value) << fen;
          // The same position with the colours exchanged has the same index.
          EXPECT_EQ(tbIndexOf(c, p, true), index) << fen;
        }
        total += count;
      }
  });
  EXPECT_GT(total, 290 * 12);
  resetEngine();
}

// The samples try every layout choice no file length fixes: the other king on both sides of the
// diagonal for every class without pawns, and en passant taken from both sides (and with pawns on
// both sides of the advanced one) for every class with pawns on both sides. A few classes have no
// position of some kind whose value the rules decide (a king and pawn cannot mate in one while
// the pawn stands on the fifth rank, a lone knight or bishop rarely can): those are listed.
TEST(LayoutSamples, SamplesCoverTheChoicesNoLengthFixes) {
  const std::set<std::string> noDiagonal = {"knkn", "kbkn"};
  const std::set<std::string> noEnPassant = {"kpkp", "knpkp", "kbpkp"};
  const std::set<std::string> noEnPassantBothSides = {"kppkp"};
  for (int c = 1; c < TB_CLASSES; c++) {
    Shape shape = shapeOf(c);
    int kinds[KINDS] = {};
    for (int s = 0; s < 2; s++) {
      int count;
      const TbSample* samples = tbSamples(c, s, &count);
      for (int i = 0; i < count; i++) kinds[kindOf(positionOf(samples[i]), shape.pawns)]++;
    }
    const std::string name = tbClassName(c);
    if (name != "knk" && name != "kbk") {
      EXPECT_GT(kinds[GENERAL], 0) << name;
    }
    if (!shape.pawns && !noDiagonal.count(name)) {
      EXPECT_GT(kinds[DIAGONAL_BELOW], 0) << name;
      EXPECT_GT(kinds[DIAGONAL_ABOVE], 0) << name;
    }
    if (shape.counts[0][0] && shape.counts[1][0] && !noEnPassant.count(name)) {
      EXPECT_GT(kinds[EP_FROM_LEFT], 0) << name;
      EXPECT_GT(kinds[EP_FROM_RIGHT], 0) << name;
    }
    if (shape.counts[0][0] >= 2 && shape.counts[1][0] && !noEnPassantBothSides.count(name)) {
      EXPECT_GT(kinds[EP_BOTH_SIDES], 0) << name;
    }
  }
}

// Writes the list of samples to /tmp/tb_samples.inc (it goes to egdb/nalimov_samples.inc):
//   build/talvek_tests --gtest_also_run_disabled_tests --gtest_filter='*WritesTheLayoutSamples'
TEST(LayoutSamples, DISABLED_WritesTheLayoutSamples) {
  resetEngine();
  FILE* out = std::fopen("/tmp/tb_samples.inc", "w");
  ASSERT_NE(out, nullptr);
  std::fprintf(out, "// Written by the test LayoutSamples.DISABLED_WritesTheLayoutSamples.\n");
  std::mt19937 rng(20261207);
  struct Want {
    Kind kind;
    int samples;
    int tries;
  };
  const Want wants[] = {{DIAGONAL_BELOW, 4, 400000}, {DIAGONAL_ABOVE, 4, 400000},
                        {DIAGONAL_ON, 2, 40000},     {EP_FROM_LEFT, 3, 300000},
                        {EP_FROM_RIGHT, 3, 300000},  {EP_BOTH_SIDES, 2, 300000},
                        {GENERAL, 12, 200000}};
  for (int c = 1; c < TB_CLASSES; c++)
    for (int s = 0; s < 2; s++) {
      int found = 0, mated = 0;
      for (const Want& want : wants) {
        int got = 0;
        for (int t = 0; t < want.tries && got < want.samples; t++) {
          TbPosition p;
          if (!randomPosition(rng, c, s, want.kind, p)) continue;
          int value = ruleValueOf(p);
          if (value == UNDECIDED || value == -1000) continue;
          // Favour the rarer kinds of value: a third of the samples at most mate in one.
          if (value == MATES_IN_ONE && got >= 1 && rng() % 3) continue;
          if (tbIndexOf(c, p, false) >= tbFileLength(c, s)) continue;
          std::fputs(sampleLine(c, p, value).c_str(), out);
          got++;
          mated += value == MATED;
        }
        found += got;
      }
      std::printf("%s side %d: %d samples (%d checkmated)\n", tbClassName(c), s, found, mated);
    }
  std::fclose(out);
  resetEngine();
}
