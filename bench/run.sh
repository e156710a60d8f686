#!/usr/bin/env bash
# Builds varnel and the benchmark in Release (build/bench) and runs the benchmark.
# VARNEL_BENCH_DIR, VARNEL_BENCH_RUNS and VARNEL_BENCH_HUGE=1 are described in bench/main.cpp.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench
cmake --build --preset bench -j 2 --target run-bench
