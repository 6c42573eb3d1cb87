#!/usr/bin/env bash
# Makes the Debian package authors install: a release tree (optimised,
# without sanitizers or tests) holding velkor, the Windows programs and the
# device program, packed by cpack.  Ends with the package's path and the
# sizes of the package and of velkor.
#
#   scripts/package.sh [BUILD_DIR]      default: build-release
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-release}
scripts/deps.sh
scripts/ce-toolchain.sh
# The device program is the stub authors ship: a tree without it makes no package.
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_SANITIZE=OFF \
    -DVELKOR_TESTS=OFF -DVELKOR_WINDOWS=ON -DVELKOR_REQUIRE_DEVICE=ON -DVELKOR_PROGRAMS_FROM= >/dev/null
# Two jobs, in the Windows and device builds inside it as well.
CMAKE_BUILD_PARALLEL_LEVEL=2 cmake --build "$BUILD"
rm -f "$BUILD"/velkor_*.deb
(cd "$BUILD" && cpack >cpack.log) || { tail -n 20 "$BUILD/cpack.log" >&2; exit 1; }
deb=$(ls "$BUILD"/velkor_*.deb)
root=$(mktemp -d "${TMPDIR:-/tmp}/velkor-package.XXXXXX")
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
echo "$deb: $(stat -c %s "$deb") bytes; velkor $(stat -c %s "$root/usr/bin/velkor") bytes"
