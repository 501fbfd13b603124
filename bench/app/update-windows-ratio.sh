#!/usr/bin/env bash
# Download, save and unpack of an update archive through the control application's update
# windows (downloading window with its progress, then the install window; offscreen), against
# the engine doing the same alone (bench/update's telvo-update-fetch). The archive: about 100 MiB
# of programs (copies of /usr/bin and /usr/lib files) zipped by Python's zipfile, served by
# `openssl s_server -WWW` on loopback with a test CA made here.
# Usage: bash bench/app/update-windows-ratio.sh [build folder] [runs]
# Prints each run's seconds and the ratio of the medians (goal: at most 1.1).
set -euo pipefail
build=${1:-build}
runs=${2:-5}
windows="$build/bench/app/telvo-update-windows-fetch"
engine="$build/bench/update/telvo-update-fetch"
for p in "$windows" "$engine"; do [ -x "$p" ] || { echo "build $p first (TELVO_BENCH=ON)"; exit 1; }; done
work=$(mktemp -d /tmp/telvo-windows-bench-XXXXXX)
server=
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT INT TERM

mkdir -p "$work/src/Telvo Server.app/Contents/MacOS" "$work/www"
size=0
for f in /usr/bin/* /usr/lib/x86_64-linux-gnu/*.so*; do
  [ -f "$f" ] && [ ! -L "$f" ] || continue
  cp "$f" "$work/src/Telvo Server.app/Contents/MacOS/"
  size=$((size + $(stat -c %s "$f")))
  [ $size -ge $((100 << 20)) ] && break
done
/usr/bin/python3 - "$work/src" "$work/www/update.zip" <<'PY'
import os, sys, zipfile
top, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for folder, dirs, files in os.walk(top):
        for name in sorted(files):
            path = os.path.join(folder, name)
            info = zipfile.ZipInfo(os.path.relpath(path, top))
            info.external_attr = os.lstat(path).st_mode << 16
            info.create_system = 3
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                z.writestr(info, f.read())
PY
echo "programs: $((size >> 20)) MiB, archive: $(( $(stat -c %s "$work/www/update.zip") >> 20 )) MiB"

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=bench-ca -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
echo "subjectAltName=IP:127.0.0.1" > "$work/san.cnf"
openssl x509 -req -days 1 -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -extfile "$work/san.cnf" -out "$work/server.pem" 2>/dev/null
port=$((20000 + RANDOM % 20000))
(cd "$work/www" && exec openssl s_server -quiet -WWW -accept "127.0.0.1:$port" -cert "$work/server.pem" \
  -key "$work/server.key" >/dev/null 2>&1) &
server=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
through=()
alone=()
for i in $(seq "$runs"); do
  for tool in windows engine; do
    tmp="$work/tmp-$tool-$i"; mkdir -m 700 "$tmp"
    program=$windows; [ $tool = engine ] && program=$engine
    t0=$(date +%s.%N)
    TMPDIR="$tmp" "$program" "https://127.0.0.1:$port/update.zip" "$work/ca.pem" >/dev/null 2>&1
    t1=$(date +%s.%N)
    if [ $tool = windows ]; then through+=("$(echo "$t1 - $t0" | bc)"); else alone+=("$(echo "$t1 - $t0" | bc)"); fi
    rm -rf "$tmp"
  done
  echo "run $i: windows ${through[-1]} s, engine alone ${alone[-1]} s"
done
mw=$(printf '%s\n' "${through[@]}" | median)
me=$(printf '%s\n' "${alone[@]}" | median)
echo "median: windows $mw s, engine alone $me s, ratio $(echo "scale=3; $mw / $me" | bc)"
