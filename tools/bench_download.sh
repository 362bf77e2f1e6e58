#!/usr/bin/env bash
# Download benchmark against the loopback test server: DownloadPackage (with
# hashing, file writes and progress messages to a real window) beside a bare
# WinHTTP read loop on the same stack next to the same window, the bare loop
# without a window, and curl, for archives of 64 and 256 MiB.
# DownloadPackage runs twice a round: writing into the scratch folder on disk,
# as the updater writes, and into a folder in memory (/dev/shm), which leaves
# out what the machine's disk costs: the bare loop writes nothing.
# Each figure is the median of ZEL_BENCH_ROUNDS runs (3 by default).
# Usage: tools/bench_download.sh [SIZES_IN_MIB...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/tests"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(64 256)

. "$root/tools/bench/download_prelude.sh"

rounds=${ZEL_BENCH_ROUNDS:-3}
run_in() { (cd "$1" && shift && "$build/wine_run.sh" "$build/bin/download_bench.exe" "$@"); }
run() { run_in "$work" "$@"; }
ram=$(mktemp -d -p /dev/shm 2>/dev/null || true)
trap 'rm -rf "$ram"; stop_bench_server' EXIT
# The run with the median time of a mode: "mode bytes seconds messages peak".
median_run() { grep "^$1 " "$work/runs" | sort -k3 -n | sed -n "$(((rounds + 1) / 2))p"; }
median_curl() {
    for _ in $(seq "$rounds"); do
        curl -sk -o /dev/null -w '%{time_total}\n' "https://127.0.0.1:$port/package.zip"
    done | sort -n | sed -n "$(((rounds + 1) / 2))p"
}

printf '%-8s %-10s %10s %10s %10s %12s %12s\n' size tool MB/s seconds ratio messages peak_MiB
for mib in "${sizes[@]}"; do
    body="$work/package-$mib.bin"
    head -c $((mib * 1024 * 1024)) /dev/urandom >"$body"
    printf '{"id": "bench-%s-%s", "responses": [{"body_file": "%s"}]}' "$mib" "$RANDOM" "$body" \
        >"$state/scenario.json"
    digest=$(sha256sum "$body" | cut -d' ' -f1)
    run bare >/dev/null # warm-up: Wine's services, TLS libraries, file cache
    # Round by round, so that a busy moment of the machine falls on all alike.
    # The package is checked against its digest, as the updater checks it.
    for _ in $(seq "$rounds"); do
        run bare
        run package "$digest"
        [ -z "$ram" ] || run_in "$ram" package "$digest" | sed 's/^package /package-ram /'
        run alone
    done | tr -d '\r' >"$work/runs"
    read -r _ bare_bytes bare_seconds _ bare_peak < <(median_run bare)
    read -r _ pkg_bytes pkg_seconds messages pkg_peak < <(median_run package)
    read -r _ _ alone_seconds _ alone_peak < <(median_run alone)
    read -r _ _ ram_seconds ram_messages ram_peak < <(median_run package-ram) || true
    curl_seconds=$(median_curl)
    cmp -s "$body" "$work/zel.zip" || echo "warning: the downloaded file differs" >&2
    bytes=$((mib * 1024 * 1024))
    [ "$bare_bytes" = "$bytes" ] && [ "$pkg_bytes" = "$bytes" ] || echo "warning: short read" >&2
    awk -v mib="$mib" -v b="$bytes" -v bs="$bare_seconds" -v ps="$pkg_seconds" \
        -v cs="$curl_seconds" -v m="$messages" -v bp="$bare_peak" -v pp="$pkg_peak" \
        -v as="$alone_seconds" -v ap="$alone_peak" -v rs="${ram_seconds:-}" \
        -v rm="${ram_messages:-}" -v rp="${ram_peak:-}" 'BEGIN {
        printf "%-8s %-10s %10.1f %10.2f %10s %12s %12.1f\n", mib "MiB", "bare", b/bs/1e6, bs, "1.00", "-", bp/1048576
        printf "%-8s %-10s %10.1f %10.2f %10.2f %12d %12.1f  (+%.1f)\n", mib "MiB", "package", b/ps/1e6, ps, bs/ps, m, pp/1048576, (pp-bp)/1048576
        if (rs != "")
            printf "%-8s %-10s %10.1f %10.2f %10.2f %12d %12.1f  (+%.1f)\n", mib "MiB", "pkg-in-ram", b/rs/1e6, rs, bs/rs, rm, rp/1048576, (rp-bp)/1048576
        printf "%-8s %-10s %10.1f %10.2f %10.2f %12s %12.1f\n", mib "MiB", "bare-alone", b/as/1e6, as, bs/as, "-", ap/1048576
        printf "%-8s %-10s %10.1f %10.2f %10s %12s %12s\n", mib "MiB", "curl", b/cs/1e6, cs, "-", "-", "-"
    }'
    rm -f "$body" "$work/zel.zip"
    [ -z "$ram" ] || rm -f "$ram/zel.zip"
done
