#!/usr/bin/env bash
# Real polkit for the authorization stand-in, inside the private mount namespace that the
# caller made (unshare -m): tmpfs over /run/dbus, /etc/polkit-1/rules.d and
# /usr/share/polkit-1/actions, a system bus on /run/dbus/system_bus_socket and polkitd, our
# policy file with the trampoline's path, and a throw-away non-root user (polkitd authorises
# root whatever a rule says). The machine's own bus and rules are never touched. The user has a
# password and is the only administrator polkit knows here, so that with no rule polkit's text
# agent asks for that password on the probe's own terminal.
# Prints "<phase>.<key>=<value>" lines (and the tools' output after "<phase>."); exits 77 with a
# "SKIP:" line when something it needs is missing.
#   polkit-namespace.sh <probe> <trampoline> <policy file>
set -u
probe=$1 trampoline=$2 policy=$3

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
[ "$(id -u)" = 0 ] || skip "needs root"
[ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ] || fail "not inside a private mount namespace"
[ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is missing (Debian package polkitd; scripts/install-deps.sh)"
[ -u /usr/bin/pkexec ] || skip "pkexec is missing (Debian package pkexec; scripts/install-deps.sh)"
for tool in pkcheck dbus-daemon dbus-send useradd userdel setpriv; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

user=tvauth$$
work=$(mktemp -d /tmp/telvo-authz-XXXXXX)
polkitd_pid=
cleanup() {
  [ -n "${sleeper:-}" ] && kill "$sleeper" 2>/dev/null && wait "$sleeper" 2>/dev/null
  [ -n "$polkitd_pid" ] && kill "$polkitd_pid" 2>/dev/null && wait "$polkitd_pid" 2>/dev/null
  [ -f /run/dbus/pid ] && kill "$(cat /run/dbus/pid)" 2>/dev/null
  # -f: a process of the user that is still ending must not leave the user behind.
  userdel -f "$user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

password=tv-$RANDOM-$$-$RANDOM
useradd --no-create-home --no-user-group --shell /usr/sbin/nologin "$user" || skip "cannot add a test user"
echo "$user:$password" | chpasswd || fail "cannot set the test user's password"
uid=$(id -u "$user") gid=$(id -g "$user")
# The user runs copies, so that the build tree need not be open to it.
chmod 755 "$work"
mkdir "$work/bin" "$work/root"
cp "$probe" "$work/bin/probe" && cp "$trampoline" "$work/bin/telvo-privileged-exec" || fail "cannot copy the programs"
chmod 755 "$work/bin"/*
tramp=$work/bin/telvo-privileged-exec

for folder in /run/dbus /etc/polkit-1/rules.d /usr/share/polkit-1/actions; do
  mkdir -p "$folder" && mount -t tmpfs -o mode=0755 tmpfs "$folder" || skip "cannot mount a tmpfs over $folder"
done
sed "s|/usr/libexec/telvo/telvo-privileged-exec|$tramp|" "$policy" >/usr/share/polkit-1/actions/com.kestro.telvoserver.policy

rules() {  # $1: YES or NO for our execute action and the test user, NONE for the policy's own
  cat >/etc/polkit-1/rules.d/00-telvo-test.rules <<RULES
polkit.addAdminRule(function(action, subject) { return ["unix-user:$user"]; });
RULES
  [ "$1" = NONE ] && return
  cat >>/etc/polkit-1/rules.d/00-telvo-test.rules <<RULES
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

as_user() {  # runs as the test user, without a terminal, with a small environment of its own
  setsid --wait setpriv --reuid="$uid" --regid="$gid" --init-groups \
    env -i PATH=/usr/bin:/bin TELVO_ROOT="$work/root" TELVO_PROBE_LEAK=1 "$@"
}
phase() { sed -e "s/\x1b\[[0-9;]*m//g" -e "s/^/$1./"; }

dbus-daemon --system --fork >/dev/null || skip "cannot start a system bus"

# No rule: the administrator is asked once, and pkexec finds the answer kept.
rules NONE
start_polkitd
as_user "$work/bin/probe" --password "$password" --trampoline "$tramp" run /usr/bin/id -u 2>&1 | phase keep

rules YES
start_polkitd
as_user "$work/bin/probe" --trampoline "$tramp" run /usr/bin/id -u 2>&1 | phase yes
as_user "$work/bin/probe" --trampoline "$tramp" run /usr/bin/env 2>&1 | phase yesenv
# The control application's own request before each change it makes.
as_user "$work/bin/probe" authorized 2>&1 | phase yesauth
# The helper right falls to the policy's auth_admin_keep: nobody can be asked here.
as_user "$work/bin/probe" copy com.apple.ServiceManagement.blesshelper 19 2>&1 | phase yesbless
# The root side asks about a process of the user, from its credentials.
setpriv --reuid="$uid" --regid="$gid" --clear-groups sleep 60 &
sleeper=$!
"$work/bin/probe" check "$sleeper" "$uid" system.privilege.admin 0 2>&1 | phase yescheck

rules NO
start_polkitd
as_user "$work/bin/probe" --trampoline "$tramp" run /usr/bin/id -u 2>&1 | phase no
as_user "$work/bin/probe" authorized 2>&1 | phase noauth
"$work/bin/probe" check "$sleeper" "$uid" system.privilege.admin 0 2>&1 | phase nocheck
# pkexec itself refuses, whatever the caller holds or claims.
as_user /usr/bin/pkexec "$tramp" --root / -- /usr/bin/id -u >"$work/pkexec.out" 2>/dev/null
echo "nopkexec.exit=$?"
echo "nopkexec.output=$(cat "$work/pkexec.out")"
exit 0
