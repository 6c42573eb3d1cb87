#!/usr/bin/env bash
# Installs the Windows CE ARM toolchain (arm-mingw32ce: binutils, GCC 4.4
# with its CE port, the mingw CE runtime, the w32api CE headers and import
# libraries, and zlib for the device) that builds the device program.
#
#   scripts/ce-toolchain.sh [--check]
#
# Where it goes: $MINGW32CE_PREFIX, default /opt/mingw32ce.  Nothing is done
# when the compiler is already there.  Otherwise, in this order:
#   1. the packed toolchain, $CE_TOOLCHAIN_TARBALL or
#      ../shared/ce-toolchain/arm-mingw32ce.tar.xz beside the checkout;
#   2. a build from the CeGCC sources (scripts/build-ce-toolchain.sh):
#      $CEGCC_SRC (a tarball holding cegcc/src/...), else
#      ../shared/ce-toolchain/cegcc-src.tar.xz, else $CEGCC_GIT (a clone of
#      the public CeGCC tree).
# --check only says whether the toolchain is installed (exit 0) or not (1).
# Exit 2: neither the packed toolchain nor any sources were found.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PREFIX=${MINGW32CE_PREFIX:-/opt/mingw32ce}
SHARED=${VELKOR_SHARED:-$ROOT/../shared}/ce-toolchain
COMPILER=$PREFIX/bin/arm-mingw32ce-g++

installed() { [ -x "$COMPILER" ] && [ -e "$PREFIX/arm-mingw32ce/lib/libcoredll.a" ]; }

if [ "${1:-}" = --check ]; then
  installed
  exit
fi
if installed; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

tarball=${CE_TOOLCHAIN_TARBALL:-$SHARED/arm-mingw32ce.tar.xz}
if [ -f "$tarball" ]; then
  echo "ce-toolchain: unpacking $tarball into $PREFIX" >&2
  # The tarball holds one folder, mingw32ce/; it is relocatable, so it may
  # land under any name.
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  tar xJf "$tarball" -C "$tmp"
  $SUDO mkdir -p "$(dirname "$PREFIX")"
  $SUDO rm -rf "$PREFIX"
  $SUDO mv "$tmp/mingw32ce" "$PREFIX"
  installed || { echo "ce-toolchain: $tarball did not hold an arm-mingw32ce toolchain" >&2; exit 1; }
  exit 0
fi

if [ -n "${CEGCC_SRC:-}" ] || [ -f "$SHARED/cegcc-src.tar.xz" ] || [ -n "${CEGCC_GIT:-}" ]; then
  exec "$ROOT/scripts/build-ce-toolchain.sh" "$PREFIX"
fi

echo "ce-toolchain: no packed toolchain ($tarball) and no CeGCC sources" \
     "(set CEGCC_SRC to a source tarball or CEGCC_GIT to a clone)" >&2
exit 2
