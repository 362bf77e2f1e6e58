#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the test build of the
# updater and its test programs, and runs every test under Wine with a
# private Xvfb display. Extra arguments go to ctest (for example -R Download).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/install_deps.sh"
cmake --preset tests >/dev/null
cmake --build --preset tests

build="$root/build/tests"
stop_wine() { WINEPREFIX="$build/wineprefix" wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

"$root/tools/with_display.sh" ctest --preset tests -j "${ZEL_TEST_JOBS:-4}" "$@"
