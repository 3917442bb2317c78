// The engine's side of both endgame databases: setting them up from the settings, turning the
// current position into the inputs of a probe, and the probe results into search scores.
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "board/board.h"
#include "session/session.h"
#include "egdb/egdb.h"

int tbMaxMen = 0;
int egbbAvailable = 0;

namespace {

void* cacheMemory = nullptr;  // the Nalimov block cache, handed to the reader
std::mutex nalimovMutex;      // one search thread at a time in the Nalimov reader
std::mutex egbbMutex;         // one search thread at a time in the bitbase library

constexpr int EGBB_PIECE_CODE[7] = {0, 0, 6, 5, 4, 3, 2};  // white code by type; black adds 6
constexpr int BLOCK_OFFSET[7] = {-1, 15, 0, 3, 6, 9, 12};  // first entry of a type in a block

// Fills one colour's square block and its five counts (pawns, knights, bishops, rooks, queens).
// False when a type has more units than a block holds.
bool fillSquareBlock(int colour, int* block, int* counts) {
  std::memset(block, 0, TB_BLOCK_SIZE * sizeof(int));
  int used[7] = {};
  const bool fits = forEachUnit(colour, [&](PieceEntry entry) {
    int type = typeOf(slotCode(entry));
    if (type != KING && used[type] == 3) return false;
    block[BLOCK_OFFSET[type] + used[type]++] = square64(slotSquare(entry));
    return true;
  });
  if (!fits) return false;
  for (int type = PAWN; type <= QUEEN; type++) counts[type - PAWN] = used[type];
  return true;
}

}  // namespace

// Registers the Nalimov files on path (folders separated by "," or ";") and gives the reader a
// cache of cacheBytes. Sets tbMaxMen and prints what was found.
void initNalimov(const char* path, uint32_t cacheBytes) {
  tbMaxMen = initTB(path);
  if (!tbMaxMen) {
    std::printf("No Nalimov tablebases found!\n");
    return;
  }
  std::printf("%d-men Nalimov tablebases found\n", tbMaxMen);
  resetTBCache(0, nullptr);
  std::free(cacheMemory);
  cacheMemory = allocateLarge(cacheBytes);
  if (!cacheMemory) {
    tbMaxMen = 0;
    std::printf("Couldn't allocate memory for EGTB cache!\n");
    return;
  }
  std::printf("EGTB cache:  %d KB\n", int(cacheBytes / 1024));
  resetTBCache(cacheBytes, cacheMemory);
}

// Loads the bitbase library from the folder path and starts it with cacheBytes. The folder gets
// a final "/" unless it ends in "/" or "\"; when path is the egbbpath setting, the setting keeps
// it. The library is handed a folder text that lives as long as the process (it may keep the
// pointer and open its files later): every folder it was given is kept, a few bytes per change of
// the setting. The library's size argument is a signed 32-bit count, so a cache is at most
// EGBB_MAX_CACHE_MB: the egbbcache setting's range, which the front end holds every size to.
// Returns 1 when loaded, 0 after printing "EgbbProbe not Loaded!".
int loadEgbb(const char* path, uint32_t cacheBytes) {
  static std::deque<std::string> folders;  // elements never move, so their texts stay put
  assert(cacheBytes <= uint32_t(EGBB_MAX_CACHE_MB) << 20);
  std::string text = path;
  if (text.empty() || (text.back() != '/' && text.back() != '\\')) {
    if (text == settings.egbbPath) settings.egbbPath += '/';
    text += '/';
  }
  egbbAvailable = openEgbbLibrary(text.c_str());
  if (!egbbAvailable) {
    std::printf("EgbbProbe not Loaded!\n");
    return 0;
  }
  if (folders.empty() || folders.back() != text) folders.push_back(text);
  egbbLoad(folders.back().data(), int(cacheBytes), 1);
  return 1;
}

// Search score of a bitbase answer at distance ply from the root: wins reached sooner score
// higher (100 + 100 per ply less than the answer), but a win stays a win and a loss a loss
// however deep, and no answer is taken for a mate score.
int egbbScore(int value, int ply) {
  if (value == 0) return 0;
  int64_t magnitude = value > 0 ? int64_t(value) : -int64_t(value);
  if (magnitude > EGBB_MAX_SCORE) magnitude = EGBB_MAX_SCORE;
  magnitude -= 100 + 100 * int64_t(ply);
  if (magnitude < 1) magnitude = 1;
  return int(value > 0 ? magnitude : -magnitude);
}

// Search score of a Nalimov value of a position at distance ply from the root: a win in m moves
// (value 32767 - m) mates 2m - 1 plies on, at ply + 2m - 1; a loss in m moves (value m - 32766)
// is mated 2m plies on. Mate scores are MATE less the ply of the mate; 0 for a draw.
int nalimovScore(int value, int ply) {
  if (value > 0) return TB_MATE - ply - (2 * (32767 - value) - 1);
  if (value < 0) return -(TB_MATE - ply - 2 * (value + 32766));
  return 0;
}

uint32_t tbIndexOfMen(int white[TB_BLOCK_SIZE], int black[TB_BLOCK_SIZE], const int counts[10],
                      int stm, int ep, int* classNumber, int* side) {
  int c = lookupTBClass(counts);
  if (c == 0) return TB_NO_INDEX;
  int* first = white;
  int* second = black;
  int s = stm, invert = 0;
  if (c < 0) {
    c = -c;
    std::swap(first, second);
    s ^= 1;
    invert = 1;
  }
  *classNumber = c;
  *side = s;
  return indexTB(c, s, first, second, ep, invert);
}

uint32_t boardTBIndex(int* classNumber, int* side) {
  int blocks[2][TB_BLOCK_SIZE], counts[10];
  if (!fillSquareBlock(WHITE, blocks[WHITE], counts) ||
      !fillSquareBlock(BLACK, blocks[BLACK], counts + 5))
    return TB_NO_INDEX;
  int ep = epSquare ? square64(epSquare) : TB_NO_EP;
  return tbIndexOfMen(blocks[WHITE], blocks[BLACK], counts, sideToMove, ep, classNumber, side);
}

int tablebaseMen() {
  if (zeltMode == ZELT_TABLEBASES) return zeltMaxMen;
  return zeltMode == ZELT_OFF ? tbMaxMen : 0;
}

int bitbasesAvailable() { return zeltMode == ZELT_BITBASES || egbbAvailable; }

int probeTablebases(int* score) { return zeltMode == ZELT_TABLEBASES ? probeZelt(score) : probeNalimov(score); }

// Bitbase answers are turned into scores here: wins reached sooner score higher, keeping the sign.
int probeBitbases(int* score) {
  if (zeltMode == ZELT_BITBASES && probeZelt(score)) return 1;
  int value;
  if (!egbbAvailable || !probeEgbb(&value)) return 0;
  *score = egbbScore(value, ply);
  return 1;
}

// Looks the current position up in the Nalimov tables. Returns 1 with *score for the side to
// move at the current ply, 0 when no table answers (the tables know nothing of castling, so a
// position with castling rights gets no answer). Counts egtbProbes and egtbHits. Search threads
// read the tables one at a time: the block cache, the files, the first-load check of a block
// and a file found changed all sit behind nalimovMutex.
int probeNalimov(int* score) {
  countStat(searchStats.egtbProbes);
  if (castleRights) return 0;
  int classNumber, side;
  uint32_t index = boardTBIndex(&classNumber, &side);
  if (index == TB_NO_INDEX) return 0;
  int value;
  {
    std::lock_guard<std::mutex> lock(nalimovMutex);
    if (!tbClasses[classNumber].fileName[side]) return 0;
    value = probeTB(index, side, classNumber);
  }
  if (value == TB_NO_ANSWER) return 0;
  countStat(searchStats.egtbHits);
  *score = nalimovScore(value, ply);
  return 1;
}

// Asks the bitbase library about the current position (at most five men). Returns 1 with the
// library's value for the side to move (0 a draw), 0 when it has no answer. Counts egbbProbes
// and egbbHits.
int probeEgbb(int* score) {
  countStat(searchStats.egbbProbes);
  if (!egbbProbe) return 0;
  int pieces[3] = {}, squares[3] = {}, used = 0;
  for (int colour = WHITE; colour <= BLACK; colour++) {
    auto add = [&](PieceEntry entry) {
      if (entry & GONE) return true;
      if (used == 3) return false;
      pieces[used] = EGBB_PIECE_CODE[typeOf(slotCode(entry))] + 6 * colour;
      squares[used++] = square64(slotSquare(entry));
      return true;
    };
    for (int slot = PAWN_SLOT0; slot < PAWN_SLOT0 + pawnSlots[colour]; slot++)
      if (!add(pieceList[colour][slot])) return 0;
    for (int slot = 1; slot < pieceSlots[colour]; slot++)
      if (!add(pieceList[colour][slot])) return 0;
  }
  std::lock_guard<std::mutex> lock(egbbMutex);  // the library is not known to be thread-safe
  int result = egbbProbe(sideToMove, square64(kingSquare(WHITE)), square64(kingSquare(BLACK)),
                         pieces[0], squares[0], pieces[1], squares[1], pieces[2], squares[2]);
  if (result == EGBB_NO_ANSWER) return 0;
  countStat(searchStats.egbbHits);
  *score = result;
  return 1;
}
