# Shell functions shared by the whole-program benchmarks (bench/app/app-cost.sh,
# bench/peers/compare.sh): their checks, the daemon's private root and its start, and the
# readings of a process from /proc. Sourced; `me` names the script in its messages.

# need_seconds N: N is a whole number of seconds above 0.
need_seconds() {
  [[ "$1" =~ ^[0-9]+$ && "$1" -gt 0 ]] || { echo "$me: seconds must be a whole number" >&2; exit 2; }
}

# need_built PROGRAM...: each program is there to run.
need_built() {
  local p
  for p; do
    [ -x "$p" ] || { echo "$me: $p is missing; build first (cmake --build build)" >&2; exit 1; }
  done
}

# write_daemon_root ROOT PORT: the daemon's private root: its port, no DNS-SD advertising.
write_daemon_root() {
  mkdir -p "$1/Library/Preferences" "$1/Library/Logs"
  cat > "$1/Library/Preferences/com.kestro.telvoserverbackend.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>port</key>
	<integer>$2</integer>
	<key>bonjour enabled</key>
	<integer>0</integer>
</dict>
</plist>
PLIST
}

# wait_for_listener ROOT PORT PID OUTPUT: waits (30 s at most) until the daemon PID on ROOT logs
# that it listens on PORT; ends the script, with the tail of OUTPUT, when it stopped first.
wait_for_listener() {
  local log="$1/Library/Logs/TelvoServer.log" _
  for _ in $(seq 1 300); do
    grep -q "Waiting for connections on port $2\." "$log" 2>/dev/null && return 0
    kill -0 "$3" 2>/dev/null || { echo "$me: the daemon stopped:" >&2; tail -20 "$4" >&2; exit 1; }
    sleep 0.1
  done
  grep -q "Waiting for connections on port $2\." "$log" || { echo "$me: the daemon did not listen" >&2; exit 1; }
}

# CPU ticks of a process from its stat (the name in field 2 may hold spaces, so the fields are
# counted from the closing parenthesis). ticks PID: utime + stime (fields 14 and 15);
# ticks_with_children PID: with cutime + cstime (16 and 17) of the children it waited for.
ticks() { local s; s=$(< "/proc/$1/stat"); s=${s##*) }; set -- $s; echo $(( ${12} + ${13} )); }
ticks_with_children() { local s; s=$(< "/proc/$1/stat"); s=${s##*) }; set -- $s; echo $(( ${12} + ${13} + ${14} + ${15} )); }

# status_kib PID KEY: a KiB figure of its status (VmRSS, VmHWM ...); pss_kib PID: its
# proportional set size.
status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
pss_kib() { awk '$1 == "Pss:" { print $2 }' "/proc/$1/smaps_rollup"; }
