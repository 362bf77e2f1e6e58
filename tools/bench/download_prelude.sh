# Sourced by the download benchmarks before anything else: installs what they
# need, re-runs the calling script under a display (DownloadPackage shows its
# progress in a real window), builds download_bench and starts the test
# server (see test_server.sh). root and build must be set.
"$root/tools/install_deps.sh"
if [ -z "${ZEL_BENCH_DISPLAY:-}" ]; then
    ZEL_BENCH_DISPLAY=1 exec "$root/tools/with_display.sh" "$0" "$@"
fi
cmake --preset tests >/dev/null
cmake --build --preset tests --target download_bench >/dev/null
. "$root/tools/bench/test_server.sh"
