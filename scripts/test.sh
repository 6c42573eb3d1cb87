#!/usr/bin/env bash
# Builds everything (native with ASan/UBSan, the Windows programs with
# mingw-w64, and the ARM device program with the Windows CE toolchain) and
# runs every test: unit tests, short fuzz runs and the Wine
# end-to-end tests on a private virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD=${VELKOR_BUILD:-build}
# CI always has the Windows CE toolchain: there a device build that could
# not run is a failure, not a skip.
require_device=OFF
if [ "${CI:-}" = true ]; then require_device=ON; fi
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DVELKOR_SANITIZE=ON -DVELKOR_WINDOWS=ON \
      -DVELKOR_REQUIRE_DEVICE=$require_device >/dev/null
cmake --build "$BUILD" -j2
if ! scripts/ce-toolchain.sh --check; then
  echo "The device build was skipped: there is no Windows CE toolchain. Run scripts/ce-toolchain.sh" \
       "(it needs ../shared/ce-toolchain or the CeGCC sources), then this again."
fi
cd "$BUILD"
exec ctest --output-on-failure -j2 "$@"
