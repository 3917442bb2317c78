// Test-only ".emd" encoder, written from the file format: a greedy copy finder over the 24 copy
// distances, one canonical Huffman code for the whole file, and the header with its code-length
// lists and checksum.
#include <algorithm>
#include <cstring>
#include <queue>
#include <stdexcept>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"

namespace {

struct BitWriter {
  std::vector<uint8_t> bytes;
  int used = 8;  // bits used in the last byte
  void put(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; i--) {
      if (used == 8) bytes.push_back(0), used = 0;
      if ((value >> i) & 1) bytes.back() |= uint8_t(0x80 >> used);
      used++;
    }
  }
};

struct Token {
  int symbol;
  int extraBits;
  uint32_t extra;
};

// Code lengths of a Huffman code for the frequencies (0 for unused symbols).
std::vector<uint8_t> huffmanLengths(const std::vector<uint64_t>& frequency) {
  size_t n = frequency.size();
  std::vector<uint8_t> lengths(n, 0);
  std::vector<int> parent(2 * n, -1);
  using Node = std::pair<uint64_t, int>;
  std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
  for (size_t i = 0; i < n; i++)
    if (frequency[i]) queue.push({frequency[i], int(i)});
  if (queue.size() == 1) lengths[queue.top().second] = 1;
  int next = int(n);
  while (queue.size() > 1) {
    Node a = queue.top();
    queue.pop();
    Node b = queue.top();
    queue.pop();
    parent[a.second] = parent[b.second] = next;
    queue.push({a.first + b.first, next++});
  }
  for (size_t i = 0; i < n; i++) {
    if (!frequency[i] || lengths[i]) continue;
    int depth = 0;
    for (int node = int(i); parent[node] >= 0; node = parent[node]) depth++;
    if (depth > 31) throw std::runtime_error("code too long");
    lengths[i] = uint8_t(depth);
  }
  return lengths;
}

// Canonical codes of the lengths, as the decoder assigns them.
std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size(), 0);
  uint64_t code = 0;
  for (int length = 1; length <= 31; length++) {
    for (size_t i = 0; i < lengths.size(); i++)
      if (lengths[i] == length) codes[i] = uint32_t(code++);
    code <<= 1;
  }
  return codes;
}

void putSymbol(BitWriter& out, const std::vector<uint8_t>& lengths,
               const std::vector<uint32_t>& codes, int symbol) {
  int used = int(std::count_if(lengths.begin(), lengths.end(), [](uint8_t l) { return l != 0; }));
  if (used > 1) out.put(codes[symbol], lengths[symbol]);
}

// The short list form: all-zero flag, 5-bit width, values with zero runs.
void putShortLengths(BitWriter& out, const std::vector<uint8_t>& lengths) {
  bool allZero = std::all_of(lengths.begin(), lengths.end(), [](uint8_t l) { return l == 0; });
  out.put(allZero, 1);
  if (allZero) return;
  int width = 1;
  for (uint8_t l : lengths)
    while ((l >> width) != 0) width++;
  out.put(uint32_t(width), 5);
  for (size_t i = 0; i < lengths.size();) {
    out.put(lengths[i], width);
    if (lengths[i++] == 0) {
      int zeros = 0;
      while (zeros < 15 && i + zeros < lengths.size() && lengths[i + zeros] == 0) zeros++;
      out.put(uint32_t(zeros), 4);
      i += size_t(zeros);
    }
  }
}

// The long list form used for the 1024-symbol block alphabet.
void putBlockLengths(BitWriter& out, const std::vector<uint8_t>& lengths) {
  bool allZero = std::all_of(lengths.begin(), lengths.end(), [](uint8_t l) { return l == 0; });
  out.put(allZero, 1);
  if (allZero) return;
  struct Item { int a; int b; int extraBits; uint32_t extra; };
  std::vector<Item> items;
  std::vector<uint64_t> frequencyA(64, 0), frequencyB(64, 0);
  for (size_t i = 0; i < lengths.size();) {
    size_t run = 1;
    while (i + run < lengths.size() && lengths[i + run] == lengths[i]) run++;
    if (run >= 3) {
      uint32_t r = uint32_t(run - 2);
      Item item{32 + lengths[i], int(r), 0, 0};
      if (r >= 32) {
        int k = 0;
        while ((uint32_t(2) << k) <= r - 31) k++;
        item.b = 32 + k;
        item.extraBits = k;
        item.extra = r - 31 - (uint32_t(1) << k);
      }
      items.push_back(item);
      frequencyB[item.b]++;
      i += run;
    } else {
      items.push_back({lengths[i], -1, 0, 0});
      i++;
    }
    frequencyA[items.back().a]++;
  }
  std::vector<uint8_t> lengthsA = huffmanLengths(frequencyA), lengthsB = huffmanLengths(frequencyB);
  std::vector<uint8_t> pair(lengthsA);
  pair.insert(pair.end(), lengthsB.begin(), lengthsB.end());
  putShortLengths(out, pair);
  std::vector<uint32_t> codesA = canonicalCodes(lengthsA), codesB = canonicalCodes(lengthsB);
  for (const Item& item : items) {
    putSymbol(out, lengthsA, codesA, item.a);
    if (item.b >= 0) {
      putSymbol(out, lengthsB, codesB, item.b);
      out.put(item.extra, item.extraBits);
    }
  }
}

std::vector<Token> tokenise(const uint8_t* data, uint32_t size, const EmdOptions& options,
                            const std::vector<uint32_t>& distances) {
  std::vector<Token> tokens;
  for (uint32_t pos = 0; pos < size;) {
    uint32_t bestLength = 0;
    int bestSlot = 0;
    for (int slot = 0; options.copies && slot < 24; slot++) {
      uint32_t d = distances[slot];
      if (d == 0 || d > pos) continue;
      uint32_t length = 0;
      while (pos + length < size && data[pos + length] == data[pos + length - d]) length++;
      if (length > bestLength) bestLength = length, bestSlot = slot;
      if (pos + length == size) break;  // nothing longer exists
    }
    if (bestLength < 3) {
      tokens.push_back({data[pos++], 0, 0});
      continue;
    }
    int lengthCode = int(bestLength) - 1;
    Token token{0, 0, 0};
    if (bestLength >= 16) {
      uint32_t m = bestLength - 14;
      int k = 0;
      while ((uint32_t(2) << k) <= m) k++;
      lengthCode = 14 + k;
      token.extraBits = k;
      token.extra = m - (uint32_t(1) << k);
    }
    token.symbol = (bestSlot + 8) * 32 + lengthCode;
    tokens.push_back(token);
    pos += bestLength;
  }
  return tokens;
}

void putBigEndian(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) bytes[at + i] = uint8_t(value >> (24 - 8 * i));
}

}  // namespace

std::vector<uint8_t> encodeEmd(const std::vector<uint8_t>& data, const EmdOptions& options) {
  uint32_t blockSize = 1u << options.width;
  uint32_t blocks = uint32_t((data.size() + blockSize - 1) / blockSize);
  if (blocks == 0) blocks = 1;
  std::vector<uint32_t> distances = options.distances;
  if (distances.empty())
    distances = {1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32, 48, 62, 64, 96, 128, 192, 256, 384,
                 512, 1024, 2048, 4096};
  for (uint32_t& d : distances) d &= blockSize - 1;

  std::vector<std::vector<Token>> blockTokens;
  std::vector<uint64_t> frequency(1024, 0);
  for (uint32_t b = 0; b < blocks; b++) {
    uint32_t start = b * blockSize;
    uint32_t size = uint32_t(std::min<size_t>(blockSize, data.size() - start));
    blockTokens.push_back(tokenise(data.data() + start, size, options, distances));
    for (const Token& t : blockTokens.back()) frequency[t.symbol]++;
  }
  std::vector<uint8_t> lengths = huffmanLengths(frequency);
  std::vector<uint32_t> codes = canonicalCodes(lengths);

  std::vector<std::vector<uint8_t>> payloads;
  for (uint32_t b = 0; b < blocks; b++) {
    uint32_t start = b * blockSize;
    uint32_t size = uint32_t(std::min<size_t>(blockSize, data.size() - start));
    BitWriter out;
    for (const Token& t : blockTokens[b]) {
      putSymbol(out, lengths, codes, t.symbol);
      out.put(t.extra, t.extraBits);
    }
    if (out.bytes.empty()) out.bytes.push_back(0);  // a block of codes without bits: one pad byte
    if (out.bytes.size() >= size)  // stored raw: compressed length equals the block's size
      out.bytes.assign(data.begin() + start, data.begin() + start + size);
    payloads.push_back(out.bytes);
  }
  if (options.tamperLengths) options.tamperLengths(lengths);

  BitWriter fields;
  for (const auto& payload : payloads) fields.put(payload.size() & (blockSize - 1), options.width);
  uint32_t lastSize = uint32_t(data.size() - size_t(blocks - 1) * blockSize);
  fields.put(lastSize & (blockSize - 1), options.width);
  for (uint32_t d : distances) fields.put(d, options.width);
  fields.used = 8;  // next byte boundary
  putBlockLengths(fields, lengths);

  std::vector<uint8_t> file(EMD_FIXED_HEADER + size_t(blocks) * 8, 0);
  std::memcpy(file.data(), options.banner, EMD_SIGNATURE_SIZE - 4);
  file[70] = uint8_t(options.width);
  file[71] = 24;
  putBigEndian(file, 72, blocks);
  putBigEndian(file, 76, EMD_MAGIC);
  file.insert(file.end(), fields.bytes.begin(), fields.bytes.end());
  file.resize(file.size() + 4);
  putBigEndian(file, 64, uint32_t(file.size()));
  resealEmdHeader(file);
  for (const auto& payload : payloads) file.insert(file.end(), payload.begin(), payload.end());
  return file;
}

uint32_t emdHeaderLength(const std::vector<uint8_t>& file) {
  return uint32_t(file[64]) << 24 | uint32_t(file[65]) << 16 | uint32_t(file[66]) << 8 | file[67];
}

void resealEmdHeader(std::vector<uint8_t>& file) {
  uint32_t length = emdHeaderLength(file);
  putBigEndian(file, length - 4, emdChecksum(file.data(), length - 4));
}
