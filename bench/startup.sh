#!/usr/bin/env bash
# Time from start to the first prompt: the engine is started in an empty directory with "quit"
# as its only input, so each run is start-up, one prompt and the exit. Prints the mean and the
# fastest of the runs in seconds. Usage: bench/startup.sh [path-to-talvek] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
binary=$(realpath "${1:-build/talvek}")
runs=${2:-20}
dir=$(mktemp -d)
times=$(mktemp)
trap 'rm -rf "$dir" "$times"' EXIT

# One start: prints "1 nanoseconds" and keeps the time for the mean.
startOnce() {
  local start end
  start=$(date +%s%N)
  (cd "$dir" && printf 'quit\n' | "$binary" >/dev/null)
  end=$(date +%s%N)
  echo "1 $((end - start))" | tee -a "$times"
}

read -r _ best < <(best_of_runs "$runs" startOnce)
awk -v best="$best" -v runs="$runs" '{ total += $2 } END {
  printf "start-up to first prompt: mean %.4f s, fastest %.4f s over %d runs (no talvek.ini)\n",
         total / runs / 1e9, best / 1e9, runs }' "$times"
