// Material signature: which ending is on the board, the scale factors that damp the full
// evaluation when the stronger side can hardly win, the five exact draw recognisers, and the
// cheap known-draw test the searches run at every node.
#include <algorithm>
#include <cstdlib>
#include <initializer_list>

#include "eval/eval.h"

constinit thread_local uint64_t materialKey{};
constinit thread_local int drawFlags{};

namespace {

// sideDrawFlags bits.
constexpr int SDF_BISHOP_PAWNS = 1;  // only bishops and pawns, at least one pawn
constexpr int SDF_LONE_BISHOP = 2;   // ... with at most one bishop, against some piece
constexpr int SDF_KNIGHT_PAWN = 4;   // exactly a knight and a pawn, against some piece

constinit thread_local int sideDrawFlags[2]{};  // SDF_* per colour, from the last signature or known-draw test

constexpr Square A7 = 96, B7 = 97, C7 = 98, D7 = 99, E7 = 100;
constexpr Square A8 = 112, B8 = 113, C8 = 114, D8 = 115, E8 = 116;

// Unit counts of one colour.
struct Counts {
  int pawns, knights, bishops, rooks, queens;
  int units() const { return pawns + knights + bishops + rooks + queens; }
  int pieceUnits() const { return knights + bishops + 2 * rooks + 4 * queens; }
  int heavyUnits() const { return rooks + 2 * queens; }
  int minors() const { return knights + bishops; }
};

Counts countsOf(int colour) {
  const uint8_t* n = typeCount[colour];
  return {n[PAWN], n[KNIGHT], n[BISHOP], n[ROOK], n[QUEEN]};
}

inline int squareColour(Square sq) { return ((sq & 7) + (sq >> 4)) & 1; }
inline int ownRank(int colour, Square sq) { return colour == WHITE ? sq >> 4 : 7 - (sq >> 4); }

// True when the drawish flag belongs to this material (signature and known-draw tests agree).
bool drawishMaterial(const Counts& w, const Counts& b, uint64_t key) {
  if (w.pawns + w.rooks + w.queens + b.pawns + b.rooks + b.queens == 0)
    return w.minors() + b.minors() <= 1 || key == 0x10000100;
  return key == 0x1 || key == 0x100000 || key == 0x101 || key == 0x10100000;
}

// Scale factor of side x from the material alone (o is the opponent).
int materialScale(const Counts& x, const Counts& o, int scale) {
  if (x.pawns == 0) {
    if (x.pieceUnits() == 1) return 0;
    if (x.pieceUnits() == 2 && x.knights == 2) return (o.pieceUnits() > 0 || o.pawns == 0) ? 0 : 1;
    if (x.pieceUnits() == 2 && x.bishops == 2 && o.pieceUnits() == 1 && o.knights == 1) return 8;
    if (x.pieceUnits() - o.pieceUnits() <= 1 && x.heavyUnits() <= 2) return 2;
    return scale;
  }
  if (x.pawns == 1) {
    int defence;
    if (o.minors() > 0)
      defence = o.pieceUnits() - 1;
    else if (o.rooks > 0)
      defence = o.pieceUnits() - 2;
    else
      return scale;
    if (x.pieceUnits() == 1) return 4;
    if (x.pieceUnits() == 2 && x.knights == 2) return 4;
    if (x.pieceUnits() - defence <= 1 && x.heavyUnits() <= 2) return 8;
  }
  return scale;
}

// Squares of colour's live pawns; returns their number.
int pawnSquares(int colour, Square* out) {
  int n = 0;
  for (int slot = PAWN_SLOT0; slot < PAWN_SLOT0 + pawnSlots[colour]; ++slot)
    if (!(pieceList[colour][slot] & GONE)) out[n++] = slotSquare(pieceList[colour][slot]);
  return n;
}

// The most advanced of colour's pawns when they all stand on one file, else -1.
Square loneFilePawn(int colour) {
  Square pawns[PIECE_SLOTS];
  int n = pawnSquares(colour, pawns);
  if (n == 0) return -1;
  Square best = pawns[0];
  for (int i = 1; i < n; ++i) {
    if ((pawns[i] & 7) != (best & 7)) return -1;
    if (ownRank(colour, pawns[i]) > ownRank(colour, best)) best = pawns[i];
  }
  return best;
}

// Whether a piece stepping from `from` along dir reaches `to` before meeting any of the other
// men of a normalised list (the list squares are the only units on the board).
bool reachesFreely(Square from, Square to, int dir, const Square* men, int count) {
  for (Square t = from + dir; onBoard(t); t += dir) {
    if (t == to) return true;
    for (int i = 0; i < count; ++i)
      if (men[i] == t) return false;
  }
  return false;
}

// Whether a bishop on `bishop` stands on or controls a square of the pawn's path to promotion.
bool bishopStopsPawn(Square bishop, Square pawn, const Square* men, int count) {
  for (Square s = pawn + 16; onBoard(s); s += 16) {
    if (s == bishop) return true;
    const AttackEntry& e = attackEntry(bishop - s);
    if ((e.mask & pieceMask[BISHOP]) && reachesFreely(bishop, s, e.dir, men, count)) return true;
  }
  return false;
}

// Whether colour has a bishop on squares of sq's colour.
int hasBishopOnColour(int colour, Square sq) {
  for (int slot = 1; slot < pieceSlots[colour]; ++slot) {
    PieceEntry e = pieceList[colour][slot];
    if (!(e & GONE) && typeOf(slotCode(e)) == BISHOP && squareColour(slotSquare(e)) == squareColour(sq))
      return 1;
  }
  return 0;
}

// King and pawn on the seventh against king and queen (list: pawn's king, pawn, queen's king,
// queen): a rook or bishop pawn whose king shelters it draws when the queen's king is too far.
int drawKQKP(const Square* list, int queenSideToMove) {
  Square pawnKing = list[0], pawn = list[1], queenKing = list[2], queen = list[3];
  bool pawnToMove = !queenSideToMove;
  int limit;
  Square promotion;
  if (pawn == A7) {
    promotion = A8;
    if (pawnKing == B7 || pawnKing == B8) {
      limit = pawnToMove ? 3 : 4;
    } else if (pawnKing == A8 || pawnKing == C7 || pawnKing == C8) {
      if (pawnKing != A8 && queen == A8) return 0;
      if (!pawnToMove && (queen & 7) != 1) return 0;
      limit = 4;
    } else {
      return 0;
    }
  } else if (pawn == C7) {
    promotion = C8;
    if (pawnKing == C8) {
      limit = queenSideToMove ? 5 : 4;
    } else if (pawnKing == B7 || pawnKing == B8 || pawnKing == D7 || pawnKing == D8) {
      bool behind = attackEntry(queen - C7).dir == attackEntry(C7 - pawnKing).dir;
      bool bFile = pawnKing == B7 || pawnKing == B8;
      limit = behind ? (bFile ? 4 : 5) : (bFile ? 3 : 4);
      if (pawnToMove) --limit;
    } else if (pawnKing == A7 || pawnKing == A8) {
      if (queen == C8 || (queenSideToMove && (queen & 7) != 1)) return 0;
      limit = 3;
    } else if (pawnKing == E7 || pawnKing == E8) {
      if (queen == C8 || (queenSideToMove && (queen & 7) != 3)) return 0;
      limit = 4;
    } else {
      return 0;
    }
  } else {
    return 0;
  }
  return distance(queenKing, promotion) > limit;
}

// King and pawn against king and bishop (list: pawn's king, pawn, bishop's king, bishop):
// drawn when the bishop stands on or controls a square of the pawn's path. Only its own king
// shuts a line: the pawn side's king standing in the way is driven off or the bishop gets
// round it, so it does not save the pawn.
int drawKPKB(const Square* list) {
  const Square blockers[1] = {list[2]};
  return bishopStopsPawn(list[3], list[1], blockers, 1);
}

// King and pawn against king and knight (list: pawn's king, pawn, knight's king, knight):
// drawn when the knight stands on or attacks a square of the path (for a rook pawn the
// promotion square itself does not count).
int drawKPKN(const Square* list) {
  Square pawn = list[1], knight = list[3];
  Square last = (pawn & 7) == 0 ? (pawn & 7) + 96 : (pawn & 7) + 112;
  for (Square s = pawn + 16; s <= last; s += 16)
    if (s == knight || (attackEntry(knight - s).mask & pieceMask[KNIGHT])) return 1;
  return 0;
}

// Knight and rook pawn on the seventh against a king in the corner (list: pawn's king, knight,
// pawn, defending king).
int drawKNPK(const Square* list) { return list[2] == A7 && distance(list[3], A8) <= 1; }

// Bishop and pawn against opposite-coloured bishop (list: pawn's king, bishop, pawn, defending
// king, defending bishop): drawn when the defending bishop controls the path, its lines shut
// by its own king only (the other bishop stands on the other colour and cannot block them).
int drawKBPKB(const Square* list) {
  if (squareColour(list[1]) == squareColour(list[4])) return 0;
  const Square blockers[1] = {list[3]};
  return bishopStopsPawn(list[4], list[2], blockers, 1);
}

// Wrong-bishop and blockade rules for side x; returns its new scale factor.
int sideRules(int x, int scale) {
  int o = x ^ 1;
  Square enemyKing = kingSquare(o);
  if (sideDrawFlags[x] & SDF_BISHOP_PAWNS) {
    Square pawn = loneFilePawn(x);
    if (pawn >= 0 && ((pawn & 7) == 0 || (pawn & 7) == 7)) {
      Square promotion = (pawn & 7) + (x == WHITE ? 112 : 0);
      if (distance(enemyKing, promotion) <= 1 && !hasBishopOnColour(x, promotion)) scale = 0;
    }
  }
  if (sideDrawFlags[x] & SDF_LONE_BISHOP) {
    Square pawn = loneFilePawn(x);
    if (pawn >= 0 && (enemyKing & 7) == (pawn & 7) && ownRank(x, enemyKing) > ownRank(x, pawn) &&
        !hasBishopOnColour(x, enemyKing))
      scale = 1;
  }
  if (sideDrawFlags[x] & SDF_KNIGHT_PAWN) {
    Square pawns[PIECE_SLOTS];
    if (pawnSquares(x, pawns) > 0) {
      Square pawn = pawns[0];
      if ((enemyKing & 7) == (pawn & 7) && ownRank(x, enemyKing) > ownRank(x, pawn) &&
          ownRank(x, pawn) <= 5)
        scale = 1;
    }
  }
  return scale;
}

// Runs the exact draw recogniser that belongs to this key, if any.
int recogniseDraw(uint64_t key) {
  Square list[MAX_LIST];
  switch (key) {
    case 0x1000000001: normalizePosition(WHITE, list); return drawKQKP(list, sideToMove == BLACK);
    case 0x110000: normalizePosition(BLACK, list); return drawKQKP(list, sideToMove == WHITE);
    case 0x10000001: normalizePosition(WHITE, list); return drawKPKB(list);
    case 0x100100: normalizePosition(BLACK, list); return drawKPKB(list);
    case 0x1000001: normalizePosition(WHITE, list); return drawKPKN(list);
    case 0x100010: normalizePosition(BLACK, list); return drawKPKN(list);
    case 0x11: normalizePosition(WHITE, list); return drawKNPK(list);
    case 0x1100000: normalizePosition(BLACK, list); return drawKNPK(list);
    case 0x10000101: normalizePosition(WHITE, list); return drawKBPKB(list);
    case 0x10100100: normalizePosition(BLACK, list); return drawKBPKB(list);
    default: return 0;
  }
}

}  // namespace

uint64_t computeMaterialKey() {
  uint64_t group[2];
  for (int c = WHITE; c <= BLACK; ++c) {
    const uint8_t* n = typeCount[c];
    group[c] = uint64_t(n[PAWN] & 15) | uint64_t(n[KNIGHT] & 15) << 4 | uint64_t(n[BISHOP] & 15) << 8 |
               uint64_t(n[ROOK] & 15) << 12 | uint64_t(n[QUEEN] & 15) << 16;
  }
  return group[BLACK] << 20 | group[WHITE];
}

// Colour's king and pieces in slot order, its pawns, then the enemy's king, pieces and pawns;
// mirrored so that colour moves up with its first pawn on files a-d.
int normalizePosition(int colour, Square* out) {
  int n = 0;
  for (int side : {colour, colour ^ 1}) {
    for (int slot = 0; slot < pieceSlots[side]; ++slot)
      if (!(pieceList[side][slot] & GONE)) out[n++] = slotSquare(pieceList[side][slot]);
    n += pawnSquares(side, out + n);
  }
  Square pawns[PIECE_SLOTS];
  int flip = 0;
  if (pawnSquares(colour, pawns) > 0 && (pawns[0] & 7) >= 4) flip ^= 7;
  if (colour == BLACK) flip ^= 0x70;
  for (int i = 0; i < n; ++i) out[i] ^= flip;
  return n;
}

// Names the ending when it has an evaluator of its own; otherwise sets drawFlags,
// sideDrawFlags, scaleWhite and scaleBlack for the full evaluation and returns 0. Writes
// materialKey. evaluate() has set both scale factors to 16 before the call.
EndgameCode materialSignature() {
  // 1. The key.
  uint64_t key = materialKey = computeMaterialKey();

  // 2. Endings with their own evaluator, either colour stronger.
  switch (key) {
    case 0x1: case 0x100000: return EG_KPK;
    case 0x100010000: case 0x1000001000: return EG_KQKR;
    case 0x10001000: case 0x100000100: return EG_KRKB;
    case 0x1001000: case 0x100000010: return EG_KRKN;
    case 0x101000: case 0x100000001: return EG_KRKP;
    case 0x110: case 0x11000000: return EG_KBNK;
    case 0x100001001: case 0x100101000: return EG_KRPKR;
    default: break;
  }

  // 3. Bare king against enough pieces to mate (two knights cannot force it).
  if (material[BLACK] == 0 && nonPawnMaterial(WHITE) >= 500 && key != 0x20) return EG_LONE_KING;
  if (material[WHITE] == 0 && nonPawnMaterial(BLACK) >= 500 && key != 0x2000000) return EG_LONE_KING;

  // 4. Flags.
  Counts w = countsOf(WHITE), b = countsOf(BLACK);
  drawFlags = drawishMaterial(w, b, key) ? DF_DRAWISH : 0;
  if (w.knights + w.rooks + w.queens + b.knights + b.rooks + b.queens == 0 && w.bishops == 1 &&
      b.bishops == 1 && std::abs(w.pawns - b.pawns) <= 2)
    drawFlags |= DF_OPPOSITE_BISHOPS;

  // 5. Material rules.
  scaleWhite = materialScale(w, b, scaleWhite);
  scaleBlack = materialScale(b, w, scaleBlack);

  // 6. Per-side flags.
  for (int x = WHITE; x <= BLACK; ++x) {
    const Counts& own = x == WHITE ? w : b;
    const Counts& other = x == WHITE ? b : w;
    bool enemyPiece = other.units() > other.pawns;
    sideDrawFlags[x] = 0;
    if (own.units() == own.bishops + own.pawns && own.pawns >= 1) {
      sideDrawFlags[x] |= SDF_BISHOP_PAWNS;
      if (own.bishops <= 1 && enemyPiece) sideDrawFlags[x] |= SDF_LONE_BISHOP;
    }
    if (own.units() == 2 && own.knights == 1 && own.pawns == 1 && enemyPiece)
      sideDrawFlags[x] |= SDF_KNIGHT_PAWN;
  }

  // 7. Queen against queen, rook against rook.
  if (key == 0x1000010000 || key == 0x100001000) scaleWhite = scaleBlack = 0;

  // 8. Wrong bishop, blockaded pawns.
  int materialWhite = scaleWhite, materialBlack = scaleBlack;
  scaleWhite = sideRules(WHITE, scaleWhite);
  scaleBlack = sideRules(BLACK, scaleBlack);

  // 9. Exact draws.
  if (recogniseDraw(key)) scaleWhite = scaleBlack = 1;

  // 10. Never above the material scales.
  scaleWhite = std::min(scaleWhite, materialWhite);
  scaleBlack = std::min(scaleBlack, materialBlack);
  return EG_NONE;
}

// 1 when at most two units remain and they cannot win: bare kings, a single minor piece,
// a drawn king and pawn ending, same-coloured bishops, or bishop and rook pawn with the wrong
// bishop and the defending king at the corner. Writes materialKey, drawFlags, sideDrawFlags
// whenever at most two units remain.
int isKnownDraw() {
  // 1. Only with at most two units (no unit is worth more than a queen: a quick way out first).
  if (material[WHITE] + material[BLACK] > 2 * pieceValue[QUEEN]) return 0;
  Counts w = countsOf(WHITE), b = countsOf(BLACK);
  if (w.units() + b.units() > 2) return 0;

  // 2. Flags.
  uint64_t key = materialKey = computeMaterialKey();
  sideDrawFlags[WHITE] = sideDrawFlags[BLACK] = 0;
  drawFlags = drawishMaterial(w, b, key) ? DF_DRAWISH : 0;
  if (!drawFlags) return 0;

  switch (key) {
    // 3. Nothing to mate with.
    case 0: case 0x100: case 0x10000000: case 0x10: case 0x1000000: return 1;
    // 4. King and pawn.
    case 0x1: case 0x100000: return evalKPK() == 0;
    // 5. One bishop each.
    case 0x10000100: {
      Square pieces[2] = {0, 0};
      for (int c = WHITE; c <= BLACK; ++c)
        for (int slot = 1; slot < pieceSlots[c]; ++slot)
          if (!(pieceList[c][slot] & GONE)) pieces[c] = slotSquare(pieceList[c][slot]);
      return squareColour(pieces[WHITE]) == squareColour(pieces[BLACK]);
    }
    // 6. Bishop and rook pawn whose bishop cannot reach the promotion square.
    case 0x101: case 0x10100000: {
      int strong = key == 0x101 ? WHITE : BLACK;
      Square list[MAX_LIST];
      normalizePosition(strong, list);  // king, bishop, pawn, defending king
      Square bishop = list[1], pawn = list[2], defender = list[3];
      return (pawn & 7) == 0 && distance(defender, A8) <= 1 && squareColour(bishop) == 0;
    }
    default: return 0;
  }
}
