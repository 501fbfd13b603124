#!/usr/bin/env bash
# Download, save and unpack of an update archive through the engine, against bsdtar unpacking
# the same archive alone. The archive: about 100 MiB of programs (copies of /usr/bin and
# /usr/lib files) zipped by Python's zipfile, served by `openssl s_server -WWW` on loopback
# with a test CA made here. Usage: bash bench/update/unpack-ratio.sh [build folder] [runs]
# Prints each run's seconds and the ratio of the medians (goal: at most 1.5).
set -euo pipefail
build=${1:-build}
runs=${2:-5}
fetch="$build/bench/update/telvo-update-fetch"
[ -x "$fetch" ] || { echo "build $fetch first (TELVO_BENCH=ON)"; exit 1; }
work=$(mktemp -d /tmp/telvo-unpack-bench-XXXXXX)
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
engine=()
alone=()
for i in $(seq "$runs"); do
  tmp="$work/tmp$i"; mkdir -m 700 "$tmp"
  t0=$(date +%s.%N)
  TMPDIR="$tmp" "$fetch" "https://127.0.0.1:$port/update.zip" "$work/ca.pem" >/dev/null
  t1=$(date +%s.%N)
  engine+=("$(echo "$t1 - $t0" | bc)")
  out="$work/alone$i"; mkdir "$out"
  t0=$(date +%s.%N)
  bsdtar -x -f "$work/www/update.zip" -C "$out"
  t1=$(date +%s.%N)
  alone+=("$(echo "$t1 - $t0" | bc)")
  rm -rf "$tmp" "$out"
  echo "run $i: engine ${engine[-1]} s, bsdtar alone ${alone[-1]} s"
done
me=$(printf '%s\n' "${engine[@]}" | median)
ma=$(printf '%s\n' "${alone[@]}" | median)
echo "median: engine $me s, bsdtar alone $ma s, ratio $(echo "scale=2; $me / $ma" | bc)"
