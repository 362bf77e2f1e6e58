#!/usr/bin/env bash
# The updater's main job on this machine: a real update of a demo application
# from 1.0.0.0 to 2.0.0.0, served over HTTPS on loopback by nginx with a
# pinned key, signed with the demo's release key, run under Wine; then a
# second release, 2.1.0.0, from a CDN edge (nginx proxy_cache before a mirror
# origin, a certificate from a demo root the Wine prefix trusts) through a
# staged rollout: 50 % of the offices, then 100 %, each time with 100
# simulated offices and this one. Its unchanged files come from the previous
# zel.zip (the differential download). The rollout is drawn from the origin's
# own log in demo/screenshots/fleet-report.html.
#
# Usage: tools/demo.sh [--headless] [--mandatory] [--prepare]
#   With a display (DISPLAY set) the updater's window appears and you press
#   the button. Without one, or with --headless, it runs under a private Xvfb,
#   presses the button itself and saves screenshots in demo/screenshots.
#   --mandatory publishes both releases as mandatory instead.
#   --prepare only makes the keys, the builds and the Wine prefix, so that a
#   later run (the test suite's) starts at once.
#   Ports: ZEL_DEMO_PORT (28643) for the origin, the next two for the edge and
#   the mirror origin. ZEL_DEMO_OFFICE_ID (32 hex digits) fixes the office's id.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
headless=0 mandatory=0 prepare=0
for arg in "$@"; do
    case "$arg" in
        --headless) headless=1 ;;
        --mandatory) mandatory=1 ;;
        --prepare) prepare=1 ;;
        -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
edge_port=$((port + 1)) mirror_port=$((port + 2))
fleet_size=100
demo="$root/demo"
keys="$demo/keys"
tests_build="$root/build/tests"
demo_build="$root/build/demo"
started=$(date +%s.%N)

step() { printf '\n== %s\n' "$*"; }
# Wine shows the Linux file system as drive Z:.
windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
fail() { echo "demo: $*" >&2; exit 1; }
# Waits, at most a minute, until the command succeeds.
wait_for() {
    local what=$1
    shift
    for _ in $(seq 1 600); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    fail "no $what within a minute"
}

step "Keys (made on first use): a demo root, the origin's pinned key, the edge's certificate"
mkdir -p "$keys"
if [ ! -f "$keys/root.crt" ]; then
    openssl ecparam -name prime256v1 -genkey -noout -out "$keys/root.key" 2>/dev/null
    openssl req -x509 -new -key "$keys/root.key" -out "$keys/root.crt" -days 3650 \
        -subj "/CN=ZEL demo root" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
fi
# NAME.crt for localhost and 127.0.0.1, issued by the demo root for NAME.key
# (made when missing). An existing key is kept, so the origin's pin is too.
issue() {
    local name=$1
    [ -f "$keys/$name.key" ] ||
        openssl ecparam -name prime256v1 -genkey -noout -out "$keys/$name.key" 2>/dev/null
    openssl verify -CAfile "$keys/root.crt" "$keys/$name.crt" >/dev/null 2>&1 && return 0
    openssl req -new -key "$keys/$name.key" -subj "/CN=localhost" 2>/dev/null |
        openssl x509 -req -CA "$keys/root.crt" -CAkey "$keys/root.key" -CAcreateserial \
            -days 3650 -out "$keys/$name.crt" -extfile <(printf '%s\n' \
            "subjectAltName=DNS:localhost,IP:127.0.0.1" "extendedKeyUsage=serverAuth") 2>/dev/null
}
issue server
issue edge
# The edge presents its chain, as a CDN does with its intermediates. This
# also keeps Wine 8 honest: it accepts a chain that stops short at an
# unknown issuer, but refuses one that ends in a root it does not trust.
cat "$keys/edge.crt" "$keys/root.crt" >"$keys/edge-chain.crt"
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
# Wine 8 takes the machine's trusted roots from the registry alone (not from
# roots added through the CryptoAPI): the key is the root's SHA-1 thumbprint in
# capitals, Blob the serialized store element, here the one property
# {id 32 (the DER certificate), 1, length, bytes}.
root_key="HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$(
    openssl x509 -in "$keys/root.crt" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' | tr a-f A-F)"
trust_root() {
    local blob
    blob=$(openssl x509 -in "$keys/root.crt" -outform der | python3 -c 'import struct, sys
der = sys.stdin.buffer.read()
print((struct.pack("<III", 32, 1, len(der)) + der).hex())')
    "$tests_build/wine_run.sh" reg add "$root_key" /v Blob /t REG_BINARY /d "$blob" /f >/dev/null
}
trust_root
[ "$prepare" = 0 ] || exit 0

step "An office with version 1.0.0.0 installed"
run="$demo/office"
# The window's pictures at other scalings, taken by the test suite, stay.
rm -rf "$run" "$demo/www" "$demo/screenshots"/*-download.png "$demo/screenshots/2.1.0.0" \
    "$demo/screenshots"/fleet-report* "$demo/nginx" "$demo/edge" "$demo/fleet-offices.json"
mkdir -p "$run/ZEL" "$run/data" "$demo/screenshots" "$demo/nginx" "$demo/edge"
cp "$bin/apps/v1.0.0.0/zel_acc.exe" "$run/ZEL/"
# The office's own data lives beside ZEL, never in it: an update replaces ZEL.
echo "the office's books" >"$run/data/books.dat"
cp "$demo_build/zel_updater.exe" "$run/"
# The office's id is random and decides whether the 50 % stage takes it;
# ZEL_DEMO_OFFICE_ID (32 hex digits) fixes it to see one side or the other.
[ -z "${ZEL_DEMO_OFFICE_ID:-}" ] || printf '%s' "$ZEL_DEMO_OFFICE_ID" >"$run/zel_updater.office"

# Publishes a release of the application in release-VERSION (zel_acc.exe of the
# test build's variant vVERSION, and the files already in the folder) for the
# archive's URL; further arguments go to the release tool.
publish() {
    local version=$1 url=$2 release="$demo/release-$1"
    shift 2
    mkdir -p "$release"
    cp "$bin/apps/v$version/zel_acc.exe" "$release/"
    python3 "$root/tools/publish_release.py" \
        --app-folder "$release" --version "$version" --notes "$demo/notes.txt" \
        --url "$url" --out "$demo/www" "$@" \
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
# The first release's archive is on the origin itself.
publish 2.0.0.0 "https://127.0.0.1:$port/releases/2.0.0.0/zel.zip"

step "Serving it with nginx on https://127.0.0.1:$port (the origin)"
# The origin's configuration with a rollout line ("50% candidate;") or none.
origin_config() {
    sed -e "s|@PORT@|$port|; s|@ROOT@|$demo/www|; s|@CERT@|$keys/server.crt|" \
        -e "s|@KEY@|$keys/server.key|; s|@STATE@|$demo/nginx|g; s|@RATE@|3m|" \
        -e "s|#@ROLLOUT@|$1|; s|@SALT@|2.1.0.0|" \
        "$root/tools/demo/nginx.conf.in" >"$demo/nginx/nginx.conf"
}
origin_config ""
nginx -c "$demo/nginx/nginx.conf" -e "$demo/nginx/error.log" &
nginx_pid=$!
edge_pid=
cleanup() {
    kill $nginx_pid $edge_pid 2>/dev/null || true
    wait $nginx_pid $edge_pid 2>/dev/null || true
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
wait_for "origin on port $port" \
    curl -skf -o /dev/null "https://127.0.0.1:$port/api/sysboot/check/ZEL_ACC/1.0.0.0"
# Rereads the origin's configuration: returns once only workers started from
# the new one are left, so that every later request sees it.
workers_replaced() {
    local now
    now=$(pgrep -P "$nginx_pid" | sort)
    [ -n "$now" ] && [ -z "$(comm -12 <(printf '%s\n' "$1") <(printf '%s\n' "$now"))" ]
}
reload_origin() {
    local old
    old=$(pgrep -P "$nginx_pid" | sort)
    kill -HUP "$nginx_pid"
    wait_for "reload of the origin" workers_replaced "$old"
}

version_of() {
    "$tests_build/wine_run.sh" "$tests_build/release_check.exe" version "$1" 2>/dev/null |
        sed -n 's/^version=//p' | tr -d '\r'
}
echo "installed before: $(version_of "$run/ZEL/zel_acc.exe")"

lines_of() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }
started_since() { [ "$(lines_of "$ZEL_APP_RECORD")" -gt "$1" ]; }
# Runs the updater in the office, headless through the demo driver (with its
# screenshots in SHOTS) or for a person at the display.
run_updater() {
    local shots=$1 starts
    mkdir -p "$shots"
    starts=$(lines_of "$ZEL_APP_RECORD")
    log_lines=$(lines_of "$run/zel_updater.log")
    update_started=$(date +%s.%N)
    set +e
    if [ "$headless" = 1 ]; then
        "$tests_build/wine_run.sh" "$bin/demo_driver.exe" "$(windows_path "$run/zel_updater.exe")" \
            "$(windows_path "$run")" "$(windows_path "$shots")" \
            $([ "$mandatory" = 1 ] && echo --mandatory)
    else
        echo "When the updater's window shows, press its start button."
        (cd "$run" && "$tests_build/wine_run.sh" "$run/zel_updater.exe")
    fi
    updater_code=$?
    set -e
    update_ended=$(date +%s.%N)
    # The application writes its record once it runs, after the updater ended.
    wait_for "start of the application" started_since "$starts"
}
# What the updater logged in its last run.
run_log() { tail -n +$((log_lines + 1)) "$run/zel_updater.log"; }

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

step "Publishing 2.1.0.0 as the candidate: a new zel_acc.exe, data/sample-reports.dat unchanged"
cp -r "$demo/release-2.0.0.0" "$demo/release-2.1.0.0"
# Its archive comes from the CDN edge, under the same path as on the origin.
publish 2.1.0.0 "https://localhost:$edge_port/releases/2.1.0.0/zel.zip" --candidate

step "A CDN edge on https://localhost:$edge_port (nginx proxy_cache) before a mirror origin on $mirror_port"
sed -e "s|@EDGE_PORT@|$edge_port|; s|@MIRROR_PORT@|$mirror_port|; s|@ROOT@|$demo/www|" \
    -e "s|@CERT@|$keys/edge-chain.crt|; s|@KEY@|$keys/edge.key|; s|@STATE@|$demo/edge|g" \
    "$root/tools/fleet/nginx-edge.conf.in" >"$demo/edge/nginx.conf"
nginx -c "$demo/edge/nginx.conf" -e "$demo/edge/startup-error.log" &
edge_pid=$!
wait_for "edge on port $edge_port" curl -s -o /dev/null --cacert "$keys/root.crt" \
    "https://localhost:$edge_port/"
wait_for "mirror origin on port $mirror_port" curl -s -o /dev/null "http://127.0.0.1:$mirror_port/"
# The edge's certificate is checked as the updater checks a mirror's: by
# Windows, against the roots the prefix trusts. Without the demo root it is
# refused; with it the archive's head comes (and fills the edge's cache).
fetch_edge() {
    "$tests_build/wine_run.sh" "$bin/demo_driver.exe" --fetch \
        "https://localhost:$edge_port/releases/2.1.0.0/zel.zip" | tr -d '\r' || true
}
"$tests_build/wine_run.sh" reg delete "$root_key" /f >/dev/null 2>&1 || true
untrusted=$(fetch_edge)
trust_root
trusted=$(fetch_edge)
echo "the edge's certificate under Wine: without the demo root $untrusted, with it $trusted"
[[ $untrusted == error=* ]] && [ "$trusted" = status=200 ] ||
    fail "the Wine prefix's trust in the demo root does not decide the edge's certificate"

# One stage of the simulated fleet against the demo's origin and edge.
fleet() {
    PYTHONDONTWRITEBYTECODE=1 timeout 300 python3 "$root/tools/fleet/simulate.py" stage \
        "$fleet_size" "$port" "$demo/www" "$keys/server.crt" "$keys/root.crt" \
        "$demo/fleet-offices.json" || fail "the simulated fleet failed"
}
office_id=
updated_at=
# One stage of the rollout: the origin at PERCENT, the fleet, then this office.
rollout() {
    local percent=$1
    step "Rollout at $percent %: $fleet_size simulated offices, then this office"
    origin_config "$percent% candidate;"
    reload_origin
    fleet
    run_updater "$demo/screenshots/2.1.0.0"
    office_id=$(tr -dc 0-9a-f <"$run/zel_updater.office")
    if [ -z "$updated_at" ] && [ "$(version_of "$run/ZEL/zel_acc.exe")" = 2.1.0.0 ]; then
        updated_at=$percent
        update_log=$(run_log)
        echo "this office ($office_id) was offered 2.1.0.0 at $percent %"
        outcome 2.1.0.0 2.0.0.0 "$demo/screenshots/2.1.0.0"
    else
        # Not in the share yet (its id is random), or already on 2.1.0.0.
        local installed=2.0.0.0 aside=1.0.0.0
        [ -z "$updated_at" ] || installed=2.1.0.0 aside=2.0.0.0
        echo "this office ($office_id) was not offered an update at $percent %:" \
            "$installed started as it is"
        outcome "$installed" "$aside" "$demo/screenshots/2.1.0.0"
    fi
    echo "the updater's log, this run:"
    run_log | sed 's/^/  /'
}
rollout 50
rollout 100
[ "$updated_at" ] || fail "this office was not updated to 2.1.0.0 at 100 %"

step "How 2.1.0.0 came to this office"
delta=$(grep ' delta result=' <<<"$update_log" | tail -n 1 || true)
fetched=$(sed -n 's/.* bytes_fetched=\([0-9]*\).*/\1/p' <<<"$delta")
size=$(stat -c %s "$demo/www/releases/2.1.0.0/zel.zip")
[[ "$delta" == *"result=ok"* ]] || fail "the second release was not downloaded differentially"
awk -v f="$fetched" -v s="$size" 'BEGIN {
    printf "second release: fetched %d of the archive'"'"'s %d bytes (%.1f %%); the rest came from the previous zel.zip\n", f, s, 100 * f / s }'
# The archive must have come from the edge the url names, not from the
# origin after the edge failed (an untrusted certificate, for one).
moved=$(grep -E ' (download|delta) .*result=ok' <<<"$update_log" || true)
[[ $moved == *source=mirror* && $moved != *source=origin* ]] ||
    fail "the second release did not come from the edge: $(grep fallback <<<"$update_log")"
echo "second release: from the CDN edge (source=mirror);" \
    "$(grep -c "\"$office_id\"" "$demo/edge/edge.log") requests of this office at the edge"
echo "the mirror origin behind the edge sent the archive" \
    "$(grep -c ' /releases/' "$demo/edge/mirror.log") time(s) for all the offices"
echo "demo: updated from 2.0.0.0 to 2.1.0.0 at $updated_at %"

step "The rollout as the origin's log tells it"
/usr/bin/python3 "$root/tools/fleet_report.py" --pictures --out "$demo/screenshots/fleet-report.html" \
    "$demo/nginx/access.log" | grep -E '^(checks|reports|installed|failed|offices|from_mirror|from_origin|delta)='
echo "fleet report: $demo/screenshots/fleet-report.html (pictures beside it)"
awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "demo: %.1f s in all\n", b - a }'
