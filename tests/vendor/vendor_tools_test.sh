#!/usr/bin/env bash
# compute_pin.sh prints one pin for every form of a key, and on any failure
# nothing on standard output; sign_executables.sh signs so that osslsigncode
# verifies, and a signed executable changed afterwards fails.
# Usage: vendor_tools_test.sh EXE PORT   (any Windows executable to sign; a
# loopback port where nothing listens)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
fail() { echo "FAILED: $*" >&2; exit 1; }
openssl ecparam -name prime256v1 -genkey -noout -out key.pem
openssl req -x509 -new -key key.pem -out cert.pem -days 2 -subj /CN=localhost 2>/dev/null
openssl x509 -in cert.pem -outform der -out cert.der
openssl pkey -in key.pem -pubout -out public.pem
openssl pkey -in key.pem -outform der -out key.der
openssl pkey -in key.pem -aes128 -passout pass:secret -out encrypted.pem
head -c 300 /dev/urandom >garbage
pin=$(openssl pkey -in key.pem -pubout -outform der | sha256sum | cut -c1-64)

# Each row: arguments, and what standard error must say (empty: the pin).
rows=(
    "cert.pem|" "cert.der|" "public.pem|" "key.pem|" "key.der|"
    "encrypted.pem|is no certificate or key" "garbage|is no certificate or key"
    "--host no-such-host.invalid|does not resolve" "--host 127.0.0.1:$2|nothing answers"
)
for row in "${rows[@]}"; do
    # shellcheck disable=SC2086
    out=$("$root/tools/compute_pin.sh" ${row%%|*} 2>err) && code=0 || code=$?
    if [ -z "${row#*|}" ]; then
        [ "$code" = 0 ] && [ "$out" = "$pin" ] || fail "${row%%|*}: '$out' ($code)"
    else
        [ "$code" != 0 ] && [ -z "$out" ] && grep -q "${row#*|}" err || fail "${row%%|*}: '$out' ($code) $(cat err)"
    fi
done

openssl req -x509 -newkey rsa:2048 -nodes -keyout code.key -out code.crt -days 2 \
    -subj /CN=ZEL-test -addext extendedKeyUsage=codeSigning 2>/dev/null
cp "$1" signed.exe
"$root/tools/sign_executables.sh" --key code.key --cert code.crt signed.exe >/dev/null
osslsigncode verify -CAfile code.crt -in signed.exe >/dev/null || fail "the signature does not verify"
printf 'X' | dd of=signed.exe bs=1 seek=1024 conv=notrunc 2>/dev/null
! osslsigncode verify -CAfile code.crt -in signed.exe >/dev/null 2>&1 || fail "a changed file verified"
