#!/usr/bin/env bash
# The network collector in a network namespace of its own, joined by two veth pairs to a peer
# namespace (every address lives only inside them): link-local-only and routable status, items
# with their addresses, a new default route, rates of a few megabytes sent across the pair,
# link down and up keeping the same item. Then the real daemon in that namespace (a private
# root, its own port there): "network" served to the protocol client, and after more than
# 100 KiB of traffic SIGTERM stores the partial bandwidth bucket ending at the stop time.
# Fails loudly when the namespaces cannot be made. Removes everything it made.
#   run-network-netns-test.sh <probe> <daemon> <telvo-client> <telvo-client-passcode>
set -u
probe=$1 daemon=$2 client=$3 passcode_tool=$4
tag=tvn$$
here=$tag-a peer=$tag-b
work=$(mktemp -d)
status=0

cleanup() {
  [ -n "${PROBE_PID:-}" ] && kill "$PROBE_PID" 2>/dev/null
  [ -n "${dpid:-}" ] && kill -9 "$dpid" 2>/dev/null
  for ns in "$here" "$peer"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/../netns-helpers.sh"
for tool in ip python3 sqlite3; do need "$tool"; done
make_namespaces "$here" "$peer"

set -e
ip link add a0 netns "$here" type veth peer name b0 netns "$peer"
ip link add a1 netns "$here" type veth peer name b1 netns "$peer"
nsx "$here" ip link set lo up
nsx "$peer" ip link set lo up
nsx "$peer" ip addr add 10.77.0.1/24 dev b0
nsx "$peer" ip link set b0 up
nsx "$peer" ip link set b1 up
nsx "$here" ip link set a0 up
set +e

# Wait until a0 has its link-local address.
# (Deadlines here are 60 s of real time: the machine may be busy.)
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do nsx "$here" ip -6 addr show dev a0 | grep -q "fe80::" && break; sleep 0.1; done

coproc PROBE { ip netns exec "$here" "$probe" 2>"$work/probe.err"; }
ask() {  # ask <command>: the answer's lines in $answer
  answer=""
  echo "$1" >&"${PROBE[1]}"
  local l
  while IFS= read -r -t 60 l <&"${PROBE[0]}"; do
    [ "$l" = "END" ] && return 0
    answer+="$l"$'\n'
  done
  fail "no answer to '$1' (probe: $(cat "$work/probe.err"))"
  return 1
}
read -r -t 60 first <&"${PROBE[0]}" || { fail "the probe did not start: $(cat "$work/probe.err")"; exit 1; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2" | head -1; }
itemline() { grep "^item bsd=$1 " <<<"$answer"; }
session=0
# await <description> <condition>: asks for the items until the condition (a shell command run
# on $answer) holds, waiting for the collector's next change in between (20 changes at most).
await() {
  local what=$1; shift
  for _ in $(seq 20); do
    ask show
    "$@" && return 0
    ask "wait $((session + 1))"
    session=$(field session "$answer")
  done
  fail "$what: $answer"
  return 1
}
has() { grep -q -- "$1" <<<"$answer"; }
hasnt() { ! grep -q -- "$1" <<<"$answer"; }
xmlitems() { ask "xml 3"; [ "$(field items "$answer")" = "$1" ]; }

ask show
[ "$(field status "$answer")" = 0 ] || fail "status before the first change: $(field status "$answer")"
a0=$(itemline a0)
[ -n "$a0" ] || fail "no item for a0: $answer"
uuid=$(field uuid "$a0")
[[ "$uuid" =~ ^[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$ ]] || fail "uuid $uuid"
grep -q "name=Ethernet - a0 mac=" <<<"$a0" || fail "name of a0: $a0"
[[ "$(field mac "$a0")" =~ ^([0-9A-F]{2}:){5}[0-9A-F]{2}$ ]] || fail "mac of a0: $a0"
[[ "$(field ip "$a0")" == fe80::* ]] || fail "ip of a0: $a0"

nsx "$here" ip link set a1 up
await "status 1 with link-local addresses only, items a0 and a1" \
  eval 'has "^status=1 " && has "^item bsd=a1 .*temporary=0"'

nsx "$here" ip addr add 10.77.0.2/24 dev a0
await "status 2 with a routable address, IPv4 then IPv6" eval 'has "^status=2 " && has "^item bsd=a0 .* ip=10.77.0.2,fe80::"'

# A new default route: the primary settings follow, only the collector's ring is reset.
ask tick
ask tick
ask show
[ "$(field primary "$answer")" = "" ] || fail "a primary interface before any default route"
before_id=$(field id "$(itemline a1)")
[ "$(field ring0 "$answer")" != 0 ] || fail "the collector's ring has no sample before the route"
nsx "$here" ip route add default via 10.77.0.1 dev a0
await "primary a0 after the default route" has "^status=2 primary=a0 "
[ "$(field ring0 "$answer")" = 0 ] || fail "the collector's ring was not reset: $answer"
[ "$(field id "$(itemline a1)")" = "$before_id" ] || fail "an item's ring was touched by the primary change"

# A few megabytes across the pair show as the download rate of a0.
ask tick
ask show
before=$(itemline a0)
nsx "$peer" python3 - <<'PY'
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
chunk = b"x" * 1400
for _ in range(3000):  # 4.2 MB of payload
    s.sendto(chunk, ("10.77.0.2", 9))
PY
ask tick
ask show
after=$(itemline a0)
python3 - "$before" "$after" <<'PY' || fail "rate of a0 not within 10 % of what was sent: $before / $after"
import re, sys
b = dict(re.findall(r"(\w+)=(\S+)", sys.argv[1]))
a = dict(re.findall(r"(\w+)=(\S+)", sys.argv[2]))
sent = 3000 * (1400 + 8 + 20 + 14)  # payload, UDP, IPv4 and Ethernet headers
dt = float(a["last"]) - float(b["last"])
counted = float(a["d"]) * dt
print(f"sent {sent} bytes, rate {float(a['d']):.0f} B/s over {dt:.3f} s = {counted:.0f} bytes")
sys.exit(0 if dt > 0 and abs(counted - sent) <= 0.1 * sent else 1)
PY

# Link down: a0 turns temporary with samples of 0; with a1 live it is still sent.
nsx "$here" ip link set a0 down
await "a0 temporary after link down" has "^item bsd=a0 .*temporary=1"
ask tick
ask show
a0=$(itemline a0)
for v in d u rx tx; do [ "$(field $v "$a0")" = 0 ] || fail "a0 $v not 0 while down: $a0"; done
xmlitems 2 || fail "items in the reply with a1 live: $answer"
nsx "$here" ip link set a1 down
await "a1 temporary" has "^item bsd=a1 .*temporary=1"
xmlitems 0 || fail "items in the reply with no live item: $answer"
samples_down=$(field samples "$a0")
nsx "$here" ip link set a0 up
await "a0 revived" has "^item bsd=a0 .*temporary=0"
ask tick
ask show
a0=$(itemline a0)
[ "$(field uuid "$a0")" = "$uuid" ] || fail "a0 came back as another item"
[ "$(field samples "$a0")" -gt "$samples_down" ] || fail "a0's ring did not go on: $a0"

# The daemon in the namespace.
exec {PROBE[1]}>&-
wait "$PROBE_PID" 2>/dev/null
root=$work/root
port=5300  # free: the namespace is the test's own
mkdir -p "$root/Library/Preferences"
cat >"$root/Library/Preferences/com.kestro.telvoserverbackend.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>port</key><integer>$port</integer><key>bonjour enabled</key><integer>0</integer></dict></plist>
PLIST
log="$root/Library/Logs/TelvoServer.log"
started=$(date +%s)
TELVO_ROOT=$root ip netns exec "$here" "$daemon" >/dev/null 2>&1 &
dpid=$!
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do grep -q "Waiting for connections on port $port\." "$log" 2>/dev/null && break; sleep 0.05; done
grep -q "Waiting for connections on port $port\." "$log" 2>/dev/null || fail "the daemon did not listen: $(tail -5 "$log" 2>/dev/null)"
code=$("$passcode_tool" "$root")
stats() { nsx "$here" "$client" --host 127.0.0.1 --port "$port" --passcode "$code" --stats network 2>&1; }
a0counter() { grep -o '<item [^>]*bsd="a0"[^>]*>' <<<"$1" | sed -n 's/.* d="\([0-9]*\)".*/\1/p'; }
# The bucket starts at the first tick that reads a0: wait for it before the traffic.
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do
  reply=$(stats)
  d=$(a0counter "$reply")
  [ -n "$d" ] && [ "$d" -gt 0 ] && break
  sleep 0.1
done
nsx "$peer" python3 - <<'PY'
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for _ in range(200):  # 280 KB of payload
    s.sendto(b"y" * 1400, ("10.77.0.2", 9))
PY
rx=$(nsx "$here" cat /sys/class/net/a0/statistics/rx_bytes 2>/dev/null || echo 0)
# Until a tick has read the counters after the traffic (the item's "d" is the newest counter).
served=""
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do
  reply=$(stats)
  d=$(a0counter "$reply")
  if [ -n "$d" ] && [ "$d" -ge "$rx" ]; then served=yes; break; fi
  sleep 0.1
done
[ -n "$served" ] || fail "the daemon did not serve a0's counters: $reply"
grep -q "name=\"Ethernet - a0\"" <<<"$reply" || fail "no named item for a0 in: $reply"
stopping=$(date +%s.%N)
kill -TERM "$dpid"
wait "$dpid"
rc=$?
stopped=$(date +%s.%N)
dpid=""
[ $rc = 0 ] || fail "the daemon ended with $rc after SIGTERM"
db="$root/Library/Application Support/Telvo Server/databases/bandwidth.db"
rows=$(sqlite3 "$db" "select s.start, s.end, m.interface, s.download from bandwidth_samples s join bandwidth_interface_map m on m.identifier = s.interface" 2>&1)
python3 - "$rows" "$started" "$stopping" "$stopped" <<'PY' || fail "bandwidth rows after SIGTERM: $rows"
import sys
rows = [r.split("|") for r in sys.argv[1].splitlines() if r]
started, stopping, stopped = float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
a0 = [r for r in rows if r[2] == "a0"]
print("bandwidth rows:", rows)
# The bucket ends when the daemon handles SIGTERM: after the signal was sent, before it ended
# (within a second for the stored time's precision), however long a busy machine took.
ok = len(a0) == 1 and float(a0[0][3]) > 102400 and started - 1 <= float(a0[0][0]) <= float(a0[0][1]) \
     and stopping - 1 <= float(a0[0][1]) <= stopped + 1
sys.exit(0 if ok else 1)
PY

[ $status = 0 ] && echo "PASS: network collector across veth pairs"
exit $status
