#!/usr/bin/env bash
# A fleet of N offices on loopback through a staged rollout (10 %, 50 %,
# 100 %): the pinned origin serves manifests and reports, a caching edge the
# archives (tools/fleet/simulate.py). Prints requests and bytes at the origin
# and the edge, the share of offices on each version after each stage and
# the check's p50/p99 latency, then draws the fleet view from the origin's
# own log. Ports: ZEL_FLEET_PORT (default 28600) and the next two.
# Usage: bench_fleet.sh [N] [OUT_FOLDER]    (N defaults to 1000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-1000}
out=${2:-$root/build/fleet-bench}
port=${ZEL_FLEET_PORT:-28600}
PYTHONDONTWRITEBYTECODE=1 timeout 900 python3 "$root/tools/fleet/simulate.py" "$n" "$port" "$out"
echo "fleet view of the simulation's origin log:"
"$root/tools/fleet_report.py" --out "$out/fleet.html" "$out/state/origin.log"
