// The Chess960 perft counts of tests/data/chess960_perft.txt (made by Stockfish with
// UCI_Chess960, see tests/data/make_chess960_perft.py) and the start positions by number.
#pragma once

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/board/perft_suite.h"

// The groups of the file, by the name after "# ": start, deep, middle.
inline std::map<std::string, std::vector<PerftCase>> loadChess960Suite() {
  std::map<std::string, std::vector<PerftCase>> groups;
  std::ifstream in(dataPath("chess960_perft.txt"));
  std::string line, group;
  while (std::getline(in, line)) {
    if (line.rfind("# ", 0) == 0) {
      group = line.substr(2);
      continue;
    }
    const size_t semi = line.find(';');
    if (semi == std::string::npos) continue;
    PerftCase c;
    c.fen = line.substr(0, semi);
    while (!c.fen.empty() && c.fen.back() == ' ') c.fen.pop_back();
    std::istringstream fields(line.substr(semi));
    std::string depth;
    uint64_t count;
    while (fields >> depth >> count) c.counts.push_back(count);
    groups[group].push_back(c);
  }
  return groups;
}

// Back rank of start position n (0-959) in Scharnagl's numbering, 518 being RNBQKBNR: the light
// bishop, the dark bishop, the queen on the free squares, the knights by a table of the ten
// ways to place two on five squares, and rook, king, rook on the three left.
inline std::string chess960Rank(int n) {
  static const char* const knights[10] = {"NN---", "N-N--", "N--N-", "N---N", "-NN--",
                                          "-N-N-", "-N--N", "--NN-", "--N-N", "---NN"};
  std::string rank(8, ' ');
  rank[2 * (n % 4) + 1] = 'B';
  n /= 4;
  rank[2 * (n % 4)] = 'B';
  n /= 4;
  auto place = [&](int index, char piece) {
    for (char& square : rank)
      if (square == ' ' && index-- == 0) square = piece;
  };
  place(n % 6, 'Q');
  n /= 6;
  for (int i = 4; i >= 0; i--)  // from the right, so that earlier free squares keep their index
    if (knights[n][i] == 'N') place(i, 'N');
  for (char piece : {'R', 'K', 'R'}) place(0, piece);
  return rank;
}

// Start position n with its rights as the rooks' files (byFile) or as KQkq.
inline std::string chess960Fen(int n, bool byFile) {
  const std::string rank = chess960Rank(n);
  std::string lower = rank;
  for (char& ch : lower) ch = char(ch - 'A' + 'a');
  std::string rights = "KQkq";
  if (byFile) {
    const char h = char('a' + rank.rfind('R')), a = char('a' + rank.find('R'));
    rights = {char(h - 'a' + 'A'), char(a - 'a' + 'A'), h, a};
  }
  return lower + "/pppppppp/8/8/8/8/PPPPPPPP/" + rank + " w " + rights + " - 0 1";
}
