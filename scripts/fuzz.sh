#!/usr/bin/env bash
# Long fuzz runs: every fuzz target for SECONDS (default 600) each, with the
# seed corpora the builder makes.  Findings are written into the build folder;
# keep each one, once fixed, in tests/fuzz/regressions_<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-600}
scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELKOR_SANITIZE=ON -DVELKOR_WINDOWS=OFF >/dev/null
cmake --build build-fuzz -j2 >/dev/null
cd build-fuzz
ctest -R 'fuzz_(make|write)_seeds' >/dev/null
for t in $(ls tests/fuzz | sed -n 's/^fuzz_\([a-z]*\)$/\1/p'); do
  echo "== fuzz_$t for ${SECONDS_EACH}s"
  mkdir -p "tests/fuzz/corpus_$t" "findings_$t"
  tests/fuzz/fuzz_$t -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="findings_$t/" -print_final_stats=1 "tests/fuzz/corpus_$t" \
      "../tests/fuzz/regressions_$t" 2>&1 | grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|==|SUMMARY)' || true
done
