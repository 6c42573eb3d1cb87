#!/usr/bin/env bash
# Installs what the native build, the Windows cross build and the tests need
# on a Debian machine ("deps.sh coverage": and what the coverage report
# needs). Safe to run again: it only calls apt when something is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ make pkg-config
  zlib1g-dev libgtest-dev libcli11-dev libtomlplusplus-dev
  clang libclang-rt-14-dev
  mingw-w64 libz-mingw-w64-dev
  wine wine64 xvfb xauth fonts-wine fonts-dejavu-extra
  gcab imagemagick python3
  osslsigncode openssl
)
# scripts/coverage.sh also reads clang's profiles (llvm-profdata, llvm-cov);
# mingw-w64's gcov comes with mingw-w64 above.
if [ "${1:-}" = coverage ]; then
  PACKAGES+=(llvm-14)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q >/dev/null
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
