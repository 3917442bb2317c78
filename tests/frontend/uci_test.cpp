// The UCI protocol through the real dispatcher: identification, position, go and the bestmove
// line, setoption. Searches that need "stop" or "ponderhit" from the GUI are driven through a
// pipe in uci_transcript_test.cpp.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "search/search.h"
#include "tests/frontend/frontend_support.h"
#include "tests/support/support.h"

namespace {

void startUci() {
  resetEngine();
  initSearchTables();
  uciMode = 1;
  settings.post = 0;
  settings.ponder = 0;  // as the switch to UCI leaves it: the GUI allows pondering
}

std::string identification(int hash) {
  return "id name Talvek v" TALVEK_VERSION "\n"
         "id author the Talvek developers\n"
         "option name Hash type spin default " + std::to_string(hash) + " min 1 max 4095\n"
         "option name NalimovPath type string default c:\\EGTB\n"
         "option name NalimovCache type spin default 16 min 1 max 4095\n"
         "option name Ponder type check default false\n"
         "option name OwnBook type check default false\n"
         "option name Clear Hash type button\n"
         "option name ZELT type combo default Disabled var Disabled var Bitbases var Tablebases\n"
         "option name ZELT Path type string default \n"
         "option name ZELT Cache type spin default 1 min 1 max 4095\n"
         "option name Shawul EGBB Path type string default c:\\EGBB\n"
         "option name Shawul EGBB Cache type spin default 16 min 1 max 2047\n"
         "option name Evaluation Cache type spin default 4 min 1 max 4095\n"
         "option name Check Extension type spin default 4 min 0 max 4\n"
         "option name Mate Threat Extension type spin default 4 min 0 max 4\n"
         "option name Pawn 7th Rank Extension type spin default 4 min 0 max 4\n"
         "option name Recapture Extension type spin default 3 min 0 max 4\n"
         "option name Single Reply Extension type spin default 3 min 0 max 4\n"
         "option name Book File type string default \n"
         "option name MultiPV type spin default 1 min 1 max 16\n"
         "option name UCI_EngineAbout type string default Talvek by the Talvek developers, see "
         "https://talvek.example.org\n"
         "option name Move Overhead type spin default 0 min 0 max 5000\n"
         "option name UCI_Chess960 type check default false\n"
         "option name Threads type spin default 1 min 1 max 64\n"
         "uciok\n";
}

// The last line of a search's output.
std::string lastLine(const std::string& out) {
  size_t end = out.size() - (out.empty() || out.back() != '\n' ? 0 : 1);
  size_t start = out.rfind('\n', end - 1);
  return out.substr(start == std::string::npos ? 0 : start + 1);
}

}  // namespace

TEST(Uci, IdentificationReadyAndUnknownWords) {
  startUci();
  EXPECT_EQ(typeLine("uci"), identification(16));
  settings.hash = 64;  // the announced defaults are the current settings
  EXPECT_EQ(typeLine("uci"), identification(64));
  EXPECT_EQ(typeLine("isready"), "readyok\n");
  int known = 0;
  EXPECT_EQ(typeLine("ucinewgame", &known), "");
  EXPECT_EQ(known, 1);
  for (const char* line : {"stop", "ponderhit", "debug on", "register later", "e2e4"}) {
    known = 1;
    EXPECT_EQ(typeLine(line, &known), "") << line;
    EXPECT_EQ(known, 0) << line;
  }
}

TEST(Uci, PositionStartposFenAndMoves) {
  startUci();
  typeLine("go depth 1");  // clocks and depth as a search leaves them
  EXPECT_EQ(typeLine("position startpos moves e2e4 e7e5"), "");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 1");
  EXPECT_EQ(gamePly, 2);
  EXPECT_EQ(limits.maxDepth, 64);
  EXPECT_EQ(movesPerControl, 60);
  EXPECT_EQ(engineClock, 1800000);
  EXPECT_EQ(opponentClock, 1800000);

  EXPECT_EQ(typeLine("position fen 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1 moves e2e4 e8d7"), "");
  EXPECT_EQ(currentFen(), "8/3k4/8/8/4P3/8/8/4K3 w - - 1 1");
  EXPECT_EQ(typeLine("position fen 4k3/8/8/8/8/8/4P3/4K3 b - -"), "");  // no counters, no moves
  EXPECT_EQ(currentFen(), "4k3/8/8/8/8/8/4P3/4K3 b - - 0 1");
  EXPECT_EQ(typeLine("position   startpos   moves   g1f3   "), "");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq - 1 1");
  // Without startpos or fen the moves go on from the current position.
  EXPECT_EQ(typeLine("position moves g8f6"), "");
  EXPECT_EQ(gamePly, 2);
  EXPECT_EQ(typeLine("position"), "");
  EXPECT_EQ(gamePly, 2);
}

// A typing error ends the list: the position reached before it stays, nothing after it is
// played, and the root is ready to search.
TEST(Uci, AnIllegalMoveEndsTheMoveList) {
  startUci();
  EXPECT_EQ(typeLine("position startpos moves e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 b5a4 e2e4 g8f6"),
            "Illegal move: e2e4\n");
  EXPECT_EQ(currentFen(), "r1bqkbnr/1ppp1ppp/p1n5/4p3/B3P3/5N2/PPPP1PPP/RNBQK2R b KQkq - 1 1");
  EXPECT_EQ(gamePly, 7);
  EXPECT_EQ(typeLine("position startpos moves e2e4 xyz e7e5"), "Illegal move: xyz\n");
  EXPECT_EQ(gamePly, 1);
  EXPECT_EQ(typeLine("position startpos moves e7e5"), "Illegal move: e7e5\n");  // wrong side
  EXPECT_EQ(gamePly, 0);
  // A FEN that cannot be read keeps the position and plays none of the moves.
  std::string out = typeLine("position fen 4k3/8/8/8/8/8/4P3/4X3 w - - 0 1 moves e2e4");
  EXPECT_EQ(out, "**ERROR**  setBoard() : bad FEN (char 19)\n");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  // So does a record of one rank: the start position is not mixed into it.
  EXPECT_EQ(typeLine("position fen 4k3 w - - 0 1"), "**ERROR**  setBoard() : bad FEN (char 3)\n");
  EXPECT_EQ(currentFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
}

// A refused position stays refused until the GUI sets a whole one: moves sent without startpos
// or fen are not played on what the refused command left on the board, and a bare "position"
// does not make that board searchable.
TEST(Uci, ARefusedPositionStaysRefusedUntilANewOne) {
  startUci();
  for (const char* after : {"position moves d2d4", "position"}) {
    EXPECT_EQ(typeLine("position startpos moves e2e4 e7e5 e1e3"), "Illegal move: e1e3\n");
    EXPECT_EQ(typeLine(after), "") << after;
    EXPECT_EQ(gamePly, 2) << after;
    EXPECT_EQ(lastLine(typeLine("go depth 1")), "bestmove 0000\n") << after;
  }
  EXPECT_EQ(typeLine("position fen 8/8/8/8/8/8/8/8 w - - 0 1 moves e2e4").rfind("**ERROR**", 0), 0u);
  EXPECT_EQ(typeLine("position moves e2e4"), "");
  EXPECT_EQ(lastLine(typeLine("go depth 1")), "bestmove 0000\n");
  typeLine("position startpos moves e2e4 e7e5");
  typeLine("position moves d2d4");
  EXPECT_EQ(gamePly, 3);
  EXPECT_NE(lastLine(typeLine("go depth 1")), "bestmove 0000\n");
}

// Hundreds of moves in one line (the knights going out and back), and a game record that is
// full refuses further moves instead of overrunning the history.
TEST(Uci, LongMoveLists) {
  startUci();
  std::string line = "position startpos moves";
  for (int i = 0; i < 160; i++) line += " g1f3 g8f6 f3g1 f6g8";
  EXPECT_EQ(typeLine(line), "");
  EXPECT_EQ(gamePly, 640);
  EXPECT_EQ(currentFen().rfind("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 640 ", 0), 0u);
  std::string out = typeLine("go depth 2");
  EXPECT_EQ(lastLine(out).rfind("bestmove ", 0), 0u) << out;  // a draw by repetition still gets a move

  line = "position startpos moves";
  for (int i = 0; i < MAX_GAME_PLIES / 4 + 1; i++) line += " g1f3 g8f6 f3g1 f6g8";
  EXPECT_EQ(typeLine(line), "Illegal move (game record full): g1f3\n");
  EXPECT_EQ(gamePly, MAX_GAME_PLIES);
  EXPECT_TRUE(boardIsConsistent());
}

TEST(Uci, GoReadsEveryKeyword) {
  startUci();
  typeLine("position startpos moves e2e4");  // Black to move
  std::string out = typeLine("go wtime 61000 btime 59000 winc 1000 binc 2000 movestogo 1 depth 1");
  EXPECT_EQ(engineClock, 59000);
  EXPECT_EQ(opponentClock, 61000);
  EXPECT_EQ(engineIncrement, 2000);
  EXPECT_EQ(opponentIncrement, 1000);
  EXPECT_EQ(movesPerControl, 1);
  EXPECT_EQ(limits.maxDepth, 1);
  EXPECT_EQ(limits.moveTime, 0);
  EXPECT_EQ(engineSide, BLACK);
  EXPECT_EQ(engineState, STATE_WAITING);
  EXPECT_EQ(out.rfind("info depth 1\n", 0), 0u) << out;
  EXPECT_EQ(out.find("info depth 2\n"), std::string::npos);

  typeLine("position startpos");
  typeLine("go wtime 5000 winc 700 movetime 300 depth 3");
  EXPECT_EQ(engineClock, 5000);
  EXPECT_EQ(engineIncrement, 700);
  EXPECT_EQ(opponentClock, 0);
  EXPECT_EQ(limits.moveTime, 300);
  EXPECT_EQ(movesPerControl, 0);
}

TEST(Uci, GoDepthSearchesThatManyIterations) {
  startUci();
  clearTT();  // no table cut-off shortens the principal variation
  typeLine("position startpos");
  std::string out = typeLine("go depth 3");
  std::istringstream lines(out);
  std::string text, depths;
  while (std::getline(lines, text))
    if (text.rfind("info depth ", 0) == 0 && text.find(' ', 11) == std::string::npos) depths += text.substr(11) + " ";
  EXPECT_EQ(depths, "1 2 3 ");
  // "bestmove <move> ponder <move>", both legal in turn.
  std::istringstream best(lastLine(out));
  std::string word, move, ponderWord, reply;
  best >> word >> move >> ponderWord >> reply;
  EXPECT_EQ(word, "bestmove");
  EXPECT_EQ(ponderWord, "ponder");
  Move m = matchMove(parseCoord(move.c_str()));
  ASSERT_NE(m, 0u) << out;
  makeMove(m);
  prepareRoot();
  EXPECT_NE(matchMove(parseCoord(reply.c_str())), 0u) << out;
}

TEST(Uci, MovetimeBoundsTheSearch) {
  startUci();
  typeLine("position startpos");
  int start = nowMs();
  std::string out = typeLine("go movetime 300");
  int used = nowMs() - start;
  EXPECT_GE(used, 300);
  EXPECT_LT(used, 3000);
  EXPECT_EQ(lastLine(out).rfind("bestmove ", 0), 0u);
}

// With UCI_Chess960 the rights may name the rooks' files or the outermost rooks, and castling
// is the king taking its own rook, read and written; standard chess keeps e1g1.
TEST(Uci, Chess960PositionsAndCastling) {
  startUci();
  EXPECT_EQ(typeLine("setoption name UCI_Chess960 value true"), "");
  EXPECT_EQ(typeLine("position fen nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBgb - 0 1 moves g2g3 g7g6 "
                     "f1g2 f8g7 e2e3 e7e6 e1e2 e8e7 d1g1 d8g8"),
            "");
  EXPECT_EQ(currentFen(), "nrb2rkn/ppppqpbp/4p1p1/8/8/4P1P1/PPPPQPBP/NRB2RKN w - - 4 1");
  EXPECT_EQ(typeLine("position fen nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w KQkq - 0 1"), "");
  EXPECT_EQ(lastLine(typeLine("go depth 3")).rfind("bestmove ", 0), 0u);
  EXPECT_NE(lastLine(typeLine("go depth 3")), "bestmove 0000\n");
  // Castling is the only mate: the king stays on g1.
  typeLine("position fen 4rkr1/4p1p1/8/8/8/8/8/6KR w H - 0 1");
  EXPECT_EQ(lastLine(typeLine("go depth 3")), "bestmove g1h1\n");
  typeLine("position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves e1h1");
  EXPECT_EQ(currentFen(), "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 1 1");
  typeLine("setoption name UCI_Chess960 value false");
  typeLine("position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves e1g1");
  EXPECT_EQ(currentFen(), "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 1 1");
}

// The bestmove line never names a move that cannot be played.
TEST(Uci, BestmoveWithoutAMoveOrWithoutAReply) {
  startUci();
  typeLine("position fen 7k/6Q1/6K1/8/8/8/8/8 b - - 0 1");  // Black is mated
  EXPECT_EQ(typeLine("go depth 3"), "bestmove 0000\n");
  typeLine("position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");  // stalemate
  EXPECT_EQ(typeLine("go movetime 50"), "bestmove 0000\n");
  // A single legal move is answered at once, with no reply to ponder on.
  typeLine("position fen 7k/8/8/8/8/8/1r6/K7 w - - 0 1");
  EXPECT_EQ(typeLine("go wtime 1000 btime 1000"), "bestmove a1b2\n");
}

TEST(Uci, SetoptionHashReallocatesOnlyOnAChange) {
  startUci();
  settings.hash = 1;  // the tables the tests run with
  const TTBucket* table = ttTable;
  EXPECT_EQ(typeLine("setoption name Hash value 1"), "");
  EXPECT_EQ(ttTable, table);
  std::string out = typeLine("setoption name Hash value 2");
  EXPECT_EQ(out.rfind("Main Hash : ", 0), 0u);
  EXPECT_EQ(settings.hash, 2);
  EXPECT_EQ(size_t(ttBuckets) * sizeof(TTBucket), size_t(2) << 20);
  EXPECT_EQ(typeLine("setoption name Hash value 2"), "");
  EXPECT_NE(typeLine("setoption name Hash value 0"), "");  // below 1 MB means 1
  EXPECT_EQ(settings.hash, 1);
  EXPECT_EQ(typeLine("setoption name Hash value -9"), "");

  settings.ecache = 1;
  EXPECT_EQ(typeLine("setoption name Evaluation Cache value 1"), "");
  EXPECT_EQ(typeLine("setoption name Evaluation Cache value 2").rfind("Eval Cache: ", 0), 0u);
  EXPECT_EQ(size_t(evalCacheEntries) * sizeof(EvalCacheEntry), size_t(2) << 20);
  captureOutput([] { runCommandLine("setoption name Evaluation Cache value 1"); });
}

TEST(Uci, SetoptionClearHashEmptiesTheTableInPlace) {
  startUci();
  typeLine("position startpos");
  typeLine("go depth 4");
  makeMove(pvTable[0][0]);  // the principal variation's position after the best move
  prepareRoot();
  ASSERT_NE(probeTTMove(), 0u);
  const TTBucket* table = ttTable;
  EXPECT_EQ(typeLine("setoption name Clear Hash"), "");
  EXPECT_EQ(ttTable, table);
  EXPECT_EQ(probeTTMove(), 0u);
}

TEST(Uci, SetoptionOfEveryOtherOption) {
  startUci();
  const std::pair<std::string, std::string> silent[] = {
      {"setoption name Ponder value false", ""},
      {"setoption name UCI_Chess960 value true", ""},
      {"setoption name Check Extension value 2", ""},
      {"setoption name Mate Threat Extension value 1", ""},
      {"setoption name Pawn 7th Rank Extension value 0", ""},
      {"setoption name Recapture Extension value 4", ""},
      {"setoption name Single Reply Extension value 2", ""},
      {"setoption name ZELT value Tablebases", "No ZELT tablebases found!\n"},  // loaded at once
      {"setoption name ZELT Cache value 8", "No ZELT tablebases found!\n"},
      {"setoption name ZELT Path value c:\\My Tables", "No ZELT tablebases found!\n"},  // values may hold spaces
      {"setoption name OwnBook value true", ""},
      {"setoption name Nonsense value 3", ""},
      {"setoption name Hash", ""},  // no value, not a button: nothing
  };
  for (const auto& [line, output] : silent) EXPECT_EQ(typeLine(line), output) << line;
  EXPECT_EQ(settings.ponder, 0);
  EXPECT_EQ(settings.chess960, 1);
  EXPECT_EQ(settings.checkExtension, 2);
  EXPECT_EQ(settings.mateThreatExtension, 1);
  EXPECT_EQ(settings.pawn7thExtension, 0);
  EXPECT_EQ(settings.recaptureExtension, 4);
  EXPECT_EQ(settings.singleReplyExtension, 2);
  EXPECT_EQ(settings.zelt, 1);
  EXPECT_EQ(settings.zeltCache, 8);
  EXPECT_EQ(settings.zeltPath, "c:\\My Tables");
  // Extensions beyond the announced 0..4 are held to it: the search adds them up.
  typeLine("setoption name Mate Threat Extension value -2147483648");
  typeLine("setoption name Check Extension value 99999999999");
  EXPECT_EQ(settings.mateThreatExtension, 0);
  EXPECT_EQ(settings.checkExtension, 4);
  typeLine("setoption name ZELT value Bitbases");
  EXPECT_EQ(settings.zelt, ZELT_BITBASES);
  typeLine("setoption name ZELT value Disabled");
  EXPECT_EQ(settings.zelt, 0);
  typeLine("setoption name Ponder value true");
  EXPECT_EQ(settings.ponder, 1);

  // Database paths and caches set the databases up again, only when they change.
  EXPECT_EQ(typeLine("setoption name NalimovPath value /nowhere/tb"), "No Nalimov tablebases found!\n");
  EXPECT_EQ(typeLine("setoption name NalimovPath value /nowhere/tb"), "");
  EXPECT_EQ(typeLine("setoption name NalimovCache value 4"), "No Nalimov tablebases found!\n");
  EXPECT_EQ(typeLine("setoption name NalimovCache value 4"), "");
  EXPECT_EQ(typeLine("setoption name Shawul EGBB Cache value 2"), "EgbbProbe not Loaded!\n");
  EXPECT_EQ(typeLine("setoption name Shawul EGBB Path value /nowhere/bb"), "EgbbProbe not Loaded!\n");
  EXPECT_EQ(egbbAvailable, 0);

  // A path of any length is taken whole, spaces included.
  const std::string longPath = "/nowhere/" + std::string(300, 'p') + "/my tables";
  EXPECT_EQ(typeLine("setoption name NalimovPath value " + longPath), "No Nalimov tablebases found!\n");
  EXPECT_EQ(settings.nalimovPath, longPath);
  EXPECT_EQ(typeLine("setoption name Shawul EGBB Path value " + longPath), "EgbbProbe not Loaded!\n");
  EXPECT_EQ(settings.egbbPath, longPath + "/");
}

// The README's list of UCI options ("announces the options ...;") names, in back quotes,
// exactly the options "uci" announces.
TEST(UciOptions, TheReadmeListsTheAnnouncedOptions) {
  resetEngine();
  std::ifstream file(std::string(TALVEK_TEST_DATA) + "/../../README.md");
  ASSERT_TRUE(file) << "README.md not found";
  std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t start = readme.find("announces the options ");
  ASSERT_NE(start, std::string::npos);
  const std::string list = readme.substr(start, readme.find(';', start) - start);
  std::set<std::string> listed;
  for (size_t at = list.find('`'); at != std::string::npos; at = list.find('`', at + 1)) {
    const size_t end = list.find('`', at + 1);
    ASSERT_NE(end, std::string::npos);
    std::string name = list.substr(at + 1, end - at - 1);
    std::replace(name.begin(), name.end(), '\n', ' ');
    listed.insert(name);
    at = end;
  }
  std::set<std::string> announced;
  std::istringstream lines(captureOutput(printUciIdentification));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("option name ", 0) == 0) announced.insert(line.substr(12, line.find(" type ") - 12));
  EXPECT_EQ(listed, announced);
  EXPECT_EQ(announced.size(), 23u);
}

// Numbers are held to their ranges where they come in: the extensions to the 0-4 they
// announce (and show what they hold), a depth below 1 means no depth limit.
TEST(Uci, NumbersAreHeldToTheirRanges) {
  startUci();
  typeLine("setoption name Pawn 7th Rank Extension value 2147483647");
  typeLine("setoption name Check Extension value -99999999999999999999");
  typeLine("setoption name Hash value 99999");
  EXPECT_EQ(settings.pawn7thExtension, 4);
  EXPECT_EQ(settings.checkExtension, 0);
  EXPECT_EQ(settings.hash, MAX_TABLE_MB);
  const std::string options = typeLine("uci");
  EXPECT_NE(options.find("option name Pawn 7th Rank Extension type spin default 4 min 0 max 4\n"), std::string::npos);
  EXPECT_NE(options.find("option name Check Extension type spin default 0 min 0 max 4\n"), std::string::npos);
  typeLine("setoption name Hash value 1");
  typeLine("position fen 8/8/2k1P3/8/8/8/8/4K2R w K - 0 1");  // checks and a pawn to the seventh
  EXPECT_NE(typeLine("go depth 4").find("bestmove "), std::string::npos);
  EXPECT_NE(typeLine("go depth -600000000 movetime 100").find("bestmove "), std::string::npos);
  EXPECT_EQ(limits.maxDepth, 64);
  xboardMode = 1;
  uciMode = 0;
  typeLine("sd -600000000");
  EXPECT_EQ(limits.maxDepth, 64);
  typeLine("sd 7");
  EXPECT_EQ(limits.maxDepth, 7);
}

namespace {

// One "info ... multipv k ..." line: its number, score (mates as MATE - plies) and first move.
struct PvLine {
  int number;
  int score;
  std::string firstMove;
};

// The lines of the last complete multi-line block of a search's output.
std::vector<PvLine> lastMultiPvBlock(const std::string& out) {
  std::vector<PvLine> block;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t at = line.find(" multipv ");
    if (at == std::string::npos) continue;
    PvLine pv{std::atoi(line.c_str() + at + 9), 0, ""};
    const size_t cp = line.find(" score cp "), mate = line.find(" score mate ");
    if (cp != std::string::npos) pv.score = std::atoi(line.c_str() + cp + 10);
    if (mate != std::string::npos) {
      const int moves = std::atoi(line.c_str() + mate + 12);
      pv.score = moves > 0 ? MATE - (2 * moves - 1) : -MATE + 2 * -moves;
    }
    std::istringstream pvWords(line.substr(line.find(" pv ") + 4));
    pvWords >> pv.firstMove;
    if (pv.number == 1) block.clear();
    block.push_back(pv);
  }
  return block;
}

// Searches position at depth with the multiPV setting; returns the output.
std::string searchLines(const std::string& position, int lines, int depth) {
  startUci();
  settings.post = 1;
  settings.multiPV = lines;
  clearTT();
  EXPECT_EQ(typeLine("position " + position), "");
  return typeLine("go depth " + std::to_string(depth));
}

}  // namespace

// Three lines in a mate position and in one where a capture wins the queen: ordered by score,
// each with its own first move, the mate or the capture first, and bestmove the first line's.
TEST(Uci, MultiPvFindsTheBestLinesInOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"fen 6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", "a1a8"},      // Ra8 mates
      {"fen 4k3/8/8/3q4/8/8/5PPP/3R2K1 w - - 0 1", "d1d5"}};     // Rxd5 wins the queen
  for (const auto& [position, best] : cases) {
    const std::string out = searchLines(position, 3, 4);
    const std::vector<PvLine> block = lastMultiPvBlock(out);
    ASSERT_EQ(block.size(), 3u) << out;
    std::set<std::string> moves;
    for (size_t k = 0; k < block.size(); k++) {
      EXPECT_EQ(block[k].number, int(k) + 1) << out;
      if (k > 0) {
        EXPECT_LE(block[k].score, block[k - 1].score) << out;
      }
      moves.insert(block[k].firstMove);
    }
    EXPECT_EQ(moves.size(), 3u) << out;
    EXPECT_EQ(block[0].firstMove, best) << out;
    EXPECT_GE(block[0].score - block[1].score, 500) << out;  // the others win nothing like it
    EXPECT_EQ(lastLine(out).rfind("bestmove " + std::string(best), 0), 0u) << out;
  }
  EXPECT_EQ(lastMultiPvBlock(searchLines(cases[0].first, 3, 4))[0].score, MATE - 1);
}

// More lines asked for than there are legal moves: one line for each move. One line asked
// for: the thinking lines carry no line number.
TEST(Uci, MultiPvBeyondTheLegalMovesAndMultiPvOne) {
  const std::string out = searchLines("fen k7/p7/8/8/8/8/8/K6R b - - 0 1", MAX_MULTI_PV, 3);
  const std::vector<PvLine> block = lastMultiPvBlock(out);
  std::set<std::string> moves;
  for (const PvLine& pv : block) moves.insert(pv.firstMove);
  EXPECT_EQ(moves, (std::set<std::string>{"a8b8", "a8b7", "a7a6", "a7a5"})) << out;
  EXPECT_EQ(block.size(), 4u);
  EXPECT_EQ(lastLine(out).rfind("bestmove " + block[0].firstMove, 0), 0u) << out;

  const std::string single = searchLines("fen 4k3/8/8/3q4/8/8/5PPP/3R2K1 w - - 0 1", 1, 4);
  EXPECT_EQ(single.find("multipv"), std::string::npos) << single;
  EXPECT_EQ(lastLine(single).rfind("bestmove d1d5", 0), 0u) << single;
}
