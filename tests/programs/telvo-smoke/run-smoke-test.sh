#!/usr/bin/env bash
# telvo-smoke must pass its own checks, write its daemon log line under TELVO_ROOT (twice run,
# two lines: the file is appended to) and report the block devices it found.
set -euo pipefail
program=$1
root=$(mktemp -d /tmp/telvo-smoke-test-XXXXXX)
trap 'rm -rf "$root"' EXIT
for run in 1 2; do
  TELVO_ROOT="$root" "$program" > "$root/out.$run"
done
cat "$root/out.1"
log="$root/Library/Logs/TelvoServer.log"
[ -f "$log" ] || { echo "FAIL: no log file at $log"; exit 1; }
lines=$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}: telvo-smoke: ' "$log")
[ "$lines" -eq 2 ] || { echo "FAIL: expected 2 log lines, found $lines"; cat "$log"; exit 1; }
grep -q 'driver(s)' "$root/out.1" || { echo "FAIL: no registry walk reported"; exit 1; }
grep -q 'all checks passed' "$root/out.2" || { echo "FAIL: second run failed"; exit 1; }
echo "smoke test passed"
