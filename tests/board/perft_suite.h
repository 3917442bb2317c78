// The perft positions of tests/data/perft.txt: a FEN and the leaf counts by depth.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/board.h"
#include "tests/support/support.h"

struct PerftCase {
  std::string fen;
  std::vector<uint64_t> counts;  // counts[d - 1] = leaves at depth d
};

// Sets a suite position; some are already drawn by material, so a result line may appear.
inline bool setPerftPosition(const std::string& fen) {
  const std::string out = captureOutput([&] { setBoard(fen.c_str()); });
  return out.find("ERROR") == std::string::npos && out.find("Errors") == std::string::npos;
}

// Lines look like "<fen> ;D1 20 ;D2 400 ...".
inline std::vector<PerftCase> loadPerftSuite() {
  std::vector<PerftCase> cases;
  std::ifstream in(dataPath("perft.txt"));
  std::string line;
  while (std::getline(in, line)) {
    const size_t semi = line.find(';');
    if (semi == std::string::npos) continue;
    PerftCase c;
    c.fen = line.substr(0, semi);
    while (!c.fen.empty() && c.fen.back() == ' ') c.fen.pop_back();
    std::istringstream fields(line.substr(semi));
    std::string depth;
    uint64_t count;
    while (fields >> depth >> count) c.counts.push_back(count);
    cases.push_back(c);
  }
  return cases;
}
