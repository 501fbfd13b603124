#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the daemon on a private root with live
# statistics of this machine, serving on port 5109.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVO_BENCH=OFF
cmake --build build -j "$(nproc)"
export TELVO_ROOT="${TELVO_ROOT:-$here/.run/root}"
mkdir -p "$TELVO_ROOT"
if [ -x build/programs/TelvoServerDaemon/TelvoServerDaemon ]; then
  exec build/programs/TelvoServerDaemon/TelvoServerDaemon "$@"
fi
exec build/programs/telvo-smoke/telvo-smoke "$@"
