// Shared set-up of the evaluation suites: a clean engine with the KPK bitbase and a small
// evaluation cache, square names, and the mirror images of FEN positions.
#pragma once

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board.h"
#include "eval/eval.h"
#include "tests/support/support.h"

class EvalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    captureOutput([] { initECache(1 << 20); });
    searchStats = SearchStats{};
  }
  void TearDown() override { freeECache(); }

  // Sets a position that setBoard accepts (a game-end line may be printed) and fails the test
  // when it is refused.
  static void place(const std::string& fen) {
    std::string out = captureOutput([&] { setBoard(fen.c_str()); });
    ASSERT_EQ(out.find("rror"), std::string::npos) << fen << ": " << out;
  }

  // Sets a position and builds the full evaluation's scratch state for it.
  static int fullAfter(const std::string& fen) {
    place(fen);
    return fullEvaluation();
  }

  // Evaluation from White's point of view, computed afresh.
  static int whiteScore() {
    freeECache();
    int score = evaluate();
    return sideToMove == BLACK ? -score : score;
  }
};

// 0x88 square of a name such as "e4".
inline Square sq(const char* name) { return (name[1] - '1') * 16 + (name[0] - 'a'); }

inline std::vector<std::string> splitFields(const std::string& fen) {
  std::istringstream in(fen);
  std::vector<std::string> fields;
  for (std::string f; in >> f;) fields.push_back(f);
  while (fields.size() < 6) fields.push_back(fields.size() == 4 ? "0" : "1");
  return fields;
}

// The colour mirror: board flipped top to bottom, colours and side to move exchanged,
// castling rights and the en-passant square mirrored.
inline std::string colourMirror(const std::string& fen) {
  std::vector<std::string> f = splitFields(fen);
  std::vector<std::string> ranks;
  std::stringstream placement(f[0]);
  for (std::string r; std::getline(placement, r, '/');) ranks.push_back(r);
  std::reverse(ranks.begin(), ranks.end());
  std::string board;
  for (size_t i = 0; i < ranks.size(); ++i) {
    for (char& c : ranks[i]) c = std::isupper(c) ? char(std::tolower(c)) : char(std::toupper(c));
    board += (i ? "/" : "") + ranks[i];
  }
  std::string castle;
  for (char c : std::string("KQkq")) {
    char from = std::isupper(c) ? char(std::tolower(c)) : char(std::toupper(c));
    if (f[2].find(from) != std::string::npos) castle += c;
  }
  if (castle.empty()) castle = "-";
  std::string ep = f[3];
  if (ep != "-") ep[1] = char('1' + '8' - ep[1]);
  return board + (f[1] == "w" ? " b " : " w ") + castle + " " + ep + " " + f[4] + " " + f[5];
}

// The left-right mirror, without castling rights.
inline std::string fileMirror(const std::string& fen) {
  std::vector<std::string> f = splitFields(fen);
  std::string board, rank;
  auto flush = [&] {
    std::string expanded;
    for (char c : rank) expanded += std::isdigit(c) ? std::string(c - '0', '1') : std::string(1, c);
    std::reverse(expanded.begin(), expanded.end());
    board += expanded;
    rank.clear();
  };
  for (char c : f[0]) {
    if (c == '/') {
      flush();
      board += '/';
    } else {
      rank += c;
    }
  }
  flush();
  std::string ep = f[3];
  if (ep != "-") ep[0] = char('a' + 'h' - ep[0]);
  return board + " " + f[1] + " - " + ep + " " + f[4] + " " + f[5];
}

// Every position of the perft suite and the EPD suites as a FEN with six fields.
inline std::vector<std::string> suitePositions() {
  std::vector<std::string> fens;
  FILE* perft = fopen(dataPath("perft.txt").c_str(), "r");
  char line[1024];
  while (perft && fgets(line, sizeof line, perft)) {
    std::string text(line);
    size_t cut = text.find(';');
    if (cut != std::string::npos) text.resize(cut);
    if (text.find('/') != std::string::npos) fens.push_back(text);
  }
  if (perft) fclose(perft);
  for (const char* name : {"bk.epd", "iq.epd", "lct2.epd", "nolot.epd"}) {
    FILE* epd = fopen(dataPath(name).c_str(), "r");
    while (epd && fgets(line, sizeof line, epd)) {
      std::istringstream in(line);
      std::string fields[4];
      if (in >> fields[0] >> fields[1] >> fields[2] >> fields[3])
        fens.push_back(fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3] + " 0 1");
    }
    if (epd) fclose(epd);
  }
  return fens;
}

// Sets a position; false when setBoard refuses it (a game-end line does not count).
inline bool trySetPosition(const std::string& fen) {
  std::string out = captureOutput([&] { setBoard(fen.c_str()); });
  return out.find("rror") == std::string::npos;
}
