#!/usr/bin/env bash
# Builds the fuzz targets with clang's source coverage, runs each once over its seed corpus
# (with -w also over the inputs tests/fuzz/run.sh kept, build-fuzz/work/<target>), and prints
# line coverage per source folder, per file of the code that handles input during a search, and
# per game-turn function. Needs llvm-profdata-14 and llvm-cov-14 (Debian's llvm-14).
#   tests/fuzz/coverage.sh [-w] [target ...]
# Targets: fen console xboard uci settings epd table index book (default: all). The build waits for
# the lock on TALVEK_BUILD_LOCK when it is set, as tests/fuzz/run.sh does.
set -euo pipefail
cd "$(dirname "$0")/../.."
work=
if [[ ${1:-} == -w ]]; then
  work=${TALVEK_FUZZ_WORK:-build-fuzz/work}
  shift
fi
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fen console xboard uci settings epd table index book)

cxx=$(command -v clang++-14 || true)
profdata=$(command -v llvm-profdata-14 || true)
cov=$(command -v llvm-cov-14 || true)
if [[ -z $cxx || -z $profdata || -z $cov ]]; then
  echo "coverage: clang++-14, llvm-profdata-14 and llvm-cov-14 are needed (apt-get install clang-14 llvm-14)"
  exit 1
fi

build=${TALVEK_COVERAGE_BUILD:-build-coverage}
lock=()
[[ -n ${TALVEK_BUILD_LOCK:-} ]] && lock=(flock "$TALVEK_BUILD_LOCK")
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVEK_FUZZ=ON \
      -DTALVEK_TESTS=OFF -DTALVEK_WERROR=ON -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
${lock[@]+"${lock[@]}"} cmake --build "$build" -j 2 >/dev/null

profiles=$build/profiles
rm -rf "$profiles"
mkdir -p "$profiles"
objects=()
for name in "${targets[@]}"; do
  corpora=("tests/fuzz/corpus/$name")
  [[ -n $work && -d $work/$name ]] && corpora+=("$work/$name")
  count=$(find "${corpora[@]}" -type f | wc -l)
  if ! LLVM_PROFILE_FILE="$profiles/$name.profraw" ASAN_OPTIONS=detect_leaks=0 nice -n 19 timeout 1800 \
       "$build/tests/fuzz/fuzz_$name" -runs=0 -timeout=30 -rss_limit_mb=3000 "${corpora[@]}" \
       </dev/null >"$profiles/$name.log" 2>&1; then
    echo "fuzz_$name: the corpus run failed, see $profiles/$name.log"
    exit 1
  fi
  echo "fuzz_$name: $count inputs"
  [[ ${#objects[@]} -eq 0 ]] && objects=("$build/tests/fuzz/fuzz_$name") || objects+=(-object "$build/tests/fuzz/fuzz_$name")
done
"$profdata" merge -sparse "$profiles"/*.profraw -o "$profiles/all.profdata"
report() { "$cov" report -instr-profile "$profiles/all.profdata" "${objects[@]}" "$@"; }

# Lines of the engine's own sources (not the harness), summed per folder: the report's columns
# are file, regions, missed, cover, functions, missed, executed, lines, missed lines, ...
echo
echo "line coverage per folder"
report $(for folder in board eval search egdb session frontend; do echo "$PWD/$folder"; done) |
  awk '$1 ~ /\.(cpp|h|inc)$/ { split($1, path, "/"); folder = path[1]; lines[folder] += $8; missed[folder] += $9 }
       END { for (f in lines) printf "  %-10s %6d lines %6.1f%%\n", f, lines[f], 100 * (lines[f] - missed[f]) / lines[f] }' |
  sort

echo
echo "input during a search: files"
for file in frontend/poll.cpp frontend/xboard.cpp frontend/uci.cpp frontend/commands.cpp frontend/turns.cpp; do
  report "$PWD/$file" | awk -v f="$file" '$1 == "TOTAL" { printf "  %-22s %4d lines %6s\n", f, $8, $10 }'
done

echo
echo "input during a search: the poll and the game turns, per function"
for file in frontend/poll.cpp frontend/turns.cpp; do
  report -show-functions "$PWD/$file" |
    awk '$2 ~ /^[0-9]+$/ && $1 != "TOTAL" { sub(/^.*:/, "", $1); printf "  %4d lines %7s  %s\n", $5, $7, $1 }' | c++filt
done
