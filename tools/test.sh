#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the test build of the
# updater and its test programs, and runs every test under Wine with a
# private Xvfb display. Extra arguments go to ctest (for example -R Download).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/tests"

if [ "${1:-}" = "--inside-display" ]; then
    shift
    export WINEPREFIX="$build/wineprefix"
    # Wine's background services start with the first Windows program and
    # keep its output open; started here, they hold no pipe of ctest's and
    # stay up until the suite ends.
    wineserver -k 2>/dev/null || true
    # Test programs that change the prefix's settings have prefixes of their
    # own (wineprefix-*); their servers end with the suite too.
    stop_wine() {
        for prefix in "$build"/wineprefix-*/; do
            [ -d "$prefix" ] && WINEPREFIX="${prefix%/}" wineserver -k 2>/dev/null || true
        done
        wineserver -k 2>/dev/null || true
    }
    trap stop_wine EXIT
    mkdir -p "$WINEPREFIX"
    wineserver -p
    # The prefixes of their own are made here as well, side by side, rather
    # than by the first test that needs one, inside the timed suite.
    for own in proxy scaled; do
        ZEL_WINEPREFIX="$build/wineprefix-$own" WINEPREFIX="$build/wineprefix-$own" \
            "$build/wine_run.sh" cmd /c exit </dev/null >/dev/null 2>&1 &
    done
    "$build/wine_run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
    wait
    # Every test passes at its first run or counts as failed: no second try.
    ctest --preset tests -j "${ZEL_TEST_JOBS:-6}" "$@"
    exit
fi

cd "$root"
"$root/tools/install_deps.sh"
cmake --preset tests >/dev/null
cmake --build --preset tests
# The demo runs as one of the tests; its own builds and Wine prefix are made
# here, with the others, rather than inside the timed suite.
"$root/tools/demo.sh" --prepare >/dev/null
# So is the vendor flow's fresh product build.
port=$(sed -n 's/^ZEL_TEST_SERVER_PORT:STRING=//p' "$build/CMakeCache.txt")
"$root/tests/vendor/vendor_flow_test.sh" --prepare "$build" $((port + 220))
"$root/tools/with_display.sh" "$0" --inside-display "$@"
