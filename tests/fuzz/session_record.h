// What one input's session leaves behind for the protocol checks (protocol_checks.cpp): the
// lines the engine read with the moments it read them, its output, and when its searches began.
// The harness records it; the checks judge it as the GUI would, from what was sent and what came
// back.
#pragma once

#include <string>
#include <vector>

// A whole line as the engine read it, and what the engine had written and was doing by then.
struct LineRead {
  std::string text;  // as read, newline included
  long outputAt;     // bytes of output written before its last byte was read
  int state;         // engineState then
  int search;        // the latest search begun by then (index into searchesAt); -1 if none
  bool stopping;     // that search had already been told to stop
};

struct OutputLine {
  std::string text;  // without its newline
  long at;           // its first byte's offset in the output
};

struct SessionRecord {
  std::vector<LineRead> linesRead;  // in the order read
  std::vector<OutputLine> output;
  std::vector<long> searchesAt;     // bytes of output written when each search began, in order
  long endOfInputAt = -1;           // output written when the end of input was read; -1 if never
  bool quitRead = false;            // the input ended with "quit"
  bool storeFilled = false;         // the store of kept lines was full at some poll
};

// UCI: one bestmove per go, in order, legal in the position the GUI set for that go; readyok
// and uciok in order, readyok at once; answers in the order the requests were sent.
void checkUciSession(const SessionRecord& session);

// xboard: no move in force or analysis mode, every move legal in the GUI's game; pong and the
// book's answer in the order sent, after the move of a search the request arrived in.
void checkXboardSession(const SessionRecord& session);
