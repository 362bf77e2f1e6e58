#!/usr/bin/env bash
# The built-in unpack's speed (figures, not pass or fail), as the updater
# runs it under Wine, into a fresh folder each round:
#   - the demo's archive: the demo's release folder (the 2.0.0.0 application
#     and 12 MiB of reports), packed by publish_release.py's own code;
#   - an archive of about 100 MiB holding 2,000 files of 67 KiB in 20
#     folders, each 51 KiB of random bytes and 16 KiB of text.
# Beside each, Python's zipfile on the host unpacks the same archive, as a
# reference. Prints the median of ROUNDS rounds (3 by default).
# Usage: tools/bench_unpack.sh [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/tests"
rounds=${1:-3}

"$root/tools/install_deps.sh"
[ -f "$build/CMakeCache.txt" ] || cmake --preset tests >/dev/null
cmake --build --preset tests --target unpack_bench zel_test_app_v2.0.0.0 >/dev/null
work="$build/bench-unpack"
mkdir -p "$work"

# The archives are made once and kept in the build tree.
python3 - "$root/tools" "$work" "$build/bin/apps/v2.0.0.0/zel_acc.exe" <<'PY'
import os, shutil, sys, zipfile
sys.path.insert(0, sys.argv[1])
from publish_release import build_archive
work, app = sys.argv[2], sys.argv[3]
demo = os.path.join(work, "demo.zip")
if not os.path.exists(demo):
    release = os.path.join(work, "demo-release")
    os.makedirs(os.path.join(release, "data"), exist_ok=True)
    shutil.copy(app, release)
    with open(os.path.join(release, "data", "sample-reports.dat"), "wb") as out:
        out.write(os.urandom(12 * 1024 * 1024))
    build_archive(release, demo)
    shutil.rmtree(release)
many = os.path.join(work, "2000-files.zip")
if not os.path.exists(many):
    line = b"2026-12-01 ledger 4711 posted; balance carried forward to the next period\r\n"
    text = (line * (16 * 1024 // len(line) + 1))[:16 * 1024]
    with zipfile.ZipFile(many + ".tmp", "w", zipfile.ZIP_DEFLATED) as out:
        for i in range(2000):
            out.writestr(f"module{i // 100:02d}/file{i:04d}.dat", os.urandom(51 * 1024) + text)
    os.replace(many + ".tmp", many)
PY

win() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
printf '%-16s %10s %8s %12s %10s %10s %12s\n' archive archive_MiB entries unpacked_MiB \
    builtin_s python_s peak_MiB
for name in demo 2000-files; do
    archive="$work/$name.zip"
    read -r _ builtin _ entries _ bytes _ peak < <(cd "$work" && "$build/wine_run.sh" \
        "$build/bin/unpack_bench.exe" "$(win "$archive")" "$(win "$work/update")" "$rounds" |
        tr -d '\r')
    python=$(python3 - "$archive" "$work/host-update" "$rounds" <<'PY'
import shutil, statistics, sys, time, zipfile
archive, folder, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
times = []
for _ in range(rounds):
    shutil.rmtree(folder, ignore_errors=True)
    start = time.perf_counter()
    with zipfile.ZipFile(archive) as z:
        z.extractall(folder)
    times.append(time.perf_counter() - start)
shutil.rmtree(folder, ignore_errors=True)
print(f"{statistics.median(times):.3f}")
PY
)
    awk -v n="$name" -v a="$(stat -c %s "$archive")" -v e="$entries" -v b="$bytes" \
        -v s="$builtin" -v p="$python" -v m="$peak" 'BEGIN {
        printf "%-16s %10.1f %8d %12.1f %10.3f %10.3f %12.1f\n", n, a / 1048576, e,
            b / 1048576, s, p, m / 1048576 }'
done
rm -f "$work/zel_updater.log"
