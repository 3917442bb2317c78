// The position and its moves, which every other part of Talvek reads.
//
// There is exactly one position in the process: the board, the per-colour piece lists,
// the side to move, castling rights, en-passant square, fifty-move counter and hash key
// are plain globals, changed only by setBoard() and by make/unmake. Generators fill the
// record of the current ply in plyStack; text helpers return static buffers.
#pragma once

#include <cstdint>
#include <cstring>

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

using Square = int;        // 0x88 index: rank * 16 + file, a1 = 0, h8 = 119
using Move = uint32_t;     // packed move word, see the field helpers below; 0 = no move
using HashKey = uint64_t;  // Zobrist key of a position
using PieceEntry = uint16_t;  // piece-list slot: square | code << 8 | GONE

// Piece types (bits 0-2 of a piece code); bit 3 (value 8) marks a black piece.
constexpr int KING = 1;
constexpr int PAWN = 2;
constexpr int KNIGHT = 3;
constexpr int BISHOP = 4;
constexpr int ROOK = 5;
constexpr int QUEEN = 6;
constexpr int BLACK_BIT = 8;
constexpr int EMPTY = 16;     // empty on-board square; EMPTY >> 3 == 2
constexpr int OFFBOARD = 32;  // guard square;        OFFBOARD >> 3 == 4

constexpr int WHITE = 0;
constexpr int BLACK = 1;

constexpr int GONE = 0x1000;  // piece-list slot holds no unit on the board

// Castling rights, a 4-bit set; right r (0-3) is the bit 1 << r, 2 * colour + 1 on the queen side.
constexpr int CASTLE_WK = 1;
constexpr int CASTLE_WQ = 2;
constexpr int CASTLE_BK = 4;
constexpr int CASTLE_BQ = 8;
constexpr int CASTLE_PATH_MAX = 8;  // squares one castling path lists

// How getFEN writes the castling rights: KQkq (outermost rooks, X-FEN for Chess960) or the rooks'
// files (Shredder-FEN, HAha).
constexpr int CASTLE_TEXT_KQ = 0;
constexpr int CASTLE_TEXT_FILES = 1;

// Move flags (bits 20-23 of a Move).
constexpr Move MF_SHORT_CASTLE = 1u << 20;
constexpr Move MF_LONG_CASTLE = 1u << 21;
constexpr Move MF_DOUBLE_PUSH = 1u << 22;
constexpr Move MF_EN_PASSANT = 1u << 23;
constexpr Move MF_CASTLE = MF_SHORT_CASTLE | MF_LONG_CASTLE;
constexpr Move MF_SPECIAL = 0xF0B00000u;  // castling, en passant or promotion
constexpr Move MF_TACTICAL = 0xFF000000u; // capture or promotion

constexpr int MAX_PLY = 128;          // records in plyStack; searches stop deepening at 127
constexpr int MAX_MOVES = 512;        // room in one move list: more than any legal position needs
constexpr int MAX_GAME_PLIES = 12000; // game moves the history keeps (longer than any fifty-move game)
constexpr int HISTORY_SIZE = MAX_GAME_PLIES + MAX_PLY + 8;  // game plus the deepest search line
constexpr int PIECE_SLOTS = 24;       // slots 0-15 pieces (king in 0), 16-23 pawns
constexpr int PAWN_SLOT0 = 16;        // first pawn slot
constexpr int NO_SLOT = 32;           // listIndex value of a square without a unit
constexpr int FEN_BUFFER = 100;       // bytes that always hold getFEN's record

// The text of the start position as setBoard receives it.
constexpr const char* START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0";

// Letters of the piece codes, index = code; EMPTY (16) shows as a blank.
constexpr const char PIECE_CHARS[] = "*KPNBRQ**kpnbrq* ";

// Value of whatever stands on a square, by code 0..16 (0 for EMPTY and unused codes).
constexpr int pieceValue[17] = {0, 5000, 100, 300, 300, 500, 900, 0,
                                0, 5000, 100, 300, 300, 500, 900, 0, 0};

// Attack-table bit of each kind of mover, by piece code 0..16.
constexpr uint8_t pieceMask[17] = {0, 1, 2, 8, 16, 32, 64, 0, 0, 1, 4, 8, 16, 32, 64, 0, 0};
constexpr uint8_t MASK_QUEEN = 64;  // set in an attack entry when two squares share a line

// Step offsets by piece code, in emission order, each row ended by 0.
constexpr int pieceDirs[15][9] = {
    {0},
    {17, 16, 15, 1, -1, -15, -16, -17, 0},      // white king
    {15, 17, 0},                                // white pawn captures
    {33, 31, 18, 14, -14, -18, -31, -33, 0},    // white knight
    {17, 15, -15, -17, 0},                      // white bishop
    {16, 1, -1, -16, 0},                        // white rook
    {17, 16, 15, 1, -1, -15, -16, -17, 0},      // white queen
    {0},
    {0},
    {-17, -16, -15, -1, 1, 15, 16, 17, 0},      // black king
    {-15, -17, 0},                              // black pawn captures
    {-33, -31, -18, -14, 14, 18, 31, 33, 0},    // black knight
    {-17, -15, 15, 17, 0},                      // black bishop
    {-16, -1, 1, 16, 0},                        // black rook
    {-17, -16, -15, -1, 1, 15, 16, 17, 0},      // black queen
};

// Pawn geometry per colour.
struct PawnInfo {
  int forward;      // single step
  int doubleStep;   // double step
  int startRank;    // rank (0-7) from which the double step is allowed
  int promoteRank;  // rank on which a pawn promotes
};
constexpr PawnInfo pawnInfo[2] = {{16, 32, 1, 7}, {-16, -32, 6, 0}};

constexpr HashKey SIDE_KEY = 0x47D3176B573A843FULL;  // XORed in when black is to move

// One entry of the attack table, indexed by the difference of two squares.
struct AttackEntry {
  uint8_t mask;  // OR of pieceMask of every mover that goes from the first square to the second
  int8_t dir;    // unit step (or knight offset) from the first square towards the second; 0 if none
};

// What one castling right needs, fixed when the position is set: where the rook starts, where
// king and rook land, the squares that must be empty (king and rook excepted) and the squares
// the king stands on after leaving its own, which must not be attacked.
struct CastlePath {
  Square rookFrom;
  Square kingTo, rookTo;
  int emptyCount, safeCount;
  Square empty[CASTLE_PATH_MAX];
  Square safe[CASTLE_PATH_MAX];
};

// Game history record: the state before the move made from this position.
struct UndoRecord {
  Move move;              // move made from this position; 0 for a null move
  uint8_t capturedSlot;   // pieceList slot of the captured unit
  uint8_t promotedSlot;   // pieceList slot of the pawn that promoted
  int epSquare;           // state before the move
  int castleRights;
  int fiftyCount;
  HashKey hashKey;
};

// Search stack record for one ply.
struct PlyRecord {
  int moveCount;             // number of moves in moves
  Move moves[MAX_MOVES];     // generated moves, followed by a 0 word
  int scores[MAX_MOVES];     // ordering score of each move
  Move mateKiller;           // move that last returned a mate-range score here
  Move killer1, killer2;     // killer moves, most recent first
  int checkCount;            // checkers of the side to move: 0, 1 or 2
  int checkers[2];           // their squares
};

// Every per-thread global of the position, as savePosition copies it: what a search thread takes
// over from the main thread, and what taking a move back must restore exactly. A global of the
// position that a move changes is listed here and in pairPositionGlobals (position.cpp), and
// nowhere else. The castling geometry (castleMask, castlePaths) is set with the position but
// shared by the threads and never changed by a move.
struct PositionSnapshot {
  uint8_t board[256];               // boardPadded
  PieceEntry pieceList[2][PIECE_SLOTS];
  uint8_t listIndex[128];
  int pieceSlots[2];
  uint8_t pawnSlots[2];
  uint8_t typeCount[2][7];
  int material[2];
  int sideToMove, otherSide, epSquare, castleRights, fiftyCount;
  HashKey hashKey;
  int gamePly, ply;
  UndoRecord history[HISTORY_SIZE];  // records 0 to gamePly - 1; the rest is not copied
};

// A few men on a board of their own, for work that must not touch the position (the endgame
// tables' checks decode positions and walk their moves from whichever thread reads a table).
// Squares are Square64; colour 0 is White.
constexpr int SCRATCH_MEN = 8;      // men a scratch position holds
constexpr int SCRATCH_MOVES = 256;  // room for the moves of any SCRATCH_MEN men
struct ScratchPosition {
  int count;
  int colour[SCRATCH_MEN], type[SCRATCH_MEN], square[SCRATCH_MEN];  // the kings first
  int stm;
  int ep;  // Square64 passed over by a double step beside an enemy pawn, -1 for none
};

// Counters zeroed at the start of every search and printed after it; the search, the
// evaluation cache and the endgame databases each increment their own, through countStat.
struct SearchStats {
  int cutoffs, firstMoveCutoffs, nullTries, nullCuts;
  int extCheck, extSingleReply, extMateThreat, extPawn7th, extRecapture, extPawnEndgame;
  int lateMoveReductions;
  int hashProbes, hashHits, evalProbes, evalHits;
  int egtbProbes, egtbHits, egbbProbes, egbbHits;
};

// Adds one to a SearchStats counter, wrapping past INT_MAX instead of overflowing: endless
// analysis passes 2^31 evaluations in a quarter of an hour.
inline void countStat(int& counter) { counter = int(unsigned(counter) + 1u); }

// Adds every counter of other to into, wrapping as countStat does (the threads' counters summed).
inline void addStats(SearchStats& into, const SearchStats& other) {
  constexpr size_t COUNT = sizeof(SearchStats) / sizeof(int);
  static_assert(sizeof(SearchStats) == COUNT * sizeof(int), "SearchStats holds int counters only");
  int a[COUNT], b[COUNT];
  std::memcpy(a, &into, sizeof a);
  std::memcpy(b, &other, sizeof b);
  for (size_t i = 0; i < COUNT; i++) a[i] = int(unsigned(a[i]) + unsigned(b[i]));
  std::memcpy(&into, a, sizeof a);
}

// ---------------------------------------------------------------------------
// Move-word and square helpers
// ---------------------------------------------------------------------------

constexpr bool onBoard(Square sq) { return (sq & 0x88) == 0; }
constexpr int square64(Square sq) { return (sq + (sq & 7)) >> 1; }
constexpr Square square88(int sq64) { return sq64 + (sq64 & ~7); }
constexpr int fileOf(Square sq) { return sq & 15; }
constexpr int file64(int sq64) { return sq64 & 7; }
constexpr int rank64(int sq64) { return sq64 >> 3; }
// Index of sq in an 8x8 table printed with rank 8 on top.
constexpr int printedIndex(Square sq) { return (7 - (sq >> 4)) * 8 + (sq & 7); }
constexpr int colourOf(int code) { return code >> 3; }
constexpr int typeOf(int code) { return code & 7; }
constexpr bool isSlider(int code) { return (code & 4) != 0; }

constexpr Square moveFrom(Move m) { return m & 0xFF; }
constexpr Square moveTo(Move m) { return (m >> 8) & 0xFF; }
constexpr int pieceOf(Move m) { return (m >> 16) & 15; }      // code of the mover
constexpr int capturedOf(Move m) { return (m >> 24) & 15; }   // code of the captured unit, 0 if none
constexpr int promotionOf(Move m) { return (m >> 28) & 15; }  // code of the new piece, 0 if none
constexpr bool isTactical(Move m) { return (m & MF_TACTICAL) != 0; }
constexpr bool isPromotion(Move m) { return m >= 0x10000000u; }
constexpr Move makeMoveWord(Square from, Square to, int piece, int captured = 0, int promotion = 0,
                            Move flags = 0) {
  return Move(from) | Move(to) << 8 | Move(piece) << 16 | flags | Move(captured) << 24 |
         Move(promotion) << 28;
}

constexpr int slotSquare(PieceEntry e) { return e & 0xFF; }
constexpr int slotCode(PieceEntry e) { return (e >> 8) & 15; }

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

extern constinit thread_local uint8_t boardPadded[256];           // 0x88 board embedded at index 64 of guards
// board[sq] for sq in -64..191: the running thread's boardPadded, read through its offset.
struct BoardSquares {
  uint8_t& operator[](int sq) const { return boardPadded[sq + 64]; }
};
constexpr BoardSquares board{};
extern int rankOf[128];                    // sq >> 4
extern int flippedRank[128];               // 7 - (sq >> 4)
extern uint8_t castleMask[128];            // rights that survive a move touching the square
extern CastlePath castlePaths[4];          // by right; meaningful while the right is held
extern int castleText;                     // CASTLE_TEXT_* getFEN writes

extern constinit thread_local PieceEntry pieceList[2][PIECE_SLOTS];  // per colour: slot 0 king, 1-15 pieces, 16-23 pawns
extern constinit thread_local uint8_t listIndex[128];             // slot of the unit on each square, NO_SLOT if none
extern constinit thread_local int pieceSlots[2];                  // slots in use from 0 upward
extern constinit thread_local uint8_t pawnSlots[2];               // pawn slots in use from 16 upward
extern constinit thread_local uint8_t typeCount[2][7];            // units per colour and type
extern constinit thread_local int material[2];                    // piece values per colour, king excluded

// Calls visit(entry) for every unit of colour on the board, the king and pieces first, then the
// pawns; returns false as soon as visit does.
template <class Visit>
bool forEachUnit(int colour, Visit visit) {
  for (int slot = 0; slot < pieceSlots[colour]; slot++)
    if (!(pieceList[colour][slot] & GONE) && !visit(pieceList[colour][slot])) return false;
  for (int slot = PAWN_SLOT0; slot < PAWN_SLOT0 + pawnSlots[colour]; slot++)
    if (!(pieceList[colour][slot] & GONE) && !visit(pieceList[colour][slot])) return false;
  return true;
}

extern constinit thread_local int sideToMove;                     // 0 white, 1 black
extern constinit thread_local int otherSide;                      // sideToMove ^ 1
extern constinit thread_local int epSquare;                       // square passed over by a double push, else 0
extern constinit thread_local int castleRights;                   // CASTLE_* set
extern constinit thread_local int fiftyCount;                     // half-moves since capture or pawn move
extern constinit thread_local HashKey hashKey;                    // key of the current position

extern const HashKey pieceKeys[15][64];    // by code and Square64; row 0 keys the en-passant square
extern const HashKey castleKeys[16];       // by whole rights set

extern constinit thread_local UndoRecord history[HISTORY_SIZE];   // game moves, then the moves of the searched line
extern constinit thread_local int gamePly;                        // records in use
extern constinit thread_local PlyRecord plyStack[MAX_PLY];        // search stack
extern constinit thread_local int ply;                            // distance from the search root

extern AttackEntry attackTable[256];       // index from - to + 128
extern bool positionRejected;              // setBoard kept a refused position (xboard mode):
                                           // nothing may be generated or played from it
extern uint8_t distanceTable[256];         // king distance, index a - b + 128

extern constinit thread_local SearchStats searchStats;  // counters of the current search

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// Start-up tables (position.cpp, attacks.cpp).
void initBoardTables();          // guards, empty squares, rankOf, flippedRank
void initAttackTable();          // attackTable
void initDistanceTable();        // distanceTable
void initPieceLists();           // rebuild lists, counts and material from the board
HashKey computeHashKey();        // key of the current position from scratch
bool boardIsConsistent();        // debug audit: key, counts, material, lists agree with the board
void clearGameState();           // ply, gamePly, plyStack and history to zero
// Castling paths and castleMask for the rooks on rookFrom (by right; used for the rights in
// castleRights) and the kings where they stand.
void setCastling(const Square rookFrom[4]);
bool castlingIsStandard();       // every right held has its king on e1/e8 and rook on a/h
// The path of castling move m.
inline const CastlePath& castlePathOf(Move m) {
  return castlePaths[2 * colourOf(pieceOf(m)) + ((m & MF_LONG_CASTLE) ? 1 : 0)];
}

inline const AttackEntry& attackEntry(int diff) { return attackTable[diff + 128]; }
inline int distance(Square a, Square b) { return distanceTable[a - b + 128]; }
inline Square kingSquare(int colour) { return slotSquare(pieceList[colour][0]); }
// Castling rights left after a move from `from` to `to`: touching a king or rook square loses them.
inline int rightsAfter(Square from, Square to) { return castleRights & castleMask[from] & castleMask[to]; }
// Piece values of colour without its pawns (kings count nothing).
inline int nonPawnMaterial(int colour) { return material[colour] - pieceValue[PAWN] * typeCount[colour][PAWN]; }
bool historyFull();              // gamePly has reached MAX_GAME_PLIES: no further game move fits
void savePosition(PositionSnapshot& snapshot);           // the running thread's position into it
void restorePosition(const PositionSnapshot& snapshot);  // and back, onto the running thread's
bool samePosition(const PositionSnapshot& a, const PositionSnapshot& b);  // every global alike

// Walks from `from` by `step` over empty squares; true when the walk arrives on `target`,
// which must lie on that ray.
inline bool rayReaches(Square from, int step, Square target) {
  Square sq = from + step;
  while (sq != target && board[sq] == EMPTY) sq += step;
  return sq == target;
}

// Scratch positions (scratch.cpp); they read only the start-up tables, so any thread may call them.
bool scratchAttacked(const ScratchPosition& p, int sq64, int colour);  // a man of colour attacks sq64
bool scratchInCheck(const ScratchPosition& p, int colour);             // colour's king attacked
// The positions after each legal move of the side to move, into children; returns their number.
// Stops when room children are made (room 1: whether there is a legal move at all).
int genScratchMoves(const ScratchPosition& p, ScratchPosition* children, int room = SCRATCH_MOVES);
// Square64 set of the squares one step (or jump) of the unit with this code away from sq64.
uint64_t stepSquares64(int code, int sq64);

// Attacks and checks (attacks.cpp).
int isAttacked(Square sq, int colour);   // 1 when a unit of colour attacks sq
int inCheck(int colour);                 // colour's king attacked
int findCheckers(int* out);              // checkers of the side to move; returns their number
int findCheckersAfterMove(int* out);     // same, from the last move only
int countCheckers();                     // all checkers of the side to move, none stored
int pinDirection(Square sq);             // step towards own king if pinned by an enemy slider
int legal(Move m);                       // a generated move leaves the mover's king safe

// Move generation into plyStack[ply] (movegen.cpp).
void genMoves();                         // pseudo-legal moves, not in check
void genCaptures();                      // captures, en passant, queen promotions
void genEvasions();                      // legal replies to check
void genRootMoves();                     // legal moves at ply 0
void genPlyMoves();                      // findCheckers, then evasions or all moves, for plyStack[ply]

// Making moves (makemove.cpp).
void makeMove(Move m);
void unmakeMove();
void unmakeGameMove();                   // unmakeMove for a move made before the lists were rebuilt
void makeNullMove();
void unmakeNullMove();
void changeSideToMove(int colour);       // give colour the move, no move made: the en-passant
                                         // square goes and the key follows

// Keys of the positions one move on, computed without making the move (makemove.cpp).
// Key of the en-passant square ep, 0 when there is none (no branch: it is set at a few nodes only).
inline HashKey epKey(Square ep) { return pieceKeys[0][square64(ep)] & (HashKey(0) - HashKey(ep != 0)); }
// The key after a null move: the side flips and the en-passant square goes, as after any move.
inline HashKey keyAfterNullMove() { return hashKey ^ SIDE_KEY ^ epKey(epSquare); }
HashKey keyAfterSpecialMove(Move m, HashKey nullKey);  // keyAfterMove for any move
// The key makeMove will give the position after m, given nullKey = keyAfterNullMove(). Plain
// moves, captures and promotions that keep the castling rights take the short way inline (the
// search computes the keys of all children to prefetch their table entries).
inline HashKey keyAfterMove(Move m, HashKey nullKey) {
  const Square from = moveFrom(m), to = moveTo(m);
  if ((m & (MF_CASTLE | MF_DOUBLE_PUSH | MF_EN_PASSANT)) != 0 || rightsAfter(from, to) != castleRights)
    return keyAfterSpecialMove(m, nullKey);
  const int piece = pieceOf(m), landing = isPromotion(m) ? promotionOf(m) : piece;
  const int to64 = square64(to);
  HashKey key = nullKey ^ pieceKeys[piece][square64(from)] ^ pieceKeys[landing][to64];
  if (capturedOf(m) != 0) key ^= pieceKeys[capturedOf(m)][to64];
  return key;
}

// FEN and display (fen.cpp).
int setBoard(const char* text);          // 0 when a position is set; non-zero on a syntax error
int validatePosition();                  // number of errors found, one message each
void getFEN(char* buffer);               // FEN_BUFFER bytes suffice
void printBoard();                       // coloured diagram and state lines

// Move text (movetext.cpp).
const char* moveToCoord(Move m);         // static buffer, overwritten by the next call
const char* moveToUci(Move m);           // moveToCoord with a lower-case promotion letter (e7e8q);
                                         // castling as the king taking its rook with UCI_Chess960
const char* moveToSAN(Move m);           // static buffer; regenerates plyStack[ply] and [ply + 1]
Move parseCoord(const char* text);       // from | to << 8 | promotion type << 28; 0 if not move text;
                                         // O-O and O-O-O (or 0-0): the castling flag alone
Move matchMove(Move partial);            // first legal move matching; 0 if none
bool moveMatches(Move m, Move partial);  // m is the move partial names (parseCoord, a move word)

// Game end (gameend.cpp).
int checkGameEnd();                      // prints the result line; 1 when the game has ended
int repetitionCount();                   // earlier occurrences of hashKey in the reversible window

// Perft and speed test (perft.cpp).
uint64_t perftCount(int depth);          // leaf count of the legal tree, nothing printed
uint64_t perftCountByMaking(int depth);  // the same with every leaf made and unmade
void perft(int depth);                   // count with progress bar and report
void speedTest();                        // timed generator and make/unmake loops
void showProgress(double fraction);      // progress bar on the current line

// Console, clock and memory (console.cpp).
int nowMs();                             // wall clock in ms, 32-bit, wrapping
void* allocateLarge(size_t bytes);       // zeroed, for free(); from 2 MB on 2 MB-aligned with huge
                                         // pages (tables probed at random places); null on failure
// Milliseconds since a time stamp of nowMs(); the clock wraps, so the difference is taken modulo
// 2^32.
inline int msSince(int start) { return int(unsigned(nowMs()) - unsigned(start)); }
bool outputIsTerminal();                 // colours and clearing only on a terminal
void setColour(int colour);              // foreground colour (0-15)
void resetColour();                      // grey on black
void inverseColour();                    // black on white
void clearConsole();
void setConsoleTitle(const char* title);
