#!/usr/bin/env bash
# Runs a test program at a display scaling: in a Wine prefix of its own (the
# suite's runs at 96 DPI) whose LogPixels is set before the program starts,
# and whose Wine server ends with it.
#   scaled_prefix.sh BUILD DPI PROGRAM [ARGS...]
set -euo pipefail
build=$1 dpi=$2
shift 2
export ZEL_WINEPREFIX="$build/wineprefix-scaled" WINEPREFIX="$build/wineprefix-scaled" ZEL_TEST_DPI=$dpi
wineserver -k 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# Makes the prefix on first use; Wine's services start here, holding no pipe
# of ctest's, and each process reads the scaling when it starts.
"$build/wine_run.sh" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    </dev/null >/dev/null 2>&1
"$build/wine_run.sh" "$@"
