#!/usr/bin/env bash
# What the daemon costs the machine it watches, beside collectd reading the same sources in
# the same window.
#   bash bench/peers/compare.sh [seconds] [--clients N]
# Both run in a network namespace of their own with only loopback: the daemon on a private
# root, collectd with a reading-only configuration (no writer). After 15 s of warm-up, each
# process's CPU time (user + system, children included) is read over the window, with its
# resident memory (VmRSS, VmHWM) and proportional set size (Pss). With --clients N, N protocol
# clients ask the daemon every second for every statistics type, from the samples they have.
# BUILD names the build folder (default build). Needs root (namespaces).
set -euo pipefail

seconds=600
clients=0
while [ $# -gt 0 ]; do
  case "$1" in
    --clients) clients="${2:?--clients needs a number}"; shift 2 ;;
    --clients=*) clients="${1#--clients=}"; shift ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) seconds="$1"; shift ;;
  esac
done
me=compare
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/bench/measure.sh"
need_seconds "$seconds"
[[ "$clients" =~ ^[0-9]+$ ]] || { echo "compare: --clients must be a whole number" >&2; exit 2; }

build="${BUILD:-$here/build}"
daemon="$build/programs/TelvoServerDaemon/TelvoServerDaemon"
passcode_program="$build/tests/programs/telvo-client/telvo-client-passcode"
load_clients="$build/bench/peers/telvo-load-clients"
need_built "$daemon" "$passcode_program" "$load_clients"
[ "$(id -u)" -eq 0 ] || { echo "compare: run as root (it makes a network namespace)" >&2; exit 1; }

if ! command -v collectd >/dev/null 2>&1; then
  echo "compare: installing collectd-core"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends collectd-core >/dev/null 2>&1 ||
    { apt-get update >/dev/null && apt-get install -y --no-install-recommends collectd-core >/dev/null; }
fi
collectd_bin=$(command -v collectd)
plugins=/usr/lib/collectd

warmup=15
port=5212
hz=$(getconf CLK_TCK)
ns="telvocmp$$"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/telvo-compare.XXXXXX")
root="$scratch/root"
daemon_pid="" collectd_pid="" clients_pid="" daemon_wrapper="" collectd_wrapper=""

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  for pid in $clients_pid $collectd_pid $daemon_pid; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in $clients_pid $collectd_wrapper $daemon_wrapper; do wait "$pid" 2>/dev/null || true; done
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$scratch"
  exit "$status"
}
trap cleanup EXIT
trap 'echo "compare: interrupted" >&2; exit 130' INT TERM

ip netns add "$ns"
ip -n "$ns" link set lo up
run_in_ns() { ip netns exec "$ns" "$@"; }
# `ip netns exec` waits for its command as a child of its own (and answers its status): the
# measured process is that command, whose pid it writes to the file named first.
spawn_in_ns() { local pidfile=$1; shift; ip netns exec "$ns" sh -c 'echo $$ > "$0"; exec "$@"' "$pidfile" "$@"; }
pid_from() { for _ in $(seq 1 100); do [ -s "$1" ] && { cat "$1"; return 0; }; sleep 0.05; done; return 1; }

write_daemon_root "$root" "$port"

# collectd reading what the daemon reads, with no writer. The unix socket answers the value
# count once the window is over; it sleeps in accept until then.
load_plugin() { [ -f "$plugins/$1.so" ] && echo "LoadPlugin $1"; return 0; }
{
  echo "Hostname \"telvo-compare\""
  echo "FQDNLookup false"
  echo "BaseDir \"$scratch/collectd\""
  echo "PluginDir \"$plugins\""
  echo "TypesDB \"/usr/share/collectd/types.db\""
  echo "Interval 1"
  echo "ReadThreads 5"
  echo "LoadPlugin logfile"
  echo "<Plugin logfile>"
  echo "  LogLevel warning"
  echo "  File \"$scratch/collectd.log\""
  echo "</Plugin>"
  for p in cpu load memory interface disk df swap uptime processes battery; do load_plugin "$p"; done
  # sensors only where the machine has any.
  if compgen -G "/sys/class/hwmon/hwmon*" >/dev/null; then load_plugin sensors; fi
  echo "LoadPlugin unixsock"
  echo "<Plugin unixsock>"
  echo "  SocketFile \"$scratch/collectd.sock\""
  echo "</Plugin>"
} > "$scratch/collectd.conf"
mkdir -p "$scratch/collectd"

echo "compare: $seconds s window after $warmup s warm-up, $clients clients, namespace $ns"
spawn_in_ns "$scratch/daemon.pid" env TELVO_ROOT="$root" TELVO_NETSTATE_FILE=/nonexistent \
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent "$daemon" > "$scratch/daemon.out" 2>&1 &
daemon_wrapper=$!
spawn_in_ns "$scratch/collectd.pid" "$collectd_bin" -f -C "$scratch/collectd.conf" > "$scratch/collectd.out" 2>&1 &
collectd_wrapper=$!
daemon_pid=$(pid_from "$scratch/daemon.pid") || { echo "compare: the daemon did not start" >&2; exit 1; }
collectd_pid=$(pid_from "$scratch/collectd.pid") || { echo "compare: collectd did not start" >&2; exit 1; }
started=$(date +%s)

wait_for_listener "$root" "$port" "$daemon_pid" "$scratch/daemon.out"
kill -0 "$collectd_pid" 2>/dev/null || { echo "compare: collectd stopped:" >&2; cat "$scratch/collectd.out" >&2; exit 1; }

if [ "$clients" -gt 0 ]; then
  code=$(TELVO_ROOT="$root" "$passcode_program" "$root")
  run_in_ns "$load_clients" --port "$port" --passcode "$code" --clients "$clients" \
    --seconds $((warmup + seconds + 2)) > "$scratch/clients.out" 2>&1 &
  clients_pid=$!
fi

alive() { kill -0 "$daemon_pid" 2>/dev/null && kill -0 "$collectd_pid" 2>/dev/null; }

sleep "$warmup"
alive || { echo "compare: a peer stopped during warm-up" >&2; exit 1; }
# CPU time of each, children included.
t0=$(date +%s.%N); d0=$(ticks_with_children "$daemon_pid"); c0=$(ticks_with_children "$collectd_pid")
rss60=""  # the daemon's VmRSS once it has run 60 s
rss_max=0
end=$(( $(date +%s) + seconds ))
while [ "$(date +%s)" -lt "$end" ]; do
  sleep 1
  alive || { echo "compare: a peer stopped during the window" >&2; exit 1; }
  r=$(status_kib "$daemon_pid" VmRSS)
  [ -z "$rss60" ] && [ $(( $(date +%s) - started )) -ge 60 ] && rss60=$r
  [ -n "$rss60" ] && [ "$r" -gt "$rss_max" ] && rss_max=$r
done
t1=$(date +%s.%N); d1=$(ticks_with_children "$daemon_pid"); c1=$(ticks_with_children "$collectd_pid")
d_rss=$(status_kib "$daemon_pid" VmRSS); d_hwm=$(status_kib "$daemon_pid" VmHWM); d_pss=$(pss_kib "$daemon_pid")
c_rss=$(status_kib "$collectd_pid" VmRSS); c_hwm=$(status_kib "$collectd_pid" VmHWM); c_pss=$(pss_kib "$collectd_pid")

# The clients end on their own just after the window.
clients_line=""
if [ -n "$clients_pid" ]; then
  clients_status=0
  wait "$clients_pid" || clients_status=$?
  clients_pid=""
  clients_line=$(tail -1 "$scratch/clients.out")
  [ "$clients_status" -eq 0 ] || { echo "compare: the clients failed:" >&2; tail -5 "$scratch/clients.out" >&2; }
fi

# Values sampled a second. Ours: the values of each type's newest sample. collectd's: the data
# sources of every value list in its cache (Interval 1).
d_values=$(run_in_ns "$load_clients" --port "$port" --passcode "$(TELVO_ROOT="$root" "$passcode_program" "$root")" --count-values 2>/dev/null || echo "n/a")
c_values=$(/usr/bin/python3 - "$scratch/collectd.sock" <<'PY' 2>/dev/null || echo "n/a"
import socket, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); f = s.makefile("rw")
def ask(cmd):
    f.write(cmd + "\n"); f.flush()
    n = int(f.readline().split()[0])
    return [f.readline().rstrip("\n") for _ in range(max(n, 0))]
ids = [line.split(" ", 1)[1] for line in ask("LISTVAL")]
print(sum(len(ask('GETVAL "%s"' % i)) for i in ids))
PY
)

# Stops: the daemon by SIGTERM, which must end it with status 0.
kill -TERM "$daemon_pid"
daemon_status=0
wait "$daemon_wrapper" || daemon_status=$?
daemon_pid="" daemon_wrapper=""
kill -TERM "$collectd_pid" 2>/dev/null || true
wait "$collectd_wrapper" 2>/dev/null || true
collectd_pid="" collectd_wrapper=""

awk -v t0="$t0" -v t1="$t1" -v hz="$hz" -v d0="$d0" -v d1="$d1" -v c0="$c0" -v c1="$c1" \
    -v drss="$d_rss" -v dhwm="$d_hwm" -v dpss="$d_pss" -v crss="$c_rss" -v chwm="$c_hwm" -v cpss="$c_pss" \
    -v dval="$d_values" -v cval="$c_values" -v clients="$clients" 'BEGIN {
  w = t1 - t0
  dc = 100 * (d1 - d0) / hz / w; cc = 100 * (c1 - c0) / hz / w
  printf "window %.1f s, %d clients\n", w, clients
  printf "%-20s %10s %9s %9s %9s %10s\n", "daemon", "CPU %", "RSS MiB", "HWM MiB", "PSS MiB", "values/s"
  printf "%-20s %10.3f %9.1f %9.1f %9.1f %10s\n", "TelvoServerDaemon", dc, drss/1024, dhwm/1024, dpss/1024, dval
  printf "%-20s %10.3f %9.1f %9.1f %9.1f %10s\n", "collectd", cc, crss/1024, chwm/1024, cpss/1024, cval
  printf "%-20s %10s %9.2f %9.2f %9.2f %10s\n", "ours/collectd", (cc > 0 ? sprintf("%.2f", dc / cc) : "n/a"),
         drss / crss, dhwm / chwm, dpss / cpss, (cval + 0 > 0 && dval + 0 > 0 ? sprintf("%.2f", dval / cval) : "n/a")
}'
if [ -n "$rss60" ]; then
  awk -v a="$rss60" -v m="$rss_max" -v e="$d_rss" 'BEGIN {
    printf "daemon VmRSS at 60 s: %.1f MiB, highest after: %.1f MiB (%+.1f), at the end: %.1f MiB\n", a/1024, m/1024, (m-a)/1024, e/1024 }'
fi
[ -n "$clients_line" ] && echo "$clients_line"
if [ "$daemon_status" -ne 0 ]; then
  echo "compare: the daemon ended with status $daemon_status on SIGTERM" >&2
  exit 1
fi
echo "daemon stopped by SIGTERM with status 0"
