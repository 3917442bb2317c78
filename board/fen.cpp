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

// Reads the placement, side, castling, en-passant and half-move fields into the globals.
// Returns the index of the offending character, or -1 when the record parses.
int parseFEN(const char* text) {
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
  // 3. Castling rights.
  while (text[i] == ' ') i++;
  castleRights = 0;
  for (; text[i] && text[i] != ' '; i++) {
    switch (text[i]) {
      // Rook files, as GUIs write rights for Chess960 (Shredder-FEN): the h- and a-file rooks
      // of standard chess are the same rights; other files have no meaning here.
      case 'K': case 'H': castleRights |= CASTLE_WK; break;
      case 'Q': case 'A': castleRights |= CASTLE_WQ; break;
      case 'k': case 'h': castleRights |= CASTLE_BK; break;
      case 'q': case 'a': castleRights |= CASTLE_BQ; break;
      case '-': break;
      default: return i;
    }
  }
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
  const int bad = parseFEN(text);
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

  const bool whiteHome = board[4] == KING;
  const bool blackHome = board[116] == KING + BLACK_BIT;
  if ((castleRights & CASTLE_WK) && !(whiteHome && board[7] == ROOK))
    validationError(errors, "white king and rook's positions don't allow short castle");
  if ((castleRights & CASTLE_WQ) && !(whiteHome && board[0] == ROOK))
    validationError(errors, "white king and rook's positions don't allow long castle");
  if ((castleRights & CASTLE_BK) && !(blackHome && board[119] == ROOK + BLACK_BIT))
    validationError(errors, "black king and rook's positions don't allow short castle");
  if ((castleRights & CASTLE_BQ) && !(blackHome && board[112] == ROOK + BLACK_BIT))
    validationError(errors, "black king and rook's positions don't allow long castle");

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
  if (!castleRights) *out++ = '-';
  if (castleRights & CASTLE_WK) *out++ = 'K';
  if (castleRights & CASTLE_WQ) *out++ = 'Q';
  if (castleRights & CASTLE_BK) *out++ = 'k';
  if (castleRights & CASTLE_BQ) *out++ = 'q';
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
