#!/usr/bin/env bash
# The release tool in the live folder of a server: the offline steps (build,
# sign with openssl alone, publish) put a signed release at its versioned
# path; every refused or cut off publish leaves the live folder byte for byte
# as it was; a candidate is published beside the current manifest and
# promoted; the signed text is the one the updater verifies. Usage: publish_release_test.sh BUILD
set -euo pipefail
build=$1 root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$build/scratch"
dir=$(mktemp -d "$build/scratch/publish.XXXXXX")
trap 'rm -rf "$dir"' EXIT
export ZEL_RELEASE_WINEPREFIX="$build/wineprefix"
certs=$build/test-certs bin=$build/bin url=https://localhost/releases/2.0.0.0/zel.zip
tool() { python3 "$root/tools/publish_release.py" "$@" --release-check "$build/release_check.exe"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
tree() { (cd "$dir/www" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum); }
mkdir -p "$dir/app" && cp "$bin/apps/v2.0.0.0/zel_acc.exe" "$dir/app/"
printf 'faster reports\n' >"$dir/notes.txt"
printf 'the "best" release\n' >"$dir/quoted.txt"

# The offline steps: only the signing touches the key, and needs no Wine.
tool build --app-folder "$dir/app" --url "$url" --notes "$dir/notes.txt" --into "$dir/rel" >/dev/null
PATH=/usr/bin:/bin python3 "$root/tools/publish_release.py" sign --release "$dir/rel" \
    --signing-key "$certs/release.key" >/dev/null
tool publish --release "$dir/rel" --out "$dir/www" --release-key "$certs/release.key" >/dev/null
[ -f "$dir/www/releases/2.0.0.0/zel.zip" ] && grep -q '"signature": "30' "$dir/www/manifest.json" ||
    fail "the signed release is not at its versioned path"
# Where the updater's code forms the newer signed text, the tool compared its
# own with it byte for byte and signed that form.
if "$build/wine_run.sh" "$build/release_check.exe" statement "$dir/www/manifest.json" >/dev/null 2>&1; then
    grep -q '"length"' "$dir/www/manifest.json" || fail "the older signed text was used"
fi

# Each refusal: its arguments, and what it must say.
mkdir -p "$dir/carries-old" "$dir/carries-other"
cp "$dir/app/zel_acc.exe" "$dir/carries-old/" && cp "$bin/zel_updater_signed.exe" "$dir/carries-old/zel_updater.exe"
cp "$dir/app/zel_acc.exe" "$dir/carries-other/" && cp "$bin/zel_updater_v9_other_pin.exe" "$dir/carries-other/zel_updater.exe"
signed=(--signing-key "$certs/release.key" --release-key "$certs/release.key")
refusals=(
    "differs from the ProductVersion|--app-folder $dir/app --version 9.9.9.9 ${signed[*]}"
    "a double quote|--app-folder $dir/app --notes $dir/quoted.txt ${signed[*]}"
    "would refuse this release (signature=bad)|--app-folder $dir/app --signing-key $certs/other-release.key --release-key $certs/release.key"
    "is not newer than|--app-folder $dir/carries-old --updater $bin/zel_updater_signed.exe ${signed[*]}"
    "has another identity|--app-folder $dir/carries-other --updater $bin/zel_updater_signed.exe ${signed[*]}"
    "no --signing-key|--app-folder $dir/app"
)
before=$(tree)
for row in "${refusals[@]}"; do
    # shellcheck disable=SC2086 # the row's arguments hold no spaces
    ! tool --url "$url" --out "$dir/www" ${row#*|} 2>"$dir/err" >/dev/null || fail "published: ${row#*|}"
    grep -qF "${row%%|*}" "$dir/err" || fail "refused without saying '${row%%|*}': $(cat "$dir/err")"
    [ "$(tree)" = "$before" ] || fail "the live folder changed: ${row#*|}"
done
ls -a "$dir" | grep -q staging && fail "a staging folder was left behind"
# Cut off while its checks run under Wine, after the staging folder is full.
python3 "$root/tools/publish_release.py" --app-folder "$dir/app" --url "$url" --out "$dir/www" \
    "${signed[@]}" --release-check "$build/release_check.exe" >/dev/null 2>&1 &
until compgen -G "$dir/.www.staging-*/manifest.json" >/dev/null; do
    kill -0 $! 2>/dev/null || fail "the publish to cut off ended first"
    sleep 0.05
done
kill -9 $! && { wait $! || true; }
[ "$(tree)" = "$before" ] || fail "an interrupted publish changed the live folder"

# A candidate beside the current manifest, then promoted.
cp "$dir/www/manifest.json" "$dir/current.json"
tool --app-folder "$dir/app" --url "$url" --out "$dir/www" --mandatory --candidate "${signed[@]}" >/dev/null
cmp -s "$dir/www/manifest.json" "$dir/current.json" && grep -q '"mandatory": true' \
    "$dir/www/manifest-candidate.json" || fail "the candidate was not written beside the current manifest"
python3 "$root/tools/publish_release.py" promote --out "$dir/www" >/dev/null
grep -q '"mandatory": true' "$dir/www/manifest.json" && [ ! -e "$dir/www/manifest-candidate.json" ] ||
    fail "the candidate was not promoted"
