#!/usr/bin/env bash
# The release tool checks its signature with the updater's own verifier
# against the key the updater is built with: a signing key whose public half
# is another is refused and leaves no manifest. Usage: publish_release_test.sh BUILD
set -euo pipefail
build=$1 root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$build/scratch"
dir=$(mktemp -d "$build/scratch/publish.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/app" && cp "$build/bin/apps/v2.0.0.0/zel_acc.exe" "$dir/app/"
publish() {
    python3 "$root/tools/publish_release.py" --app-folder "$dir/app" --out "$dir/www" \
        --url https://u.example/r/zel.zip --release-check "$build/release_check.exe" \
        --release-key "$build/test-certs/release.key" --signing-key "$build/test-certs/$1.key"
}
! publish other-release 2>"$dir/err" || { echo "FAILED: signed with another key" >&2; exit 1; }
grep -q "would refuse this release (signature=bad)" "$dir/err"
[ ! -e "$dir/www/manifest.json" ]
publish release
grep -q '"signature": "30' "$dir/www/manifest.json"
