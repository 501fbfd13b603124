#!/usr/bin/env bash
# The real daemon while loop devices are attached, mounted, unmounted and detached about twenty
# times a second for 60 s (ten workers, each with an image of its own), as other users' disk
# images do on a shared host. Every volume's level-0 sample numbers, as the protocol client
# receives them, strictly increase, and the root volume holds one sample per sampling tick (every
# third second), so that its 602 slots still reach back 602 s and more.
#   run-loop-churn-test.sh <daemon> <telvo-client> <telvo-client-passcode>
set -u
daemon=$1 client=$2 passcode_tool=$3
work=$(mktemp -d)
status=0
tag=tvl$$
ns=$tag
dpid=""
workers=()
cleanup() {
  for w in "${workers[@]}"; do kill "$w" 2>/dev/null; done
  for w in "${workers[@]}"; do wait "$w" 2>/dev/null; done
  [ -n "$dpid" ] && { kill -TERM "$dpid" 2>/dev/null; wait "$dpid" 2>/dev/null; }
  for m in "$work"/mnt*; do mountpoint -q "$m" 2>/dev/null && umount "$m"; done
  for i in "$work"/image*; do
    for d in $(losetup -j "$i" -O NAME -n 2>/dev/null); do losetup -d "$d"; done
  done
  ip netns del "$ns" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/../netns-helpers.sh"
for tool in ip python3 losetup mkfs.ext4 mount umount; do need "$tool"; done
make_namespaces "$ns"
nsx "$ns" ip link set lo up

for w in $(seq 0 9); do
  truncate -s 8M "$work/image$w"
  mkfs.ext4 -q -F "$work/image$w" || { echo "FAIL: cannot make an ext4 image"; exit 1; }
  mkdir "$work/mnt$w"
done
probe=$(losetup -f --show "$work/image0" 2>&1) || { echo "FAIL: cannot attach a loop device: $probe"; exit 1; }
losetup -d "$probe"

root=$work/root
port=5341
mkdir -p "$root/Library/Preferences"
cat >"$root/Library/Preferences/com.kestro.telvoserverbackend.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>port</key><integer>$port</integer><key>bonjour enabled</key><integer>0</integer></dict></plist>
PLIST
log="$root/Library/Logs/TelvoServer.log"
TELVO_ROOT=$root ip netns exec "$ns" "$daemon" >/dev/null 2>&1 &
dpid=$!
for _ in $(seq 600); do grep -q "Waiting for connections on port $port\." "$log" 2>/dev/null && break; sleep 0.1; done
grep -q "Waiting for connections on port $port\." "$log" 2>/dev/null || { echo "FAIL: the daemon did not listen"; exit 1; }
code=$("$passcode_tool" "$root")
started=$(date +%s)
sleep 5

# One worker: attach, mount, unmount, detach, at most two and a half times a second.
churn() {
  local w=$1 n=0 end=$(( $(date +%s) + 60 ))
  while [ "$(date +%s)" -lt "$end" ]; do
    local t0 dev
    t0=$(date +%s%N)
    dev=$(losetup -f --show "$work/image$w" 2>/dev/null) || continue
    if mount -o ro "$dev" "$work/mnt$w" 2>/dev/null; then
      umount "$work/mnt$w" 2>/dev/null || { sleep 0.1; umount -l "$work/mnt$w"; }
    fi
    losetup -d "$dev"
    n=$((n + 1))
    local left=$(( 400000000 - ($(date +%s%N) - t0) ))
    [ $left -gt 0 ] && sleep "0.$(printf %09d $left)"
  done
  echo "$n" >"$work/cycles$w"
}
for w in $(seq 0 9); do churn $w & workers+=($!); done
for w in "${workers[@]}"; do wait "$w"; done
workers=()
cycles=$(( $(cat "$work"/cycles* | paste -sd+ | bc) ))
sleep 7
reply=$(nsx "$ns" "$client" --host 127.0.0.1 --port "$port" --passcode "$code" --stats disks 2>&1)
elapsed=$(( $(date +%s) - started ))
python3 - "$reply" "$cycles" "$elapsed" <<'PY' || status=$?
import re, sys
reply, cycles, elapsed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
ok = True
items = re.findall(r'<item ([^>]*)>(.*?)</item>', reply, re.S)
print(f"{cycles} attach-mount-unmount-detach cycles in 60 s ({cycles / 60:.1f} a second); {len(items)} volumes served")
if cycles < 60:
    # Under one event a second the old fault (a sample per event) would hardly show.
    print("SKIP: fewer than one cycle a second; the machine is too busy for this check")
    sys.exit(77)
root = None
for attrs, body in items:
    name = re.search(r'name="([^"]*)"', attrs)
    ids = [int(x) for x in re.findall(r'<s [^>]*id="(-?\d+)"', body)]
    times = [int(x) for x in re.findall(r'<s [^>]*time="(\d+)"', body)]
    if any(b <= a for a, b in zip(ids, ids[1:])):
        print(f"FAIL: volume {name.group(1) if name else attrs}: sample numbers do not strictly increase: {ids}")
        ok = False
    if 'boot="1"' in attrs:
        root = (ids, times)
if not root:
    print("FAIL: no root volume in the reply:\n" + reply[:2000])
    sys.exit(1)
ids, times = root
span = times[-1] - times[0] if times else 0
print(f"root volume: {len(ids)} samples over {span} s after {elapsed} s of running (one every {span / max(1, len(ids) - 1):.2f} s)")
if len(ids) > elapsed / 3 + 2:
    print(f"FAIL: {len(ids)} samples in {elapsed} s: more than one per sampling tick")
    ok = False
if len(ids) > 1 and span / (len(ids) - 1) < 2.5:
    print("FAIL: the samples are closer than the sampling ticks: 602 of them would not reach back 602 s")
    ok = False
sys.exit(0 if ok else 1)
PY
[ $status = 0 ] && echo "PASS: loop-device churn takes one sample per tick"
exit $status
