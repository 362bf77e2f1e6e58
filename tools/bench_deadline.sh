#!/usr/bin/env bash
# How long the manifest check takes to fail against slow, silent, oversized
# and refused servers, with the product's 30 s deadline (the test identity
# keeps it), and the peak memory of each run. Figures, not pass or fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/tests"
cmake --build --preset tests --target deadline_bench >/dev/null
. "$root/tools/bench/test_server.sh"
check() { # label, response JSON members
    printf '{"id": "%s", "responses": [{"body_b64": "%s"%s}]}' "$1" \
        "$(printf '{"version": "9.0.0.0"}' | base64 -w0)" "$2" >"$state/scenario.json"
    printf '%-26s' "$1"
    (cd "$work" && "$build/wine_run.sh" "$build/bin/deadline_bench.exe" | tr -d '\r')
}
check "small manifest" ""
check "handshake never answered" ', "silent": true, "silent_ms": 60000'
check "headers 1 byte / 5 s" ', "drip": "headers", "drip_ms": 5000'
check "body 1 byte / 5 s" ', "drip": "body", "drip_ms": 5000'
check "100 KiB manifest" ", \"body_pattern\": 102400"
check "100 KiB, no length" ", \"body_pattern\": 102400, \"content_length\": false"
"$server_ctl" stop "$state"
check "refused port" ""
