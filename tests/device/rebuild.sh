#!/usr/bin/env bash
# rebuild.sh CMAKE TOOLCHAIN_PREFIX BUILT_SETUP_EXE -- builds the device
# program again from a copy of the source tree in other folders and
# compares the result with the one the build made: the same tree must give
# the same bytes wherever it is built.
set -euo pipefail
cmake=$1
prefix=$2
built=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-rebuild.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir "$work/source"
tar -C "$root" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/source" -xf -
"$cmake" -S "$work/source" -B "$work/other-build" -DCMAKE_TOOLCHAIN_FILE="$work/source/cmake/arm-mingw32ce.cmake" \
         -DMINGW32CE_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=MinSizeRel >"$work/configure.log" 2>&1 \
  || { cat "$work/configure.log"; exit 1; }
"$cmake" --build "$work/other-build" --target setup >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
again=$work/other-build/shell/setup.exe
if ! cmp "$built" "$again"; then
  echo "a second build in other folders gave other bytes:"
  cmp -l "$built" "$again" | head -20
  exit 1
fi
echo "built again in other folders: the same $(stat -c %s "$again") bytes"
