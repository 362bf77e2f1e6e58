#!/usr/bin/env bash
# Differential download benchmark against the loopback test server: a release
# of FILES files (SIZE_MIB in all, incompressible) built by the release tool,
# then the next release with CHANGED of them replaced, served over a link
# limited to BYTES_PER_SECOND. DownloadPackage runs as in the updater, once
# with the previous zel.zip beside it (differential) and once without (full).
# Prints, for each, the body bytes the server sent, the requests and the time.
# Usage: tools/bench_delta.sh [SIZE_MIB [FILES [CHANGED [BYTES_PER_SECOND]]]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/tests"
mib=${1:-40}
files=${2:-200}
changed=${3:-10}
rate=${4:-1000000}

. "$root/tools/bench/download_prelude.sh"

PYTHONDONTWRITEBYTECODE=1 python3 - "$root/tools" "$work" "$mib" "$files" "$changed" <<'EOF'
import os, random, shutil, sys
sys.path.insert(0, sys.argv[1])
from publish_release import build_archive
work, mib, files, changed = sys.argv[2], *map(int, sys.argv[3:])
rng = random.Random(1)
weights = [rng.uniform(0.5, 1.5) for _ in range(files)]
sizes = [int(mib * 1024 * 1024 * w / sum(weights)) for w in weights]
for release in ("old", "new"):
    os.makedirs(os.path.join(work, release, "data"))
for i, size in enumerate(sizes):
    data = os.urandom(size)
    name = "zel_acc.exe" if i == 0 else f"data/file{i:03}.bin"
    open(os.path.join(work, "old", name), "wb").write(data)
    open(os.path.join(work, "new", name), "wb").write(data)
for i in rng.sample(range(files), changed):
    name = "zel_acc.exe" if i == 0 else f"data/file{i:03}.bin"
    open(os.path.join(work, "new", name), "wb").write(os.urandom(sizes[i]))
build_archive(os.path.join(work, "old"), os.path.join(work, "old.zip"))
build_archive(os.path.join(work, "new"), os.path.join(work, "new.zip"))
EOF
body="$work/new.zip"
size=$(stat -c %s "$body")
digest=$(sha256sum "$body" | cut -d' ' -f1)
echo "release: $files files, $changed changed, $size bytes, at $rate bytes/s"

printf '%-13s %12s %12s %8s %9s %9s\n' download archive sent share requests seconds
for mode in differential full; do
    rm -f "$work/zel.zip" "$work"/zel.zip.part* "$state/requests.log" "$work/zel_updater.log"
    [ "$mode" = full ] || cp "$work/old.zip" "$work/zel.zip"
    printf '{"id": "delta-%s-%s", "responses": [{"body_file": "%s", "rate": %s}]}' \
        "$mode" "$RANDOM" "$body" "$rate" >"$state/scenario.json"
    read -r _ bytes seconds _ < <(cd "$work" && "$build/wine_run.sh" \
        "$build/bin/download_bench.exe" package "$digest" | tr -d '\r')
    cmp -s "$body" "$work/zel.zip" || echo "warning: the downloaded file differs" >&2
    [ "$bytes" = "$size" ] || echo "warning: the download failed" >&2
    # The server notes each answer's body bytes once it is over.
    sleep 1
    sent=$(awk '/^SENT /{s += $2} END {print s + 0}' "$state/requests.log")
    requests=$(grep -c '^REQUEST ' "$state/requests.log")
    awk -v m="$mode" -v z="$size" -v s="$sent" -v r="$requests" -v t="$seconds" 'BEGIN {
        printf "%-13s %12d %12d %8.3f %9d %9.2f\n", m, z, s, s / z, r, t }'
    [ "$mode" = full ] || grep -E ' delta(\.plan)? ' "$work/zel_updater.log" | cut -d' ' -f5- |
        sed 's/^/  /'
done
