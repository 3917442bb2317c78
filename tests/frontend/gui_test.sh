#!/usr/bin/env bash
# Talvek against Fairy-Max under a real xboard (headless, in Xvfb): two games in xboard mode and
# two in UCI mode through xboard's UCI adapter (polyglot), each with pondering off and then
# again with both engines pondering, colours alternating, 10 seconds plus 0.1 per move
# ("level 0 0:10 0.1"). From the saved games and the logs it checks that every game
# ended with a result, with no illegal move, time forfeit or crash, that Talvek never answered
# "Illegal move", and that it called no command unknown except those it does not support
# (result, random, ping, draw, usermove).
# Usage: tests/frontend/gui_test.sh <talvek binary>. Exits 77 (skipped) when a tool is missing.
set -u
PATH=$PATH:/usr/games
binary=$(realpath "${1:?usage: gui_test.sh <talvek binary>}")
for tool in xboard xvfb-run fairymax polyglot; do
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

# play <name> <true|false> [xboard options...]: a two-game match, Talvek first, with pondering
# on or off, into $work/<name>.*
play() {
  local name=$1 ponder=$2
  shift 2
  mkdir -p "$work/$name"
  timeout 150 xvfb-run -a xboard -noGUI -matchMode true -matchGames 2 \
    -fcp "$binary" -fd "$work/$name" -scp fairymax -sd "$work/$name" \
    -tc 0:10 -inc 0.1 -autoCallFlag true -ponderNextMove "$ponder" \
    -sgf "$work/$name.pgn" -debugMode true -nameOfDebugFile "$work/$name.debug" \
    -popupExitMessage false -saveSettingsOnExit false -settingsFile /dev/null "$@" \
    >"$work/$name.out" 2>&1
  local status=$?
  [[ $status -eq 124 ]] && fail "$name" "the match did not end within 150 seconds"
  check "$name"
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
    grep -vE 'unknown command\): (result|random|ping|draw|usermove)$')
  [[ -z $unknown ]] || fail "$name" "unknown commands: $(head -3 <<<"$unknown" | tr '\n' ' ')"
  if grep -qiE 'exited unexpectedly|program.*(died|exited|terminated)' "$debug" "$work/$name.out"; then
    fail "$name" "a program ended during the match"
  fi
  echo "$name: $(grep -E '^\[(White|Black|Result) ' "$pgn" | sed -E 's/^\[[A-Za-z]+ "(.*)"\]/\1/' |
    paste -d ' ' - - - | sed -E 's/ v[0-9][^ ]*//' | paste -sd ';' -)"
}

# UCI through polyglot: besides the checks above, Talvek never refused a move polyglot sent.
play_uci() {
  local name=$1 ponder=$2
  play "$name" "$ponder" -fUCI \
    -adapterCommand "polyglot -noini -log true -lf \"$work/$name.polyglot\" -ec \"%fcp\" -ed \"%fd\""
  if grep -E 'Engine->Adapter: *Illegal move' "$work/$name.polyglot" >/dev/null 2>&1; then
    fail "$name" "$(grep -m1 -E 'Engine->Adapter: *Illegal move' "$work/$name.polyglot")"
  fi
}

play xboard false
play_uci uci false
# With pondering on, lines the GUI sends while Talvek ponders (its move, time, new game) meet
# a running search.
play xboard-ponder true
play_uci uci-ponder true
# Talvek must have pondered: a ponder move sent to xboard, a "go ponder" from polyglot.
grep -qE '<first *: *Hint: ' "$work/xboard-ponder.debug" || fail xboard-ponder "Talvek never pondered"
grep -qE 'Adapter->Engine: *go .*ponder' "$work/uci-ponder.polyglot" || fail uci-ponder "Talvek never pondered"

if [[ $failures -gt 0 ]]; then
  echo "gui: $failures failure(s)"
  exit 1
fi
echo "gui: 8 games played, all ended with a result"
