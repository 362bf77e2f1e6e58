#!/usr/bin/env bash
# The updater's main job on this machine: a real update of a demo application
# from 1.0.0.0 to 2.0.0.0, served over HTTPS on loopback by nginx with a
# pinned key, signed with the demo's release key, run under Wine; then a
# second release, 2.1.0.0, whose unchanged files come from the previous
# zel.zip (the differential download).
#
# Usage: tools/demo.sh [--headless] [--mandatory] [--prepare]
#   With a display (DISPLAY set) the updater's window appears and you press
#   the button. Without one, or with --headless, it runs under a private Xvfb,
#   presses the button itself and saves screenshots in demo/screenshots.
#   --mandatory publishes both releases as mandatory instead.
#   --prepare only makes the key, the builds and the Wine prefix, so that a
#   later run (the test suite's) starts at once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
headless=0 mandatory=0 prepare=0
for arg in "$@"; do
    case "$arg" in
        --headless) headless=1 ;;
        --mandatory) mandatory=1 ;;
        --prepare) prepare=1 ;;
        -h | --help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "demo.sh: unknown argument $arg" >&2; exit 2 ;;
    esac
done
[ -n "${DISPLAY:-}" ] || headless=1

if [ "$headless" = 1 ] && [ -z "${ZEL_DEMO_INSIDE_DISPLAY:-}" ] && [ -z "${DISPLAY:-}" ]; then
    "$root/tools/install_deps.sh"
    ZEL_DEMO_INSIDE_DISPLAY=1 exec "$root/tools/with_display.sh" "$0" "$@"
fi
"$root/tools/install_deps.sh"

cd "$root"
port=${ZEL_DEMO_PORT:-28643}
demo="$root/demo"
keys="$demo/keys"
tests_build="$root/build/tests"
demo_build="$root/build/demo"
started=$(date +%s.%N)

step() { printf '\n== %s\n' "$*"; }
# Wine shows the Linux file system as drive Z:.
windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }

step "Server key (made on first use) and its pin"
mkdir -p "$keys"
if [ ! -f "$keys/server.crt" ]; then
    openssl ecparam -name prime256v1 -genkey -noout -out "$keys/server.key" 2>/dev/null
    openssl req -x509 -new -key "$keys/server.key" -out "$keys/server.crt" -days 3650 \
        -subj "/CN=localhost" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
fi
echo "pin: $("$root/tools/compute_pin.sh" "$keys/server.crt")"
# The vendor's release key; on a real vendor's side it never leaves an
# offline machine.
[ -f "$keys/release.pem" ] || "$root/tools/release_key.sh" new "$keys/release.pem" >/dev/null
echo "release key: $("$root/tools/release_key.sh" public "$keys/release.pub.pem")"

step "Building the updater for https://127.0.0.1:$port and the demo application"
cmake -S "$root" -B "$demo_build" -G Ninja --toolchain "$root/cmake/mingw-w64-posix.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_PRODUCT=ON -DZEL_BUILD_TESTS=OFF \
    -DZEL_SERVER_HOST=127.0.0.1 -DZEL_SERVER_PORT="$port" -DZEL_SERVER_PIN="$keys/server.crt" \
    -DZEL_RELEASE_KEY="$keys/release.pub.pem" >/dev/null
cmake --build "$demo_build" --target zel_updater >/dev/null
[ -f "$tests_build/CMakeCache.txt" ] || cmake --preset tests >/dev/null
cmake --build --preset tests --target zel_test_app_v1.0.0.0 zel_test_app_v2.0.0.0 zel_test_app_v2.1.0.0 \
    zel_test_unpacker release_check demo_driver >/dev/null
bin="$tests_build/bin"
# A Wine prefix of the demo's own, apart from the test suite's.
export ZEL_WINEPREFIX="$demo_build/wineprefix" WINEPREFIX="$demo_build/wineprefix"
export ZEL_RELEASE_WINEPREFIX="$demo_build/wineprefix"
"$tests_build/wine_run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
# Wine's own powershell.exe does nothing. The demo's updater is built as the
# product is, so it starts PowerShell only from the system folder: the stand-in
# unpacker takes that place in the demo's own prefix.
cp "$bin/unpacker/powershell.exe" "$WINEPREFIX/drive_c/windows/system32/WindowsPowerShell/v1.0/"
[ "$prepare" = 0 ] || exit 0

step "An office with version 1.0.0.0 installed"
run="$demo/office"
# The window's pictures at other scalings, taken by the test suite, stay.
rm -rf "$run" "$demo/www" "$demo/screenshots"/*-download.png "$demo/screenshots/2.1.0.0" "$demo/nginx"
mkdir -p "$run/ZEL" "$run/data" "$demo/screenshots" "$demo/nginx"
cp "$bin/apps/v1.0.0.0/zel_acc.exe" "$run/ZEL/"
# The office's own data lives beside ZEL, never in it: an update replaces ZEL.
echo "the office's books" >"$run/data/books.dat"
cp "$demo_build/zel_updater.exe" "$run/"

# Publishes a release of the application in release-VERSION (zel_acc.exe of the
# test build's variant vVERSION, and the files already in the folder).
publish() {
    local version=$1 release="$demo/release-$1"
    mkdir -p "$release"
    cp "$bin/apps/v$version/zel_acc.exe" "$release/"
    python3 "$root/tools/publish_release.py" \
        --app-folder "$release" --version "$version" --notes "$demo/notes.txt" \
        --url "https://127.0.0.1/releases/$version/zel.zip" --out "$demo/www" \
        --release-check "$tests_build/release_check.exe" "${mandatory_flag[@]}" \
        --signing-key "$keys/release.pem" --release-key "$keys/release.pub.pem"
}

step "Publishing 2.0.0.0$([ "$mandatory" = 1 ] && echo ' (mandatory)')"
rm -rf "$demo"/release-*
mkdir -p "$demo/release-2.0.0.0/data"
head -c $((12 * 1024 * 1024)) /dev/urandom >"$demo/release-2.0.0.0/data/sample-reports.dat"
printf 'گزارش‌های سریع‌تر\nرفع اشکال چاپ فاکتور\n' >"$demo/notes.txt"
mandatory_flag=()
[ "$mandatory" = 1 ] && mandatory_flag=(--mandatory)
publish 2.0.0.0

step "Serving it with nginx on https://127.0.0.1:$port"
sed -e "s|@PORT@|$port|; s|@ROOT@|$demo/www|; s|@CERT@|$keys/server.crt|" \
    -e "s|@KEY@|$keys/server.key|; s|@STATE@|$demo/nginx|g; s|@RATE@|3m|" \
    "$root/tools/demo/nginx.conf.in" >"$demo/nginx/nginx.conf"
nginx -c "$demo/nginx/nginx.conf" -e "$demo/nginx/error.log" &
nginx_pid=$!
cleanup() {
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1 50); do
    curl -skf -o /dev/null "https://127.0.0.1:$port/api/sysboot/check/ZEL_ACC/1.0.0.0" && break
    sleep 0.1
done

version_of() {
    "$tests_build/wine_run.sh" "$tests_build/release_check.exe" version "$1" 2>/dev/null |
        sed -n 's/^version=//p' | tr -d '\r'
}
echo "installed before: $(version_of "$run/ZEL/zel_acc.exe")"

# Runs the updater in the office, headless through the demo driver (with its
# screenshots in SHOTS) or for a person at the display.
run_updater() {
    local shots=$1
    mkdir -p "$shots"
    update_started=$(date +%s.%N)
    set +e
    if [ "$headless" = 1 ]; then
        "$tests_build/wine_run.sh" "$bin/demo_driver.exe" "$(windows_path "$run/zel_updater.exe")" \
            "$(windows_path "$run")" "$(windows_path "$shots")" \
            $([ "$mandatory" = 1 ] && echo --mandatory)
    else
        echo "Press the start button in the updater's window."
        (cd "$run" && "$tests_build/wine_run.sh" "$run/zel_updater.exe")
    fi
    updater_code=$?
    set -e
    update_ended=$(date +%s.%N)
    sleep 1
}

# Prints what the run left behind; fails unless ZEL holds version AFTER, ZEL.bak
# version BEFORE, AFTER was started and the office's data is untouched.
outcome() {
    local after_wanted=$1 backup_wanted=$2 shots=$3
    after=$(version_of "$run/ZEL/zel_acc.exe")
    backup=$( [ -f "$run/ZEL.bak/zel_acc.exe" ] && version_of "$run/ZEL.bak/zel_acc.exe" || echo none)
    started_version=$(tail -n 1 "$ZEL_APP_RECORD" 2>/dev/null | cut -f2)
    echo "updater exit code:      $updater_code"
    echo "ZEL\\zel_acc.exe:        $after"
    echo "ZEL.bak\\zel_acc.exe:    $backup"
    echo "application started:    ${started_version:-nothing}"
    echo "folder layout:"
    (cd "$run" && find . -maxdepth 2 -not -name '.' | sort | sed 's/^/  /')
    if [ "$headless" = 1 ]; then
        echo "screenshots:"
        ls "$shots" | sed "s|^|  $shots/|"
    fi
    awk -v a="$started" -v b="$update_started" -v c="$update_ended" 'BEGIN {
        printf "time: %.1f s for the update, %.1f s in all\n", c - b, c - a }'
    [ "$updater_code" = 0 ] && [ "$after" = "$after_wanted" ] && [ "$backup" = "$backup_wanted" ] &&
        [ "$started_version" = "$after_wanted" ] &&
        [ "$(cat "$run/data/books.dat")" = "the office's books" ] || {
        echo "demo: the update to $after_wanted did not end as expected" >&2
        exit 1
    }
}

step "Running the updater"
export ZEL_APP_RECORD="$demo/app-starts.txt" ZEL_APP_LIFETIME_MS=4000
rm -f "$ZEL_APP_RECORD"
run_updater "$demo/screenshots"

step "What happened"
outcome 2.0.0.0 1.0.0.0 "$demo/screenshots"
echo "the updater's log ($run/zel_updater.log):"
sed 's/^/  /' "$run/zel_updater.log"
echo "demo: updated from 1.0.0.0 to 2.0.0.0"

step "Publishing 2.1.0.0: a new zel_acc.exe, data/sample-reports.dat unchanged"
cp -r "$demo/release-2.0.0.0" "$demo/release-2.1.0.0"
publish 2.1.0.0

step "Running the updater again: the previous zel.zip lends what did not change"
log_lines=$(wc -l <"$run/zel_updater.log")
run_updater "$demo/screenshots/2.1.0.0"

step "What happened"
outcome 2.1.0.0 2.0.0.0 "$demo/screenshots/2.1.0.0"
echo "the updater's log, this run:"
tail -n +$((log_lines + 1)) "$run/zel_updater.log" | sed 's/^/  /'
delta=$(tail -n +$((log_lines + 1)) "$run/zel_updater.log" | grep ' delta result=' || true)
fetched=$(sed -n 's/.* bytes_fetched=\([0-9]*\).*/\1/p' <<<"$delta")
size=$(stat -c %s "$demo/www/releases/2.1.0.0/zel.zip")
[[ "$delta" == *"result=ok"* ]] || { echo "demo: the second release was not downloaded differentially" >&2; exit 1; }
awk -v f="$fetched" -v s="$size" 'BEGIN {
    printf "second release: fetched %d of the archive'"'"'s %d bytes (%.1f %%); the rest came from the previous zel.zip\n", f, s, 100 * f / s }'
echo "demo: updated from 2.0.0.0 to 2.1.0.0"
