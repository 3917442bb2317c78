// The program under xboard, driven through pipes: the engine's answers in SAN, thinking on the
// opponent's time with a ponder hit or another move, "?" and "force" during a search.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frontend/frontend.h"
#include "tests/frontend/program.h"
#include "tests/support/support.h"

namespace {

// The game as both sides see it: coordinate moves from the start position.
struct Game {
  std::string fen;  // the start position when empty
  std::vector<std::string> moves;

  // Sets the game's position in this process.
  void setUp() const {
    resetEngine();
    if (!fen.empty()) setPosition(fen);
    for (const std::string& move : moves) {
      makeMove(matchMove(parseCoord(move.c_str())));
      ply = 0;
      initPieceLists();
    }
    genPlyMoves();
  }

  // The coordinate form of a SAN move of the current game position; empty when none matches.
  std::string coordinates(const std::string& san) const {
    setUp();
    PlyRecord root = plyStack[0];
    for (int i = 0; i < root.moveCount; i++) {
      Move m = root.moves[i];
      if (!legal(m)) continue;
      std::string text = moveToSAN(m);
      genPlyMoves();
      if (text == san) return moveToCoord(m);
    }
    return "";
  }

  // Any legal move of the current position other than the one given.
  std::string otherMove(const std::string& notThis) const {
    setUp();
    for (int i = 0; i < plyStack[0].moveCount; i++) {
      Move m = plyStack[0].moves[i];
      if (legal(m) && moveToCoord(m) != notThis) return moveToCoord(m);
    }
    return "";
  }

  // True when the coordinate move is legal in the game's position.
  bool isLegal(const std::string& move) const {
    setUp();
    return !move.empty() && matchMove(parseCoord(move.c_str())) != 0;
  }

  void takeBack(size_t plies) { moves.resize(moves.size() >= plies ? moves.size() - plies : 0); }
};

// The text of the next line that begins with prefix, after the prefix; empty when none came.
std::string lineAfter(EngineProcess& engine, const std::string& prefix, int timeoutMs) {
  std::string line = engine.takeLine(prefix, timeoutMs);
  return line.empty() ? line : line.substr(prefix.size());
}

// Waits for the engine's "move" line and adds the move to the game.
bool engineMoves(EngineProcess& engine, Game& game, int timeoutMs) {
  std::string san = lineAfter(engine, "move ", timeoutMs);
  if (san.empty()) return false;
  std::string move = game.coordinates(san);
  EXPECT_FALSE(move.empty()) << "not a legal SAN move: " << san;
  EXPECT_NE(san, move) << "coordinates instead of SAN";
  if (move.empty()) return false;
  game.moves.push_back(move);
  return true;
}

}  // namespace

TEST(XboardTranscript, PonderHitAndAnotherMove) {
  EngineProcess engine("-xboard");
  ASSERT_TRUE(engine.waitFor("feature done=0\n", 10000));
  engine.send("xboard");
  engine.send("protover 2");
  ASSERT_TRUE(engine.waitFor("done=1\n", 10000));
  engine.taken();
  engine.send("new");
  engine.send("hard");
  engine.send("nopost");
  engine.send("level 0 0:15 0");
  Game game;
  engine.send("e2e4");
  game.moves.push_back("e2e4");
  ASSERT_TRUE(engineMoves(engine, game, 10000));

  // The engine ponders on its predicted reply; playing it is a ponder hit.
  std::string predicted = game.coordinates(lineAfter(engine, "Hint: ", 5000));
  ASSERT_FALSE(predicted.empty()) << engine.taken();
  engine.drain(200);
  engine.send("hint");  // answered while pondering
  ASSERT_EQ(game.coordinates(lineAfter(engine, "Hint: ", 3000)), predicted);
  engine.send(predicted);
  game.moves.push_back(predicted);
  ASSERT_TRUE(engineMoves(engine, game, 10000));

  // Another move than the predicted one: the engine takes its guess back and answers this one.
  predicted = game.coordinates(lineAfter(engine, "Hint: ", 5000));
  ASSERT_FALSE(predicted.empty());
  std::string other = game.otherMove(predicted);
  engine.drain(200);
  engine.send(other);
  game.moves.push_back(other);
  ASSERT_TRUE(engineMoves(engine, game, 10000));

  // "easy" stops pondering for good; "?" then makes the engine move at once.
  engine.send("easy");
  engine.drain(300);
  engine.taken();
  engine.send("level 0 30 0");  // long thinking, cut short by "?"
  std::string next = game.otherMove("");
  engine.send(next);
  game.moves.push_back(next);
  engine.drain(300);
  EXPECT_EQ(engine.taken().find("move "), std::string::npos);
  engine.send("?");
  ASSERT_TRUE(engineMoves(engine, game, 3000));
  engine.drain(300);
  EXPECT_EQ(engine.taken().find("Hint: "), std::string::npos);

  // "force" during a search: no move comes.
  next = game.otherMove("");
  engine.send(next);
  engine.drain(300);
  engine.send("force");
  engine.drain(1000);
  EXPECT_EQ(engine.taken().find("move "), std::string::npos);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// A ponder search that reaches a shallow depth limit ends the pondering turn: one hint, then
// the engine waits for the opponent's line instead of pondering the position over and over.
TEST(XboardTranscript, ShallowPonderSearchesAreNotRepeated) {
  EngineProcess engine("-xboard");
  ASSERT_TRUE(engine.waitFor("feature done=0\n", 10000));
  engine.send("protover 2");
  ASSERT_TRUE(engine.waitFor("done=1\n", 10000));
  engine.send("new");
  engine.send("hard");
  engine.send("sd 2");
  engine.send("e2e4");
  ASSERT_TRUE(engine.waitFor("move ", 10000));
  engine.drain(1500);
  std::string out = engine.taken();
  size_t hints = 0;
  for (size_t at = out.find("Hint: "); at != std::string::npos; at = out.find("Hint: ", at + 1)) hints++;
  EXPECT_LE(hints, 1u) << out;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

namespace {

// An xboard session with pondering on: the engine plays Black, one second a move.
void startPondering(EngineProcess& engine, Game& game) {
  ASSERT_TRUE(engine.waitFor("feature done=0\n", 10000));
  engine.send("protover 2");
  ASSERT_TRUE(engine.waitFor("done=1\n", 10000));
  engine.send("new");
  engine.send("hard");
  engine.send("nopost");
  engine.send("st 1");
  engine.send("e2e4");
  game.moves.push_back("e2e4");
  ASSERT_TRUE(engineMoves(engine, game, 10000)) << engine.taken();
}

// Waits until the engine ponders and returns its predicted move in coordinates; empty when it
// ponders without a prediction (the table held no move for the position).
std::string pondered(EngineProcess& engine, Game& game) {
  std::string predicted = game.coordinates(lineAfter(engine, "Hint: ", 3000));
  engine.drain(200);
  return predicted;
}

// The user's next move: the engine's prediction when it is legal in the GUI's position (so
// that an engine still in its old position takes it for a ponder hit), else another move.
std::string nextUserMove(const Game& game, const std::string& predicted) {
  return game.isLegal(predicted) ? predicted : game.otherMove("");
}

// Plays the user's move and checks that the engine's answer is legal in the GUI's position.
void userMoveAnswered(EngineProcess& engine, Game& game, const std::string& predicted) {
  std::string move = nextUserMove(game, predicted);
  ASSERT_FALSE(move.empty());
  engine.send(move);
  game.moves.push_back(move);
  ASSERT_TRUE(engineMoves(engine, game, 10000)) << engine.taken();
  EXPECT_EQ(engine.taken().find("Illegal move"), std::string::npos);
}

}  // namespace

// Taking back two moves while the engine ponders: the engine follows the GUI.
TEST(XboardTranscript, RemoveWhilePondering) {
  EngineProcess engine("-xboard");
  Game game;
  startPondering(engine, game);
  std::string predicted = pondered(engine, game);
  userMoveAnswered(engine, game, predicted);
  predicted = pondered(engine, game);
  engine.send("remove");
  game.takeBack(2);
  userMoveAnswered(engine, game, predicted);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// Taking back the engine's own move while it ponders: the engine moves again at once.
TEST(XboardTranscript, UndoWhilePondering) {
  EngineProcess engine("-xboard");
  Game game;
  startPondering(engine, game);
  std::string predicted = pondered(engine, game);
  engine.send("undo");
  game.takeBack(1);
  ASSERT_TRUE(engineMoves(engine, game, 10000)) << engine.taken();
  predicted = pondered(engine, game);
  userMoveAnswered(engine, game, predicted);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// A new game while the engine ponders: the next game's first move is accepted.
TEST(XboardTranscript, NewWhilePondering) {
  EngineProcess engine("-xboard");
  Game game;
  startPondering(engine, game);
  pondered(engine, game);
  engine.send("new");
  engine.send("st 1");
  game = Game{};
  userMoveAnswered(engine, game, "e2e4");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// A position set while the engine ponders is the one the next move is played in.
TEST(XboardTranscript, SetboardWhilePondering) {
  EngineProcess engine("-xboard");
  Game game;
  startPondering(engine, game);
  std::string predicted = pondered(engine, game);
  game = Game{"r1bqk1nr/pppp1ppp/2n5/2b1p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 4 4", {}};
  engine.send("setboard " + game.fen);
  userMoveAnswered(engine, game, predicted);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// Setting a position in force mode leaves the engine in force mode: it moves only on "go".
TEST(XboardTranscript, SetboardKeepsForceMode) {
  EngineProcess engine("-xboard");
  ASSERT_TRUE(engine.waitFor("feature done=0\n", 10000));
  engine.send("protover 2");
  ASSERT_TRUE(engine.waitFor("done=1\n", 10000));
  engine.send("new");
  engine.send("force");
  engine.send("st 1");
  engine.send("setboard 7k/8/6QK/8/8/8/8/8 w - - 0 1");
  engine.send("g6f6");
  engine.drain(1500);
  EXPECT_EQ(engine.taken().find("move "), std::string::npos);
  engine.send("go");
  Game game{"7k/8/6QK/8/8/8/8/8 w - - 0 1", {"g6f6"}};
  ASSERT_TRUE(engineMoves(engine, game, 10000)) << engine.taken();
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

namespace {

void startSession(EngineProcess& engine) {
  ASSERT_TRUE(engine.waitFor("feature done=0\n", 10000));
  engine.send("protover 2");
  ASSERT_TRUE(engine.waitFor("done=1\n", 10000));
  engine.taken();
}

// The engine, Black in a new game with 30 seconds on each clock, thinking on its reply to d4.
void thinkingOnD4(EngineProcess& engine) {
  startSession(engine);
  for (const char* line : {"new", "easy", "nopost", "level 40 5 0", "time 30000", "otim 30000", "d2d4"})
    engine.send(line);
  engine.drain(1000);
  EXPECT_EQ(engine.taken().find("move "), std::string::npos);
}

}  // namespace

// Lines that change the game while the engine thinks act in the order they came, after the
// search has ended without a move: a new game in force mode takes the GUI's moves, and the
// engine then plays Black's move of that game.
TEST(XboardTranscript, NewGameInForceModeWhileThinking) {
  EngineProcess engine("-xboard");
  thinkingOnD4(engine);
  for (const char* line : {"new", "force", "e2e4", "e7e5", "g1f3", "ping 1"}) engine.send(line);
  ASSERT_TRUE(engine.waitFor("pong 1\n", 10000)) << engine.taken();
  engine.drain(500);
  std::string out = engine.taken();
  EXPECT_EQ(out.find("move "), std::string::npos) << out;
  EXPECT_EQ(out.find("Illegal move"), std::string::npos) << out;
  engine.send("st 1");
  engine.send("go");
  Game game{"", {"e2e4", "e7e5", "g1f3"}};
  ASSERT_TRUE(engineMoves(engine, game, 10000)) << engine.taken();
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// A new time control and clock sent while the engine thinks hold for the search that follows:
// two seconds left means a move within them.
TEST(XboardTranscript, ClocksSentWhileThinkingHold) {
  EngineProcess engine("-xboard");
  thinkingOnD4(engine);
  const int sent = nowMs();
  engine.send("level 40 5 0");
  engine.send("time 200");
  engine.send("otim 200");
  Game game{"", {"d2d4"}};
  ASSERT_TRUE(engineMoves(engine, game, 10000)) << engine.taken();
  EXPECT_LT(nowMs() - sent, 2000);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// A position set while the engine thinks: no move for the old position; the next move, on
// "go", is legal in the new one.
TEST(XboardTranscript, SetboardWhileThinking) {
  EngineProcess engine("-xboard");
  thinkingOnD4(engine);
  Game game{"r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3", {}};
  engine.send("force");
  engine.send("setboard " + game.fen);
  engine.send("ping 2");
  ASSERT_TRUE(engine.waitFor("pong 2\n", 10000)) << engine.taken();
  EXPECT_EQ(engine.taken().find("move "), std::string::npos);
  engine.send("st 1");
  engine.send("go");
  ASSERT_TRUE(engineMoves(engine, game, 10000)) << engine.taken();
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// While the engine ponders, ping is answered at once and pondering goes on; text that names no
// move is refused like any illegal move and the engine never plays for the user.
TEST(XboardTranscript, PingAndNoMoveWhilePondering) {
  EngineProcess engine("-xboard");
  Game game;
  startPondering(engine, game);
  std::string predicted = pondered(engine, game);
  engine.send("ping 3");
  ASSERT_TRUE(engine.waitFor("pong 3\n", 1000)) << engine.taken();
  engine.send("a1a1");
  ASSERT_TRUE(engine.waitFor("Illegal move: a1a1\n", 1000)) << engine.taken();
  engine.drain(500);
  EXPECT_EQ(engine.taken().find("move "), std::string::npos);
  userMoveAnswered(engine, game, predicted);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// On the engine's move, ping waits for the move: "pong" comes after "move".
TEST(XboardTranscript, PingOnTheEnginesMoveAfterTheMove) {
  EngineProcess engine("-xboard");
  startSession(engine);
  for (const char* line : {"new", "easy", "nopost", "st 1", "e2e4", "ping 4"}) engine.send(line);
  ASSERT_TRUE(engine.waitFor("pong 4\n", 10000)) << engine.taken();
  const std::string out = engine.taken();
  ASSERT_NE(out.find("move "), std::string::npos) << out;
  EXPECT_LT(out.find("move "), out.find("pong 4")) << out;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// An edit sent while the engine thinks waits behind the ping that waits for the move, and so do
// its lines: its "." ends it when its turn comes, rather than passing the edit as a status
// request and leaving every later command to edit mode.
TEST(XboardTranscript, EditSentWhileThinkingEndsAtItsDot) {
  EngineProcess engine("-xboard");
  startSession(engine);
  for (const char* line : {"new", "easy", "nopost", "st 1", "e2e4", "ping 4", "edit", "#", "Ke1", "c", "Ke8", ".",
                           "ping 5"})
    engine.send(line);
  ASSERT_TRUE(engine.waitFor("pong 5\n", 10000)) << engine.taken();
  const std::string out = engine.taken();
  ASSERT_NE(out.find("move "), std::string::npos) << out;
  EXPECT_LT(out.find("move "), out.find("pong 4")) << out;
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

namespace {

// The first move of the principal variation of the last thinking line in text ("e4" in
// "1. e4 e5", "Nf6" in "10. ... Nf6"); empty when there is none.
std::string lastLineMove(const std::string& text) {
  std::string move;
  size_t at = 0;
  while ((at = text.find('\n', at)) != std::string::npos) {
    at++;
    // depth score time nodes, then the line: move numbers ("1.", "...") and moves.
    std::istringstream line(text.substr(at, text.find('\n', at) - at));
    std::string word;
    int numbers = 0;
    while (numbers < 4 && line >> word && word.find_first_not_of("-0123456789") == std::string::npos) numbers++;
    if (numbers < 4) continue;
    while (line >> word && (word.back() == '.' || word == "...")) {
    }
    if (!word.empty() && word.back() != '.') move = word;
  }
  return move;
}

// Thinking lines for a while: the first move of the last one, in coordinates when it is legal
// in game's position (empty otherwise), and never a move played.
std::string analysisLines(EngineProcess& engine, const Game& game) {
  engine.drain(700);
  const std::string out = engine.taken();
  EXPECT_EQ(out.find("move "), std::string::npos) << out;
  const std::string san = lastLineMove(out);
  const std::string move = game.coordinates(san);
  EXPECT_FALSE(move.empty()) << "not a move of the analysed position: " << san << "\n" << out;
  return move;
}

}  // namespace

// Analyze mode: the engine thinks on every position the GUI gives it (moves, undo, a new game,
// setboard, edit), answers "." with its status, never moves, and stops on "exit".
TEST(XboardTranscript, AnalyzeMode) {
  EngineProcess engine("-xboard");
  startSession(engine);
  for (const char* line : {"new", "post", "analyze"}) engine.send(line);
  analysisLines(engine, Game{});
  engine.send(".");
  ASSERT_TRUE(engine.waitFor("stat01: ", 2000)) << engine.taken();
  engine.send("e2e4");
  analysisLines(engine, Game{"", {"e2e4"}});
  engine.send("undo");
  analysisLines(engine, Game{});
  const std::string fen = "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3";
  engine.send("setboard " + fen);
  analysisLines(engine, Game{fen, {}});
  engine.send("new");
  analysisLines(engine, Game{});
  // edit: Black's king and queen against White's king, White to move.
  for (const char* line : {"edit", "#", "Ke1", "c", "Ke8", "Qd8", "."}) engine.send(line);
  analysisLines(engine, Game{"3qk3/8/8/8/8/8/8/4K3 w - - 0 1", {}});
  engine.send("exit");
  engine.send("ping 6");
  ASSERT_TRUE(engine.waitFor("pong 6\n", 5000)) << engine.taken();
  engine.taken();
  engine.drain(700);
  EXPECT_EQ(engine.taken(), "");  // no more thinking, no move
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}

// xboard sends "analyze" and its status requests in one burst: each "." is answered, also
// those read before the analysis search has started, and the analysis then runs.
TEST(XboardTranscript, StatusRequestsInTheBurstThatStartsAnalysis) {
  EngineProcess engine("-xboard");
  startSession(engine);
  engine.send("new\nforce\ne2e4\npost\nanalyze\n.\n.");
  for (int request = 0; request < 2; request++)
    EXPECT_FALSE(engine.takeLine("stat01: ", 3000).empty()) << "request " << request << ": " << engine.taken();
  analysisLines(engine, Game{"", {"e2e4"}});
  engine.send(".");
  const std::string later = engine.takeLine("stat01: ", 3000);
  int centis = -1, depth = -1, left = -1, total = -1;
  unsigned long long nodes = 0;
  ASSERT_EQ(std::sscanf(later.c_str(), "stat01: %d %llu %d %d %d", &centis, &nodes, &depth, &left, &total), 5) << later;
  EXPECT_GT(nodes, 0u);
  EXPECT_EQ(total, 20);  // Black's replies to 1. e4
  engine.send("exit");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(5000), 0);
}
