#!/usr/bin/env bash
# Speed of the search on two threads against one, on the positions of `talvek bench` searched to
# each depth of DEPTHS (default "9 10": the signature's depth and one more, since helpers search
# every other depth and one parity alone would flatter or wrong them): nodes per second at 2
# threads over 1 thread, and how much sooner the 2-thread search reaches the same depth (total
# time at 1 thread over total time at 2), per depth and over all. Each setting runs RUNS times
# (default 3) and its best run counts, so that a moment of load on the machine spoils one run
# rather than the comparison. Run it with nothing else busy on the machine. Figures are printed,
# never asserted.
#   [DEPTHS="9 10"] bench/threads.sh [build-dir] [threads]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build=${1:-build}
threads=${2:-2}
[ -x "$build/talvek" ] || build_target "$build" talvek
runs=${RUNS:-3}

# One run of talvek bench on n threads to a depth: prints "nodes ms".
benchOnce() {
  "$build/talvek" bench "$1" "$2" | awk '/^total nodes:/ { n = $3 } /^total time:/ { t = $3 } END { print n, t }'
}

# The fastest run by time: the depth is fixed, so the shortest run reached it soonest.
fastest() {
  local i
  for ((i = 0; i < runs; i++)); do benchOnce "$1" "$2"; done | sort -k2,2n | head -1
}

for depth in ${DEPTHS:-9 10}; do
  read -r oneNodes oneMs < <(fastest 1 "$depth")
  read -r manyNodes manyMs < <(fastest "$threads" "$depth")
  echo "$depth $oneNodes $oneMs $manyNodes $manyMs"
done | awk -v k="$threads" '{
  printf "depth %d:\n", $1
  printf "  1 thread : %11d nodes %7d ms %9d nps\n", $2, $3, $2 * 1000 / $3
  printf "  %d threads: %11d nodes %7d ms %9d nps\n", k, $4, $5, $4 * 1000 / $5
  printf "  nodes per second, %d threads over 1: %.2fx; time to the depth, 1 thread over %d: %.2fx\n",
         k, ($4 / $5) / ($2 / $3), k, $3 / $5
  n1 += $2; t1 += $3; n2 += $4; t2 += $5
} END {
  printf "all depths: nodes per second %.2fx, time to the same depths %.2fx\n", (n2 / t2) / (n1 / t1), t1 / t2
}'
