// Endgame databases: Nalimov distance-to-mate tablebases, read by Talvek itself through a block
// cache and a decompressor for the ".emd" form; Gaviota tablebases (the ZELT settings) through
// Debian's probing library when the engine is built with it; and Shawul bitbases reached through
// a shared library loaded at run time.
//
// The search asks probeTablebases() and probeBitbases() about the current position; the front end
// calls initNalimov(), initZelt() and loadEgbb() at start-up and whenever a path or cache setting
// changes. Everything below the engine interface is the tablebase reader it is built on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

constexpr int TB_CLASSES = 146;           // material classes, entry 0 the bare kings
constexpr int TB_BLOCK = 8192;            // bytes of table data in one cache slot
constexpr int TB_BLOCK_SHIFT = 13;        // log2 of TB_BLOCK
constexpr int TB_SLOT_DATA = 8228;        // slot buffer: a block and decoder slack
constexpr int TB_SLOT_COST = 8260;        // cache budget taken by one slot (header + buffer)
constexpr int TB_DECODE_CONTEXT = 8256;   // bytes of the shared decoding work area
constexpr int TB_NO_ANSWER = 32767;       // probeTB value meaning "unknown"
constexpr int TB_MATE = 32767;            // the search's score of a mate at the root: a mate at
                                          // ply p scores TB_MATE - p
constexpr uint32_t TB_NO_INDEX = 0xFFFFFFFFu;  // index function: position outside the layout
constexpr int TB_NO_EP = 127;             // en-passant argument when there is none
constexpr int TB_BLOCK_SIZE = 16;         // entries of one colour's square block
constexpr int EMD_SIGNATURE_SIZE = 64;    // bytes of the ".emd" signature: a banner line, 4 zeros
constexpr int EMD_FIXED_HEADER = 80;      // bytes of the fixed ".emd" header
constexpr uint32_t EMD_MAGIC = 4194805;   // bytes 76-79 of an ".emd" header
constexpr int EGBB_NO_ANSWER = 99999;     // probe_egbb_5men: position not available
constexpr int EGBB_MAX_CACHE_MB = 2047;   // the library's cache size is a signed 32-bit count
constexpr int EGBB_MAX_SCORE = 30000;     // bitbase scores stay below the mate scores

constexpr int TB_CHECK_LOAD = 32;         // positions checked in a block when it is first loaded
constexpr int TB_CHECK_LOOSE = 1024;      // ... when its compressed bits did not end with it
constexpr int TB_CHECK_BLOCKS = 48;       // blocks of a file checked at registration, spread evenly
constexpr int TB_CHECK_REGISTER = 1024;   // positions checked in those blocks, spread evenly
constexpr int TB_CHECK_TERMINALS = 256;   // positions of a block tried for checkmate or stalemate

// ZELT (Gaviota) modes: the settings.zelt values.
constexpr int ZELT_OFF = 0;
constexpr int ZELT_TABLEBASES = 1;        // distance to mate, in place of Nalimov
constexpr int ZELT_BITBASES = 2;          // win, draw or loss only

// Failure classes of reading an ".emd" header (readEmdHeader's result).
constexpr int EMD_OK = 0;
constexpr int EMD_READ_ERROR = 1;      // short fixed part or no banner line of the format's shape
constexpr int EMD_OUT_OF_MEMORY = 2;   // allocation failure
constexpr int EMD_BROKEN = 3;          // field out of range, bad checksum, invalid code
constexpr int EMD_SEEK_ERROR = 4;      // the file could not be positioned or measured
constexpr int EMD_CUT_SHORT = 5;       // the file ends inside the header it announces

// ---------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------

struct EmdDirectory;  // decoding tables and block offsets of one compressed file side

// What identifies the contents of a registered file: a file replaced or rewritten since differs.
struct TbFileStamp {
  uint64_t size, inode;
  int64_t modified;  // nanoseconds
};

// One material class and its registered files, per side to move (0 white, 1 black).
struct TablebaseDescriptor {
  int classNumber;
  char name[8];              // e.g. "kqkr": stronger side first, each side starting with "k"
  uint32_t expectedSize[2];  // bytes of table data of a correct file
  char* fileName[2];         // full path of the registered file, null when none
  FILE* file[2];             // open handle, null when closed
  EmdDirectory* directory[2];  // null for an uncompressed file
  uint8_t* refused[2];       // one bit per block whose check failed
  TbFileStamp stamp[2];      // of the file when it was registered
};

// A position of a class in the table's own colours: the first (stronger) side is White and moves
// up the board.
struct TbPosition {
  int side;                  // side to move: 0 first, 1 second
  int kings[2];              // 0-63
  std::vector<int> units[2]; // per side: type * 64 + square (board.h types, PAWN .. QUEEN)
  int ep;                    // en-passant square (0-63) or -1
};

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

extern int tbMaxMen;        // men of the largest registered Nalimov class: 0 (none), 3, 4 or 5
extern int egbbAvailable;   // the bitbase library is loaded
extern int zeltMode;        // ZELT_* in use: ZELT_OFF unless Gaviota tables are loaded
extern int zeltMaxMen;      // men of the largest loaded Gaviota tables, 0 when none
extern TablebaseDescriptor tbClasses[TB_CLASSES];  // by class number

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// Engine interface (egdb.cpp). Scores are for the side to move of the current position, at
// distance `ply` from the search root (a mate n plies after the probed position scores as a mate
// ply + n plies from the root, as every other mate score of the search does).
void initNalimov(const char* path, uint32_t cacheBytes);  // registers files, sizes the cache, prints
int loadEgbb(const char* path, uint32_t cacheBytes);      // 1 when the bitbase library is loaded
int tablebaseMen();             // men of the distance-to-mate tables in use (ZELT or Nalimov), or 0
int bitbasesAvailable();        // 1 when a win/draw/loss source (ZELT bitbases or EGBB) is in use
int probeTablebases(int* score);  // ZELT tablebases when on, else Nalimov; 1 with a score
int probeBitbases(int* score);    // ZELT bitbases when on, else EGBB; 1 with a score
int probeNalimov(int* score);   // 1 with a search score, 0 = no answer; counts egtbProbes/Hits
int probeEgbb(int* score);      // 1 with the library's value, 0 = no answer; counts egbbProbes/Hits
int nalimovScore(int value, int ply);  // search score of a probeTB value other than TB_NO_ANSWER
int egbbScore(int value, int ply);  // search score of a bitbase answer: sign kept at every ply
// Index of the men given as square blocks of White and Black (pieces by type as indexTB takes
// them, counts pawns to queens of White then Black) with stm to move, in the table of their class
// (registered or not): sets *classNumber and *side; TB_NO_INDEX when no class holds them.
uint32_t tbIndexOfMen(int white[TB_BLOCK_SIZE], int black[TB_BLOCK_SIZE], const int counts[10],
                      int stm, int ep, int* classNumber, int* side);
uint32_t boardTBIndex(int* classNumber, int* side);  // tbIndexOfMen of the current position

// Gaviota tablebases (gaviota.cpp). Without the library the engine is built without them, and
// initZelt says so.
int initZelt(int mode, const char* path, uint64_t cacheBytes);  // prints what it finds; sets zeltMode
void closeZelt();
int probeZelt(int* score);      // 1 with a search score (distance to mate, or a bitbase-like win)
void checkTablesAgainstZelt(uint32_t sample);  // prints where Nalimov and Gaviota disagree

// Tablebase registration and values (nalimov.cpp).
int initTB(const char* pathList);   // registers every file on the "," / ";" list; largest men or 0
void closeTBFiles();                // closes every open table file
const char* tbClassName(int classNumber);  // "kqkr"; "" for a number out of range
int lookupTBClass(const int counts[10]);  // +class, -class (colours exchanged) or 0 for no class
int probeTB(uint32_t index, int side, int classNumber);  // value of a position, TB_NO_ANSWER if none
int tbValueOfByte(int stored, uint32_t index, int side, int classNumber);  // probeTB of a stored byte
int registerTBFile(int classNumber, int side, const char* name);  // 1 when (re)registered and sound
bool tbFileChanged(int classNumber, int side);  // the file differs from the one registered
void forgetTBSide(int classNumber, int side);   // drops the side's file until the next registration

FILE* openRegularFile(const char* name);  // null unless name is a regular file opened for reading;
                                          // says why, unless nothing is there

// Checks of table contents against the rules (nalimov_check.cpp): a stored value must agree with
// the values of the positions the moves lead to. A check fails only on a contradiction; positions
// whose successors cannot be read are passed.
bool checkTBFile(int classNumber, int side, int positions);  // over TB_CHECK_BLOCKS blocks
void checkRegisteredTBFiles();                // refuses the registered files that fail
bool checkTBBlock(int classNumber, int side, uint32_t block, const uint8_t* data, int positions,
                  int terminals);
void flushTBCheckCache();                     // forgets the blocks the checks read

// Layout decoder (nalimov_layout.cpp).
bool decodeTbIndex(int classNumber, int side, uint32_t index, TbPosition& position);  // false: none
// Whether a table position can be looked up: units on distinct squares, pawns on ranks 2-7, the
// kings apart, the side not to move not in check, and for an en-passant square a pawn of the side
// not to move just past it, the squares it crossed empty and a pawn of the side to move beside it.
bool tbPositionLegal(const TbPosition& position);
// Unit counts of a class by table side (0 first, 1 second) and type; false for a bad number.
bool tbClassCounts(int classNumber, int counts[2][7]);
uint64_t layoutIndexCount(int classNumber, int side);  // indices of main and en-passant parts
uint32_t layoutFileLength(int classNumber, int side);  // largest index of a legal position + 1
uint64_t layoutEnPassantStart(int classNumber, int side);  // first index of the en-passant part
// FEN of a table position with the first side as White (flip false) or as Black on the board
// turned upside down (flip true); static buffer, overwritten by the next call.
const char* tbPositionFen(const TbPosition& position, bool flip);

// Block cache (nalimov_cache.cpp).
int resetTBCache(uint32_t bytes, void* memory);  // carves memory into slots; 0 when under 32 bytes
int tbCacheSlots();                              // slots carved by the last reset
void emptyTBCache();                             // every slot free again, the carving kept
int readTBByte(uint32_t index, int side, int classNumber);  // stored byte, or 127 on any failure
// Bytes of a block read into out, -1 on failure; *exact false when its compressed bits did not
// end where the block does (see decodeEmdBlock).
int readTBBlock(int classNumber, int side, uint32_t block, uint8_t* out, bool* exact = nullptr);
void dropTBBlocks(int classNumber, int side);    // the side's blocks leave the cache
const uint8_t* cachedTBBlock(int classNumber, int side, uint32_t block, int* produced);  // null unless cached

// Index functions (nalimov_index.cpp). Blocks list squares by type: pawns 0-2, knights 3-5,
// bishops 6-8, rooks 9-11, queens 12-14, king 15.
uint32_t indexTB(int classNumber, int side, const int* first, const int* second, int ep,
                 int invert);                    // TB_NO_INDEX when the squares fit no index
uint32_t tbIndexCount(int classNumber, int side);  // indices of the layout of a class and side
uint32_t tbFileLength(int classNumber, int side);  // bytes of a correct table file (class table)

// Compressed files (decompress.cpp).
uint32_t emdChecksum(const uint8_t* bytes, size_t length);  // header checksum
int readEmdHeader(FILE* file, EmdDirectory** directory);    // EMD_*; fills *directory on EMD_OK
void freeEmdDirectory(EmdDirectory* directory);
uint32_t emdBlockSize(const EmdDirectory* directory);       // 2^w
uint64_t emdUncompressedSize(const EmdDirectory* directory);  // summed in 64 bits
int allocDecodeContext();                                   // 0 when the work area is missing
void freeDecodeContext();
int decodeEmdBlock(FILE* file, const EmdDirectory* directory, uint32_t block, uint8_t* out,
                   bool* exact = nullptr);  // bytes produced (at most TB_BLOCK), -1 on failure

// Bitbase library (egbb.cpp).
using EgbbLoadFunction = int (*)(char* path, int cacheBytes, int loadOptions);
using EgbbProbeFunction = int (*)(int side, int whiteKing, int blackKing, int piece1, int square1,
                                  int piece2, int square2, int piece3, int square3);
extern EgbbProbeFunction egbbProbe;    // the library's probe_egbb_5men, null when not loaded
extern EgbbLoadFunction egbbLoad;      // the library's load_egbb_5men, null when not loaded
int openEgbbLibrary(const char* folder);  // dlopen of the folder's library; 1 with both exports

// ---------------------------------------------------------------------------
// Table generator (nalimov_solver.cpp): a retrograde solver that gives the exact distance to mate
// of every position of a material of at most four men (white moves up; no castling; en passant
// left out), and the table files of the Nalimov layout made from it.
// ---------------------------------------------------------------------------

constexpr int SOLVED_ILLEGAL = 0;
constexpr int SOLVED_DRAW = 1;
constexpr int SOLVED_WIN = 2;
constexpr int SOLVED_LOSS = 3;
constexpr int TB_GENERATED_MEN = 4;  // the most men of a class the generator makes

struct SolvedValue {
  int state;   // SOLVED_*
  int plies;   // to mate, for wins and losses
};

// One material: white king, black king, then the other units as (colour, type) with piece types
// of board.h (PAWN .. QUEEN), sorted.
struct Material {
  std::vector<std::pair<int, int>> units;
  bool operator<(const Material& other) const { return units < other.units; }
};

class Solver {
 public:
  // Solves the material named like a class ("kqk": white has the first part) and every material
  // it can turn into; materials solved once are kept for every later solver of the process.
  explicit Solver(const std::string& name);
  // Value of the position with white king wk, black king bk, the units' squares in the order of
  // the material, and colour stm to move.
  SolvedValue value(int wk, int bk, const std::vector<int>& squares, int stm) const;
  // Value of a class position given in the table's colours (first side white).
  SolvedValue valueOf(const TbPosition& position) const;
  const Material& material() const;

  struct Table;  // one solved material

 private:
  std::shared_ptr<std::map<Material, std::shared_ptr<Table>>> tables;
  std::shared_ptr<Table> top;
};

// The stored byte of a solved value: wins in m moves 127 - m, losses in m moves m - 126, draws 0,
// positions that cannot occur 127.
int8_t tableByte(SolvedValue value);

// The bytes of the table file of class c, side s from solver (en-passant positions unknown, 127).
std::vector<uint8_t> classTable(int classNumber, int side, const Solver& solver);

// Writes both table files of each class (".nbw", ".nbb") into folder, printing a line per class
// with its time; a file is written under a temporary name and renamed once complete. Returns
// the files written; on a class of more than TB_GENERATED_MEN men or a file that cannot be
// written it stops with a message and returns -1.
int generateTBFiles(const char* folder, const std::vector<int>& classes);
