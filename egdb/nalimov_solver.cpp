// The table generator: a retrograde solver that gives the exact distance to mate, in plies, of
// every position of a small material (white moves up the board; no castling, no en passant), and
// the table files of the Nalimov layout written from it. Positions are keyed by the squares of
// the men (white king, black king, the other units in material order) and the side to move;
// captures and promotions look the result up in the solved smaller materials.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "board/board.h"
#include "egdb/egdb.h"

namespace {

constexpr int UNKNOWN = 4;
constexpr int KING_STEPS[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
constexpr int KNIGHT_STEPS[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};

struct Man {
  int colour, type, square;
};

bool onBoard64(int file, int rank) { return file >= 0 && file < 8 && rank >= 0 && rank < 8; }

int manAt(const std::vector<Man>& men, int sq) {
  for (size_t i = 0; i < men.size(); i++)
    if (men[i].square == sq) return int(i);
  return -1;
}

// Squares a man attacks (for pawns: its captures).
template <typename F>
void forAttacks(const std::vector<Man>& men, const Man& m, F visit) {
  int file = m.square & 7, rank = m.square >> 3;
  auto steps = [&](const int (*table)[2]) {
    for (int i = 0; i < 8; i++)
      if (onBoard64(file + table[i][0], rank + table[i][1]))
        visit((rank + table[i][1]) * 8 + file + table[i][0]);
  };
  auto rays = [&](int first, int last) {
    for (int i = first; i < last; i++)
      for (int f = file + KING_STEPS[i][0], r = rank + KING_STEPS[i][1]; onBoard64(f, r);
           f += KING_STEPS[i][0], r += KING_STEPS[i][1]) {
        visit(r * 8 + f);
        if (manAt(men, r * 8 + f) >= 0) break;
      }
  };
  switch (m.type) {
    case KING: steps(KING_STEPS); break;
    case KNIGHT: steps(KNIGHT_STEPS); break;
    case BISHOP: rays(4, 8); break;
    case ROOK: rays(0, 4); break;
    case QUEEN: rays(0, 8); break;
    case PAWN: {
      int r = rank + (m.colour ? -1 : 1);
      for (int df : {-1, 1})
        if (onBoard64(file + df, r)) visit(r * 8 + file + df);
      break;
    }
  }
}

// Whether man m attacks sq (pawns: diagonally forward), the men in between blocking sliders.
bool attacks(const std::vector<Man>& men, const Man& m, int sq) {
  int df = (sq & 7) - (m.square & 7), dr = (sq >> 3) - (m.square >> 3);
  int adf = std::abs(df), adr = std::abs(dr);
  if (adf + adr == 0) return false;
  switch (m.type) {
    case KING: return adf <= 1 && adr <= 1;
    case KNIGHT: return adf * adr == 2;
    case PAWN: return adf == 1 && dr == (m.colour ? -1 : 1);
    case BISHOP: if (adf != adr) return false; break;
    case ROOK: if (df && dr) return false; break;
    case QUEEN: if (adf != adr && df && dr) return false; break;
  }
  int step = (dr > 0) - (dr < 0), fileStep = (df > 0) - (df < 0);
  for (int at = m.square + step * 8 + fileStep; at != sq; at += step * 8 + fileStep)
    if (manAt(men, at) >= 0) return false;
  return true;
}

bool attacked(const std::vector<Man>& men, int sq, int byColour) {
  for (const Man& m : men)
    if (m.colour == byColour && attacks(men, m, sq)) return true;
  return false;
}

int kingOf(const std::vector<Man>& men, int colour) {
  for (const Man& m : men)
    if (m.colour == colour && m.type == KING) return m.square;
  return -1;
}

// Calls visit with the position after each legal move of colour stm (one buffer, reused).
template <typename F>
void forMoves(const std::vector<Man>& men, int stm, F visit) {
  static thread_local std::vector<Man> next;
  auto add = [&](size_t i, int to, int newType) {
    next = men;
    int victim = manAt(men, to);
    next[i].square = to;
    next[i].type = newType;
    if (victim >= 0) next.erase(next.begin() + victim);
    if (!attacked(next, kingOf(next, stm), stm ^ 1)) visit(next);
  };
  for (size_t i = 0; i < men.size(); i++) {
    const Man& m = men[i];
    if (m.colour != stm) continue;
    if (m.type != PAWN) {
      forAttacks(men, m, [&](int to) {
        int victim = manAt(men, to);
        if (victim < 0 || (men[victim].colour != stm && men[victim].type != KING)) add(i, to, m.type);
      });
      continue;
    }
    int step = stm ? -8 : 8, rank = m.square >> 3;
    auto pawnTo = [&](int to) {
      if ((to >> 3) == 0 || (to >> 3) == 7)
        for (int type : {QUEEN, ROOK, BISHOP, KNIGHT}) add(i, to, type);
      else
        add(i, to, PAWN);
    };
    if (manAt(men, m.square + step) < 0) {
      pawnTo(m.square + step);
      if (rank == (stm ? 6 : 1) && manAt(men, m.square + 2 * step) < 0) pawnTo(m.square + 2 * step);
    }
    forAttacks(men, m, [&](int to) {
      int victim = manAt(men, to);
      if (victim >= 0 && men[victim].colour != stm && men[victim].type != KING) pawnTo(to);
    });
  }
}

Material materialOf(const std::vector<Man>& men) {
  Material material;
  for (const Man& m : men)
    if (m.type != KING) material.units.push_back({m.colour, m.type});
  std::sort(material.units.begin(), material.units.end());
  return material;
}

}  // namespace

struct Solver::Table {
  Material material;
  int men = 0;
  std::vector<uint8_t> state, plies;

  size_t keyOf(const std::vector<Man>& position, int stm) const {
    // Men in material order: kings, then units matched to the sorted material.
    size_t key = size_t(kingOf(position, 0)) * 64 + size_t(kingOf(position, 1));
    bool used[8] = {};
    for (const auto& [colour, type] : material.units)
      for (size_t i = 0; i < position.size(); i++)
        if (!used[i] && position[i].colour == colour && position[i].type == type) {
          used[i] = true;
          key = key * 64 + size_t(position[i].square);
          break;
        }
    return key * 2 + size_t(stm);
  }

  // The men of a key, in a buffer overwritten by the next call.
  const std::vector<Man>& menOf(size_t key, int& stm) const {
    static thread_local std::vector<Man> position;
    position.resize(static_cast<size_t>(men));
    stm = int(key & 1);
    key >>= 1;
    for (int i = men - 1; i >= 0; i--) {
      int colour = i < 2 ? i : material.units[size_t(i - 2)].first;
      int type = i < 2 ? KING : material.units[size_t(i - 2)].second;
      position[size_t(i)] = Man{colour, type, int(key % 64)};
      key /= 64;
    }
    return position;
  }
};

namespace {

using TableMap = std::map<Material, std::shared_ptr<Solver::Table>>;

bool legalPosition(const std::vector<Man>& men, int stm) {
  for (size_t i = 0; i < men.size(); i++) {
    for (size_t j = i + 1; j < men.size(); j++)
      if (men[i].square == men[j].square) return false;
    if (men[i].type == PAWN && ((men[i].square >> 3) == 0 || (men[i].square >> 3) == 7)) return false;
  }
  return !attacked(men, kingOf(men, stm ^ 1), stm);
}

SolvedValue lookup(const TableMap& tables, const std::vector<Man>& men, int stm) {
  const auto& table = *tables.at(materialOf(men));
  size_t key = table.keyOf(men, stm);
  return {table.state[key], table.plies[key]};
}

std::shared_ptr<Solver::Table> solve(TableMap& tables, const Material& material);

void solveChildren(TableMap& tables, const Material& material) {
  for (size_t i = 0; i < material.units.size(); i++) {
    Material child = material;
    child.units.erase(child.units.begin() + long(i));
    solve(tables, child);
    if (material.units[i].second == PAWN)
      for (int type : {KNIGHT, BISHOP, ROOK, QUEEN}) {
        Material promoted = material;
        promoted.units[i].second = type;
        std::sort(promoted.units.begin(), promoted.units.end());
        solve(tables, promoted);
      }
  }
}

// Predecessors of a position (the side not to move makes a quiet move backwards).
template <typename F>
void forPredecessors(const std::vector<Man>& men, int stm, F visit) {
  int mover = stm ^ 1;
  for (size_t i = 0; i < men.size(); i++) {
    const Man& m = men[i];
    if (m.colour != mover) continue;
    auto back = [&](int from) {
      if (manAt(men, from) >= 0) return;
      static thread_local std::vector<Man> previous;
      previous = men;
      previous[i].square = from;
      if (legalPosition(previous, mover)) visit(previous);
    };
    if (m.type != PAWN) {
      forAttacks(men, m, [&](int from) {
        if (manAt(men, from) < 0) back(from);
      });
      continue;
    }
    int step = mover ? 8 : -8;  // backwards
    int from = m.square + step, rank = m.square >> 3;
    if ((from >> 3) >= 1 && (from >> 3) <= 6) back(from);
    if (rank == (mover ? 4 : 3) && manAt(men, from) < 0) back(from + step);
  }
}

std::shared_ptr<Solver::Table> solve(TableMap& tables, const Material& material) {
  auto found = tables.find(material);
  if (found != tables.end()) return found->second;
  solveChildren(tables, material);
  auto table = std::make_shared<Solver::Table>();
  table->material = material;
  table->men = int(material.units.size()) + 2;
  size_t size = size_t(2) << (6 * table->men);
  table->state.assign(size, SOLVED_ILLEGAL);
  table->plies.assign(size, 0);
  std::vector<uint8_t> remaining(size, 0), exitState(size, UNKNOWN), exitPlies(size, 0);
  std::vector<std::vector<size_t>> levels(256), pendingWin(256), pendingLoss(256);
  auto resolve = [&](size_t key, int state, int plies) {
    table->state[key] = uint8_t(state);
    table->plies[key] = uint8_t(plies);
    levels[size_t(plies)].push_back(key);
  };

  for (size_t key = 0; key < size; key++) {
    uint64_t seen = 0;
    bool overlap = false;
    for (size_t rest = key >> 1; rest && !overlap; rest >>= 6) {
      overlap = seen >> (rest & 63) & 1;
      seen |= uint64_t(1) << (rest & 63);
    }
    int stm;
    if (overlap) continue;
    const std::vector<Man>& men = table->menOf(key, stm);
    if (!legalPosition(men, stm)) continue;
    table->state[key] = UNKNOWN;
    int count = 0;
    forMoves(men, stm, [&](const std::vector<Man>& next) {
      bool quiet = next.size() == men.size();
      for (size_t i = 0; quiet && i < men.size(); i++) quiet = next[i].type == men[i].type;
      if (quiet) {
        count++;
        return;
      }
      SolvedValue child = lookup(tables, next, stm ^ 1);
      int state = child.state == SOLVED_WIN ? SOLVED_LOSS : child.state == SOLVED_LOSS ? SOLVED_WIN : SOLVED_DRAW;
      int plies = child.plies + 1;
      int best = state;
      if (exitState[key] == SOLVED_WIN) {
        if (best == SOLVED_WIN) exitPlies[key] = uint8_t(std::min<int>(exitPlies[key], plies));
      } else if (best == SOLVED_WIN) {
        exitState[key] = SOLVED_WIN, exitPlies[key] = uint8_t(plies);
      } else if (exitState[key] != SOLVED_DRAW) {
        if (best == SOLVED_DRAW)
          exitState[key] = SOLVED_DRAW;
        else if (exitState[key] == UNKNOWN || plies > exitPlies[key])
          exitState[key] = SOLVED_LOSS, exitPlies[key] = uint8_t(plies);
      }
    });
    remaining[key] = uint8_t(count);
    bool noMoves = count == 0 && exitState[key] == UNKNOWN;
    if (noMoves) {
      if (attacked(men, kingOf(men, stm), stm ^ 1))
        resolve(key, SOLVED_LOSS, 0);
      else
        table->state[key] = SOLVED_DRAW;
    } else if (exitState[key] == SOLVED_WIN) {
      pendingWin[exitPlies[key]].push_back(key);
    } else if (count == 0) {
      if (exitState[key] == SOLVED_DRAW)
        table->state[key] = SOLVED_DRAW;
      else
        pendingLoss[exitPlies[key]].push_back(key);
    }
  }

  for (size_t d = 0; d + 1 < levels.size(); d++) {
    for (size_t key : pendingWin[d])
      if (table->state[key] == UNKNOWN) resolve(key, SOLVED_WIN, int(d));
    for (size_t key : pendingLoss[d])
      if (table->state[key] == UNKNOWN) resolve(key, SOLVED_LOSS, int(d));
    for (size_t n = 0; n < levels[d].size(); n++) {
      size_t key = levels[d][n];
      int stm;
      std::vector<Man> men = table->menOf(key, stm);  // a copy: lookups below reuse the buffer
      bool lost = table->state[key] == SOLVED_LOSS;
      forPredecessors(men, stm, [&](const std::vector<Man>& previous) {
        size_t q = table->keyOf(previous, stm ^ 1);
        if (table->state[q] != UNKNOWN) return;
        if (lost) {
          resolve(q, SOLVED_WIN, int(d) + 1);
        } else if (--remaining[q] == 0 && exitState[q] != SOLVED_WIN) {
          if (exitState[q] == SOLVED_DRAW)
            table->state[q] = SOLVED_DRAW;
          else
            pendingLoss[std::max<size_t>(d + 1, exitState[q] == SOLVED_LOSS ? exitPlies[q] : 0)]
                .push_back(q);
        }
      });
    }
  }
  for (uint8_t& state : table->state)
    if (state == UNKNOWN) state = SOLVED_DRAW;
  tables[material] = table;
  return table;
}

}  // namespace

// Every material solved so far, shared by all solvers of the process.
std::shared_ptr<TableMap> sharedTables() {
  static std::shared_ptr<TableMap> tables = std::make_shared<TableMap>();
  return tables;
}

Solver::Solver(const std::string& name) : tables(sharedTables()) {
  Material material;
  int colour = 0;
  for (size_t i = 1; i < name.size(); i++) {
    const char* letters = "  pnbrq";
    if (name[i] == 'k') {
      colour = 1;
      continue;
    }
    int type = int(std::find(letters, letters + 7, name[i]) - letters);
    if (type >= 7) throw std::runtime_error("bad material name");
    material.units.push_back({colour, type});
  }
  std::sort(material.units.begin(), material.units.end());
  top = solve(*tables, material);
}

const Material& Solver::material() const { return top->material; }

SolvedValue Solver::value(int wk, int bk, const std::vector<int>& squares, int stm) const {
  std::vector<Man> men{{0, KING, wk}, {1, KING, bk}};
  for (size_t i = 0; i < squares.size(); i++)
    men.push_back({top->material.units[i].first, top->material.units[i].second, squares[i]});
  size_t key = top->keyOf(men, stm);
  return {top->state[key], top->plies[key]};
}

SolvedValue Solver::valueOf(const TbPosition& position) const {
  std::vector<Man> men{{0, KING, position.kings[0]}, {1, KING, position.kings[1]}};
  for (int s = 0; s < 2; s++)
    for (int unit : position.units[s]) men.push_back({s, unit / 64, unit % 64});
  if (materialOf(men).units != top->material.units) throw std::runtime_error("wrong material");
  size_t key = top->keyOf(men, position.side);
  return {top->state[key], top->plies[key]};
}

int8_t tableByte(SolvedValue value) {
  switch (value.state) {
    case SOLVED_DRAW: return 0;
    case SOLVED_WIN: return int8_t(127 - (value.plies + 1) / 2);
    case SOLVED_LOSS: return int8_t(value.plies / 2 - 126);
    default: return 127;
  }
}

std::vector<uint8_t> classTable(int classNumber, int side, const Solver& solver) {
  std::vector<uint8_t> bytes(layoutFileLength(classNumber, side));
  for (uint32_t i = 0; i < bytes.size(); i++) {
    TbPosition position;
    bool known = decodeTbIndex(classNumber, side, i, position) && position.ep < 0;
    bytes[i] = uint8_t(known ? tableByte(solver.valueOf(position)) : 127);
  }
  return bytes;
}

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes bytes as name: first as name.part, renamed once every byte is written, so that an
// interrupted run never leaves a file of a table's name that is cut short.
bool writeTableFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string part = name + ".part";
  FILE* out = std::fopen(part.c_str(), "wb");
  bool written = out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out != nullptr && std::fclose(out) != 0) written = false;
  if (written && std::rename(part.c_str(), name.c_str()) == 0) return true;
  std::printf("**ERROR**  generateTBFiles() : unable to write %s: %s\n", name.c_str(), std::strerror(errno));
  std::remove(part.c_str());
  return false;
}

}  // namespace

int generateTBFiles(const char* folder, const std::vector<int>& classes) {
  const auto start = std::chrono::steady_clock::now();
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  int files = 0;
  for (size_t done = 0; done < classes.size(); done++) {
    const int c = classes[done];
    if (c <= 0 || c >= TB_CLASSES || std::strlen(tbClassName(c)) > size_t(TB_GENERATED_MEN)) {
      std::printf("**ERROR**  generateTBFiles() : %s has more than %d men; not generated\n", tbClassName(c),
                  TB_GENERATED_MEN);
      return -1;
    }
    const auto classStart = std::chrono::steady_clock::now();
    const Solver solver(tbClassName(c));
    for (int side = 0; side < 2; side++) {
      if (!writeTableFile(prefix + tbClassName(c) + (side ? ".nbb" : ".nbw"), classTable(c, side, solver))) return -1;
      files++;
    }
    std::printf("%-6s %6.1f s   (%d of %d classes, %.1f s in all)\n", tbClassName(c), secondsSince(classStart),
                int(done + 1), int(classes.size()), secondsSince(start));
    std::fflush(stdout);
  }
  return files;
}
