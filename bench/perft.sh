#!/usr/bin/env bash
# Move-generator speed: Talvek's perft and speed test against Stockfish's "go perft" on the
# same positions, measured in the same run. Each side runs each position three times (RUNS in
# the environment changes that) and its best time counts. Builds nothing; prints figures,
# asserts nothing.
#   bench/perft.sh [path/to/talvek]        (default build/talvek)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
talvek=${1:-build/talvek}
stockfish=$(command -v stockfish || echo /usr/games/stockfish)
[ -x "$talvek" ] || { echo "no talvek binary at $talvek" >&2; exit 1; }
runs=${RUNS:-3}

START="rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
KIWIPETE="r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"

now_ns() { date +%s%N; }

# Talvek's perft: prints "nodes seconds nodes-per-second" as Talvek reports them.
talvek_once() {
  local out
  out=$(printf 'setboard %s\nperft %s\nquit\n' "$1" "$2" | "$talvek")
  echo "$(sed -n 's/.*perft nodes: \([0-9]*\).*/\1/p' <<<"$out") \
$(sed -n 's/.*used time: \([0-9.]*\)s.*/\1/p' <<<"$out") $(sed -n 's/.*nodes\/sec: \([0-9]*\).*/\1/p' <<<"$out")"
}

# Stockfish's "go perft": prints "nodes seconds", its start-up time subtracted.
stockfish_once() {
  local fen=$1 depth=$2 t0 t1 t2 t3 nodes
  t0=$(now_ns); printf 'quit\n' | "$stockfish" >/dev/null 2>&1; t1=$(now_ns)
  t2=$(now_ns)
  nodes=$(printf 'position fen %s\ngo perft %s\nquit\n' "$fen" "$depth" | "$stockfish" 2>&1 |
    sed -n 's/^Nodes searched: \([0-9]*\).*/\1/p')
  t3=$(now_ns)
  echo "$nodes $(echo "scale=3; (($t3 - $t2) - ($t1 - $t0)) / 1000000000" | bc)"
}

echo "perft speed: best of $runs runs of each side"
printf '%-10s %5s %12s %9s %14s %9s %14s %7s\n' position depth nodes talvek_s talvek_nps \
  sf_s sf_nps ratio
for entry in "start|$START|6" "kiwipete|$KIWIPETE|5"; do
  IFS='|' read -r name fen depth <<<"$entry"
  read -r nodes secs nps < <(best_of_runs "$runs" talvek_once "$fen" "$depth")
  read -r _ sf < <(best_of_runs "$runs" stockfish_once "$fen" "$depth")
  sfnps=$(echo "$nodes / $sf" | bc)
  ratio=$(echo "scale=3; $nps / $sfnps" | bc)
  printf '%-10s %5s %12s %9s %14s %9s %14s %7s\n' "$name" "$depth" "$nodes" "$secs" "$nps" \
    "$sf" "$sfnps" "$ratio"
done

echo
echo "speed test (32,000,000 rounds per figure):"
printf 'speedtest\nquit\n' | "$talvek" | grep -E '^(used time|genMoves|make/unmake)' |
  sed 's/^/  /'
