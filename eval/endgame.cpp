// Specialised evaluators of endings the material signature recognises. Each returns a
// White-relative score: positive when the stronger side is White, negative when it is Black.
// They read only the piece lists, the side to move and the distance table.
#include <cstdlib>

#include "eval/eval.h"

namespace {

// Edge and corner bonus for driving a king away from the centre (rank 8 on top).
constexpr uint8_t cornerTable[64] = {
    100, 90, 80, 70, 70, 80, 90, 100,  90, 70, 60, 50, 50, 60, 70, 90,
    80,  60, 40, 30, 30, 40, 60, 80,   70, 50, 30, 20, 20, 30, 50, 70,
    70,  50, 30, 20, 20, 30, 50, 70,   80, 60, 40, 30, 30, 40, 60, 80,
    90,  70, 60, 50, 50, 60, 70, 90,   100, 90, 80, 70, 70, 80, 90, 100};

// Bishop and knight mate: high in the dark corners a1 and h8.
constexpr uint8_t kbnkTable[64] = {
    130, 140, 150, 160, 170, 180, 190, 200,  140, 130, 140, 150, 160, 170, 180, 190,
    150, 140, 125, 140, 140, 155, 170, 180,  160, 150, 140, 110, 120, 140, 160, 170,
    170, 160, 140, 120, 110, 140, 150, 160,  180, 170, 155, 140, 140, 125, 140, 150,
    190, 180, 170, 160, 150, 140, 130, 140,  200, 190, 180, 170, 160, 150, 140, 130};

constexpr int kingProximityBonus[8] = {0, 0, 100, 80, 60, 40, 20, 10};    // by king distance
constexpr int knightDistanceBonus[8] = {0, 0, 4, 10, 20, 32, 48, 70};     // king to own knight

// Rook against pawn: value of a king standing near a pawn that runs toward rank 1, by rank
// difference (pawn minus king) from +4 down to -3 and file difference from -3 to +3.
constexpr int pawnKingTable[8][7] = {
    {2, 7, 10, 10, 10, 7, 2},    {7, 14, 22, 22, 22, 14, 7},  {10, 22, 33, 35, 33, 22, 10},
    {10, 25, 40, 40, 40, 25, 10}, {8, 20, 30, 0, 30, 20, 8},  {5, 13, 22, 25, 22, 13, 5},
    {0, 5, 10, 15, 10, 5, 0},     {0, 0, 5, 8, 5, 0, 0}};

// Rook and pawn against rook: by pawn file minus defending king file, -7 to +3.
constexpr int defenderFileTable[11] = {-168, -144, -120, -96, -72, 0, 48, 128, 96, 24, -17};

inline int corner(Square sq) { return cornerTable[printedIndex(sq)]; }
inline int withSign(int colour, int score) { return colour == WHITE ? score : -score; }

int pawnKingValue(Square pawn, Square king) {
  int ranks = rankOf[pawn] - rankOf[king], files = fileOf(pawn) - fileOf(king);
  if (ranks < -3 || ranks > 4 || files < -3 || files > 3) return 0;
  return pawnKingTable[4 - ranks][files + 3];
}

// Square of colour's first live unit of the given type among pieces (type != PAWN) or pawns.
Square findUnit(int colour, int type) {
  int first = type == PAWN ? PAWN_SLOT0 : 1;
  int last = type == PAWN ? PAWN_SLOT0 + pawnSlots[colour] : pieceSlots[colour];
  for (int slot = first; slot < last; ++slot) {
    PieceEntry e = pieceList[colour][slot];
    if (!(e & GONE) && typeOf(slotCode(e)) == type) return slotSquare(e);
  }
  return kingSquare(colour);  // not reached for the material these evaluators are called on
}

}  // namespace

// King and pawn against king: the bitbase decides; a win is worth more the farther the pawn.
int evalKPK() {
  int strong = typeCount[WHITE][PAWN] ? WHITE : BLACK;
  Square pawn = findUnit(strong, PAWN), strongKing = kingSquare(strong), weakKing = kingSquare(strong ^ 1);
  int flip = strong == BLACK ? 0x70 : 0;
  if (((pawn ^ flip) & 7) >= 4) flip ^= 7;
  pawn ^= flip;
  strongKing ^= flip;
  weakKing ^= flip;
  int rank = rankOf[pawn];
  if (rank < 1 || rank > 6) return 0;  // a pawn on its first or last rank: no such position
  if (!probeKPK(pawn, strongKing, weakKing, sideToMove == strong)) return 0;
  return withSign(strong, (rank + 18) * 100);
}

// Queen against rook: drive the rook's king to the edge and approach it.
int evalKQKR() {
  int strong = typeCount[WHITE][QUEEN] ? WHITE : BLACK;
  Square weakKing = kingSquare(strong ^ 1);
  return withSign(strong, 400 + corner(weakKing) + kingProximityBonus[distance(kingSquare(strong), weakKing)]);
}

// Bishop and knight mate: drive the king into a corner of the bishop's colour.
int evalKBNK() {
  int strong = typeCount[WHITE][BISHOP] ? WHITE : BLACK;
  Square bishop = findUnit(strong, BISHOP), strongKing = kingSquare(strong), weakKing = kingSquare(strong ^ 1);
  if ((fileOf(bishop) + rankOf[bishop]) & 1) {
    strongKing ^= 7;
    weakKing ^= 7;
  }
  return withSign(strong, 1800 + kbnkTable[printedIndex(weakKing)] + kingProximityBonus[distance(strongKing, weakKing)]);
}

// Rook against knight: good chances when the knight's king is at the edge and far from it.
int evalKRKN() {
  int strong = typeCount[WHITE][ROOK] ? WHITE : BLACK;
  Square weakKing = kingSquare(strong ^ 1), knight = findUnit(strong ^ 1, KNIGHT);
  return withSign(strong, 10 + corner(weakKing) + knightDistanceBonus[distance(weakKing, knight)]);
}

// Rook against pawn, seen with the rook's side playing up and the pawn running to rank 1.
int evalKRKP() {
  int strong = typeCount[WHITE][ROOK] ? WHITE : BLACK;
  int flip = strong == BLACK ? 0x70 : 0;
  Square rookKing = kingSquare(strong) ^ flip, rook = findUnit(strong, ROOK) ^ flip;
  Square pawnKing = kingSquare(strong ^ 1) ^ flip, pawn = findUnit(strong ^ 1, PAWN) ^ flip;
  Square queening = fileOf(pawn);
  int tempo = sideToMove == strong ? 1 : 0;
  int score;
  if (fileOf(rookKing) == fileOf(pawn) && rookKing < pawn) {
    score = 500 - distance(rookKing, pawn);  // the king stands in front of the pawn
  } else if (distance(rookKing, queening) - tempo + 1 < distance(pawnKing, queening)) {
    score = 500 - distance(rookKing, pawn);  // the king gets there first
  } else if (distance(pawnKing, pawn) - (1 - tempo) >= 3 && distance(pawnKing, rook) >= 3) {
    score = 500 - distance(rookKing, pawn);  // the pawn's king is too far from its pawn
  } else if (rankOf[pawn] <= 2 && distance(pawnKing, pawn) == 1 && rankOf[rookKing] >= 3 &&
             distance(rookKing, pawn) - tempo > 2) {
    score = 8 * (10 - distance(rookKing, pawn));  // far advanced and escorted: drawish
  } else {
    score = 200 + 8 * distance(pawn, queening) - pawnKingValue(pawn, pawnKing) + pawnKingValue(pawn, rookKing);
  }
  return withSign(strong, score);
}

// Rook and pawn against rook, seen with the pawn moving up on files a-d: known drawn set-ups
// (the defending king in front, the rook checking from afar), known wins (the pawn's king
// sheltered in front, the rook behind), else a score built from the men's distances.
int evalKRPKR() {
  int strong = typeCount[WHITE][PAWN] ? WHITE : BLACK;
  Square pawn = findUnit(strong, PAWN);
  int flip = strong == BLACK ? 0x70 : 0;
  if (((pawn ^ flip) & 7) >= 4) flip ^= 7;
  pawn ^= flip;
  Square pawnKing = kingSquare(strong) ^ flip, pawnRook = findUnit(strong, ROOK) ^ flip;
  Square defKing = kingSquare(strong ^ 1) ^ flip, defRook = findUnit(strong ^ 1, ROOK) ^ flip;
  int f = fileOf(pawn), r = rankOf[pawn];
  Square queening = f + 112, front = pawn + 16;
  int tempo = sideToMove == strong ? 1 : 0;
  int defRookRank = rankOf[defRook], pawnKingRank = rankOf[pawnKing];
  bool rookBehind = fileOf(pawnRook) == f && pawnRook < pawn;

  // 1. Drawn set-ups.
  if (r <= 4 && distance(defKing, queening) <= 1 && pawnKingRank <= 4 &&
      (defRookRank == 5 || (r <= 2 && rankOf[pawnRook] != 5)))
    return 0;
  if (r == 5 && distance(defKing, queening) <= 1 && pawnKingRank + tempo <= 5 &&
      (defRookRank == 0 || (tempo == 0 && std::abs(fileOf(defRook) - f) >= 3)))
    return 0;
  if (r >= 5 && defKing == queening && defRookRank == 0 && (tempo == 0 || distance(pawnKing, pawn) >= 2))
    return 0;
  constexpr Square A7 = 96, A8 = 112, G7 = 102, H7 = 103;
  if (pawn == A7 && pawnRook == A8 && (defKing == G7 || defKing == H7) && fileOf(defRook) == 0 &&
      (defRookRank <= 2 || fileOf(pawnKing) >= 3 || pawnKingRank <= 4))
    return 0;

  // 2. Winning set-ups.
  if (r == 6 && f != 0 && fileOf(pawnRook) == f && pawnRook != queening &&
      distance(pawnKing, queening) < distance(defKing, queening) + tempo - 2 &&
      distance(pawnKing, queening) < distance(defKing, pawnRook) + tempo)
    return withSign(strong, 500 + tempo - distance(pawnKing, queening));
  if (f != 0 && rookBehind) {
    int toQueen = distance(pawnKing, queening), toFront = distance(pawnKing, front);
    int guard = distance(defKing, pawnRook) + tempo;
    if (toQueen < distance(defKing, queening) + tempo - 1 && toFront < distance(defKing, front) + tempo - 1 &&
        (guard >= 3 || (toQueen < guard && toFront < guard)))
      return withSign(strong, 4 * (16 * r - toQueen + 25));
  }

  // 3. The defending king blocks the pawn and the attackers are far.
  if (r <= 4 && defKing == front && distance(pawnKing, pawn) - tempo >= 2 && distance(pawnKing, defRook) - tempo >= 2)
    return 0;

  // 4. Everything else.
  int v = 16 * r + 100;
  if (f == 0) v -= 60;
  v -= 6 * std::abs(fileOf(defRook) - f) + 4 * distance(pawn, defRook);
  if (rankOf[defKing] >= r)
    v -= defenderFileTable[f - fileOf(defKing) + 7];
  else
    v += 40 * (r - rankOf[defKing]);
  if (pawnKingRank < r) v -= 16 * (r - pawnKingRank);
  if (fileOf(defRook) == f && defRook < pawn) v -= 40;
  if (v > 100) v = 5 * v - 400;
  return withSign(strong, v);
}

// Bare king against enough to mate: material, the lone king at the edge, the kings close.
int evalLoneKing() {
  int strong = material[BLACK] == 0 ? WHITE : BLACK;
  Square weakKing = kingSquare(strong ^ 1);
  int score = material[strong] + corner(weakKing) + kingProximityBonus[distance(kingSquare(strong), weakKing)];
  if (typeCount[strong][QUEEN] || typeCount[strong][ROOK] || material[strong] >= 800) score += 1800;
  return withSign(strong, score);
}

// Rook against bishop is a draw with correct defence, but the defender can still go wrong,
// mostly with its king driven into a corner. This score stays draw-like: a small edge-driving
// bonus (at most 100) keeps the rook's side trying without rating the ending as won.
int evalRookCorner() {
  if (typeCount[WHITE][ROOK]) return corner(kingSquare(BLACK));
  return -corner(kingSquare(WHITE));
}
