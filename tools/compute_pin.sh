#!/usr/bin/env bash
# Prints the updater's server key pin: the SHA-256 of the DER-encoded
# SubjectPublicKeyInfo of a server's key, as 64 hexadecimal digits.
set -euo pipefail

usage() {
    cat <<'TXT'
Usage: compute_pin.sh FILE.pem          certificate, public key or private key (PEM)
       compute_pin.sh --host HOST[:PORT] the certificate a live server presents (port 443 by default)

Pass the printed value to the product build:
  cmake --preset product -DZEL_SERVER_HOST=updates.example.com -DZEL_SERVER_PIN=<value>
TXT
}

spki_der_of_file() {
    local file=$1
    if grep -q -- '-----BEGIN CERTIFICATE-----' "$file"; then
        openssl x509 -in "$file" -pubkey -noout | openssl pkey -pubin -outform der
    elif grep -q -- '-----BEGIN PUBLIC KEY-----' "$file"; then
        openssl pkey -pubin -in "$file" -outform der
    else
        openssl pkey -in "$file" -pubout -outform der
    fi
}

case "${1:-}" in
    -h | --help | "")
        usage
        [ -n "${1:-}" ] && exit 0 || exit 2
        ;;
    --host)
        target=${2:?--host needs HOST[:PORT]}
        [[ $target == *:* ]] || target="$target:443"
        cert=$(openssl s_client -connect "$target" -servername "${target%%:*}" </dev/null 2>/dev/null |
            openssl x509)
        printf '%s\n' "$cert" | openssl x509 -pubkey -noout | openssl pkey -pubin -outform der |
            openssl dgst -sha256 -r | cut -d' ' -f1
        ;;
    *)
        [ -f "$1" ] || { echo "compute_pin.sh: no such file: $1" >&2; exit 2; }
        spki_der_of_file "$1" | openssl dgst -sha256 -r | cut -d' ' -f1
        ;;
esac
