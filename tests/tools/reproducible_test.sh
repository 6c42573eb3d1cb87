#!/usr/bin/env bash
# reproducible_test.sh -- the same tree builds the same setup.exe, and the
# same package on it, whatever the build folder.
#
#   reproducible_test.sh SOURCE_DIR WORK_DIR VELKOR SAMPLE_DIR WIN_BIN
#
# Takes the setup.exe the build made (in WIN_BIN) and builds setup.exe
# alone again with the mingw-w64 toolchain, in a folder of another name and
# depth.  A compiler cache may serve either build but never one from the
# other: each folder's own path is on its command lines (-ffile-prefix-map),
# so the two compile under different keys.  Checks the two are byte for
# byte the same, the PE time stamp is 0, the version resource carries the
# project version, and SOURCE_DATE_EPOCH becomes the time stamp; then
# builds and signs the sample package on each and compares those.
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 SOURCE_DIR WORK_DIR VELKOR SAMPLE_DIR WIN_BIN" >&2; exit 2; }
src=$1 work=$2 velkor=$3 sample=$4 winbin=$5
fail() { echo "FAIL: $*" >&2; exit 1; }
unset SOURCE_DATE_EPOCH

rm -rf "$work" && mkdir -p "$work/second"
a=$work/a b=$work/second/build-with-a-longer-name
stub() {   # stub BUILD_DIR: configures (once) and builds setup.exe alone
    cmake -S "$src" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$1.configure.log" 2>&1 || { cat "$1.configure.log"; fail "configure $1"; }
    cmake --build "$1" --target setup >"$1.build.log" 2>&1 || { tail -n 30 "$1.build.log"; fail "build $1"; }
}
# The build's own, copied so that nothing is written beside it.
mkdir -p "$a/bin"
cp "$winbin/setup.exe" "$a/bin/setup.exe"
stub "$b"
cmp "$a/bin/setup.exe" "$b/bin/setup.exe" || fail "two builds of setup.exe differ"
echo "setup.exe: $(stat -c %s "$a/bin/setup.exe") bytes, the same from both build folders"

# The PE header's TimeDateStamp: 8 bytes into the file header.
stamp() {
    local pe
    pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tu4 -j$((pe + 8)) -N4 "$1" | tr -d ' '
}
[ "$(stamp "$a/bin/setup.exe")" = 0 ] || fail "link time stamp $(stamp "$a/bin/setup.exe"), not 0"
version=$(sed -n 's/^project(Velkor VERSION \([0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
utf16=$(printf '%s' "$version" | sed 's/./&\x00/g' | od -An -tx1 | tr -d ' \n')
od -An -tx1 -v "$a/bin/setup.exe" | tr -d ' \n' | grep -q "$utf16" ||
    fail "no version $version in setup.exe's version resource"
grep -q "$b" "$a/bin/setup.exe" "$b/bin/setup.exe" && fail "a build folder's path is in setup.exe"

# A given build time is the time stamp (only the link runs again).
SOURCE_DATE_EPOCH=1700000000 stub "$b"
[ "$(stamp "$b/bin/setup.exe")" = 1700000000 ] || fail "SOURCE_DATE_EPOCH not honoured: $(stamp "$b/bin/setup.exe")"
cp "$b/bin/setup.exe" "$work/setup-epoch.exe"
stub "$b"
cmp "$a/bin/setup.exe" "$b/bin/setup.exe" || fail "setup.exe differs after the time stamp went away again"

# The package on each stub, plain and signed.
[ -f "$sample/manifest.toml" ] || fail "no sample in $sample (samples/make-sample-cabs.sh makes it)"
cp -r "$sample" "$work/sample"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Velkor Reproducible" 2>/dev/null
for d in "$a" "$b"; do
    "$velkor" build "$work/sample/manifest.toml" --stub "$d/bin/setup.exe" --desktop-stub -o "$d/package.exe" >/dev/null 2>&1
    SOURCE_DATE_EPOCH=1700000000 "$velkor" sign "$d/package.exe" -o "$d/signed.exe" \
        --sign "$work/cert.pem" --key "$work/key.pem" >/dev/null
done
cmp "$a/package.exe" "$b/package.exe" || fail "the packages built on the two stubs differ"
cmp "$a/signed.exe" "$b/signed.exe" || fail "the signed packages differ"
echo "package: $(stat -c %s "$a/package.exe") bytes, signed $(stat -c %s "$a/signed.exe"), the same on both"
echo "PASS"
