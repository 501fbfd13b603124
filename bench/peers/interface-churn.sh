#!/usr/bin/env bash
# The daemon on a container host that makes and deletes interfaces all day: NAMES veth names
# (default 1000) created and deleted over CHURN seconds (default 600), 20 names live at a time
# for about 2 s each, in a network namespace of its own where the daemon runs on a private root;
# then REST seconds (default 900) with only loopback. Prints the daemon's VmRSS and its CPU
# (user + system, % of one core over 60 s) idle before the churn, at its end and after the rest,
# and its VmRSS every minute in between.
#   bash bench/peers/interface-churn.sh [--names N] [--churn S] [--rest S]
# BUILD names the build folder (default build). Needs root (namespaces).
set -euo pipefail

names=1000 churn=600 rest=900
while [ $# -gt 0 ]; do
  case "$1" in
    --names) names="$2"; shift 2 ;;
    --churn) churn="$2"; shift 2 ;;
    --rest) rest="$2"; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "interface-churn: unknown argument $1" >&2; exit 2 ;;
  esac
done

here=$(cd "$(dirname "$0")/../.." && pwd)
build="${BUILD:-$here/build}"
daemon="$build/programs/TelvoServerDaemon/TelvoServerDaemon"
[ -x "$daemon" ] || { echo "interface-churn: $daemon is missing; build first" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "interface-churn: run as root (it makes a network namespace)" >&2; exit 1; }

hz=$(getconf CLK_TCK)
ns="telvochurn$$"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/telvo-churn.XXXXXX")
root="$scratch/root"
pid=""
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$scratch"
  exit "$status"
}
trap cleanup EXIT INT TERM

ip netns add "$ns"
ip -n "$ns" link set lo up
mkdir -p "$root/Library/Preferences"
cat >"$root/Library/Preferences/com.kestro.telvoserverbackend.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>port</key><integer>5310</integer><key>bonjour enabled</key><integer>0</integer></dict></plist>
PLIST
TELVO_ROOT="$root" ip netns exec "$ns" "$daemon" >/dev/null 2>&1 &
pid=$!
log="$root/Library/Logs/TelvoServer.log"
for _ in $(seq 600); do grep -q "Waiting for connections" "$log" 2>/dev/null && break; sleep 0.1; done

rss() { awk '/^VmRSS/ {printf "%.1f MiB", $2 / 1024}' "/proc/$pid/status"; }
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# cpu <label>: CPU over the next 60 s and VmRSS at its end.
cpu() {
  local a b
  a=$(ticks); sleep 60; b=$(ticks)
  printf "%-28s CPU %5.2f %% of a core   VmRSS %s\n" "$1" "$(echo "($b - $a) * 100 / ($hz * 60)" | bc -l)" "$(rss)"
}

sleep 30
cpu "idle before the churn"

# 20 names at a time (10 veth pairs, both ends in the namespace, up, with an address each).
batches=$(( (names + 19) / 20 ))
per_batch=$(echo "$churn / $batches" | bc -l)
start=$(date +%s.%N)
made=0
for b in $(seq 0 $((batches - 1))); do
  batch_start=$(date +%s.%N)
  cmds="" dels=""
  for p in $(seq 0 9); do
    k=$((b * 10 + p))
    [ $((k * 2)) -ge "$names" ] && break
    cmds+="link add ch${k}a type veth peer name ch${k}b"$'\n'
    cmds+="link set ch${k}a up"$'\n'"link set ch${k}b up"$'\n'
    cmds+="addr add 10.$((100 + k / 250)).$((k % 250)).1/32 dev ch${k}a"$'\n'
    cmds+="addr add 10.$((100 + k / 250)).$((k % 250)).2/32 dev ch${k}b"$'\n'
    dels+="link del ch${k}a"$'\n'
    made=$((made + 2))
  done
  ip -n "$ns" -batch - <<<"$cmds"
  sleep 2
  ip -n "$ns" -batch - <<<"$dels"
  left=$(echo "$per_batch - ($(date +%s.%N) - $batch_start)" | bc -l)
  [ "$(echo "$left > 0" | bc)" = 1 ] && sleep "$left"
  if [ $(( (b + 1) % 5 )) = 0 ]; then
    printf "  %4d names after %4.0f s   VmRSS %s\n" "$made" "$(echo "$(date +%s.%N) - $start" | bc -l)" "$(rss)"
  fi
done
echo "$made names made and deleted in $(printf %.0f "$(echo "$(date +%s.%N) - $start" | bc -l)") s"
cpu "end of the churn"
rested=60
while [ "$rested" -lt "$((rest - 60))" ]; do
  sleep 60
  rested=$((rested + 60))
  printf "  rest %4d s   VmRSS %s\n" "$rested" "$(rss)"
done
cpu "after $rest s of rest"
