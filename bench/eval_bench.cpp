// Evaluation speed: evaluations per second over the EPD suite positions with the evaluation
// cache off (every call a full evaluation or endgame evaluator) and on (repeats are hits), and
// the time the start-up tables take to build (the KPK bitbase nearly all of it). Prints figures
// only.
// Usage: eval_bench [data-directory] [calls-per-position]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/board.h"
#include "eval/eval.h"
#include "frontend/frontend.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> readSuites(const std::string& dir) {
  std::vector<std::string> fens;
  for (const char* name : {"bk.epd", "iq.epd", "lct2.epd", "nolot.epd"}) {
    FILE* f = fopen((dir + "/" + name).c_str(), "r");
    if (!f) {
      printf("cannot read %s/%s\n", dir.c_str(), name);
      continue;
    }
    char line[1024], a[128], b[8], c[8], d[8];
    while (fgets(line, sizeof line, f))
      if (sscanf(line, "%127s %7s %7s %7s", a, b, c, d) == 4)
        fens.push_back(std::string(a) + " " + b + " " + c + " " + d + " 0 1");
    fclose(f);
  }
  return fens;
}

// Evaluates every position `calls` times; returns evaluations per second. sink keeps the
// compiler from dropping the calls.
double run(const std::vector<std::string>& fens, int calls, long& sink) {
  double seconds = 0;
  long count = 0;
  for (const std::string& fen : fens) {
    setBoard(fen.c_str());
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) sink += evaluate();
    seconds += secondsSince(start);
    count += calls;
  }
  return count / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "tests/data";
  int calls = argc > 2 ? atoi(argv[2]) : 20000;
  if (calls < 1) calls = 1;

  auto start = std::chrono::steady_clock::now();
  initTables();
  printf("initTables: %.3f ms\n", secondsSince(start) * 1000);
  clearGameState();

  std::vector<std::string> fens = readSuites(dir);
  if (fens.empty()) return 1;
  long sink = 0;
  freeECache();
  double uncached = run(fens, calls, sink);
  initECache(4u << 20);
  searchStats = SearchStats{};
  double cached = run(fens, calls, sink);
  printf("positions: %zu, calls per position: %d\n", fens.size(), calls);
  printf("evaluations per second, cache off: %.0f\n", uncached);
  printf("evaluations per second, cache on:  %.0f (hits %d of %d)\n", cached, searchStats.evalHits,
         searchStats.evalProbes);
  printf("(checksum %ld)\n", sink);
  freeECache();
  return 0;
}
