#!/usr/bin/env bash
# alignment_check.sh ARMRUN ARMCORE_EXE ARMCORE_MAP -- the runner's alignment
# check catches what a Windows CE device would refuse: the driver's probe
# makes an unaligned word read and an unaligned halfword write, and each run
# must fail naming the probe's function.
set -uo pipefail
armrun=$1 exe=$2 map=$3
fail=0
for probe in word halfword; do
    out=$("$armrun" --map "$map" "$exe" "!unaligned-$probe" 2>/dev/null)
    code=$?
    line=$(grep '^FAULT' <<<"$out")
    echo "$probe: exit $code: $line"
    if [[ $code -ne 1 || $line != *"unaligned $probe"*" in ProbeUnaligned"* ]]; then
        echo "  expected exit 1 and an unaligned $probe access in ProbeUnaligned"
        fail=1
    fi
done
exit $fail
