// Reading talvek.ini at start-up, through the "init" command while Initialising.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "frontend/frontend.h"
#include "tests/frontend/frontend_support.h"
#include "tests/support/support.h"

namespace {

// Makes a fresh temporary directory the working directory for the life of the object.
struct TemporaryWorkingDirectory {
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::path dir;
  TemporaryWorkingDirectory() {
    char pattern[] = "/tmp/talvek-settings-XXXXXX";
    dir = mkdtemp(pattern);
    std::filesystem::current_path(dir);
  }
  ~TemporaryWorkingDirectory() {
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  void write(const std::string& text) { std::ofstream("talvek.ini", std::ios::binary) << text; }
};

std::string readSettings() {
  engineState = STATE_INITIALISING;
  std::string out = captureOutput([] { runCommandLine("init"); });
  engineState = STATE_WAITING;
  return out;
}

}  // namespace

TEST(SettingsFile, MissingFileKeepsTheDefaults) {
  resetEngine();
  TemporaryWorkingDirectory here;
  EXPECT_EQ(readSettings(), "**ERROR**  init(): unable to open talvek.ini\nUsing default settings\n\n");
  EXPECT_EQ(settings.resignThreshold, 10000);
  EXPECT_EQ(settings.nalimovPath, "c:\\EGTB");
}

// talvek.ini naming an endless device is refused (the alarm turns a read without end into a
// failure instead of a hang).
TEST(SettingsFile, DeviceIsRefused) {
  resetEngine();
  TemporaryWorkingDirectory here;
  std::filesystem::create_symlink("/dev/zero", "talvek.ini");
  alarm(60);
  EXPECT_EQ(readSettings(),
            "**ERROR**  init(): talvek.ini is a device, not a settings file\nUsing default settings\n\n");
  alarm(0);
  EXPECT_EQ(settings.resignThreshold, 10000);
}

TEST(SettingsFile, SettingLinesActSilentlyAndOthersAreSkipped) {
  resetEngine();
  TemporaryWorkingDirectory here;
  here.write(
      "; comment\n"
      ";post off\n"
      "\n"
      "   \t \n"
      "Abscore off\r\n"          // the command word is lower-cased; CR LF ends a line too
      "ze on\n"                  // zelt by abbreviation
      "zeltpath c:\\ZELT\n"
      "help\ngo\nfen\nnewgame\nbogus line\ne2e4\n"
      + std::string(6000, 'x') + " beep off\n"   // an overlong line runs nothing
      "ponder maybe\n"           // usage lines still come out
      "nalimovpath /" + std::string(300, 'n') + "/a b\n"
      "resign 900 4");           // the last line has no newline
  EXPECT_EQ(readSettings(),
            "usage: ponder <on|off>\n");
  EXPECT_EQ(settings.abscore, 0);
  EXPECT_EQ(settings.zelt, 1);
  EXPECT_EQ(settings.zeltPath, "c:\\ZELT");
  EXPECT_EQ(settings.post, 1);
  EXPECT_EQ(settings.beep, 1);
  EXPECT_EQ(settings.ponder, 1);
  EXPECT_EQ(settings.nalimovPath, "/" + std::string(300, 'n') + "/a b");
  EXPECT_EQ(settings.resignThreshold, 900);
  EXPECT_EQ(settings.resignCount, 4);
  // The newgame and e2e4 lines did not touch the game.
  EXPECT_EQ(gamePly, 0);
}

TEST(SettingsFile, CreateiniWritesTheDefaultsThatReadBackSilently) {
  resetEngine();
  TemporaryWorkingDirectory here;
  here.write("old contents that must go\n");
  captureOutput([] { loadEgbb(settings.egbbPath.c_str(), 1 << 20); });  // as start-up does: "c:\EGBB/"
  EXPECT_EQ(typeLine("createini"), "");
  std::ifstream file("talvek.ini", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.size(), 500u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 41);
  EXPECT_EQ(text.substr(0, 66), "; " + std::string(63, '=') + "\n");
  EXPECT_NE(text.find("\n;    T A L V E K ' s    I N I T I A L I Z A T I O N    F I L E   \n"), std::string::npos);
  EXPECT_NE(text.find("\n\nnalimovpath c:\\EGTB\n\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 20), "\npost on\n\nthreads 1\n");

  // Read at the next start: no output, and the three values where the file and the built-in
  // defaults differ.
  settings.resignThreshold = 1;
  EXPECT_EQ(readSettings(), "");
  EXPECT_EQ(settings.resignThreshold, 900);
  EXPECT_EQ(settings.zeltPath, "c:\\ZELT");
  EXPECT_EQ(settings.zeltCache, 16);
  EXPECT_EQ(settings.hash, 16);
}

// Paths set since start-up are written as they are, quoted when spaces at their ends or quotes
// around them would be lost, and read back the same; the other settings keep their defaults.
TEST(SettingsFile, CreateiniWritesThePathsSetNow) {
  resetEngine();
  TemporaryWorkingDirectory here;
  settings.zeltPath = " tables with spaces at both ends ";
  settings.nalimovPath = "\"/quoted/tables\"";
  settings.egbbPath = "/home/ann/chess/bit bases/";
  settings.bookPath = "/home/ann/chess/my book.bin";  // not played from: not written
  settings.hash = 64;
  EXPECT_EQ(typeLine("createini"), "");
  std::ifstream file("talvek.ini", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\n\nzeltpath \" tables with spaces at both ends \"\n\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n\nnalimovpath \"\"/quoted/tables\"\"\n\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n\negbbpath /home/ann/chess/bit bases/\n\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n\nhash 16\n\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("book"), std::string::npos) << text;
  resetSettings();
  EXPECT_EQ(readSettings(), "");
  EXPECT_EQ(settings.zeltPath, " tables with spaces at both ends ");
  EXPECT_EQ(settings.nalimovPath, "\"/quoted/tables\"");
  EXPECT_EQ(settings.egbbPath, "/home/ann/chess/bit bases/");
}

// Only regular files are run: a named pipe (which would wait for a writer for ever), a folder and
// links that lead nowhere are refused, each said so; a file name may hold spaces.
TEST(SettingsFile, FetchRunsOnlyRegularFilesAndSaysWhyNot) {
  resetEngine();
  TemporaryWorkingDirectory here;
  ASSERT_EQ(mkfifo("a pipe", 0600), 0);
  std::filesystem::create_directory("a folder");
  std::filesystem::create_symlink("missing", "a link");
  std::filesystem::create_symlink("loop", "loop");
  std::ofstream("my commands.txt") << "noise 9\n";
  EXPECT_EQ(typeLine("fetch a pipe"), "**ERROR**  fetch(): a pipe is a named pipe, not a command file\n");
  EXPECT_EQ(typeLine("fetch a folder"), "**ERROR**  fetch(): a folder is a folder, not a command file\n");
  EXPECT_EQ(typeLine("fetch a link"), "**ERROR**  fetch(): a link is a link that leads nowhere\n");
  EXPECT_EQ(typeLine("fetch loop"), "**ERROR**  fetch(): loop is a link that leads round in a loop\n");
  EXPECT_EQ(typeLine("fetch my commands.txt"), "show thinking from depth: 9\n");
  std::filesystem::rename("a pipe", "talvek.ini");
  EXPECT_EQ(readSettings(), "**ERROR**  init(): talvek.ini is a named pipe, not a settings file\nUsing default settings\n\n");
}

TEST(SettingsFile, CreateiniReportsAFileItCannotWrite) {
  resetEngine();
  TemporaryWorkingDirectory here;
  std::filesystem::create_directory("talvek.ini");
  EXPECT_EQ(typeLine("createini"), "**ERROR**  createini(): unable open talvek.ini\n");
}

TEST(SettingsFile, EmptyFileAndHashLines) {
  resetEngine();
  TemporaryWorkingDirectory here;
  here.write("");
  EXPECT_EQ(readSettings(), "");
  EXPECT_EQ(settings.hash, 16);
  here.write("Hash 64\nha 0\n");
  EXPECT_EQ(readSettings(), "");
  EXPECT_EQ(settings.hash, 1);
  here.write("Hash 64\n");
  EXPECT_EQ(readSettings(), "");
  EXPECT_EQ(settings.hash, 64);
}

TEST(CommandFile, RunsItsLinesAndReportsUnknownWordsAndMissingFiles) {
  resetEngine();
  TemporaryWorkingDirectory here;
  std::ofstream("inner.txt") << "fen\nBogus word\n";
  std::ofstream("outer.txt") << "; a comment\n\npost off\nfetch inner.txt\ne2e4\nfetch missing.txt\nbeep off";
  EXPECT_EQ(typeLine("fetch outer.txt"),
            "post thinking: off\n"
            "FEN: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\n"
            "**ERROR**  unknown command: Bogus\n"
            "**ERROR**  unknown command: e2e4\n"  // a file line is never a move
            "**ERROR**  fetch(): unable to open file missing.txt\n"
            "beep after move: off\n");
  EXPECT_EQ(gamePly, 0);
  EXPECT_EQ(typeLine("fetch"), "usage: fetch <file>\n");
  EXPECT_EQ(typeLine("fetch Outer.txt"), "**ERROR**  fetch(): unable to open file Outer.txt\n");
}

TEST(CommandFile, AFileThatFetchesItselfStops) {
  resetEngine();
  TemporaryWorkingDirectory here;
  std::ofstream("self.txt") << "noise 3\nfetch self.txt\n";
  std::string out = typeLine("fetch self.txt");
  std::string expected;
  for (int i = 0; i < MAX_FETCH_DEPTH; i++) expected += "show thinking from depth: 3\n";
  expected += "**ERROR**  fetch(): command files nested more than 16 deep, self.txt not run\n";
  EXPECT_EQ(out, expected);
  EXPECT_EQ(fetchDepth, 0);
}

TEST(CommandFile, LinesAfterXboardGoToTheXboardHandler) {
  resetEngine();
  TemporaryWorkingDirectory here;
  std::ofstream("switch.txt") << "xboard\nprotover 1\nhelp\nics -\nnew\n";
  EXPECT_EQ(typeLine("fetch switch.txt"), "\n**ERROR**  unknown command: help\n");
  EXPECT_EQ(xboardMode, 1);
}
