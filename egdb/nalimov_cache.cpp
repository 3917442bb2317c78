// The tablebase block cache: one memory block carved into slots of 8192 bytes of table data,
// found through chains hashed on file side and block (at least as many chains as slots, so that
// a chain holds about one block however many blocks of one file are cached) and recycled in
// least-recently-used order.
//
// Slots are numbered from 1; a link or chain head of 0 means none. The headers lie together at
// the start of the memory block, followed by the data buffers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "egdb/egdb.h"
#include "session/session.h"

#include <unistd.h>

namespace {

struct TbCacheBlock {
  int32_t classNumber;  // class of the block held, 0 when free
  int32_t side;
  uint32_t start;       // index of its first byte, a multiple of TB_BLOCK
  uint32_t lruPrev, lruNext;      // towards the most / least recently used
  uint32_t chainPrev, chainNext;  // within the chain of its bucket
  uint32_t produced;     // bytes read from the file (the rest of the block reads 127)
};
static_assert(sizeof(TbCacheBlock) + TB_SLOT_DATA == TB_SLOT_COST, "a slot costs 8260 bytes");

TbCacheBlock* slotHeaders = nullptr;  // slotHeaders[n - 1] is slot n
uint8_t* slotData = nullptr;
uint32_t slotCount = 0;
uint32_t freeHead = 0;               // free slots, linked through lruNext
uint32_t lruHead = 0, lruTail = 0;
uint32_t* chainHeads = nullptr;      // slot number of each chain's first block, 0 = empty
int chainBits = 0;                   // log2 of the number of chains

TbCacheBlock& slot(uint32_t n) { return slotHeaders[n - 1]; }
uint8_t* dataOf(uint32_t n) { return slotData + size_t(n - 1) * TB_SLOT_DATA; }

uint32_t& bucketOf(int classNumber, int side, uint32_t start) {
  uint64_t key = uint64_t(classNumber * 2 + side) << 32 | (start >> TB_BLOCK_SHIFT);
  return chainHeads[(key * 0x9E3779B97F4A7C15ull) >> (64 - chainBits)];
}

void unlinkLru(uint32_t n) {
  TbCacheBlock& b = slot(n);
  if (b.lruPrev) slot(b.lruPrev).lruNext = b.lruNext; else lruHead = b.lruNext;
  if (b.lruNext) slot(b.lruNext).lruPrev = b.lruPrev; else lruTail = b.lruPrev;
  b.lruPrev = b.lruNext = 0;
}

void linkLruHead(uint32_t n) {
  TbCacheBlock& b = slot(n);
  b.lruPrev = 0;
  b.lruNext = lruHead;
  if (lruHead) slot(lruHead).lruPrev = n; else lruTail = n;
  lruHead = n;
}

void unlinkChain(uint32_t n) {
  TbCacheBlock& b = slot(n);
  if (b.chainPrev)
    slot(b.chainPrev).chainNext = b.chainNext;
  else
    bucketOf(b.classNumber, b.side, b.start) = b.chainNext;
  if (b.chainNext) slot(b.chainNext).chainPrev = b.chainPrev;
  b.chainPrev = b.chainNext = 0;
}

void linkChainHead(uint32_t n) {
  TbCacheBlock& b = slot(n);
  uint32_t& head = bucketOf(b.classNumber, b.side, b.start);
  b.chainPrev = 0;
  b.chainNext = head;
  if (head) slot(head).chainPrev = n;
  head = n;
}

void releaseSlot(uint32_t n) {
  slot(n).classNumber = 0;
  slot(n).lruNext = freeHead;
  freeHead = n;
}

// A slot for a new block: a free one, or else the least recently used one taken from its chain.
uint32_t takeSlot() {
  if (freeHead) {
    uint32_t n = freeHead;
    freeHead = slot(n).lruNext;
    slot(n).lruNext = 0;
    return n;
  }
  uint32_t n = lruTail;
  unlinkLru(n);
  unlinkChain(n);
  return n;
}

bool isRefused(const TablebaseDescriptor& entry, int side, uint32_t block) {
  return entry.refused[side] && (entry.refused[side][block >> 3] >> (block & 7) & 1);
}

}  // namespace

void emptyTBCache() {
  if (chainHeads) std::memset(chainHeads, 0, (size_t(1) << chainBits) * sizeof(uint32_t));
  freeHead = lruHead = lruTail = 0;
  for (uint32_t n = slotCount; n >= 1; n--) {
    slot(n) = TbCacheBlock{};
    releaseSlot(n);
  }
}

// Carves memory (bytes long, owned by the caller) into slots; closes every table file and
// empties every chain. Under 32 bytes there is no cache and every probe answers 127. The chain
// heads (4 to 8 bytes a slot) are allocated here; without them there is no cache either.
int resetTBCache(uint32_t bytes, void* memory) {
  closeTBFiles();
  slotCount = 0;
  std::free(chainHeads);
  chainHeads = nullptr;
  chainBits = 0;
  slotHeaders = nullptr;
  slotData = nullptr;
  freeHead = lruHead = lruTail = 0;
  if (bytes < 32 || !memory) return 0;
  uint32_t slots = bytes / TB_SLOT_COST;
  if (slots > 0) {
    chainBits = 1;
    while ((uint32_t(1) << chainBits) < slots) chainBits++;
    chainHeads = static_cast<uint32_t*>(std::calloc(size_t(1) << chainBits, sizeof(uint32_t)));
    if (!chainHeads) {
      std::printf("*** Cannot allocate %u bytes of memory\n", unsigned((1u << chainBits) * sizeof(uint32_t)));
      chainBits = 0;
      return 0;
    }
  }
  slotCount = slots;
  slotHeaders = static_cast<TbCacheBlock*>(memory);
  slotData = static_cast<uint8_t*>(memory) + size_t(slotCount) * sizeof(TbCacheBlock);
  emptyTBCache();
  return 1;
}

int tbCacheSlots() { return int(slotCount); }

// Reads block `block` of the file of class c, side s into out (TB_BLOCK bytes of room), opening
// the file when it is closed; bytes past the end of a plain file are not read. Returns the bytes
// read, or -1 when the block cannot be read.
int readTBBlock(int classNumber, int side, uint32_t block, uint8_t* out, bool* exact) {
  if (exact) *exact = true;
  TablebaseDescriptor& entry = tbClasses[classNumber];
  if (!entry.fileName[side]) return -1;
  if (!entry.file[side]) {
    entry.file[side] = openRegularFile(entry.fileName[side]);
    if (!entry.file[side]) {
      closeTBFiles();  // the system may refuse one more open file
      entry.file[side] = openRegularFile(entry.fileName[side]);
    }
    if (!entry.file[side]) return -1;
  }
  FILE* file = entry.file[side];
  if (entry.directory[side]) return decodeEmdBlock(file, entry.directory[side], block, out, exact);
  // One positioned read, without the stream's seek and buffer (a short count only at the end).
  int produced = 0;
  off_t offset = off_t(block) << TB_BLOCK_SHIFT;
  while (produced < TB_BLOCK) {
    ssize_t got = pread(fileno(file), out + produced, size_t(TB_BLOCK - produced), offset + produced);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    produced += int(got);
  }
  return produced;
}

// The bytes of block `block` of class c, side s when the cache holds it (checked when it was
// loaded), with *produced the number read from the file; null otherwise. The block is not
// counted as used.
const uint8_t* cachedTBBlock(int classNumber, int side, uint32_t block, int* produced) {
  if (slotCount == 0) return nullptr;
  uint32_t start = block << TB_BLOCK_SHIFT;
  for (uint32_t n = bucketOf(classNumber, side, start); n; n = slot(n).chainNext) {
    const TbCacheBlock& b = slot(n);
    if (b.classNumber == classNumber && b.side == side && b.start == start) {
      *produced = int(b.produced);
      return dataOf(n);
    }
  }
  return nullptr;
}

// Takes every block of class c, side s out of the cache.
void dropTBBlocks(int classNumber, int side) {
  if (lruHead == 0) return;  // nothing cached
  for (uint32_t n = 1; n <= slotCount; n++) {
    const TbCacheBlock& b = slot(n);
    bool cached = b.lruPrev != 0 || lruHead == n;  // not a slot taken for a block still loading
    if (b.classNumber != classNumber || b.side != side || !cached) continue;
    unlinkLru(n);
    unlinkChain(n);
    releaseSlot(n);
  }
}

// The stored byte (-128..127) of position index in the file of class c, side s; 127 ("unknown")
// without a cache, without a registered file, past the end of the table, in a block that failed
// its check, or when the block cannot be read (the side is then dropped). A block is checked
// against the rules when it is loaded, before any of its bytes is answered; a file found changed
// since its registration is registered (and checked) again first.
int readTBByte(uint32_t index, int side, int classNumber) {
  if (slotCount == 0 || classNumber <= 0 || classNumber >= TB_CLASSES || side < 0 || side > 1)
    return 127;
  TablebaseDescriptor& entry = tbClasses[classNumber];
  if (!entry.fileName[side] || index >= entry.expectedSize[side])
    return 127;
  uint32_t start = index & ~uint32_t(TB_BLOCK - 1);
  for (uint32_t n = bucketOf(classNumber, side, start); n; n = slot(n).chainNext) {
    TbCacheBlock& b = slot(n);
    if (b.classNumber == classNumber && b.side == side && b.start == start) {
      if (lruHead != n) {
        unlinkLru(n);
        linkLruHead(n);
      }
      return int8_t(dataOf(n)[index - start]);
    }
  }
  uint32_t block = start >> TB_BLOCK_SHIFT;
  if (tbFileChanged(classNumber, side) &&
      (!registerTBFile(classNumber, side, entry.fileName[side]) || index >= entry.expectedSize[side]))
    return 127;
  if (isRefused(entry, side, block)) return 127;
  uint32_t n = takeSlot();
  slot(n).classNumber = classNumber;
  slot(n).side = side;
  slot(n).start = start;
  uint8_t* data = dataOf(n);
  bool exact;
  int produced = readTBBlock(classNumber, side, block, data, &exact);
  if (produced < 0) {
    printNotice("*** Unable to read %s - read error; its table is not used\n", entry.fileName[side]);
    forgetTBSide(classNumber, side);
    releaseSlot(n);
    return 127;
  }
  std::memset(data + produced, 127, size_t(TB_BLOCK - produced));
  slot(n).produced = uint32_t(produced);
  if (!checkTBBlock(classNumber, side, block, data, exact ? TB_CHECK_LOAD : TB_CHECK_LOOSE,
                    TB_CHECK_TERMINALS)) {
    std::printf("**ERROR**  readTBByte() : %s: block %u contradicts the positions its moves lead to; "
                "it is not used\n", entry.fileName[side], unsigned(block));
    entry.refused[side][block >> 3] |= uint8_t(1 << (block & 7));
    releaseSlot(n);
    return 127;
  }
  linkLruHead(n);
  linkChainHead(n);
  return int8_t(dataOf(n)[index - start]);
}
