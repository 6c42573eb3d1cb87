#!/usr/bin/env bash
# bench.sh -- the Wine test bench: one private Xvfb and one shared Wine prefix
# per test run, and a fresh emulated device root for every test.
#
#   bench.sh start STATE_DIR
#   bench.sh stop  STATE_DIR
#   bench.sh run   STATE_DIR TEST_NAME WIN_BIN_DIR -- COMMAND [ARGS...]
#
# It never installs anything and never skips: a missing Xvfb, wine or gcab is
# an error.  Nothing it starts outlives `stop` (the Xvfb and the wineserver).
#
# Every wait has a deadline, and VELKOR_SLOWDOWN (a number, default 1)
# stretches them all, here and in the robot, for a slow or busy machine.
set -euo pipefail

die() { echo "bench: $*" >&2; exit 1; }

# SECONDS times VELKOR_SLOWDOWN, rounded up to whole seconds.
scaled() {
    awk -v s="$1" -v f="${VELKOR_SLOWDOWN:-1}" 'BEGIN {
        if (f + 0 <= 0) f = 1
        t = s * f; printf "%d\n", (t == int(t)) ? t : int(t) + 1 }'
}

# wait_for WHAT SECONDS COMMAND...: runs COMMAND until it succeeds; dies
# naming WHAT once SECONDS (scaled) have passed.
wait_for() {
    local what=$1 limit
    limit=$(scaled "$2")
    shift 2
    local deadline=$((SECONDS + limit))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || die "timed out after $limit s waiting for $what"
        sleep 0.1
    done
}

need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || die "'$tool' is not installed (scripts/deps.sh installs it)"
    done
}

# Windows path of a Unix path, through the Z: drive that maps /.
winpath() {
    local p
    p=$(cd "$1" 2>/dev/null && pwd -P) || p=$1
    printf 'Z:%s' "${p//\//\\}"
}

absdir() { mkdir -p "$1" && (cd "$1" && pwd -P); }

wine_env() {
    export WINEPREFIX="$STATE/prefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# The socket a wineserver of the prefix listens on: in Wine's folder for the
# user (Debian's Wine names a folder of its own in the prefix's file
# "wineserver", under $TMPDIR when that is set), named by the prefix's
# device and inode.
server_socket() {
    local base dev ino
    if [ -f "$WINEPREFIX/wineserver" ]; then
        base=${TMPDIR:-/tmp}/$(cat "$WINEPREFIX/wineserver")
    else
        base=/tmp/.wine-$(id -u)
    fi
    read -r dev ino < <(stat -L -c '%d %i' "$WINEPREFIX")
    printf '%s/server-%x-%x/socket' "$base" "$dev" "$ino"
}

server_listening() { [ -S "$(server_socket)" ]; }

# The pid of the prefix's wineserver, which works in its socket's folder.
server_pid() {
    local found
    found=$(find /proc/[0-9]*/cwd -maxdepth 0 -lname "$(dirname "$(server_socket)")" 2>/dev/null | head -n 1)
    [ -n "$found" ] || return 1
    found=${found#/proc/}
    echo "${found%/cwd}"
}

# A persistent wineserver started by us with its output in a log, so that no
# server inherits the caller's pipes (ctest waits for those to close) and so
# that every wine call of the run shares one warm server.  A second start while
# one is running is refused by the server itself and costs nothing.
#
# It must be there before any Wine program of the prefix runs, the first
# (wineboot) included: a server that a program starts for itself ends the
# moment the last program does, and a program starting just then meets it
# on its way out.  So the prefix's folder is made first (the server needs
# it), and this returns only once the server takes connections.
ensure_wineserver() {
    mkdir -p "$WINEPREFIX"
    local rc=0
    setsid wineserver -p </dev/null >>"$STATE/wineserver.log" 2>&1 || rc=$?
    # 2: the server of the prefix is running already.
    [ "$rc" = 0 ] || [ "$rc" = 2 ] ||
        die "the wineserver did not start (exit $rc), see $STATE/wineserver.log"
    wait_for "the wineserver of $WINEPREFIX to listen" 30 server_listening
}

# ---------------------------------------------------------------- start --

start_xvfb() {
    # A person's own display instead (the demo, clicked through by hand).
    if [ -n "${VELKOR_BENCH_DISPLAY:-}" ]; then
        DISPLAY=$VELKOR_BENCH_DISPLAY
        XVFB_PID=""
        return 0
    fi
    if [ -f "$STATE/env" ]; then
        # shellcheck disable=SC1091
        . "$STATE/env"
        if [ -n "${XVFB_PID:-}" ] && kill -0 "$XVFB_PID" 2>/dev/null &&
           grep -q Xvfb "/proc/$XVFB_PID/cmdline" 2>/dev/null; then
            return 0            # already running for this state dir
        fi
    fi
    local n pid deadline limit
    limit=$(scaled 10)
    for n in $(seq 50 250); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$STATE/xvfb.log" 2>&1 &
        pid=$!
        deadline=$((SECONDS + limit))
        while [ ! -S "/tmp/.X11-unix/X$n" ] && kill -0 "$pid" 2>/dev/null; do
            if [ "$SECONDS" -ge "$deadline" ]; then
                kill "$pid" 2>/dev/null || true
                die "timed out after $limit s waiting for Xvfb :$n to start"
            fi
            sleep 0.1
        done
        # The display is ours only when the lock names our server: another
        # bench may have taken the number a moment before, and ours then
        # ends as soon as it notices.
        if kill -0 "$pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X$n" ] &&
           [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ]; then
            DISPLAY=":$n"
            XVFB_PID=$pid
            return 0
        fi
        kill "$pid" 2>/dev/null || true   # lost the race for this number
    done
    die "no free X display between :50 and :250"
}

write_env() {
    cat >"$STATE/env.tmp" <<EOF
export DISPLAY=$DISPLAY
export WINEPREFIX=$STATE/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
XVFB_PID=$XVFB_PID
EOF
    mv "$STATE/env.tmp" "$STATE/env"
}

# Bump when the settings below change: existing prefixes get them again.
PREFIX_SETTINGS=3

create_prefix() {
    # The server keeps the registry in memory, so system.reg can lag behind;
    # a marker of our own says that the prefix is complete.
    if [ ! -f "$STATE/prefix.ready" ]; then
        echo "bench: creating the Wine prefix in $WINEPREFIX (once)" >&2
        wineboot -i >>"$STATE/wineboot.log" 2>&1 || die "wineboot failed, see $STATE/wineboot.log"
    elif [ "$(cat "$STATE/prefix.ready")" = "$PREFIX_SETTINGS" ]; then
        return 0
    fi
    local catcher r key
    catcher="$(winpath "$STATE/bin")\\linkcatcher.exe"
    r=$(mktemp "$STATE/bench-XXXXXX.reg")
    {
        printf 'REGEDIT4\r\n\r\n'
        for key in http https mailto; do
            printf '[-HKEY_CLASSES_ROOT\\%s\\shell\\open\\ddeexec]\r\n\r\n' "$key"
            printf '[HKEY_CLASSES_ROOT\\%s]\r\n@="URL:%s"\r\n"URL Protocol"=""\r\n\r\n' "$key" "$key"
            printf '[HKEY_CLASSES_ROOT\\%s\\shell\\open\\command]\r\n' "$key"
            printf '@="\\"%s\\" \\"%%1\\""\r\n\r\n' "${catcher//\\/\\\\}"
        done
        # A crashing program prints its backtrace and ends instead of waiting
        # for someone to close a crash dialog.
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
        # There is no window manager on the Xvfb: Wine draws the captions and
        # borders itself, so screenshots of a window show all of it.
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
        # The device's Tahoma 8 gives 6 x 13 dialog base units, so a 160-unit
        # page is the screen's 240 pixels; Wine's own Tahoma is wider (7 x 13)
        # and would push the buttons off the device-sized frame.  This font
        # has the device's metrics.
        printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
        printf '"Tahoma"="DejaVu Sans Condensed"\r\n\r\n'
    } >"$r"
    wine regedit /S "$(winpath "$r")" >>"$STATE/wineboot.log" 2>&1 || die "could not register the link catcher"
    rm -f "$r"
    echo "$PREFIX_SETTINGS" >"$STATE/prefix.ready"
}

# Sample CAB archives for the installer tests: files of known content, one
# archive stored uncompressed so that it spans several 64 KiB chunks.
make_fixtures() {
    local f="$STATE/fixtures"
    [ -f "$f/done" ] && return 0
    rm -rf "$f" && mkdir -p "$f/files/one" "$f/files/two/sub" "$f/files/big"
    printf 'Hello from Velkor.\r\n' >"$f/files/one/readme.txt"
    printf 'first file\r\n' >"$f/files/two/a.txt"
    printf 'second file, in a folder\r\n' >"$f/files/two/sub/b.txt"
    # 300000 bytes whose value at offset i is (i * 7 + i / 512) mod 256.
    python3 - "$f/files/big/data.bin" <<'EOF'
import sys
n = 300000
open(sys.argv[1], "wb").write(bytes((i * 7 + (i >> 9)) & 255 for i in range(n)))
EOF
    (cd "$f/files/one" && gcab -c -n "$f/one.cab" readme.txt)
    (cd "$f/files/two" && gcab -c -z -n "$f/two.cab" a.txt sub/b.txt)
    (cd "$f/files/big" && gcab -c -n "$f/big.cab" data.bin)
    [ "$(stat -c %s "$f/big.cab")" -gt $((3 * 65536)) ] || die "big.cab is too small"
    touch "$f/done"
}

cmd_start() {
    need Xvfb wine wineserver wineboot gcab python3 flock setsid
    mkdir -p "$STATE/bin" "$STATE/roots" "$STATE/links" "$STATE/locks"
    start_xvfb
    write_env
    wine_env
    export DISPLAY
    ensure_wineserver
    create_prefix
    make_fixtures
    echo "bench: ready on display $DISPLAY, prefix $WINEPREFIX" >&2
}

# ----------------------------------------------------------------- stop --

xvfb_gone() { ! kill -0 "$XVFB_PID" 2>/dev/null; }

cmd_stop() {
    [ -d "$STATE" ] || return 0
    if [ -f "$STATE/env" ]; then
        # shellcheck disable=SC1091
        . "$STATE/env"
        if [ -d "$STATE/prefix" ] && command -v wineserver >/dev/null 2>&1; then
            WINEPREFIX="$STATE/prefix" wineserver -k 2>/dev/null || true
        fi
        if [ -n "${XVFB_PID:-}" ] && grep -q Xvfb "/proc/$XVFB_PID/cmdline" 2>/dev/null; then
            kill "$XVFB_PID" 2>/dev/null || true
            local deadline=$((SECONDS + $(scaled 5)))
            while ! xvfb_gone && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
            xvfb_gone || kill -KILL "$XVFB_PID" 2>/dev/null || true
        fi
        rm -f "$STATE/env"
    fi
    # Drive letters left behind by killed runs.
    if [ -d "$STATE/prefix/dosdevices" ]; then
        find "$STATE/prefix/dosdevices" -maxdepth 1 -type l \( -lname "$STATE/roots/*" -o -lname "$STATE/volumes/*" \) \
            -delete 2>/dev/null || true
    fi
    # Volumes that volume.sh could not unmount because it was killed.
    local v
    for v in "$STATE"/volumes/*/; do
        [ -d "$v" ] || continue
        mountpoint -q "$v" && { umount "$v" 2>/dev/null || umount -l "$v" 2>/dev/null || true; }
        rmdir "$v" 2>/dev/null || true
    done
    return 0
}

# ------------------------------------------------------------------ run --

# Copies a Windows program into the state dir when it is missing or changed;
# the registered link catcher is run from there.
refresh_bin() {
    local src=$1 dst="$STATE/bin/$(basename "$1")"
    [ -f "$src" ] || return 0
    cmp -s "$src" "$dst" 2>/dev/null && return 0
    (
        flock 9
        cmp -s "$src" "$dst" 2>/dev/null || { cp "$src" "$dst.tmp.$$" && mv "$dst.tmp.$$" "$dst"; }
    ) 9>"$STATE/locks/bin.lock"
}

LETTER=""
LETTER_FD=""
take_letter() {
    local l fd
    for l in m n o p q r s t u v w x y k l j i h g f e; do
        [ -e "$WINEPREFIX/dosdevices/$l:" ] && [ ! -L "$WINEPREFIX/dosdevices/$l:" ] && continue
        exec {fd}>"$STATE/locks/drive-$l.lock"
        if flock -n "$fd"; then
            if [ -L "$WINEPREFIX/dosdevices/$l:" ] &&
               [[ "$(readlink "$WINEPREFIX/dosdevices/$l:")" != "$STATE/roots/"* ]] &&
               [[ "$(readlink "$WINEPREFIX/dosdevices/$l:")" != "$STATE/volumes/"* ]]; then
                exec {fd}>&-        # a letter somebody mapped by hand
                continue
            fi
            LETTER=$l
            LETTER_FD=$fd
            return 0
        fi
        exec {fd}>&-
    done
    die "no free drive letter"
}

release_letter() {
    [ -n "$LETTER" ] || return 0
    rm -f "$WINEPREFIX/dosdevices/$LETTER:"
    exec {LETTER_FD}>&-
    LETTER=""
}

# A second volume for the test (VELKOR_BENCH_VOLUME, a Unix folder, usually a
# small file system the caller mounted): it becomes the device folder
# "\Storage Card" and a drive of its own, VELKOR_VOLUME_ROOT, so a program
# can also be started with it as its device root.
VOLUME_LETTER=""
VOLUME_FD=""
map_volume() {
    local root=$1 main=$LETTER mainfd=$LETTER_FD
    [ -n "${VELKOR_BENCH_VOLUME:-}" ] || return 0
    [ -d "$VELKOR_BENCH_VOLUME" ] || die "run: VELKOR_BENCH_VOLUME '$VELKOR_BENCH_VOLUME' is no folder"
    ln -sfn "$VELKOR_BENCH_VOLUME" "$root/Storage Card"
    take_letter
    VOLUME_LETTER=$LETTER VOLUME_FD=$LETTER_FD
    LETTER=$main LETTER_FD=$mainfd
    ln -sfn "$VELKOR_BENCH_VOLUME" "$WINEPREFIX/dosdevices/$VOLUME_LETTER:"
    export VELKOR_VOLUME_ROOT
    VELKOR_VOLUME_ROOT="$(printf '%s' "$VOLUME_LETTER" | tr '[:lower:]' '[:upper:]'):\\"
}

release_volume() {
    [ -n "$VOLUME_LETTER" ] || return 0
    rm -f "$WINEPREFIX/dosdevices/$VOLUME_LETTER:"
    exec {VOLUME_FD}>&-
    VOLUME_LETTER=""
}

release_letters() {
    release_volume
    release_letter
}

WINE_PID=""
TAIL_PID=""
stop_program() {
    [ -n "$WINE_PID" ] && kill "$WINE_PID" 2>/dev/null
    [ -n "$TAIL_PID" ] && kill "$TAIL_PID" 2>/dev/null
    return 0
}

cmd_run() {
    [ $# -ge 4 ] || die "usage: bench.sh run STATE_DIR TEST_NAME WIN_BIN_DIR -- COMMAND [ARGS...]"
    local name=$1 winbin=$2
    shift 2
    [ "$1" = "--" ] || die "run: expected -- before the command"
    shift
    [ $# -ge 1 ] || die "run: no command"
    [[ "$name" =~ ^[A-Za-z0-9_.-]+$ ]] || die "run: test name '$name' must be a plain file name"
    [ -f "$STATE/env" ] || die "the bench is not started: bench.sh start $STATE"
    # shellcheck disable=SC1091
    . "$STATE/env"
    # (no Xvfb of our own when the bench runs on a given display)
    [ -z "$XVFB_PID" ] || kill -0 "$XVFB_PID" 2>/dev/null ||
        die "the bench's Xvfb ($DISPLAY) is gone; run bench.sh start again"
    need wine wineserver flock setsid
    wine_env
    ensure_wineserver

    winbin=$(absdir "$winbin")
    refresh_bin "$winbin/linkcatcher.exe"

    local root="$STATE/roots/$name"
    rm -rf "$root"
    mkdir -p "$root/windows" "$root/Program Files"
    root=$(cd "$root" && pwd -P)
    [ -f "$winbin/wceload.exe" ] && cp "$winbin/wceload.exe" "$root/windows/wceload.exe"

    local log="$STATE/links/$name.log"
    : >"$log"

    take_letter
    trap release_letters EXIT
    trap 'stop_program; exit 143' INT TERM
    ln -sfn "$root" "$WINEPREFIX/dosdevices/$LETTER:"
    map_volume "$root"

    local drive
    drive=$(printf '%s' "$LETTER" | tr '[:lower:]' '[:upper:]')
    export VELKOR_ROOT="$drive:\\"
    export VELKOR_BIN
    VELKOR_BIN=$(winpath "$winbin")
    export VELKOR_FIXTURES
    VELKOR_FIXTURES=$(winpath "$STATE/fixtures")
    export VELKOR_LINK_LOG
    VELKOR_LINK_LOG=$(winpath "$STATE/links")\\$name.log

    # Wine starts its services (and the desktop process) on demand, and they
    # inherit the descriptors of the program that needed them and outlive
    # it; given the caller's pipes they would keep ctest waiting.  So the
    # program writes to a file, and tail passes it on while the program runs.
    # The file is made before either starts, so tail never misses it, and
    # the program only appends.  The drive locks stay with this script: a
    # service that inherited one would keep the letter taken after the run.
    local out="$STATE/roots/$name.out" rc=0 server
    server=$(server_pid || true)
    : >"$out"
    (
        exec {LETTER_FD}>&-
        [ -z "$VOLUME_FD" ] || exec {VOLUME_FD}>&-
        cd "$root" && exec wine "$@"
    ) >>"$out" 2>&1 &
    WINE_PID=$!
    tail -n +1 -s 0.2 -f --pid="$WINE_PID" "$out" &
    TAIL_PID=$!
    wait "$WINE_PID" || rc=$?
    WINE_PID=""
    wait "$TAIL_PID" || true
    # A program ends without a word when the server goes: say so.
    if [ -n "$server" ] && [ ! -d "/proc/$server" ]; then
        echo "bench: the wineserver of $WINEPREFIX (pid $server) ended while $name ran;" \
             "every Windows program of the prefix ended with it" >&2
        [ "$rc" != 0 ] || rc=1
    fi
    release_letters
    return $rc
}

# ----------------------------------------------------------------- main --

[ $# -ge 2 ] || die "usage: bench.sh start|stop STATE_DIR, or bench.sh run STATE_DIR TEST_NAME WIN_BIN_DIR -- COMMAND [ARGS...]"
action=$1
if [ "$action" = stop ] && [ ! -d "$2" ]; then
    exit 0
fi
STATE=$(absdir "$2")
shift 2
case "$action" in
    start) cmd_start ;;
    stop) cmd_stop ;;
    run) cmd_run "$@" ;;
    *) die "unknown action '$action'" ;;
esac
