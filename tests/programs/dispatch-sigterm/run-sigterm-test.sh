#!/usr/bin/env bash
# Starts the probe, waits for "ready", sends SIGTERM and checks that the handler ran as a
# main-queue block on the main thread and that the process exited 0.
set -u
probe=$1
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$probe" >"$out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do
  grep -q '^ready$' "$out" && break
  sleep 0.05
done
if ! grep -q '^ready$' "$out"; then
  echo "FAIL: the probe never became ready"; cat "$out"; kill -KILL "$pid" 2>/dev/null; exit 1
fi
kill -TERM "$pid"
status=124
for _ in $(seq 1 200); do
  if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; status=$?; break; fi
  sleep 0.05
done
if [ "$status" -eq 124 ]; then kill -KILL "$pid" 2>/dev/null; echo "FAIL: the probe did not exit after SIGTERM"; fi
cat "$out"
if [ "$status" -ne 0 ]; then echo "FAIL: exit status $status"; exit 1; fi
grep -q '^SIGTERM handled: main thread yes, main queue yes, count 1$' "$out" || { echo "FAIL: handler output"; exit 1; }
echo "PASS"
