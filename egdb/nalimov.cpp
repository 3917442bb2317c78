// The Nalimov material classes: their table, the registration of the files found on the
// tablebase path, the lookup from piece counts to a class, and the value of a probed position.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "egdb/egdb.h"
#include "session/session.h"

namespace {

// Class names by class number: 1-5 one piece, 6-20 one against one, 21-35 two pieces, 36-110
// two against one, 111-145 three pieces against the bare king.
constexpr const char* CLASS_NAMES[TB_CLASSES] = {
    "kk", "kpk", "knk", "kbk", "krk", "kqk", "kpkp", "knkp",
    "knkn", "kbkp", "kbkn", "kbkb", "krkp", "krkn", "krkb", "krkr",
    "kqkp", "kqkn", "kqkb", "kqkr", "kqkq", "kppk", "knpk", "knnk",
    "kbpk", "kbnk", "kbbk", "krpk", "krnk", "krbk", "krrk", "kqpk",
    "kqnk", "kqbk", "kqrk", "kqqk", "kppkp", "kppkn", "kppkb", "kppkr",
    "kppkq", "knpkp", "knpkn", "knpkb", "knpkr", "knpkq", "knnkp", "knnkn",
    "knnkb", "knnkr", "knnkq", "kbpkp", "kbpkn", "kbpkb", "kbpkr", "kbpkq",
    "kbnkp", "kbnkn", "kbnkb", "kbnkr", "kbnkq", "kbbkp", "kbbkn", "kbbkb",
    "kbbkr", "kbbkq", "krpkp", "krpkn", "krpkb", "krpkr", "krpkq", "krnkp",
    "krnkn", "krnkb", "krnkr", "krnkq", "krbkp", "krbkn", "krbkb", "krbkr",
    "krbkq", "krrkp", "krrkn", "krrkb", "krrkr", "krrkq", "kqpkp", "kqpkn",
    "kqpkb", "kqpkr", "kqpkq", "kqnkp", "kqnkn", "kqnkb", "kqnkr", "kqnkq",
    "kqbkp", "kqbkn", "kqbkb", "kqbkr", "kqbkq", "kqrkp", "kqrkn", "kqrkb",
    "kqrkr", "kqrkq", "kqqkp", "kqqkn", "kqqkb", "kqqkr", "kqqkq", "kpppk",
    "knppk", "knnpk", "knnnk", "kbppk", "kbnpk", "kbnnk", "kbbpk", "kbbnk",
    "kbbbk", "krppk", "krnpk", "krnnk", "krbpk", "krbnk", "krbbk", "krrpk",
    "krrnk", "krrbk", "krrrk", "kqppk", "kqnpk", "kqnnk", "kqbpk", "kqbnk",
    "kqbbk", "kqrpk", "kqrnk", "kqrbk", "kqrrk", "kqqpk", "kqqnk", "kqqbk",
    "kqqrk", "kqqqk",
};

constexpr int KPPKP = 36;

constexpr int SIDE_CONFIGURATIONS = 56;  // piece sets of one side with at most three units
constexpr int COUNT_KEYS = 1024;         // five counts of 0-3, two bits each

int8_t sideIdOfKey[COUNT_KEYS];          // configuration of a count key, -1 when none
int16_t classIndex[SIDE_CONFIGURATIONS][SIDE_CONFIGURATIONS];  // by first, second configuration
bool indexBuilt = false;
bool anyCompressed = false;

const char* const PIECE_LETTERS = "pnbrq";  // order of the counts of one side

bool enterClass(int classNumber);

// The lookup from piece counts to every class (whether a file of it is registered or not).
void buildClassIndex() {
  int next = 0;
  for (int key = 0; key < COUNT_KEYS; key++) {
    int total = 0;
    for (int type = 0; type < 5; type++) total += (key >> (2 * type)) & 3;
    sideIdOfKey[key] = int8_t(total <= 3 ? next++ : -1);
  }
  for (int c = 1; c < TB_CLASSES; c++) enterClass(c);
  indexBuilt = true;
}

// Count key of five counts (pawns, knights, bishops, rooks, queens), -1 when out of range.
int countKey(const int* counts) {
  int key = 0;
  for (int type = 0; type < 5; type++) {
    if (counts[type] < 0 || counts[type] > 3) return -1;
    key |= counts[type] << (2 * type);
  }
  return key;
}

// Splits a class name at its second "k" into the counts of each side. False on a malformed name.
bool countsOfName(const char* name, int counts[10]) {
  std::memset(counts, 0, 10 * sizeof(int));
  if (name[0] != 'k') return false;
  int side = 0;
  for (const char* c = name + 1; *c; c++) {
    if (*c == 'k') {
      if (side) return false;
      side = 1;
      continue;
    }
    const char* letter = std::strchr(PIECE_LETTERS, *c);
    if (!letter) return false;
    counts[side * 5 + int(letter - PIECE_LETTERS)]++;
  }
  return side == 1;
}

bool enterClass(int classNumber) {
  int counts[10];
  if (!countsOfName(CLASS_NAMES[classNumber], counts)) return false;
  int first = countKey(counts), second = countKey(counts + 5);
  if (first < 0 || second < 0 || sideIdOfKey[first] < 0 || sideIdOfKey[second] < 0) return false;
  classIndex[sideIdOfKey[first]][sideIdOfKey[second]] = int16_t(classNumber);
  classIndex[sideIdOfKey[second]][sideIdOfKey[first]] = int16_t(-classNumber);
  return true;
}

void forgetFiles(int classNumber) {
  for (int side = 0; side < 2; side++) forgetTBSide(classNumber, side);
}

bool stampOf(const char* name, TbFileStamp* stamp) {
  struct stat info;
  if (stat(name, &info) != 0) return false;
  stamp->size = uint64_t(info.st_size);
  stamp->inode = uint64_t(info.st_ino);
  stamp->modified = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return true;
}

// Full file name of class c, side s in folder: the folder, a "/" unless it already ends in a
// separator, the class name and ".nbw" or ".nbb".
void buildFileName(char* out, size_t size, const char* folder, size_t folderLength, int c, int s) {
  bool separator = folderLength > 0 && folder[folderLength - 1] != '/' &&
                   folder[folderLength - 1] != '\\';
  std::snprintf(out, size, "%.*s%s%s.%s", int(folderLength), folder, separator ? "/" : "",
                CLASS_NAMES[c], s ? "nbb" : "nbw");
}

// Opens the compressed form of a missing plain file: name.emd, then the name without the dot
// before nbw/nbb. On success name holds the name opened.
FILE* openCompressed(char* name, size_t size) {
  size_t length = std::strlen(name);
  if (length + 5 > size) return nullptr;
  std::strcat(name, ".emd");
  FILE* file = openRegularFile(name);
  if (file) return file;
  std::memmove(name + length - 4, name + length - 3, 8);  // "x.nbw.emd" -> "xnbw.emd"
  return openRegularFile(name);
}

void reportEmdFailure(const char* name, int failure) {
  const char* why = failure == EMD_READ_ERROR      ? "read error"
                    : failure == EMD_OUT_OF_MEMORY ? "out of memory"
                    : failure == EMD_BROKEN        ? "file broken"
                    : failure == EMD_CUT_SHORT     ? "file cut short"
                    : failure == EMD_SEEK_ERROR    ? "seek error"
                                                   : nullptr;
  if (why != nullptr) printNotice("*** Unable to read %s - %s\n", name, why);
  else printNotice("*** Unable to read %s - error %d\n", name, failure);
}

// Measures the open table file of class c, side s (compressed when directory is given) and
// enters it as the side's file: its name, size, stamp, bucket array and block marks. The file is
// closed. A structural problem gets its message and leaves the side unregistered.
bool admitFile(int c, int s, const char* name, FILE* file, bool compressed) {
  TablebaseDescriptor& entry = tbClasses[c];
  EmdDirectory* directory = nullptr;
  uint64_t size = 0;
  auto refuse = [&] {
    freeEmdDirectory(directory);
    std::fclose(file);
    return false;
  };
  if (!compressed) {
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    if (length < 0) {
      printNotice("*** Seek in %s failed\n", name);
      return refuse();
    }
    size = uint64_t(length);
  } else {
    int failure = readEmdHeader(file, &directory);
    if (failure != EMD_OK) {
      reportEmdFailure(name, failure);
      return refuse();
    }
    if (emdBlockSize(directory) != uint32_t(TB_BLOCK)) {
      printNotice("*** %s: Unsupported block size %d\n", name, int(emdBlockSize(directory)));
      return refuse();
    }
    size = emdUncompressedSize(directory);
  }
  if (tbFileLength(c, s) != 0 && size != tbFileLength(c, s)) {
    printNotice("*** %s corrupted\n", name);
    return refuse();
  }
  std::fclose(file);
  size_t blocks = size_t((size + TB_BLOCK - 1) >> TB_BLOCK_SHIFT);
  char* copy = static_cast<char*>(std::malloc(std::strlen(name) + 1));
  uint8_t* refused = static_cast<uint8_t*>(std::calloc(blocks / 8 + 1, 1));
  if (!copy || !refused || !stampOf(name, &entry.stamp[s])) {
    std::printf("*** Cannot allocate %u bytes of memory\n",
                unsigned(std::strlen(name) + 1 + blocks / 8 + 1));
    std::free(copy);
    std::free(refused);
    freeEmdDirectory(directory);
    return false;
  }
  std::strcpy(copy, name);
  entry.expectedSize[s] = uint32_t(size);
  entry.fileName[s] = copy;
  entry.refused[s] = refused;
  entry.directory[s] = directory;
  if (directory) anyCompressed = true;
  return true;
}

// Registers the file of class c, side s in folder when it is there and sound (its contents are
// checked once every file is registered).
void registerFile(int c, int s, const char* folder, size_t folderLength) {
  if (tbClasses[c].fileName[s]) return;
  char name[4096];
  buildFileName(name, sizeof name, folder, folderLength, c, s);
  FILE* file = openRegularFile(name);
  bool compressed = !file;
  if (compressed) file = openCompressed(name, sizeof name);
  if (file) admitFile(c, s, name, file, compressed);
}

}  // namespace

TablebaseDescriptor tbClasses[TB_CLASSES];

// Opens name for binary reading when it is a regular file; anything else (a folder, a FIFO that
// would block until a writer comes, a device, a link that leads nowhere or in a loop, a file that
// may not be read) is not a table and gives null, with a message. Nothing there gives null
// silently: most of the names tried are not there.
FILE* openRegularFile(const char* name) {
  const char* fault = nullptr;
  FILE* file = openUserFile(name, "rb", nullptr, &fault);
  if (file == nullptr && fault != nullptr) printNotice("*** %s %s\n", name, fault);
  return file;
}

const char* tbClassName(int classNumber) {
  return classNumber >= 0 && classNumber < TB_CLASSES ? CLASS_NAMES[classNumber] : "";
}

void closeTBFiles() {
  for (TablebaseDescriptor& entry : tbClasses)
    for (FILE*& file : entry.file) {
      if (file) std::fclose(file);
      file = nullptr;
    }
}

// Registers every class file found in the folders of pathList (separated by "," or ";"), the
// first folder that has a file winning. Drops all earlier registrations and empties the cache.
// Returns the men of the largest class registered: 5, 4, 3, or 0 when none.
int initTB(const char* pathList) {
  if (!indexBuilt) buildClassIndex();
  emptyTBCache();
  flushTBCheckCache();
  for (int c = 0; c < TB_CLASSES; c++) {
    forgetFiles(c);
    tbClasses[c].classNumber = c;
    std::snprintf(tbClasses[c].name, sizeof tbClasses[c].name, "%s", CLASS_NAMES[c]);
    tbClasses[c].expectedSize[0] = tbFileLength(c, 0);
    tbClasses[c].expectedSize[1] = tbFileLength(c, 1);
  }
  freeDecodeContext();
  anyCompressed = false;

  const char* folder = pathList ? pathList : "";
  for (;;) {
    size_t length = std::strcspn(folder, ",;");
    for (int c = 1; c < TB_CLASSES; c++)
      for (int s = 0; s < 2; s++) registerFile(c, s, folder, length);
    if (!folder[length]) break;
    folder += length + 1;
  }

  if (anyCompressed && !allocDecodeContext()) {
    std::printf("*** Cannot allocate decode block: error code %d\n", 1);
    for (int c = 1; c < TB_CLASSES; c++)
      for (int s = 0; s < 2; s++)
        if (tbClasses[c].directory[s]) forgetTBSide(c, s);
  }

  // With every file registered, each is checked against the others.
  checkRegisteredTBFiles();
  int largest = 0;
  for (int c = 1; c < TB_CLASSES; c++)
    for (int s = 0; s < 2; s++)
      if (tbClasses[c].fileName[s]) largest = c;
  closeTBFiles();
  flushTBCheckCache();
  return largest >= 36 ? 5 : largest >= 6 ? 4 : largest >= 1 ? 3 : 0;
}

int lookupTBClass(const int counts[10]) {
  if (!indexBuilt) buildClassIndex();
  int first = countKey(counts), second = countKey(counts + 5);
  if (first < 0 || second < 0) return 0;
  int a = sideIdOfKey[first], b = sideIdOfKey[second];
  if (a < 0 || b < 0) return 0;
  return classIndex[a][b];
}

// Value of position index in the table of class c for side s: 0 a draw, 32641-32766 a win for
// the side to move (32766 the fastest), -32766 to -32641 a loss (-32766 mated), TB_NO_ANSWER
// when the tables cannot tell.
int probeTB(uint32_t index, int side, int classNumber) {
  return tbValueOfByte(readTBByte(index, side, classNumber), index, side, classNumber);
}

// The value of the byte stored at index of class c, side s, as probeTB answers it.
int tbValueOfByte(int stored, uint32_t index, int side, int classNumber) {
  // Seven kppkp positions with Black to move are stored wrongly in the published tables: they are
  // lost for Black.
  static constexpr uint32_t KPPKP_LOST[7] = {56802428, 56811076, 56849992, 56858640,
                                             59592489, 67775659, 71071628};
  if (classNumber == KPPKP && side == 1)
    for (uint32_t lost : KPPKP_LOST)
      if (index == lost) return -32639;
  if (stored == 0) return 0;
  if (stored == 127) return TB_NO_ANSWER;
  if (stored == -127) return -32640;
  if (stored == -128) return 32640;
  return stored > 0 ? stored + 32640 : stored - 32640;
}

// Forgets the file of class c, side s: its blocks leave the cache and the side answers nothing
// until the next registration.
void forgetTBSide(int classNumber, int side) {
  TablebaseDescriptor& entry = tbClasses[classNumber];
  if (entry.fileName[side]) dropTBBlocks(classNumber, side);
  if (entry.file[side]) std::fclose(entry.file[side]);
  entry.file[side] = nullptr;
  std::free(entry.fileName[side]);
  entry.fileName[side] = nullptr;
  freeEmdDirectory(entry.directory[side]);
  entry.directory[side] = nullptr;
  std::free(entry.refused[side]);
  entry.refused[side] = nullptr;
}

bool tbFileChanged(int classNumber, int side) {
  const TablebaseDescriptor& entry = tbClasses[classNumber];
  TbFileStamp now;
  if (!entry.fileName[side] || !stampOf(entry.fileName[side], &now)) return true;
  return now.size != entry.stamp[side].size || now.inode != entry.stamp[side].inode ||
         now.modified != entry.stamp[side].modified;
}

// Registers the file name again as the file of class c, side s, after it changed: what was read
// from the old file is forgotten, and the new one is checked as at start-up. Returns 1 when it is
// registered and sound; otherwise the side answers nothing from now on.
int registerTBFile(int classNumber, int side, const char* name) {
  char copy[4096];
  std::snprintf(copy, sizeof copy, "%s", name);
  forgetTBSide(classNumber, side);
  flushTBCheckCache();
  size_t length = std::strlen(copy);
  bool compressed = length > 4 && std::strcmp(copy + length - 4, ".emd") == 0;
  FILE* file = openRegularFile(copy);
  struct stat status;
  if (!file && lstat(copy, &status) != 0) printNotice("*** %s is gone; its table is not used\n", copy);
  if (!file || !admitFile(classNumber, side, copy, file, compressed)) return 0;
  if (anyCompressed && !allocDecodeContext()) {
    forgetTBSide(classNumber, side);
    return 0;
  }
  if (!checkTBFile(classNumber, side, TB_CHECK_REGISTER)) {
    printNotice("*** %s: table layout or contents do not match\n", copy);
    forgetTBSide(classNumber, side);
    return 0;
  }
  return 1;
}
