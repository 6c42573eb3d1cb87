#!/usr/bin/env bash
# differential.sh -- the package core as ARM code under the emulator against
# the native build, on the same packages:
#
#   differential.sh WORKDIR FIXTURES VELKOR STUB SOURCE_DIR NATIVE ARMRUN ARMCORE_EXE ARMCORE_MAP
#
# The fixtures are made once (FIXTURES, with velkor and the device STUB);
# NATIVE and the ARM driver (ARMCORE_EXE, run by ARMRUN, in two halves on
# the two cores while NATIVE runs) each report every package, and the two
# reports must be the same, byte for byte.  They stay in WORKDIR
# (native.txt, arm.txt, and differences.txt when they differ) to be read.
set -euo pipefail
if [[ $# -ne 9 ]]; then
    echo "usage: $0 WORKDIR FIXTURES VELKOR STUB SOURCE_DIR NATIVE ARMRUN ARMCORE_EXE ARMCORE_MAP" >&2
    exit 2
fi
work=$1 fixtures=$2 velkor=$3 stub=$4 source=$5 native=$6 armrun=$7 exe=$8 map=$9
for f in "$stub" "$exe" "$map"; do
    [[ -f $f ]] || { echo "$0: $f is missing: build the device program first" >&2; exit 1; }
done
mkdir -p "$work"
rm -f "$work"/{native,arm,arm1,arm2,differences}.txt "$work"/armrun*.log
start=$SECONDS
"$fixtures" "$work" "$velkor" "$stub" "$source"
packages=("$work"/packages/*.exe)
half=$(((${#packages[@]} + 1) / 2))
made=$SECONDS

ASAN_OPTIONS=detect_leaks=1 "$native" "${packages[@]}" >"$work/native.txt" &
native_pid=$!
"$armrun" --map "$map" "$exe" "${packages[@]:0:half}" >"$work/arm1.txt" 2>"$work/armrun1.log" &
arm_pid=$!
status=0
"$armrun" --map "$map" "$exe" "${packages[@]:half}" >"$work/arm2.txt" 2>"$work/armrun2.log" || status=$?
wait "$arm_pid" || status=$?
wait "$native_pid" || { echo "the native driver failed"; exit 1; }
cat "$work/arm1.txt" "$work/arm2.txt" >"$work/arm.txt"
cat "$work"/armrun1.log "$work"/armrun2.log
done_at=$SECONDS

if ! diff -u "$work/native.txt" "$work/arm.txt" >"$work/differences.txt"; then
    echo "ARM and native reports differ ($work/differences.txt, first 60 lines):"
    head -n 60 "$work/differences.txt"
    exit 1
fi
rm -f "$work/differences.txt"
if [[ $status -ne 0 ]]; then
    echo "armrun failed ($status) although the reports agree"
    exit 1
fi
checked=$(sed -n 's/.* \([0-9][0-9]*\) loads and stores checked.*/\1/p' "$work"/armrun1.log "$work"/armrun2.log |
          awk '{ n += $1 } END { print n }')
echo "${#packages[@]} packages, $(wc -l <"$work/arm.txt") report lines equal on ARM and natively" \
     "($(grep -c '^load succeeded' "$work/arm.txt") loaded, $(grep -c '^file ' "$work/arm.txt") component files" \
     "written); $checked loads and stores checked for alignment on ARM, none unaligned;" \
     "fixtures $((made - start)) s, both runs $((done_at - made)) s"
