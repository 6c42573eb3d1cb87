#!/usr/bin/env bash
# Measures the setup program's dialog font on the Wine bench and writes
# tools/velkor/authoring/devicefont.txt, the width table from which `velkor lint`
# tells whether a text fits its control without starting Wine.  Run it
# again whenever the dialog templates or the bench's font change; the
# wine_velkor_preview test fails when the table and the screen disagree.
#
#   scripts/measure-font.sh [BUILD_DIR]     (default: build; needs VELKOR_WINDOWS=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd -P)
BUILD=${1:-build}
WINBIN=$(cd "$BUILD/win/bin" && pwd -P)
for f in robot.exe setup.exe; do
    [ -f "$WINBIN/$f" ] || { echo "measure-font: $WINBIN/$f is missing (build with -DVELKOR_WINDOWS=ON)" >&2; exit 1; }
done
STATE=$(mktemp -d "${TMPDIR:-/tmp}/velkor-measure-XXXXXX")
bench=$here/tests/wine/bench.sh
cleanup() { "$bench" stop "$STATE" >/dev/null 2>&1 || true; rm -rf "$STATE"; }
trap cleanup EXIT
"$bench" start "$STATE" >/dev/null
winpath() { printf 'Z:%s' "${1//\//\\}"; }
out=$STATE/devicefont.txt
printf 'font-table "%s" "%s"\n' "$(winpath "$WINBIN/setup.exe" | sed 's/\\/\\\\/g')" \
    "$(winpath "$out" | sed 's/\\/\\\\/g')" >"$STATE/measure.robot"
"$bench" run "$STATE" measure "$WINBIN" -- "$WINBIN/robot.exe" "$(winpath "$STATE/measure.robot")"
[ -s "$out" ] || { echo "measure-font: the robot wrote no table" >&2; exit 1; }
tr -d '\r' <"$out" >"$here/tools/velkor/authoring/devicefont.txt"
echo "wrote tools/velkor/authoring/devicefont.txt"
