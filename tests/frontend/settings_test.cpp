// Reading talvek.ini at start-up, through the "init" command while Initialising.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "frontend/frontend.h"
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
  EXPECT_STREQ(settings.nalimovPath, "c:\\EGTB");
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
      "nalimovpath " + std::string(64, 'n') + "\n"
      "resign 900 4");           // the last line has no newline
  EXPECT_EQ(readSettings(),
            "usage: ponder <on|off>\n"
            "usage: nalimovpath <path> (at most 63 characters)\n");
  EXPECT_EQ(settings.abscore, 0);
  EXPECT_EQ(settings.zelt, 1);
  EXPECT_STREQ(settings.zeltPath, "c:\\ZELT");
  EXPECT_EQ(settings.post, 1);
  EXPECT_EQ(settings.beep, 1);
  EXPECT_EQ(settings.ponder, 1);
  EXPECT_STREQ(settings.nalimovPath, "c:\\EGTB");
  EXPECT_EQ(settings.resignThreshold, 900);
  EXPECT_EQ(settings.resignCount, 4);
  // The newgame and e2e4 lines did not touch the game.
  EXPECT_EQ(gamePly, 0);
}
