#!/usr/bin/env bash
# install_test.sh BUILD_DIR STATE_DIR SAMPLE_DIR -- the Debian package as an
# author gets it: packs it the way scripts/package.sh does, unpacks it into
# a temporary root and uses velkor from there only: init from the sample
# device CABs (SAMPLE_DIR, made by samples/make-sample-cabs.sh), then build,
# verify and try with no flag but the manifest, then preview and try with
# choices on the installed bench and robot.
# Nothing installed may name the source or the build tree.
#
# Only velkor is built again, optimised and without sanitizers, in
# BUILD_DIR/release-velkor (kept, so a second run only relinks): the
# Windows programs and the device program are not built with sanitizers in
# the first place, and build the same bytes in any folder, so the release
# tree takes those of BUILD_DIR instead of spending minutes building them
# again.  Exit 77 (skipped) when BUILD_DIR has no device program.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 BUILD_DIR STATE_DIR SAMPLE_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd -P)
state=$2
sample=$3
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
source=$(cache Velkor_SOURCE_DIR)
version=$(cache CMAKE_PROJECT_VERSION)
[ -n "$source" ] || { echo "no Velkor_SOURCE_DIR in $build/CMakeCache.txt" >&2; exit 1; }
[ -f "$build/device/shell/setup.exe" ] || { echo "install test: no device program in $build (skipped)"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

# A tree built for the tests makes no package.
if cpack --config "$build/CPackConfig.cmake" -B "$work/refused" >"$work/refused.log" 2>&1; then
    fail "cpack packed the sanitizer build"
fi
grep -q "built with sanitizers" "$work/refused.log" || fail "cpack's refusal: $(tail -n 3 "$work/refused.log")"

release=$build/release-velkor
cmake -S "$source" -B "$release" -G Ninja -DCMAKE_C_COMPILER="$(cache CMAKE_C_COMPILER)" \
    -DCMAKE_CXX_COMPILER="$(cache CMAKE_CXX_COMPILER)" -DCMAKE_BUILD_TYPE=Release -DVELKOR_SANITIZE=OFF \
    -DVELKOR_TESTS=OFF -DVELKOR_PROGRAMS_FROM="$build" >"$work/configure.log" 2>&1 ||
    fail "configuring the release tree: $(tail -n 5 "$work/configure.log")"
cmake --build "$release" -j2 >"$work/build.log" 2>&1 || fail "building the release velkor: $(tail -n 5 "$work/build.log")"
rm -f "$release"/velkor_*.deb
(cd "$release" && cpack >"$work/cpack.log" 2>&1) || fail "cpack: $(tail -n 3 "$work/cpack.log")"
deb=$release/velkor_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$release")"
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr
for f in bin/velkor share/velkor/bench.sh share/velkor/device/setup.exe share/velkor/desktop/setup.exe \
         share/velkor/desktop/wceload.exe share/velkor/desktop/robot.exe share/velkor/desktop/robotlens.dll \
         share/velkor/desktop/linkcatcher.exe \
         share/man/man1/velkor.1 share/man/man1/velkor-init.1 share/man/man1/velkor-try.1 \
         share/bash-completion/completions/velkor share/doc/velkor/README.md; do
    [ -e "$root/$f" ] || fail "$f is not in the Debian package"
done
cmp -s "$root/share/velkor/device/setup.exe" "$build/device/shell/setup.exe" || fail "the device program differs from the build's"
cmp -s "$root/share/velkor/desktop/setup.exe" "$build/win/bin/setup.exe" || fail "the desktop setup program differs from the build's"
if grep -rl -e "$build" -e "$source" "$root"; then
    fail "installed files name the build or source tree"
fi
[ ! -e "$root/bin/velkor-build-tree.txt" ] || fail "the build tree's data locations were installed"
# Optimised, stripped, without sanitizers.
if grep -q -a -e AddressSanitizer -e UndefinedBehaviorSanitizer "$root/bin/velkor"; then
    fail "the packaged velkor is built with sanitizers"
fi
sections=$(readelf -S "$root/bin/velkor")
[[ $sections != *.symtab* ]] || fail "the packaged velkor is not stripped"
echo "install test: $(basename "$deb") $(stat -c %s "$deb") bytes, velkor $(stat -c %s "$root/bin/velkor") bytes"

"$root/bin/velkor" --version | grep -qx "velkor $version" || fail "velkor --version is not the project's version"
man -l "$root/share/man/man1/velkor-try.1" 2>/dev/null | grep -q -- "--choices" || fail "velkor-try.1 lacks --choices"
(
    # shellcheck disable=SC1091
    . "$root/share/bash-completion/completions/velkor"
    COMP_WORDS=(velkor tr); COMP_CWORD=1; _velkor
    [ "${COMPREPLY[*]}" = try ] || fail "completion of 'tr': ${COMPREPLY[*]}"
    COMP_WORDS=(velkor init --fo); COMP_CWORD=2; _velkor
    [ "${COMPREPLY[*]}" = --force ] || fail "completion of 'init --fo': ${COMPREPLY[*]}"
)

# An author's day, from a folder away from both trees, as init says.
cd "$work"
mkdir tmp
export TMPDIR=$work/tmp
[ -f "$sample/manifest.toml" ] || fail "no sample in $sample"
cp -r "$sample" "$work/sample"
velkor=$root/bin/velkor
cp sample/cabs/*.cab .
"$velkor" init notes.cab help.cab dictionary.cab samples.cab -o app.toml >init.out
cat init.out
next=$(sed -n 's/^next: velkor //p' init.out)
[ "$next" = "build app.toml -o setup.exe" ] || fail "init's next step: $(cat init.out)"
# shellcheck disable=SC2086
"$velkor" $next 2>build.err
[ ! -s build.err ] || fail "build warned: $(cat build.err)"
cmp -n "$(stat -c %s "$root/share/velkor/device/setup.exe")" setup.exe "$root/share/velkor/device/setup.exe" ||
    fail "the package was not written onto the device program"
# The PE header: ARM (0x01C0), Windows CE GUI (9).
pe=$(od -An -tu4 -j60 -N4 setup.exe | tr -d ' ')
[ "$(od -An -tx2 -j$((pe + 4)) -N2 setup.exe | tr -d ' ')" = 01c0 ] || fail "setup.exe is not an ARM program"
[ "$(od -An -tu2 -j$((pe + 24 + 68)) -N2 setup.exe | tr -d ' ')" = 9 ] || fail "setup.exe is not a Windows CE program"
"$velkor" list setup.exe >list.out
grep -q "setup program  at 0, .* bytes, an ARM (0x01C0) Windows CE GUI (subsystem 9) program, \"Velkor setup program\" version $version\$" \
    list.out || fail "list: $(sed -n 2p list.out)"
"$velkor" verify setup.exe
"$velkor" try setup.exe >try.out 2>try.err || fail "try: $(tail -n 5 try.err try.out)"
cat try.err try.out
grep -q "^velkor: note: setup.exe is built on the device's setup program (ARM); try runs the same package on the desktop one" \
    try.err || fail "try did not say it ran the desktop twin: $(cat try.err)"
grep -q '^setup.exe: installed 4 of 4 components$' try.out || fail "try did not install"
# (Wine keeps its server's folder there; velkor's own names start "velkor-".)
[ -z "$(ls -A tmp | grep '^velkor-')" ] || fail "try left temporary files: $(ls -A tmp)"

# The pictures and a chosen installation, on a bench state kept between runs.
"$velkor" preview setup.exe -o pages --state "$state" 2>preview.err
grep -q "preview runs the same package on the desktop one" preview.err || fail "preview: $(cat preview.err)"
[ -s pages/contact-sheet.png ] || fail "no contact sheet"
"$velkor" try setup.exe --state "$state" --components "Pocket Notes" "Pocket Notes Samples" \
    --location folder --destination '\Storage Card\Programs' >try.out
cat try.out
grep -q '^setup.exe: installed 2 of 2 components$' try.out || fail "try did not install"
grep -qE '^ +300000  \\Storage Card\\Programs\\PocketNotes.exe$' try.out || fail "try lists no PocketNotes.exe"
grep -qE '^ +34  \\My Documents\\Notes\\Trip.txt$' try.out || fail "try lists no Trip.txt"
[ -z "$(ls -A tmp | grep '^velkor-')" ] || fail "temporary files left: $(ls -A tmp)"
echo "install test: passed"
