#!/usr/bin/env bash
# arm_package.sh VELKOR ARM_SETUP_EXE -- a package built on the ARM setup
# program: the sample's CABs through `velkor build` onto the real device
# stub, then verified (which runs the program's own loader over the file)
# and listed as an ARM Windows CE program.
set -euo pipefail
velkor=$1
stub=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-armpkg.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$root/samples/make-sample-cabs.sh" "$work/sample" >/dev/null
"$velkor" build "$work/sample/manifest.toml" --stub "$stub" -o "$work/setup.exe"
"$velkor" verify "$work/setup.exe"
"$velkor" list "$work/setup.exe" > "$work/list.txt"
cat "$work/list.txt"
grep -q "ARM (0x01C0)" "$work/list.txt" || { echo "list does not show an ARM stub" >&2; exit 1; }
grep -qi "Windows CE" "$work/list.txt" || { echo "list does not show a Windows CE stub" >&2; exit 1; }
# The stub is the ARM program byte for byte, the package behind it.
size=$(stat -c %s "$stub")
cmp -n "$size" "$stub" "$work/setup.exe" || { echo "the stub was changed" >&2; exit 1; }
echo "a package on the ARM stub verifies and lists as ARM"
