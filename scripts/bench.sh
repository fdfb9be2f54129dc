#!/usr/bin/env bash
# Installs what the benchmarks need (nginx and curl among it), builds them in
# build-bench (Release) and runs one with its arguments, e.g.
#   scripts/bench.sh update_bench --files 200 --total-mib 256
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
    echo "usage: scripts/bench.sh BENCH [ARGUMENTS...]" >&2
    exit 2
fi
scripts/install-deps.sh bench

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDRAVONELLE_TESTS=OFF -DDRAVONELLE_BENCH=ON
cmake --build "$build" -j"$(nproc)"
bench="$1"
shift
if [ -x "$build/bench/$bench" ]; then
    exec "$build/bench/$bench" "$@"
fi
# The scripts among them (soak_bench, wear_bench) run the build's program from here.
exec "bench/$bench" "$@"
