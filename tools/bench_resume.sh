#!/usr/bin/env bash
# Resume benchmark against the loopback test server: a 32 MiB archive over a
# link limited to 1 MB/s, once with the connection dropped after every 5 MiB
# and once without drops. DownloadPackage runs as in the updater (hashing,
# file writes, progress to a real window). Prints the time, the attempts and
# the body bytes the server sent beside the archive's size.
# Usage: tools/bench_resume.sh [SIZE_MIB [DROP_EVERY_MIB [BYTES_PER_SECOND]]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/tests"
mib=${1:-32}
drop_mib=${2:-5}
rate=${3:-1000000}

. "$root/tools/bench/download_prelude.sh"

body="$work/package.bin"
head -c $((mib * 1024 * 1024)) /dev/urandom >"$body"
size=$(stat -c %s "$body")

printf '%-12s %12s %12s %8s %10s %9s\n' link size sent ratio seconds attempts
for drop in $((drop_mib * 1024 * 1024)) none; do
    rm -f "$work/zel.zip" "$work"/zel.zip.part* "$state/requests.log"
    response="\"body_file\": \"$body\", \"rate\": $rate"
    [ "$drop" = none ] || response="$response, \"drop_after\": $drop"
    printf '{"id": "resume-%s-%s", "responses": [{%s}]}' "$drop" "$RANDOM" "$response" \
        >"$state/scenario.json"
    read -r _ bytes seconds _ < <(cd "$work" && "$build/wine_run.sh" \
        "$build/bin/download_bench.exe" package | tr -d '\r')
    cmp -s "$body" "$work/zel.zip" || echo "warning: the downloaded file differs" >&2
    [ "$bytes" = "$size" ] || echo "warning: the download failed" >&2
    # The server notes each answer's body bytes once it is over.
    sleep 1
    sent=$(awk '/^SENT /{s += $2} END {print s + 0}' "$state/requests.log")
    attempts=$(grep -c '^REQUEST ' "$state/requests.log")
    label=$([ "$drop" = none ] && echo "no drops" || echo "drop/${drop_mib}MiB")
    awk -v l="$label" -v z="$size" -v s="$sent" -v t="$seconds" -v a="$attempts" 'BEGIN {
        printf "%-12s %12d %12d %8.3f %10.2f %9d\n", l, z, s, s / z, t, a }'
done
