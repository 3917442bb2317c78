// A table file, compressed (".emd") or plain, registered from a folder and probed: values by
// index, and whole positions through the engine's probe. The first byte picks the class, the
// side, the form and (plain files) whether the data is cut or padded to the expected length.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/board.h"
#include "egdb/egdb.h"
#include "tests/fuzz/harness.h"

namespace {

const char* const CLASSES[] = {"kqk", "kpk", "krkp", "kbnk"};
const char* const POSITIONS[] = {"8/8/8/3k4/8/8/1Q6/K7 w - - 0 1",    "8/8/8/3k4/8/8/1Q6/K7 b - - 0 1",
                                 "8/8/8/3k4/8/2P5/8/K7 w - - 0 1",    "8/8/8/3k4/8/2P5/8/K7 b - - 0 1",
                                 "8/8/1p6/3k4/8/8/1R6/K7 w - - 0 1",  "8/8/8/3k4/8/8/1BN5/K7 b - - 0 1"};

int classNumber(const char* name) {
  for (int c = 1; c < TB_CLASSES; c++)
    if (std::strcmp(tbClassName(c), name) == 0) return c;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  if (size == 0) return 0;
  fuzzReset(Protocol::Console);
  mkdir("tables", 0700);
  for (const char* name : CLASSES)
    for (const char* form : {".nbw", ".nbb", ".nbw.emd", ".nbb.emd"})
      unlink(("tables/" + std::string(name) + form).c_str());

  const char* name = CLASSES[data[0] & 3];
  const int side = (data[0] >> 2) & 1;
  const bool compressed = (data[0] >> 3) & 1;
  const bool fitted = (data[0] >> 4) & 1;
  const int c = classNumber(name);
  std::vector<uint8_t> bytes(data + 1, data + size);
  if (!compressed && fitted && !bytes.empty()) {
    const size_t length = tbFileLength(c, side);
    for (size_t i = bytes.size(); i < length; i++) bytes.push_back(bytes[i % (size - 1)]);
    bytes.resize(length);
  }
  std::string file = "tables/" + std::string(name) + (side ? ".nbb" : ".nbw") + (compressed ? ".emd" : "");
  fuzzWrite(file.c_str(), bytes.data(), bytes.size());

  initNalimov("tables", 3 * TB_SLOT_COST);
  const uint32_t count = tbIndexCount(c, side);
  for (size_t i = 1; i + 4 <= size && i < 40; i += 4) {
    uint32_t index;
    std::memcpy(&index, data + i, 4);
    index %= count + 16;
    const int value = probeTB(index, side, c);
    fuzzRequire(value == TB_NO_ANSWER || (value >= -32768 && value <= 32767), "value out of range");
  }
  for (const char* fen : POSITIONS) {
    setBoard(fen);
    int score = 0;
    probeNalimov(&score);
    fuzzRequire(boardIsConsistent(), "a probe changed the board");
  }
  closeTBFiles();
  fuzzCheck();
  return 0;
}
