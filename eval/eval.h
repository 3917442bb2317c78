// The static evaluation: driver and cache, positional terms, pawn structure, endgame
// knowledge and the pawn-blockade test.
//
// evaluate() scores the one global position for the side to move. Inside, every term is
// White-relative (positive = good for White); the sign turns only at the very end. A position
// takes one of three roads: an evaluation-cache hit, a specialised endgame evaluator chosen by
// the material signature, or the full positional evaluation scaled by two per-colour factors
// that encode drawish material. All scratch state is global and rebuilt on every call; nothing
// is allocated while evaluating.
#pragma once

#include <cstdint>

#include "board/board.h"

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

// Material thresholds of the driver (centipawns, kings excluded).
constexpr int SIGNATURE_MATERIAL = 1700;  // at or below: consult the material signature
constexpr int LONE_SIDE_CAP = 1300;       // a pawnless side with at most this much ...
constexpr int LONE_SIDE_MARGIN = 300;     // ... and at most this much over the enemy's pieces
constexpr int ENDGAME_PIECES = 2 * (500 + 900);  // both sides' non-pawn material at most this

// drawFlags bits.
constexpr int DF_DRAWISH = 1;
constexpr int DF_OPPOSITE_BISHOPS = 2;

// What the material signature returns: 0 or the key of an ending with its own evaluator.
using EndgameCode = uint64_t;
constexpr EndgameCode EG_NONE = 0;
constexpr EndgameCode EG_KPK = 0x1;                  // king and pawn against king
constexpr EndgameCode EG_KQKR = 0x100010000;         // queen against rook
constexpr EndgameCode EG_KRKB = 0x10001000;          // rook against bishop
constexpr EndgameCode EG_KRKN = 0x1001000;           // rook against knight
constexpr EndgameCode EG_KRKP = 0x101000;            // rook against pawn
constexpr EndgameCode EG_KBNK = 0x110;               // bishop and knight against king
constexpr EndgameCode EG_KRPKR = 0x100001001;        // rook and pawn against rook
constexpr EndgameCode EG_LONE_KING = 0xFFFFFFFFFF;   // bare king against 500 or more of pieces

// King and pawn against king bitbase: 24 pawn squares x 64 x 64 king squares x 2 sides to move.
constexpr int KPK_POSITIONS = 24 * 64 * 64 * 2;
constexpr int KPK_BYTES = KPK_POSITIONS / 8;

constexpr int MAX_LIST = 32;  // room of a normalised square list (every unit on the board)

constexpr int PAWN_CACHE_ENTRIES = 32768;  // pawn-structure cache slots, a power of two
constexpr HashKey PAWN_KEY_SEED = 0x9E3779B97F4A7C15ULL;  // so that no pawns never keys as 0

// ---------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------

// One slot of the evaluation cache.
struct EvalCacheEntry {
  uint32_t keyLow;   // low half of the position's HashKey
  uint32_t keyHigh;  // high half
  int32_t score;     // White-relative score as evaluate() computed it
  uint32_t spare;    // zeroed with the table, never used
};
static_assert(sizeof(EvalCacheEntry) == 16, "cache entries are 16 bytes");

// What the pawns alone decide, kept per pawn structure: everything of the pawn terms that no
// piece, king or attack of a piece can change.
struct PawnCacheEntry {
  HashKey key;                  // XOR of the pawns' piece keys and PAWN_KEY_SEED
  uint64_t structureSquares[2]; // Square64 bits by colour: pawns that are not isolated (backward is open)
  uint64_t passedSquares;       // Square64 bits: passed pawns of either colour
  int16_t placement;            // pawn tables, White-relative
  int16_t stormKingSide;        // storms when White's king is on the king side, Black's on the other
  int16_t stormQueenSide;       // storms when White's king is on the queen side, Black's on the other
  int16_t fixedTerms;           // doubled and isolated pawns, White-relative
  int8_t filePawns[2][10];      // pawnsOnFile, copied whole
  int8_t lowestWhite[10];       // lowestWhitePawn
  int8_t highestBlack[10];      // highestBlackPawn
};

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

// Driver (evaluate.cpp).
extern constinit thread_local int scaleWhite;   // sixteenths applied to a positive full-evaluation sum
extern constinit thread_local int scaleBlack;   // sixteenths applied to a negative one

// Material signature (material.cpp).
extern constinit thread_local uint64_t materialKey;    // 4-bit counts: white P N B R Q in bits 0-19, black in 20-39
extern constinit thread_local int drawFlags;           // DF_* of the last signature or known-draw test

// Evaluation cache (ecache.cpp), one per search thread. evalCache is null while no table is
// allocated; evaluate() then computes every position afresh.
extern constinit thread_local EvalCacheEntry* evalCache;
extern constinit thread_local uint32_t evalCacheEntries;  // a power of two
extern constinit thread_local uint32_t evalCacheMask;     // evalCacheEntries - 1

// Scratch state of the full evaluation (terms.cpp), valid until the next full evaluation.
extern constinit thread_local uint8_t attackMapPadded[2][256];  // per colour, a 0x88 board embedded at index 64
// attackMap[colour][sq]: per colour, by Square (-64..191 addressable), byte fields.
struct AttackMaps {
  uint8_t* operator[](int colour) const { return attackMapPadded[colour] + 64; }
};
constexpr AttackMaps attackMap{};
extern constinit thread_local int8_t pawnsOnFile[2][10];    // pawns per colour and file + 1 (files -1 and 8 hold 0)
extern constinit thread_local int8_t lowestWhitePawn[10];   // by file + 1: lowest rank of a white pawn, 7 if none
extern constinit thread_local int8_t highestBlackPawn[10];  // by file + 1: highest rank of a black pawn, 0 if none
extern constinit thread_local int developmentCount[2];      // undeveloped minor pieces, weighted
extern constinit thread_local int seventhCount[2];          // heavy pieces on the enemy's two back ranks, weighted
extern constinit thread_local int rookFileCount[2];         // rooks on files without own pawns, weighted
extern constinit thread_local int isEndgame;                // both sides' non-pawn material at most ENDGAME_PIECES
extern constinit thread_local int raceMin[2];               // pawn structure: fastest unstoppable passer per colour, 7 if none

// Pawn-structure cache (pawns.cpp), direct-mapped by the pawn key; pawnEntry is the entry of
// the position of the last evalPawnPlacement, which evalPawnStructure reads.
extern constinit thread_local PawnCacheEntry pawnCache[PAWN_CACHE_ENTRIES];
extern constinit thread_local const PawnCacheEntry* pawnEntry;

// KPK bitbase (kpk.cpp): one bit per position, set when the pawn's side wins.
extern uint8_t kpkBitbase[KPK_BYTES];

// Pawn-blockade test (blockade.cpp), by [file][rank].
extern constinit thread_local uint8_t fencePath[8][8];      // the connected fence found from the a- to the h-file

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// Driver (evaluate.cpp).
void initTables();                 // every table fixed at start-up, board's and KPK; empties the board
int evaluate();                    // score for the side to move; cached; counts evalProbes/evalHits
int isRepetitionOrFifty();         // 1 when the fifty-move rule or an earlier occurrence draws
int applyScale(int score);         // a White-relative sum scaled by scaleWhite / scaleBlack
int evalRookCorner();              // rook against bishop: edge bonus for the rook's side

// Evaluation cache (ecache.cpp).
void initECache(uint32_t bytes);   // (re)allocate for a byte budget, clear, print the size line
void freeECache();                 // release the table; evaluate() then runs uncached
void resizeECache(uint32_t bytes); // initECache without the size line (search helpers' own caches)

// Full evaluation (terms.cpp); each term returns its White-relative contribution. The terms
// after evalPieces read the scratch state that the earlier ones build, in this order.
int fullEvaluation();              // the whole White-relative sum
void clearEvalScratch();           // empty attack maps, pawn files and counters; sets isEndgame
int evalPawnPlacement();           // pawn tables and storms; fills the pawn files, pawn attacks
int evalPieces();                  // piece tables, mobility, outposts; attacks and counters
int evalAggregates();              // seventh rank, rook files, development
int evalPatterns();                // trapped bishops, blocked centre pawns, shut-in rooks
int kingDangerIndex(int colour);   // king-safety index F of colour's king (term must apply)
int evalKingSafety();              // kingDangerTable penalties where the enemy has a queen
int evalKingPlacement();           // middlegame or endgame king table
int evalImbalance();               // piece-for-pawns and minor-piece count imbalances
int evalBishopPair();              // two bishops

// Pawn structure (pawns.cpp), after evalPieces and markKingAttacks.
void clearPawnCache();             // forget every pawn structure
void fillPawnStructure(PawnCacheEntry& entry);  // doubled/isolated sum and masks from the pawn files
int evalPawnStructure();           // every pawn's terms plus the pawn race

// Material signature and draws (material.cpp).
EndgameCode materialSignature();   // sets materialKey, flags and scale factors; 0 or an ending
uint64_t computeMaterialKey();     // the key of the current material
int isKnownDraw();                 // 1 when the material is a certain draw (at most two units)
int normalizePosition(int colour, Square* out);  // colour's men, then the enemy's; returns count

// Specialised endgame evaluators (endgame.cpp), White-relative.
int evalKPK();
int evalKQKR();
int evalKRKN();
int evalKRKP();
int evalKBNK();
int evalKRPKR();
int evalLoneKing();

// KPK bitbase (kpk.cpp). Squares are normalised: the pawn's side moves up, pawn on files a-d,
// ranks 2-7; strongToMove is 1 when the pawn's side is to move.
void initKPK();                    // build the bitbase by retrograde analysis; idempotent
int probeKPK(Square pawn, Square strongKing, Square weakKing, int strongToMove);

// Pawn-blockade test (blockade.cpp).
int isPawnBlockade();              // 1 when White's king and pawns cannot get through
int isRammed(Square sq);           // the pawn on sq (or the file chain ahead) is blocked by a pawn
int highestFenceRank(int file);    // highest rank 6..1 of the fence on file, -1 if none
