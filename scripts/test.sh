#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test: a normal build,
# then the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the fuzz targets for a bounded time.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)

bash scripts/install-deps.sh

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTELVO_SANITIZE=ON -DTELVO_BENCH=OFF
cmake --build build-asan -j "$jobs"
echo "== tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzz targets"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVO_FUZZ=ON -DTELVO_BENCH=OFF
  cmake --build build-fuzz -j "$jobs" --target fuzzers
  # A fixed budget of about six minutes shared by the targets (20 to 60 s each).
  targets=$(find build-fuzz/fuzz -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | wc -l)
  per=$(( 360 / (targets > 0 ? targets : 1) ))
  per=$(( per < 20 ? 20 : (per > 60 ? 60 : per) ))
  bash scripts/run-fuzzers.sh build-fuzz "${TELVO_FUZZ_SECONDS:-$per}"
fi
echo "== all tests passed"
