// Move text: coordinate form (e2e4, e7e8Q) in and out, standard algebraic notation out.
#include <cctype>
#include <cstdio>

#include "board/board.h"
#include "session/session.h"

namespace {

inline char fileLetter(Square sq) { return char('a' + fileOf(sq)); }
inline char rankDigit(Square sq) { return char('1' + (sq >> 4)); }

// A castling move whose king goes two files, as in standard chess: its text may name the king's
// destination (e1g1). Any other castling is written and read as the king taking its own rook.
inline bool kingStepsTwo(Move m) { return moveTo(m) - moveFrom(m) == 2 || moveFrom(m) - moveTo(m) == 2; }

// 0 for O-O, 1 for O-O-O (letter O or digit 0, either case), -1 for other text; a check or mate
// mark may follow.
int castlingWing(const char* text) {
  auto isO = [](char ch) { return ch == 'o' || ch == 'O' || ch == '0'; };
  if (!isO(text[0]) || text[1] != '-' || !isO(text[2])) return -1;
  int wing = 0, end = 3;
  if (text[3] == '-' && isO(text[4])) {
    wing = 1;
    end = 5;
  }
  const char next = text[end];
  return next == '\0' || next == ' ' || next == '\n' || next == '+' || next == '#' ? wing : -1;
}

}  // namespace

// Static buffer, overwritten by the next call.
const char* moveToCoord(Move m) {
  static char text[6];
  const Square from = moveFrom(m);
  const Square to = (m & MF_CASTLE) && !kingStepsTwo(m) ? castlePathOf(m).rookFrom : moveTo(m);
  text[0] = fileLetter(from);
  text[1] = rankDigit(from);
  text[2] = fileLetter(to);
  text[3] = rankDigit(to);
  text[4] = isPromotion(m) ? PIECE_CHARS[promotionOf(m) & 7] : '\0';
  text[5] = '\0';
  return text;
}

// The coordinate text UCI writes: the promotion letter in lower case (e7e8q), castling as the
// king taking its own rook when the GUI plays Chess960 (UCI_Chess960). Its own static buffer,
// overwritten by the next call.
const char* moveToUci(Move m) {
  static char text[6];
  const char* coord = moveToCoord(m);
  if ((m & MF_CASTLE) && settings.chess960) {
    const Square rook = castlePathOf(m).rookFrom;
    snprintf(text, sizeof text, "%c%c%c%c", coord[0], coord[1], fileLetter(rook), rankDigit(rook));
    return text;
  }
  for (int i = 0; i < 6; i++) text[i] = char(std::tolower(static_cast<unsigned char>(coord[i])));
  return text;
}

// Static buffer, overwritten by the next call. Regenerates plyStack[ply] to find rival
// pieces and fills plyStack[ply + 1] to tell check from mate.
const char* moveToSAN(Move m) {
  static char text[12];
  if (m & MF_SHORT_CASTLE) return "O-O";
  if (m & MF_LONG_CASTLE) return "O-O-O";
  char* out = text;
  const Square from = moveFrom(m);
  const Square to = moveTo(m);
  const int type = typeOf(pieceOf(m));

  // 1. Piece letter and whatever tells the piece apart from a rival reaching the same square.
  if (type != PAWN) {
    *out++ = PIECE_CHARS[type];
    genPlyMoves();
    bool needFile = false, needRank = false;
    const PlyRecord& rec = plyStack[ply];
    for (int i = 0; i < rec.moveCount; i++) {
      const Move d = rec.moves[i];
      if (moveTo(d) != to || moveFrom(d) == from || pieceOf(d) != pieceOf(m) || !legal(d)) continue;
      if (fileOf(moveFrom(d)) != fileOf(from))
        needFile = true;
      else
        needRank = true;
    }
    if (needFile) *out++ = fileLetter(from);
    if (needRank) *out++ = rankDigit(from);
  }

  // 2. Capture, destination, promotion.
  if (capturedOf(m)) {
    if (type == PAWN) *out++ = fileLetter(from);
    *out++ = 'x';
  }
  *out++ = fileLetter(to);
  *out++ = rankDigit(to);
  if (isPromotion(m)) {
    *out++ = '=';
    *out++ = PIECE_CHARS[promotionOf(m) & 7];
  }

  // 3. Check or mate, decided by the replies (the last plies of the stack cannot look ahead).
  if (ply + 1 < MAX_PLY && gamePly < HISTORY_SIZE - 1) {
    makeMove(m);
    if (inCheck(sideToMove)) {
      PlyRecord& next = plyStack[ply];
      next.checkCount = findCheckersAfterMove(next.checkers);
      genEvasions();
      *out++ = next.moveCount ? '+' : '#';
    }
    unmakeMove();
  }
  *out = '\0';
  return text;
}

// Move text that names no move at all (a square to itself, a1a1 among them) gets the promotion
// type that matches no move, so that it is never the word 0 of "no move". O-O and O-O-O give
// their castling flag alone, which matchMove takes for the side to move's castling; the text
// is read without looking at the position (the input poll reads it in the middle of a search).
Move parseCoord(const char* text) {
  const int wing = castlingWing(text);
  if (wing >= 0) return wing == 0 ? MF_SHORT_CASTLE : MF_LONG_CASTLE;
  auto isFile = [](char ch) { return ch >= 'a' && ch <= 'h'; };
  auto isRank = [](char ch) { return ch >= '1' && ch <= '8'; };
  if (!isFile(text[0]) || !isRank(text[1]) || !isFile(text[2]) || !isRank(text[3])) return 0;
  const Square from = (text[1] - '1') * 16 + (text[0] - 'a');
  const Square to = (text[3] - '1') * 16 + (text[2] - 'a');
  Move type = 0;
  const char next = text[4];
  if (next != ' ' && next != '\n' && next != '\0') {
    const char letter = char(toupper(static_cast<unsigned char>(next == '=' ? text[5] : next)));
    type = 7;  // matches no move
    for (int t = KNIGHT; t <= QUEEN; t++) {
      if (letter == PIECE_CHARS[t]) {
        type = Move(t);
        break;
      }
    }
  }
  if (from == to) type = 7;
  return Move(from) | Move(to) << 8 | type << 28;
}

// Castling is named by its flag (O-O, or a whole move word), by the king taking its own rook, or
// by the king's destination when the king goes two files; a partial with a castling flag names
// nothing else. Reads castlePaths only, so it holds for any position of the game.
bool moveMatches(Move m, Move partial) {
  if (partial & MF_CASTLE) return (partial & MF_CASTLE) == (m & MF_CASTLE);
  if (moveFrom(m) != moveFrom(partial) || ((m ^ partial) & 0x70000000u) != 0) return false;
  if (!(m & MF_CASTLE)) return moveTo(m) == moveTo(partial);
  return moveTo(partial) == castlePathOf(m).rookFrom || (moveTo(partial) == moveTo(m) && kingStepsTwo(m));
}

// Regenerates plyStack[ply]; returns the first legal move with the squares and promotion type
// of `partial`, or 0.
Move matchMove(Move partial) {
  if (positionRejected) return 0;
  genPlyMoves();
  const PlyRecord& rec = plyStack[ply];
  for (int i = 0; i < rec.moveCount; i++) {
    const Move m = rec.moves[i];
    if (moveMatches(m, partial) && legal(m)) return m;
  }
  return 0;
}
