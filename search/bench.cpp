// talvek bench: a fixed search over fixed positions. The total node count is the search's
// signature: nothing in it depends on the clock, so it is the same on every run and build.
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "search/search.h"

namespace {

constexpr uint32_t BENCH_HASH = 16u << 20;

// Openings, middlegames with tactics, endgames, promotions and short mates.
constexpr const char* BENCH_POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4",
    "r1bqkbnr/pp1ppppp/2n5/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3",
    "rnbqkb1r/ppp2ppp/4pn2/3p2B1/2PP4/2N5/PP2PPPP/R2QKBNR b KQkq - 3 4",
    "rnbq1rk1/ppp1ppbp/3p1np1/8/2PPP3/2N2N2/PP3PPP/R1BQKB1R w KQ - 2 6",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "3r1k2/4npp1/1ppr3p/p6P/P2PPPP1/1NR5/5K2/2R5 w - - 0 1",
    "2q1rr1k/3bbnnp/p2p1pp1/2pPp3/PpP1P1P1/1P2BNNP/2BQ1PRK/7R b - - 0 1",
    "r1b2rk1/2q1b1pp/p2ppn2/1p6/3QP3/1BN1B3/PPP3PP/R4RK1 w - - 0 1",
    "1nk1r1r1/pp2n1pp/4p3/q2pPp1N/b1pP1P2/B1P2R2/2P1B1PP/R2Q2K1 w - - 0 1",
    "2kr1bnr/pbpq4/2n1pp2/3p3p/3P1P1B/2N2N1Q/PPP3PP/2KR1B1R w - - 0 1",
    "r3r1k1/ppqb1ppp/8/4p1NQ/8/2P5/PP3PPP/R3R1K1 b - - 0 1",
    "rnb2r1k/pp2p2p/2pp2p1/q2P1p2/8/1Pb2NP1/PB2PPBP/R2Q1RK1 w - - 0 1",
    "3rr3/2pq2pk/p2p1pnp/8/2QBPP2/1P6/P5PP/4RRK1 b - - 0 1",
    "2r2rk1/1bqnbpp1/1p1ppn1p/pP6/N1P1P3/P2B1N1P/1B2QPP1/R2R2K1 b - - 0 1",
    "r3kb1r/3n1pp1/p6p/2pPp2q/Pp2N3/3B2PP/1PQ2P2/R3K2R w KQkq - 0 1",
    "r6k/pp4p1/2p1b3/3pP3/7q/P2B3r/1PP2Q1P/2K1R1R1 w - - 0 1",
    "r3qb1k/1b4p1/p2pr2p/3n4/Pnp1N1N1/6RP/1B3PP1/1B1QR1K1 w - - 0 1",
    "r2qk2r/ppp1b1pp/2n1p3/3pP1n1/3P2b1/2PB1NN1/PP4PP/R1BQK2R w KQkq - 0 1",
    "5rk1/1p6/q2P3p/2p2rp1/p1nbQ3/P1N3BP/1PR1B1P1/4K3 b - - 0 1",
    "4r1k1/1pq2p1p/2p2npb/2N5/1PPQn1P1/7P/6B1/B2R2K1 b - - 0 1",
    "2r3k1/pppR1pp1/4p3/4P1P1/5P2/1P4K1/P1P5/8 w - - 0 1",
    "4b3/p3kp2/6p1/3pP2p/2pP1P2/4K1P1/P3N2P/8 w - - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "8/k7/3p4/p2P1p2/P2P1P2/8/8/K7 w - - 0 1",
    "8/8/8/4k3/8/8/4P3/4K3 w - - 0 1",
    "1K1k4/1P6/8/8/8/8/r7/2R5 w - - 0 1",
    "8/5pk1/6p1/8/8/6P1/5PK1/8 w - - 0 1",
    "R7/P4k2/8/8/8/8/r7/6K1 w - - 0 1",
    "8/8/8/3k4/8/8/2r5/K5Q1 w - - 0 1",
    "4k3/1P6/8/8/8/8/6p1/4K3 w - - 0 1",
    "8/8/1k6/2b5/2pP4/8/5K2/8 b - d3 0 1",
    "6k1/8/8/8/8/8/R7/1R4K1 w - - 0 1",
    "r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1",
    "6k1/5p1p/6p1/8/8/8/1B3PPP/1Q4K1 w - - 0 1",
    "1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5 b - - 0 1",
    "rn3rk1/p5pp/2p5/3Ppb2/2q5/1Q6/PPPB2PP/R3K1NR b KQ - 0 1",
};
constexpr int BENCH_COUNT = sizeof BENCH_POSITIONS / sizeof BENCH_POSITIONS[0];

// Everything that could make a search depend on the clock, the input or the databases is
// switched off for the run and given back afterwards.
struct BenchSettings {
  Settings savedSettings = settings;
  SearchLimits savedLimits = limits;
  void (*savedHook)() = pollHook;
  int savedState = engineState, savedConsole = consoleMode, savedXboard = xboardMode, savedUci = uciMode;
  int savedIcs = icsMode, savedTbMen = tbMaxMen, savedEgbb = egbbAvailable;

  BenchSettings() {
    settings.post = 0;
    pollHook = nullptr;
    engineState = STATE_WAITING;
    consoleMode = xboardMode = uciMode = icsMode = 0;
    limits = SearchLimits{};
    limits.untimed = 1;
    tbMaxMen = 0;
    egbbAvailable = 0;
  }
  ~BenchSettings() {
    settings = savedSettings;
    limits = savedLimits;
    pollHook = savedHook;
    engineState = savedState;
    consoleMode = savedConsole;
    xboardMode = savedXboard;
    uciMode = savedUci;
    icsMode = savedIcs;
    tbMaxMen = savedTbMen;
    egbbAvailable = savedEgbb;
  }
};

}  // namespace

// Builds what a search needs with the settings as they stand (the program resets them to their
// start-up values first: bench runs instead of the start-up, so the settings file plays no part),
// then searches every position to depth plies (BENCH_DEPTH, the signature's, unless a benchmark
// asks for another) from a cleared 16 MB table and prints the nodes, time and speed of each and
// of the whole run. The position and the table are left as the last search left them; the table
// keeps the bench size.
void runBench(int depth) {
  initTables();
  if (ttTable == nullptr || ttBuckets != (BENCH_HASH >> 6)) initTT(BENCH_HASH);
  if (evalCache == nullptr) initECache(uint32_t(settings.ecache) << 20);
  BenchSettings scope;
  limits.maxDepth = depth;
  printf("bench: %d positions, depth %d\n", BENCH_COUNT, depth);
  if (settings.threads > 1) printf("threads: %d\n", settings.threads);
  uint64_t totalNodes = 0;
  int totalTime = 0;
  for (int i = 0; i < BENCH_COUNT; i++) {
    clearGameState();
    if (setBoard(BENCH_POSITIONS[i]) != 0) continue;
    clearTT();
    const int start = nowMs();
    think();
    const int elapsed = msSince(start);
    const uint64_t nodes = totalSearchNodes();  // of every thread
    totalNodes += nodes;
    totalTime += elapsed;
    printf("%2d %12" PRIu64 " nodes %7d ms %9" PRIu64 " nps  %s\n", i + 1, nodes, elapsed,
           nodes * 1000 / uint64_t(elapsed > 0 ? elapsed : 1), BENCH_POSITIONS[i]);
  }
  printf("\ntotal nodes: %" PRIu64 "\n", totalNodes);
  printf("total time: %d ms\n", totalTime);
  printf("nodes/second: %" PRIu64 "\n", totalNodes * 1000 / uint64_t(totalTime > 0 ? totalTime : 1));
}
