#!/usr/bin/env bash
# setup_check.sh ARMRUN SETUP_EXE SETUP_MAP VELKOR WORKDIR -- the real ARM
# setup.exe under the emulator, from its entry point: with a package that
# velkor appended it finds the package in its own file, loads it and goes
# on to create its first window (the frame dialog); with the package
# damaged, or with none, it shows the loader's message in MessageBoxW and
# ends.  Every run is checked for unaligned and stray accesses as the
# differential's are.
set -uo pipefail
armrun=$1 setup=$2 map=$3 velkor=$4 work=$5
[[ -f $setup && -f $map ]] || { echo "$0: build the device program first ($setup, $map)"; exit 1; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

printf 'Tool data\r\n%.0s' {1..400} >data.001
gcab -c tool.cab data.001 >/dev/null || { echo "gcab failed"; exit 1; }
cat >tool.toml <<'TOML'
[package]
name = "Tool"
company = "Acme"
destination = '\Program Files\%SoftwareName%'
pages = ["welcome", "components", "ready"]

[[component]]
name = "Main"
cab = "tool.cab"
TOML
"$velkor" build tool.toml --stub "$setup" -o good.exe >velkor.log 2>&1 || { cat velkor.log; exit 1; }

size=$(stat -c %s good.exe)
header=$(od -An -tu4 -j $((size - 8)) -N4 good.exe | tr -d ' ')
patch() {   # patch FILE OFFSET BYTE
    printf "\\x$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
cp good.exe damaged-trailer.exe && patch damaged-trailer.exe $((size - 1)) 32
# The destination Block follows the two names ("Tool", "Acme": 12 bytes
# each); its zlib stream starts 9 bytes in, and its second byte is the
# header's check.
cp good.exe damaged-header.exe && patch damaged-header.exe $((header + 24 + 9 + 1)) 00
cp "$setup" no-package.exe

fail=0
expect() {   # expect FILE TEXT...: each TEXT on a line of the run's output
    local file=$1 out code
    shift
    out=$("$armrun" --map "$map" --setup "$file" 2>/dev/null)
    code=$?
    printf '%s\n' "$out"
    for text in "$@"; do
        if ! grep -qF -- "$text" <<<"$out"; then
            echo "  expected: $text"
            fail=1
        fi
    done
    if [[ $code -ne 0 ]] || grep -q '^FAULT' <<<"$out"; then
        echo "  the run failed ($code)"
        fail=1
    fi
}
invalid="MessageBoxW \"Velkor\": Invalid Velkor setup package. Please download this setup package again."
expect good.exe "window: CreateDialogIndirectParamW"
expect damaged-trailer.exe "$invalid" "ended with 0"
expect damaged-header.exe "$invalid" "ended with 0"
expect no-package.exe "$invalid" "ended with 0"
if grep -q MessageBoxW <<<"$("$armrun" --map "$map" --setup good.exe 2>/dev/null)"; then
    echo "good.exe showed a message box"
    fail=1
fi
exit $fail
