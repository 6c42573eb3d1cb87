#!/usr/bin/env bash
# volume.sh -- runs a command with a small file system of its own: mounts a
# tmpfs of SIZE (a limit, not an allocation: "1m", "5g") at
# STATE_DIR/volumes/NAME, runs COMMAND with VELKOR_BENCH_VOLUME pointing at
# it (bench.sh run makes it "\Storage Card" and a drive), and unmounts it
# whatever the outcome.  Needs root, as CI has; it never skips.
#
#   volume.sh STATE_DIR NAME SIZE -- COMMAND [ARGS...]
set -euo pipefail

die() { echo "volume: $*" >&2; exit 1; }

[ $# -ge 5 ] && [ "$4" = "--" ] || die "usage: volume.sh STATE_DIR NAME SIZE -- COMMAND [ARGS...]"
state=$1 name=$2 size=$3
shift 4
[[ "$name" =~ ^[A-Za-z0-9_.-]+$ ]] || die "name '$name' must be a plain file name"
[[ "$size" =~ ^[0-9]+[kmgKMG]?$ ]] || die "size '$size' is not a size (1m, 5g...)"
[ "$(id -u)" -eq 0 ] || die "mounting a tmpfs needs root"

mkdir -p "$state/volumes"
dir="$(cd "$state/volumes" && pwd -P)/$name"
# A run killed outright leaves its mount behind; take it down first.
if mountpoint -q "$dir" 2>/dev/null; then
    umount "$dir" 2>/dev/null || umount -l "$dir"
fi
mkdir -p "$dir"

child=""
cleanup() {
    local rc=$?
    set +e      # nothing may stop the unmount
    if [ -n "$child" ]; then
        kill "$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    if mountpoint -q "$dir"; then
        umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || echo "volume: cannot unmount $dir" >&2
    fi
    rmdir "$dir" 2>/dev/null || true
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 143' INT TERM

mount -t tmpfs -o "size=$size,mode=0755" "velkor-$name" "$dir" || die "cannot mount a tmpfs at $dir"
export VELKOR_BENCH_VOLUME="$dir"
rc=0
"$@" &
child=$!
wait "$child" || rc=$?
child=""
exit "$rc"
