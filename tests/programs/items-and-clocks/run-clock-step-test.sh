#!/usr/bin/env bash
# The real daemon whose wall clock steps, through its test clock setting (a file of seconds
# added to the real clock; the machine's clock is never touched), three runs side by side,
# each in network namespaces of its own with traffic across a veth pair: started a day ahead
# and then corrected; a day ahead and back while running; an hour back. After each step the
# hour rows go on within 30 s, each step is logged once with its size, and after SIGTERM every
# bandwidth row ends after it starts and spans no more than its ten-minute slot.
#   run-clock-step-test.sh <daemon> <telvo-client> <telvo-client-passcode>
set -u
daemon=$1 client=$2 passcode_tool=$3
work=$(mktemp -d)
status=0
tag=tvc$$
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  wait 2>/dev/null
  for ns in $(ip netns list | awk '{print $1}' | grep "^$tag"); do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/../netns-helpers.sh"
for tool in ip python3 sqlite3; do need "$tool"; done

# run <name> <port> <seconds between steps> <offset>...: one daemon started at the first
# offset, stepped to each further one; writes its verdict into $work/<name>.result.
run() {
  local name=$1 port=$2 pause=$3; shift 3
  local here=$tag-$name-a peer=$tag-$name-b dir=$work/$name
  local root=$dir/root offsets=$dir/offset
  mkdir -p "$root/Library/Preferences"
  result() { echo "$*" >>"$dir.result"; }
  make_namespaces "$here" "$peer"
  ip link add a0 netns "$here" type veth peer name b0 netns "$peer"
  nsx "$here" ip link set lo up
  nsx "$here" ip addr add 10.78.0.2/24 dev a0
  nsx "$here" ip link set a0 up
  nsx "$peer" ip addr add 10.78.0.1/24 dev b0
  nsx "$peer" ip link set b0 up
  cat >"$root/Library/Preferences/com.kestro.telvoserverbackend.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>port</key><integer>$port</integer><key>bonjour enabled</key><integer>0</integer></dict></plist>
PLIST
  echo "$1" >"$offsets"
  local log="$root/Library/Logs/TelvoServer.log"
  TELVO_ROOT=$root TELVO_TEST_CLOCK_OFFSET_FILE=$offsets ip netns exec "$here" "$daemon" >/dev/null 2>&1 &
  local dpid=$!
  echo "$dpid" >"$dir.pid"
  for _ in $(seq 600); do grep -q "Waiting for connections on port $port\." "$log" 2>/dev/null && break; sleep 0.1; done
  grep -q "Waiting for connections on port $port\." "$log" 2>/dev/null || { result "FAIL: $name: the daemon did not listen"; return; }
  # Traffic all along: about 60 KB a second across the pair.
  ip netns exec "$peer" python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
end = time.time() + 300
try:
    while time.time() < end:
        for _ in range(40):
            s.sendto(b"z" * 1400, ("10.78.0.2", 9))
        time.sleep(0.9)
except OSError:
    pass
' &
  local traffic=$!
  local steps=""
  shift
  sleep "$pause"
  for offset in "$@"; do
    echo "$offset" >"$offsets"
    steps+="$(python3 -c "import time; print(time.time() + $offset)") "
    sleep "$pause"
  done
  kill "$traffic" 2>/dev/null
  kill -TERM "$dpid"
  wait "$dpid"
  local rc=$?
  [ $rc = 0 ] || result "FAIL: $name: the daemon ended with $rc after SIGTERM"
  local db="$root/Library/Application Support/Telvo Server/databases"
  python3 - "$name" "$db" "$log" "$pause" "$steps" <<'PY' >>"$dir.result"
import re, sqlite3, sys
name, db, log, pause, steps = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), sys.argv[5].split()
local = sqlite3.connect(db + "/local.db")
out = []
for at in map(float, steps):
    n = local.execute("select count(*) from hour_cpuhistory where empty = 0 and time > ? and time <= ?",
                      (at, at + 30)).fetchone()[0]
    out.append(f"{n} hour rows in the 30 s after the step to {at:.0f}")
    if n < 3:
        print(f"FAIL: {name}: only {n} hour rows within 30 s of the step to {at:.0f}")
ids = [r[0] for r in local.execute("select sample from hour_cpuhistory order by rowid")]
if any(b <= a for a, b in zip(ids, ids[1:])):
    print(f"FAIL: {name}: hour sample numbers do not grow")
bw = sqlite3.connect(db + "/bandwidth.db")
rows = bw.execute("select s.start, s.end, m.interface, s.download from bandwidth_samples s "
                  "join bandwidth_interface_map m on m.identifier = s.interface").fetchall()
out.append("bandwidth rows " + "; ".join(f"{i} {s:.0f}-{e:.0f} ({e - s:.0f} s, {d:.0f} B)" for s, e, i, d in rows))
if not [r for r in rows if r[2] == "a0"]:
    print(f"FAIL: {name}: no bandwidth row for a0")
for s, e, i, d in rows:
    if not (e > s) or e - s > 601:
        print(f"FAIL: {name}: bandwidth row of {i} from {s} to {e}")
text = open(log).read()
lines = re.findall(r"clock stepped by ([+-]\d+) s", text)
out.append("logged steps " + ", ".join(lines))
if len(lines) != len(steps):
    print(f"FAIL: {name}: {len(lines)} step lines for {len(steps)} steps")
print(f"{name}: " + " | ".join(out))
PY
}

# Each runs about 2 to 3 × 35 s; all three side by side.
run ahead 5331 35 86400 0 &
pids+=($!)
run aheadback 5332 35 0 86400 0 &
pids+=($!)
run hourback 5333 35 0 -3600 &
pids+=($!)
for p in "${pids[@]}"; do wait "$p"; done
for name in ahead aheadback hourback; do
  [ -f "$work/$name.pid" ] && pids+=("$(cat "$work/$name.pid")")
  cat "$work/$name.result" 2>/dev/null || { echo "FAIL: $name: no result"; status=1; }
  grep -q "^FAIL" "$work/$name.result" 2>/dev/null && status=1
done
[ $status = 0 ] && echo "PASS: the history goes on across wall-clock steps"
exit $status
