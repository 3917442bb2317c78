# shellcheck shell=bash
# Helpers shared by the bench scripts, which source this file from the top of the tree.

# Runs a measuring command `count` times and prints the line of the fastest run. Each run prints
# one line "work time [anything]"; the fastest does the most work per unit of time, so that a
# moment of load on the machine spoils one run rather than the figure.
#   best_of_runs count command [arguments]
best_of_runs() {
  local count=$1 i
  shift
  for ((i = 0; i < count; i++)); do "$@"; done |
    awk '{ rate = $1 / ($2 > 0 ? $2 : 1e-9) } best == "" || rate > bestRate { bestRate = rate; best = $0 }
         END { print best }'
}

# Builds a target in a build folder. A folder that has never been configured is configured for a
# release build; one configured otherwise is used as it is.
#   build_target build-folder target
build_target() {
  [ -f "$1/CMakeCache.txt" ] || cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$1" --target "$2" >/dev/null
}
