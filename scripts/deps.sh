#!/usr/bin/env bash
# Installs what the native build, the Windows cross build, the device build
# and the tests need on a Debian machine ("deps.sh coverage": and what the
# coverage report needs). Safe to run again: it only calls apt when something
# is missing.  The Windows CE toolchain comes from scripts/ce-toolchain.sh;
# where it cannot be had, the device build is skipped (and the test run says
# so), except on CI, where that is a failure.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
updated=no
update() {
  [ "$updated" = yes ] && return 0
  $SUDO apt-get update -q >/dev/null
  updated=yes
}

# The clang of this Debian release (the version its "clang" package depends
# on), so that its sanitizer runtime and llvm tools are of the same version.
clang_version() {
  apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1
}
llvm=$(clang_version)
if [ -z "$llvm" ]; then
  update
  llvm=$(clang_version)
fi
[ -n "$llvm" ] || { echo "deps: apt knows no clang package here" >&2; exit 1; }

PACKAGES=(
  cmake ninja-build g++ make pkg-config
  zlib1g-dev libgtest-dev libcli11-dev libtomlplusplus-dev nlohmann-json3-dev libmspack-dev
  clang "clang-$llvm" "libclang-rt-$llvm-dev" "llvm-$llvm"
  mingw-w64 libz-mingw-w64-dev
  wine wine64 xvfb xauth fonts-wine fonts-dejavu-extra
  gcab imagemagick python3 xdotool help2man
  osslsigncode openssl
  binutils-source
  libunicorn-dev   # the CPU emulator that runs the device build's ARM code (tests/device/arm)
)
# scripts/coverage.sh also reads clang's profiles (llvm-profdata, llvm-cov);
# mingw-w64's gcov comes with mingw-w64 above.
if [ "${1:-}" = coverage ]; then
  PACKAGES+=("llvm-$llvm")
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -ne 0 ]; then
  echo "deps: installing ${missing[*]}" >&2
  update
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

status=0
"$(dirname "$0")/ce-toolchain.sh" || status=$?
if [ $status -eq 2 ] && [ "${CI:-}" != true ]; then
  echo "deps: the device build will be skipped (no Windows CE toolchain; see scripts/ce-toolchain.sh)" >&2
elif [ $status -ne 0 ]; then
  echo "deps: the Windows CE toolchain could not be installed" >&2
  exit 1
fi
