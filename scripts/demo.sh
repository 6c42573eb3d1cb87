#!/usr/bin/env bash
# Builds everything, makes the sample package from CABs made with gcab,
# prints what it holds and checks it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD=${VELKOR_BUILD:-build}
OUT=${VELKOR_DEMO_OUT:-$BUILD/demo}
echo "== building (native and Windows)"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DVELKOR_SANITIZE=ON -DVELKOR_WINDOWS=ON >/dev/null
cmake --build "$BUILD" -j2 >/dev/null
VELKOR="$BUILD/tools/velkor/velkor"

echo "== making the sample CABs and package in $OUT"
rm -rf "$OUT"
samples/make-sample-cabs.sh "$OUT"
"$VELKOR" build "$OUT/manifest.toml" --stub "$BUILD/win/bin/setup.exe" -o "$OUT/pocketnotes-setup.exe"

echo "== velkor list"
"$VELKOR" list "$OUT/pocketnotes-setup.exe"
echo "== velkor verify"
"$VELKOR" verify "$OUT/pocketnotes-setup.exe"
