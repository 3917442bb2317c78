// Test-only decoder of the tablebase layout (index -> position), temporary folders, FEN text of
// table positions and the writers of table files. The decoder is written from the description
// of the layout, separately from the engine's index functions, so that the two check each other.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"

namespace {

struct Shape {
  int counts[2][7] = {};  // by side and type (PAWN .. QUEEN)
  bool pawns = false;
  int lead = 0;
};

Shape shapeOf(int classNumber) {
  Shape shape;
  int side = 0;
  const char* name = tbClassName(classNumber);
  for (const char* c = name + 1; *c; c++) {
    switch (*c) {
      case 'k': side = 1; break;
      case 'p': shape.counts[side][PAWN]++; break;
      case 'n': shape.counts[side][KNIGHT]++; break;
      case 'b': shape.counts[side][BISHOP]++; break;
      case 'r': shape.counts[side][ROOK]++; break;
      case 'q': shape.counts[side][QUEEN]++; break;
    }
  }
  shape.pawns = shape.counts[0][PAWN] + shape.counts[1][PAWN] > 0;
  shape.lead = shape.counts[0][PAWN] ? 0 : 1;
  return shape;
}

uint64_t choose(int n, int k) {
  uint64_t r = 1;
  for (int i = 0; i < k; i++) r = r * uint64_t(n - i) / uint64_t(i + 1);
  return k < 0 || n < k ? 0 : r;
}

// The k values (ascending) of combination number `number`.
std::vector<int> unrank(uint64_t number, int k) {
  std::vector<int> values(static_cast<size_t>(k));
  for (int i = k; i >= 1; i--) {
    int v = i - 1;
    while (choose(v + 1, i) <= number) v++;
    values[size_t(i - 1)] = v;
    number -= choose(v, i);
  }
  return values;
}

bool touching(int a, int b) { return std::abs((a & 7) - (b & 7)) <= 1 && std::abs((a >> 3) - (b >> 3)) <= 1; }

// The king pairs of classes without pawns in their numbering order.
const std::vector<std::pair<int, int>>& kingPairs() {
  static std::vector<std::pair<int, int>> pairs;
  if (pairs.empty())
    for (int a = 0; a < 64; a++) {
      int file = a & 7, rank = a >> 3;
      if (file > 3 || rank > file) continue;  // triangle a1-d1-d4
      for (int b = 0; b < 64; b++) {
        if (touching(a, b)) continue;
        if (rank == file && (b >> 3) > (b & 7)) continue;
        pairs.push_back({a, b});
      }
    }
  return pairs;
}

const int PIECE_ORDER[4] = {QUEEN, ROOK, BISHOP, KNIGHT};

}  // namespace

bool decodeTbIndex(int classNumber, int side, uint32_t index, TbPosition& position) {
  Shape shape = shapeOf(classNumber);
  position = TbPosition{side, {0, 0}, {{}, {}}, -1};
  // Digits and radices, most significant first.
  struct Digit { int side; int type; int count; uint64_t radix; };
  std::vector<Digit> digits;
  if (shape.pawns) {
    digits.push_back({shape.lead, PAWN, 1, 28});
    digits.push_back({-1, KING, 2, 4096});
  } else {
    digits.push_back({-1, KING, 2, 462});
  }
  for (int s = 0; s < 2; s++) {
    for (int type : PIECE_ORDER)
      if (shape.counts[s][type])
        digits.push_back({s, type, shape.counts[s][type], choose(shape.pawns ? 64 : 62, shape.counts[s][type])});
    int pawns = shape.counts[s][PAWN] - (shape.pawns && s == shape.lead ? 1 : 0);
    if (pawns > 0) digits.push_back({s, PAWN, pawns, choose(56, pawns)});
  }
  std::vector<uint64_t> values(digits.size());
  uint64_t rest = index;
  for (size_t i = digits.size(); i-- > 0;) {
    values[i] = rest % digits[i].radix;
    rest /= digits[i].radix;
  }
  if (rest) return false;

  int marked = -1, markedSide = -1;
  auto pawnSquare = [&](int code, int s) {
    if (code >= 8) return s == 0 ? code : code ^ 56;
    if (marked >= 0) return -1;  // two pawns cannot both have just advanced
    marked = s == 0 ? 24 + code : 32 + code;
    markedSide = s;
    return marked;
  };
  std::vector<int> occupied;
  for (size_t i = 0; i < digits.size(); i++) {
    const Digit& d = digits[i];
    if (d.type == KING) {
      if (shape.pawns) {
        position.kings[0] = int(values[i] / 64);
        position.kings[1] = int(values[i] % 64);
      } else {
        auto [a, b] = kingPairs()[values[i]];
        position.kings[side] = a;
        position.kings[side ^ 1] = b;
      }
      occupied.push_back(position.kings[0]);
      occupied.push_back(position.kings[1]);
      continue;
    }
    std::vector<int> squares;
    if (d.type == PAWN && d.radix == 28) {
      squares.push_back(pawnSquare(int(values[i] / 4 * 8 + values[i] % 4), d.side));
    } else {
      for (int v : unrank(values[i], d.count)) {
        if (d.type == PAWN) {
          squares.push_back(pawnSquare(v, d.side));
        } else if (!shape.pawns) {
          int low = std::min(position.kings[0], position.kings[1]);
          int high = std::max(position.kings[0], position.kings[1]);
          if (v >= low) v++;
          if (v >= high) v++;
          squares.push_back(v);
        } else {
          squares.push_back(v);
        }
      }
    }
    for (int sq : squares) {
      if (sq < 0) return false;
      occupied.push_back(sq);
      position.units[d.side].push_back(d.type * 64 + sq);
    }
  }
  std::sort(occupied.begin(), occupied.end());
  if (std::adjacent_find(occupied.begin(), occupied.end()) != occupied.end()) return false;
  if (touching(position.kings[0], position.kings[1])) return false;
  if (marked >= 0) {
    // Only the side that did not move can have just advanced, with an enemy pawn beside it and
    // the two squares it crossed empty.
    if (markedSide == side) return false;
    int step = markedSide == 0 ? -8 : 8;
    for (int sq : occupied)
      if (sq == marked + step || sq == marked + 2 * step) return false;
    bool captor = false;
    for (int unit : position.units[side])
      captor |= unit / 64 == PAWN && (unit % 64) >> 3 == marked >> 3 &&
                std::abs((unit % 64 & 7) - (marked & 7)) == 1;
    if (!captor) return false;
    position.ep = marked + step;
  }
  return true;
}

TempFolder::TempFolder() {
  char pattern[] = "/tmp/talvek-egdb-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  folderPath = pattern;
}

TempFolder::~TempFolder() {
  std::error_code error;
  std::filesystem::remove_all(folderPath, error);
}

void TempFolder::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::ofstream out(file(name), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

int8_t tableByte(SolvedValue value) {
  switch (value.state) {
    case SOLVED_DRAW: return 0;
    case SOLVED_WIN: return int8_t(127 - (value.plies + 1) / 2);
    case SOLVED_LOSS: return int8_t(value.plies / 2 - 126);
    default: return 127;
  }
}

void writeClassFiles(const TempFolder& folder, int classNumber, const Solver& solver,
                     bool compressed) {
  for (int side = 0; side < 2; side++) {
    std::vector<uint8_t> bytes(tbTableSize(tbClassName(classNumber)));
    for (uint32_t i = 0; i < bytes.size(); i++) {
      TbPosition position;
      bool known = decodeTbIndex(classNumber, side, i, position) && position.ep < 0;
      bytes[i] = uint8_t(known ? tableByte(solver.valueOf(position)) : 127);
    }
    std::string name = std::string(tbClassName(classNumber)) + (side ? ".nbb" : ".nbw");
    if (compressed)
      folder.write(name + ".emd", encodeEmd(bytes));
    else
      folder.write(name, bytes);
  }
}

std::string fenOf(const TbPosition& position, bool flip) {
  char squares[64];
  std::memset(squares, 0, sizeof squares);
  auto put = [&](int side, int type, int sq) {
    int colour = flip ? side ^ 1 : side;
    if (flip) sq ^= 56;
    squares[sq] = PIECE_CHARS[type + 8 * colour];
  };
  for (int s = 0; s < 2; s++) {
    put(s, KING, position.kings[s]);
    for (int unit : position.units[s]) put(s, unit / 64, unit % 64);
  }
  std::string fen;
  for (int rank = 7; rank >= 0; rank--) {
    int empty = 0;
    for (int file = 0; file < 8; file++) {
      char c = squares[rank * 8 + file];
      if (!c) {
        empty++;
        continue;
      }
      if (empty) fen += char('0' + empty), empty = 0;
      fen += c;
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  int mover = flip ? position.side ^ 1 : position.side;
  fen += mover ? " b - " : " w - ";
  if (position.ep >= 0) {
    int ep = flip ? position.ep ^ 56 : position.ep;
    fen += char('a' + (ep & 7));
    fen += char('1' + (ep >> 3));
  } else {
    fen += '-';
  }
  return fen + " 0 1";
}
