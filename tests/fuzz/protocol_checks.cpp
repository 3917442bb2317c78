// The protocols' rules, judged from a session's record as the GUI sees it: the lines it sent, in
// the order the engine read them, and what came back.
//
// Order. Lines act in the order they were sent. During a search a line either acts at once or
// waits until the search is over, and a line that waits makes every later line wait behind it;
// questions are answered at once all the same. Under UCI, isready is the question, and the
// commands that change the game or the settings (go, position, setoption, ucinewgame) wait.
// Under xboard a request read while the engine thinks on its own move is answered after that
// move (ping, as the protocol demands it, and the book's answer).
//
// Legality. The checks keep the GUI's own game on the engine's board, the one copy of the rules
// of chess: built from the positions and moves the GUI sent and the moves the engine sent back,
// in the order the protocol gives them, and every engine move must be legal there. They run
// after the session, when the engine's board is free.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/frontend.h"
#include "tests/fuzz/harness.h"
#include "tests/fuzz/session_record.h"

namespace {

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The line as the engine's readers see it: up to a NUL, without its line end.
std::string visible(const std::string& line) {
  std::string text = line.substr(0, line.find('\0'));
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  return text;
}

// Printable characters and spaces only: a line the checks read word by word as the engine does.
// Other lines that could change the game leave the GUI's game unknown.
bool plain(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// The words of text between spaces.
std::vector<std::string> wordsOf(const std::string& text) {
  std::vector<std::string> words;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

std::string firstWordLower(const std::string& line) {
  static char typed[TOKEN_SIZE], lower[TOKEN_SIZE];
  firstWordOf(line.c_str(), typed, lower);
  return lower;
}

// The search that wrote the output at offset at: the last one begun by then; -1 if none.
int searchAt(const SessionRecord& s, long at) {
  return int(std::upper_bound(s.searchesAt.begin(), s.searchesAt.end(), at) - s.searchesAt.begin()) - 1;
}

// Offsets of the output lines that test accepts.
template <typename Test>
std::vector<long> outputWhere(const SessionRecord& s, Test test) {
  std::vector<long> at;
  for (const OutputLine& line : s.output)
    if (test(line.text)) at.push_back(line.at);
  return at;
}

// The first of offsets at or after from that search wrote; -1 if none.
long firstOfSearch(const SessionRecord& s, const std::vector<long>& offsets, long from, int search) {
  auto it = std::lower_bound(offsets.begin(), offsets.end(), from);
  return it != offsets.end() && searchAt(s, *it) == search ? *it : -1;
}

void failAt(const char* rule, long at, const std::string& what) {
  std::fprintf(stderr, "%s (output offset %ld: %s)\n", rule, at, what.c_str());
  fuzzRequire(false, rule);
}

// ----- the GUI's game ------------------------------------------------------

// The GUI's position, kept on the engine's board. Unknown after lines the checks cannot read as
// the engine reads them (or an edited position); refused when the engine was right to refuse it.
enum class Known : uint8_t { YES, REFUSED, UNKNOWN };

// The legal moves of the position on the board (ply 0, replies generated).
std::vector<Move> legalMoves() {
  const PlyRecord& root = plyStack[0];
  std::vector<Move> moves;
  for (int i = 0; i < root.moveCount; i++)
    if (root.checkCount != 0 || legal(root.moves[i])) moves.push_back(root.moves[i]);
  return moves;
}

// The legal move whose text (by name) is text; 0 if none.
Move moveNamed(const std::string& text, const char* (*name)(Move)) {
  for (Move m : legalMoves())
    if (text == name(m)) return m;
  return 0;
}

// A coordinate move word read as the engine's readers read it, if legal here; 0 otherwise.
Move coordinateMove(const std::string& word) {
  std::string lower = word;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return matchMove(parseCoord(lower.c_str()));
}

void playOnBoard(Move m) {
  makeMove(m);
  prepareRoot();
}

// ----- UCI -------------------------------------------------------------------

enum class Uci : uint8_t { NONE, NEW_GAME, IDENTIFY, READY, GO, POSITION, SET_OPTION, QUIT, STOP, PONDER_HIT };

// UCI words are known by their leading characters, the longer names first.
Uci uciKind(const std::string& word) {
  static const std::pair<const char*, Uci> names[] = {
        {"ucinewgame", Uci::NEW_GAME}, {"uci", Uci::IDENTIFY},        {"isready", Uci::READY},
        {"go", Uci::GO},               {"position", Uci::POSITION},   {"setoption", Uci::SET_OPTION},
        {"quit", Uci::QUIT},           {"stop", Uci::STOP},           {"ponderhit", Uci::PONDER_HIT}};
  for (const auto& [name, kind] : names)
    if (startsWith(word, name)) return kind;
  return Uci::NONE;
}

bool waitsForSearch(Uci kind) {
  return kind == Uci::GO || kind == Uci::POSITION || kind == Uci::SET_OPTION || kind == Uci::NEW_GAME;
}

// The lines that ran: those read before quit.
std::vector<size_t> uciLinesRun(const SessionRecord& s) {
  std::vector<size_t> run;
  for (size_t i = 0; i < s.linesRead.size(); i++) {
    const Uci kind = uciKind(firstWordLower(s.linesRead[i].text));
    if (kind == Uci::QUIT) break;
    run.push_back(i);
  }
  return run;
}

// Every go gets exactly one bestmove (one may be missing when quit ended a search), never
// before the go was read; a go infinite or go ponder only after a stop, ponderhit or quit read
// since its go, or after the end of input. Exempt from the last: inputs that filled the store
// of kept lines, which ends such a search.
void checkBestmoveCount(const SessionRecord& s, const std::vector<size_t>& run, const std::vector<long>& answers) {
  struct Go {
    long at;
    bool endless;
  };
  std::vector<Go> gos;
  for (size_t i : run) {
    const LineRead& line = s.linesRead[i];
    if (uciKind(firstWordLower(line.text)) != Uci::GO) continue;
    const std::string text = visible(line.text);
    const size_t words = text.find_first_not_of(" \t");
    const size_t end = text.find_first_of(" \t", words);
    const std::string rest = end == std::string::npos ? "" : text.substr(end);
    gos.push_back({line.outputAt, rest.find("infinite") != std::string::npos || rest.find("ponder") != std::string::npos});
  }
  fuzzRequire(answers.size() <= gos.size(), "UCI: more bestmoves than go commands");
  fuzzRequire(answers.size() + (s.quitRead ? 1 : 0) >= gos.size(), "UCI: a go without its bestmove");
  for (size_t k = 0; k < answers.size(); k++) {
    fuzzRequire(answers[k] >= gos[k].at, "UCI: a bestmove before its go was read");
    if (!gos[k].endless || s.storeFilled) continue;
    bool told = s.endOfInputAt >= 0 && s.endOfInputAt <= answers[k];
    for (const LineRead& line : s.linesRead) {
      if (line.outputAt < gos[k].at || line.outputAt > answers[k]) continue;
      const Uci kind = uciKind(firstWordLower(line.text));
      told = told || kind == Uci::STOP || kind == Uci::PONDER_HIT || kind == Uci::QUIT;
    }
    fuzzRequire(told, "UCI: go infinite or go ponder answered before stop or ponderhit");
  }
}

// A request that is answered, with its answer's offset.
struct Request {
  size_t line;  // index in linesRead
  Uci kind;
  long answer;
};

// Pairs the k-th request of kind with the k-th answer (offsets); every request that ran is
// answered, and never before it was read.
void pairAnswers(const SessionRecord& s, std::vector<Request>& requests, Uci kind, const std::vector<long>& answers,
                 const char* rule) {
  size_t k = 0;
  for (Request& r : requests) {
    if (r.kind != kind) continue;
    if (k >= answers.size()) failAt(rule, -1, "unanswered: " + visible(s.linesRead[r.line].text));
    r.answer = answers[k++];
    if (r.answer < s.linesRead[r.line].outputAt) failAt(rule, r.answer, "answered before it was read");
  }
  if (k != answers.size()) failAt(rule, answers[k], "an answer without its request");
}

// isready is answered at once: its readyok is the first thing written after it was read (unless
// it came in while a search was being stopped, when it takes its turn behind the lines read with
// it), and comes before the answer to anything sent after it. The other requests are answered in
// the order sent, except that a line that acts at once during a search (uci) may be answered
// before that search's bestmove, unless a line that waits came between.
void checkUciOrder(const SessionRecord& s, const std::vector<Request>& requests) {
  long laterAnswer = LONG_MAX;
  for (size_t k = requests.size(); k-- > 0;) {
    const Request& r = requests[k];
    const LineRead& line = s.linesRead[r.line];
    if (r.kind == Uci::READY) {
      if (r.answer > laterAnswer) failAt("UCI: readyok after the answer to a later request", r.answer, "");
      if (!line.stopping && r.answer != line.outputAt) failAt("UCI: isready not answered at once", r.answer, "");
    }
    laterAnswer = std::min(laterAnswer, r.answer);
  }
  long latest = -1;           // the latest answer to a request so far
  long latestBeforeGo = -1;   // the same before the last go
  long latestSinceGo = -1;    // and after it
  const Request* lastGo = nullptr;
  long lastGoStart = -1;      // output written when its search began (its read, or the bestmove before)
  long previousBestmove = -1;
  bool waitedSinceGo = false;
  size_t nextLine = 0;
  for (const Request& r : requests) {
    for (; nextLine < r.line; nextLine++)
      if (lastGo != nullptr && nextLine > lastGo->line && waitsForSearch(uciKind(firstWordLower(s.linesRead[nextLine].text))))
        waitedSinceGo = true;
    nextLine = r.line + 1;
    if (r.kind == Uci::READY) continue;
    const LineRead& line = s.linesRead[r.line];
    const bool duringGo = lastGo != nullptr && !waitedSinceGo && line.outputAt >= lastGoStart;
    const long bound = duringGo ? std::max(latestBeforeGo, latestSinceGo) : latest;
    if (r.answer <= bound) failAt("UCI: a request answered before one sent earlier", r.answer, visible(line.text));
    if (r.kind == Uci::GO) {
      latestBeforeGo = latest;
      latestSinceGo = -1;
      lastGo = &r;
      lastGoStart = line.state == STATE_WAITING ? line.outputAt : previousBestmove + 1;
      previousBestmove = r.answer;
      waitedSinceGo = false;
    } else {
      latestSinceGo = std::max(latestSinceGo, r.answer);
    }
    latest = std::max(latest, r.answer);
  }
}

// The GUI's UCI position: what "position" set, in the order the lines were sent (the commands
// that wait keep that order by the rule above).
struct UciGame {
  Known known = Known::YES;
  bool chess960Known = true;  // a line may have set UCI_Chess960 in a way the checks do not read
};

// Plays the coordinate moves of words[from...] on the board; false at the first that is not legal.
bool playWords(const std::vector<std::string>& words, size_t from) {
  for (size_t i = from; i < words.size(); i++) {
    if (historyFull()) return false;
    const Move m = coordinateMove(words[i]);
    if (m == 0) return false;
    playOnBoard(m);
  }
  return true;
}

// position startpos | fen <record> [moves ...]; a position line without either form plays its
// moves on the position there is, and a refused one stays refused.
void uciPositionLine(UciGame& game, const std::string& text) {
  if (!plain(text)) {
    game.known = Known::UNKNOWN;
    return;
  }
  const std::vector<std::string> words = wordsOf(text);
  const std::string base = words.size() > 1 ? words[1] : "";
  size_t movesAt = 2;
  if (base == "startpos") {
    setBoard(START_FEN);
  } else if (base == "fen") {
    // The record is the rest of the line (its fields are read, what follows them ignored); the
    // moves follow the first "moves" after it, which must be a word of its own.
    const size_t fen = text.find_first_not_of(' ', text.find("fen", text.find(' ')) + 3);
    const size_t moves = fen == std::string::npos ? std::string::npos : text.find("moves", fen);
    if (moves != std::string::npos && (text[moves - 1] != ' ' || (moves + 5 < text.size() && text[moves + 5] != ' '))) {
      game.known = Known::UNKNOWN;
      return;
    }
    const int bad = setBoard(fen == std::string::npos ? "" : text.c_str() + fen);
    game.known = bad != 0 || positionRejected ? Known::REFUSED : Known::YES;
    if (game.known == Known::REFUSED || moves == std::string::npos) return;
    if (!playWords(wordsOf(text.substr(moves + 5)), 0)) game.known = Known::REFUSED;
    return;
  } else if (startsWith(base, "startpos") || startsWith(base, "fen")) {
    game.known = Known::UNKNOWN;
    return;
  } else {
    movesAt = 1;
    if (game.known != Known::YES) return;
  }
  if (base == "startpos") game.known = Known::YES;
  if (movesAt >= words.size() || !startsWith(words[movesAt], "moves")) return;
  if (words[movesAt] != "moves") {
    game.known = Known::UNKNOWN;
    return;
  }
  if (!playWords(words, movesAt + 1)) game.known = Known::REFUSED;
}

// setoption name UCI_Chess960 value true|false switches the castling notation.
void uciSetOptionLine(UciGame& game, const std::string& text) {
  const std::vector<std::string> words = wordsOf(text);
  const bool named = words.size() >= 3 && strcasecmp(words[2].c_str(), "UCI_Chess960") == 0;
  if (plain(text) && words.size() == 5 && named && text == "setoption name " + words[2] + " value " + words[4]) {
    if (startsWith(words[4], "true")) settings.chess960 = 1;
    else if (startsWith(words[4], "false")) settings.chess960 = 0;
    return;
  }
  std::string lower = text;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("chess960") != std::string::npos) game.chess960Known = false;
}

// The bestmove line answering a go in the GUI's position: a legal move (and ponder move after
// it), or 0000 when there is no legal move or the position was refused.
void checkBestmove(const UciGame& game, const OutputLine& answer) {
  if (game.known == Known::UNKNOWN || !game.chess960Known) return;
  const std::vector<std::string> words = wordsOf(answer.text);
  const std::vector<Move> moves = game.known == Known::YES ? legalMoves() : std::vector<Move>{};
  if (moves.empty()) {
    if (answer.text != "bestmove 0000") failAt("UCI: a bestmove where there is no move to play", answer.at, answer.text);
    return;
  }
  const Move best = words.size() >= 2 ? moveNamed(words[1], moveToUci) : 0;
  if (best == 0) failAt("UCI: bestmove not legal in the position the GUI set", answer.at, answer.text);
  if (words.size() == 2) return;
  if (words.size() != 4 || words[2] != "ponder") failAt("UCI: a malformed bestmove line", answer.at, answer.text);
  makeMove(best);
  prepareRoot();
  const Move reply = moveNamed(words[3], moveToUci);
  unmakeGameMove();
  prepareRoot();
  if (reply == 0) failAt("UCI: ponder move not legal after the bestmove", answer.at, answer.text);
}

void replayUci(const SessionRecord& s, const std::vector<size_t>& run) {
  std::vector<const OutputLine*> bestmoves;
  for (const OutputLine& line : s.output)
    if (startsWith(line.text, "bestmove ")) bestmoves.push_back(&line);
  clearGameState();
  settings.chess960 = 0;
  setBoard(START_FEN);
  UciGame game;
  size_t gos = 0;
  for (size_t i : run) {
    const std::string text = visible(s.linesRead[i].text);
    switch (uciKind(firstWordLower(text))) {
      case Uci::POSITION:
        uciPositionLine(game, text.substr(text.find_first_not_of(' ')));
        break;
      case Uci::SET_OPTION:
        uciSetOptionLine(game, text.substr(text.find_first_not_of(' ')));
        break;
      case Uci::GO:
        if (gos < bestmoves.size()) checkBestmove(game, *bestmoves[gos]);
        gos++;
        break;
      default:
        break;
    }
  }
}

// ----- xboard ----------------------------------------------------------------

// No move while the engine analyses or is in force mode as the GUI sees it: after "analyze"
// until "exit", after "force" until "go", "new", "white" or "black". The search that runs when
// such a line is read may still send its move when the line waits behind others.
void checkNoMoveInForce(const SessionRecord& s) {
  bool analysis = false, force = false;
  int allowed = 0;
  size_t next = 0;
  auto movesUpTo = [&](long at) {
    for (; next < s.output.size() && s.output[next].at < at; next++) {
      if (!startsWith(s.output[next].text, "move ")) continue;
      if ((analysis || force) && allowed == 0) fuzzRequire(false, "xboard: a move in force or analysis mode");
      if (allowed > 0) allowed--;
    }
  };
  for (const LineRead& line : s.linesRead) {
    movesUpTo(line.outputAt);
    const std::string word = firstWordLower(line.text);
    const bool wasFree = !analysis && !force;
    if (word == "analyze") analysis = true;
    else if (word == "exit") analysis = false;
    else if (word == "force") force = true;
    else if (word == "go" || word == "new" || word == "white" || word == "black") force = false;
    if (wasFree && (analysis || force)) allowed = line.state == STATE_THINKING || line.state == STATE_PONDERING ? 1 : 0;
  }
  movesUpTo(LONG_MAX);
}

// What a line is to the GUI's game and to the order of answers; edit mode's lines are none of it.
enum class Xb : uint8_t { OTHER, MOVE, NEW, SETBOARD, FORCE, GO, WHITE, BLACK, UNDO, REMOVE, RESULT, EDIT,
                          EDIT_LINE, EDIT_DONE, ANALYZE, EXIT, VARIANT, PING, BOOK, QUIT };

// The kinds of the lines read, in order, up to quit; edit mode runs from "edit" to ".".
std::vector<Xb> xboardKinds(const SessionRecord& s) {
  static const std::pair<const char*, Xb> names[] = {
        {"new", Xb::NEW},     {"setboard", Xb::SETBOARD}, {"force", Xb::FORCE},     {"go", Xb::GO},
        {"white", Xb::WHITE}, {"black", Xb::BLACK},       {"undo", Xb::UNDO},       {"remove", Xb::REMOVE},
        {"result", Xb::RESULT}, {"edit", Xb::EDIT},       {"analyze", Xb::ANALYZE}, {"exit", Xb::EXIT},
        {"variant", Xb::VARIANT}, {"ping", Xb::PING},     {"bk", Xb::BOOK},         {"quit", Xb::QUIT}};
  std::vector<Xb> kinds;
  bool editing = false;
  for (const LineRead& line : s.linesRead) {
    const std::string text = visible(line.text);
    const std::string word = firstWordLower(text);
    Xb kind = Xb::OTHER;
    if (word.empty()) {
    } else if (editing) {
      kind = word == "." ? Xb::EDIT_DONE : Xb::EDIT_LINE;
      editing = kind != Xb::EDIT_DONE;
    } else if (looksLikeMove(word.c_str())) {
      kind = Xb::MOVE;
    } else {
      for (const auto& [name, k] : names)
        if (word == name) kind = k;
      editing = kind == Xb::EDIT;
    }
    if (kind == Xb::QUIT) break;
    kinds.push_back(kind);
  }
  return kinds;
}

// pong N answers ping N, and the book's lines (each beginning with a tab, ended by an empty line)
// answer bk: every one of them that ran, in the order sent, after it was read, and a request read
// while the engine thought on its own move after the move of that search, if it sends one.
void checkXboardAnswers(const SessionRecord& s, const std::vector<Xb>& kinds) {
  const std::vector<long> moves = outputWhere(s, [](const std::string& t) { return startsWith(t, "move "); });
  std::vector<const OutputLine*> pongs, books;
  for (size_t i = 0; i < s.output.size(); i++) {
    const std::string& text = s.output[i].text;
    if (startsWith(text, "pong")) pongs.push_back(&s.output[i]);
    if (startsWith(text, "\t") && (i == 0 || !startsWith(s.output[i - 1].text, "\t"))) books.push_back(&s.output[i]);
  }
  size_t pong = 0, book = 0;
  long previous = -1;
  for (size_t i = 0; i < kinds.size(); i++) {
    const LineRead& line = s.linesRead[i];
    const std::vector<std::string> words = wordsOf(visible(line.text));
    const OutputLine* answer = nullptr;
    if (kinds[i] == Xb::PING && words.size() >= 2) {
      if (pong >= pongs.size()) failAt("xboard: a ping without its pong", -1, visible(line.text));
      answer = pongs[pong++];
      if (answer->text != "pong " + words[1]) failAt("xboard: pong does not answer its ping", answer->at, answer->text);
    } else if (kinds[i] == Xb::BOOK) {
      if (book >= books.size()) failAt("xboard: bk without its answer", -1, visible(line.text));
      answer = books[book++];
    }
    if (answer == nullptr) continue;
    if (answer->at < line.outputAt) failAt("xboard: an answer before its request was read", answer->at, answer->text);
    if (answer->at <= previous) failAt("xboard: an answer before that of a request sent earlier", answer->at, answer->text);
    previous = answer->at;
    if (line.state != STATE_THINKING) continue;
    const long move = firstOfSearch(s, moves, line.outputAt, line.search);
    if (move >= 0 && answer->at < move) failAt("xboard: answered before the move of the search it came in", answer->at, answer->text);
  }
  fuzzRequire(pong == pongs.size(), "xboard: a pong without its ping");
  fuzzRequire(book == books.size(), "xboard: a book answer without its bk");
}

// A line that changes the game (a new game or position, a side, a takeback, a mode) read while
// the engine thinks on its own move ends that search, whose move is then never sent, unless a
// request that waits for the move (ping, bk, option) came before it in the same search: then it
// waits as well, and acts after the move.
void checkChangesEndTheSearch(const SessionRecord& s, const std::vector<Xb>& kinds) {
  const std::vector<long> moves = outputWhere(s, [](const std::string& t) { return startsWith(t, "move "); });
  int waitingIn = -1;  // the search in which a request that waits for the move was read
  for (size_t i = 0; i < kinds.size(); i++) {
    const LineRead& line = s.linesRead[i];
    if (line.state != STATE_THINKING || line.stopping) continue;
    const std::string word = firstWordLower(line.text);
    if (word == "ping" || word == "bk" || word == "option") waitingIn = line.search;
    const bool changesGame = kinds[i] != Xb::OTHER && kinds[i] != Xb::MOVE && kinds[i] != Xb::PING &&
                             kinds[i] != Xb::BOOK;
    if (!changesGame || waitingIn == line.search) continue;
    const long move = firstOfSearch(s, moves, line.outputAt, line.search);
    if (move >= 0) failAt("xboard: a move from a search that a change of the game ended", move, visible(line.text));
  }
}

// The GUI's xboard game: its position on the board, whom the engine plays, and the game's state.
struct XboardGame {
  Known known = Known::YES;
  int engineColour = BLACK;  // the side the engine plays, NO_SIDE in force mode
  bool analysing = false;
  bool colourUnsure = false;  // a side was given in analysis: the engine takes it only if it
                              // leaves analysis before it next looks for input
  bool over = false;         // the game has ended (a result, or the engine resigned)
};

void endIfOver(XboardGame& game) {
  if (!gameOver) return;
  game.over = true;
  game.engineColour = NO_SIDE;
}

// setboard and new: the record, or the start position when it cannot be read; a refused
// position is never played on.
void xboardSetPosition(XboardGame& game, const char* fen) {
  const bool force = game.engineColour == NO_SIDE;
  clearGameState();
  if (setBoard(fen) != 0) setBoard(START_FEN);
  game.known = positionRejected ? Known::REFUSED : Known::YES;
  game.over = gameOver != 0;
  game.engineColour = force || game.over ? NO_SIDE : otherSide;
  endIfOver(game);
}

// white and black give the move to colour without a move; the record starts again there. A
// side that could take the enemy king makes the position illegal.
void xboardSideToMove(XboardGame& game, int colour) {
  game.engineColour = colour ^ 1;
  if (game.known != Known::YES || sideToMove == colour) return;
  changeSideToMove(colour);
  clearGameState();
  if (inCheck(otherSide)) {
    game.known = Known::REFUSED;
    return;
  }
  prepareRoot();
}

// A move the GUI sent is played when the engine takes it: a legal move of the side the engine
// does not play, in a game not over, unless the engine refused it for thinking on its own move.
void xboardUserMove(XboardGame& game, const std::string& word, bool refused) {
  if (game.known != Known::YES || game.over || refused || historyFull()) return;
  if (game.colourUnsure && sideToMove == game.engineColour) {
    game.known = Known::UNKNOWN;
    return;
  }
  if (!game.analysing && sideToMove == game.engineColour) return;
  const Move m = coordinateMove(word);
  if (m == 0) return;
  playOnBoard(m);
  checkGameEnd();
  endIfOver(game);
}

void xboardEngineMove(XboardGame& game, const OutputLine& line) {
  if (game.known == Known::UNKNOWN) return;
  if (game.known == Known::REFUSED) failAt("xboard: a move in a refused position", line.at, line.text);
  const Move m = historyFull() ? 0 : moveNamed(line.text.substr(5), moveToSAN);
  if (m == 0) failAt("xboard: a move not legal in the GUI's game", line.at, line.text);
  playOnBoard(m);
  checkGameEnd();
  endIfOver(game);
}

void xboardLine(XboardGame& game, Xb kind, const std::string& text, bool refused) {
  const std::vector<std::string> words = wordsOf(text);
  const bool readable = plain(text);
  if (!readable && kind != Xb::OTHER && kind != Xb::PING && kind != Xb::BOOK) {
    game.known = Known::UNKNOWN;
    return;
  }
  switch (kind) {
    case Xb::MOVE:
      xboardUserMove(game, words[0], refused);
      break;
    case Xb::NEW:
      settings.chess960 = 0;
      game.engineColour = BLACK;
      xboardSetPosition(game, START_FEN);
      game.engineColour = BLACK;
      break;
    case Xb::SETBOARD:
      if (words.size() >= 2) xboardSetPosition(game, text.c_str() + text.find(' ', text.find_first_not_of(' ')) + 1);
      break;
    case Xb::FORCE:
    case Xb::RESULT:
      game.engineColour = NO_SIDE;
      break;
    case Xb::GO:
      game.engineColour = sideToMove;
      break;
    case Xb::WHITE:
    case Xb::BLACK:
      xboardSideToMove(game, kind == Xb::WHITE ? WHITE : BLACK);
      break;
    case Xb::UNDO:
    case Xb::REMOVE: {
      const int count = kind == Xb::UNDO ? 1 : 2;
      if (game.known != Known::YES || gamePly < count) break;
      for (int i = 0; i < count; i++) unmakeGameMove();
      prepareRoot();
      game.over = false;
      break;
    }
    case Xb::EDIT_DONE:
      game.known = Known::UNKNOWN;
      break;
    case Xb::ANALYZE:
      game.analysing = true;
      game.engineColour = NO_SIDE;
      game.colourUnsure = false;
      break;
    case Xb::EXIT:
      game.analysing = false;
      break;
    case Xb::VARIANT:
      if (words.size() >= 2 && words[1] == "fischerandom") settings.chess960 = 1;
      if (words.size() >= 2 && words[1] == "normal") settings.chess960 = 0;
      break;
    default:
      break;
  }
  const bool givesSide = kind == Xb::NEW || kind == Xb::SETBOARD || kind == Xb::FORCE || kind == Xb::GO ||
                        kind == Xb::WHITE || kind == Xb::BLACK || kind == Xb::RESULT;
  if (givesSide) game.colourUnsure = game.analysing && game.engineColour != NO_SIDE;
}

// When each line acts on the GUI's game, as the protocol orders it. A line read between searches
// acts then; so does the opponent's move read while the engine ponders (a ponder hit, or the
// end of pondering). Any other line read during a search acts once the search is over: after
// its move, if it sends one.
struct XbEvent {
  long at;
  int phase;     // 0 a line acting when read, 1 an output line, 2 a line acting after a move
  size_t index;  // the line, or the output line
};

void replayXboard(const SessionRecord& s, const std::vector<Xb>& kinds) {
  const std::vector<long> moves = outputWhere(s, [](const std::string& t) { return startsWith(t, "move "); });
  const std::vector<long> refusals =
        outputWhere(s, [](const std::string& t) { return startsWith(t, "Illegal move (the engine is thinking)"); });
  std::vector<XbEvent> events;
  for (size_t i = 0; i < s.output.size(); i++) {
    const std::string& text = s.output[i].text;
    const size_t mark = text.find("{Talvek resigns}");
    if (startsWith(text, "move ") || (mark != std::string::npos && mark + 16 == text.size()))
      events.push_back({s.output[i].at, 1, i});
  }
  for (size_t i = 0; i < kinds.size(); i++) {
    if (kinds[i] == Xb::OTHER || kinds[i] == Xb::PING || kinds[i] == Xb::BOOK) continue;
    const LineRead& line = s.linesRead[i];
    const bool searching = line.state != STATE_WAITING && line.state != STATE_INITIALISING;
    const long move = searching && !(kinds[i] == Xb::MOVE && line.state == STATE_PONDERING)
                            ? firstOfSearch(s, moves, line.outputAt, line.search)
                            : -1;
    events.push_back(move >= 0 ? XbEvent{move, 2, i} : XbEvent{line.outputAt, 0, i});
  }
  std::stable_sort(events.begin(), events.end(), [](const XbEvent& a, const XbEvent& b) {
    return a.at != b.at ? a.at < b.at : a.phase < b.phase;
  });

  clearGameState();
  settings.chess960 = 0;
  XboardGame game;
  xboardSetPosition(game, START_FEN);
  game.engineColour = BLACK;
  for (const XbEvent& e : events) {
    if (e.phase == 1) {
      const OutputLine& out = s.output[e.index];
      if (startsWith(out.text, "move ")) {
        xboardEngineMove(game, out);
      } else {
        game.over = true;
        game.engineColour = NO_SIDE;
      }
      continue;
    }
    // A move refused because the engine was thinking is answered as soon as it is read.
    const long nextRead = e.index + 1 < s.linesRead.size() ? s.linesRead[e.index + 1].outputAt : LONG_MAX;
    const auto refusal = std::lower_bound(refusals.begin(), refusals.end(), s.linesRead[e.index].outputAt);
    const bool refused = refusal != refusals.end() && *refusal < nextRead;
    xboardLine(game, kinds[e.index], visible(s.linesRead[e.index].text), refused);
  }
}

}  // namespace

void checkUciSession(const SessionRecord& s) {
  const std::vector<size_t> run = uciLinesRun(s);
  const std::vector<long> bestmoves = outputWhere(s, [](const std::string& t) { return startsWith(t, "bestmove "); });
  checkBestmoveCount(s, run, bestmoves);
  std::vector<Request> requests;
  for (size_t i : run) {
    const Uci kind = uciKind(firstWordLower(s.linesRead[i].text));
    if (kind == Uci::GO || kind == Uci::READY || kind == Uci::IDENTIFY) requests.push_back({i, kind, -1});
  }
  // A go that quit cut short has no bestmove; the lines read during its search acted at once.
  const auto gos = std::count_if(requests.begin(), requests.end(), [](const Request& r) { return r.kind == Uci::GO; });
  if (size_t(gos) > bestmoves.size()) {
    auto last = std::find_if(requests.rbegin(), requests.rend(), [](const Request& r) { return r.kind == Uci::GO; });
    requests.erase(std::next(last).base());
  }
  pairAnswers(s, requests, Uci::GO, bestmoves, "UCI: bestmove order");
  pairAnswers(s, requests, Uci::READY, outputWhere(s, [](const std::string& t) { return t == "readyok"; }),
              "UCI: readyok does not answer its isready");
  pairAnswers(s, requests, Uci::IDENTIFY, outputWhere(s, [](const std::string& t) { return t == "uciok"; }),
              "UCI: uciok does not answer its uci");
  checkUciOrder(s, requests);
  replayUci(s, run);
}

void checkXboardSession(const SessionRecord& s) {
  checkNoMoveInForce(s);
  const std::vector<Xb> kinds = xboardKinds(s);
  checkXboardAnswers(s, kinds);
  checkChangesEndTheSearch(s, kinds);
  replayXboard(s, kinds);
}
