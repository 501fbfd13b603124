#!/usr/bin/env bash
# Runs the plain test suite again and again on a machine kept busy on purpose, to find tests
# that pass alone but fail under load. A tool for developers, not part of CI.
#
#   bash scripts/stress-tests.sh [runs] [regex]     (runs: default 10)
#
# Builds build/ if needed, then runs `ctest -j $((2 * $(nproc)))` `runs` times while
# $(nproc) busy loops hold every processor, prints each test that failed in any run with the
# number of runs it failed in, and ends with one line "N runs, M flaky tests". Each run's
# output is kept in build/stress/run-K.log. TELVO_BUILD_JOBS sets the build's parallelism.
# With a regex only the tests whose names match it run (ctest -R), to look at a few suspects
# alone beside the busy loops.
# Exits 1 if any test failed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

runs=${1:-10}
if ! [[ "$runs" =~ ^[1-9][0-9]*$ ]] || [ $# -gt 2 ]; then
  echo "usage: $0 [runs] [regex]   (runs: a positive whole number, default 10; regex: as ctest -R takes it)" >&2
  exit 2
fi
filter=()
[ -n "${2:-}" ] && filter=(-R "$2")
cpus=$(nproc)
jobs=$((2 * cpus))

busy=()
stop_busy() {
  local pid
  for pid in "${busy[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${busy[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  busy=()
}
trap stop_busy EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "== build"
if [ ! -f build/build.ninja ] && [ ! -f build/Makefile ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j "${TELVO_BUILD_JOBS:-$cpus}"

logs=build/stress
mkdir -p "$logs"
rm -f "$logs"/run-*.log

echo "== $runs runs of the suite${2:+ (tests matching $2)} at ctest -j $jobs beside $cpus busy loops"
for _ in $(seq "$cpus"); do
  bash -c 'while :; do :; done' &
  busy+=("$!")
done

declare -A failures=()
failed_list=build/Testing/Temporary/LastTestsFailed.log
for run in $(seq "$runs"); do
  rm -f "$failed_list"
  log="$logs/run-$run.log"
  start=$SECONDS
  if ctest --test-dir build --output-on-failure -j "$jobs" "${filter[@]}" >"$log" 2>&1; then
    echo "run $run: passed ($((SECONDS - start)) s)"
    continue
  fi
  names=()
  if [ -f "$failed_list" ]; then
    # Lines are "<number>:<test name>".
    while IFS= read -r line; do
      [ -n "$line" ] && names+=("${line#*:}")
    done <"$failed_list"
  fi
  if [ ${#names[@]} -eq 0 ]; then
    names=("(ctest itself failed: see $log)")
  fi
  echo "run $run: ${#names[@]} failed ($((SECONDS - start)) s), see $log"
  for name in "${names[@]}"; do
    failures["$name"]=$((${failures["$name"]:-0} + 1))
  done
done

stop_busy

if [ ${#failures[@]} -gt 0 ]; then
  echo "== failed tests (runs failed in, of $runs)"
  for name in "${!failures[@]}"; do
    printf '%6d  %s\n' "${failures[$name]}" "$name"
  done | sort -k1,1nr -k2
fi
echo "$runs runs, ${#failures[@]} flaky tests"
[ ${#failures[@]} -eq 0 ]
