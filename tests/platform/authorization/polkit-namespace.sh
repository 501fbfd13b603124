#!/usr/bin/env bash
# Real polkit for the authorization stand-in, inside the private mount namespace that the
# caller made (unshare -m): tmpfs over /run/dbus, /etc/polkit-1/rules.d and
# /usr/share/polkit-1/actions, a system bus on /run/dbus/system_bus_socket and polkitd, our
# policy file with the trampoline's path, and a non-root user as the only administrator polkit
# knows here (polkitd authorises root whatever a rule says). The machine's own bus and rules are
# never touched.
# Prints "<phase>.<key>=<value>" lines (and the tools' output after "<phase>."); exits 77 with a
# "SKIP:" line when something it needs is missing.
#   polkit-namespace.sh <probe> <trampoline> <policy file> [install]
# The user is a throw-away one with a password, so that with no rule polkit's text agent asks for
# that password on the probe's own terminal. With "install", only the update window's copy into
# place with administrator rights is run (the user's home in the work folder, the destination
# under the work folder's root).
#   polkit-namespace.sh --driver <user> <trampoline> <policy file> <records folder> <Info.plist> <driver command...>
# The update windows' install as the caller's user (left as it is), through the trampoline as
# given: the driver runs twice, with a rule that says NO for our action, then with one that says
# YES.
set -u
if [ "${1:-}" = --driver ]; then
  mode=driver user=$2 tramp=$3 policy=$4 records=$5 info=$6
  shift 6
else
  probe=$1 trampoline=$2 policy=$3 mode=${4:-}
fi

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
[ "$(id -u)" = 0 ] || skip "needs root"
[ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ] || fail "not inside a private mount namespace"
[ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is missing (Debian package polkitd; scripts/install-deps.sh)"
[ -u /usr/bin/pkexec ] || skip "pkexec is missing (Debian package pkexec; scripts/install-deps.sh)"
tools="dbus-daemon dbus-send setpriv setsid"
[ "$mode" = driver ] || tools="$tools pkcheck useradd userdel"
for tool in $tools; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

work=$(mktemp -d /tmp/telvo-authz-XXXXXX)
polkitd_pid=
made_user=
cleanup() {
  [ -n "${sleeper:-}" ] && kill "$sleeper" 2>/dev/null && wait "$sleeper" 2>/dev/null
  [ -n "$polkitd_pid" ] && kill "$polkitd_pid" 2>/dev/null && wait "$polkitd_pid" 2>/dev/null
  [ -f /run/dbus/pid ] && kill "$(cat /run/dbus/pid)" 2>/dev/null
  # -f: a process of the user that is still ending must not leave the user behind.
  [ -n "$made_user" ] && userdel -f "$user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$mode" != driver ]; then
  user=tvauth$$
  password=tv-$RANDOM-$$-$RANDOM
  useradd --no-create-home --no-user-group --shell /usr/sbin/nologin "$user" || skip "cannot add a test user"
  made_user=1
  echo "$user:$password" | chpasswd || fail "cannot set the test user's password"
  uid=$(id -u "$user") gid=$(id -g "$user")
  # The user runs copies, so that the build tree need not be open to it.
  chmod 755 "$work"
  mkdir "$work/bin" "$work/root"
  cp "$probe" "$work/bin/probe" && cp "$trampoline" "$work/bin/telvo-privileged-exec" || fail "cannot copy the programs"
  chmod 755 "$work/bin"/*
  tramp=$work/bin/telvo-privileged-exec
fi

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

if [ "$mode" = driver ]; then
  build() { tr -d '\n' <"$info" | sed -n 's|.*<key>CFBundleVersion</key>[[:space:]]*<string>\([0-9]*\)</string>.*|\1|p'; }
  rules NO
  start_polkitd
  setsid --wait "$@" >"$work/no.out" 2>&1
  echo "no.exit=$?"
  sed 's/^/no.driver=/' "$records/driver.log"
  echo "no.build=$(build)"
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
  echo "yes.build=$(build)"
  sed 's/^/yes.out=/' "$work/yes.out"
  exit 0
fi

if [ "$mode" = install ]; then
  home=$work/home
  mkdir -p "$home" "$work/root" && chmod 755 "$work/root"
  chown "$uid:$gid" "$home" && chmod 700 "$home"
  app="$work/root/Applications/Telvo Server.app"
  download() {  # $1: a name; a downloaded application of the user's marked with it
    mkdir -p "$home/Downloads/$1/Telvo Server.app/Contents/MacOS"
    echo "$1" >"$home/Downloads/$1/Telvo Server.app/Contents/marker"
    ln -s ../marker "$home/Downloads/$1/Telvo Server.app/Contents/MacOS/link"
    chown -R -h "$uid:$gid" "$home/Downloads"
  }
  install_as_user() {  # $1: the name of the download
    setsid --wait setpriv --reuid="$uid" --regid="$gid" --init-groups \
      env -i PATH=/usr/bin:/bin HOME="$home" TELVO_ROOT="$work/root" \
      "$work/bin/probe" --trampoline "$tramp" install "$home/Downloads/$1/Telvo Server.app" "$app" 2>&1
  }
  state() {  # $1: phase; what is where afterwards
    echo "$1.applications=$(stat -c '%a %u' "$work/root/Applications" 2>&1)"
    echo "$1.marker=$(cat "$app/Contents/marker" 2>&1)"
    echo "$1.owner=$(stat -c '%u' "$app" 2>&1)"
    echo "$1.link=$(readlink "$app/Contents/MacOS/link" 2>&1)"
    echo "$1.trash=$(stat -c '%a %u' "$home/.Trash" 2>&1)"
    echo "$1.trashed=$(cd "$home/.Trash" 2>/dev/null && shopt -s nullglob && for f in *; do printf '%s:%s,' "$f" "$(cat "$f/Contents/marker" 2>&1)"; done)"
  }
  echo "user.uid=$uid"
  rules YES
  start_polkitd
  # Nothing in "/Applications", not even the folder: made root 0755, the copy the user's.
  download one
  install_as_user one | phase first
  state first
  echo "first.source=$(test -e "$home/Downloads/one/Telvo Server.app" && echo kept || echo moved)"
  # Again: the old copy goes to the user's Trash.
  download two
  install_as_user two | phase second
  state second
  rules NO
  start_polkitd
  download three
  install_as_user three | phase third
  state third
  echo "third.source=$(test -e "$home/Downloads/three/Telvo Server.app" && echo kept || echo moved)"
  exit 0
fi

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
