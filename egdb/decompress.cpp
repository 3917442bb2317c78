// Reader of the compressed ".emd" tablebase files: the header with its checksum, the canonical
// Huffman code of the block alphabet, and the decoding of one block into a cache slot.
//
// Every bit stream is read most significant bit first. Every read is bounded by the buffer it
// reads from; a file whose contents do not fit the format makes a procedure fail, never read or
// write outside its buffers.
#include <cstdlib>
#include <cstring>

#include "egdb/egdb.h"

namespace {

constexpr uint32_t DIRECTORY_STAMP = 0x5abc947f;
constexpr uint32_t CONTEXT_STAMP = 0x79a3f29d;
constexpr int MAX_CODE_LENGTH = 31;
constexpr int BLOCK_ALPHABET = 1024;   // 256 literals, 24 distance slots x 32 length codes
constexpr int COPY_DISTANCES = 24;
constexpr int SIZE_FIELD_MARK = 24;    // byte 71 of the header
// More blocks than any table needs (the largest is about 40,000 blocks of 8 KB): a header that
// claims more is broken, and nothing is allocated for it.
constexpr uint32_t MAX_BLOCKS = 1u << 17;
// Bytes the code lengths of the block alphabet can take at most: a flag bit, the list of 128
// lengths (a flag, a 5-bit width, at most 128 values of 31 bits each followed by 4 bits) and
// 1024 lengths of at most 31 + 31 + 31 bits for a run of two or more, rounded up generously.
constexpr uint32_t MAX_CODE_LENGTH_BYTES = 8192;

// A canonical prefix code. A code with no bits answers `constant` for every symbol.
struct HuffmanCode {
  bool noBits;
  int constant;
  int count[MAX_CODE_LENGTH + 1];   // symbols of each code length
  int16_t symbols[BLOCK_ALPHABET];  // symbols ordered by (length, symbol number)
};

struct BitReader {
  const uint8_t* data;
  size_t size;        // bytes
  size_t position;    // bits consumed
  bool overrun;       // a read went past the end; the bits read there count as 0
};

uint32_t readBits(BitReader& reader, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; i++) {
    size_t byte = reader.position >> 3;
    uint32_t bit = 0;
    if (byte < reader.size)
      bit = (reader.data[byte] >> (7 - (reader.position & 7))) & 1;
    else
      reader.overrun = true;
    reader.position++;
    value = value << 1 | bit;
  }
  return value;
}

void alignToByte(BitReader& reader) { reader.position = (reader.position + 7) & ~size_t(7); }

// Builds the canonical code of `n` code lengths. False when the lengths form no usable code.
bool buildCode(const uint8_t* lengths, int n, HuffmanCode& code) {
  std::memset(code.count, 0, sizeof code.count);
  int used = 0, last = 0;
  for (int i = 0; i < n; i++) {
    if (lengths[i] > MAX_CODE_LENGTH) return false;
    if (lengths[i]) used++, last = i;
    code.count[lengths[i]]++;
  }
  code.noBits = used <= 1;
  code.constant = used == 1 ? last : 0;
  if (used == 1) return lengths[last] == 1;
  if (used == 0) return true;
  uint64_t kraft = 0;  // in units of 2^-31
  for (int length = 1; length <= MAX_CODE_LENGTH; length++)
    kraft += uint64_t(code.count[length]) << (MAX_CODE_LENGTH - length);
  if (kraft != uint64_t(1) << MAX_CODE_LENGTH) return false;
  int offsets[MAX_CODE_LENGTH + 2];
  offsets[1] = 0;
  for (int length = 1; length <= MAX_CODE_LENGTH; length++)
    offsets[length + 1] = offsets[length] + code.count[length];
  for (int i = 0; i < n; i++)
    if (lengths[i]) code.symbols[offsets[lengths[i]]++] = int16_t(i);
  return true;
}

// Next symbol of the code, or -1 when the bits match no code.
int decodeSymbol(BitReader& reader, const HuffmanCode& code) {
  if (code.noBits) return code.constant;
  int64_t value = 0, first = 0;
  int index = 0;
  for (int length = 1; length <= MAX_CODE_LENGTH; length++) {
    value |= readBits(reader, 1);
    int count = code.count[length];
    if (value >= first && value - first < count) return code.symbols[index + int(value - first)];
    index += count;
    first = (first + count) << 1;
    value <<= 1;
  }
  return -1;
}

// Reads the code lengths of an alphabet of n symbols (n is 128 or 1024). False on a broken list.
bool readCodeLengths(BitReader& reader, int n, uint8_t* lengths) {
  if (readBits(reader, 1)) {
    std::memset(lengths, 0, size_t(n));
    return !reader.overrun;
  }
  int produced = 0;
  if (n <= 128) {
    int width = int(readBits(reader, 5));
    while (produced < n && !reader.overrun) {
      uint32_t value = readBits(reader, width);
      if (value > MAX_CODE_LENGTH) return false;
      lengths[produced++] = uint8_t(value);
      if (value == 0) {
        int zeros = int(readBits(reader, 4));
        if (zeros > n - produced) return false;
        while (zeros--) lengths[produced++] = 0;
      }
    }
    return !reader.overrun;
  }
  uint8_t pair[128];
  HuffmanCode* codes = static_cast<HuffmanCode*>(std::malloc(2 * sizeof(HuffmanCode)));
  if (!codes) return false;
  bool ok = readCodeLengths(reader, 128, pair) && buildCode(pair, 64, codes[0]) &&
            buildCode(pair + 64, 64, codes[1]);
  while (ok && produced < n) {
    int symbol = decodeSymbol(reader, codes[0]);
    if (symbol < 0 || reader.overrun) {
      ok = false;
    } else if (symbol < 32) {
      lengths[produced++] = uint8_t(symbol);
    } else {
      int run = decodeSymbol(reader, codes[1]);
      uint64_t repeat = uint64_t(run);
      if (run >= 32) {
        int extra = run - 32;
        repeat = (uint64_t(1) << extra) + readBits(reader, extra) + 31;
      }
      repeat += 2;
      if (run < 0 || reader.overrun || repeat > uint64_t(n - produced)) {
        ok = false;
      } else {
        std::memset(lengths + produced, symbol - 32, size_t(repeat));
        produced += int(repeat);
      }
    }
  }
  std::free(codes);
  return ok;
}

// Whether the first bytes of a file are a compressor's banner of the format's shape: a line of 58
// characters ended by CR LF, then four zero bytes. Compressors differ in the text of the line;
// the fixed fields and the header checksum that follow identify the format.
bool isBannerLine(const uint8_t* bytes) {
  for (int i = 0; i < EMD_SIGNATURE_SIZE - 6; i++)
    if (bytes[i] == 0 || bytes[i] == '\r' || bytes[i] == '\n') return false;
  return bytes[58] == '\r' && bytes[59] == '\n' && !bytes[60] && !bytes[61] && !bytes[62] && !bytes[63];
}

uint32_t readBigEndian(const uint8_t* bytes) {
  return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

struct DecodeContext {
  uint32_t stamp;
  uint8_t data[TB_DECODE_CONTEXT];
};

DecodeContext* decodeContext = nullptr;

}  // namespace

struct EmdDirectory {
  uint32_t stamp;                       // DIRECTORY_STAMP once complete
  uint32_t blockSize;                   // 2^w
  uint32_t blocks;
  uint32_t lastBlockSize;               // bytes the last block decodes to
  uint64_t* offsets;                    // file offset of each block, then the end of the data
  uint32_t distances[COPY_DISTANCES];   // copy distance of each distance slot
  HuffmanCode code;                     // the block alphabet
};

uint32_t emdChecksum(const uint8_t* bytes, size_t length) {
  static uint32_t table[256];
  static bool built = false;
  if (!built) {
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t value = i;
      for (int bit = 0; bit < 8; bit++) {
        bool shiftedOut = value & 1;
        value >>= 1;
        if (!shiftedOut) value ^= 0xEDB88320u;
      }
      table[i] = value;
    }
    built = true;
  }
  uint32_t sum = 0;
  for (size_t i = 0; i < length; i++) sum = table[(sum ^ bytes[i]) & 0xFF] ^ (sum >> 8);
  return sum;
}

void freeEmdDirectory(EmdDirectory* directory) {
  if (!directory) return;
  std::free(directory->offsets);
  directory->stamp = 0;
  std::free(directory);
}

uint32_t emdBlockSize(const EmdDirectory* directory) { return directory->blockSize; }

uint64_t emdUncompressedSize(const EmdDirectory* directory) {
  return uint64_t(directory->blocks - 1) * directory->blockSize + directory->lastBlockSize;
}

// Reads the header of an open ".emd" file and returns its directory through *directory.
// Returns EMD_OK, or the class of the failure (nothing is allocated then).
int readEmdHeader(FILE* file, EmdDirectory** directory) {
  *directory = nullptr;
  uint8_t fixed[EMD_FIXED_HEADER];
  if (std::fseek(file, 0, SEEK_SET) != 0) return EMD_SEEK_ERROR;
  if (std::fread(fixed, 1, sizeof fixed, file) != sizeof fixed) return EMD_READ_ERROR;
  if (!isBannerLine(fixed)) return EMD_READ_ERROR;
  uint32_t headerLength = readBigEndian(fixed + 64);
  int width = fixed[70];
  uint32_t blocks = readBigEndian(fixed + 72);
  if (headerLength < 84 || width > 16 || width < 1 || fixed[71] != SIZE_FIELD_MARK ||
      readBigEndian(fixed + 76) != EMD_MAGIC || blocks == 0)
    return EMD_BROKEN;
  if (std::fseek(file, 0, SEEK_END) != 0) return EMD_SEEK_ERROR;
  long fileLength = std::ftell(file);
  if (fileLength < 0) return EMD_SEEK_ERROR;
  if (headerLength > uint64_t(fileLength)) return EMD_CUT_SHORT;
  // The header holds the fixed part, 8 bytes and one size field per block, the last-block size
  // and copy distances, the code lengths and the checksum: a longer claim is broken (and is
  // refused before anything is allocated), as is a count of blocks no table needs.
  uint64_t fieldsStart = EMD_FIXED_HEADER + uint64_t(blocks) * 8;
  uint64_t fieldsBytes = (uint64_t(blocks + 25ull) * uint64_t(width) + 7) / 8;
  if (blocks > MAX_BLOCKS || headerLength > fieldsStart + fieldsBytes + MAX_CODE_LENGTH_BYTES + 4)
    return EMD_BROKEN;

  uint8_t* header = static_cast<uint8_t*>(std::malloc(headerLength));
  if (!header) return EMD_OUT_OF_MEMORY;
  std::memcpy(header, fixed, sizeof fixed);
  size_t rest = headerLength - EMD_FIXED_HEADER;
  if (std::fseek(file, EMD_FIXED_HEADER, SEEK_SET) != 0 ||
      std::fread(header + EMD_FIXED_HEADER, 1, rest, file) != rest) {
    std::free(header);
    return std::ferror(file) ? EMD_READ_ERROR : EMD_CUT_SHORT;
  }
  if (emdChecksum(header, headerLength - 4) != readBigEndian(header + headerLength - 4) ||
      fieldsStart + fieldsBytes > headerLength - 4) {
    std::free(header);
    return EMD_BROKEN;
  }

  EmdDirectory* dir = static_cast<EmdDirectory*>(std::calloc(1, sizeof(EmdDirectory)));
  uint64_t* offsets = static_cast<uint64_t*>(std::malloc((uint64_t(blocks) + 1) * sizeof(uint64_t)));
  if (!dir || !offsets) {
    std::free(dir);
    std::free(offsets);
    std::free(header);
    return EMD_OUT_OF_MEMORY;
  }
  dir->offsets = offsets;
  dir->blockSize = 1u << width;
  dir->blocks = blocks;
  BitReader reader{header + fieldsStart, headerLength - 4 - fieldsStart, 0, false};
  bool ok = true;
  offsets[0] = headerLength;
  for (uint32_t k = 0; k < blocks; k++) {
    uint32_t size = readBits(reader, width);
    offsets[k + 1] = offsets[k] + (size ? size : dir->blockSize);
  }
  if (offsets[blocks] > uint64_t(fileLength)) ok = false;  // blocks run past the end of the file
  uint32_t last = readBits(reader, width);
  dir->lastBlockSize = last ? last : dir->blockSize;
  for (uint32_t& distance : dir->distances) distance = readBits(reader, width);
  alignToByte(reader);
  uint8_t* lengths = static_cast<uint8_t*>(std::malloc(BLOCK_ALPHABET));
  if (!lengths) ok = false;
  ok = ok && readCodeLengths(reader, BLOCK_ALPHABET, lengths) &&
       buildCode(lengths, BLOCK_ALPHABET, dir->code) && !reader.overrun;
  std::free(lengths);
  std::free(header);
  if (!ok) {
    freeEmdDirectory(dir);
    return EMD_BROKEN;
  }
  dir->stamp = DIRECTORY_STAMP;
  *directory = dir;
  return EMD_OK;
}

int allocDecodeContext() {
  if (!decodeContext) decodeContext = static_cast<DecodeContext*>(std::malloc(sizeof(DecodeContext)));
  if (!decodeContext) return 0;
  decodeContext->stamp = CONTEXT_STAMP;
  return 1;
}

void freeDecodeContext() {
  if (decodeContext) decodeContext->stamp = 0;
  std::free(decodeContext);
  decodeContext = nullptr;
}

// Decodes block `block` of a compressed file into out (TB_BLOCK bytes of room). Returns the bytes
// produced, or -1 when the block cannot be read or its bits do not decode within the block.
// *exact (when given) tells whether the code ended in the block's last byte, as an encoder that
// pads each block to a byte leaves it; damaged data that still decodes seldom ends there.
int decodeEmdBlock(FILE* file, const EmdDirectory* directory, uint32_t block, uint8_t* out, bool* exact) {
  if (exact) *exact = true;
  if (!decodeContext || decodeContext->stamp != CONTEXT_STAMP) return -1;
  if (!directory || directory->stamp != DIRECTORY_STAMP || block >= directory->blocks) return -1;
  uint64_t length = directory->offsets[block + 1] - directory->offsets[block];
  uint32_t size = block + 1 == directory->blocks ? directory->lastBlockSize : directory->blockSize;
  if (length > sizeof decodeContext->data || size > uint32_t(TB_BLOCK)) return -1;
  if (std::fseek(file, long(directory->offsets[block]), SEEK_SET) != 0) return -1;
  uint8_t* data = decodeContext->data;
  if (std::fread(data, 1, size_t(length), file) != length) return -1;
  if (length == size) {
    std::memcpy(out, data, size);
    return int(size);
  }
  BitReader reader{data, size_t(length), 0, false};
  uint32_t produced = 0;
  while (produced < size) {
    int symbol = decodeSymbol(reader, directory->code);
    if (symbol < 0) return -1;
    if (symbol < 256) {
      out[produced++] = uint8_t(symbol);
    } else {
      int lengthCode = symbol & 31;
      uint64_t count = uint64_t(lengthCode) + 1;
      if (lengthCode >= 15) {
        int extra = lengthCode - 14;
        count = (uint64_t(1) << extra) + readBits(reader, extra) + 14;
      }
      uint32_t distance = directory->distances[symbol / 32 - 8];
      if (distance == 0 || distance > produced) return -1;
      if (count > size - produced) count = size - produced;
      for (uint64_t i = 0; i < count; i++, produced++) out[produced] = out[produced - distance];
    }
    if (reader.overrun) return -1;
  }
  if (exact) *exact = reader.size * 8 - reader.position < 8;
  return int(produced);
}
