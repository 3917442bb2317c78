// Move ordering: the two scorers, the lazy picker, history and killers, the root sort, the
// principal-variation table and the static exchange evaluator.
#include <algorithm>
#include <utility>

#include "search/search.h"

constinit thread_local int historyScores[64][64]{};
constinit thread_local Move pvTable[MAX_PLY][MAX_PLY]{};
constinit thread_local int pvLength[MAX_PLY]{};

namespace {

// Ordering bands of scoreMoves, highest first.
constexpr int ORDER_HASH = 1000000000;
constexpr int ORDER_MATE_KILLER = 999999999;
constexpr int ORDER_PROMOTION = 100000000;   // + captured type
constexpr int ORDER_RECAPTURE = 100000000;   // + SEE
constexpr int ORDER_CAPTURE = 90000000;      // + SEE
constexpr int ORDER_KILLER1 = 90000000;
constexpr int ORDER_KILLER2 = 89999999;
constexpr int ORDER_OLD_KILLER1 = 89999998;
constexpr int ORDER_OLD_KILLER2 = 89999997;

// Bands of scoreCaptures.
constexpr int QORDER_HASH = 100000000;
constexpr int QORDER_PROMOTION = 10000000;   // + captured type
constexpr int QORDER_RECAPTURE = 10000000;   // - moving type
constexpr int QORDER_CAPTURE = 9000000;      // + victim value - moving type

constexpr int HISTORY_LIMIT = 32767;

// Bonus of a quiet move whose from-square attacks the enemy king, by moving type.
constexpr int kingAttackBonus[7] = {0, 0, 100, 80, 60, 40, 20};

constexpr bool isQueenPromotion(Move m) { return typeOf(promotionOf(m)) == QUEEN; }

// To-square of the move that led to the current position; -1 at the root, so nothing matches.
inline int lastMoveTo() { return ply > 0 && gamePly > 0 ? int(moveTo(history[gamePly - 1].move)) : -1; }

// Attackers of one colour on the exchange square, in discovery order.
struct AttackerList {
  int count = 0;
  int value[32];
  Square square[32];
  void add(Square sq, int v) {
    if (count < 32) {
      square[count] = sq;
      value[count] = v;
      count++;
    }
  }
  // Removes and returns the first least valuable attacker, keeping the order of the others.
  Square takeLeast(int& v) {
    int best = 0;
    for (int i = 1; i < count; i++)
      if (value[i] < value[best]) best = i;
    Square sq = square[best];
    v = value[best];
    for (int i = best + 1; i < count; i++) {
      square[i - 1] = square[i];
      value[i - 1] = value[i];
    }
    count--;
    return sq;
  }
};

// A slider, knight, king or pawn on from reaches target over empty squares.
bool reaches(Square from, Square target, int code) {
  const AttackEntry& a = attackEntry(from - target);
  if ((a.mask & pieceMask[code]) == 0) return false;
  if (!isSlider(code)) return true;
  for (Square s = from + a.dir; s != target; s += a.dir)
    if (board[s] != EMPTY) return false;
  return true;
}

// The first unit behind from, looking away from target along their common line, when it
// attacks target along that line; -1 when there is none.
Square xrayBehind(Square from, Square target) {
  const AttackEntry& a = attackEntry(from - target);
  if ((a.mask & MASK_QUEEN) == 0) return -1;
  Square s = from - a.dir;
  while (board[s] == EMPTY) s -= a.dir;
  const int code = board[s];
  if (code == OFFBOARD || (attackEntry(s - target).mask & pieceMask[code]) == 0) return -1;
  return s;
}

// The x-ray piece behind from joins its colour's list.
void addXray(Square from, Square target, AttackerList lists[2]) {
  const Square s = xrayBehind(from, target);
  if (s >= 0) lists[colourOf(board[s])].add(s, pieceValue[board[s]]);
}

// The units of colour that attack target directly, the mover on from excepted: pawns first,
// then pieces in list order.
void collectAttackers(int colour, Square from, Square target, AttackerList& list) {
  const int pawn = colour * 8 + PAWN;
  for (int d = 0; d < 2; d++) {
    const Square s = target - pieceDirs[pawn][d];
    if (board[s] == pawn && s != from) list.add(s, pieceValue[PAWN]);
  }
  // First the units whose kind of move could reach target (a table test, without branches),
  // then the path test for those alone.
  const PieceEntry* entries = pieceList[colour];
  uint8_t candidates[PIECE_SLOTS];
  int n = 0;
  for (int slot = 0, end = pieceSlots[colour]; slot < end; slot++) {
    const PieceEntry e = entries[slot];
    const Square s = slotSquare(e);
    candidates[n] = uint8_t(slot);
    n += !(e & GONE) & (s != from) & ((attackEntry(s - target).mask & pieceMask[slotCode(e)]) != 0);
  }
  for (int i = 0; i < n; i++) {
    const PieceEntry e = entries[candidates[i]];
    const Square s = slotSquare(e);
    const int code = slotCode(e);
    if (reaches(s, target, code)) list.add(s, pieceValue[code]);
  }
}

}  // namespace

// Scores every move of plyStack[ply] for the full-width searches (bands above).
void scoreMoves(Move hashMove) {
  PlyRecord& rec = plyStack[ply];
  const int lastTo = lastMoveTo();
  const Square enemyKing = kingSquare(otherSide);
  const Move mateKiller = rec.mateKiller, killer1 = rec.killer1, killer2 = rec.killer2;
  const Move oldKiller1 = ply >= 2 ? plyStack[ply - 2].killer1 : 0;
  const Move oldKiller2 = ply >= 2 ? plyStack[ply - 2].killer2 : 0;
  for (int i = 0; i < rec.moveCount; i++) {
    const Move m = rec.moves[i];
    int score;
    if (m == hashMove) {
      score = ORDER_HASH;
    } else if (m == mateKiller) {
      score = ORDER_MATE_KILLER;
    } else if (isQueenPromotion(m) && see(m) >= 0) {
      score = ORDER_PROMOTION + typeOf(capturedOf(m));
    } else if (capturedOf(m) != 0) {
      const int v = see(m);
      if (v > 0 && int(moveTo(m)) == lastTo) score = ORDER_RECAPTURE + v;
      else score = v >= 0 ? ORDER_CAPTURE + v : v;
    } else if (m == killer1) {
      score = ORDER_KILLER1;
    } else if (m == killer2) {
      score = ORDER_KILLER2;
    } else if (m == oldKiller1) {
      score = ORDER_OLD_KILLER1;
    } else if (m == oldKiller2) {
      score = ORDER_OLD_KILLER2;
    } else {
      const int code = pieceOf(m);
      score = historyScores[square64(moveTo(m))][code];
      if (attackEntry(moveFrom(m) - enemyKing).mask & pieceMask[code]) score += kingAttackBonus[typeOf(code)];
    }
    rec.scores[i] = score;
  }
}

// Scores the quiescence list of plyStack[ply]: hash move, good queen promotions, recaptures,
// then most valuable victim / least valuable attacker.
void scoreCaptures(Move hashMove) {
  PlyRecord& rec = plyStack[ply];
  const int lastTo = lastMoveTo();
  for (int i = 0; i < rec.moveCount; i++) {
    const Move m = rec.moves[i];
    int score;
    if (m == hashMove) score = QORDER_HASH;
    else if (isQueenPromotion(m) && see(m) >= 0) score = QORDER_PROMOTION + typeOf(capturedOf(m));
    else if (capturedOf(m) != 0 && int(moveTo(m)) == lastTo) score = QORDER_RECAPTURE - typeOf(pieceOf(m));
    else if (capturedOf(m) != 0)
      score = QORDER_CAPTURE + pieceValue[typeOf(capturedOf(m))] - typeOf(pieceOf(m));
    else score = 0;
    rec.scores[i] = score;
  }
}

// Returns the highest-scored move not yet returned (the earliest among equals) and marks it
// consumed; 0 when every move has been returned.
Move pickMove() {
  PlyRecord& rec = plyStack[ply];
  int best = -1, bestScore = SCORE_CONSUMED;
  for (int i = 0; i < rec.moveCount; i++) {
    if (rec.scores[i] > bestScore) {
      bestScore = rec.scores[i];
      best = i;
    }
  }
  if (best < 0) return 0;
  rec.scores[best] = SCORE_CONSUMED;
  return rec.moves[best];
}

// The next move for the full-width search: like pickMove for the first few, which is all that
// most nodes need; then the moves not yet returned are sorted once, best first and ties in list
// order, and come in that order: the order pickMove would give them in, for less work.
Move MovePicker::next() {
  PlyRecord& rec = plyStack[ply];
  if (cursor < 0) {
    if (picked < SELECT_PICKS) {
      ++picked;
      return pickMove();
    }
    cursor = sortUnpicked(rec);
  }
  if (cursor >= rec.moveCount) return 0;
  rec.scores[cursor] = SCORE_CONSUMED;
  return rec.moves[cursor++];
}

// Moves the entries pickMove would still return behind the others, sorted best first with ties
// in list order (a stable insertion sort: lists are short). Returns the index of the first.
int MovePicker::sortUnpicked(PlyRecord& rec) {
  Move moves[MAX_MOVES];
  int scores[MAX_MOVES];
  int done = 0, count = 0;
  for (int i = 0; i < rec.moveCount; i++) {
    if (rec.scores[i] > SCORE_CONSUMED) {
      const Move m = rec.moves[i];
      const int score = rec.scores[i];
      int j = count++;
      for (; j > 0 && scores[j - 1] < score; j--) {
        moves[j] = moves[j - 1];
        scores[j] = scores[j - 1];
      }
      moves[j] = m;
      scores[j] = score;
    } else {
      rec.moves[done] = rec.moves[i];
      rec.scores[done++] = rec.scores[i];
    }
  }
  std::copy(moves, moves + count, rec.moves + done);
  std::copy(scores, scores + count, rec.scores + done);
  return done;
}

// A quiet move that cut off earns depth squared in the history table (all halved when an entry
// passes 32767) and becomes the ply's first killer; any move with a mate score becomes its mate
// killer.
void updateHistory(Move move, int depth, int score) {
  if (!isTactical(move)) {
    int& entry = historyScores[square64(moveTo(move))][pieceOf(move)];
    entry += depth * depth;
    if (entry > HISTORY_LIMIT) {
      for (auto& row : historyScores)
        for (int& h : row) h >>= 1;
    }
    plyStack[ply].killer2 = plyStack[ply].killer1;
    plyStack[ply].killer1 = move;
  }
  if (score > MATE_RANGE) plyStack[ply].mateKiller = move;
}

// Exchange sort of plyStack[ply] by descending score. Equal scores are never swapped with each
// other, though a swap with a third move may still reorder them.
void sortRootMoves() {
  PlyRecord& rec = plyStack[ply];
  for (int i = 0; i < rec.moveCount - 1; i++) {
    for (int j = i + 1; j < rec.moveCount; j++) {
      if (rec.scores[j] > rec.scores[i]) {
        std::swap(rec.scores[i], rec.scores[j]);
        std::swap(rec.moves[i], rec.moves[j]);
      }
    }
  }
}

// The line of this ply becomes move followed by the line of the next ply.
void updatePV(Move move) {
  pvTable[ply][ply] = move;
  const int length = ply + 1 < MAX_PLY ? pvLength[ply + 1] : ply + 1;
  for (int j = ply + 1; j < length; j++) pvTable[ply][j] = pvTable[ply + 1][j];
  pvLength[ply] = length > ply + 1 ? length : ply + 1;
}

// Static exchange evaluation of move, made by sideToMove, before it is played: both sides
// recapture on the to-square with their least valuable attacker (x-rays included) and either
// may stop when continuing loses. Promotions and en-passant victims count nothing.
int see(Move move) {
  const Square from = moveFrom(move), target = moveTo(move);
  const int mover = sideToMove;
  AttackerList lists[2];
  // The recapturing side first: when it has no attacker the exchange is the victim alone.
  collectAttackers(otherSide, from, target, lists[otherSide]);
  const Square behind = xrayBehind(from, target);
  const int behindColour = behind >= 0 ? colourOf(board[behind]) : -1;
  if (behindColour == otherSide) lists[otherSide].add(behind, pieceValue[board[behind]]);
  if (lists[otherSide].count == 0) return pieceValue[board[target]];
  collectAttackers(mover, from, target, lists[mover]);
  if (behindColour == mover) lists[mover].add(behind, pieceValue[board[behind]]);

  int gain[40];
  gain[0] = pieceValue[board[target]];
  int victim = pieceValue[pieceOf(move)];
  int side = otherSide;
  int n = 1;
  while (lists[side].count > 0 && n < 39) {
    if (victim == pieceValue[KING]) {
      gain[n++] = pieceValue[KING];
      break;
    }
    int value;
    const Square s = lists[side].takeLeast(value);
    addXray(s, target, lists);
    gain[n] = victim - gain[n - 1];
    victim = value;
    n++;
    side ^= 1;
  }
  for (int k = n - 1; k >= 1; k--)
    if (-gain[k] < gain[k - 1]) gain[k - 1] = -gain[k];
  return gain[0];
}
