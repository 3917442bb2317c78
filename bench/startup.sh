#!/usr/bin/env bash
# Time from start to the first prompt: the engine is started in an empty directory with "quit"
# as its only input, so each run is start-up, one prompt and the exit. Prints the mean and the
# fastest of the runs in seconds. Usage: bench/startup.sh [path-to-talvek] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/talvek}")
runs=${2:-20}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

total=0
best=""
for ((i = 0; i < runs; i++)); do
  start=$(date +%s%N)
  printf 'quit\n' | "$binary" >/dev/null
  end=$(date +%s%N)
  ns=$((end - start))
  total=$((total + ns))
  if [[ -z "$best" || $ns -lt $best ]]; then best=$ns; fi
done
awk -v total="$total" -v best="$best" -v runs="$runs" 'BEGIN {
  printf "start-up to first prompt: mean %.4f s, fastest %.4f s over %d runs (no talvek.ini)\n",
         total / runs / 1e9, best / 1e9, runs }'
