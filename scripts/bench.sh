#!/usr/bin/env bash
# Prints the speed ratios of the package code (an optimised build without
# sanitizers, separate from the test build) and, when the Windows CE
# toolchain is installed, the device build's instructions per unpacked byte
# under the CPU emulator (tests/device/arm); then what the device program
# weighs and what takes the space.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_WINDOWS=OFF >/dev/null
cmake --build build-bench -j2 --target velkor_bench >/dev/null
build-bench/bench/velkor_bench

# What the device program weighs: its x86-64 stand-in from a cross build.
cmake -S . -B build-bench/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench/win -j2 --target setup_device_x64 empty_program_x64 >/dev/null
echo
python3 tests/device/stub_size.py build-bench/win/bin/setup_device_x64.exe build-bench/win/bin/setup_device_x64.map \
        build-bench/win/bin/empty_program_x64.exe
