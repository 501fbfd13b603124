# Shared by the namespace tests (sourced): failure reporting, required tools, making the
# test's own network namespaces (loudly failing when they cannot be made) and running a
# command inside one. The caller sets `status=0` and `work` (a temporary folder) first.
fail() { echo "FAIL: $*"; status=1; }
need() { command -v "$1" >/dev/null || { echo "FAIL: $1 is missing (scripts/install-deps.sh installs it)"; exit 1; }; }
# make_namespaces <name>...: every name or exit 1 (needs root and CAP_SYS_ADMIN).
make_namespaces() {
  local ns
  for ns in "$@"; do
    if ! ip netns add "$ns" 2>"$work/netns.err"; then
      echo "FAIL: cannot make network namespaces (needs root and CAP_SYS_ADMIN): $(cat "$work/netns.err")"
      exit 1
    fi
  done
}
nsx() { local ns=$1; shift; ip netns exec "$ns" "$@"; }
