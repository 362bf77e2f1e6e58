#!/usr/bin/env bash
# The release tool signs, and checks its signature with the updater's own
# verifier against the key the updater is built with: a signing key whose
# public half is not that key is refused and leaves no manifest.
# Usage: publish_release_test.sh BUILD
set -euo pipefail
build=$1 root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$build/scratch"
dir=$(mktemp -d "$build/scratch/publish.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/app"
cp "$build/bin/apps/v2.0.0.0/zel_acc.exe" "$dir/app/"
publish() {
    python3 "$root/tools/publish_release.py" --app-folder "$dir/app" --version 2.0.0.0 \
        --url https://u.example/releases/zel.zip --out "$dir/www" \
        --release-check "$build/release_check.exe" --release-key "$build/test-certs/release.key" "$@"
}
if publish --signing-key "$build/test-certs/other-release.key" 2>"$dir/err"; then
    echo "FAILED: signed with another key than the updater's" >&2; exit 1
fi
grep -q "would refuse this release (signature=bad)" "$dir/err" || { cat "$dir/err"; exit 1; }
[ ! -e "$dir/www/manifest.json" ] || { echo "FAILED: the refused manifest stayed" >&2; exit 1; }
publish --signing-key "$build/test-certs/release.key"
grep -q '"signature": "30' "$dir/www/manifest.json"
