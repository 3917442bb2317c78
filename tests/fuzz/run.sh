#!/usr/bin/env bash
# Builds the fuzz targets (clang with libFuzzer) and runs each for a number of seconds, two at a
# time, at the lowest priority. New inputs go to a work folder; the seed corpus in the
# repository is only read. A finding leaves its input in the work folder and fails the run.
#   tests/fuzz/run.sh [seconds per target, default 60] [target ...]
# Targets: fen console xboard uci settings epd table index book (default: all).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fen console xboard uci settings epd table index book)

cxx=$(command -v clang++-14 || command -v clang++ || true)
if [[ -z $cxx ]] || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
     "$cxx" -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  echo "fuzz: clang with libFuzzer not found; fuzz targets skipped"
  exit 0
fi

build=${TALVEK_FUZZ_BUILD:-build-fuzz}
# Absolute: an input that fails stops in the harness's scratch folder, where its file is written.
work=$(realpath -m "${TALVEK_FUZZ_WORK:-$build/work}")
lock=()  # TALVEK_BUILD_LOCK=file: the build waits for the lock on file (shared machines)
[[ -n ${TALVEK_BUILD_LOCK:-} ]] && lock=(flock "$TALVEK_BUILD_LOCK")
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTALVEK_FUZZ=ON -DTALVEK_TESTS=OFF -DTALVEK_WERROR=ON >/dev/null
${lock[@]+"${lock[@]}"} cmake --build "$build" -j 2 >/dev/null

run() {
  local name=$1 corpus=$work/$1
  mkdir -p "$corpus"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 nice -n 19 \
       "$build/tests/fuzz/fuzz_$name" "$corpus" "tests/fuzz/corpus/$name" -max_total_time="$seconds" \
       -timeout=30 -rss_limit_mb=3000 -max_len=4096 -artifact_prefix="$corpus-" -print_final_stats=1 \
       </dev/null >"$work/$name.log" 2>&1; then
    echo "fuzz_$name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/$name.log" | grep -o '[0-9]*$') runs in ${seconds} s, no finding"
  else
    echo "fuzz_$name: FINDING, see $work/$name.log and $work/$name-*"
    return 1
  fi
}

mkdir -p "$work"
status=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  run "${targets[i]}" & first=$!
  second=
  if ((i + 1 < ${#targets[@]})); then run "${targets[i + 1]}" & second=$!; fi
  wait $first || status=1
  if [[ -n $second ]]; then wait $second || status=1; fi
done
exit $status
