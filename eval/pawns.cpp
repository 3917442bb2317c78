// Pawn structure: doubled, isolated, backward and passed pawns, and the race of unstoppable
// passed pawns in endings without enemy pieces. Runs inside fullEvaluation after the pieces and
// kings have marked the attack maps, and reads the pawn-file tables built there.
#include <algorithm>
#include <initializer_list>

#include "eval/eval.h"

constinit thread_local int raceMin[2]{};
constinit thread_local PawnCacheEntry pawnCache[PAWN_CACHE_ENTRIES]{};
constinit thread_local const PawnCacheEntry* pawnEntry = nullptr;

namespace {

constexpr uint8_t PAWN_FIELD = 192;
constexpr int RACE_BONUS = 600;

// Penalties by file + 1 (0 at files -1 and 8).
constexpr int doubledPenalty[10] = {0, 4, 6, 8, 10, 10, 8, 6, 4, 0};
constexpr int isolatedPenalty[10] = {0, 8, 12, 16, 20, 20, 16, 12, 8, 0};
constexpr int backwardPenalty[10] = {0, 4, 8, 12, 16, 16, 12, 8, 4, 0};
// Base value of a passed pawn by its own-side rank (0-7).
constexpr int passedPawnTable[8] = {0, 10, 10, 30, 50, 90, 120, 0};

inline bool isPawnCode(int code) { return code < EMPTY && typeOf(code) == PAWN; }

// A pawn is backward when it cannot safely advance and no neighbour can come up to support it.
template <int colour>
bool isBackward(Square sq, int ownRank) {
  constexpr int enemy = colour ^ 1, fwd = colour == WHITE ? 16 : -16, ownPawn = colour * BLACK_BIT + PAWN;
  const uint8_t* own = attackMap[colour];
  const uint8_t* their = attackMap[enemy];
  int ownHere = own[sq] & PAWN_FIELD, theirHere = their[sq] & PAWN_FIELD;
  if (ownHere > theirHere) return false;
  if (ownRank >= 3) {
    for (int side : {-1, 1}) {
      Square supporter = sq - 2 * fwd + side, via = sq - fwd + side;
      if (board[supporter] == ownPawn && !isPawnCode(board[via]) &&
          (own[via] & PAWN_FIELD) >= (their[via] & PAWN_FIELD))
        return false;
    }
  }
  Square stop = sq + fwd;
  if (isPawnCode(board[stop])) return true;
  int ownStop = own[stop] & PAWN_FIELD, theirStop = their[stop] & PAWN_FIELD;
  if (ownStop != theirStop) return ownStop < theirStop;
  return ownHere == theirHere;
}

bool isPassed(int colour, int f, int r) {
  if (colour == WHITE)
    return r >= highestBlackPawn[f] && r > highestBlackPawn[f + 1] && r >= highestBlackPawn[f + 2];
  return r <= lowestWhitePawn[f] && r < lowestWhitePawn[f + 1] && r <= lowestWhitePawn[f + 2];
}

// Value of a passed pawn: its base by rank, raised for support and a free path; in endings the
// enemy king's distance matters, and against a bare king and pawns the square rule decides
// whether the pawn can be caught (an uncatchable one enters the race instead).
int passedPawnValue(int colour, Square sq, int ownRank) {
  int enemy = colour ^ 1, fwd = pawnInfo[colour].forward;
  const uint8_t* own = attackMap[colour];
  const uint8_t* their = attackMap[enemy];
  int base = passedPawnTable[ownRank], value = base;
  int enemyPieces = nonPawnMaterial(enemy);
  Square stop = sq + fwd;
  if (own[stop] & PAWN_FIELD) value = base + (base >> 1);
  if (own[sq] & PAWN_FIELD) value += base >> 2;
  if (own[sq] & 12) value += base / 5;
  if (own[sq] & 1) value += enemyPieces <= 500 ? base : base >> 1;
  if (board[stop] == EMPTY && own[stop] >= their[stop]) {
    value += base / 3;
    Square next = stop + fwd;
    if (ownRank == 6 || (board[next] == EMPTY && own[next] >= their[next])) value += base / 6;
  }
  Square enemyKing = kingSquare(enemy);
  if (enemyPieces == 0) {
    int moves = 7 - ownRank + (sideToMove == enemy ? 1 : 0);
    for (Square t = stop; onBoard(t); t += fwd)
      if (board[t] != EMPTY) ++moves;
    if (ownRank == 1 && board[stop] == EMPTY && board[stop + fwd] == EMPTY) --moves;
    Square promotion = (sq & 7) + (colour == WHITE ? 112 : 0);
    int kingDistance = distance(enemyKing, promotion);
    if (moves >= kingDistance)
      value += 10 * kingDistance;
    else
      raceMin[colour] = std::min(raceMin[colour], moves);
  } else if (enemyPieces <= 900) {
    value += 5 * distance(enemyKing, sq);
  }
  return value;
}

// A pawn's doubled and isolated penalties, White-relative: what the pawn files alone decide.
int fixedPawnTerms(int colour, int f, bool& isolated) {
  int enemy = colour ^ 1, score = 0;
  if (pawnsOnFile[colour][f + 1] > 1) score -= doubledPenalty[f + 1];
  isolated = pawnsOnFile[colour][f] == 0 && pawnsOnFile[colour][f + 2] == 0;
  if (isolated) score -= pawnsOnFile[enemy][f + 1] > 0 ? isolatedPenalty[f + 1] >> 1 : isolatedPenalty[f + 1];
  return colour == WHITE ? score : -score;
}

// A pawn that is not isolated pays for being backward, White-relative.
template <int colour>
int backwardTerm(Square sq) {
  int f = sq & 7, ownRank = colour == WHITE ? sq >> 4 : 7 - (sq >> 4);
  if (!isBackward<colour>(sq, ownRank)) return 0;
  int penalty = pawnsOnFile[colour ^ 1][f + 1] > 0 ? backwardPenalty[f + 1] >> 1 : backwardPenalty[f + 1];
  return colour == WHITE ? -penalty : penalty;
}

int passedTerm(int colour, Square sq) {
  int value = passedPawnValue(colour, sq, colour == WHITE ? sq >> 4 : 7 - (sq >> 4));
  return colour == WHITE ? value : -value;
}

}  // namespace

void clearPawnCache() {
  for (PawnCacheEntry& e : pawnCache) e = PawnCacheEntry{};
  pawnEntry = nullptr;
}

// From the pawn files of the current position: the doubled and isolated penalties of every
// pawn, the pawns whose backward test must still be made, and the passed pawns.
void fillPawnStructure(PawnCacheEntry& entry) {
  int fixed = 0;
  uint64_t open[2] = {0, 0}, passed = 0;
  for (int c = WHITE; c <= BLACK; ++c) {
    for (int slot = PAWN_SLOT0; slot < PAWN_SLOT0 + pawnSlots[c]; ++slot) {
      PieceEntry e = pieceList[c][slot];
      if (e & GONE) continue;
      Square sq = slotSquare(e);
      bool isolated;
      fixed += fixedPawnTerms(c, sq & 7, isolated);
      if (!isolated) open[c] |= 1ULL << square64(sq);
      if (isPassed(c, sq & 7, sq >> 4)) passed |= 1ULL << square64(sq);
    }
  }
  entry.fixedTerms = int16_t(fixed);
  entry.structureSquares[WHITE] = open[WHITE];
  entry.structureSquares[BLACK] = open[BLACK];
  entry.passedSquares = passed;
}

// Every pawn's terms, then the race: the side whose fastest unstoppable pawn needs fewer moves
// gains RACE_BONUS. The files alone give the doubled and isolated terms and which pawns are
// passed (pawnEntry, set by evalPawnPlacement for this position); the backward test and the
// passed-pawn values read the attack maps and are made here.
int evalPawnStructure() {
  raceMin[WHITE] = raceMin[BLACK] = 7;
  int score = pawnEntry->fixedTerms;
  for (uint64_t bits = pawnEntry->structureSquares[WHITE]; bits; bits &= bits - 1)
    score += backwardTerm<WHITE>(square88(__builtin_ctzll(bits)));
  for (uint64_t bits = pawnEntry->structureSquares[BLACK]; bits; bits &= bits - 1)
    score += backwardTerm<BLACK>(square88(__builtin_ctzll(bits)));
  for (uint64_t bits = pawnEntry->passedSquares; bits; bits &= bits - 1) {
    Square sq = square88(__builtin_ctzll(bits));
    score += passedTerm(colourOf(board[sq]), sq);
  }
  if (raceMin[BLACK] > raceMin[WHITE]) score += RACE_BONUS;
  if (raceMin[BLACK] < raceMin[WHITE]) score -= RACE_BONUS;
  return score;
}
