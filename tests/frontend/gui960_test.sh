#!/usr/bin/env bash
# Talvek in Chess960 under a real xboard (headless, in Xvfb) with "-variant fischerandom",
# against Stockfish (a UCI engine, through polyglot, which sets its UCI_Chess960): a match in
# xboard mode and one in UCI mode through polyglot, both engines at depth 3. Each match has two
# games: one from a Chess960 start position, Talvek white, and one from a position in which
# Talvek, black, mates by castling with a king that stays on g8 (the only mate). From the saved
# games and the logs it checks that every game ended with a result, with no illegal move, time
# forfeit or crash, that Talvek never answered "Illegal move" nor called a command unknown
# (except random, draw and usermove, which it does not support), and that Talvek castled.
# OPPONENT names another UCI engine (default stockfish).
# Usage: tests/frontend/gui960_test.sh <talvek binary>. Exits 77 (skipped) when a tool is missing.
set -u
PATH=$PATH:/usr/games
binary=$(realpath "${1:?usage: gui960_test.sh <talvek binary>}")
opponent=${OPPONENT:-stockfish}
for tool in xboard xvfb-run "$opponent" polyglot; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed"
    exit 77
  fi
done
opponent=$(command -v "$opponent")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL ($1): $2"
  failures=$((failures + 1))
}

# Game 1: start position 2 of the Chess960 numbering (BQNBRNKR, black alike); game 2: black
# castles into mate (Talvek plays black in the second game of a match).
cat >"$work/positions.fen" <<'FEN'
bqnbrnkr/pppppppp/8/8/8/8/PPPPPPPP/BQNBRNKR w HEhe - 0 1
6kr/8/8/8/8/8/4P1P1/4RKR1 b h - 0 1
FEN

# match <name> [xboard options for Talvek...]: two games, Talvek first, into $work/<name>.*.
match() {
  local name=$1
  shift
  mkdir -p "$work/$name/second"
  timeout 150 xvfb-run -a xboard -noGUI -matchMode true -matchGames 2 -variant fischerandom \
    -loadPositionFile "$work/positions.fen" -loadPositionIndex -1 \
    -fcp "$binary" -fd "$work/$name" "$@" \
    -scp "$opponent" -sd "$work/$name/second" -sUCI \
    -adapterCommand "polyglot -noini -log true -lf \"%fd/polyglot.log\" -ec \"%fcp\" -ed \"%fd\"" \
    -searchDepth 3 -tc 0:30 -inc 1 -adjudicateDrawMoves 60 -ponderNextMove false \
    -sgf "$work/$name.pgn" -debugMode true -nameOfDebugFile "$work/$name.debug" \
    -popupExitMessage false -saveSettingsOnExit false -settingsFile /dev/null \
    >"$work/$name.out" 2>&1
  [[ $? -eq 124 ]] && fail "$name" "the match did not end within 150 seconds"
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
  grep -q '^\[Variant "fischerandom"\]' "$pgn" || fail "$name" "the games were not played as fischerandom"
  local endings
  endings=$(grep -oE '\{[^}]*\} *(1-0|0-1|1/2-1/2|\*) *$' "$pgn")
  if grep -qiE 'time|illegal|exit|crash|disconnect|false|abort' <<<"$endings"; then
    fail "$name" "a game ended badly: $(tr '\n' ' ' <<<"$endings")"
  fi
  local illegal
  illegal=$(grep -hE '<first *: *Illegal move|Engine->Adapter: *Illegal move' "$debug" "$work/$name/polyglot.log" 2>/dev/null)
  [[ -z $illegal ]] || fail "$name" "Talvek refused moves: $(head -3 <<<"$illegal" | tr '\n' ' ')"
  local unknown
  unknown=$(grep -E '<first *: *Error \(unknown command\)' "$debug" |
    grep -vE 'unknown command\): (random|draw|usermove)$')
  [[ -z $unknown ]] || fail "$name" "unknown commands: $(head -3 <<<"$unknown" | tr '\n' ' ')"
  if grep -qiE 'exited unexpectedly|program.*(died|exited|terminated)' "$debug" "$work/$name.out"; then
    fail "$name" "a program ended during the match"
  fi
  # The second game: Talvek, black, castles and mates.
  local second
  second=$(awk '/^\[Event /{n++} n==2' "$pgn")
  grep -q '^\[Black "Talvek' <<<"$second" || fail "$name" "Talvek is not black in the second game"
  grep -qE '(^|[ .])O-O[+#]?( |$)' <<<"$second" || fail "$name" "Talvek did not castle: $(grep -vE '^\[' <<<"$second" | tr '\n' ' ')"
  grep -q '^\[Result "0-1"\]' <<<"$second" || fail "$name" "Talvek did not mate by castling"
  echo "$name: $(grep -E '^\[(White|Black|Result) ' "$pgn" | sed -E 's/^\[[A-Za-z]+ "(.*)"\]/\1/' |
    paste -d ' ' - - - | sed -E 's/ v[0-9][^ ]*//' | paste -sd ';' -)"
}

started=$(date +%s)
match xboard
match uci -fUCI

if [[ $failures -gt 0 ]]; then
  echo "gui960: $failures failure(s)"
  exit 1
fi
echo "gui960: 4 Chess960 games played, all ended with a result; Talvek castled in both modes ($(($(date +%s) - started)) s)"
