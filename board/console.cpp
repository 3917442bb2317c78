// The wall clock, the console (colours, clearing and the window title) and large blocks of memory.
//
// The sixteen console colours are numbered as on a PC text console: bit 0 blue, bit 1 green,
// bit 2 red, bit 3 bright. On Linux they become ANSI escape sequences, written only in console
// mode and when standard output is a terminal, so that pipes, files and GUIs never see them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include "board/board.h"
#include "session/session.h"

// Tables probed at random places: with small pages most probes would also miss the address
// translation cache.
void* allocateLarge(size_t bytes) {
  constexpr size_t HUGE_PAGE = 2u << 20;
  if (bytes < HUGE_PAGE) return std::calloc(bytes ? bytes : 1, 1);
  const size_t rounded = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  void* block = std::aligned_alloc(HUGE_PAGE, rounded);
  if (block == nullptr) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(block, rounded, MADV_HUGEPAGE);
#endif
  std::memset(block, 0, rounded);
  return block;
}

namespace {

int foreground = 7;  // current text colour
int background = 0;  // current background colour

// ANSI colour index (bit 0 red, bit 1 green, bit 2 blue) of a console colour's hue.
int ansiHue(int colour) { return ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2); }

// Colours are for a person at a terminal: never for a GUI speaking xboard or UCI.
bool coloursWanted() { return consoleMode && outputIsTerminal(); }

// Sends the remembered colours to the terminal.
void applyColours() {
  if (!coloursWanted()) return;
  int fg = (foreground & 8 ? 90 : 30) + ansiHue(foreground);
  int bg = (background & 8 ? 100 : 40) + ansiHue(background);
  std::printf("\x1b[%d;%dm", fg, bg);
}

}  // namespace

// Seconds times 1000 plus milliseconds of the calendar time, in 32-bit arithmetic: the value
// wraps, and only the difference of two nearby stamps means anything.
int nowMs() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  uint32_t ms = uint32_t(tv.tv_sec) * 1000u + uint32_t(tv.tv_usec / 1000);
  return int(ms);
}

// Asked on every call (one ioctl) rather than once, so that a redirection of standard output
// made after start-up, as the tests do when they capture output, is honoured.
bool outputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void setColour(int colour) {
  foreground = colour & 15;
  applyColours();
}

void resetColour() {
  foreground = 7;
  background = 0;
  if (coloursWanted()) std::fputs("\x1b[0m", stdout);
}

void inverseColour() {
  foreground = 0;
  background = 15;
  applyColours();
}

void clearConsole() {
  if (outputIsTerminal()) std::fputs("\x1b[H\x1b[2J", stdout);
}

void setConsoleTitle(const char* title) {
  if (outputIsTerminal()) std::printf("\x1b]0;%s\x07", title);
}
