// What the tests of the table checks share: file names, the solver's files made once per run,
// which files registration refused, and how many wrong values a block answers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/support/support.h"

inline std::string fileName(int c, int s) { return std::string(tbClassName(c)) + (s ? ".nbb" : ".nbw"); }

// The solver's file of class c, side s.
inline const std::vector<uint8_t>& solved(int c, int s) {
  static std::map<std::pair<int, int>, std::vector<uint8_t>> files;
  std::vector<uint8_t>& file = files[{c, s}];
  if (file.empty()) file = classTable(c, s, Solver(tbClassName(c)));
  return file;
}

// A correct file gone bad as files do: all zeros, every value negated, zeros from a quarter, a
// half and three quarters of it on (an interrupted copy), and cut short by `cut` bytes.
inline std::vector<std::pair<std::string, std::vector<uint8_t>>> filesGoneBad(const std::vector<uint8_t>& right,
                                                                              size_t cut) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> bad;
  bad.push_back({"zeros", std::vector<uint8_t>(right.size(), 0)});
  std::vector<uint8_t> negated = right;
  for (uint8_t& b : negated)
    if (b != 127) b = uint8_t(-int8_t(b));
  bad.push_back({"negated", negated});
  for (int quarter = 1; quarter <= 3; quarter++) {
    std::vector<uint8_t> tail = right;
    std::fill(tail.begin() + long(tail.size() * size_t(quarter) / 4), tail.end(), 0);
    bad.push_back({"zero tail " + std::to_string(quarter * 25) + "%", tail});
  }
  bad.push_back({"truncated", std::vector<uint8_t>(right.begin(), right.end() - long(cut))});
  return bad;
}

// Whether every file of the classes is registered but the one of class c, side s (c = 0: all).
inline ::testing::AssertionResult onlyRefusedOf(const std::vector<int>& classes, int c, int s) {
  for (int k : classes)
    for (int side = 0; side < 2; side++)
      if ((tbClasses[k].fileName[side] == nullptr) != (k == c && side == s))
        return ::testing::AssertionFailure()
               << fileName(k, side) << (tbClasses[k].fileName[side] ? " kept" : " refused");
  return ::testing::AssertionSuccess();
}

// Positions of block `block` of class c, side s whose probe answers a value other than the
// solver's (127, "unknown", is no wrong answer; positions that cannot occur are not probed).
inline int wrongAnswers(int c, int s, uint32_t block) {
  const std::vector<uint8_t>& right = solved(c, s);
  int wrong = 0;
  captureOutput([&] {
    for (uint32_t i = block * TB_BLOCK; i < right.size() && i < (block + 1) * TB_BLOCK; i++) {
      int answer = readTBByte(i, s, c);
      wrong += right[i] != 127 && answer != 127 && answer != int8_t(right[i]);
    }
  });
  return wrong;
}
