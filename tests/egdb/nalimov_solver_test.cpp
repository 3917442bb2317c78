// The table generator as users run it ("talvek tbgen"): the files it writes are registered by the
// engine's own checks and agree with Debian's Gaviota tables position by position; what it cannot
// make or write is refused with a message.
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "egdb/egdb.h"
#include "tests/egdb/egdb_testkit.h"
#include "tests/frontend/frontend_support.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;

// Runs the built program with args; its output and exit status.
std::pair<std::string, int> runTalvek(const std::string& args) {
  std::string output;
  int status = -1;
  if (FILE* pipe = popen(("'" TALVEK_BINARY "' " + args + " 2>&1").c_str(), "r")) {
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
    const int result = pclose(pipe);
    if (WIFEXITED(result)) status = WEXITSTATUS(result);
  }
  return {output, status};
}

std::string gaviotaTables() {
  for (const char* folder : {"/usr/share/gaviotatb/gtb4", "/usr/share/gaviotatb/gtb2", "/usr/share/gaviotatb/gtb1",
                             "/usr/share/gaviotatb/gtb3"})
    if (fs::exists(std::string(folder) + "/kqk.gtb.cp" + folder[std::strlen(folder) - 1])) return folder;
  return "";
}

}  // namespace

// Every three-man class through the command line, into a folder it makes, then registered and
// compared with Gaviota's distances by tbcheck.
TEST(TableGenerator, WritesTablesTheEngineRegistersAndGaviotaAgreesWith) {
  resetEngine();
  TempFolder base;
  const std::string folder = base.path() + "/new tables";
  const auto [output, status] = runTalvek("tbgen '" + folder + "' 3");
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output.rfind("writing 5 classes into " + folder + "\n", 0), 0u) << output;
  EXPECT_NE(output.find("\nkqk "), std::string::npos) << output;
  EXPECT_NE(output.find("(5 of 5 classes"), std::string::npos) << output;
  EXPECT_EQ(output.substr(output.size() - 18), "\n10 files written\n") << output;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) files += entry.path().extension() != ".part";
  EXPECT_EQ(files, 10);

  EXPECT_EQ(captureOutput([&] { initNalimov(folder.c_str(), 1 << 20); }),
            "3-men Nalimov tablebases found\nEGTB cache:  1024 KB\n");
  for (int c = 1; c < TB_CLASSES && std::strlen(tbClassName(c)) == 3; c++)
    EXPECT_TRUE(tbClasses[c].fileName[0] && tbClasses[c].fileName[1]) << tbClassName(c);

  const std::string gaviota = gaviotaTables();
  if (gaviota.empty()) GTEST_SKIP() << "Debian's gaviotatb tables missing";
  settings.zelt = 1;
  if (typeLine("zeltpath " + gaviota).rfind("3-men ZELT", 0) != 0) GTEST_SKIP() << "ZELT support not built in";
  const std::string report = typeLine("tbcheck");
  for (int c = 1; c < TB_CLASSES && std::strlen(tbClassName(c)) == 3; c++)
    for (const char* side : {".nbw: ", ".nbb: "}) {
      const size_t at = report.find(tbClassName(c) + std::string(side));
      ASSERT_NE(at, std::string::npos) << report;
      EXPECT_NE(report.substr(at, report.find('\n', at) - at).find(" 0 disagreements"), std::string::npos) << report;
    }
  captureOutput([] {
    initNalimov("", 1 << 20);
    initZelt(ZELT_OFF, "", 0);
  });
  resetEngine();
}

TEST(TableGenerator, RefusesWhatItCannotMakeOrWrite) {
  resetEngine();
  TempFolder folder;
  EXPECT_EQ(runTalvek("tbgen"), std::make_pair(std::string("usage: talvek tbgen <folder> [<class>|3|4 ...]\n"), 1));
  EXPECT_EQ(runTalvek("tbgen '" + folder.path() + "' kqk kxk"),
            std::make_pair(std::string("**ERROR**  tbgen : no table class kxk (name classes as their files are, e.g. kqkr)\n"), 1));

  int fiveMen = 0;
  while (std::strlen(tbClassName(fiveMen)) != 5) fiveMen++;
  int written = 0;
  EXPECT_EQ(captureOutput([&] { written = generateTBFiles(folder.path().c_str(), {fiveMen}); }),
            std::string("**ERROR**  generateTBFiles() : ") + tbClassName(fiveMen) + " has more than 4 men; not generated\n");
  EXPECT_EQ(written, -1);

  // A folder that cannot take files: nothing of a table's name is left behind.
  const std::string file = folder.file("a file");
  folder.write("a file", {1});
  EXPECT_EQ(captureOutput([&] { written = generateTBFiles(file.c_str(), {1}); }),
            "**ERROR**  generateTBFiles() : unable to write " + file + "/kpk.nbw: Not a directory\n");
  EXPECT_EQ(written, -1);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}
