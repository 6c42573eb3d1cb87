#!/usr/bin/env bash
# bench-setup.sh -- what setup.exe costs on top of the installer: one
# component of about 32 MiB (a CAB of programs from /usr/bin and text files,
# MSZIP-compressed as device CABs are) installed through setup.exe without
# pages, next to the installer stand-in alone on the same CAB, and the time
# to the first page next to a minimal dialog program.  All figures come from
# one run under the Wine bench (tests/install/setup_bench.cpp says how).
#
#   scripts/bench-setup.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail

build=$(cd "${1:-build}" && pwd -P)
rounds=${2:-5}
here=$(cd "$(dirname "$0")/.." && pwd -P)
bench=$here/tests/wine/bench.sh
state=$build/wine-bench
[ -f "$build/win/bin/setup_bench.exe" ] || { echo "bench-setup: build $build first (setup_bench.exe)" >&2; exit 1; }
command -v gcab >/dev/null || { echo "bench-setup: gcab is missing (scripts/deps.sh)" >&2; exit 1; }

work=$(mktemp -d /tmp/velkor-bench-setup.XXXXXX)
started=""
cleanup() {
    [ -n "$started" ] && "$bench" stop "$state" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

# Programs and text, alternately by name so both kinds run through the CAB,
# plain names only (the installer refuses some characters).
mkdir -p "$work/files"
list() {
    { find /usr/bin -maxdepth 1 -type f -size -4M -printf 'bin %p\n' | sort -k2
      find /usr/share/doc /usr/share/common-licenses -type f \( -name copyright -o -path '*common-licenses*' \) \
           -printf 'txt %p\n' | sort -k2; } | awk '{ print NR % 2, $0 }' | sort -s -k1,1 | cut -d' ' -f2-
}
pick() {   # pick BYTES: copy files until their sizes reach BYTES
    local want=$1 total=0 kind path name n=0
    rm -rf "$work/files" && mkdir -p "$work/files"
    while read -r kind path; do
        name=$(basename "$path")
        [ "$kind" = txt ] && name="$(basename "$(dirname "$path")")-$name.txt"
        [[ "$name" =~ ^[A-Za-z0-9._+-]+$ ]] || continue
        n=$((n + 1))
        cp "$path" "$work/files/$n-$name" 2>/dev/null || continue
        total=$((total + $(stat -c %s "$path")))
        [ "$total" -ge "$want" ] && break
    done < <(list)
    echo "$total"
}
make_cab() { (cd "$work/files" && gcab -c -z "$work/mix.cab" -- * >/dev/null); stat -c %s "$work/mix.cab"; }

target=$((32 * 1024 * 1024))
raw=$(pick "$target")
cab=$(make_cab)
# Compressed, the first pick is smaller than the target: pick more by the ratio seen.
if [ "$cab" -lt "$target" ]; then
    raw=$(pick $((raw * target / cab)))
    cab=$(make_cab)
fi
echo "bench-setup: $(ls "$work/files" | wc -l) files, $((raw / 1048576)) MiB, CAB $((cab / 1048576)) MiB" >&2

if [ ! -f "$state/env" ]; then started=yes; fi
"$bench" start "$state" >/dev/null 2>&1
"$bench" run "$state" setup-bench "$build/win/bin" -- "$build/win/bin/setup_bench.exe" \
    "Z:${work//\//\\}\\mix.cab" "$rounds"
