#!/usr/bin/env bash
# Stale staging and backup folders that hold links to a folder outside the
# office: the installation removes the links, never what they point to.
# Links are made on the Linux side, which Wine shows as reparse points.
# Usage: link_removal_test.sh BUILD_FOLDER
set -euo pipefail
build=$1
mkdir -p "$build/scratch"
dir=$(mktemp -d "$build/scratch/links.XXXXXX")
trap 'rm -rf "$dir"' EXIT
office="$dir/office"
mkdir -p "$office/ZEL" "$office/update" "$office/ZEL.bak" "$dir/outside"
echo "keep me" >"$dir/outside/precious.txt"
cp "$build/bin/apps/v1.2.3.4/zel_acc.exe" "$office/ZEL/"
cp "$build/bin/archives/good.zip" "$office/zel.zip"
ln -s "$dir/outside" "$office/update/link"
ln -s "$dir/outside" "$office/ZEL.bak/link"
ln -s "$dir/outside/precious.txt" "$office/ZEL.bak/file-link"

(cd "$office" && ZEL_APP_LIFETIME_MS=1000 "$build/wine_run.sh" "$build/bin/install_driver.exe" install)

fail() { echo "FAILED: $*" >&2; exit 1; }
[ "$(cat "$dir/outside/precious.txt" 2>/dev/null)" = "keep me" ] || fail "a file outside was removed"
[ -f "$office/ZEL/zel_acc.exe" ] || fail "the new ZEL is missing"
[ -e "$office/ZEL/link" ] && fail "the stale staging folder reached ZEL"
[ -f "$office/ZEL.bak/zel_acc.exe" ] || fail "the old ZEL was not kept as ZEL.bak"
[ -L "$office/ZEL.bak/link" ] && fail "the old backup was not removed"
echo "1 passed, 0 failed"
