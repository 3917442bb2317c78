// "talvek tbgen <folder> [<class>|3|4 ...]": Nalimov tables made by the engine's own solver, for
// users without a download. Classes are named as their files are (kqkr); 3 and 4 stand for every
// class of that many men, and no class at all for every class of three and four men.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "egdb/egdb.h"
#include "frontend/frontend.h"

namespace {

// The class named by word, or 0 with a message.
int classNamed(const char* word) {
  for (int c = 1; c < TB_CLASSES; c++)
    if (strcasecmp(word, tbClassName(c)) == 0) return c;
  std::printf("**ERROR**  tbgen : no table class %s (name classes as their files are, e.g. kqkr)\n", word);
  return 0;
}

// Appends every class of men men (3 or 4) not yet in classes.
void addClassesOfMen(std::vector<int>& classes, size_t men) {
  for (int c = 1; c < TB_CLASSES; c++)
    if (std::strlen(tbClassName(c)) == men && std::find(classes.begin(), classes.end(), c) == classes.end())
      classes.push_back(c);
}

}  // namespace

int runTableGenerator(int count, char** words) {
  if (count < 1) {
    std::puts("usage: talvek tbgen <folder> [<class>|3|4 ...]");
    return 1;
  }
  std::vector<int> classes;
  for (int i = 1; i < count; i++) {
    if (std::strcmp(words[i], "3") == 0 || std::strcmp(words[i], "4") == 0) {
      addClassesOfMen(classes, size_t(words[i][0] - '0'));
      continue;
    }
    const int c = classNamed(words[i]);
    if (c == 0) return 1;
    classes.push_back(c);
  }
  if (classes.empty()) {
    addClassesOfMen(classes, 3);
    addClassesOfMen(classes, 4);
  }
  std::error_code error;
  std::filesystem::create_directories(words[0], error);
  if (error) {
    std::printf("**ERROR**  tbgen : unable to make the folder %s: %s\n", words[0], error.message().c_str());
    return 1;
  }
  std::printf("writing %d classes into %s\n", int(classes.size()), words[0]);
  const int files = generateTBFiles(words[0], classes);
  if (files < 0) return 1;
  std::printf("%d files written\n", files);
  return 0;
}
