// Test-only tools for the endgame-database tests: an ".emd" encoder written from the file format,
// a decoder of the tablebase layout, a retrograde distance-to-mate solver, and writers of table
// files into temporary folders.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// ".emd" encoder
// ---------------------------------------------------------------------------

struct EmdOptions {
  int width = 13;                      // block size 2^width
  bool copies = true;                  // look for copies at all
  std::vector<uint32_t> distances;     // 24 copy distances; empty = a default set
  std::function<void(std::vector<uint8_t>&)> tamperLengths;  // edits the 1024 code lengths
};

// The ".emd" form of data.
std::vector<uint8_t> encodeEmd(const std::vector<uint8_t>& data, const EmdOptions& options = {});

// Length of the header of an encoded file, and a fresh checksum after editing its bytes.
uint32_t emdHeaderLength(const std::vector<uint8_t>& file);
void resealEmdHeader(std::vector<uint8_t>& file);

// ---------------------------------------------------------------------------
// Files and folders
// ---------------------------------------------------------------------------

// A fresh empty folder under the system's temporary folder, removed with everything in it when
// the object goes away.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return folderPath; }
  std::string file(const std::string& name) const { return folderPath + "/" + name; }
  void write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::string folderPath;
};

// ---------------------------------------------------------------------------
// Positions of a class and the layout decoder
// ---------------------------------------------------------------------------

// A position of a class in the table's own colours: the first side moves up the board.
struct TbPosition {
  int side;                  // side to move: 0 first, 1 second
  int kings[2];              // 0-63
  std::vector<int> units[2]; // per side: type * 64 + square (type 2 pawn .. 6 queen)
  int ep;                    // en-passant square (0-63) or -1
};

// The position an index of class c, side s stands for, in the table's colours; false for an
// index that names no position (past the table, two units on a square, or in the en-passant part
// a king on a square the double step needs).
bool decodeTbIndex(int classNumber, int side, uint32_t index, TbPosition& position);

// Whether a table position can be looked up: units on distinct squares, pawns on ranks 2-7, the
// kings apart, the side not to move not in check, and for an en-passant square a pawn of the side
// not to move just past it, the squares it crossed empty and a pawn of the side to move beside it.
bool tbPositionLegal(const TbPosition& position);

// Indices of the layout of class c, side s (main part and en-passant part), and the length of its
// file: the largest index of a legal position + 1. 0 for a class out of range.
uint64_t layoutIndexCount(int classNumber, int side);
uint32_t layoutFileLength(int classNumber, int side);
uint64_t layoutEnPassantStart(int classNumber, int side);  // first index of the en-passant part

// The images of p under the board symmetries a class's layout may use: the file mirror for
// classes with pawns, all eight for the others (p itself first).
std::vector<TbPosition> tbSymmetricImages(const TbPosition& p, bool pawns);

// A number that tells the positions of a class apart (the order of units within a side does not
// matter).
uint64_t tbPositionKey(TbPosition p);

// The decoder checked against every placement of a class's men with one side to move.
struct LayoutCoverage {
  uint64_t decoded = 0;    // indices that name a position
  uint64_t malformed = 0;  // of those, positions with shared squares, kings together, bad pawns
  uint64_t repeated = 0;   // positions named by more than one index
  uint64_t legal = 0;      // legal placements, counting en-passant variants
  uint64_t missing = 0;    // legal placements no index names, up to symmetry
  std::string firstProblem;  // FEN of the first malformed or missing position
};
LayoutCoverage checkLayoutCoverage(int classNumber, int side);

// The engine's index of a table position (indexTB): with invert the board is turned upside down
// and the stronger side's squares, passed first, are Black's.
uint32_t tbIndexOf(int classNumber, const TbPosition& position, bool invert);

// Index -> position -> index through the decoder and the engine's index function, both ways up:
// "" when the engine gives the index back (or, where the layout has two indices for a position,
// an index naming the same position up to symmetry), else what went wrong.
std::string checkIndexRoundTrip(int classNumber, int side, uint32_t index);

// ---------------------------------------------------------------------------
// Retrograde solver (white moves up; no castling, no en passant)
// ---------------------------------------------------------------------------

constexpr int SOLVED_ILLEGAL = 0;
constexpr int SOLVED_DRAW = 1;
constexpr int SOLVED_WIN = 2;
constexpr int SOLVED_LOSS = 3;

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
  // it can turn into.
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

// Writes the table files of class c (both sides) into folder from solver: as ".nbw"/".nbb", or
// compressed as ".nbw.emd"/".nbb.emd".
void writeClassFiles(const TempFolder& folder, int classNumber, const Solver& solver,
                     bool compressed);

// Writes into a table of class c, side s the values of the positions the engine checks a table
// file with at registration (a table made of a pattern passes the check then).
void putSampleValues(std::vector<uint8_t>& bytes, int classNumber, int side);
void putSampleValues(const std::string& path, int classNumber, int side);  // into a file

// FEN of a table position seen with the first side as White (flip = false) or as Black with the
// board turned upside down (flip = true).
std::string fenOf(const TbPosition& position, bool flip);
