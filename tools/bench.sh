#!/usr/bin/env bash
# The updater's benchmarks, side by side in one run against the loopback
# test server (figures, not pass or fail):
#   1. the no-update path: from the updater's start to the application's
#      start, against a bare launcher that only starts the application and a
#      check launcher that first makes one pinned GET of the manifest
#      (ZEL_BENCH_STARTS rounds, 15 by default, each launcher once a round:
#      medians of wall time, CPU time and peak memory, the median of the
#      per-round ratios, and the updater's time to each event of its log),
#      and the manifest check alone;
#   2. the download: DownloadPackage against a bare WinHTTP loop and curl,
#      64 and 256 MiB (tools/bench_download.sh);
#   3. resuming: 32 MiB at 1 MB/s, dropped every 5 MiB and not
#      (tools/bench_resume.sh), and the differential download of a 40 MiB
#      release of 200 files with 10 changed, beside the full download
#      (tools/bench_delta.sh);
#   4. the built-in unpack of the demo's archive and of 100 MiB in 2,000
#      files (tools/bench_unpack.sh);
#   5. the manifest check's time to fail against slow, silent and oversized
#      servers, with its peak memory (tools/bench_deadline.sh);
#   6. the size of the product executable.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/tests"
if [ -z "${ZEL_BENCH_DISPLAY:-}" ]; then
    "$root/tools/install_deps.sh"
    ZEL_BENCH_DISPLAY=1 exec "$root/tools/with_display.sh" "$0" "$@"
fi
cmake --preset tests >/dev/null
cmake --build --preset tests --target startup_bench bare_launcher check_launcher download_bench \
    zel_updater_test zel_test_app_v1.2.3.4 >/dev/null
rounds=${ZEL_BENCH_STARTS:-15}
. "$root/tools/bench/test_server.sh"
printf '{"id": "startup", "responses": [{"body_b64": "%s"}]}' \
    "$(printf '{"version": "1.2.3.4", "url": "https://x/zel.zip"}' | base64 -w0)" \
    >"$state/scenario.json"

office="$work/office"
mkdir -p "$office/ZEL"
cp "$build/bin/apps/v1.2.3.4/zel_acc.exe" "$office/ZEL/"
launchers=(bare_launcher.exe check_launcher.exe zel_updater_test.exe)
for exe in "${launchers[@]}"; do cp "$build/bin/$exe" "$office/"; done
win() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
starts() {
    "$build/wine_run.sh" "$build/bin/startup_bench.exe" "$(win "$office")" "$1" \
        "${launchers[@]/#/$(win "$office")\\}" | tr -d '\r'
}

echo "== No-update path: start of the launcher to start of the application ($rounds rounds)"
starts 2 >/dev/null # warm-up: Wine's services, TLS libraries, file cache
starts "$rounds"
echo
echo "== Manifest check alone (FetchManifest over TLS, 15 rounds)"
(cd "$office" && "$build/wine_run.sh" "$build/bin/download_bench.exe" check)
"$server_ctl" stop "$state"

echo
echo "== Download"
"$root/tools/bench_download.sh" 64 256 | tail -n +1 | grep -v '^Installing'

echo
echo "== Resume: 32 MiB at 1 MB/s, dropped every 5 MiB and not"
"$root/tools/bench_resume.sh" 32 5 1000000 | grep -v '^Installing'

echo
echo "== Differential download: 40 MiB in 200 files, 10 changed, at 1 MB/s"
"$root/tools/bench_delta.sh" 40 200 10 1000000 | grep -v '^Installing'

echo
echo "== Built-in unpack: the demo's archive and 100 MiB in 2,000 files"
"$root/tools/bench_unpack.sh" | grep -v '^Installing'

echo
echo "== Manifest check against slow, silent and oversized servers (30 s deadline)"
"$root/tools/bench_deadline.sh"

echo
echo "== Product executable"
cmake -S "$root" -B "$root/build/bench-product" -G Ninja \
    --toolchain "$root/cmake/mingw-w64-posix.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DZEL_SERVER_HOST=updates.example.com -DZEL_SERVER_PIN="$build/test-certs/pinned-valid.crt" \
    >/dev/null
cmake --build "$root/build/bench-product" --target zel_updater >/dev/null
size=$(stat -c %s "$root/build/bench-product/zel_updater.exe")
echo "zel_updater.exe  $size bytes ($((size / 1024)) KiB), static, stripped, no DLL beside it"
