// The evaluation driver: cache probe, the choice between a specialised endgame evaluator and the
// full evaluation, the drawish-material scaling, and the repetition and fifty-move test the
// searches run before evaluating a node.
#include "eval/eval.h"

constinit thread_local int scaleWhite = 16;
constinit thread_local int scaleBlack = 16;

namespace {

inline int squareColour(Square sq) { return ((sq & 7) + (sq >> 4)) & 1; }

// With much material left, a pawnless side that is at most a minor piece up gets little from
// its advantage: its positive scores count 6/16.
void scaleLoneSides() {
  if (typeCount[WHITE][PAWN] == 0 && material[WHITE] <= LONE_SIDE_CAP &&
      material[WHITE] - nonPawnMaterial(BLACK) <= LONE_SIDE_MARGIN)
    scaleWhite = 6;
  if (typeCount[BLACK][PAWN] == 0 && material[BLACK] <= LONE_SIDE_CAP &&
      material[BLACK] - nonPawnMaterial(WHITE) <= LONE_SIDE_MARGIN)
    scaleBlack = 6;
}

// Square of the first live piece (not king, not pawn) of colour, -1 if none.
Square firstPieceSquare(int colour) {
  for (int slot = 1; slot < pieceSlots[colour]; ++slot)
    if (!(pieceList[colour][slot] & GONE)) return slotSquare(pieceList[colour][slot]);
  return -1;
}

// Bishops running on opposite colours halve every scale factor still untouched.
void scaleOppositeBishops() {
  if (!(drawFlags & DF_OPPOSITE_BISHOPS)) return;
  Square white = firstPieceSquare(WHITE), black = firstPieceSquare(BLACK);
  if (white < 0 || black < 0 || squareColour(white) == squareColour(black)) return;
  if (scaleWhite == 16) scaleWhite = 8;
  if (scaleBlack == 16) scaleBlack = 8;
}

}  // namespace

// Builds what the engine needs before the first position: the empty board with its guards,
// rankOf and flippedRank, the distance and attack tables, and the KPK bitbase. The engine's
// start-up, bench, the tests and the fuzz harness all start here.
void initTables() {
  initBoardTables();
  initDistanceTable();
  initAttackTable();
  initKPK();
}

int applyScale(int score) {
  if (score > 0) return score * scaleWhite / 16;
  if (score < 0) return score * scaleBlack / 16;
  return 0;
}

// Static evaluation of the current position for the side to move. Reads the position, probes
// and then overwrites one cache entry, counts searchStats.evalProbes and evalHits, and leaves
// scaleWhite/scaleBlack, the signature state and the full evaluation's scratch state behind.
int evaluate() {
  // 1. Cache probe: both key halves must match.
  countStat(searchStats.evalProbes);
  uint32_t keyLow = uint32_t(hashKey), keyHigh = uint32_t(hashKey >> 32);
  EvalCacheEntry* entry = evalCache ? &evalCache[keyLow & evalCacheMask] : nullptr;
  if (entry && entry->keyLow == keyLow && entry->keyHigh == keyHigh) {
    countStat(searchStats.evalHits);
    return sideToMove == BLACK ? -entry->score : entry->score;
  }

  // 2. Unscaled until the material says otherwise.
  scaleWhite = scaleBlack = 16;

  int score;
  bool specialised = false;
  if (material[WHITE] + material[BLACK] > SIGNATURE_MATERIAL) {
    // 3. Plenty of material: only the lone-side rule.
    scaleLoneSides();
    drawFlags &= ~DF_OPPOSITE_BISHOPS;
  } else {
    // 4. Little material: the signature may name an ending with its own evaluator.
    specialised = true;
    switch (materialSignature()) {
      case EG_KPK: score = evalKPK(); break;
      case EG_KQKR: score = evalKQKR(); break;
      case EG_KRKB: score = evalRookCorner(); break;
      case EG_KRKN: score = evalKRKN(); break;
      case EG_KRKP: score = evalKRKP(); break;
      case EG_KBNK: score = evalKBNK(); break;
      case EG_KRPKR: score = evalKRPKR(); break;
      case EG_LONE_KING: score = evalLoneKing(); break;
      default:
        specialised = scaleWhite == 0 && scaleBlack == 0;
        score = 0;
        break;
    }
  }

  if (!specialised) {
    // 5. Full evaluation.
    score = fullEvaluation();
    // 6. Opposite-coloured bishops, then the scale factors.
    scaleOppositeBishops();
    score = applyScale(score);
  }

  // 7. Store White-relative, answer for the side to move.
  if (entry) {
    entry->keyLow = keyLow;
    entry->keyHigh = keyHigh;
    entry->score = score;
  }
  return sideToMove == BLACK ? -score : score;
}

// 1 when the fifty-move rule applies or the position occurred before with the same side to
// move since the last irreversible move, in the game or the searched line. Reads fiftyCount,
// gamePly, history and hashKey.
int isRepetitionOrFifty() {
  if (fiftyCount >= 100) return 1;
  for (int i = gamePly - 2; i >= gamePly - fiftyCount - 1 && i >= 0; i -= 2)
    if (history[i].hashKey == hashKey) return 1;
  return 0;
}
