#!/usr/bin/env bash
# The fleet view on a made-up log of every result kind, rotated into a plain
# file, an older one and a gzipped oldest one, with junk lines: it counts what
# the generator wrote, line for line, and writes the page with its pictures.
# Usage: report_test.sh SCRATCH_FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1"
dir=$(mktemp -d "$1/fleet-report.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
# Few lines for many offices: the rollout stops half-way and some offices'
# last attempt failed.
python3 "$root/tools/fleet/make_log.py" --lines 4000 --offices 400 --seed 7 --expect expected \
    >whole.log
head -n 1500 whole.log | gzip >access.log.2.gz
sed -n 1501,3000p whole.log >access.log.1
tail -n +3001 whole.log >access.log
"$root/tools/fleet_report.py" --pictures --out fleet.html access.log access.log.1 access.log.2.gz >counted
failed=0
while IFS== read -r key value; do
    got=$(sed -n "s/^$key=//p" counted)
    if [ "$got" != "$value" ]; then
        echo "FAILED: $key=$got, the log holds $value" >&2
        failed=1
    fi
done <expected
for key in installed refused failed junk reports_malformed last_failed from_mirror delta; do
    grep -q "^$key=[1-9]" counted || { echo "FAILED: the log has no $key" >&2; failed=1; }
done
[ "$(grep -o 'src="data:image/png;base64,' fleet.html | wc -l)" -eq 4 ] ||
    { echo "FAILED: the page lacks its four pictures" >&2; failed=1; }
[ "$(ls fleet-[1-4].png | wc -l)" -eq 4 ] || { echo "FAILED: no pictures beside the page" >&2; failed=1; }
cat counted
exit $failed
