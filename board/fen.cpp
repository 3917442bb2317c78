// Positions in and out: FEN parsing with validation, FEN writing and the console diagram.
#include <cassert>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "board/board.h"
#include "session/session.h"

bool positionRejected = false;

namespace {

constexpr int FIFTY_LIMIT = 99999;  // a longer half-move clock stops taking digits

// Piece code of a FEN letter, 0 when the character is not one.
int codeOfLetter(char ch) {
  for (int code = 1; code <= 14; code++)
    if (PIECE_CHARS[code] == ch && ch != '*') return code;
  return 0;
}

int syntaxError(int index) {
  printf("**ERROR**  setBoard() : bad FEN (char %d)\n", index);
  return 1;
}

// What setBoard overwrites, kept so that a record with a syntax error changes nothing.
struct SavedPosition {
  uint8_t squares[128];
  int side, rights, ep, fifty;
};

void savePosition(SavedPosition& s) {
  memcpy(s.squares, &board[0], sizeof s.squares);
  s.side = sideToMove;
  s.rights = castleRights;
  s.ep = epSquare;
  s.fifty = fiftyCount;
}

int restorePosition(const SavedPosition& s) {
  memcpy(&board[0], s.squares, sizeof s.squares);
  sideToMove = s.side;
  otherSide = s.side ^ 1;
  castleRights = s.rights;
  epSquare = s.ep;
  fiftyCount = s.fifty;
  return 1;
}

// A king castles from files b to g only: it starts between its rooks.
bool kingMayCastle(Square king) { return king >= 0 && fileOf(king) >= 1 && fileOf(king) <= 6; }

// Square of colour's king on its back rank, -1 when it has none there.
Square backRankKing(int colour) {
  const Square rank = colour == WHITE ? 0 : 112;
  for (int file = 0; file < 8; file++)
    if (board[rank + file] == colour * 8 + KING) return rank + file;
  return -1;
}

// The rook a castling letter names, -1 when it names none. A rook's file (H, a) must hold a rook
// of that colour on its back rank, with the king on the same rank. K and Q name the rook on h1
// or a1 when the king stands on e1 (the rights of standard chess), else the outermost rook on
// that side of the king (X-FEN); without one they stand for h1 and a1, which validatePosition
// refuses with its own message. Sets the right named and, for a file letter, byFile.
Square castlingRook(char letter, int& right, bool& byFile) {
  const bool black = letter >= 'a' && letter <= 'z';
  const char upper = black ? char(letter - 'a' + 'A') : letter;
  const int colour = black ? BLACK : WHITE;
  const Square rank = colour == WHITE ? 0 : 112;
  const int rook = colour * 8 + ROOK;
  const Square king = backRankKing(colour);
  if (upper == 'K' || upper == 'Q') {
    const bool queenSide = upper == 'Q';
    right = 2 * colour + (queenSide ? 1 : 0);
    const Square corner = rank + (queenSide ? 0 : 7);
    if (king == rank + 4 && board[corner] == rook) return corner;
    if (kingMayCastle(king)) {
      const int step = queenSide ? 1 : -1;
      for (Square sq = corner; sq != king; sq += step)
        if (board[sq] == rook) return sq;
    }
    return corner;
  }
  if (upper < 'A' || upper > 'H' || !kingMayCastle(king)) return -1;
  const Square sq = rank + (upper - 'A');
  if (board[sq] != rook) return -1;
  right = 2 * colour + (sq < king ? 1 : 0);
  byFile = true;
  return sq;
}

// Reads the placement, side, castling, en-passant and half-move fields into the globals, the
// castling rooks into rookFrom (by right, -1 without the right) and whether every right was
// given by its rook's file into byFile. Returns the index of the offending character, or -1 when the
// record parses.
int parseFEN(const char* text, Square rookFrom[4], bool& byFile) {
  int i = 0;
  // 1. Placement from a8 onward: eight ranks of eight squares, separated by '/'.
  int rank = 7, file = 0;
  for (; text[i] && text[i] != ' '; i++) {
    const char ch = text[i];
    if (ch == '/') {
      if (file != 8 || rank == 0) return i;  // a short rank, or a ninth
      rank--;
      file = 0;
    } else if (ch >= '1' && ch <= '8') {
      const int run = ch - '0';
      if (file + run > 8) return i;
      for (int k = 0; k < run; k++) board[rank * 16 + file++] = EMPTY;
    } else if (const int code = codeOfLetter(ch)) {
      if (file == 8) return i;
      board[rank * 16 + file++] = uint8_t(code);
    } else {
      return i;
    }
  }
  if (rank != 0 || file != 8) return i;  // fewer than eight ranks, or a short last one
  // 2. Side to move.
  while (text[i] == ' ') i++;
  if (text[i] == 'w')
    sideToMove = WHITE;
  else if (text[i] == 'b')
    sideToMove = BLACK;
  else
    return i;
  otherSide = sideToMove ^ 1;
  i++;
  // 3. Castling rights, as KQkq or as the rooks' files.
  while (text[i] == ' ') i++;
  castleRights = 0;
  for (int r = 0; r < 4; r++) rookFrom[r] = -1;
  bool fileLetters = false, kqLetters = false;
  for (; text[i] && text[i] != ' '; i++) {
    if (text[i] == '-') continue;
    int right = 0;
    const Square rook = castlingRook(text[i], right, fileLetters);
    if (rook < 0) return i;
    kqLetters |= text[i] == 'K' || text[i] == 'Q' || text[i] == 'k' || text[i] == 'q';
    if (rookFrom[right] >= 0 && rookFrom[right] != rook) return i;  // two rooks for one right
    rookFrom[right] = rook;
    castleRights |= 1 << right;
  }
  byFile = fileLetters && !kqLetters;  // X-FEN mixes KQkq with the files of inner rooks
  // 4. En-passant square: on the sixth rank with white to move, the third with black.
  while (text[i] == ' ') i++;
  if (text[i] == '-') {
    epSquare = 0;
    i++;
  } else {
    if (text[i] < 'a' || text[i] > 'h') return i;
    const char rank = sideToMove == WHITE ? '6' : '3';
    if (text[i + 1] != rank) return i + 1;
    epSquare = (rank - '1') * 16 + (text[i] - 'a');
    i += 2;
  }
  // 5. Half-move clock; the full-move number and anything after it are ignored.
  while (text[i] == ' ') i++;
  fiftyCount = 0;
  for (; text[i] >= '0' && text[i] <= '9'; i++)
    if (fiftyCount <= FIFTY_LIMIT) fiftyCount = fiftyCount * 10 + (text[i] - '0');
  return -1;
}

void validationError(int& errors, const char* what) {
  printf("**ERROR**  validatePosition() : %s\n", what);
  errors++;
}

// The king of the right's colour stands alone on its back rank, with the right's rook on the
// side of it the right names.
bool castlingFits(int right) {
  const int colour = right >> 1;
  const Square king = backRankKing(colour);
  const Square rook = castlePaths[right].rookFrom;
  if (typeCount[colour][KING] != 1 || !kingMayCastle(king) || board[rook] != colour * 8 + ROOK ||
      (rook & 0x70) != (king & 0x70))
    return false;
  return (right & 1) ? rook < king : rook > king;
}

bool pawnOnEdgeRank() {
  for (int file = 0; file < 8; file++) {
    if (typeOf(board[file]) == PAWN || typeOf(board[112 + file]) == PAWN) return true;
  }
  return false;
}

}  // namespace

// Parses a FEN record into the position. A syntax error prints its message, leaves the
// position as it was and returns non-zero. A record that parses is validated: a refused one
// is replaced by the start position at the console; a GUI's (xboard, UCI) is kept as parsed
// with the game over and positionRejected set, so that nothing is ever searched in its place. Otherwise the key, checkers and moves of ply 0 are set up and the
// game-end test runs; reads xboardMode, writes gameOver, engineSide and opponentTurnStart.
int setBoard(const char* text) {
  SavedPosition saved;
  savePosition(saved);
  Square rookFrom[4];
  bool byFile = false;
  const int bad = parseFEN(text, rookFrom, byFile);
  if (bad >= 0) {
    syntaxError(bad);
    return restorePosition(saved);
  }

  // 1. A new game starts here.
  gamePly = 0;
  ply = 0;
  gameOver = 0;
  positionRejected = false;
  initPieceLists();
  setCastling(rookFrom);
  castleText = byFile && (settings.chess960 || !castlingIsStandard()) ? CASTLE_TEXT_FILES : CASTLE_TEXT_KQ;
  hashKey = computeHashKey();  // a refused position kept in xboard mode has its key too
  PlyRecord& root = plyStack[0];

  // 2. A refused position.
  if (validatePosition()) {
    if (xboardMode || uciMode) {
      if (xboardMode) printf("tellusererror Illegal position\n");
      gameOver = 1;
      positionRejected = true;
      root.checkCount = 0;
      root.moveCount = 0;
      root.moves[0] = 0;
      return 0;
    }
    printf("Errors have been found in the position. Setting the start one\n");
    setBoard(START_FEN);
    return 0;
  }

  // 3. Checkers, moves and the game-end test of the new root.
  genPlyMoves();
  checkGameEnd();
  if (!gameOver) {
    engineSide = otherSide;
    opponentTurnStart = nowMs();
  }
  assert(boardIsConsistent());
  return 0;
}

// Prints one message per rule the position breaks and returns how many. Rules that need a king
// square are only tested when the king in question is unique.
int validatePosition() {
  int errors = 0;
  const bool oneKingEach = typeCount[WHITE][KING] == 1 && typeCount[BLACK][KING] == 1;

  if (oneKingEach && isAttacked(kingSquare(otherSide), sideToMove))
    validationError(errors, "side not on move is in check");
  if (typeCount[WHITE][KING] != 1) validationError(errors, "white's king count != 1");
  if (typeCount[BLACK][KING] != 1) validationError(errors, "black's king count != 1");
  for (int c = WHITE; c <= BLACK; c++) {
    const uint8_t* n = typeCount[c];
    if (n[KNIGHT] + n[BISHOP] + n[ROOK] + n[QUEEN] > 15 - n[PAWN])
      validationError(errors, c == WHITE
                                  ? "number of white pieces, considering promotions, not possible"
                                  : "number of black pieces, considering promotions, not possible");
  }

  static const char* const castleErrors[4] = {
      "white king and rook's positions don't allow short castle",
      "white king and rook's positions don't allow long castle",
      "black king and rook's positions don't allow short castle",
      "black king and rook's positions don't allow long castle"};
  for (int right = 0; right < 4; right++)
    if ((castleRights & (1 << right)) && !castlingFits(right)) validationError(errors, castleErrors[right]);

  if (epSquare) {
    const int up = pawnInfo[sideToMove].forward;  // towards the side that double-pushed
    const bool fits = rankOf[epSquare] == (sideToMove == WHITE ? 5 : 2) &&
                      board[epSquare] == EMPTY && board[epSquare + up] == EMPTY &&
                      board[epSquare - up] == otherSide * 8 + PAWN;
    if (!fits) validationError(errors, "impossibile ep square");
  }

  if (fiftyCount) {
    bool fits = epSquare == 0;
    if (typeCount[sideToMove][KING] == 1) {
      const Square king = kingSquare(sideToMove);
      const int enemyPawn = otherSide * 8 + PAWN;
      const int* caps = pieceDirs[enemyPawn];
      if (board[king - caps[0]] == enemyPawn || board[king - caps[1]] == enemyPawn) fits = false;
    }
    if (!fits) validationError(errors, "impossibile fifty move rule value");
  }

  // Limits of the piece lists and of chess itself, beyond the rules above.
  for (int c = WHITE; c <= BLACK; c++) {
    const uint8_t* n = typeCount[c];
    if (n[PAWN] > 8)
      validationError(errors, c == WHITE ? "more than 8 white pawns" : "more than 8 black pawns");
    if (n[KING] + n[PAWN] + n[KNIGHT] + n[BISHOP] + n[ROOK] + n[QUEEN] > 16)
      validationError(errors, c == WHITE ? "more than 16 white units" : "more than 16 black units");
  }
  if (pawnOnEdgeRank()) validationError(errors, "pawn on the first or last rank");
  if (oneKingEach && countCheckers() > 2)
    validationError(errors, "side on move is in check by more than two units");
  return errors;
}

namespace {

// The castling field in the form castleText names; returns the end.
char* writeCastling(char* out) {
  if (!castleRights) *out++ = '-';
  for (int right = 0; right < 4; right++) {
    if (!(castleRights & (1 << right))) continue;
    const int colour = right >> 1;
    const Square rook = castlePaths[right].rookFrom;
    const char fileLetter = char((colour == WHITE ? 'A' : 'a') + fileOf(rook));
    if (castleText == CASTLE_TEXT_FILES) {
      *out++ = fileLetter;
      continue;
    }
    // KQkq name the outermost rook; a rook further out makes the file necessary.
    const int step = (right & 1) ? -1 : 1;
    bool outer = false;
    for (Square sq = rook + step; onBoard(sq); sq += step)
      if (board[sq] == colour * 8 + ROOK) outer = true;
    *out++ = outer ? fileLetter : "KQkq"[right];
  }
  return out;
}

}  // namespace

void getFEN(char* buffer) {
  char* out = buffer;
  for (int rank = 7; rank >= 0; rank--) {
    int run = 0;
    for (int file = 0; file < 8; file++) {
      const int code = board[rank * 16 + file];
      if (code == EMPTY) {
        run++;
        continue;
      }
      if (run) *out++ = char('0' + run);
      run = 0;
      *out++ = PIECE_CHARS[code];
    }
    if (run) *out++ = char('0' + run);
    if (rank) *out++ = '/';
  }
  *out++ = ' ';
  *out++ = sideToMove == WHITE ? 'w' : 'b';
  *out++ = ' ';
  out = writeCastling(out);
  if (epSquare)
    out += snprintf(out, 4, " %c%d", 'a' + fileOf(epSquare), rankOf[epSquare] + 1);
  else
    out += snprintf(out, 3, " -");
  snprintf(out, FEN_BUFFER - (out - buffer), " %d 1", fiftyCount);
}

void printBoard() {
  printf("\n\n");
  for (int r = 7; r >= 0; r--) {
    printf("\t%d  ", r + 1);
    for (int file = 0; file < 8; file++) {
      if ((r + file) & 1)
        inverseColour();  // light square: black on light grey
      else
        resetColour();    // dark square: grey on black
      printf("%c ", PIECE_CHARS[board[r * 16 + file]]);
    }
    resetColour();
    switch (r) {
      case 7: printf("\t\t%s on move", sideToMove == WHITE ? "White" : "Black"); break;
      case 5: printf("\t\tEp: %d   Fifty: %d", epSquare, fiftyCount); break;
      case 4: printf("\t\tCastle rights: %x", castleRights); break;
      case 3: printf("\t\twKing in: %d   bKing in: %d", kingSquare(WHITE), kingSquare(BLACK)); break;
      case 2:
        printf("\t\tPawns: %d,%d   Pieces: %d,%d", typeCount[WHITE][PAWN], typeCount[BLACK][PAWN],
               typeCount[WHITE][KNIGHT] + typeCount[WHITE][BISHOP] + typeCount[WHITE][ROOK] +
                   typeCount[WHITE][QUEEN],
               typeCount[BLACK][KNIGHT] + typeCount[BLACK][BISHOP] + typeCount[BLACK][ROOK] +
                   typeCount[BLACK][QUEEN]);
        break;
      case 1: printf("\t\tHashkey: %" PRIx64, hashKey); break;
      default: break;
    }
    printf("\n");
  }
  resetColour();
  printf("\n\t   a b c d e f g h\n\n\n");
}
