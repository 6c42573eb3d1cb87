#!/usr/bin/env bash
# install_test.sh BUILD_DIR STATE_DIR SAMPLE_DIR -- installs the build into a temporary
# DESTDIR and uses velkor from there only, the way a package author would
# after installing the Debian package: init from device CABs, build without
# --stub, verify, preview and try, the last two on the installed bench and
# robot.  Nothing installed may name the source or the build tree.  The
# sample's CABs come from SAMPLE_DIR (samples/make-sample-cabs.sh makes it).
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 BUILD_DIR STATE_DIR SAMPLE_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd -P)
state=$2
sample=$3
source=$(sed -n 's/^Velkor_SOURCE_DIR:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$source" ] || { echo "no Velkor_SOURCE_DIR in $build/CMakeCache.txt" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

DESTDIR=$work/root cmake --install "$build" --prefix /usr >"$work/install.log"
root=$work/root/usr
for f in bin/velkor share/velkor/bench.sh share/velkor/bin/setup.exe share/velkor/bin/wceload.exe \
         share/velkor/bin/robot.exe share/velkor/bin/robotlens.dll share/velkor/bin/linkcatcher.exe \
         share/man/man1/velkor.1 \
         share/man/man1/velkor-init.1 share/man/man1/velkor-try.1 share/bash-completion/completions/velkor \
         share/doc/velkor/README.md; do
    [ -e "$root/$f" ] || fail "$f is not installed"
done
# Text files only: the sanitised velkor carries its source file names for
# its diagnostics, which point nowhere at run time.
if grep -rIl -e "$build" -e "$source" "$root"; then
    fail "installed files name the build or source tree"
fi
[ ! -e "$root/bin/velkor-build-tree.txt" ] || fail "the build tree's data locations were installed"
"$root/bin/velkor" --version | grep -qx "velkor $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")" ||
    fail "velkor --version is not the project's version"
man -l "$root/share/man/man1/velkor-try.1" 2>/dev/null | grep -q -- "--choices" || fail "velkor-try.1 lacks --choices"
(
    # shellcheck disable=SC1091
    . "$root/share/bash-completion/completions/velkor"
    COMP_WORDS=(velkor tr); COMP_CWORD=1; _velkor
    [ "${COMPREPLY[*]}" = try ] || fail "completion of 'tr': ${COMPREPLY[*]}"
    COMP_WORDS=(velkor init --fo); COMP_CWORD=2; _velkor
    [ "${COMPREPLY[*]}" = --force ] || fail "completion of 'init --fo': ${COMPREPLY[*]}"
)

# The Debian package holds the same, under its version's name.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 || fail "cpack: $(tail -n 3 "$work/cpack.log")"
deb=$work/deb/velkor_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/deb")"
dpkg-deb -c "$deb" >"$work/deb.list"
for f in usr/bin/velkor usr/share/velkor/bin/setup.exe usr/share/man/man1/velkor-try.1; do
    grep -q " \./$f\$" "$work/deb.list" || fail "$f is not in the Debian package"
done

# An author's day, from a folder away from both trees.
cd "$work"
[ -f "$sample/manifest.toml" ] || fail "no sample in $sample"
cp -r "$sample" "$work/sample"
velkor=$root/bin/velkor
"$velkor" init sample/cabs/notes.cab sample/cabs/help.cab sample/cabs/dictionary.cab sample/cabs/samples.cab \
    -o app.toml
"$velkor" build app.toml --desktop-stub -o setup.exe 2>"$work/build.err"
[ ! -s "$work/build.err" ] || fail "build warned: $(cat "$work/build.err")"
cmp -n "$(stat -c %s "$root/share/velkor/bin/setup.exe")" setup.exe "$root/share/velkor/bin/setup.exe" ||
    fail "the package was not written onto the installed setup program"
"$velkor" verify setup.exe
"$velkor" preview setup.exe -o pages --state "$state"
[ -s pages/contact-sheet.png ] || fail "no contact sheet"
"$velkor" try setup.exe --state "$state" --components "Pocket Notes" "Pocket Notes Samples" \
    --location folder --destination '\Storage Card\Programs' >try.out
cat try.out
grep -q '^setup.exe: installed 2 of 2 components$' try.out || fail "try did not install"
grep -qE '^ +300000  \\Storage Card\\Programs\\PocketNotes.exe$' try.out || fail "try lists no PocketNotes.exe"
grep -qE '^ +34  \\My Documents\\Notes\\Trip.txt$' try.out || fail "try lists no Trip.txt"
echo "install test: passed"
