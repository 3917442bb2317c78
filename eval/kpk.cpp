// King and pawn against king: a bitbase of every position with the pawn on files a-d, built at
// start-up by retrograde analysis. The pawn squares are solved from rank 7 down, so the
// positions after every pawn move are final when a square's king moves are iterated; for a
// fixed pawn and attacking king the win sets over the defending king's 64 squares are bitboards,
// and the iteration runs until neither side's sets grow.
//
// Squares here are 0-63 (rank * 8 + file); the pawn's side is "white" and moves up.
#include <cstring>
#include <initializer_list>

#include "eval/eval.h"

uint8_t kpkBitbase[KPK_BYTES];

namespace {

using Bitboard = uint64_t;

constexpr Bitboard FILE_A = 0x0101010101010101ULL;
constexpr Bitboard FILE_H = 0x8080808080808080ULL;

constexpr Bitboard bit(int sq) { return Bitboard(1) << sq; }

// Squares next to any square of the set (the set's own squares only where they border another).
constexpr Bitboard adjacent(Bitboard b) {
  Bitboard sideways = ((b << 1) & ~FILE_A) | ((b >> 1) & ~FILE_H);
  Bitboard row = b | sideways;
  return sideways | (row << 8) | (row >> 8);
}

constexpr int fileOf64(int sq) { return sq & 7; }
constexpr int rankOf64(int sq) { return sq >> 3; }

Bitboard pawnAttacks(int pawn) {
  Bitboard b = 0;
  if (fileOf64(pawn) > 0) b |= bit(pawn + 7);
  if (fileOf64(pawn) < 7) b |= bit(pawn + 9);
  return b;
}

// Squares a rook (orthogonal) or queen (all lines) on `from` attacks, with `blocker` the only
// other unit in the way.
Bitboard sliderAttacks(int from, int blocker, bool diagonals) {
  static constexpr int steps[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  Bitboard b = 0;
  for (int i = 0; i < (diagonals ? 8 : 4); ++i) {
    int f = fileOf64(from) + steps[i][0], r = rankOf64(from) + steps[i][1];
    for (; f >= 0 && f < 8 && r >= 0 && r < 8; f += steps[i][0], r += steps[i][1]) {
      b |= bit(r * 8 + f);
      if (r * 8 + f == blocker) break;
    }
  }
  return b;
}

// Defending kings (bitboard) against which promoting on `queening`, with the attacking king on
// `king`, wins: the new queen or rook cannot be taken and the defender is not stalemated.
// The defending king has the move after the promotion.
Bitboard promotionWins(int queening, int king) {
  Bitboard kingZone = adjacent(bit(king));
  Bitboard wins = 0;
  for (bool queen : {true, false}) {
    Bitboard covered = sliderAttacks(queening, king, queen) | kingZone;
    for (int defender = 0; defender < 64; ++defender) {
      Bitboard from = bit(defender);
      if ((adjacent(from) & bit(queening)) && !(kingZone & bit(queening))) continue;  // takes it
      bool inCheck = covered & from;
      Bitboard escapes = adjacent(from) & ~covered & ~bit(king);
      if (escapes || inCheck) wins |= from;
    }
  }
  return wins;
}

// Win sets by pawn square (0-63) and attacking king: over the defending king's squares,
// with the attacker to move and with the defender to move.
Bitboard attackerWins[64][64];
Bitboard defenderLoses[64][64];
bool kpkBuilt = false;

// Solves every position with the pawn on `pawn`; the pawn squares ahead are solved.
void solvePawnSquare(int pawn) {
  Bitboard fixedWins[64];  // attacker to move: wins by a pawn move
  Bitboard pawnZone = pawnAttacks(pawn);
  int push = pawn + 8;
  for (int king = 0; king < 64; ++king) {
    fixedWins[king] = 0;
    if (king == pawn || king == push) continue;
    if (rankOf64(pawn) == 6) {
      fixedWins[king] = promotionWins(push, king) & ~bit(push);
    } else {
      fixedWins[king] = defenderLoses[push][king] & ~bit(push);
      int twoSteps = pawn + 16;
      if (rankOf64(pawn) == 1 && king != twoSteps)
        fixedWins[king] |= defenderLoses[twoSteps][king] & ~bit(push) & ~bit(twoSteps);
    }
  }
  Bitboard* wins = attackerWins[pawn];
  Bitboard* loses = defenderLoses[pawn];
  for (int king = 0; king < 64; ++king) {
    wins[king] = fixedWins[king];
    loses[king] = 0;
  }
  for (bool changed = true; changed;) {
    changed = false;
    // Defender to move: lost when every move (taking an unguarded pawn draws) reaches a won
    // position, and there is a move or the king is in check (mate).
    for (int king = 0; king < 64; ++king) {
      if (king == pawn) continue;
      Bitboard kingZone = adjacent(bit(king));
      Bitboard legal = ~kingZone & ~bit(king) & ~pawnZone;
      Bitboard good = legal & (~wins[king] | bit(pawn));
      Bitboard lost = ~adjacent(good) & (adjacent(legal) | pawnZone);
      if (lost != loses[king]) {
        loses[king] = lost;
        changed = true;
      }
    }
    // Attacker to move: won by a pawn move or by a king move to a lost position.
    for (int king = 0; king < 64; ++king) {
      if (king == pawn) continue;
      Bitboard won = fixedWins[king];
      for (Bitboard targets = adjacent(bit(king)) & ~bit(pawn); targets; targets &= targets - 1) {
        int to = __builtin_ctzll(targets);
        won |= loses[to] & ~adjacent(bit(to)) & ~bit(to);
      }
      if (won != wins[king]) {
        wins[king] = won;
        changed = true;
      }
    }
  }
}

int kpkIndex(int pawn, int strongKing, int weakKing, int t) {
  int pawnIndex = rankOf64(pawn) * 4 + (fileOf64(pawn) & 3) - 4;
  return ((pawnIndex * 64 + strongKing) * 64 + weakKing) * 2 + t;
}

}  // namespace

// Fills kpkBitbase; later calls find it built and return at once. Bits of impossible
// placements hold whatever the iteration left there.
void initKPK() {
  if (kpkBuilt) return;
  memset(kpkBitbase, 0, sizeof kpkBitbase);
  for (int rank = 6; rank >= 1; --rank) {
    for (int file = 0; file < 4; ++file) {
      int pawn = rank * 8 + file;
      solvePawnSquare(pawn);
      for (int strong = 0; strong < 64; ++strong) {
        for (int weak = 0; weak < 64; ++weak) {
          for (int t = 0; t < 2; ++t) {
            Bitboard set = t == 0 ? attackerWins[pawn][strong] : defenderLoses[pawn][strong];
            if (set & bit(weak)) {
              int idx = kpkIndex(pawn, strong, weak, t);
              kpkBitbase[idx >> 3] |= uint8_t(1u << (idx & 7));
            }
          }
        }
      }
    }
  }
  kpkBuilt = true;
}

// Looks up a normalised position (0x88 squares). Pawns outside ranks 2-7 or files a-d answer 0.
int probeKPK(Square pawn, Square strongKing, Square weakKing, int strongToMove) {
  int p = square64(pawn);
  if (rankOf64(p) < 1 || rankOf64(p) > 6 || fileOf64(p) > 3) return 0;
  int idx = kpkIndex(p, square64(strongKing), square64(weakKing), strongToMove ? 0 : 1);
  return (kpkBitbase[idx >> 3] >> (idx & 7)) & 1;
}
