// Searches on several threads: the shared table never hands one position's data to another,
// even with two writers at once; searches at two threads keep mates and table scores exact and
// count every thread's nodes; the pool follows the setting; and the program under UCI and
// xboard stops, ponders, answers and quits at two threads as promptly as at one. These tests
// also make the ThreadSanitizer run of tests/run (label "threads").
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "search/search.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/frontend/frontend_support.h"
#include "tests/frontend/program.h"

namespace {

// A position's key and the move and depth stored with it, all derived from one number, so that
// a probe can tell whether what it got belongs to the key it asked for.
HashKey keyOf(uint64_t n) { return (n + 1) * 0x9E3779B97F4A7C15ull; }
Move moveOf(HashKey key) { return Move(key >> 40) | 1; }
int depthOf(HashKey key) { return int(key >> 58) + 1; }

class ThreadsTable : public testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    captureOutput([] { initTT(64); });  // one bucket: every position competes for it
    ttAge = 1;
  }
  void TearDown() override {
    captureOutput([] { initTT(1 << 20); });
    resetEngine();
  }
};

// Two entries of different positions mixed word by word (what two writers at once can leave)
// answer for neither position.
TEST_F(ThreadsTable, ATornEntryAnswersForNeitherPosition) {
  const HashKey a = keyOf(1), b = keyOf(2);
  hashKey = a;
  storeTT(8, 30, moveOf(a), BOUND_EXACT, 0);
  hashKey = b;
  storeTT(12, -40, moveOf(b), BOUND_LOWER, 0);
  TTEntry* entries = ttTable[0].entries;
  ASSERT_EQ(ttEntryKey(entries[0]), a);
  ASSERT_EQ(ttEntryKey(entries[1]), b);
  entries[0].data = entries[1].data;  // a's check word with b's data
  for (HashKey key : {a, b}) {
    hashKey = key;
    EXPECT_EQ(probeTTMove(), key == b ? moveOf(b) : 0u);
  }
}

// Two threads store and probe positions that share one bucket as fast as they can: every hit
// gives back the move and depth stored for that very position.
TEST_F(ThreadsTable, ConcurrentWritersNeverHandOutAnotherPositionsData) {
  std::atomic<int> wrong{0}, hits{0};
  auto hammer = [&](uint64_t first) {
    ply = 0;
    for (uint64_t i = 0; i < 200000; i++) {
      const HashKey key = keyOf(first + i % 7);
      hashKey = key;
      if (i % 2 == 0) {
        storeTT(depthOf(key), 0, moveOf(key), BOUND_EXACT, 0);
        continue;
      }
      int alpha = -MATE, beta = MATE, score = 0, nullAllowed = 1;
      Move move = 0;
      const int result = probeTT(0, alpha, beta, score, move, nullAllowed);
      if (move == 0) continue;
      hits++;
      if (move != moveOf(key) || result != PROBE_EXACT || score != 0) wrong++;
    }
  };
  std::thread other(hammer, 3);
  hammer(0);
  other.join();
  EXPECT_GT(hits.load(), 1000);
  EXPECT_EQ(wrong.load(), 0);
}

class ThreadsSearch : public testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    initSearchTables();
    clearTT();
  }
  void TearDown() override {
    settings.threads = 1;
    resizeSearchThreads(1);
    captureOutput([] { initNalimov("", 0); });
    resetEngine();
  }

  // Searches fen to depth plies on threads threads; returns the score.
  static int searchAt(const std::string& fen, int depth, int threads) {
    settings.threads = threads;
    setPosition(fen);
    limits = SearchLimits{};
    limits.maxDepth = depth;
    limits.untimed = 1;
    engineState = STATE_THINKING;
    captureOutput([] { think(); });
    engineState = STATE_WAITING;
    return rootScore;
  }
};

// Mates come out with their exact distance whatever the number of threads, and the node count
// and statistics of a search at two threads are more than the main thread's own.
TEST_F(ThreadsSearch, MatesAreExactAndEveryThreadsNodesCount) {
  struct Mate {
    const char* fen;
    int plies;
  };
  for (const Mate& mate : {Mate{"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", 1},
                           Mate{"r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 0 1", 1},
                           Mate{"6k1/5ppp/8/8/8/8/r4PPP/6K1 b - - 0 1", 1}})
    for (int threads : {1, 2})
      EXPECT_EQ(searchAt(mate.fen, 6, threads), MATE - mate.plies) << mate.fen << " at " << threads << " threads";
  searchAt("r3k2r/pp3ppp/2n1bn2/2bpp3/4P3/2NP1N2/PPP1BPPP/R1B1K2R w KQkq - 0 1", 7, 2);
  EXPECT_EQ(searchThreadCount(), 2);
  EXPECT_GT(totalSearchNodes(), nodes);
  EXPECT_GE(totalQuiesceNodes(), qnodes);
  EXPECT_GT(totalStores(), ttStores);
  const SearchStats all = totalSearchStats();  // the statistics block counts every thread too
  EXPECT_GT(all.hashProbes, searchStats.hashProbes);
  EXPECT_GT(all.evalProbes, searchStats.evalProbes);
  EXPECT_GE(all.cutoffs, searchStats.cutoffs);
  EXPECT_NE(pvTable[0][0], 0u);
}

// The pool follows the setting between searches; one thread starts nothing and counts as before.
TEST_F(ThreadsSearch, ThePoolFollowsTheSetting) {
  for (int threads : {3, 1, 2, 1}) {
    searchAt("r3k2r/pp3ppp/2n1bn2/2bpp3/4P3/2NP1N2/PPP1BPPP/R1B1K2R w KQkq - 0 1", 5, threads);
    EXPECT_EQ(searchThreadCount(), threads);
  }
  EXPECT_EQ(totalSearchNodes(), nodes);
  EXPECT_EQ(typeLine("threads 0"), "search threads: 1\n");
  EXPECT_EQ(typeLine("threads 2"), "search threads: 2\n");
  EXPECT_EQ(searchThreadCount(), 2);
  EXPECT_EQ(typeLine("threads 500"), "search threads: 64\n");
  EXPECT_EQ(typeLine("threads 1"), "search threads: 1\n");
  EXPECT_EQ(searchThreadCount(), 1);
}

// Timed searches at two threads: the last thinking line is the line played, with its score,
// whether it is the main thread's or a helper's deeper one.
TEST_F(ThreadsSearch, TheLastLineIsTheLinePlayed) {
  settings.threads = 2;
  settings.post = 1;
  uciMode = 1;
  engineState = STATE_THINKING;
  for (const char* fen : {"r3k2r/pp3ppp/2n1bn2/2bpp3/4P3/2NP1N2/PPP1BPPP/R1B1K2R w KQkq - 0 1",
                          "2r3k1/5pp1/p3p2p/1p6/3Pq3/P3Q1P1/1P3P1P/4R1K1 b - - 0 1"})
    for (int ms : {50, 150, 300}) {
      setPosition(fen);
      limits = SearchLimits{};
      limits.moveTime = ms;
      const std::string out = captureOutput([] { think(); });
      const size_t at = out.rfind(" pv ");
      ASSERT_NE(at, std::string::npos) << out;
      const size_t score = out.rfind(" score cp ", at);
      ASSERT_NE(score, std::string::npos) << out;
      EXPECT_EQ(std::stoi(out.substr(score + 10)), rootScore) << out;
      EXPECT_EQ(out.substr(at + 4, out.find(' ', at + 4) - at - 4), moveToUci(pvTable[0][0])) << out;
    }
  engineState = STATE_WAITING;
  uciMode = 0;
}

// Nalimov tables probed by two threads at once (block cache, first-load checks) still give the
// exact mate distances.
TEST_F(ThreadsSearch, NalimovScoresAreExactAtTwoThreads) {
  TempFolder folder;
  constexpr int KRK = 4, KQK = 5;
  for (int c : {KRK, KQK}) writeClassFiles(folder, c, Solver(tbClassName(c)), c == KRK);
  captureOutput([&] { initNalimov(folder.path().c_str(), 1 << 20); });
  settings.post = 0;
  EXPECT_EQ(searchAt("8/8/8/2k5/8/8/3QK3/8 w - - 0 1", 6, 2), MATE - 11);
  EXPECT_EQ(searchAt("7k/8/8/8/8/8/8/K3R3 w - - 0 1", 6, 2), MATE - 19);
}

// ----- the program at two threads -------------------------------------------------------------

// Starts the program in UCI mode with two search threads.
void startUciAtTwoThreads(EngineProcess& engine) {
  ASSERT_TRUE(engine.running());
  engine.send("uci");
  ASSERT_TRUE(engine.waitFor("uciok\n", 20000)) << engine.taken();
  engine.send("setoption name Threads value 2");
  engine.send("isready");
  ASSERT_TRUE(engine.waitFor("readyok\n", 5000));
  engine.taken();
}

int countOf(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) n++;
  return n;
}

// How soon an answer that comes "at once" must come; the thread sanitizer slows the program
// down several times over.
#ifdef __SANITIZE_THREAD__
constexpr int PROMPT_MS = 2500, QUIT_MS = 2800;
#else
constexpr int PROMPT_MS = 500, QUIT_MS = 1000;
#endif

using Clock = std::chrono::steady_clock;
int msSince(Clock::time_point start) {
  return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// stop, isready, ponderhit and a ponder miss act at once; every go gets one bestmove.
TEST(ThreadsTranscript, UciStopIsreadyPonderAndOneBestmovePerGo) {
  EngineProcess engine;
  startUciAtTwoThreads(engine);
  engine.send("position startpos moves e2e4");
  engine.send("go infinite");
  ASSERT_TRUE(engine.waitFor("info depth 5\n", 10000)) << engine.taken();
  engine.send("isready");
  Clock::time_point sent = Clock::now();
  ASSERT_TRUE(engine.waitFor("readyok\n", 3000));
  EXPECT_LT(msSince(sent), PROMPT_MS);
  std::string during = engine.taken();
  EXPECT_EQ(during.find("bestmove"), std::string::npos) << during;
  engine.send("stop");
  sent = Clock::now();
  ASSERT_TRUE(engine.waitFor("bestmove ", 3000)) << engine.taken();
  EXPECT_LT(msSince(sent), PROMPT_MS);
  engine.drain(100);
  engine.taken();

  // A ponder search turned into the engine's own, then a ponder miss (stop, new position).
  engine.send("position startpos moves e2e4 e7e5");
  engine.send("go ponder wtime 3000 btime 3000");
  ASSERT_TRUE(engine.waitFor("info depth 4\n", 10000));
  engine.drain(1000);
  EXPECT_EQ(engine.taken().find("bestmove"), std::string::npos);
  engine.send("ponderhit");
  ASSERT_TRUE(engine.waitFor("bestmove ", 5000)) << engine.taken();
  engine.taken();
  engine.send("position startpos moves e2e4 e7e5 g1f3");
  engine.send("go ponder wtime 60000 btime 60000");
  ASSERT_TRUE(engine.waitFor("info depth 4\n", 10000));
  engine.send("stop");
  sent = Clock::now();
  ASSERT_TRUE(engine.waitFor("bestmove ", 3000)) << engine.taken();
  EXPECT_LT(msSince(sent), PROMPT_MS);
  engine.drain(100);
  engine.taken();
  engine.send("position startpos moves e2e4 e7e5 g1f3 b8c6");
  engine.send("go wtime 1000 btime 1000");
  engine.send("position startpos moves d2d4");  // the next search without a stop
  engine.send("go depth 4");
  engine.send("go nodes 20000");
  std::string out;
  for (int waited = 0; waited < 10000 && countOf(out, "bestmove ") < 3; waited += 100) {
    engine.drain(100);
    out += engine.taken();
  }
  engine.drain(300);
  out += engine.taken();
  EXPECT_EQ(countOf(out, "bestmove "), 3) << out;

  // Mate scores reach the output exactly.
  engine.send("position fen 6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1");
  engine.send("go depth 6");
  ASSERT_TRUE(engine.waitFor("bestmove a1a8", 10000)) << engine.taken();
  EXPECT_NE(engine.taken().find("score mate 1 "), std::string::npos);

  // quit during a search ends the program at once.
  engine.send("go infinite");
  ASSERT_TRUE(engine.waitFor("info depth 5\n", 10000));
  engine.send("quit");
  sent = Clock::now();
  EXPECT_EQ(engine.waitExit(3000), 0);
  EXPECT_LT(msSince(sent), QUIT_MS);
}

// xboard: "cores 2", then "?" and a ponder miss answered at once, and analysis left at once.
TEST(ThreadsTranscript, XboardCoresMoveNowPonderMissAndAnalysis) {
  EngineProcess engine("-xboard");
  ASSERT_TRUE(engine.waitFor("feature done=0\n", 10000));
  engine.send("xboard");
  engine.send("protover 2");
  ASSERT_TRUE(engine.waitFor("smp=1", 10000));
  engine.send("cores 2");
  engine.send("new");
  engine.send("hard");
  engine.send("level 0 30 0");  // long thinking, cut short by "?"
  engine.send("post");
  engine.send("e2e4");
  ASSERT_TRUE(engine.waitFor("\n5 ", 10000)) << engine.taken();
  engine.send("?");
  Clock::time_point sent = Clock::now();
  ASSERT_TRUE(engine.waitFor("move ", 3000)) << engine.taken();
  EXPECT_LT(msSince(sent), PROMPT_MS);

  // The engine ponders on its guess; another move ends that search, and "?" the next at once.
  const std::string hint = engine.takeLine("Hint: ", 5000);
  ASSERT_FALSE(hint.empty()) << engine.taken();
  engine.drain(500);
  engine.taken();
  engine.send(hint == "Hint: a3" ? "h2h3" : "a2a3");
  engine.drain(300);
  engine.send("?");
  sent = Clock::now();
  ASSERT_TRUE(engine.waitFor("move ", 3000)) << engine.taken();
  EXPECT_LT(msSince(sent), PROMPT_MS);
  engine.taken();

  // Analysis at two threads, left with "exit".
  engine.send("easy");
  engine.send("force");
  engine.send("analyze");
  ASSERT_TRUE(engine.waitFor("\n5 ", 10000)) << engine.taken();
  engine.send("exit");
  engine.send("ping 7");
  sent = Clock::now();
  ASSERT_TRUE(engine.waitFor("pong 7", 3000)) << engine.taken();
  EXPECT_LT(msSince(sent), PROMPT_MS);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(3000), 0);
}

}  // namespace
