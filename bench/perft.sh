#!/usr/bin/env bash
# Move-generator speed: Talvek's perft and speed test against Stockfish's "go perft" on the
# same positions, measured in the same run. Each side runs each position three times (RUNS in
# the environment changes that) and its best time counts. Builds nothing; prints figures,
# asserts nothing.
#   bench/perft.sh [path/to/talvek]        (default build/talvek)
set -euo pipefail
cd "$(dirname "$0")/.."
talvek=${1:-build/talvek}
stockfish=$(command -v stockfish || echo /usr/games/stockfish)
[ -x "$talvek" ] || { echo "no talvek binary at $talvek" >&2; exit 1; }
runs=${RUNS:-3}

START="rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
KIWIPETE="r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"

now_ns() { date +%s%N; }

# Stockfish's time for "go perft", its start-up time subtracted; the best of the runs.
stockfish_seconds() {
  local i
  for ((i = 0; i < runs; i++)); do stockfish_once "$@"; done | sort -n | head -1
}

stockfish_once() {
  local fen=$1 depth=$2 t0 t1 t2 t3
  t0=$(now_ns); printf 'quit\n' | "$stockfish" >/dev/null 2>&1; t1=$(now_ns)
  t2=$(now_ns)
  printf 'position fen %s\ngo perft %s\nquit\n' "$fen" "$depth" | "$stockfish" 2>&1 |
    grep -q '^Nodes searched'
  t3=$(now_ns)
  echo "scale=3; (($t3 - $t2) - ($t1 - $t0)) / 1000000000" | bc
}

echo "perft speed: best of $runs runs of each side"
printf '%-10s %5s %12s %9s %14s %9s %14s %7s\n' position depth nodes talvek_s talvek_nps \
  sf_s sf_nps ratio
for entry in "start|$START|6" "kiwipete|$KIWIPETE|5"; do
  IFS='|' read -r name fen depth <<<"$entry"
  nps=0
  for ((i = 0; i < runs; i++)); do
    out=$(printf 'setboard %s\nperft %s\nquit\n' "$fen" "$depth" | "$talvek")
    n=$(sed -n 's/.*perft nodes: \([0-9]*\).*/\1/p' <<<"$out")
    s=$(sed -n 's/.*used time: \([0-9.]*\)s.*/\1/p' <<<"$out")
    r=$(sed -n 's/.*nodes\/sec: \([0-9]*\).*/\1/p' <<<"$out")
    if [ "$r" -gt "$nps" ]; then nodes=$n secs=$s nps=$r; fi
  done
  sf=$(stockfish_seconds "$fen" "$depth")
  sfnps=$(echo "$nodes / $sf" | bc)
  ratio=$(echo "scale=3; $nps / $sfnps" | bc)
  printf '%-10s %5s %12s %9s %14s %9s %14s %7s\n' "$name" "$depth" "$nodes" "$secs" "$nps" \
    "$sf" "$sfnps" "$ratio"
done

echo
echo "speed test (32,000,000 rounds per figure):"
printf 'speedtest\nquit\n' | "$talvek" | grep -E '^(used time|genMoves|make/unmake)' |
  sed 's/^/  /'
