// Test-only tools for the endgame-database tests: an ".emd" encoder written from the file format,
// checks of the tablebase layout, and writers of the solver's table files (egdb.h) into
// temporary folders.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "egdb/egdb.h"

// ---------------------------------------------------------------------------
// ".emd" encoder
// ---------------------------------------------------------------------------

// The encoder's banner: 58 characters and CR LF (four zero bytes follow it in the file).
inline constexpr char TALVEK_EMD_BANNER[] =
    "Talvek tablebase block compressor 1.0 - endgame data only.\r\n";
static_assert(sizeof TALVEK_EMD_BANNER == 61);

struct EmdOptions {
  const char* banner = TALVEK_EMD_BANNER;  // 60 characters ending in CR LF
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
// Positions of a class (the decoder itself is the engine's, egdb.h)
// ---------------------------------------------------------------------------

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
// Table files from the solver (egdb.h)
// ---------------------------------------------------------------------------


// Writes the table files of class c (both sides) into folder from solver: as ".nbw"/".nbb", or
// compressed as ".nbw.emd"/".nbb.emd".
void writeClassFiles(const TempFolder& folder, int classNumber, const Solver& solver,
                     bool compressed);

// FEN of a table position seen with the first side as White (flip = false) or as Black with the
// board turned upside down (flip = true).
inline std::string fenOf(const TbPosition& position, bool flip) { return tbPositionFen(position, flip); }
