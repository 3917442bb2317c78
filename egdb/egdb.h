// Endgame databases: Nalimov distance-to-mate tablebases, read by Talvek itself through a block
// cache and a decompressor for the ".emd" form, and Shawul bitbases reached through a shared
// library loaded at run time.
//
// The search asks probeNalimov() and probeEgbb() about the current position; the front end calls
// initNalimov() and loadEgbb() at start-up and whenever a path or cache setting changes. Everything
// below the first four procedures is the tablebase reader those four are built on.
#pragma once

#include <cstdint>
#include <cstdio>

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

constexpr int TB_CLASSES = 146;           // material classes, entry 0 the bare kings
constexpr int TB_BLOCK = 8192;            // bytes of table data in one cache slot
constexpr int TB_BLOCK_SHIFT = 13;        // log2 of TB_BLOCK
constexpr int TB_SLOT_DATA = 8228;        // slot buffer: a block and decoder slack
constexpr int TB_SLOT_COST = 8260;        // cache budget taken by one slot (header + buffer)
constexpr int TB_BUCKETS = 32;            // cache chains per file side
constexpr int TB_DECODE_CONTEXT = 8256;   // bytes of the shared decoding work area
constexpr int TB_NO_ANSWER = 32767;       // probeTB value meaning "unknown"
constexpr uint32_t TB_NO_INDEX = 0xFFFFFFFFu;  // index function: position outside the layout
constexpr int TB_NO_EP = 127;             // en-passant argument when there is none
constexpr int TB_BLOCK_SIZE = 16;         // entries of one colour's square block
constexpr int EMD_SIGNATURE_SIZE = 64;    // bytes of the ".emd" signature
constexpr int EMD_FIXED_HEADER = 80;      // bytes of the fixed ".emd" header
constexpr uint32_t EMD_MAGIC = 4194805;   // bytes 76-79 of an ".emd" header
constexpr int EGBB_NO_ANSWER = 99999;     // probe_egbb_5men: position not available
constexpr int EGBB_MAX_CACHE_MB = 2047;   // the library's cache size is a signed 32-bit count
constexpr int EGBB_MAX_SCORE = 30000;     // bitbase scores stay below the mate scores

// Signature at the start of every ".emd" file: a 60-character banner ending in CR LF, then four
// zero bytes (the last of them the string's terminator).
inline constexpr char EMD_SIGNATURE[EMD_SIGNATURE_SIZE] =
    "Talvek tablebase block compressor 1.0 - endgame data only.\r\n\0\0";
static_assert(EMD_SIGNATURE[58] == '\r' && EMD_SIGNATURE[59] == '\n' && EMD_SIGNATURE[63] == 0);

// Failure classes of reading an ".emd" header (readEmdHeader's result).
constexpr int EMD_OK = 0;
constexpr int EMD_READ_ERROR = 1;      // short fixed part or signature mismatch
constexpr int EMD_OUT_OF_MEMORY = 2;   // allocation failure or short rest of header
constexpr int EMD_BROKEN = 3;          // field out of range, bad checksum, invalid code
constexpr int EMD_SEEK_ERROR = 4;      // the file could not be positioned or measured

// ---------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------

struct EmdDirectory;  // decoding tables and block offsets of one compressed file side

// One material class and its registered files, per side to move (0 white, 1 black).
struct TablebaseDescriptor {
  int classNumber;
  char name[8];              // e.g. "kqkr": stronger side first, each side starting with "k"
  uint32_t expectedSize[2];  // bytes of table data of a correct file
  char* fileName[2];         // full path of the registered file, null when none
  FILE* file[2];             // open handle, null when closed
  EmdDirectory* directory[2];  // null for an uncompressed file
  uint32_t* buckets[2];      // TB_BUCKETS chain heads into the cache (slot number + 1), 0 = empty
};

// A position whose value in its table follows from the rules alone, used to check table files.
// Squares are 0-63 with the class's stronger side as White; units are side << 9 | type << 6 |
// square (type 0 pawn, 1 knight, 2 bishop, 3 rook, 4 queen), -1 for none.
constexpr int TB_SAMPLE_UNITS = 3;
constexpr int TB_MAX_SAMPLES = 64;   // samples of one table at most
struct TbSample {
  uint8_t classNumber;
  uint8_t side;           // side to move: 0 the stronger side (White), 1 the other
  int8_t value;           // stored byte: -126 checkmated, 0 stalemate, 126 mates in one move
  int8_t ep;              // en-passant square, or TB_NO_EP
  int8_t kings[2];        // the stronger side's king, the other's
  int16_t units[TB_SAMPLE_UNITS];
};

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

extern int tbMaxMen;        // men of the largest registered Nalimov class: 0 (none), 3, 4 or 5
extern int egbbAvailable;   // the bitbase library is loaded
extern TablebaseDescriptor tbClasses[TB_CLASSES];  // by class number

// ---------------------------------------------------------------------------
// Procedures
// ---------------------------------------------------------------------------

// Engine interface (egdb.cpp). Scores are for the side to move of the current position.
void initNalimov(const char* path, uint32_t cacheBytes);  // registers files, sizes the cache, prints
int loadEgbb(const char* path, uint32_t cacheBytes);      // 1 when the bitbase library is loaded
int probeNalimov(int* score);   // 1 with a search score, 0 = no answer; counts egtbProbes/Hits
int probeEgbb(int* score);      // 1 with the library's value, 0 = no answer; counts egbbProbes/Hits
int nalimovScore(int value);    // search score of a probeTB value other than TB_NO_ANSWER
int egbbScore(int value, int ply);  // search score of a bitbase answer: sign kept at every ply

// Tablebase registration and values (nalimov.cpp).
int initTB(const char* pathList);   // registers every file on the "," / ";" list; largest men or 0
void closeTBFiles();                // closes every open table file
const char* tbClassName(int classNumber);  // "kqkr"; "" for a number out of range
int lookupTBClass(const int counts[10]);  // +class, -class (colours exchanged) or 0
int probeTB(uint32_t index, int side, int classNumber);  // value of a position, TB_NO_ANSWER if none

FILE* openRegularFile(const char* name);  // null unless name is a regular file opened for reading

// Layout check (nalimov_check.cpp).
const TbSample* tbSamples(int classNumber, int side, int* count);  // the samples of one table
void tbSampleBlocks(const TbSample& sample, int first[TB_BLOCK_SIZE], int second[TB_BLOCK_SIZE]);
bool tableLayoutMatches(FILE* file, const EmdDirectory* directory, int classNumber, int side);

// Block cache (nalimov_cache.cpp).
int resetTBCache(uint32_t bytes, void* memory);  // carves memory into slots; 0 when under 32 bytes
int tbCacheSlots();                              // slots carved by the last reset
void emptyTBCache();                             // every slot free again, the carving kept
int readTBByte(uint32_t index, int side, int classNumber);  // stored byte, or 127 on any failure

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
int decodeEmdBlock(FILE* file, const EmdDirectory* directory, uint32_t block,
                   uint8_t* out);   // bytes produced (at most TB_BLOCK), or -1 on any failure

// Bitbase library (egbb.cpp).
using EgbbLoadFunction = int (*)(char* path, int cacheBytes, int loadOptions);
using EgbbProbeFunction = int (*)(int side, int whiteKing, int blackKing, int piece1, int square1,
                                  int piece2, int square2, int piece3, int square3);
extern EgbbProbeFunction egbbProbe;    // the library's probe_egbb_5men, null when not loaded
extern EgbbLoadFunction egbbLoad;      // the library's load_egbb_5men, null when not loaded
int openEgbbLibrary(const char* folder);  // dlopen of the folder's library; 1 with both exports
