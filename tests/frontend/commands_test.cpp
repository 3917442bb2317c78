// Console commands through the real dispatcher, compared with their exact texts.
#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "frontend/frontend.h"
#include "tests/frontend/frontend_support.h"
#include "tests/support/support.h"

namespace {

// Runs one typed line through the dispatcher; known receives its result.
std::string run(const std::string& line, int* known = nullptr) {
  return captureOutput([&] {
    int result = runCommandLine(line.c_str());
    if (known != nullptr) *known = result;
  });
}

const char* const HELP_TEXT =
    "\n\n                             ====================="
    "\n                                    H E L P       "
    "\n                             =====================\n\n\n"
    "COMMAND    PARAMETERS         DESCRIPTION\n"
    "-------    ----------         -----------\n"
    "abscore    <on|off>           shows the score for white(on) or for talvek(off)\n"
    "analyze                       thinks on the current position until you type a line\n"
    "beep       <on|off>           sets on/off beep after every talvek's move\n"
    "board      <on|off>           sets on/off board display after every move\n"
    "book       <file|off>         plays from a Polyglot opening book, or not (off)\n"
    "createini                     writes to talvek.ini default settings\n"
    "ecache     <size>             sets the eval cache size in megabytes (min 1)\n"
    "egbbcache  <size>             sets the size for Shawul EGBB cache\n"
    "egbbpath   <path>             sets the path for Shawul EGBB\n"
    "epdtest    <e> <s> <i> [<l>]  runs an EPD testsuite file, s secs per position\n"
    "fen                           shows the FEN of the current position\n"
    "fetch      <file>             executes commands from a file\n"
    "zelt       <on|off>           enables/disables ZELT probes (instead of Nalimov\n"
    "zeltcache  <size>             sets size for ZELT cache\n"
    "zeltpath   <path>             sets the path for ZELT\n"
    "go                            talvek starts playing\n"
    "hash       <size>             sets the hashtable size in megabytes (min 1)\n"
    "help                          shows this list of commands\n"
    "lmoves                        shows the legal moves for the current position\n"
    "nalimovcache <size>           sets size for Nalimov EGTB cache\n"
    "nalimovpath <path>            sets the path for Nalimov EGTB\n"
    "newgame                       starts a new game\n"
    "noise      <depth>            sets depth to reach in order to show thinking\n"
    "overhead   <ms>               sets the ms kept back on every move for a slow GUI\n"
    "perft      <depth>            tests the move generation on the current position\n"
    "ponder     <on|off>           sets on/off pondering\n"
    "post       <on|off>           sets on/off post thinking\n"
    "quit                          leave talvek\n"
    "resign     <t> <c>            sets threshold(centipawns) and count for resign\n"
    "setboard   <fen>              sets board position to <fen>\n"
    "speedtest                     tests move generation and make/unmake speed\n"
    "tc         <m> <t> <i>        sets the time control for the game\n"
    "tbcheck    [<positions>]      compares Nalimov EGTB with ZELT, position by position\n"
    "threads    <n>                sets the number of search threads\n"
    "xboard                        switches to xboard mode\n"
    "!          <cmd> <params>     executes a shell command\n"
    "\n\n";

}  // namespace

TEST(ConsoleCommands, HelpTextAndAbbreviationOrder) {
  resetEngine();
  int known = 0;
  EXPECT_EQ(run("help", &known), HELP_TEXT);
  EXPECT_EQ(known, 1);
  EXPECT_EQ(run("h"), HELP_TEXT);   // help comes before every other h-command
  EXPECT_EQ(run("HeLp"), HELP_TEXT);  // the first word is lower-cased
  EXPECT_EQ(run("ha 32").find("H E L P"), std::string::npos);
  EXPECT_EQ(run("helpx", &known), "");
  EXPECT_EQ(known, 0);
}

TEST(ConsoleCommands, SettingsTranscript) {
  resetEngine();
  EXPECT_NE(run("board").find("a b c d e f g h"), std::string::npos);
  const std::string path63(63, 'p');
  const std::pair<std::string, std::string> transcript[] = {
      {"board ON", "usage: board <on|off>\n"},  // arguments keep their case
      {"bo off", "auto display board after move: off\n"},
      {"abscore off", "score always for white: off\n"},
      {"abscore 1", "usage: abscore <on|off>\n"},
      {"beep off", "beep after move: off\n"},
      {"ponder off", "pondering: off\n"},
      {"post", "usage: post <on|off>\n"},
      {"zelt on", "ZELT access: enabled\nNo ZELT tablebases found!\n"},  // zeltpath is empty
      {"resign -500 3", "resign if score < -500 for 3 times\n"},
      {"resign 700", "usage: resign <threshold> <count>\n"},
      {"noise 9x", "show thinking from depth: 9\n"},
      {"noise", "usage: noise <depth>\n"},
      {"zeltcache 0", "No ZELT tablebases found!\n"},  // loaded again; below 1 MB means 1
      {"zeltcache", "usage: zeltcache <size>\n"},
      {"zeltpath " + path63, "No ZELT tablebases found!\n"},
      {"zeltpath /" + path63, "No ZELT tablebases found!\n"},
      {"zeltpath  /tb/" + std::string(200, 'z') + "/with space  \r", "No ZELT tablebases found!\n"},
  };
  for (const auto& [line, output] : transcript) EXPECT_EQ(run(line), output) << line;
  EXPECT_EQ(settings.showBoard + settings.abscore + settings.beep + settings.ponder, 0);
  EXPECT_EQ(settings.post, 1);
  EXPECT_EQ(settings.zelt, 1);
  EXPECT_EQ(settings.resignThreshold, 500);
  EXPECT_EQ(settings.resignCount, 3);
  EXPECT_EQ(settings.noise, 9);
  EXPECT_EQ(settings.zeltCache, 1);
  EXPECT_EQ(settings.zeltPath, "/tb/" + std::string(200, 'z') + "/with space");  // the rest of the line
  EXPECT_EQ(settings.nalimovPath, "c:\\EGTB");
  EXPECT_EQ(run("zeltpath /tb/Mixed/Case"), "No ZELT tablebases found!\n");
  EXPECT_EQ(settings.zeltPath, "/tb/Mixed/Case");
  EXPECT_EQ(run("resign -99999999999999 1"), "resign if score < -2147483647 for 1 times\n");
}

TEST(ConsoleCommands, TimeControl) {
  resetEngine();
  EXPECT_EQ(run("tc 0 10 5"), "time control: game in 10 minutes + 5 seconds per move\n");
  EXPECT_EQ(movesPerControl, 0);
  EXPECT_EQ(engineClock, 600000);
  EXPECT_EQ(opponentClock, 600000);
  EXPECT_EQ(engineIncrement, 5000);
  limits.moveTime = 3000;
  EXPECT_EQ(run("tc 40 5 0"), "time control: 40 moves in 5 minutes\n");
  EXPECT_EQ(movesPerControl, 40);
  EXPECT_EQ(engineIncrement, 0);
  EXPECT_EQ(limits.moveTime, 0);
  EXPECT_EQ(run("tc 40 5"), "usage: tc <moves> <base_time> <inc>\n");
  EXPECT_EQ(movesPerControl, 40);
  run("tc 1 99999999 99999999");  // the clocks hold at the int range
  EXPECT_EQ(engineClock, 2147483647);
  EXPECT_EQ(engineIncrement, 2147483647);
  for (const char* line : {"tc -1 5 0", "tc 40 -5 0", "tc 40 5 -1", "tc 0 -99999999999 0"}) {
    EXPECT_EQ(run(line), "usage: tc <moves> <base_time> <inc>\n") << line;
    EXPECT_EQ(movesPerControl, 1);  // the control stays as it was
    EXPECT_EQ(engineClock, 2147483647);
  }
}

// The moves of lmoves output, after checking that the text is exactly the numbered list
// "%2d. %-7s", five to a line.
static std::vector<std::string> listedMoves(const std::string& out) {
  std::vector<std::string> moves;
  std::istringstream words(out);
  std::string number, move;
  while (words >> number >> move) moves.push_back(move);
  std::string expected;
  for (size_t i = 0; i < moves.size(); i++) {
    char text[32];
    std::snprintf(text, sizeof text, "%2d. %-7s%s", int(i + 1), moves[i].c_str(),
                  (i + 1) % 5 == 0 ? "\n" : "      ");
    expected += text;
  }
  if (moves.size() % 5 != 0) expected += "\n";
  EXPECT_EQ(out, expected);
  return moves;
}

TEST(ConsoleCommands, LegalMovesOfTheStartPosition) {
  resetEngine();
  std::string out = run("lmoves");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
  EXPECT_EQ(out.back(), '\n');
  std::vector<std::string> moves = listedMoves(out);
  EXPECT_EQ(std::set<std::string>(moves.begin(), moves.end()),
            (std::set<std::string>{"a3", "a4", "b3", "b4", "c3", "c4", "d3", "d4", "e3", "e4", "f3",
                                   "f4", "g3", "g4", "h3", "h4", "Na3", "Nc3", "Nf3", "Nh3"}));
  EXPECT_EQ(moves.size(), 20u);
}

TEST(ConsoleCommands, LegalMovesInCheckAndAfterMate) {
  resetEngine();
  setPosition("4k3/8/8/8/8/8/4r3/4K3 w - - 0 1");
  std::string out = run("lmoves");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
  std::vector<std::string> moves = listedMoves(out);
  EXPECT_EQ(std::set<std::string>(moves.begin(), moves.end()),
            (std::set<std::string>{"Kxe2", "Kd1", "Kf1"}));

  captureOutput([] { setBoard("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1"); });
  EXPECT_EQ(run("lmoves"), "");
}

TEST(ConsoleCommands, SetboardFenAndNewgame) {
  resetEngine();
  EXPECT_EQ(run("setboard 4k3/8/8/8/8/8/8/4K2R w K - 7 40"), "");
  EXPECT_EQ(run("fen"), "FEN: 4k3/8/8/8/8/8/8/4K2R w K - 7 1\n");
  EXPECT_EQ(run("setboard"), "");  // too few words: nothing happens
  EXPECT_EQ(currentFen(), "4k3/8/8/8/8/8/8/4K2R w K - 7 1");

  std::string out = run("setboard 4k3/8/8/8/8/8/8/4K2X w - - 0 1");
  EXPECT_NE(out.find("**ERROR**  setBoard() : bad FEN"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 52), "Errors found in the FEN. Setting the start position\n");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");

  run("tc 40 5 3");
  limits.maxDepth = 9;
  gameOver = 1;
  run("setboard 4k3/8/8/8/8/8/8/4K2R w K - 0 1");
  EXPECT_EQ(run("n"), "");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_EQ(movesPerControl, 60);
  EXPECT_EQ(engineClock, 1800000);
  EXPECT_EQ(opponentClock, 1800000);
  EXPECT_EQ(engineIncrement, 0);
  EXPECT_EQ(limits.maxDepth, 64);
  EXPECT_EQ(gameOver, 0);
  EXPECT_EQ(engineSide, BLACK);
}

TEST(ConsoleCommands, PerftChecksItsDepth) {
  resetEngine();
  for (const char* line : {"perft", "perft 0", "perft -3", "perft x", "perft 128"})
    EXPECT_EQ(run(line), "usage: perft <depth>\n") << line;
  std::string out = run("perft 2");
  EXPECT_NE(out.find("perft nodes: 400\n"), std::string::npos);
}

TEST(ConsoleCommands, ShellRunsOnlyTheFirstWord) {
  resetEngine();
  int known = 0;
  // "echo" alone writes an empty line: the later words never reach the shell.
  EXPECT_EQ(run("!echo not passed", &known), "\n");
  EXPECT_EQ(known, 1);
}

TEST(ConsoleCommands, XboardSwitchesForGood) {
  resetEngine();
  consoleMode = 1;
  EXPECT_EQ(run("xboard"), "\n");
  EXPECT_EQ(xboardMode, 1);
  EXPECT_EQ(consoleMode, 0);
  int known = 1;
  EXPECT_EQ(run("help", &known), "");  // console words no longer reach the console handler
  EXPECT_EQ(known, 0);
}

TEST(ConsoleCommands, WhileInitialisingOnlySettingsActAndSilently) {
  resetEngine();
  engineState = STATE_INITIALISING;
  int known = 1;
  for (const char* line : {"help", "fen", "quit", "newgame", "tc 40 5 0", "lmoves", "!echo"}) {
    EXPECT_EQ(run(line, &known), "") << line;
    EXPECT_EQ(known, 0) << line;
  }
  EXPECT_EQ(run("post off", &known), "");
  EXPECT_EQ(known, 1);
  EXPECT_EQ(settings.post, 0);
  EXPECT_EQ(run("resign -500 3"), "");
  EXPECT_EQ(settings.resignThreshold, 500);
  EXPECT_EQ(run("noise 3"), "");
  EXPECT_EQ(run("Zelt on"), "");
  EXPECT_EQ(settings.zelt, 1);
  // Usage lines still come out, and a lone "board" has no board to show yet.
  EXPECT_EQ(run("post maybe"), "usage: post <on|off>\n");
  EXPECT_EQ(run("resign 5"), "usage: resign <threshold> <count>\n");
  EXPECT_EQ(run("board"), "usage: board <on|off>\n");
}

TEST(ConsoleCommands, InitIsNoCommandAtThePrompt) {
  resetEngine();
  int known = 1;
  EXPECT_EQ(run("init", &known), "");
  EXPECT_EQ(known, 0);
}

TEST(ConsoleCommands, AbbreviationsFollowTheTableOrder) {
  resetEngine();
  const std::pair<std::string, std::string> transcript[] = {
      {"e", "usage: epdtest <epd_file> <secs> <iters> [<log_file>]\n"},  // before ecache, egbb...
      {"epdtest a.epd 1", "usage: epdtest <epd_file> <secs> <iters> [<log_file>]\n"},
      {"f", "FEN: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\n"},  // fen before fetch
      {"fet", "usage: fetch <file>\n"},
      {"b", "usage: beep <on|off>\n"},   // beep before board
      {"z", "usage: zelt <on|off>\n"},
      {"r 1", "usage: resign <threshold> <count>\n"},
      {"t", "usage: tc <moves> <base_time> <inc>\n"},
      {"eg", "usage: egbbcache <size>\n"},
      {"ec", "usage: ecache <size>\n"},
      {"ha", "usage: hash <size>\n"},
      {"nal", "usage: nalimovcache <size>\n"},
  };
  for (const auto& [line, output] : transcript) EXPECT_EQ(run(line), output) << line;
}

TEST(ConsoleCommands, GoGivesTheEngineTheSideToMove) {
  resetEngine();
  engineSide = NO_SIDE;
  int known = 0;
  EXPECT_EQ(run("go", &known), "");
  EXPECT_EQ(known, 1);
  EXPECT_EQ(engineSide, WHITE);
  run("setboard 4k3/8/8/8/8/8/8/4K2R b K - 0 1");
  EXPECT_EQ(run("g"), "");
  EXPECT_EQ(engineSide, BLACK);
}

// The sizes are megabytes; nothing below 1 MB and nothing beyond what a 32-bit byte count holds.
TEST(ConsoleCommands, HashAndEvalCacheAreReallocated) {
  resetEngine();
  initSearchTables();
  const std::pair<std::string, int> sizes[] = {{"hash 2", 2}, {"ha 0", 1}, {"hash -5", 1}};
  for (const auto& [line, megabytes] : sizes) {
    std::string out = run(line);
    EXPECT_EQ(settings.hash, megabytes) << line;
    EXPECT_EQ(out.rfind("Main Hash : ", 0), 0u) << line;
    EXPECT_EQ(size_t(ttBuckets) * sizeof(TTBucket), size_t(megabytes) << 20) << line;
  }
  EXPECT_EQ(run("ecache -1").rfind("Eval Cache: ", 0), 0u);
  EXPECT_EQ(settings.ecache, 1);
  EXPECT_EQ(size_t(evalCacheEntries) * sizeof(EvalCacheEntry), size_t(1) << 20);
  EXPECT_EQ(run("hash"), "usage: hash <size>\n");
  EXPECT_EQ(run("ecache"), "usage: ecache <size>\n");
  run("hash 1");
}

// A setting's range is its row's alone, and every way of setting it keeps to it: the console,
// the UCI option, xboard's "cores" (which is the threads setting), and the byte count a size
// hands on even when a value past its range was written by code.
TEST(ConsoleCommands, EveryFrontEndKeepsToTheSettingsRange) {
  resetEngine();
  struct Case {
    const char* line;
    bool xboard;
    int threads;
  };
  const Case cases[] = {{"threads 99", false, MAX_SEARCH_THREADS}, {"threads 0", false, 1},
                        {"cores 3", true, 3},  {"cores 99", true, MAX_SEARCH_THREADS},
                        {"cores -2", true, 1}, {"cores 2", true, 2}};
  for (const Case& c : cases) {
    xboardMode = c.xboard;
    run(c.line);
    EXPECT_EQ(settings.threads, c.threads) << c.line;
    EXPECT_EQ(searchThreadCount(), c.threads) << c.line;  // set up at once, between searches
  }
  xboardMode = 0;
  applyUciOption(settingRow(&Settings::threads), "1000");
  EXPECT_EQ(settings.threads, MAX_SEARCH_THREADS);
  applyUciOption(settingRow(&Settings::threads), "1");
  EXPECT_EQ(searchThreadCount(), 1);

  settings.hash = 0;
  EXPECT_EQ(settingBytes(&Settings::hash), 1u << 20);
  settings.hash = 1 << 20;
  EXPECT_EQ(settingBytes(&Settings::hash), uint32_t(MAX_TABLE_MB) << 20);
  settings.egbbCache = MAX_TABLE_MB;
  EXPECT_EQ(settingBytes(&Settings::egbbCache), uint32_t(EGBB_MAX_CACHE_MB) << 20);
  EXPECT_STREQ(settingRow(&Settings::nalimovPath).name, "nalimovpath");
  resetEngine();
}

// Paths and cache sizes of the endgame databases set them up again at once, except while the
// settings file is read.
TEST(ConsoleCommands, EndgameDatabaseSettingsReloadTheDatabases) {
  resetEngine();
  const std::string noTables = "No Nalimov tablebases found!\n";
  const std::string noBitbases = "EgbbProbe not Loaded!\n";
  EXPECT_EQ(run("nalimovcache 0"), noTables);
  EXPECT_EQ(settings.nalimovCache, 1);
  EXPECT_EQ(run("nalimovpath /nowhere/egtb"), noTables);
  EXPECT_EQ(settings.nalimovPath, "/nowhere/egtb");
  EXPECT_EQ(run("egbbcache -8"), noBitbases);
  EXPECT_EQ(settings.egbbCache, 1);
  EXPECT_EQ(run("egbbpath /nowhere/egbb"), noBitbases);
  EXPECT_EQ(egbbAvailable, 0);

  engineState = STATE_INITIALISING;
  EXPECT_EQ(run("nalimovcache 8") + run("nalimovpath /x") + run("egbbcache 8") + run("egbbpath /y"), "");
  EXPECT_EQ(settings.nalimovCache, 8);
  EXPECT_EQ(settings.egbbPath, "/y");
  EXPECT_EQ(run("hash 3") + run("ecache 99999"), "");  // stored only: start-up allocates them
  EXPECT_EQ(settings.hash, 3);
  EXPECT_EQ(settings.ecache, MAX_TABLE_MB);
  engineState = STATE_WAITING;
}
