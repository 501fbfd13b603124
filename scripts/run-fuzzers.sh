#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time each, starting from its seed
# corpus in fuzz/corpus/<target>/ (copied, so the seeds stay as they are).
#   bash scripts/run-fuzzers.sh <build-dir> <seconds>
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: run-fuzzers.sh <build-dir> <seconds>}
seconds=${2:-60}
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  if [ -d "$here/fuzz/corpus/$name" ]; then cp -r "$here/fuzz/corpus/$name/." "$corpus/"; fi
  echo "== $name for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 "$corpus" 2>"$corpus.log"; then
    tail -60 "$corpus.log"
    status=1
  else
    grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)" "$corpus.log" || tail -3 "$corpus.log"
  fi
  rm -rf "$corpus" "$corpus.log"
done
exit $status
