// The KPK bitbase: telling positions and a complete comparison with a solution computed
// separately over the engine's own move generator.
#include "tests/eval/eval_fixture.h"

using EvalKPK = EvalTest;

TEST_F(EvalKPK, TellingPositions) {
  struct Case {
    const char* fen;
    int score;
  } cases[] = {
      {"7k/P7/8/8/8/8/8/K7 w - - 0 1", 2400},   // the defender cannot reach a8 in time
      {"7k/P7/8/8/8/8/8/K7 b - - 0 1", 2400},
      {"8/Pk6/8/8/8/8/8/K7 b - - 0 1", 0},      // Kxa7
      {"4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", 2200},  // read as the d-pawn
      {"4k3/8/4K3/4P3/8/8/8/8 b - - 0 1", 2200},
      {"8/8/8/4k3/4P3/4K3/8/8 w - - 0 1", 0},
      {"8/8/8/4k3/4P3/4K3/8/8 b - - 0 1", 0},
      {"8/4k3/8/4K3/4P3/8/8/8 w - - 0 1", 0},     // the opposition is Black's
      {"8/4k3/8/4K3/4P3/8/8/8 b - - 0 1", 2100},
      {"k7/8/8/8/8/8/P7/1K6 w - - 0 1", 0},       // rook pawn, defender in the corner
      {"8/8/8/8/4p3/4k3/8/4K3 b - - 0 1", -2200},  // Black's pawn
      {"8/8/8/8/4p3/4k3/8/4K3 w - - 0 1", -2200},
  };
  for (const Case& c : cases) {
    place(c.fen);
    EXPECT_EQ(evalKPK(), c.score) << c.fen;
    EXPECT_EQ(evaluate(), sideToMove == WHITE ? c.score : -c.score) << c.fen;
  }
}

namespace {

// Position index as the bitbase lays it out; the solver below fills its own array by it.
int indexOf(Square pawn, Square strongKing, Square weakKing, int weakToMove) {
  int p = square64(pawn);
  int pawnIndex = (p >> 3) * 4 + (p & 7) - 4;
  return ((pawnIndex * 64 + square64(strongKing)) * 64 + square64(weakKing)) * 2 + weakToMove;
}

void placeKPK(Square pawn, Square strongKing, Square weakKing, int colourToMove) {
  for (Square s = 0; s < 128; ++s)
    if (onBoard(s)) board[s] = EMPTY;
  board[pawn] = PAWN;
  board[strongKing] = KING;
  board[weakKing] = BLACK_BIT | KING;
  sideToMove = colourToMove;
  otherSide = colourToMove ^ 1;
  epSquare = 0;
  castleRights = 0;
  fiftyCount = 0;
  gamePly = 0;
  ply = 0;
  initPieceLists();
  hashKey = computeHashKey();
}

// The legal moves of the current position, from the engine's generator.
std::vector<Move> legalMoves() {
  genPlyMoves();
  std::vector<Move> moves;
  const PlyRecord& rec = plyStack[ply];
  for (int i = 0; i < rec.moveCount; ++i)
    if (legal(rec.moves[i])) moves.push_back(rec.moves[i]);
  return moves;
}

// After a promotion to a queen or rook, the defender to move: a win unless the new piece falls
// or the defender is stalemated (king and queen or rook against king wins from any other
// position).
bool promotionWins() {
  std::vector<Move> replies = legalMoves();
  if (replies.empty()) return plyStack[ply].checkCount > 0;
  for (Move r : replies)
    if (capturedOf(r)) return false;
  return true;
}

}  // namespace

TEST_F(EvalKPK, MatchesASolutionOverTheMoveGenerator) {
  enum { ILLEGAL = 0, UNKNOWN = 1, WON = 2 };
  std::vector<uint8_t> state(KPK_POSITIONS, ILLEGAL);
  std::vector<std::vector<int>> successors(KPK_POSITIONS);  // -1: a drawn successor
  std::vector<uint8_t> wonAtOnce(KPK_POSITIONS, 0), noMoves(KPK_POSITIONS, 0);

  for (int rank = 1; rank <= 6; ++rank) {
    for (int file = 0; file < 4; ++file) {
      Square pawn = rank * 16 + file;
      for (int s = 0; s < 64; ++s) {
        for (int w = 0; w < 64; ++w) {
          Square strong = square88(s), weak = square88(w);
          if (strong == pawn || weak == pawn || distance(strong, weak) <= 1) continue;
          for (int weakToMove = 0; weakToMove < 2; ++weakToMove) {
            bool weakInCheck = weak == pawn + 15 || weak == pawn + 17;
            if (!weakToMove && weakInCheck) continue;
            int idx = indexOf(pawn, strong, weak, weakToMove);
            state[idx] = UNKNOWN;
            placeKPK(pawn, strong, weak, weakToMove ? BLACK : WHITE);
            std::vector<Move> moves = legalMoves();
            noMoves[idx] = moves.empty();
            if (moves.empty() && weakToMove && plyStack[ply].checkCount) wonAtOnce[idx] = 1;
            for (Move m : moves) {
              makeMove(m);
              if (isPromotion(m)) {
                int type = typeOf(promotionOf(m));
                if ((type == QUEEN || type == ROOK) && promotionWins()) wonAtOnce[idx] = 1;
              } else if (typeCount[WHITE][PAWN] == 0) {
                successors[idx].push_back(-1);
              } else {
                Square p = slotSquare(pieceList[WHITE][PAWN_SLOT0]);
                successors[idx].push_back(indexOf(p, kingSquare(WHITE), kingSquare(BLACK), weakToMove ^ 1));
              }
              unmakeMove();
            }
          }
        }
      }
    }
  }

  for (bool changed = true; changed;) {
    changed = false;
    for (int idx = 0; idx < KPK_POSITIONS; ++idx) {
      if (state[idx] != UNKNOWN) continue;
      bool won = wonAtOnce[idx];
      if (!won && (idx & 1) == 0) {
        for (int next : successors[idx]) won = won || (next >= 0 && state[next] == WON);
      } else if (!won && !noMoves[idx]) {
        won = true;
        for (int next : successors[idx]) won = won && next >= 0 && state[next] == WON;
      }
      if (won) {
        state[idx] = WON;
        changed = true;
      }
    }
  }

  int legalCount = 0, wins = 0, mismatches = 0;
  for (int idx = 0; idx < KPK_POSITIONS; ++idx) {
    if (state[idx] == ILLEGAL) continue;
    ++legalCount;
    bool solved = state[idx] == WON;
    bool stored = (kpkBitbase[idx >> 3] >> (idx & 7)) & 1;
    wins += solved;
    if (solved != stored && ++mismatches <= 10) ADD_FAILURE() << "index " << idx << " solved " << solved;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(legalCount, 150000);
  EXPECT_GT(wins, legalCount / 2);
}
