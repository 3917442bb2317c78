// Gaviota tablebases behind the ZELT settings, probed through Debian's library (gtb-probe.h) when
// the engine is built with it: distance to mate in the Tablebases mode, win, draw or loss in the
// Bitbases mode. Without the library the settings are kept, and switching ZELT on says that the
// support is not built in.
//
// Also the cross-check of the registered Nalimov tables against Gaviota's distances to mate.
#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "board/board.h"
#include "egdb/egdb.h"
#include "session/session.h"

#ifdef TALVEK_GAVIOTA
#include <gtb-probe.h>
#endif

int zeltMode = ZELT_OFF;
int zeltMaxMen = 0;

#ifdef TALVEK_GAVIOTA

namespace {

constexpr int WDL_SHARE_TABLEBASES = 32;  // of the library's cache (out of 128) for win/draw/loss
constexpr int WDL_SHARE_BITBASES = 96;
constexpr int DISAGREEMENTS_SHOWN = 10;   // per table, by tbcheck
constexpr uint32_t CHECK_SAMPLE = 100000; // tbcheck's positions per table when none are given

const char** zeltPaths = nullptr;
bool zeltStarted = false;
std::mutex zeltMutex;  // one search thread at a time in the library and its cache

// The compression scheme of the first Gaviota file found in the folders of pathList: the suffix
// ".gtb.cp1" to ".gtb.cp4", or ".gtb" for uncompressed files; -1 when there is none.
int findScheme(const char* pathList) {
  const char* folder = pathList;
  for (;;) {
    size_t length = std::strcspn(folder, ",;");
    std::string name(folder, length);
    if (DIR* dir = opendir(name.empty() ? "." : name.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const char* dot = std::strstr(entry->d_name, ".gtb");
        if (!dot) continue;
        int scheme = -1;
        if (dot[4] == '\0') scheme = tb_UNCOMPRESSED;
        if (std::strncmp(dot + 4, ".cp", 3) == 0 && dot[7] >= '1' && dot[7] <= '4' && dot[8] == '\0')
          scheme = dot[7] - '0';
        if (scheme >= 0) {
          closedir(dir);
          return scheme;
        }
      }
      closedir(dir);
    }
    if (!folder[length]) return -1;
    folder += length + 1;
  }
}

// Men as the library takes them: squares and pieces of each colour, each list ended by
// tb_NOSQUARE / tb_NOPIECE.
struct GaviotaMen {
  unsigned squares[2][17];
  unsigned char pieces[2][17];
  int count[2];
  void add(int colour, int type, int square) {
    static constexpr unsigned char PIECE[7] = {tb_NOPIECE, tb_KING, tb_PAWN, tb_KNIGHT,
                                               tb_BISHOP, tb_ROOK, tb_QUEEN};
    int& n = count[colour];
    squares[colour][n] = unsigned(square);
    pieces[colour][n++] = PIECE[type];
    squares[colour][n] = tb_NOSQUARE;
    pieces[colour][n] = tb_NOPIECE;
  }
};

// The men of the current position.
GaviotaMen menOfBoard() {
  GaviotaMen men{};
  for (int colour = WHITE; colour <= BLACK; colour++)
    forEachUnit(colour, [&](PieceEntry entry) {
      men.add(colour, typeOf(slotCode(entry)), square64(slotSquare(entry)));
      return true;
    });
  return men;
}

// The men of a table position (the table's first side is White).
GaviotaMen menOfTable(const TbPosition& p) {
  GaviotaMen men{};
  for (int colour = 0; colour < 2; colour++) {
    men.add(colour, KING, p.kings[colour]);
    for (int unit : p.units[colour]) men.add(colour, unit / 64, unit % 64);
  }
  return men;
}

// Distance to mate of a position from the library: 1 with *plies (0 checkmated) and *result
// (0 draw, 1 the side to move wins, -1 it loses), 0 when the tables cannot tell. ep is a 0-63
// square or -1. Search threads take turns (zeltMutex).
int probeDistance(const GaviotaMen& men, int stm, int ep, bool winDrawLossOnly, int* result,
                  unsigned* plies) {
  std::lock_guard<std::mutex> lock(zeltMutex);
  unsigned info = tb_UNKNOWN;
  unsigned epSq = ep >= 0 ? unsigned(ep) : unsigned(tb_NOSQUARE);
  *plies = 0;
  int found = winDrawLossOnly
                  ? tb_probe_WDL_hard(unsigned(stm), epSq, tb_NOCASTLE, men.squares[WHITE],
                                      men.squares[BLACK], men.pieces[WHITE], men.pieces[BLACK], &info)
                  : tb_probe_hard(unsigned(stm), epSq, tb_NOCASTLE, men.squares[WHITE],
                                  men.squares[BLACK], men.pieces[WHITE], men.pieces[BLACK], &info, plies);
  if (!found) return 0;
  if (info == tb_DRAW) *result = 0;
  else if (info == tb_WMATE) *result = stm == WHITE ? 1 : -1;
  else if (info == tb_BMATE) *result = stm == BLACK ? 1 : -1;
  else return 0;
  return 1;
}

// Whether the side to move is checkmated. The moves are generated into the current ply's record,
// which the search fills again after the probe.
bool checkmated() {
  if (!inCheck(sideToMove)) return false;
  genPlyMoves();
  for (const Move* m = plyStack[ply].moves; *m; m++)
    if (legal(*m)) return false;
  return true;
}

}  // namespace

void closeZelt() {
  if (zeltStarted) {
    tbcache_done();
    tb_done();
  }
  if (zeltPaths) zeltPaths = tbpaths_done(zeltPaths);
  zeltStarted = false;
  zeltMode = ZELT_OFF;
  zeltMaxMen = 0;
}

// Loads the Gaviota tables of the folders on path ("," or ";" between them) with a cache of
// cacheBytes for mode (ZELT_OFF closes them). Prints what it finds; returns the men of the
// largest tables, 0 when none are loaded.
int initZelt(int mode, const char* path, uint64_t cacheBytes) {
  closeZelt();
  if (mode == ZELT_OFF) return 0;
  int scheme = findScheme(path);
  if (scheme < 0) {
    std::printf("No ZELT tablebases found!\n");
    return 0;
  }
  zeltPaths = tbpaths_init();
  const char* folder = path;
  for (;;) {
    size_t length = std::strcspn(folder, ",;");
    std::string name(folder, length);
    if (zeltPaths && !name.empty()) zeltPaths = tbpaths_add(zeltPaths, name.c_str());
    if (!folder[length]) break;
    folder += length + 1;
  }
  if (!zeltPaths) {
    std::printf("**ERROR**  initZelt() : unable to allocate the path list\n");
    return 0;
  }
  tb_init(0, scheme, zeltPaths);
  zeltStarted = true;
  unsigned available = tb_availability();
  int men = available & 16 ? 5 : available & 4 ? 4 : available & 1 ? 3 : 0;
  if (men == 0) {
    std::printf("No ZELT tablebases found!\n");
    closeZelt();
    return 0;
  }
  if (!tbcache_init(size_t(cacheBytes), mode == ZELT_BITBASES ? WDL_SHARE_BITBASES : WDL_SHARE_TABLEBASES)) {
    std::printf("Couldn't allocate memory for ZELT cache!\n");
    closeZelt();
    return 0;
  }
  std::printf("%d-men ZELT %s found\n", men, mode == ZELT_BITBASES ? "bitbases" : "tablebases");
  std::printf("ZELT cache:  %d KB\n", int(cacheBytes / 1024));
  zeltMode = mode;
  zeltMaxMen = men;
  return men;
}

// The current position in the Gaviota tables, for the side to move at the current ply: in the
// Tablebases mode a mate score at its exact ply (counts egtbProbes and egtbHits), in the Bitbases
// mode a bitbase score as the EGBB library's answers get, or the mate score of a checkmate
// (counts egbbProbes and egbbHits).
int probeZelt(int* score) {
  const bool bitbases = zeltMode == ZELT_BITBASES;
  int& probes = bitbases ? searchStats.egbbProbes : searchStats.egtbProbes;
  int& hits = bitbases ? searchStats.egbbHits : searchStats.egtbHits;
  countStat(probes);
  int result;
  unsigned plies;
  if (zeltMode == ZELT_OFF || castleRights ||
      !probeDistance(menOfBoard(), sideToMove, epSquare ? square64(epSquare) : -1, bitbases, &result, &plies))
    return 0;
  countStat(hits);
  if (!bitbases)
    *score = result == 0 ? 0 : result * (TB_MATE - ply - int(plies));
  else if (result < 0 && checkmated())  // the mate itself is exact, so that the search finds mates
    *score = -(TB_MATE - ply);
  else
    *score = egbbScore(result * EGBB_MAX_SCORE, ply);
  return 1;
}

// Compares every registered Nalimov table with Gaviota's distance to mate: every position of a
// table of at most `sample` positions (0: CHECK_SAMPLE, every position of the three-man tables),
// else `sample` positions spread over it. Prints the first disagreements of each table and a line
// per table.
void checkTablesAgainstZelt(uint32_t sample) {
  if (sample == 0) sample = CHECK_SAMPLE;
  if (zeltMode == ZELT_OFF) {
    std::printf("**ERROR**  tbcheck() : no ZELT tables loaded (zelt on, zeltpath)\n");
    return;
  }
  int tables = 0;
  for (int c = 1; c < TB_CLASSES; c++)
    for (int side = 0; side < 2; side++) {
      const TablebaseDescriptor& entry = tbClasses[c];
      if (!entry.fileName[side]) continue;
      tables++;
      uint32_t length = entry.expectedSize[side];
      uint32_t step = length <= sample ? 1 : length / sample;
      uint64_t compared = 0, disagreements = 0, unknown = 0;
      for (uint32_t index = 0; index < length; index += step) {
        TbPosition p;
        if (!decodeTbIndex(c, side, index, p) || !tbPositionLegal(p)) continue;
        int value = probeTB(index, side, c);
        int result;
        unsigned plies;
        if (value == TB_NO_ANSWER || !probeDistance(menOfTable(p), side, p.ep, false, &result, &plies)) {
          unknown++;
          continue;
        }
        compared++;
        int nalimovResult = value > 0 ? 1 : value < 0 ? -1 : 0;
        int nalimovPlies = value > 0 ? 2 * (32767 - value) - 1 : value < 0 ? 2 * (value + 32766) : 0;
        if (nalimovResult == result && (result == 0 || unsigned(nalimovPlies) == plies)) continue;
        if (disagreements++ < DISAGREEMENTS_SHOWN)
          std::printf("%s.%s index %u (%s): Nalimov %s %d plies, ZELT %s %u plies\n", entry.name,
                      side ? "nbb" : "nbw", index, tbPositionFen(p, false),
                      nalimovResult > 0 ? "wins in" : nalimovResult < 0 ? "loses in" : "draws,",
                      nalimovPlies, result > 0 ? "wins in" : result < 0 ? "loses in" : "draws,",
                      plies);
      }
      std::printf("%s.%s: %llu positions compared, %llu disagreements, %llu unknown\n", entry.name,
                  side ? "nbb" : "nbw", (unsigned long long)compared,
                  (unsigned long long)disagreements, (unsigned long long)unknown);
    }
  if (tables == 0) std::printf("**ERROR**  tbcheck() : no Nalimov tables registered\n");
}

#else  // built without the Gaviota library

void closeZelt() {
  zeltMode = ZELT_OFF;
  zeltMaxMen = 0;
}

int initZelt(int mode, const char*, uint64_t) {
  closeZelt();
  if (mode != ZELT_OFF) std::printf("**ERROR**  initZelt() : ZELT support is not built in\n");
  return 0;
}

int probeZelt(int*) { return 0; }

void checkTablesAgainstZelt(uint32_t) {
  std::printf("**ERROR**  tbcheck() : ZELT support is not built in\n");
}

#endif
