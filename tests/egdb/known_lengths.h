// Lengths of correct Nalimov table files known from outside the engine, for the fast and the slow
// length tests: the tables' published lengths, and for the three-man classes without a published
// length figures worked out by hand from the layout (see nalimov_lengths_test.cpp).
#pragma once

#include <cstdint>

struct KnownLength {
  const char* name;
  uint32_t length[2];  // with White to move (.nbw), with Black to move (.nbb)
  bool published;      // false: worked out by hand
};

inline constexpr KnownLength KNOWN_LENGTHS[] = {
    {"kpk", {81664, 84012}, true},           {"kqk", {25629, 28644}, true},
    {"knk", {26282, 28644}, false},          {"kbk", {27243, 28644}, false},
    {"krk", {27030, 28644}, false},          {"kpkp", {3863492, 3863492}, true},
    {"kqqk", {698739, 873642}, true},        {"kppkp", {84219361, 89391280}, true},
    {"kqqkq", {41944320, 46912050}, true},   {"kpppk", {26061704, 28388716}, true},
    {"kqqqk", {12479974, 17472840}, true},
};

// The known lengths of the class named so; null when there are none.
inline const KnownLength* knownLength(const char* name) {
  for (const KnownLength& known : KNOWN_LENGTHS)
    for (int i = 0;; i++) {
      if (known.name[i] != name[i]) break;
      if (name[i] == '\0') return &known;
    }
  return nullptr;
}
