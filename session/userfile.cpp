// Opening a file a user named (a settings or command file, an EPD suite, a book, a table): only
// a regular file is opened, and anything else is described in words the user can act on.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "session/session.h"

namespace {

// What a file that is not a regular file is, in words ("a device").
const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "no regular file";
}

// Why path could not be opened, from errno after open failed: null when nothing is there.
const char* openFault(const char* path, int error) {
  static char text[160];
  struct stat link;
  if (error == ENOENT)
    return lstat(path, &link) == 0 && S_ISLNK(link.st_mode) ? "is a link that leads nowhere" : nullptr;
  if (error == ELOOP) return "is a link that leads round in a loop";
  std::snprintf(text, sizeof text, "cannot be opened (%s)", std::strerror(error));
  return text;
}

}  // namespace

// The file is opened without waiting (a named pipe would wait for a writer) and looked at once
// open, so that what is read is what was looked at. Static text in *fault, overwritten by the
// next call.
FILE* openUserFile(const char* path, const char* mode, const char* noun, const char** fault) {
  static char text[160];
  *fault = nullptr;
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *fault = openFault(path, errno);
    return nullptr;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    if (noun == nullptr) std::snprintf(text, sizeof text, "is not a regular file");
    else std::snprintf(text, sizeof text, "is %s, not %s", kindOf(status.st_mode), noun);
    *fault = text;
    close(fd);
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* file = fdopen(fd, mode);
  if (file == nullptr) {
    *fault = openFault(path, errno);
    close(fd);
  }
  return file;
}
