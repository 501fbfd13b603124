#!/usr/bin/env bash
# Download, save and unpack of an update archive through the control application's update
# windows (downloading window with its progress, then the install window; offscreen), against
# the engine doing the same alone (bench/update's telvo-update-fetch). The archive: about 100 MiB
# of programs (copies of /usr/bin and /usr/lib files) zipped by Python's zipfile, served by
# `openssl s_server -WWW` on loopback with a test CA made here.
# Usage: bash bench/app/update-windows-ratio.sh [build folder] [runs]
# Prints each run's seconds and the ratio of the medians (goal: at most 1.1).
set -euo pipefail
build=${1:-build}
runs=${2:-5}
windows="$build/bench/app/telvo-update-windows-fetch"
engine="$build/bench/update/telvo-update-fetch"
for p in "$windows" "$engine"; do [ -x "$p" ] || { echo "build $p first (TELVO_BENCH=ON)"; exit 1; }; done
work=$(mktemp -d /tmp/telvo-windows-bench-XXXXXX)
server=
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT INT TERM

. "$(dirname "$0")/../update/archive-server.sh"
serve_benchmark_archive "$work"
through=()
alone=()
for i in $(seq "$runs"); do
  for tool in windows engine; do
    tmp="$work/tmp-$tool-$i"; mkdir -m 700 "$tmp"
    program=$windows; [ $tool = engine ] && program=$engine
    t0=$(date +%s.%N)
    TMPDIR="$tmp" "$program" "https://127.0.0.1:$port/update.zip" "$work/ca.pem" >/dev/null 2>&1
    t1=$(date +%s.%N)
    if [ $tool = windows ]; then through+=("$(echo "$t1 - $t0" | bc)"); else alone+=("$(echo "$t1 - $t0" | bc)"); fi
    rm -rf "$tmp"
  done
  echo "run $i: windows ${through[-1]} s, engine alone ${alone[-1]} s"
done
mw=$(printf '%s\n' "${through[@]}" | median)
me=$(printf '%s\n' "${alone[@]}" | median)
echo "median: windows $mw s, engine alone $me s, ratio $(echo "scale=3; $mw / $me" | bc)"
