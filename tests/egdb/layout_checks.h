// Checks of the layout decoder shared by the fast and the slow index tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"

inline int classNumber(const std::string& name) {
  for (int c = 1; c < TB_CLASSES; c++)
    if (name == tbClassName(c)) return c;
  return 0;
}

inline bool hasPawns(int c) { return std::string(tbClassName(c)).find('p') != std::string::npos; }

// Every index of a class names a well-formed position, no position twice, and every legal
// position (with its en-passant variant where there is one) has an index up to the symmetries of
// the board; at least minLegal legal positions per side.
inline void expectEveryLegalPositionOnce(const char* name, uint64_t minLegal) {
  for (int side = 0; side < 2; side++) {
    LayoutCoverage coverage = checkLayoutCoverage(classNumber(name), side);
    EXPECT_EQ(coverage.malformed, 0u) << name << " side " << side << ": " << coverage.firstProblem;
    EXPECT_EQ(coverage.repeated, 0u) << name << " side " << side;
    EXPECT_EQ(coverage.missing, 0u) << name << " side " << side << ": " << coverage.firstProblem;
    EXPECT_GT(coverage.legal, minLegal) << name;
    EXPECT_GE(coverage.decoded, coverage.legal / (hasPawns(classNumber(name)) ? 2 : 8)) << name;
  }
}
