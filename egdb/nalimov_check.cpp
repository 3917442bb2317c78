// Checks of table contents against the rules of chess. A table is trusted because its values
// agree with each other as the game requires, not because its name and length fit: the value of a
// position must follow from the values of the positions its moves lead to (the other side's file
// of the same class, or the tables of the classes a capture or a promotion leads to):
//   - a win in m moves has a move to a position lost in m - 1 moves, and none to a faster loss;
//   - a loss in m moves has only moves to positions the other side wins, the slowest in m moves;
//     a loss in 0 moves is a checkmate;
//   - a draw has no move to a lost position, and a move to a drawn one (or is stalemate).
// Successors that no registered table holds (and that are not bare kings or a lone minor piece)
// are unknown; a value is passed when the unknown successors could account for it. So a check
// never refuses a correct table, and a table whose other side's file is missing is only checked
// on its checkmates and stalemates.
//
// The positions checked are decoded from their indices (nalimov_layout.cpp); the successors are
// generated on a scratch position (board/scratch.cpp), since the checks run in the middle of a
// search and must not touch the engine's position. The bytes of successors are read through a small
// cache of raw blocks of its own, separate from the search's block cache.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/board.h"
#include "egdb/egdb.h"

namespace {

constexpr int CHECK_SLOTS = 64;  // raw blocks kept for reading successors
constexpr int TRIES = 64;        // indices tried for a legal, known position near a chosen one
constexpr int EDGE_WIN = 126;    // wins (and losses) this long or longer are not checked
constexpr int UNKNOWN = -100000; // successor value that no table gives

struct CheckSlot {
  int classNumber = 0, side = 0;
  uint32_t block = 0;
  uint32_t used = 0;   // clock of the last use; 0 = empty
  int produced = 0;
};

CheckSlot checkSlots[CHECK_SLOTS];
bool excluded[TB_CLASSES][2];  // files under suspicion, read as unknown by the checks
bool deriving = false;         // unknown successors are worked out from their own successors
uint8_t* checkData = nullptr;  // CHECK_SLOTS blocks of TB_BLOCK bytes
uint32_t checkClock = 0;

// The blocks of other files whose values the check of one position read, and those read by the
// position that last contradicted its successors (the blocks that may be at fault instead).
struct BlockName {
  int classNumber, side;
  uint32_t block;
};
constexpr int MAX_READ = 32;
BlockName readBlocks[MAX_READ], blamedBlocks[MAX_READ];
int readCount = 0, blamedCount = 0;

void noteBlockRead(int classNumber, int side, uint32_t block) {
  for (int i = 0; i < readCount; i++)
    if (readBlocks[i].classNumber == classNumber && readBlocks[i].side == side && readBlocks[i].block == block)
      return;
  if (readCount < MAX_READ) readBlocks[readCount++] = {classNumber, side, block};
}

// The block under check: its bytes come from its buffer, not from the file.
struct {
  int classNumber = 0, side = 0;
  uint32_t block = 0;
  const uint8_t* data = nullptr;
} underCheck;

constexpr int BLOCK_START[7] = {-1, 15, 0, 3, 6, 9, 12};  // of a type in a square block

// The raw bytes of block `block` of class c, side s, from the search's block cache when it holds
// the block, else through the checks' own cache; null when the block cannot be read. *produced
// is the number of bytes the block holds.
const uint8_t* rawBlock(int classNumber, int side, uint32_t block, int* produced) {
  if (underCheck.data && underCheck.classNumber == classNumber && underCheck.side == side &&
      underCheck.block == block) {
    *produced = TB_BLOCK;
    return underCheck.data;
  }
  if (const uint8_t* cached = cachedTBBlock(classNumber, side, block, produced)) return cached;
  if (!checkData) checkData = static_cast<uint8_t*>(std::malloc(size_t(CHECK_SLOTS) * TB_BLOCK));
  if (!checkData) return nullptr;
  // Where the block was last seen: most reads find it there, without a scan of the slots.
  static uint8_t hints[256];
  uint8_t& hint = hints[(uint32_t(classNumber) * 2654435761u ^ uint32_t(side) * 40503u ^ block * 2246822519u) >> 24];
  auto holds = [&](const CheckSlot& s) {
    return s.used && s.classNumber == classNumber && s.side == side && s.block == block;
  };
  int found = holds(checkSlots[hint]) ? hint : -1;
  for (int n = 0; found < 0 && n < CHECK_SLOTS; n++)
    if (holds(checkSlots[n])) found = n;
  if (found >= 0) {
    hint = uint8_t(found);
    checkSlots[found].used = ++checkClock;
    *produced = checkSlots[found].produced;
    return checkData + size_t(found) * TB_BLOCK;
  }
  int oldest = 0;
  for (int n = 1; n < CHECK_SLOTS; n++)
    if (checkSlots[n].used < checkSlots[oldest].used) oldest = n;
  uint8_t* data = checkData + size_t(oldest) * TB_BLOCK;
  int got = readTBBlock(classNumber, side, block, data);
  if (got < 0) {
    checkSlots[oldest].used = 0;
    return nullptr;
  }
  checkSlots[oldest] = {classNumber, side, block, ++checkClock, got};
  hint = uint8_t(oldest);
  *produced = got;
  return data;
}

// The value of a successor for its side to move, as probeTB would give it, or UNKNOWN.
int successorValue(const ScratchPosition& q) {
  int units = 0, minors = 0;
  int counts[10] = {}, blocks[2][TB_BLOCK_SIZE] = {};
  for (int i = 0; i < q.count; i++) {
    int type = q.type[i], colour = q.colour[i];
    if (type == KING) {
      blocks[colour][15] = q.square[i];
      continue;
    }
    int& used = counts[5 * colour + type - PAWN];
    if (used == 3) return UNKNOWN;
    blocks[colour][BLOCK_START[type] + used++] = q.square[i];
    units++;
    minors += type == KNIGHT || type == BISHOP;
  }
  if (units == 0 || (units == 1 && minors == 1)) return 0;  // no mate is possible
  int classNumber, side;
  uint32_t index = tbIndexOfMen(blocks[0], blocks[1], counts, q.stm, q.ep >= 0 ? q.ep : TB_NO_EP,
                                &classNumber, &side);
  if (index == TB_NO_INDEX) return UNKNOWN;
  const TablebaseDescriptor& entry = tbClasses[classNumber];
  if (!entry.fileName[side] || index >= entry.expectedSize[side] || excluded[classNumber][side])
    return UNKNOWN;
  uint32_t block = index >> TB_BLOCK_SHIFT;
  if (entry.refused[side] && (entry.refused[side][block >> 3] >> (block & 7) & 1)) return UNKNOWN;
  int produced;
  const uint8_t* data = rawBlock(classNumber, side, block, &produced);
  if (!data || int(index & (TB_BLOCK - 1)) >= produced) return UNKNOWN;
  noteBlockRead(classNumber, side, block);
  int value = tbValueOfByte(int8_t(data[index & (TB_BLOCK - 1)]), index, side, classNumber);
  return value == TB_NO_ANSWER ? UNKNOWN : value;
}

bool hasLegalMove(const ScratchPosition& p) {
  ScratchPosition child;
  return genScratchMoves(p, &child, 1) > 0;
}

// The value of a successor, from its table or, when it has no legal move, from the rules (a
// table of draws says nothing about the checkmates in it).
int judgedValue(const ScratchPosition& q) {
  int v = successorValue(q);
  // A drawn value stands unless the position is checkmate (stalemate is a draw as well).
  if (v == 0 && !scratchInCheck(q, q.stm)) return 0;
  if ((v == UNKNOWN || v == 0) && !hasLegalMove(q)) v = scratchInCheck(q, q.stm) ? -32766 : 0;
  return v;
}

int winMoves(int value) { return value >= 32640 ? 32767 - value : 0; }      // 0: not a win
int lossMoves(int value) { return value <= -32639 ? value + 32766 : -1; }   // -1: not a loss

// The values of the successors of p, sorted out: how many, how many unknown (or too long to
// check), whether one is drawn, the fastest loss and the slowest win among them (for their side
// to move).
struct Successors {
  int moves = 0, unknown = 0, fastestLoss = 1000, slowestWin = 0;
  bool draw = false;
};

int derivedValue(const ScratchPosition& q);

Successors successorsOf(const ScratchPosition& p, bool derive) {
  Successors s;
  ScratchPosition children[SCRATCH_MOVES];
  s.moves = genScratchMoves(p, children);
  for (int k = 0; k < s.moves; k++) {
    const ScratchPosition& q = children[k];
    int v = judgedValue(q);
    if (v == UNKNOWN && derive) v = derivedValue(q);
    int w = v == UNKNOWN ? 0 : winMoves(v), l = v == UNKNOWN ? -1 : lossMoves(v);
    if (v == UNKNOWN || w >= EDGE_WIN || l >= EDGE_WIN - 1) {
      s.unknown++;
    } else if (v == 0) {
      s.draw = true;
    } else if (w) {
      if (w > s.slowestWin) s.slowestWin = w;
    } else if (l < s.fastestLoss) {
      s.fastestLoss = l;
    }
  }
  return s;
}

// The value of q worked out from the values of its successors; UNKNOWN unless all are known.
int derivedValue(const ScratchPosition& q) {
  Successors s = successorsOf(q, false);
  if (s.moves == 0) return scratchInCheck(q, q.stm) ? -32766 : 0;
  if (s.unknown) return UNKNOWN;
  if (s.fastestLoss < 1000) return 32767 - (s.fastestLoss + 1);
  return s.draw ? 0 : s.slowestWin - 32766;
}

// Whether the value of position p agrees with the values of its successors (see the top).
bool valueAgrees(const ScratchPosition& p, int value) {
  Successors s = successorsOf(p, deriving);
  bool lost = s.fastestLoss < 1000;
  if (s.moves == 0) return value == (scratchInCheck(p, p.stm) ? -32766 : 0);
  int m = winMoves(value);
  if (m) {
    if (m >= EDGE_WIN || s.fastestLoss == m - 1) return true;
    return s.fastestLoss > m - 1 && s.unknown > 0;
  }
  m = lossMoves(value);
  if (m >= 0) {
    if (m == 0 || s.draw || lost || s.slowestWin > m) return false;
    return m >= EDGE_WIN - 1 || s.slowestWin == m || s.unknown > 0;
  }
  if (lost) return false;  // a draw with a winning move
  return s.draw || s.unknown > 0;
}

// Decodes a table position into the checker's board.
bool menOf(int classNumber, int side, uint32_t index, ScratchPosition& p) {
  thread_local TbPosition position;
  if (!decodeTbIndex(classNumber, side, index, position) || !tbPositionLegal(position)) return false;
  p.count = 0;
  for (int colour = 0; colour < 2; colour++) {
    p.colour[p.count] = colour, p.type[p.count] = KING, p.square[p.count++] = position.kings[colour];
  }
  for (int colour = 0; colour < 2; colour++)
    for (int unit : position.units[colour]) {
      if (p.count == SCRATCH_MEN) return false;
      p.colour[p.count] = colour, p.type[p.count] = unit / 64, p.square[p.count++] = unit % 64;
    }
  p.stm = position.side;
  p.ep = position.ep;
  return true;
}

}  // namespace

void flushTBCheckCache() {
  for (CheckSlot& slot : checkSlots) slot = CheckSlot{};
  checkClock = 0;
}

// Checks `positions` legal positions with a known value spread over block `block` of class c,
// side s, whose bytes are data (the block as loaded), against their successors, and the values
// of the positions without a legal move among `terminals` more. Returns false on the first
// contradiction.
bool checkTBBlock(int classNumber, int side, uint32_t block, const uint8_t* data, int positions,
                  int terminals) {
  uint32_t first = block << TB_BLOCK_SHIFT;
  uint32_t length = tbClasses[classNumber].expectedSize[side];
  if (first >= length || positions < 1) return true;
  uint32_t span = length - first < uint32_t(TB_BLOCK) ? length - first : TB_BLOCK;
  uint32_t stride = span / uint32_t(positions) ? span / uint32_t(positions) : 1;
  underCheck = {classNumber, side, block, data};
  blamedCount = 0;
  bool agrees = true;
  // Each block starts at its own offset within the stride, so that different blocks try
  // different places of the layout.
  uint32_t offset = (block * 2654435761u >> 7) % stride;
  for (uint32_t at = offset; agrees && at < span; at += stride) {
    ScratchPosition p;
    for (uint32_t i = at, tries = 0; i < span && tries < TRIES; i++, tries++) {
      int stored = int8_t(data[i]);
      if (stored == 127 || !menOf(classNumber, side, first + i, p)) continue;
      readCount = 0;
      agrees = valueAgrees(p, tbValueOfByte(stored, first + i, side, classNumber));
      if (!agrees) std::memcpy(blamedBlocks, readBlocks, sizeof readBlocks), blamedCount = readCount;
      break;
    }
  }
  // Checkmates and stalemates are cheap to find and exact: no successor is needed.
  uint32_t step = terminals > 0 && span / uint32_t(terminals) ? span / uint32_t(terminals) : 1;
  for (uint32_t i = offset % step; agrees && terminals > 0 && i < span; i += step) {
    ScratchPosition p;
    int stored = int8_t(data[i]);
    if (stored == 127 || !menOf(classNumber, side, first + i, p) || hasLegalMove(p)) continue;
    agrees = tbValueOfByte(stored, first + i, side, classNumber) == (scratchInCheck(p, p.stm) ? -32766 : 0);
  }
  underCheck.data = nullptr;
  return agrees;
}

// Checks TB_CHECK_BLOCKS blocks spread evenly over the file of class c, side s (every block of a
// smaller file), `positions` positions in all, passing over blocks already refused. A block that
// cannot be read fails.
bool checkTBFile(int classNumber, int side, int positions) {
  uint32_t length = tbClasses[classNumber].expectedSize[side];
  if (!tbClasses[classNumber].fileName[side] || length == 0) return true;
  uint32_t blocks = (length + TB_BLOCK - 1) >> TB_BLOCK_SHIFT;
  uint32_t chosen = blocks < uint32_t(TB_CHECK_BLOCKS) ? blocks : TB_CHECK_BLOCKS;
  static uint8_t data[TB_SLOT_DATA];
  const uint8_t* refused = tbClasses[classNumber].refused[side];
  for (uint32_t k = 0; k < chosen; k++) {
    uint32_t block = chosen == 1 ? 0 : uint32_t(uint64_t(k) * (blocks - 1) / (chosen - 1));
    if (refused && (refused[block >> 3] >> (block & 7) & 1)) continue;
    bool exact;
    int produced = readTBBlock(classNumber, side, block, data, &exact);
    if (produced < 0) return false;
    std::memset(data + produced, 127, size_t(TB_BLOCK - produced));
    int here = positions / int(chosen);
    if (!exact && here < TB_CHECK_LOOSE) here = TB_CHECK_LOOSE;
    if (!checkTBBlock(classNumber, side, block, data, here, TB_CHECK_TERMINALS))
      return false;
  }
  return true;
}

namespace {

constexpr int MAX_BLAMED = 8;  // blocks of other files refused for the sake of one file

// Sets or clears the refused mark of a block of a registered file; returns whether it was set.
bool markRefused(const BlockName& b, bool refused) {
  uint8_t* marks = tbClasses[b.classNumber].refused[b.side];
  if (!marks) return false;
  uint8_t bit = uint8_t(1 << (b.block & 7));
  bool was = marks[b.block >> 3] & bit;
  marks[b.block >> 3] = uint8_t(refused ? marks[b.block >> 3] | bit : marks[b.block >> 3] & ~bit);
  return was;
}

// Whether the contradiction found in the file of class c, side s lay in blocks of other files:
// each block the contradicting position read is checked on its own, on TB_CHECK_LOOSE positions,
// with this file read as unknown (the values it would give worked out from their own
// successors). A block that contradicts the rules even so is refused (marked, with a message)
// and the file is checked again; true when it then passes. So a damaged block of one file does
// not cost the correct file beside it.
bool clearedByRefusingBlocks(int classNumber, int side) {
  static uint8_t data[TB_SLOT_DATA];
  for (int refusals = 0; refusals < MAX_BLAMED; refusals++) {
    BlockName blamed[MAX_READ];
    int count = blamedCount;
    std::memcpy(blamed, blamedBlocks, sizeof blamed);
    bool refusedOne = false;
    for (int i = 0; i < count && !refusedOne; i++) {
      const BlockName& b = blamed[i];
      TablebaseDescriptor& entry = tbClasses[b.classNumber];
      // A file whose every block registration reads is judged whole: a damaged block of it fails
      // its own check.
      uint32_t blocks = (entry.expectedSize[b.side] + TB_BLOCK - 1) >> TB_BLOCK_SHIFT;
      if ((b.classNumber == classNumber && b.side == side) || !entry.refused[b.side] ||
          blocks <= uint32_t(TB_CHECK_BLOCKS))
        continue;
      bool exact;
      int produced = readTBBlock(b.classNumber, b.side, b.block, data, &exact);
      if (produced < 0) continue;
      std::memset(data + produced, 127, size_t(TB_BLOCK - produced));
      // The other blocks under suspicion are read as unknown meanwhile: values worked out
      // through a damaged block would make a sound one look wrong.
      bool marked[MAX_READ] = {};
      for (int j = 0; j < count; j++) marked[j] = markRefused(blamed[j], j != i);
      excluded[classNumber][side] = deriving = true;
      bool sound = checkTBBlock(b.classNumber, b.side, b.block, data, TB_CHECK_LOOSE, TB_CHECK_TERMINALS);
      excluded[classNumber][side] = deriving = false;
      for (int j = 0; j < count; j++) markRefused(blamed[j], marked[j]);
      if (sound) continue;
      // Only a file sound elsewhere is blamed for a block: one wrong as a whole (a table of
      // another layout beside this one) leaves both to the checks of files under suspicion.
      markRefused(b, true);
      if (!checkTBFile(b.classNumber, b.side, TB_CHECK_REGISTER)) {
        markRefused(b, false);
        continue;
      }
      std::printf("**ERROR**  checkRegisteredTBFiles() : %s: block %u contradicts the positions its "
                  "moves lead to; it is not used\n", entry.fileName[b.side], unsigned(b.block));
      refusedOne = true;
    }
    if (!refusedOne) return false;
    flushTBCheckCache();
    if (checkTBFile(classNumber, side, TB_CHECK_REGISTER)) return true;
  }
  return false;
}

}  // namespace

// Checks every registered file against the others, and refuses (forgets, with a message) those
// that contradict the rules. A file whose contradiction lies in blocks of other files that fail
// on their own is kept, and those blocks are refused instead. When two files contradict each
// other, the one at fault is the one that also contradicts itself: each suspect is checked again
// with the other suspects read as unknown, the values of their positions worked out from their
// own successors (which lie in the suspect itself, or in files no check found fault with). The
// other suspects, which may have failed only through a file at fault, are checked again without
// those, on eight times as many positions (they may be at fault as well, with less to show for
// it); suspects that still contradict each other are all refused: none of them can be trusted.
void checkRegisteredTBFiles() {
  bool suspect[TB_CLASSES][2] = {};
  int suspects = 0;
  for (int c = 1; c < TB_CLASSES; c++)
    for (int s = 0; s < 2; s++)
      if (tbClasses[c].fileName[s] && !checkTBFile(c, s, TB_CHECK_REGISTER) && !clearedByRefusingBlocks(c, s))
        suspect[c][s] = true, suspects++;
  if (suspects == 0) return;
  auto refuse = [](int c, int s) {
    std::printf("*** %s: table layout or contents do not match\n", tbClasses[c].fileName[s]);
    forgetTBSide(c, s);
  };
  bool atFault[TB_CLASSES][2] = {};
  deriving = true;
  for (int c = 1; c < TB_CLASSES; c++)
    for (int s = 0; s < 2; s++) {
      if (!suspect[c][s]) continue;
      std::memcpy(excluded, suspect, sizeof excluded);
      excluded[c][s] = false;
      atFault[c][s] = !checkTBFile(c, s, TB_CHECK_REGISTER);
    }
  deriving = false;
  std::memset(excluded, 0, sizeof excluded);
  for (int c = 1; c < TB_CLASSES; c++)
    for (int s = 0; s < 2; s++)
      if (atFault[c][s]) refuse(c, s);
  flushTBCheckCache();
  bool contradicted[TB_CLASSES][2] = {};
  for (int c = 1; c < TB_CLASSES; c++)
    for (int s = 0; s < 2; s++)
      if (suspect[c][s] && !atFault[c][s] && !checkTBFile(c, s, 8 * TB_CHECK_REGISTER))
        contradicted[c][s] = true;
  for (int c = 1; c < TB_CLASSES; c++)
    for (int s = 0; s < 2; s++)
      if (contradicted[c][s]) refuse(c, s);
}
