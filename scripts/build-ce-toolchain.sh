#!/usr/bin/env bash
# Builds the Windows CE ARM toolchain (arm-mingw32ce) from the CeGCC sources
# and installs it: binutils (with one fix, scripts/ce-binutils-iat.patch),
# GCC 4.4.0 for C and C++ with libgcc and libstdc++, the mingw CE runtime,
# the w32api CE headers and import libraries, and zlib for the device.
# scripts/ce-toolchain.sh runs it when there is no packed toolchain.
#
#   scripts/build-ce-toolchain.sh [PREFIX]
#
# PREFIX: where the toolchain goes (default $MINGW32CE_PREFIX, else
# /opt/mingw32ce).  An existing toolchain there is replaced, but only once
# the new one is complete and has linked a test program: everything is
# installed into a staging folder first and renamed into place at the end,
# so a failed or interrupted build leaves PREFIX as it was.  GCC finds its
# parts relative to its own location, so the moved tree works (the staging
# path is still what `gcc -v` reports and what the runtime's debug
# information names).
#
# Environment:
#   CEGCC_SRC       a tarball holding cegcc/src/{binutils,gcc-4.4.0,mingw,w32api};
#                   default ../shared/ce-toolchain/cegcc-src.tar.xz beside the
#                   checkout (VELKOR_SHARED replaces ../shared), else
#   CEGCC_GIT       a local clone of the public CeGCC tree (read at HEAD)
#   CE_BINUTILS_PATCH  the binutils fix; default binutils-iat.patch in the
#                   shared folder, else scripts/ce-binutils-iat.patch
#   CE_BUILD_DIR    work folder: sources, build trees, logs, staging
#                   (default /usr/src/cegcc-build).  The runtime's source
#                   paths end up in every device program, so keep it neutral;
#                   the default gives the same paths as the packed toolchain.
#   CE_BUILD_JOBS   make's parallelism (default: the number of cores)
#   CE_BUILD_KEEP   1: keep sources and build trees after success (default:
#                   they are removed; the logs stay in CE_BUILD_DIR/logs)
#   CE_BUILD_RESUME 1: after a failure, carry on in the same work folder
#                   with the first step that did not finish (default: start
#                   afresh)
#
# Host packages (installed with apt-get when missing, as root or through
# sudo): gcc g++ make flex bison m4 xz-utils patch libgmp-dev libmpfr-dev
# binutils-source (its zlib sources), and git when building from CEGCC_GIT.
# About 8-15 minutes on two cores; run it under `nice -n 19` on a shared
# machine.  Each step prints its time; a failing step prints the end of its
# log.
set -euo pipefail

if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
  sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
  exit 0
fi

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TARGET=arm-mingw32ce
GCC_VERSION=4.4.0
SHARED=${VELKOR_SHARED:-$ROOT/../shared}/ce-toolchain

PREFIX=${1:-${MINGW32CE_PREFIX:-/opt/mingw32ce}}
case $PREFIX in /*) ;; *) PREFIX=$(pwd)/$PREFIX ;; esac
PREFIX=${PREFIX%/}
WORK=${CE_BUILD_DIR:-/usr/src/cegcc-build}
JOBS=${CE_BUILD_JOBS:-$(nproc 2>/dev/null || echo 2)}
KEEP=${CE_BUILD_KEEP:-0}
RESUME=${CE_BUILD_RESUME:-0}

SRC=$WORK/src/cegcc/src      # this depth keeps the runtime's paths as in the packed toolchain
BUILD=$WORK/build
LOGS=$WORK/logs
DONE=$WORK/done              # a file per finished step, for CE_BUILD_RESUME
STAGE=$WORK/prefix           # the configured prefix; renamed to PREFIX at the end
PARENT=$(dirname "$PREFIX")
NEW=$PARENT/.$(basename "$PREFIX").new
OLD=$PARENT/.$(basename "$PREFIX").old

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

note() { echo "build-ce-toolchain: $*"; }
fail() { echo "build-ce-toolchain: $*" >&2; exit 1; }

# ---- how steps run ---------------------------------------------------------
# Each step runs in a subshell with its output in its own log, stopped by
# its first failing command.  The subshell is run as a plain command with
# errexit off outside it: under `if` or `||` its own `set -e` would not hold.
STEP_NO=0
TIMES=()
step() {
  local name=$1; shift
  STEP_NO=$((STEP_NO + 1))
  local log
  log=$LOGS/$(printf %02d "$STEP_NO")-$name.log
  printf '%s  %-14s ' "$(date +%H:%M:%S)" "$name"
  if [ -e "$DONE/$name" ]; then
    echo "done before"
    return 0
  fi
  local start=$SECONDS rc=0
  set +e
  ( set -e; "$@" ) >"$log" 2>&1 </dev/null
  rc=$?
  set -e
  local took=$((SECONDS - start))
  if [ $rc -ne 0 ]; then
    echo "FAILED after $(mmss $took) (exit $rc)"
    echo "---- last 40 lines of $log"
    tail -n 40 "$log"
    echo "----"
    note "$PREFIX was left as it was; sources, build trees and logs are in $WORK"
    note "CE_BUILD_RESUME=1 carries on from this step"
    [ ! -d "$NEW" ] || note "the finished but unchecked tree is in $NEW"
    exit 1
  fi
  mmss $took; echo
  [ "$name" = packages ] || touch "$DONE/$name"
  TIMES+=("$(printf '%-14s %6s' "$name" "$(mmss $took)")")
}
mmss() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }

# ---- host packages ---------------------------------------------------------
PACKAGES=(gcc g++ make flex bison m4 xz-utils patch libgmp-dev libmpfr-dev binutils-source)

host_packages() {
  local p missing=()
  if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    note "no apt here: make sure these are installed: ${PACKAGES[*]}" >&2
    return 0
  fi
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ -n "$SUDO" ] && ! command -v sudo >/dev/null; then
    fail "missing host packages (${missing[*]}) and neither root nor sudo"
  fi
  note "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The first try uses the package lists there are; update only if that fails.
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null 2>&1 || {
    $SUDO apt-get update -q >/dev/null
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
  }
}

# ---- sources ---------------------------------------------------------------
SOURCE_TAR=""
SOURCE_GIT=""
if [ -n "${CEGCC_SRC:-}" ]; then
  SOURCE_TAR=$CEGCC_SRC
elif [ -f "$SHARED/cegcc-src.tar.xz" ]; then
  SOURCE_TAR=$SHARED/cegcc-src.tar.xz
elif [ -n "${CEGCC_GIT:-}" ]; then
  SOURCE_GIT=$CEGCC_GIT
  PACKAGES+=(git)
else
  fail "no sources: set CEGCC_SRC to a CeGCC source tarball or CEGCC_GIT to a clone"
fi
if [ -n "$SOURCE_TAR" ]; then
  [ -f "$SOURCE_TAR" ] || fail "no such source tarball: $SOURCE_TAR"
  SOURCE_TAR=$(cd "$(dirname "$SOURCE_TAR")" && pwd)/$(basename "$SOURCE_TAR")
else
  [ -d "$SOURCE_GIT" ] || fail "CEGCC_GIT is not a folder: $SOURCE_GIT"
  SOURCE_GIT=$(cd "$SOURCE_GIT" && pwd)
fi

PATCH_FILE=${CE_BINUTILS_PATCH:-}
if [ -z "$PATCH_FILE" ]; then
  if [ -f "$SHARED/binutils-iat.patch" ]; then
    PATCH_FILE=$SHARED/binutils-iat.patch
  else
    PATCH_FILE=$ROOT/scripts/ce-binutils-iat.patch
  fi
fi
[ -f "$PATCH_FILE" ] || fail "no such patch: $PATCH_FILE"

unpack_sources() {
  rm -rf "$WORK/src"
  mkdir -p "$WORK/src"
  if [ -n "$SOURCE_TAR" ]; then
    # A SHA256SUMS beside the tarball that names it is checked first.
    local sums
    sums=$(dirname "$SOURCE_TAR")/SHA256SUMS
    if [ -f "$sums" ] && grep -q " $(basename "$SOURCE_TAR")\$" "$sums"; then
      (cd "$(dirname "$SOURCE_TAR")" && grep " $(basename "$SOURCE_TAR")\$" SHA256SUMS | sha256sum -c -)
    fi
    tar xJf "$SOURCE_TAR" -C "$WORK/src"
  else
    git -C "$SOURCE_GIT" log -1 --format='building from %H (%cd)' HEAD
    # The public mirror lacks three blobs, none of them used for this
    # target: an m32c opcode table, GCC's MD5SUMS and an x86 decimal-float
    # source of libbid.
    git -C "$SOURCE_GIT" archive --format=tar HEAD -- cegcc/src \
        ':(exclude)cegcc/src/binutils/opcodes/m32c-desc.c' \
        ':(exclude)cegcc/src/gcc-4.4.0/MD5SUMS' \
        ':(exclude)cegcc/src/gcc-4.4.0/libgcc/config/libbid/bid_binarydecimal.c' |
      tar xf - -C "$WORK/src"
  fi
  for d in binutils gcc-$GCC_VERSION mingw w32api; do
    [ -d "$SRC/$d" ] || { echo "the sources have no cegcc/src/$d"; return 1; }
  done
  echo "patch: $PATCH_FILE"
  patch -p1 -d "$SRC" <"$PATCH_FILE"
}

# ---- the build -------------------------------------------------------------
# The 2009 sources meet a current host compiler: C89 inline rules, common
# symbols, and warnings instead of errors for what newer C refuses.
HOST_CFLAGS="-O1 -g0 -fcommon -std=gnu89 -fgnu89-inline -Wno-error -Wno-implicit-function-declaration -Wno-incompatible-pointer-types -Wno-int-conversion"
HOST_CXXFLAGS="-O1 -g0 -fcommon -std=gnu++98 -Wno-error"
# Without these GCC's configure hands the host flags to libgcc and libstdc++.
TARGET_FLAGS="-O2"
# No texinfo needed: the manuals are not built.
MK=(make MAKEINFO=true)

fresh() { rm -rf "${BUILD:?}/${1:?}"; mkdir -p "$BUILD/$1"; cd "$BUILD/$1"; }

build_binutils() {
  fresh binutils
  "$SRC/binutils/configure" --target=$TARGET --prefix="$STAGE" \
    --disable-nls --disable-werror --disable-shared \
    CC=gcc CXX=g++ CFLAGS="$HOST_CFLAGS" CXXFLAGS="$HOST_CXXFLAGS"
  "${MK[@]}" -j"$JOBS"
  "${MK[@]}" install
}

configure_gcc() {   # configure_gcc LANGUAGES [OPTION...]
  local languages=$1; shift
  "$SRC/gcc-$GCC_VERSION/configure" --target=$TARGET --prefix="$STAGE" \
    --enable-languages="$languages" "$@" \
    --with-gcc --with-gnu-as --with-gnu-ld --without-newlib \
    --disable-multilib --disable-interwork --disable-win32-registry \
    --disable-nls --disable-werror --enable-checking \
    CC=gcc CXX=g++ CFLAGS="$HOST_CFLAGS" CXXFLAGS="$HOST_CXXFLAGS" \
    CFLAGS_FOR_TARGET="$TARGET_FLAGS" CXXFLAGS_FOR_TARGET="$TARGET_FLAGS" MAKEINFO=true
}

# A C compiler alone, enough to build the runtime the full one needs.
build_gcc_c() {
  fresh gcc-c
  configure_gcc c --disable-threads --disable-shared
  "${MK[@]}" -j"$JOBS" all-gcc
  "${MK[@]}" install-gcc
}

build_libgcc_c() {
  cd "$BUILD/gcc-c"
  "${MK[@]}" configure-target-libgcc
  cd $TARGET/libgcc
  "${MK[@]}" -j"$JOBS" libgcc.a
  install -m 644 libgcc.a "$STAGE/lib/gcc/$TARGET/$GCC_VERSION/"
}

# crt3.o, libmingw32, libcoredll, libceoldname, libmingwex, ...
build_mingw() {
  fresh mingw
  "$SRC/mingw/configure" --build="$(sh "$SRC/gcc-$GCC_VERSION/config.guess")" \
    --host=$TARGET --target=$TARGET --prefix="$STAGE"
  "${MK[@]}" -j"$JOBS"
  "${MK[@]}" install
}

build_w32api() {
  fresh w32api
  "$SRC/w32api/configure" --host=$TARGET --prefix="$STAGE"
  "${MK[@]}" -j"$JOBS"
  "${MK[@]}" install
  write_cegcc_h "$SRC/w32api/include/cegcc.h.in" "$STAGE/$TARGET/include/cegcc.h"
}

# cegcc.h: the template with the version lines between its two markers
# filled in (0.55.999, as CeGCC's own build gives; the build date).
write_cegcc_h() {
  local day
  day=$(date -u ${SOURCE_DATE_EPOCH:+-d @$SOURCE_DATE_EPOCH} +%Y%m%d)
  awk -v day="$day" '
    /Automatic changes above/ { skip = 0 }
    !skip { print }
    /Automatic changes below/ {
      skip = 1
      print "#define   __CEGCC_VERSION_MAJOR__ 0"
      print "#define   __CEGCC_VERSION_MINOR__ 55"
      print "#define   __CEGCC_VERSION_PATCHLEVEL__ 999"
      print "#define   __CEGCC_BUILD_DATE__ " day
    }' "$1" >"$2"
  grep -q __CEGCC_BUILD_DATE__ "$2"
}

build_gcc() {
  fresh gcc
  configure_gcc c,c++ --enable-threads=win32 --with-headers --disable-__cxa_atexit
  "${MK[@]}" -j"$JOBS" all-gcc
}
build_libgcc() { cd "$BUILD/gcc"; "${MK[@]}" -j"$JOBS" all-target-libgcc; }
build_libstdcxx() { cd "$BUILD/gcc"; "${MK[@]}" -j"$JOBS" all-target-libstdc++-v3; }
# Not `make install`: it would also install libssp, which is not built.
install_gcc() {
  cd "$BUILD/gcc"
  "${MK[@]}" install-gcc install-target-libgcc install-target-libstdc++-v3
}

# zlib's stream functions (inflate, deflate, crc32, adler32) for the device,
# from the zlib folder of the binutils sources Debian ships.  The gz* file
# functions are left out: they need C runtime calls CE does not have.
ZLIB_OBJECTS=(adler32 compress crc32 deflate infback inffast inflate inftrees trees uncompr zutil)
build_zlib() {
  local tarballs=(/usr/src/binutils/binutils-*.tar.*)
  [ -f "${tarballs[0]}" ] || { echo "no /usr/src/binutils/binutils-*.tar.*: is binutils-source installed?"; return 1; }
  fresh zlib
  echo "zlib from ${tarballs[0]}"
  tar xf "${tarballs[0]}" --wildcards --no-wildcards-match-slash --strip-components=2 '*/zlib/*.[ch]'
  grep -m1 'define ZLIB_VERSION' zlib.h
  local o
  for o in "${ZLIB_OBJECTS[@]}"; do
    $TARGET-gcc -Os -Wall -c "$o.c" -o "$o.o"
  done
  rm -f libz.a
  $TARGET-ar rcs libz.a "${ZLIB_OBJECTS[@]/%/.o}"
  install -m 644 libz.a "$STAGE/$TARGET/lib/"
  install -m 644 zlib.h zconf.h "$STAGE/$TARGET/include/"
}

# The host programs carry symbol tables; strip them, keeping the hard links
# binutils and GCC make between bin/ and arm-mingw32ce/bin/.
is_elf() { [ "$(head -c 4 "$1" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ]; }
strip_host() {
  local f ino
  local -A first=()
  local files=()
  for f in "$STAGE"/bin/* "$STAGE/$TARGET"/bin/* "$STAGE/libexec/gcc/$TARGET/$GCC_VERSION"/* \
           "$STAGE/libexec/gcc/$TARGET/$GCC_VERSION"/install-tools/*; do
    [ -f "$f" ] && [ ! -L "$f" ] && is_elf "$f" && files+=("$(stat -c %i "$f") $f")
  done
  for f in "${files[@]}"; do
    ino=${f%% *}; f=${f#* }
    if [ -n "${first[$ino]:-}" ]; then
      ln -f "${first[$ino]}" "$f"
    else
      strip --strip-unneeded "$f"
      first[$ino]=$f
    fi
  done
  du -sh "$STAGE"
}

# ---- the check -------------------------------------------------------------
# Compiles and links a C and a C++ program for the device with the finished
# tree and reads their PE headers: ARM (0x01C0), WINDOWS_CE_GUI (9), and an
# import address table directory inside the image (the binutils fix).
le() {   # le FILE OFFSET BYTES: a little-endian unsigned integer
  od -An -tu"$3" --endian=little -j "$2" -N "$3" "$1" | tr -d ' '
}
check_pe() {
  local exe=$1 pe opt machine subsystem image iat
  [ "$(head -c 2 "$exe")" = MZ ] || { echo "$exe: not an MZ file"; return 1; }
  pe=$(le "$exe" 60 4)
  [ "$(od -An -c -j "$pe" -N 2 "$exe" | tr -d ' ')" = PE ] || { echo "$exe: no PE header"; return 1; }
  opt=$((pe + 24))
  machine=$(le "$exe" $((pe + 4)) 2)
  subsystem=$(le "$exe" $((opt + 68)) 2)
  image=$(le "$exe" $((opt + 56)) 4)
  iat=$(le "$exe" $((opt + 96 + 12 * 8)) 4)
  printf '%s: machine 0x%04X, subsystem %d, image size 0x%X, IAT at RVA 0x%X\n' \
    "$exe" "$machine" "$subsystem" "$image" "$iat"
  [ "$machine" -eq $((0x01C0)) ] && [ "$subsystem" -eq 9 ] && [ "$iat" -gt 0 ] && [ "$iat" -lt "$image" ]
}
check_toolchain() {
  local tree=$1 dir=$BUILD/check
  local bin=$tree/bin/$TARGET
  rm -rf "$dir"; mkdir -p "$dir"; cd "$dir"
  cat >hello.c <<'EOF'
#include <windows.h>
#include <zlib.h>
int WINAPI WinMain(HINSTANCE self, HINSTANCE prev, LPWSTR line, int show)
{
  unsigned long sum = crc32(0, (const Bytef *)"CE", 2);
  MessageBoxW(NULL, line, L"toolchain check", MB_OK);
  return (int)(sum & 1);
}
EOF
  cat >hello.cpp <<'EOF'
#include <windows.h>
struct Shape { virtual int Sides() const = 0; virtual ~Shape() {} };
struct Square : Shape { int Sides() const { return 4; } };
static Square square;
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
  const Shape &s = square;
  return s.Sides() == 4 ? 0 : 1;
}
EOF
  # Called by full path from outside PATH: the tree must find its own parts.
  echo | env PATH=/usr/bin:/bin "$bin-gcc" -E -v - 2>&1 >/dev/null | sed -n '/search starts here/,/End of search/p'
  env PATH=/usr/bin:/bin "$bin-gcc" -O2 -o hello.exe hello.c -lz -Wl,--subsystem,wince:5.02
  env PATH=/usr/bin:/bin "$bin-g++" -O2 -fno-exceptions -fno-rtti -o hellopp.exe hello.cpp \
    -Wl,--subsystem,wince:5.02 -static-libgcc
  check_pe hello.exe
  check_pe hellopp.exe
  "$bin-objdump" -p hello.exe | grep -E 'DLL Name|MessageBoxW|crc32' || true
  # The libraries in use must lie inside the tree checked.
  if env PATH=/usr/bin:/bin "$bin-gcc" -print-search-dirs | grep -q "$STAGE"; then
    echo "(the search list still names the staging folder as a fallback)"
  fi
  local lib
  lib=$(env PATH=/usr/bin:/bin "$bin-gcc" -print-file-name=libcoredll.a)
  echo "libcoredll.a: $lib"
  case $lib in "$tree"/*) ;; *) echo "libcoredll.a found outside $tree"; return 1 ;; esac
}

# ---- installing ------------------------------------------------------------
# The finished tree moves next to PREFIX under a hidden name (a copy if the
# work folder is on another file system), is checked there -- a path other
# than the one it was configured with -- and is then renamed into place.
as_root_if_needed() {
  if [ -w "$PARENT" ]; then "$@"; else $SUDO "$@"; fi
}
move_next_to_prefix() {
  as_root_if_needed mkdir -p "$PARENT"
  as_root_if_needed rm -rf "$NEW" "$OLD"
  as_root_if_needed mv -T "$STAGE" "$NEW"
}
install_prefix() {
  if [ -e "$PREFIX" ] || [ -L "$PREFIX" ]; then
    as_root_if_needed mv -T "$PREFIX" "$OLD"
  fi
  as_root_if_needed mv -T "$NEW" "$PREFIX"
  as_root_if_needed rm -rf "$OLD"
}

# ---- main ------------------------------------------------------------------
if [ ! -d "$WORK" ]; then
  mkdir -p "$WORK" 2>/dev/null || {
    $SUDO mkdir -p "$WORK" && $SUDO chown "$(id -u):$(id -g)" "$WORK"
  }
fi
mkdir -p "$LOGS"
# One build per work folder at a time.
exec 9>"$WORK/.lock"
if command -v flock >/dev/null && ! flock -n 9; then
  fail "another build is running in $WORK"
fi

export LC_ALL=C
# Compilers and flags are named per step: the host's gcc for binutils and
# GCC, arm-mingw32ce-gcc (found by configure) for the runtime.
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS MAKEFLAGS
export PATH=$STAGE/bin:$PATH

note "arm-mingw32ce into $PREFIX"
note "sources: ${SOURCE_TAR:-git clone $SOURCE_GIT}"
note "work folder: $WORK (logs in $LOGS), make -j$JOBS"
started=$SECONDS

if [ "$RESUME" != 1 ]; then
  rm -rf "$STAGE" "$BUILD" "$DONE"
  rm -f "$LOGS"/*.log
fi
mkdir -p "$BUILD" "$DONE"
step packages   host_packages
step sources    unpack_sources
step binutils   build_binutils
step gcc-c      build_gcc_c
step libgcc-c   build_libgcc_c
step mingw      build_mingw
step w32api     build_w32api
step gcc        build_gcc
step libgcc     build_libgcc
step libstdc++  build_libstdcxx
step gcc-install install_gcc
step zlib       build_zlib
step strip      strip_host
step stage      move_next_to_prefix
step check      check_toolchain "$NEW"
step install    install_prefix

rm -rf "$DONE"
if [ "$KEEP" != 1 ]; then
  rm -rf "$WORK/src" "$BUILD"
fi
total=$((SECONDS - started))
{
  printf '%s\n' "${TIMES[@]}"
  printf '%-14s %6s\n' total "$(mmss $total)"
} | tee "$LOGS/times.txt"
note "installed $PREFIX ($(du -sh "$PREFIX" | cut -f1))"
