#!/usr/bin/env bash
# Download, save and unpack of an update archive through the engine, against bsdtar unpacking
# the same archive alone. The archive: about 100 MiB of programs (copies of /usr/bin and
# /usr/lib files) zipped by Python's zipfile, served by `openssl s_server -WWW` on loopback
# with a test CA made here. Usage: bash bench/update/unpack-ratio.sh [build folder] [runs]
# Prints each run's seconds and the ratio of the medians (goal: at most 1.5).
set -euo pipefail
build=${1:-build}
runs=${2:-5}
fetch="$build/bench/update/telvo-update-fetch"
[ -x "$fetch" ] || { echo "build $fetch first (TELVO_BENCH=ON)"; exit 1; }
work=$(mktemp -d /tmp/telvo-unpack-bench-XXXXXX)
server=
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT INT TERM

. "$(dirname "$0")/archive-server.sh"
serve_benchmark_archive "$work"
engine=()
alone=()
for i in $(seq "$runs"); do
  tmp="$work/tmp$i"; mkdir -m 700 "$tmp"
  t0=$(date +%s.%N)
  TMPDIR="$tmp" "$fetch" "https://127.0.0.1:$port/update.zip" "$work/ca.pem" >/dev/null
  t1=$(date +%s.%N)
  engine+=("$(echo "$t1 - $t0" | bc)")
  out="$work/alone$i"; mkdir "$out"
  t0=$(date +%s.%N)
  bsdtar -x -f "$work/www/update.zip" -C "$out"
  t1=$(date +%s.%N)
  alone+=("$(echo "$t1 - $t0" | bc)")
  rm -rf "$tmp" "$out"
  echo "run $i: engine ${engine[-1]} s, bsdtar alone ${alone[-1]} s"
done
me=$(printf '%s\n' "${engine[@]}" | median)
ma=$(printf '%s\n' "${alone[@]}" | median)
echo "median: engine $me s, bsdtar alone $ma s, ratio $(echo "scale=2; $me / $ma" | bc)"
