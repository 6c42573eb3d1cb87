#!/usr/bin/env bash
# The demo: builds everything, makes the sample package from CABs made with
# gcab, checks it, and runs it through the whole wizard under Wine on a
# virtual display with the robot choosing, ending with a PNG of every page
# and `velkor try`: the installed files of the emulated device, the
# installer's log and the registry values left.
#
#   scripts/demo.sh                 the robot clicks through (with or without DISPLAY)
#   scripts/demo.sh --interactive   you click through, on $DISPLAY
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd -P)
mode=robot
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

step "building the package code, the authoring tool and the Windows programs (log: $BUILD/demo-build.log)"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DVELKOR_SANITIZE=ON -DVELKOR_WINDOWS=ON >/dev/null
# One line per step, so a first build of several minutes shows it is moving.
if ! cmake --build "$BUILD" -j2 2>&1 | tee "$BUILD/demo-build.log" |
     { grep --line-buffered -E '^\[[0-9]+/[0-9]+\]' | cut -c1-110 || true; }; then
  tail -n 30 "$BUILD/demo-build.log" >&2
  echo "demo: the build failed (whole log: $BUILD/demo-build.log)" >&2
  exit 1
fi
VELKOR=$BUILD/tools/velkor/velkor
WINBIN=$BUILD/win/bin

step "making the sample CABs (gcab) and the package in $OUT"
rm -rf "$OUT"
samples/make-sample-cabs.sh "$OUT/sample" >/dev/null
"$VELKOR" build "$OUT/sample/manifest.toml" --desktop-stub -o "$OUT/pocketnotes-setup.exe"

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
else
  unset VELKOR_BENCH_DISPLAY   # the robot works on a private virtual display
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

step "pictures of every page"
ls "$SHOTS"/*.png 2>/dev/null || echo "(none in interactive mode)"

# The same choices as the robot's walk, through velkor try: it runs the
# whole installation again in a fresh device and shows what landed.
"$bench" stop "$STATE"
unset VELKOR_BENCH_DISPLAY
step "velkor try: the installation with the walk's choices, and what it left in the device"
"$VELKOR" try "$OUT/pocketnotes-setup.exe" --state "$STATE" \
  --components "Pocket Notes" "Help and Tutorial" "Spell Checker Dictionary" \
  --location folder --destination '\Storage Card\Programs'
printf '\nPictures: %s\n' "$SHOTS"
