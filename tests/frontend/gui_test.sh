#!/usr/bin/env bash
# Talvek against Phalanx under a real xboard (headless, in Xvfb): two games in xboard mode and
# two in UCI mode through xboard's UCI adapter (polyglot), each with pondering off and then
# again with both engines pondering, colours alternating, 6 seconds plus 0.1 per move
# ("level 0 0:06 0.1"). From the saved games and the logs it checks that every game
# ended with a result, with no illegal move, time forfeit or crash, that Talvek never answered
# "Illegal move", that it called no command unknown except those it does not support
# (random, draw, usermove), and that xboard's pings were answered. Then xboard steps through a
# game in Analyze File mode: Talvek analyses every position, never moves, and leaves on "exit".
# The games without pondering give Talvek two search threads (xboard's "cores 2", which
# polyglot passes on as the UCI option Threads). A match in which the opponent (not Talvek) crashed or stopped answering is said so and played
# once more before anything in it counts against Talvek. OPPONENT names another xboard engine
# (Phalanx by default, HoiChess when Phalanx is missing).
# Usage: tests/frontend/gui_test.sh <talvek binary>. Exits 77 (skipped) when a tool is missing.
set -u
PATH=$PATH:/usr/games
binary=$(realpath "${1:?usage: gui_test.sh <talvek binary>}")
opponent=${OPPONENT:-}
if [[ -z $opponent ]]; then
  opponent=phalanx
  command -v phalanx >/dev/null || opponent=hoichess
fi
for tool in xboard xvfb-run "$opponent" polyglot; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL ($1): $2"
  failures=$((failures + 1))
}

# opponent_failed <name>: the opponent (xboard's second program) crashed, could not be written
# to or read from, or ended during the match; Talvek is the first program.
opponent_failed() {
  grep -qiE 'error (writing to|reading from) second chess program|second chess program.*(exit|died|terminated)' \
    "$work/$1.debug" "$work/$1.out" "$work/$1.pgn" 2>/dev/null
}

# play <name> <true|false> [xboard options...]: a two-game match, Talvek first, with pondering
# on or off, into $work/<name>.*; played once more when the opponent failed.
play() {
  local name=$1 ponder=$2
  shift 2
  match "$name" "$ponder" "$@"
  if opponent_failed "$name"; then
    echo "$name: $opponent failed during the match ($(grep -m1 -ohiE 'error [a-z]+ (to|from) second chess program|second chess program[^"]*' \
      "$work/$name.debug" "$work/$name.out" "$work/$name.pgn" 2>/dev/null | head -1)); playing the match again"
    match "$name" "$ponder" "$@"
    opponent_failed "$name" && echo "$name: $opponent failed again (not Talvek); the games below are judged as they stand"
  fi
  check "$name"
}

match() {
  local name=$1 ponder=$2
  shift 2
  rm -rf "$work/$name" "$work/$name".{pgn,debug,out,polyglot}
  mkdir -p "$work/$name"
  timeout 150 xvfb-run -a xboard -noGUI -matchMode true -matchGames 2 \
    -fcp "$binary" -fd "$work/$name" -scp "$opponent" -sd "$work/$name" \
    -tc 0:06 -inc 0.1 -autoCallFlag true -ponderNextMove "$ponder" \
    -sgf "$work/$name.pgn" -debugMode true -nameOfDebugFile "$work/$name.debug" \
    -popupExitMessage false -saveSettingsOnExit false -settingsFile /dev/null "$@" \
    >"$work/$name.out" 2>&1
  [[ $? -eq 124 ]] && fail "$name" "the match did not end within 150 seconds"
}

check() {
  local name=$1 pgn="$work/$1.pgn" debug="$work/$1.debug"
  if [[ ! -s $pgn ]]; then
    fail "$name" "no games saved"
    grep -v ALSA "$work/$name.out" | head -5
    return
  fi
  local games results
  games=$(grep -c '^\[Result ' "$pgn")
  results=$(grep -cE '^\[Result "(1-0|0-1|1/2-1/2)"\]' "$pgn")
  [[ $games -eq 2 ]] || fail "$name" "$games games saved instead of 2"
  [[ $results -eq $games ]] || fail "$name" "a game ended without a result"
  # How each game ended: the comment before its result.
  local endings
  endings=$(grep -oE '\{[^}]*\} *(1-0|0-1|1/2-1/2|\*) *$' "$pgn")
  if grep -qiE 'time|illegal|exit|crash|disconnect|false|abort' <<<"$endings"; then
    fail "$name" "a game ended badly: $(tr '\n' ' ' <<<"$endings")"
  fi
  local illegal
  illegal=$(grep -E '<first *: *Illegal move' "$debug")
  [[ -z $illegal ]] || fail "$name" "Talvek refused moves: $(head -3 <<<"$illegal" | tr '\n' ' ')"
  local unknown
  unknown=$(grep -E '<first *: *Error \(unknown command\)' "$debug" |
    grep -vE 'unknown command\): (random|draw|usermove)$')
  [[ -z $unknown ]] || fail "$name" "unknown commands: $(head -3 <<<"$unknown" | tr '\n' ' ')"
  if grep -qiE 'exited unexpectedly|program.*(died|exited|terminated)' "$debug" "$work/$name.out"; then
    fail "$name" "a program ended during the match"
  fi
  echo "$name: $(grep -E '^\[(White|Black|Result) ' "$pgn" | sed -E 's/^\[[A-Za-z]+ "(.*)"\]/\1/' |
    paste -d ' ' - - - | sed -E 's/ v[0-9][^ ]*//' | paste -sd ';' -)"
}

# xboard waits for the engine with ping (announced with ping=1): every ping gets its pong, but
# for the last one, which xboard sends with "quit" without waiting for the answer.
check_pings() {
  local name=$1 debug="$work/$1.debug" pings last n missing=""
  pings=$(grep -oE '>first *: *ping [0-9]+' "$debug" | grep -oE '[0-9]+$')
  [[ -n $pings ]] || fail "$name" "xboard sent no ping"
  last=$(tail -1 <<<"$pings")
  for n in $pings; do
    [[ $n == "$last" ]] || grep -qE "<first *: *pong $n\$" "$debug" || missing+=" $n"
  done
  [[ -z $missing ]] || fail "$name" "pings without pong:$missing"
}

# analyse: xboard loads a short game and steps through it in Analyze File mode, annotating each
# move with Talvek's analysis; it is stopped once it has left analysis ("exit").
analyse() {
  local name=analysis debug="$work/analysis.debug"
  mkdir -p "$work/$name"
  cat >"$work/game.pgn" <<'PGN'
[Event "analysis"]
[Site "-"]
[Date "2026.12.08"]
[Round "1"]
[White "a"]
[Black "b"]
[Result "*"]

1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 *
PGN
  xvfb-run -a xboard -fcp "$binary" -fd "$work/$name" -loadGameFile "$work/game.pgn" \
    -initialMode AnalyzeFile -timeDelay 0.3 -saveGameFile "$work/$name.pgn" \
    -debugMode true -nameOfDebugFile "$debug" \
    -popupExitMessage false -saveSettingsOnExit false -settingsFile /dev/null >"$work/$name.out" 2>&1 &
  local runner=$! waited=0
  until grep -qE '>first *: *exit' "$debug" 2>/dev/null || [[ $waited -ge 120 ]]; do
    sleep 1
    waited=$((waited + 1))
  done
  [[ $waited -lt 120 ]] || fail "$name" "xboard did not finish the analysis within 120 seconds"
  sleep 1
  pkill -TERM -P "$runner" -f xboard 2>/dev/null || pkill -TERM -f "xboard -fcp $binary" 2>/dev/null
  wait "$runner" 2>/dev/null
  local moves
  moves=$(grep -cE '>first *: *[a-h][1-8][a-h][1-8]' "$debug")
  [[ $moves -eq 6 ]] || fail "$name" "$moves moves sent for analysis instead of 6"
  grep -qE '>first *: *analyze' "$debug" || fail "$name" "xboard did not start the analysis"
  ! grep -qE '<first *: *move ' "$debug" || fail "$name" "Talvek moved while analysing"
  grep -qE '<first *: *stat01: ' "$debug" || fail "$name" "no answer to the status request"
  local unknown
  unknown=$(grep -E '<first *: *(Error|Illegal)' "$debug" | grep -vE 'unknown command\): random$')
  [[ -z $unknown ]] || fail "$name" "$(head -3 <<<"$unknown" | tr '\n' ' ')"
  # The first move is played before the analysis starts: the five after it carry Talvek's score
  # and depth, and the final position its final score.
  local notes
  notes=$(grep -oE '\{[-+][0-9.]+/[0-9]+\}' "$work/$name.pgn" 2>/dev/null | wc -l)
  [[ $notes -eq 5 ]] || fail "$name" "$notes moves annotated with Talvek's analysis instead of 5"
  grep -qE '\{final score [-+][0-9.]+/[0-9]+\}' "$work/$name.pgn" || fail "$name" "no final score"
  echo "$name: 6 positions analysed, $notes annotations and a final score"
}

# UCI through polyglot: besides the checks above, Talvek never refused a move polyglot sent.
play_uci() {
  local name=$1 ponder=$2
  shift 2
  play "$name" "$ponder" -fUCI \
    -adapterCommand "polyglot -noini -log true -lf \"$work/$name.polyglot\" -ec \"%fcp\" -ed \"%fd\"" "$@"
  if grep -E 'Engine->Adapter: *Illegal move' "$work/$name.polyglot" >/dev/null 2>&1; then
    fail "$name" "$(grep -m1 -E 'Engine->Adapter: *Illegal move' "$work/$name.polyglot")"
  fi
}

play xboard false -smpCores 2
check_pings xboard
grep -qE '>first *: *cores 2' "$work/xboard.debug" || fail xboard "xboard did not give Talvek two cores"
play_uci uci false -smpCores 2
grep -qE 'Adapter->Engine: *setoption name Threads value 2' "$work/uci.polyglot" ||
  fail uci "polyglot did not give Talvek two threads"
# With pondering on, lines the GUI sends while Talvek ponders (its move, time, new game) meet
# a running search.
play xboard-ponder true
check_pings xboard-ponder
play_uci uci-ponder true
# Talvek must have pondered: a ponder move sent to xboard, a "go ponder" from polyglot.
grep -qE '<first *: *Hint: ' "$work/xboard-ponder.debug" || fail xboard-ponder "Talvek never pondered"
grep -qE 'Adapter->Engine: *go .*ponder' "$work/uci-ponder.polyglot" || fail uci-ponder "Talvek never pondered"

analyse

if [[ $failures -gt 0 ]]; then
  echo "gui: $failures failure(s)"
  exit 1
fi
echo "gui: 8 games played, all ended with a result; a game analysed"
