#!/usr/bin/env bash
# What Nalimov tables cost and give: the time `nalimovpath <folder>` takes in a fresh engine
# (the median of RUNS runs, default 5, less that of a start-up without it), then nodes, time and
# nodes per second of `go depth DEPTH` under UCI on four- and five-man positions with the tables
# and without. Figures are printed, never asserted. A folder of every three- and four-man table
# made by the tests' solver is written by
#   build/talvek_slow_tests --gtest_also_run_disabled_tests --gtest_filter='*WritesEvery*'
# Usage: [SET=cost] bench/tablebases.sh folder [build-dir] [depth]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
folder=$(realpath "$1")
build=${2:-build}
depth=${3:-14}
[ -x "$build/talvek" ] || build_target "$build" talvek
build=$(realpath "$build")
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # no talvek.ini here

# Milliseconds of one run of the engine on the console commands given.
runMs() {
  local start end
  start=$(date +%s%N)
  printf '%s\nquit\n' "$@" | "$build/talvek" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

if [[ ${SET:-} != cost ]]; then
files=$(find "$folder" -maxdepth 1 -name '*.nb[wb]*' | wc -l)
bytes=$(find "$folder" -maxdepth 1 -name '*.nb[wb]*' -printf '%s\n' | awk '{ s += $1 } END { print s }')
with=$(for ((i = 0; i < runs; i++)); do runMs "nalimovpath $folder"; done | median)
without=$(for ((i = 0; i < runs; i++)); do runMs "hash 16"; done | median)
echo "registration of $files files ($((bytes / 1048576)) MB): $((with - without)) ms (median of $runs runs: $with ms against $without ms for a start-up alone)"
# What registration printed (start-up registers the default path first: its line is dropped).
printf 'nalimovpath %s\nquit\n' "$folder" | "$build/talvek" 2>&1 | sed 's/^Talvek[^>]*> //' |
  grep -E 'Nalimov|\*\*\*' | tail -n +2 | sed 's/^/  /'
fi

# Searches fen to the depth under UCI with the tables (path given) or without; prints the last
# line that reports nodes and time.
search() {
  local path=$1 fen=$2 line last=
  coproc UCI { "$build/talvek" 2>/dev/null; }
  printf 'uci\nsetoption name NalimovPath value %s\nisready\n' "$path" >&"${UCI[1]}"
  while read -r line <&"${UCI[0]}"; do [[ $line == readyok* ]] && break; done
  printf 'position fen %s\ngo depth %s\n' "$fen" "$depth" >&"${UCI[1]}"
  while read -r line <&"${UCI[0]}"; do
    [[ $line == bestmove* ]] && break
    [[ $line =~ \ nodes\ [0-9]+ ]] && [[ $line =~ \ time\ [0-9]+ ]] && last=$line
  done
  echo quit >&"${UCI[1]}"
  wait "$UCI_PID" || true
  local nodes time score
  nodes=$(sed -n 's/.* nodes \([0-9]*\).*/\1/p' <<<"$last")
  time=$(sed -n 's/.* time \([0-9]*\).*/\1/p' <<<"$last")
  score=$(sed -n 's/.* score \([a-z]* -*[0-9]*\).*/\1/p' <<<"$last")
  printf '%12s nodes %7s ms %9s nodes/s  %s' "$nodes" "$time" "$((nodes * 1000 / (time > 0 ? time : 1)))" "$score"
}

# SET=cost: what the tables cost a search that is not in them yet, ten five- and six-man positions
# whose captures and promotions lead into the tables, with the totals of time and nodes.
if [[ ${SET:-} == cost ]]; then
  positions=(
    "8/8/3kn3/8/3r4/8/8/3QK3 w - - 0 1"
    "8/8/4k3/8/8/4P3/r7/4K2R w - - 0 1"
    "8/4k3/8/2p5/8/2P1P3/8/4K3 w - - 0 1"
    "8/8/4k3/8/2r5/8/3B4/4K2R w - - 0 1"
    "8/5k2/5p2/8/3R4/3P4/5r2/3K4 w - - 0 1"
    "8/8/3k4/5n2/8/3BP3/8/4K3 w - - 0 1"
    "8/2k5/8/3q4/8/3P4/3Q4/4K3 w - - 0 1"
    "8/3k4/2n5/8/4r3/8/2N1R3/4K3 w - - 0 1"
    "8/5k2/8/4b3/8/2P1P3/3N4/4K3 w - - 0 1"
    "8/2p1k3/5p2/8/8/2P2P2/4K3/8 w - - 0 1"
  )
  declare -A sum=([wn]=0 [wt]=0 [on]=0 [ot]=0)
  echo "go depth $depth:"
  for fen in "${positions[@]}"; do
    with=$(search "$folder" "$fen")
    without=$(search "$work/none" "$fen")
    printf '  %s\n    with:    %s\n    without: %s\n' "$fen" "$with" "$without"
    read -r n _ t _ <<<"$with"
    sum[wn]=$((sum[wn] + n)) sum[wt]=$((sum[wt] + t))
    read -r n _ t _ <<<"$without"
    sum[on]=$((sum[on] + n)) sum[ot]=$((sum[ot] + t))
  done
  echo "total with:    ${sum[wn]} nodes ${sum[wt]} ms $((sum[wn] * 1000 / (sum[wt] > 0 ? sum[wt] : 1))) nodes/s"
  echo "total without: ${sum[on]} nodes ${sum[ot]} ms $((sum[on] * 1000 / (sum[ot] > 0 ? sum[ot] : 1))) nodes/s"
  exit 0
fi

# Four-man positions whose own table is in the folder, then five-man positions whose captures
# and promotions lead into it.
positions=(
  "8/8/8/3k4/8/3n4/8/R3K3 w - - 0 1"
  "8/8/1k6/8/8/8/2r5/K2Q4 w - - 0 1"
  "8/8/8/2k5/8/8/2PP4/4K3 w - - 0 1"
  "8/8/4k3/8/8/4P3/r7/4K2R w - - 0 1"
  "8/8/3kn3/8/3r4/8/8/3QK3 w - - 0 1"
  "8/4k3/8/2p5/8/2P1P3/8/4K3 w - - 0 1"
)
echo "go depth $depth:"
for fen in "${positions[@]}"; do
  echo "  $fen"
  echo "    with:    $(search "$folder" "$fen")"
  echo "    without: $(search "$work/none" "$fen")"
done
