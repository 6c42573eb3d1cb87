#!/usr/bin/env bash
# soak.sh [ROUNDS] -- runs the Wine suites ROUNDS times (default 5) while two
# CPU hogs keep both cores busy, then prints each test's failures and its
# slowest time.  A flaky test shows here long before it blocks a landing.
# Not part of CI (it takes hours): run it in the background on a built tree.
#
#   BUILD_DIR          the build to test (default: build), made with VELKOR_WINDOWS=ON
#   SOAK_FRESH=0       keep the Wine benches between rounds; by default every
#                      round starts them from nothing, as a fresh clone does
#   SOAK_HOG_SECONDS   the longest the hogs may live (default: 8 hours); they
#                      also end with this script, however it ends
#
# The table and every round's ctest log and JUnit file are in BUILD_DIR/soak/.
set -euo pipefail

rounds=${1:-5}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [ROUNDS]" >&2; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$here/build}" 2>/dev/null && pwd) ||
    { echo "soak: no build folder ${BUILD_DIR:-$here/build}" >&2; exit 2; }
[ -f "$build/CTestTestfile.cmake" ] || { echo "soak: $build is not a build folder" >&2; exit 2; }
command -v python3 >/dev/null || { echo "soak: python3 is not installed" >&2; exit 2; }
out=$build/soak
mkdir -p "$out"
rm -f "$out"/round-*.xml "$out"/round-*.log "$out/rounds.txt"

hogs=()
stop_hogs() {
    local pid
    for pid in "${hogs[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${hogs[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    hogs=()
}
trap stop_hogs EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Two busy loops, one per core, each ended by timeout at the latest.
for _ in 1 2; do
    timeout "${SOAK_HOG_SECONDS:-28800}" sh -c 'while :; do :; done' &
    hogs+=($!)
done

benches=(wine-bench tool-bench)
for ((r = 1; r <= rounds; r++)); do
    if [ "${SOAK_FRESH:-1}" != 0 ]; then
        for b in "${benches[@]}"; do
            [ -d "$build/$b" ] || continue
            "$here/tests/wine/bench.sh" stop "$build/$b" >/dev/null 2>&1 || true
            rm -rf "${build:?}/$b"
        done
    fi
    started=$(date +%s)
    echo "soak: round $r of $rounds ($(date '+%H:%M'))"
    (cd "$build" && ctest -L wine -j2 --output-on-failure --output-junit "$out/round-$r.xml") \
        >"$out/round-$r.log" 2>&1 || true
    summary="round $r: $(( $(date +%s) - started )) s, $(grep -E '^[0-9]+% tests passed' "$out/round-$r.log" || echo 'no summary')"
    echo "$summary" >>"$out/rounds.txt"
    echo "soak: $summary"
done
stop_hogs

python3 - "$out" "$rounds" <<'EOF' | tee "$out/report.txt"
import sys, xml.etree.ElementTree as ET
out, rounds = sys.argv[1], int(sys.argv[2])
tests = {}
for r in range(1, rounds + 1):
    try:
        root = ET.parse(f"{out}/round-{r}.xml").getroot()
    except (OSError, ET.ParseError) as e:
        print(f"round {r}: no results ({e})")
        continue
    for case in root.iter("testcase"):
        t = tests.setdefault(case.get("name"), {"runs": 0, "failed": [], "slowest": 0.0})
        t["runs"] += 1
        t["slowest"] = max(t["slowest"], float(case.get("time") or 0))
        if case.get("status") not in (None, "run", "passed") or case.find("failure") is not None \
                or case.find("error") is not None:
            t["failed"].append(r)
width = max([len(n) for n in tests] + [4])
print(f"{'test':<{width}}  failed  slowest")
for name in sorted(tests):
    t = tests[name]
    rounds_failed = ",".join(map(str, t["failed"]))
    failed = f"{len(t['failed'])}/{t['runs']}"
    print(f"{name:<{width}}  {failed:>6}  {t['slowest']:6.1f} s" + (f"  (round {rounds_failed})" if t["failed"] else ""))
total = sum(len(t["failed"]) for t in tests.values())
print(f"{len(tests)} tests, {rounds} rounds, {total} failures")
try:
    print(open(f"{out}/rounds.txt").read(), end="")
except OSError:
    pass
EOF
