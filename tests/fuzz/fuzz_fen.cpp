// A position record through setBoard, the console's "setboard" and xboard's "setboard"; a position
// that was accepted must survive every legal move made and taken back, and write itself out as
// a record that reads back to the same position.
#include <cstring>
#include <string>

#include "board/board.h"
#include "frontend/frontend.h"
#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStart();
  if (size == 0) return 0;
  const int route = data[0] % 3;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  fuzzReset(route == 2 ? Protocol::Xboard : Protocol::Console);
  if (route == 0)
    setBoard(text.c_str());
  else
    runCommandLine(("setboard " + text.substr(0, text.find_first_of("\r\n"))).c_str());
  fuzzRequire(fuzzConsistent(), "setboard left the board inconsistent");
  if (!positionRejected && validatePosition() == 0) {
    const HashKey key = hashKey;
    prepareRoot();
    for (int i = 0; i < plyStack[0].moveCount; i++) {
      makeMove(plyStack[0].moves[i]);
      fuzzRequire(boardIsConsistent(), "inconsistent after a move");
      unmakeMove();
    }
    fuzzRequire(hashKey == key && boardIsConsistent(), "a move taken back changed the position");
    char fen[FEN_BUFFER], again[FEN_BUFFER];
    getFEN(fen);
    fuzzRequire(setBoard(fen) == 0, "the engine's own record was refused");
    getFEN(again);
    fuzzRequire(std::strcmp(fen, again) == 0 && hashKey == key, "the record does not read back");
  }
  fuzzCheck();
  return 0;
}
