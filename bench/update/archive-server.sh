# Sourced by the update benchmarks: the benchmark archive and its HTTPS server.
#   serve_benchmark_archive <work folder>
# puts about 100 MiB of programs (copies of /usr/bin and /usr/lib files) into
# "<work>/src/Telvo Server.app/Contents/MacOS", zips them as Python's zipfile does into
# "<work>/www/update.zip", makes a test CA ("<work>/ca.pem") and a certificate for 127.0.0.1, and
# serves "<work>/www" with `openssl s_server -WWW` on loopback: sets `port` and `server` (its
# process id, for the caller's clean-up).
# median: the median of the numbers on standard input.

serve_benchmark_archive() {
  local work=$1 size=0 f
  mkdir -p "$work/src/Telvo Server.app/Contents/MacOS" "$work/www"
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
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
