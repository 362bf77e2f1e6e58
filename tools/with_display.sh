#!/usr/bin/env bash
# Runs a command with an X display for Wine's windows: a private Xvfb unless
# ZEL_USE_DISPLAY=1 asks to use the current one. The display ends with it.
set -euo pipefail
if [ "${ZEL_USE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi
for display in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
export DISPLAY=":$display"
"$@"
