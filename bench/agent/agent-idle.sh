#!/usr/bin/env bash
# What the agent costs while it waits for its next check: starts TelvoServerAgent on a private
# file-system root (its services and notifications live there; no session bus, so notifications
# are only logged), waits 60 s, then samples for [seconds] (default 600): CPU (user + system,
# % of one core), VmRSS at the start and the end of the window, and VmHWM.
# Goal: CPU under 0.01 %, VmRSS under 10 MiB, no growth after the first minute.
# Usage: bash bench/agent/agent-idle.sh [seconds] [build folder]
set -euo pipefail
seconds=${1:-600}
build=${2:-build}
agent="$build/programs/TelvoServerAgent/TelvoServerAgent"
[ -x "$agent" ] || { echo "build $agent first"; exit 1; }
root=$(mktemp -d /tmp/telvo-agent-bench-XXXXXX)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$root"; }
trap cleanup EXIT INT TERM
mkdir -p "$root/home" "$root/tmp"
env -u DBUS_SESSION_BUS_ADDRESS TELVO_ROOT="$root" HOME="$root/home" TMPDIR="$root/tmp" "$agent" >"$root/agent.log" 2>&1 &
pid=$!
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
field() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$pid/status"; }
sleep 60
c0=$(cpu); r0=$(field VmRSS); t0=$(date +%s.%N)
sleep "$seconds"
c1=$(cpu); r1=$(field VmRSS); hwm=$(field VmHWM); t1=$(date +%s.%N)
echo "window $(echo "$t1 - $t0" | bc) s"
echo "CPU: $(echo "scale=4; ($c1 - $c0) * 100 / $ticks / ($t1 - $t0)" | bc) % of one core"
echo "VmRSS: $r0 kB at the start, $r1 kB at the end (growth $((r1 - r0)) kB); VmHWM $hwm kB"
