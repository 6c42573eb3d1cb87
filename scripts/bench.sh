#!/usr/bin/env bash
# Prints the speed ratios of the package code (an optimised build without
# sanitizers, separate from the test build) and, when the Windows CE
# toolchain is installed, the device build's instructions per unpacked byte
# under the CPU emulator (tests/device/arm); then what the device program
# weighs (the ARM setup.exe) and what takes the space.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_WINDOWS=OFF >/dev/null
cmake --build build-bench -j2 --target velkor_bench >/dev/null
build-bench/bench/velkor_bench

# What the device program weighs: the ARM setup.exe from the device build,
# and what takes the space, from its link map.
if [ -d build-bench/device-prefix ]; then
  cmake --build build-bench -j2 --target device >/dev/null
  echo
  echo "The device program (ARM setup.exe, stripped):"
  python3 tests/device/check_arm.py size build-bench/device/shell/setup.exe build-bench/device/setup.map
else
  echo
  echo "The device program was not weighed: no Windows CE toolchain (scripts/ce-toolchain.sh installs it)."
fi
