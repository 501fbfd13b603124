#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the daemon need. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl zlib1g-dev libsqlite3-dev sqlite3 libicu-dev libpugixml-dev
  polkitd pkexec
  libminiupnpc-dev libnatpmp-dev libavahi-client-dev
  avahi-daemon avahi-utils dbus miniupnpd miniupnpc natpmpc nftables iproute2
  gzip procps libxml2-utils iw
  libblkid-dev e2fsprogs
  qt6-base-dev qt6-svg-dev fonts-liberation fonts-dejavu-core xvfb xauth
  mdadm smartmontools
  libcurl4-openssl-dev libarchive-tools python3 python3-dbus python3-gi libdbus-1-dev xdg-utils
)
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
