#!/usr/bin/env bash
# Evaluation speed over the EPD suite positions (cache off and on) and the KPK build time.
# Builds the engine's core library in build/ if needed, compiles bench/eval_bench.cpp against
# it and runs it. Usage: bench/eval.sh [calls-per-position]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target talvek_core >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
c++ -std=c++20 -O3 -DNDEBUG -I. bench/eval_bench.cpp build/libtalvek_core.a -ldl -o "$out"
"$out" tests/data "${1:-20000}"
