#!/usr/bin/env bash
# The update windows' install through real polkit, inside the private mount namespace that the
# caller made (unshare -m), as tests/platform/authorization/polkit-namespace.sh sets polkit up:
# tmpfs over /run/dbus, /etc/polkit-1/rules.d and /usr/share/polkit-1/actions, a system bus and
# polkitd, our policy file naming the given trampoline, and the given user as the only
# administrator. The machine's own bus and rules are never touched. The driver runs twice: with
# a rule that says NO for our action, then with one that says YES.
# Prints "<phase>.<key>=<value>" lines; exits 77 with a "SKIP:" line when something it needs is
# missing.
#   polkit-install.sh <user> <trampoline> <policy file> <records folder> <Info.plist> <driver command...>
set -u
user=$1 tramp=$2 policy=$3 records=$4 info=$5
shift 5

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
[ "$(id -u)" = 0 ] || skip "needs root"
[ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ] || fail "not inside a private mount namespace"
[ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is missing (Debian package polkitd; scripts/install-deps.sh)"
[ -u /usr/bin/pkexec ] || skip "pkexec is missing (Debian package pkexec; scripts/install-deps.sh)"
for tool in dbus-daemon dbus-send setpriv setsid; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

work=$(mktemp -d /tmp/telvo-polkit-install-XXXXXX)
polkitd_pid=
cleanup() {
  [ -n "$polkitd_pid" ] && kill "$polkitd_pid" 2>/dev/null && wait "$polkitd_pid" 2>/dev/null
  [ -f /run/dbus/pid ] && kill "$(cat /run/dbus/pid)" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

for folder in /run/dbus /etc/polkit-1/rules.d /usr/share/polkit-1/actions; do
  mkdir -p "$folder" && mount -t tmpfs -o mode=0755 tmpfs "$folder" || skip "cannot mount a tmpfs over $folder"
done
sed "s|/usr/libexec/telvo/telvo-privileged-exec|$tramp|" "$policy" >/usr/share/polkit-1/actions/com.kestro.telvoserver.policy

rules() {  # $1: YES or NO for our action and the test user
  cat >/etc/polkit-1/rules.d/00-telvo-test.rules <<RULES
polkit.addAdminRule(function(action, subject) { return ["unix-user:$user"]; });
polkit.addRule(function(action, subject) {
    if (action.id == "com.kestro.telvoserver.admin" && subject.user == "$user")
        return polkit.Result.$1;
});
RULES
}

start_polkitd() {
  if [ -n "$polkitd_pid" ]; then kill "$polkitd_pid"; wait "$polkitd_pid" 2>/dev/null; fi
  /usr/lib/polkit-1/polkitd --no-debug >"$work/polkitd.log" 2>&1 &
  polkitd_pid=$!
  for _ in $(seq 400); do
    dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null | grep -q "boolean true" && return 0
    kill -0 "$polkitd_pid" 2>/dev/null || break
    sleep 0.05
  done
  cat "$work/polkitd.log"
  fail "polkitd did not come up"
}


dbus-daemon --system --fork >/dev/null || skip "cannot start a system bus"

rules NO
start_polkitd
setsid --wait "$@" >"$work/no.out" 2>&1
echo "no.exit=$?"
sed 's/^/no.driver=/' "$records/driver.log"
echo "no.build=$(tr -d '\n' <"$info" | sed -n 's|.*<key>CFBundleVersion</key>[[:space:]]*<string>\([0-9]*\)</string>.*|\1|p')"
# A relaunch would come a second after the install; there must be none.
sleep 1.5
echo "no.probe=$(cat "$records/probe.log" 2>/dev/null)"
sed 's/^/no.out=/' "$work/no.out"
rm -f "$records/driver.log"

rules YES
start_polkitd
setsid --wait "$@" >"$work/yes.out" 2>&1
echo "yes.exit=$?"
sed 's/^/yes.driver=/' "$records/driver.log"
echo "yes.build=$(tr -d '\n' <"$info" | sed -n 's|.*<key>CFBundleVersion</key>[[:space:]]*<string>\([0-9]*\)</string>.*|\1|p')"
sed 's/^/yes.out=/' "$work/yes.out"
exit 0
