#!/usr/bin/env bash
# Search speed: nodes per second of `talvek bench` next to those of Toga II and Glaurung
# (UCI engines from Debian's toga2 and glaurung packages, when installed) searching the same
# positions to the same depth with a 16 MB table. Each engine runs the whole set three times
# (RUNS in the environment changes that) and its best rate counts, so that a moment of load
# on the machine spoils one run rather than the comparison. Figures are printed, never asserted.
#   bench/search.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build=${1:-build}
[ -x "$build/talvek" ] || build_target "$build" talvek

runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One run of talvek bench: prints "nodes ms" and keeps the output for the positions and depth.
benchOnce() {
  "$build/talvek" bench >"$work/talvek.txt"
  echo "$(sed -n 's/^total nodes: //p' "$work/talvek.txt") \
$(sed -n 's/^total time: \([0-9]*\) ms$/\1/p' "$work/talvek.txt")"
}

best_of_runs "$runs" benchOnce >"$work/talvek.best"
depth=$(sed -n 's/^bench: .* depth \([0-9]*\)$/\1/p' "$work/talvek.txt")
sed -n 's/^ *[0-9]* *[0-9]* nodes .* nps  //p' "$work/talvek.txt" >"$work/fens.txt"
read -r talvekNodes talvekMs <"$work/talvek.best"

# Searches every position with a UCI engine; prints total nodes and milliseconds, taken from
# the last info line of each search that reports both.
searchWith() {
  local engine=$1 line nodes ms totalNodes=0 totalMs=0
  coproc UCI { "$engine" 2>/dev/null; }
  echo uci >&"${UCI[1]}"
  while read -r line <&"${UCI[0]}"; do [[ $line == uciok* ]] && break; done
  # One thread, no opening book, a 16 MB table: the same conditions as talvek bench.
  printf 'setoption name %s\n' "Hash value 16" "Threads value 1" "Number of Threads value 1" \
    "OwnBook value false" >&"${UCI[1]}"
  while read -r fen; do
    printf 'ucinewgame\nisready\n' >&"${UCI[1]}"
    while read -r line <&"${UCI[0]}"; do [[ $line == readyok* ]] && break; done
    printf 'position fen %s\ngo depth %s\n' "$fen" "$depth" >&"${UCI[1]}"
    nodes=0 ms=0
    while read -r line <&"${UCI[0]}"; do
      [[ $line == bestmove* ]] && break
      if [[ $line =~ \ nodes\ ([0-9]+) ]] && [[ $line =~ \ time\ ([0-9]+) ]]; then
        ms=${BASH_REMATCH[1]}
        [[ $line =~ \ nodes\ ([0-9]+) ]] && nodes=${BASH_REMATCH[1]}
      fi
    done
    totalNodes=$((totalNodes + nodes))
    totalMs=$((totalMs + ms))
  done <"$work/fens.txt"
  echo quit >&"${UCI[1]}"
  wait "$UCI_PID" 2>/dev/null || true
  echo "$totalNodes $totalMs"
}

rate() { echo $(($1 * 1000 / ($2 > 0 ? $2 : 1))); }

positions=$(wc -l <"$work/fens.txt")
echo "search speed: $positions positions, depth $depth, 16 MB table, best of $runs runs each"
printf '%-10s %12s %10s %12s\n' engine nodes ms nodes/s
talvekRate=$(rate "$talvekNodes" "$talvekMs")
printf '%-10s %12s %10s %12s\n' talvek "$talvekNodes" "$talvekMs" "$talvekRate"
for engine in toga2 glaurung; do
  path=/usr/games/$engine
  if [ ! -x "$path" ]; then
    printf '%-10s %s\n' "$engine" "not installed (apt-get install $engine)"
    continue
  fi
  read -r nodes ms < <(best_of_runs "$runs" searchWith "$path")
  r=$(rate "$nodes" "$ms")
  printf '%-10s %12s %10s %12s   talvek/%s = %s\n' "$engine" "$nodes" "$ms" "$r" "$engine" \
    "$(awk -v a="$talvekRate" -v b="$r" 'BEGIN { printf("%.2f", (b > 0) ? a / b : 0) }')"
done
