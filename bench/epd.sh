#!/usr/bin/env bash
# Solve rate on the IQ test suite: "epdtest" over tests/data/iq.epd at one second per position
# (about three minutes), each position searched for its whole second. Prints the positions,
# the number solved with the rate, the total nodes and the time used.
# Usage: bench/epd.sh [path-to-talvek] [epd-file] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/talvek}")
suite=$(realpath "${2:-tests/data/iq.epd}")
seconds=${3:-1}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# No thinking lines; 1000 iterations in a row never end a one-second search early. The commands
# come from a command file while standard input stays open and silent: the search reads any
# waiting input line (and would end at the end of input).
printf 'post off\nepdtest %s %d 1000\nquit\n' "$suite" "$seconds" >commands.txt
mkfifo input
"$binary" <input >output.txt &
engine=$!
exec 3>input
echo "fetch commands.txt" >&3
wait "$engine"
exec 3>&-
echo "EPD suite: $suite, $seconds s per position"
grep -E '^(positions|solved|total nodes|time used):' output.txt
