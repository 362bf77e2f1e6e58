# Sourced by the benchmark scripts: starts the loopback test server of the
# test build (root and build must be set) in a scratch folder, and stops it,
# Wine and the folder when the script ends. Sets work, state, port and
# server_ctl.
port=$(grep -E '^ZEL_TEST_SERVER_PORT:' "$build/CMakeCache.txt" | cut -d= -f2)
work=$(mktemp -d)
state="$work/state"
server_ctl="$root/tests/fixtures/server/server_ctl.sh"
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
stop_bench_server() {
    "$server_ctl" stop "$state" || true
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap stop_bench_server EXIT
"$server_ctl" start "$state" "$build/test-certs" "$port"
