#!/usr/bin/env bash
# Router port mapping against a real router: three network namespaces joined by two veth pairs,
# LAN (the probe, 10.99.0.2) - router (miniupnpd, 10.99.0.1 inside, 11.22.33.1 outside) - WAN.
# Every address lives only inside these namespaces. First with UPnP on: the probe maps its port
# and `upnpc -l` must list the entry; then with UPnP off: the NAT-PMP path maps and renews.
# Fails loudly when the namespaces cannot be made. Removes everything it made.
#   run-portmap-netns-test.sh <probe>
set -u
probe=$1
tag=tvs$$
lan=$tag-lan router=$tag-rtr wan=$tag-wan
work=$(mktemp -d)
status=0

cleanup() {
  if [ -f "$work/miniupnpd.pid" ]; then kill "$(cat "$work/miniupnpd.pid")" 2>/dev/null; fi
  [ -n "${mpid:-}" ] && kill "$mpid" 2>/dev/null && wait "$mpid" 2>/dev/null
  for ns in "$lan" "$router" "$wan"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/../netns-helpers.sh"
for tool in ip nft miniupnpd upnpc; do need "$tool"; done
make_namespaces "$lan" "$router" "$wan"

set -e
ip link add lan0 netns "$lan" type veth peer name rlan0 netns "$router"
ip link add rwan0 netns "$router" type veth peer name wan0 netns "$wan"
nsx "$lan" ip link set lo up
nsx "$lan" ip addr add 10.99.0.2/24 dev lan0
nsx "$lan" ip link set lan0 up
nsx "$lan" ip route add default via 10.99.0.1
nsx "$lan" ip route add 239.0.0.0/8 dev lan0
nsx "$router" ip link set lo up
nsx "$router" ip addr add 10.99.0.1/24 dev rlan0
nsx "$router" ip addr add 11.22.33.1/24 dev rwan0
nsx "$router" ip link set rlan0 up
nsx "$router" ip link set rwan0 up
nsx "$router" ip route add 239.0.0.0/8 dev rlan0
nsx "$wan" ip addr add 11.22.33.2/24 dev wan0
nsx "$wan" ip link set wan0 up
cat >"$work/tables.nft" <<'NFT'
table inet filter {
  chain forward { type filter hook forward priority 0; policy accept; jump miniupnpd; }
  chain miniupnpd { }
  chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
  chain postrouting { type nat hook postrouting priority 100; policy accept; jump postrouting_miniupnpd; }
  chain prerouting_miniupnpd { }
  chain postrouting_miniupnpd { }
}
NFT
nsx "$router" nft -f "$work/tables.nft"
set +e

start_router() {  # $1: yes or no for UPnP
  if [ -f "$work/miniupnpd.pid" ]; then kill "$(cat "$work/miniupnpd.pid")" 2>/dev/null; fi
  [ -n "${mpid:-}" ] && kill "$mpid" 2>/dev/null && wait "$mpid" 2>/dev/null
  rm -f "$work/miniupnpd.pid"
  cat >"$work/miniupnpd.conf" <<CONF
ext_ifname=rwan0
listening_ip=rlan0
ext_ip=11.22.33.1
enable_upnp=$1
enable_natpmp=yes
secure_mode=no
system_uptime=yes
lease_file=$work/leases
uuid=3d3cec3a-8cf0-11e0-98ee-001a6bd2d07b
allow 1024-65535 10.99.0.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
CONF
  nsx "$router" miniupnpd -f "$work/miniupnpd.conf" -P "$work/miniupnpd.pid" -d >"$work/miniupnpd-$1.log" 2>&1 &
  mpid=$!
  for _ in $(seq 1 100); do
    if [ "$1" = yes ]; then grep -q 'HTTP listening on port' "$work/miniupnpd-$1.log" && return 0
    else grep -q 'Listening for NAT-PMP' "$work/miniupnpd-$1.log" && return 0; fi
    sleep 0.05
  done
  echo "FAIL: miniupnpd did not start"; cat "$work/miniupnpd-$1.log"; exit 1
}

run_probe() {  # $1: mode, $2: root folder name; output in $work/probe-$1.out
  mkdir -p "$work/root-$2"
  TELVO_ROOT="$work/root-$2" timeout 120 ip netns exec "$lan" "$probe" "$1" >"$work/probe-$1.out" 2>&1
  local rc=$?
  cat "$work/probe-$1.out"
  [ $rc -eq 0 ] || fail "probe $1 exited with $rc"
}

echo "== UPnP"
start_router yes
run_probe upnp upnp
grep -q '^notification status=1$' "$work/probe-upnp.out" || fail "no notification with status 1"
grep -q '^notification status=2 port=5109$' "$work/probe-upnp.out" || fail "no notification with status 2 and the port"
grep -q '^status 2 port 5109$' "$work/probe-upnp.out" || fail "the mapping did not reach status 2"
id=$(sed -n 's/^identifier //p' "$work/probe-upnp.out")
nsx "$lan" upnpc -m lan0 -l >"$work/upnpc.out" 2>&1
cat "$work/upnpc.out"
grep -q "TCP  5109->10.99.0.2:5109  'Telvo Server ($id) on 5109'" "$work/upnpc.out" \
  || fail "upnpc -l does not list 'Telvo Server ($id) on 5109'"
# A new wanted port (same installation): the old entry goes, the new one comes.
run_probe remap upnp
grep -q "^remapped 5110: removed 5109 yes" "$work/probe-remap.out" || fail "the old entry was not withdrawn"
nsx "$lan" upnpc -m lan0 -l >"$work/upnpc2.out" 2>&1
cat "$work/upnpc2.out"
grep -q "Telvo Server ($id) on 5109'" "$work/upnpc2.out" && fail "the entry for 5109 stayed after the re-mapping"
grep -q "TCP  5110->10.99.0.2:5109  'Telvo Server ($id) on 5110'" "$work/upnpc2.out" || fail "no entry for 5110"

echo "== NAT-PMP (UPnP off)"
start_router no
run_probe natpmp natpmp
grep -q '^status 2 port ' "$work/probe-natpmp.out" || fail "NAT-PMP did not map"
grep -q '^renewed 1 status 2$' "$work/probe-natpmp.out" || fail "NAT-PMP did not renew"
nsx "$router" nft list chain inet filter prerouting_miniupnpd >"$work/nft.out" 2>&1
cat "$work/nft.out"
grep -q 'dport 5109' "$work/nft.out" || fail "no forwarding of port 5109 on the router"

if [ $status -eq 0 ]; then echo "PASS"; else echo "--- miniupnpd"; cat "$work"/miniupnpd-*.log; fi
exit $status
