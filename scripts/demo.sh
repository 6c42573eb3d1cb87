#!/usr/bin/env bash
# The demo: builds everything, makes the sample package from CABs made with
# gcab, checks it, and runs it through the whole wizard under Wine on a
# virtual display with the robot choosing, ending with a PNG of every page,
# the installed files of the emulated device and the registry values left.
#
#   scripts/demo.sh                 the robot clicks through
#   scripts/demo.sh --interactive   you click through, on $DISPLAY
#                                   (the default when DISPLAY is set)
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd -P)
mode=robot
[ -n "${DISPLAY:-}" ] && mode=interactive
case "${1:-}" in
  --interactive) mode=interactive ;;
  --robot) mode=robot ;;
  "") ;;
  *) echo "usage: scripts/demo.sh [--robot|--interactive]" >&2; exit 2 ;;
esac
[ "$mode" = interactive ] && [ -z "${DISPLAY:-}" ] && { echo "demo: --interactive needs DISPLAY" >&2; exit 2; }

step() { printf '\n== %s\n' "$*"; }

step "installing what the build needs (once)"
scripts/deps.sh
BUILD=${VELKOR_BUILD:-build}
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd -P)
OUT=$BUILD/demo

step "building the package code, the authoring tool and the Windows programs"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DVELKOR_SANITIZE=ON -DVELKOR_WINDOWS=ON >/dev/null
cmake --build "$BUILD" -j2 | tail -n 1
VELKOR=$BUILD/tools/velkor/velkor
WINBIN=$BUILD/win/bin

step "making the sample CABs (gcab) and the package in $OUT"
rm -rf "$OUT"
samples/make-sample-cabs.sh "$OUT/sample" >/dev/null
"$VELKOR" build "$OUT/sample/manifest.toml" --stub "$WINBIN/setup.exe" --desktop-stub -o "$OUT/pocketnotes-setup.exe"

step "velkor list"
"$VELKOR" list "$OUT/pocketnotes-setup.exe"
step "velkor verify"
"$VELKOR" verify "$OUT/pocketnotes-setup.exe"

STATE=$OUT/bench
SHOTS=$OUT/pages
mkdir -p "$SHOTS"
bench=$here/tests/wine/bench.sh
if [ "$mode" = interactive ]; then
  export VELKOR_BENCH_DISPLAY=$DISPLAY
fi
trap '"$bench" stop "$STATE"' EXIT
step "starting Wine (a private prefix; the first start takes a few seconds)"
"$bench" start "$STATE"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
export DEMO_PACKAGE; DEMO_PACKAGE=$(winpath "$OUT/pocketnotes-setup.exe")
export DEMO_SHOTS; DEMO_SHOTS=$(winpath "$SHOTS")
if [ "$mode" = robot ]; then
  step "running the wizard with the robot (screenshots of every page)"
  "$bench" run "$STATE" device "$WINBIN" -- "$(winpath "$WINBIN/robot.exe")" "$(winpath "$here/samples/demo/walk.robot")"
  montage "$SHOTS"/0*.png -tile 3x -geometry +8+8 -background '#dddddd' "$SHOTS/contact-sheet.png"
else
  step "the wizard is on your display: click through it"
  "$bench" run "$STATE" device "$WINBIN" -- "$DEMO_PACKAGE" || echo "demo: the wizard ended with code $?"
fi

ROOT=$STATE/roots/device
step "pictures of every page"
ls "$SHOTS"/*.png 2>/dev/null || echo "(none in interactive mode)"
step "installed files in the emulated device ($ROOT)"
(cd "$ROOT" && find . -type f ! -path './windows/wceload.exe' ! -name 'wceload.log' | sed 's|^\./|\\|; s|/|\\|g' | sort)
step "what the device's installer was handed (\\windows\\wceload.log)"
cat "$ROOT/windows/wceload.log" 2>/dev/null | tr '\t' '\n' | sed 's/^/  /' || echo "(nothing)"
step "registry values left under HKLM\\SOFTWARE\\Apps"
(. "$STATE/env"; export WINEPREFIX DISPLAY WINEDEBUG; wine reg query 'HKLM\SOFTWARE\Apps' /s 2>/dev/null | tr -d '\r' | sed '/^$/d')
printf '\nPictures: %s\n' "$SHOTS"
