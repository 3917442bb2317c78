// The input line, its words, routing, the main loop, and the whole program's start-up.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "frontend/frontend.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/frontend/frontend_support.h"
#include "tests/frontend/program.h"
#include "tests/support/support.h"

namespace {

int tokenise(const std::string& line) {
  std::snprintf(lineBuffer, LINE_SIZE, "%s", line.c_str());
  return tokeniseLine();
}

}  // namespace

TEST(Tokenise, SplitsAtSpacesOnlyAndDropsTheFinalNewline) {
  resetEngine();
  EXPECT_EQ(tokenise("  resign   -500 3\n"), 3);
  EXPECT_STREQ(tokens[0], "resign");
  EXPECT_STREQ(tokens[1], "-500");
  EXPECT_STREQ(tokens[2], "3");

  EXPECT_EQ(tokenise("hash\t16 x\n"), 2);
  EXPECT_STREQ(tokens[0], "hash\t16");

  // A trailing blank leaves no empty word behind.
  EXPECT_EQ(tokenise("board \n"), 1);
  EXPECT_STREQ(tokens[1], "");

  // The last word of a file without a final newline keeps all its characters.
  EXPECT_EQ(tokenise("hash 16"), 2);
  EXPECT_STREQ(tokens[1], "16");
}

TEST(Tokenise, BoundsWordsAndTheirLength) {
  resetEngine();
  std::string line;
  for (int i = 0; i < 40; i++) {
    line += 'w';
    line += std::to_string(i);
    line += ' ';
  }
  EXPECT_EQ(tokenise(line + "\n"), MAX_TOKENS);
  EXPECT_EQ(tokenCount, MAX_TOKENS);
  EXPECT_STREQ(tokens[MAX_TOKENS - 1], "w31");

  std::string longWord(TOKEN_SIZE + 300, 'x');
  EXPECT_EQ(tokenise("nalimovpath " + longWord + " tail\n"), 3);
  EXPECT_EQ(std::strlen(tokens[1]), size_t(TOKEN_SIZE - 1));
  EXPECT_STREQ(tokens[2], "tail");

  // The slots of a longer earlier line are cleared, and an empty line has no words.
  EXPECT_EQ(tokenise(""), 0);
  EXPECT_EQ(tokenCount, 0);
  EXPECT_STREQ(tokens[0], "");
}

TEST(ReadLine, BoundsOverlongLinesAndDropsTheirTail) {
  resetEngine();
  std::string input = std::string(LINE_SIZE + 1000, 'a') + " quit\nfen\r\nhash 16";
  FILE* file = fmemopen(input.data(), input.size(), "r");
  ASSERT_NE(file, nullptr);

  ASSERT_TRUE(readLine(file));
  EXPECT_EQ(std::strlen(lineBuffer), size_t(LINE_SIZE - 1));
  EXPECT_EQ(lineBuffer[LINE_SIZE - 2], '\n');
  EXPECT_EQ(std::string(lineBuffer).find("quit"), std::string::npos);

  ASSERT_TRUE(readLine(file));
  EXPECT_STREQ(lineBuffer, "fen\n");  // the carriage return is gone
  ASSERT_TRUE(readLine(file));
  EXPECT_STREQ(lineBuffer, "hash 16");
  EXPECT_FALSE(readLine(file));
  EXPECT_STREQ(lineBuffer, "");
  std::fclose(file);
}

TEST(Dispatch, UnknownWordsAndMoveLikeWordsInTheLoop) {
  resetEngine();
  consoleMode = 1;
  std::string out = runLoop("\n   \nfoo bar\nInit\nE2E4junk\n");
  EXPECT_EQ(out,
            "Talvek[W-1]> Talvek[W-1]> Talvek[W-1]> "
            "**ERROR**  unknown command: foo\n"
            "Talvek[W-1]> **ERROR**  unknown command: Init\n"
            "Talvek[W-1]> Illegal move: E2E4junk\n"
            "Talvek[W-1]> ");
}

TEST(Dispatch, AnOverlongLineRunsNothingFromItsTail) {
  resetEngine();
  consoleMode = 1;
  std::string out = runLoop(std::string(LINE_SIZE, ' ') + "fen\nfen\n");
  EXPECT_EQ(out, "Talvek[W-1]> Talvek[W-1]> FEN: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\n"
                 "Talvek[W-1]> ");
}

TEST(Dispatch, XboardModeHasNoPromptAndItsOwnErrorLine) {
  resetEngine();
  xboardMode = 1;
  EXPECT_EQ(runLoop("nonsense\n"), "Error (unknown command): nonsense\n");
}

// What start-up prints after the settings file: the table sizes, then the endgame databases
// between an empty line and two more.
const std::string TABLES_AND_DATABASES = "Main Hash : {}\nEval Cache: {}\n\n{}\n{}\n\n\n";

TEST(Program, StartsWithBannerSettingsMessageAndPromptAndEndsWithInput) {
  ProgramRun run = runProgram("fen\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output.substr(0, 1), "\n");
  size_t version = run.output.find("\n\n                  ver. " TALVEK_VERSION "\n\n\n");
  ASSERT_NE(version, std::string::npos);
  EXPECT_TRUE(matchesMask(run.output.substr(version),
                          "\n\n                  ver. " TALVEK_VERSION "\n\n\n"
                          "**ERROR**  init(): unable to open talvek.ini\nUsing default settings\n\n" +
                              TABLES_AND_DATABASES +
                              "Talvek[W-1]> FEN: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\n"
                              "Talvek[W-1]> "))
      << run.output;
}

// The file's sizes are the ones allocated, once, after it was read in silence; its go, quit and
// help lines did nothing. "quit" ends the program before the last typed line.
TEST(Program, ReadsTheSettingsFileSilently) {
  const char* settingsText =
      "; ===============================================================\n"
      ";    T A L V E K ' s    I N I T I A L I Z A T I O N    F I L E   \n"
      "\n"
      "hash 2\n\necache 1\n\nzelt off\n\nresign 900 6\n\ngo\nquit\nhelp\n"
      "; the following settings are useful only if you want to use Talvek in console mode\n"
      "board off\n\nnoise 6\n\nponder on\n\npost on";
  ProgramRun run = runProgram("quit\nfen\n", "", settingsText);
  EXPECT_EQ(run.exitCode, 0);
  size_t version = run.output.find("ver. " TALVEK_VERSION "\n\n\n");
  ASSERT_NE(version, std::string::npos);
  EXPECT_TRUE(matchesMask(run.output.substr(version), "ver. " TALVEK_VERSION "\n\n\n" + TABLES_AND_DATABASES + "Talvek[W-1]> "))
      << run.output;
  EXPECT_NE(run.output.find("Main Hash :   2048 KB"), std::string::npos);
  EXPECT_NE(run.output.find("Eval Cache:   1024 KB"), std::string::npos);
}

// Start-up sets the tables and databases up through the settings' own rows: sizes and paths
// from the settings file, in range or not, give exactly what the same lines typed at the prompt
// give (a size of 0 taken as 1 MB, a bitbase cache the library cannot take refused with the
// usage line and the default kept, the tables found on the path with the cache asked for).
TEST(Program, StartUpSetsUpTheSettingsAsTheirCommandsDo) {
  TempFolder tables;
  const int KQK = 5;
  ASSERT_STREQ(tbClassName(KQK), "kqk");
  writeClassFiles(tables, KQK, Solver("kqk"), false);
  const std::string settingsText = "egbbcache 5000\nhash 0\necache 0\nnalimovpath " + tables.path() +
                                   "\nnalimovcache 0\negbbpath /nowhere/egbb\n";
  const ProgramRun run = runProgram("", "", settingsText.c_str());
  EXPECT_EQ(run.exitCode, 0);

  resetEngine();
  initSearchTables();
  const std::string refused = typeLine("egbbcache 5000");
  const std::string tablesAndCache = typeLine("hash 0") + typeLine("ecache 0");
  typeLine("nalimovcache 0");
  const std::string nalimov = typeLine("nalimovpath " + tables.path());
  const std::string bitbases = typeLine("egbbpath /nowhere/egbb");
  EXPECT_EQ(refused, "usage: egbbcache <size> (1 to 2047)\n");
  EXPECT_EQ(nalimov, "3-men Nalimov tablebases found\nEGTB cache:  1024 KB\n");
  EXPECT_EQ(tablesAndCache.find("Main Hash :   1024 KB"), 0u) << tablesAndCache;
  const std::string expected = "ver. " TALVEK_VERSION "\n\n\n" + refused + tablesAndCache + "\n" + nalimov +
                               bitbases + "\n\n" + "Talvek[W-1]> ";
  const size_t version = run.output.find("ver. " TALVEK_VERSION);
  ASSERT_NE(version, std::string::npos) << run.output;
  EXPECT_EQ(run.output.substr(version), expected);
  captureOutput([] {
    initNalimov("", 0);
    runCommandLine("hash 1");
    runCommandLine("ecache 1");
  });
  resetEngine();
}

TEST(Program, XboardSwitchIsExact) {
  ProgramRun xboard = runProgram("force\ne2e4\nwhatever\n", "-xboard");
  EXPECT_EQ(xboard.exitCode, 0);
  ASSERT_GE(xboard.output.size(), 15u);
  EXPECT_EQ(xboard.output.substr(0, 15), "feature done=0\n");
  EXPECT_EQ(xboard.output.find("Talvek["), std::string::npos);
  EXPECT_EQ(xboard.output.find("ver. "), std::string::npos);
  EXPECT_NE(xboard.output.find("Error (unknown command): whatever\n"), std::string::npos);

  EXPECT_EQ(runProgram("", "/xboard").output.substr(0, 15), "feature done=0\n");
  for (const char* notSwitch : {"-XBOARD", "-xboards", "xboard"}) {
    ProgramRun console = runProgram("", notSwitch);
    EXPECT_EQ(console.output.find("feature done"), std::string::npos) << notSwitch;
    EXPECT_NE(console.output.find("Talvek[W-1]> "), std::string::npos) << notSwitch;
  }
}
