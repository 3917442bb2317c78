#!/usr/bin/env bash
# Evaluation speed over the EPD suite positions (cache off and on) and the start-up tables'
# build time. Builds the eval_bench target in the build folder (configuring a release build only
# where none is configured) and runs it. Usage: bench/eval.sh [calls-per-position] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build=${2:-build}
build_target "$build" eval_bench
"$build/eval_bench" tests/data "${1:-20000}"
