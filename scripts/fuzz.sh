#!/usr/bin/env bash
# Long fuzz runs: every fuzz target for SECONDS (default 600) each, from the
# seed corpora the builder and the tests write.  Findings are written into
# build-fuzz/findings_<target>/; keep each one, once fixed, as a regression
# input next to the target's source (tests/fuzz/regressions_<target>/ or the
# target's corpus folder).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-600}
scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELKOR_SANITIZE=ON -DVELKOR_WINDOWS=OFF >/dev/null
cmake --build build-fuzz -j2 >/dev/null
cd build-fuzz
ctest -R 'fuzz_(make|write)_seeds|wceload_fuzz_seeds' >/dev/null

# target  program                      max_len (0: from the corpus)  corpus folders (the first one grows)
targets=(
  "loader    tests/fuzz/fuzz_loader            0  tests/fuzz/corpus_loader ../tests/fuzz/regressions_loader"
  "inflate   tests/fuzz/fuzz_inflate           0  tests/fuzz/corpus_inflate ../tests/fuzz/regressions_inflate"
  "manifest  tests/fuzz/fuzz_manifest       8192  tests/fuzz/corpus_manifest ../tests/fuzz/regressions_manifest"
  "html      tests/desktop/fuzz_html       65536  tests/desktop/html_corpus_run ../tests/desktop/html_corpus"
  "setupinfo tests/wceload/fuzz_setupinfo   8192  tests/wceload/setupinfo_corpus"
)
for row in "${targets[@]}"; do
  read -r name program maxlen corpora <<<"$row"
  echo "== fuzz_$name for ${SECONDS_EACH}s"
  mkdir -p "findings_$name" $corpora
  # shellcheck disable=SC2086
  "$program" -max_total_time="$SECONDS_EACH" -max_len="$maxlen" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="findings_$name/" -print_final_stats=1 $corpora 2>&1 |
    grep -E '^(Done|stat::number_of_executed_units|==|SUMMARY)' || true
  if ls "findings_$name" | grep -q .; then echo "   findings: build-fuzz/findings_$name/"; fi
done
