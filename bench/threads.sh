#!/usr/bin/env bash
# Speed of the search on two threads against one, on the positions of `talvek bench`: nodes per
# second at 2 threads over 1 thread, and how much sooner the 2-thread search reaches the same
# depth (total time at 1 thread over total time at 2). Each setting runs RUNS times (default 3)
# and its best run counts, so that a moment of load on the machine spoils one run rather than the
# comparison. Run it with nothing else busy on the machine. Figures are printed, never asserted.
#   bench/threads.sh [build-dir] [threads]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build=${1:-build}
threads=${2:-2}
[ -x "$build/talvek" ] || build_target "$build" talvek
runs=${RUNS:-3}

# One run of talvek bench on n threads: prints "nodes ms".
benchOnce() {
  "$build/talvek" bench "$1" | awk '/^total nodes:/ { n = $3 } /^total time:/ { t = $3 } END { print n, t }'
}

# The fastest run by time: the depth is fixed, so the shortest run reached it soonest.
fastest() {
  local i
  for ((i = 0; i < runs; i++)); do benchOnce "$1"; done | sort -k2,2n | head -1
}

read -r oneNodes oneMs < <(fastest 1)
read -r manyNodes manyMs < <(fastest "$threads")
awk -v n1="$oneNodes" -v t1="$oneMs" -v n2="$manyNodes" -v t2="$manyMs" -v k="$threads" 'BEGIN {
  nps1 = n1 * 1000 / t1; nps2 = n2 * 1000 / t2
  printf "1 thread : %11d nodes %7d ms %9d nps\n", n1, t1, nps1
  printf "%d threads: %11d nodes %7d ms %9d nps\n", k, n2, t2, nps2
  printf "nodes per second, %d threads over 1: %.2fx\n", k, nps2 / nps1
  printf "time to the same depth, 1 thread over %d: %.2fx\n", k, t1 / t2
}'
