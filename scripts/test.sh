#!/usr/bin/env bash
# Builds everything (native with ASan/UBSan, and the Windows programs with
# mingw-w64) and runs every test: unit tests, short fuzz runs and the Wine
# end-to-end tests on a private virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD=${VELKOR_BUILD:-build}
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DVELKOR_SANITIZE=ON -DVELKOR_WINDOWS=ON >/dev/null
cmake --build "$BUILD" -j2
cd "$BUILD"
exec ctest --output-on-failure -j2 "$@"
