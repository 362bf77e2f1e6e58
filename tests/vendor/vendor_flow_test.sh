#!/usr/bin/env bash
# The vendor's whole flow as the README gives it, on a fresh build tree made
# with the product preset alone: keys, the product build (the updater bound
# to nginx on loopback), two signed releases published into a server root,
# served with the README's nginx configuration, verified as an office would,
# and the updater updating an office from the first to the second through it.
# Usage: vendor_flow_test.sh [--prepare] TEST_BUILD PORT   (the test build
# lends the application's versions and its Wine prefix for the office's run)
# --prepare makes the keys and the fresh product build in TEST_BUILD/vendor-flow
# beforehand (tools/test.sh does, outside the timed suite); a test run for that
# port takes them from there, any other makes its own.
set -euo pipefail
prepare=0
[ "${1:-}" = --prepare ] && prepare=1 && shift
tests_build=$1 port=$2 root=$(cd "$(dirname "$0")/../.." && pwd)
made="$tests_build/vendor-flow"
# Keys and a product tree of the product preset alone, bound to 127.0.0.1:PORT,
# in the current folder.
make_product() {
    openssl ecparam -name prime256v1 -genkey -noout -out server.key
    openssl req -x509 -new -key server.key -out server.crt -days 30 -subj /CN=localhost 2>/dev/null
    pin=$("$root/tools/compute_pin.sh" server.crt)
    "$root/tools/release_key.sh" new release-key.pem >/dev/null
    cmake -S "$root" --preset product -B product -DZEL_SERVER_HOST=127.0.0.1 \
        -DZEL_SERVER_PORT="$port" -DZEL_SERVER_PIN="$pin" \
        -DZEL_RELEASE_KEY="$PWD/release-key.pub.pem" >/dev/null
    cmake --build product >/dev/null
    echo "$port" >port
}
if [ "$prepare" = 1 ]; then
    rm -rf "$made"
    mkdir -p "$made"
    cd "$made"
    make_product
    exit 0
fi
mkdir -p "$tests_build/scratch"
dir=$(mktemp -d "$tests_build/scratch/vendor.XXXXXX")
chmod 755 "$dir"  # nginx's workers read the server root as another user
nginx_pid=""
cleanup() {
    [ -z "$nginx_pid" ] || { kill "$nginx_pid"; wait "$nginx_pid" 2>/dev/null || true; }
    rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
cd "$dir"
# The tool's own Wine prefix, made on first use by the tool itself.
export ZEL_RELEASE_WINEPREFIX="$dir/release-wine"

if [ "$(cat "$made/port" 2>/dev/null)" = "$port" ]; then
    cp "$made"/server.key "$made"/server.crt "$made"/release-key.pem "$made"/release-key.pub.pem .
    ln -s "$made/product" product
else
    make_product
fi

for version in 1.0.0.0 2.0.0.0; do
    mkdir -p "release-$version"
    cp "$tests_build/bin/apps/v$version/zel_acc.exe" "release-$version/"
    python3 "$root/tools/publish_release.py" --build product --app-folder "release-$version" \
        --version "$version" --url "https://127.0.0.1/releases/$version/zel.zip" --out www \
        --signing-key release-key.pem $([ "$version" = 2.0.0.0 ] && echo --mandatory) >/dev/null
done

mkdir nginx
sed -e "s|@PORT@|$port|; s|@ROOT@|$dir/www|; s|@CERT@|$dir/server.crt|" \
    -e "s|@KEY@|$dir/server.key|; s|@STATE@|$dir/nginx|g; s|@RATE@|0|" \
    "$root/tools/demo/nginx.conf.in" >nginx/nginx.conf
nginx -c "$dir/nginx/nginx.conf" -e "$dir/nginx/error.log" &
nginx_pid=$!
until [ -s nginx/nginx.pid ]; do kill -0 "$nginx_pid" || fail "nginx did not start"; sleep 0.1; done
python3 "$root/tools/publish_release.py" verify --server "https://127.0.0.1:$port" \
    --pin server.crt --release-key release-key.pub.pem >/dev/null || fail "verify"

# An office with the first release installed and the product's updater.
mkdir -p office/ZEL
cp "$tests_build/bin/apps/v1.0.0.0/zel_acc.exe" office/ZEL/
# The product starts only the system's PowerShell (Wine's does nothing), so
# its own unpack installs the release.
cp product/zel_updater.exe office/
export ZEL_APP_RECORD="$dir/app-starts.txt" ZEL_APP_LIFETIME_MS=2000
(cd office && "$tests_build/wine_run.sh" zel_updater.exe) || fail "the updater ended with $?"
# The application writes its record once it runs, after the updater ended.
for _ in $(seq 300); do grep -qs "2.0.0.0" "$ZEL_APP_RECORD" && break; sleep 0.1; done
grep -qs "2.0.0.0" "$ZEL_APP_RECORD" || fail "2.0.0.0 was not started: $(cat office/zel_updater.log)"
"$tests_build/wine_run.sh" product/release_check.exe version office/ZEL/zel_acc.exe |
    grep -q '^version=2.0.0.0' || fail "the office does not hold 2.0.0.0"
