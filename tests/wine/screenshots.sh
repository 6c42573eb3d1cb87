#!/usr/bin/env bash
# screenshots.sh BUILD_DIR OUT_DIR -- renders every page of the sample
# package (all six pages, a folder of the user's choosing) to PNG files
# with the robot: OUT_DIR/01-welcome.png ... 06-ready.png.
#
# BUILD_DIR is a native build with the Windows programs in win/bin, or a
# cross build with them in bin.  The bench of BUILD_DIR/wine-bench is used
# (and stopped again when this script had to start it).
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: screenshots.sh BUILD_DIR OUT_DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd -P)
build=$(cd "$1" && pwd -P)
mkdir -p "$2"
out=$(cd "$2" && pwd -P)

winbin=$build/win/bin
[ -f "$winbin/robot.exe" ] || winbin=$build/bin
for exe in robot.exe setup.exe; do
    [ -f "$winbin/$exe" ] || { echo "screenshots: $winbin/$exe is missing; build first" >&2; exit 1; }
done

state=$build/wine-bench
started=no
[ -f "$state/env" ] || started=yes
"$here/bench.sh" start "$state"
script=$(mktemp "$out/.screenshots-XXXXXX.robot")
cleanup() {
    rm -f "$script"
    if [ "$started" = yes ]; then "$here/bench.sh" stop "$state"; fi
}
trap cleanup EXIT

win=$(printf 'Z:%s' "${out//\//\\}")
cat >"$script" <<SCRIPT
# The sample package: every page, the user chooses the folder.
sample-package shots.exe 63 0
launch %VELKOR_ROOT%shots.exe
wait-page 102
screenshot "$win\\01-welcome.png"
click 1
wait-page 129
click 1005
screenshot "$win\\02-agreement.png"
click 1
wait-page 132
screenshot "$win\\03-components.png"
click 1
wait-page 130
screenshot "$win\\04-location.png"
click 1
wait-page 131
screenshot "$win\\05-destination.png"
click 1
wait-page 133
screenshot "$win\\06-ready.png"
click 2
wait-exit 0
SCRIPT
"$here/bench.sh" run "$state" screenshots "$winbin" -- "$winbin/robot.exe" "$(printf 'Z:%s' "${script//\//\\}")"
ls "$out"/*.png
