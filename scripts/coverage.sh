#!/usr/bin/env bash
# Line coverage of the package library (package/) and the installation code
# (install/), written into the table of docs/coverage.md.
#
#   scripts/coverage.sh            build, run the tests, rewrite the table
#
# Its own build folder (VELKOR_COVERAGE_BUILD, default build-cov) is
# configured with VELKOR_COVERAGE=ON, which instruments only those two
# libraries, unoptimised:
#   - natively with clang's source-based coverage; package_tests runs and
#     llvm-profdata/llvm-cov read its profile;
#   - in the mingw-w64 cross build with gcc's --coverage; the installation
#     tests (install_*: in process, and end to end through setup.exe) run
#     under Wine, and x86_64-w64-mingw32-gcov reads the counters.
# The counters' paths are compiled in as Unix paths; under Wine a path
# beginning with "/" is taken on the test's current drive, so GCOV_PREFIX=Z:
# (the drive that maps /) puts them back beside the notes files.
# The default build and scripts/test.sh are not affected.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh coverage
SRC=$(pwd -P)
BUILD=${VELKOR_COVERAGE_BUILD:-build-cov}

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELKOR_SANITIZE=OFF \
    -DVELKOR_WINDOWS=ON -DVELKOR_COVERAGE=ON >/dev/null
cmake --build "$BUILD" -j2 --target package_tests windows
BUILD=$(cd "$BUILD" && pwd -P)
OUT=$BUILD/coverage
rm -rf "$OUT"
mkdir -p "$OUT/gcov"
failed=()

# Native: the package library under its unit tests.
echo "coverage: package tests (native)" >&2
LLVM_PROFILE_FILE="$OUT/native-%p.profraw" "$BUILD/tests/package/package_tests" --gtest_brief=1 ||
    failed+=(package_tests)
llvm-profdata merge -sparse "$OUT"/native-*.profraw -o "$OUT/native.profdata"
llvm-cov export -format=lcov -instr-profile="$OUT/native.profdata" "$BUILD/tests/package/package_tests" \
    "$SRC"/package/*.cpp >"$OUT/native.info"

# Cross build: the installation tests under Wine.  One at a time: every
# suite adds to the same counter files.
echo "coverage: installation tests (Wine)" >&2
find "$BUILD/win" -name '*.gcda' -delete
# The long sweeps (hostile packages, a heap failure at every allocation of a
# whole run) add nothing the suites before them do not reach; VELKOR_COVERAGE_ALL=1
# runs them too.
skip='^install_(Hostile|SetupHostile|HeapFaults)$'
[ "${VELKOR_COVERAGE_ALL:-0}" = 1 ] && skip='^$'
(cd "$BUILD" && GCOV_PREFIX=Z: ctest -R '^install_' -E "$skip" -j1 --output-on-failure) || failed+=(install_tests)
for dir in package/CMakeFiles/velkor_package.dir install/CMakeFiles/velkor_install.dir; do
    for notes in "$BUILD/win/$dir"/*.gcno; do
        (cd "$OUT/gcov" && x86_64-w64-mingw32-gcov --json-format --stdout "$notes" 2>/dev/null) \
            >"$OUT/gcov/$(basename "$notes" .gcno).json"
    done
done

python3 - "$SRC" "$OUT" <<'EOF'
import datetime, glob, json, os, re, sys

src, out = sys.argv[1], sys.argv[2]
lines = {}   # (file relative to the source, build) -> {line: count}

def add(path, build, line, count):
    path = os.path.relpath(os.path.realpath(path), src)
    if not re.match(r'(package|install)/[^/]+\.cpp$', path):
        return
    counts = lines.setdefault((path, build), {})
    counts[line] = max(counts.get(line, 0), count)

current = None
for row in open(os.path.join(out, 'native.info')):
    row = row.strip()
    if row.startswith('SF:'):
        current = row[3:]
    elif row.startswith('DA:') and current:
        line, count = row[3:].split(',')[:2]
        add(current, 'native', int(line), int(count))
for name in glob.glob(os.path.join(out, 'gcov', '*.json')):
    text = open(name).read().strip()
    if not text:
        continue
    for f in json.loads(text)['files']:
        path = f['file'] if os.path.isabs(f['file']) else os.path.join(src, f['file'])
        for l in f['lines']:
            add(path, 'cross', l['line_number'], l['count'])

# package/ is measured natively, but for its Win32 half (base_win.cpp),
# which only the cross build has; install/ only exists in the cross build.
def chosen(path):
    if path.startswith('install/') or path == 'package/base_win.cpp':
        return 'cross'
    return 'native'

def ranges(numbers):
    spans, start = [], None
    for n in sorted(numbers) + [None]:
        if start is not None and (n is None or n != prev + 1):
            spans.append(str(start) if start == prev else f'{start}-{prev}')
            start = None
        if n is not None and start is None:
            start = n
        prev = n
    return ', '.join(spans)

table = ['| File | Build | Lines | Hit | % | Lines not reached |', '|---|---|---:|---:|---:|---|']
totals = {}
for (path, build) in sorted(lines):
    if build != chosen(path):
        continue
    counts = lines[(path, build)]
    hit = sum(1 for c in counts.values() if c > 0)
    missed = [n for n, c in counts.items() if c == 0]
    table.append(f'| {path} | {build} | {len(counts)} | {hit} | {100.0 * hit / len(counts):.1f} | {ranges(missed)} |')
    t = totals.setdefault(path.split('/')[0], [0, 0])
    t[0] += len(counts)
    t[1] += hit
for top, (n, hit) in sorted(totals.items(), reverse=True):
    table.append(f'| **{top}/** | | **{n}** | **{hit}** | **{100.0 * hit / n:.1f}** | |')

stamp = datetime.date.today().isoformat()
block = '\n'.join([f'<!-- coverage:begin (written by scripts/coverage.sh) -->',
                   f'Measured on {stamp}.', ''] + table + ['<!-- coverage:end -->'])
doc = os.path.join(src, 'docs', 'coverage.md')
text = open(doc).read() if os.path.exists(doc) else '# Coverage\n\n<!-- coverage:begin -->\n<!-- coverage:end -->\n'
text = re.sub(r'<!-- coverage:begin.*?<!-- coverage:end -->', lambda m: block, text, flags=re.S)
open(doc, 'w').write(text)
print('\n'.join(table))
EOF

if [ ${#failed[@]} -gt 0 ]; then
    echo "coverage: failing tests in ${failed[*]}; the figures include them as they ran" >&2
    exit 1
fi
