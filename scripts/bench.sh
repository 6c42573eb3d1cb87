#!/usr/bin/env bash
# Prints the speed ratios of the package code (an optimised build without
# sanitizers, separate from the test build).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_WINDOWS=OFF >/dev/null
cmake --build build-bench -j2 --target velkor_bench >/dev/null
build-bench/bench/velkor_bench
