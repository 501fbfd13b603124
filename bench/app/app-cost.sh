#!/usr/bin/env bash
# What the control application costs while it watches a daemon with one client.
#   bash bench/app/app-cost.sh [seconds]        (default 60; as root)
# The daemon runs on a private root on a free loopback port, the program of the assembled
# bundle ("Contents/MacOS/Telvo Server") under Xvfb, connected to it, and one protocol client
# (bench/peers/telvo-load-clients) asks the daemon every second, so that the application's
# table has a row that changes. After 10 s of warm-up the program's CPU time (user + system,
# % of one core), VmRSS and VmHWM are read over the window, with the growth of VmRSS.
# Goals: CPU under 1 %, VmRSS under 60 MiB, growth under 1 MiB. BUILD names the build folder.
set -euo pipefail

me=app-cost
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/bench/measure.sh"
seconds="${1:-60}"
need_seconds "$seconds"
build="${BUILD:-$here/build}"
daemon="$build/programs/TelvoServerDaemon/TelvoServerDaemon"
app="$build/bundle/Telvo Server.app/Contents/MacOS/Telvo Server"
passcode_program="$build/tests/programs/telvo-client/telvo-client-passcode"
load_clients="$build/bench/peers/telvo-load-clients"
need_built "$daemon" "$app" "$passcode_program" "$load_clients"
[ "$(id -u)" -eq 0 ] || { echo "app-cost: run as root (the daemon's service is root's)" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "app-cost: xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }

warmup=10
hz=$(getconf CLK_TCK)
scratch=$(mktemp -d /tmp/tvb.XXXXXX)  # short: the service socket's path must fit
root="$scratch/root"
daemon_pid="" app_wrapper="" clients_pid=""
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -s "$scratch/app.pid" ] && kill -TERM "$(cat "$scratch/app.pid")" 2>/dev/null || true
  for pid in $clients_pid $daemon_pid; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in $clients_pid $app_wrapper $daemon_pid; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
  exit "$status"
}
trap cleanup EXIT
trap 'echo "app-cost: interrupted" >&2; exit 130' INT TERM

# A port nobody listens on.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
write_daemon_root "$root" "$port"
mkdir -p "$scratch/home"

TELVO_ROOT="$root" TELVO_NETSTATE_FILE=/nonexistent DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \
  "$daemon" > "$scratch/daemon.out" 2>&1 &
daemon_pid=$!
wait_for_listener "$root" "$port" "$daemon_pid" "$scratch/daemon.out"

echo "app-cost: $seconds s window after $warmup s warm-up, daemon on port $port"
TELVO_ROOT="$root" HOME="$scratch/home" xvfb-run -a -s "-screen 0 1100x700x24 -nolisten tcp" \
  sh -c 'echo $$ > "$0"; exec "$@"' "$scratch/app.pid" "$app" > "$scratch/app.out" 2>&1 &
app_wrapper=$!
for _ in $(seq 1 100); do [ -s "$scratch/app.pid" ] && break; sleep 0.1; done
app_pid=$(cat "$scratch/app.pid" 2>/dev/null) || { echo "app-cost: the program did not start" >&2; exit 1; }

code=$(TELVO_ROOT="$root" "$passcode_program" "$root")
"$load_clients" --port "$port" --passcode "$code" --clients 1 --seconds $((warmup + seconds + 2)) \
  > "$scratch/clients.out" 2>&1 &
clients_pid=$!

sleep "$warmup"
kill -0 "$app_pid" 2>/dev/null || { echo "app-cost: the program stopped:" >&2; cat "$scratch/app.out" >&2; exit 1; }
if grep -q "Cannot connect to the daemon" "$scratch/app.out"; then
  echo "app-cost: the program is not connected:" >&2; cat "$scratch/app.out" >&2; exit 1
fi
t0=$(date +%s.%N); a0=$(ticks "$app_pid"); rss0=$(status_kib "$app_pid" VmRSS)
sleep "$seconds"
kill -0 "$app_pid" 2>/dev/null || { echo "app-cost: the program stopped during the window" >&2; exit 1; }
t1=$(date +%s.%N); a1=$(ticks "$app_pid")
rss1=$(status_kib "$app_pid" VmRSS); hwm=$(status_kib "$app_pid" VmHWM)

awk -v t0="$t0" -v t1="$t1" -v hz="$hz" -v a0="$a0" -v a1="$a1" -v rss0="$rss0" -v rss1="$rss1" -v hwm="$hwm" 'BEGIN {
  cpu = (a1 - a0) / hz / (t1 - t0) * 100
  growth = (rss1 - rss0) / 1024
  printf "CPU       %6.2f %% of a core   (goal under 1 %%)   %s\n", cpu, cpu < 1 ? "met" : "NOT MET"
  printf "VmRSS     %6.1f MiB           (goal under 60 MiB) %s\n", rss1 / 1024, rss1 / 1024 < 60 ? "met" : "NOT MET"
  printf "VmHWM     %6.1f MiB\n", hwm / 1024
  printf "growth    %6.2f MiB over the window (goal under 1 MiB) %s\n", growth, growth < 1 ? "met" : "NOT MET"
}'
