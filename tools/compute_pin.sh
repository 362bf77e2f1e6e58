#!/usr/bin/env bash
# Prints the updater's server key pin: the SHA-256 of the DER-encoded
# SubjectPublicKeyInfo of a server's key, as 64 hexadecimal digits. On any
# failure it prints nothing on standard output and exits non-zero, so that
# PIN=$(tools/compute_pin.sh ...) never builds an updater with a pin of nothing.
set -euo pipefail

usage() {
    cat <<'TXT'
Usage: compute_pin.sh FILE              certificate, public key or private key (PEM or DER)
       compute_pin.sh --host HOST[:PORT] the certificate a live server presents (port 443 by default)

Pass the printed value to the product build:
  cmake --preset product -DZEL_SERVER_HOST=updates.example.com -DZEL_SERVER_PIN=<value>
TXT
}

fail() { echo "compute_pin.sh: $*" >&2; exit 1; }

# The SubjectPublicKeyInfo of whatever the file holds, tried as each kind in
# each encoding; an encrypted private key is refused rather than asked for.
spki_of_file() {
    local file=$1 form
    for form in PEM DER; do
        openssl x509 -inform "$form" -in "$file" -pubkey -noout 2>/dev/null |
            openssl pkey -pubin -outform der 2>/dev/null && return 0
        openssl pkey -pubin -inform "$form" -in "$file" -outform der 2>/dev/null && return 0
        openssl pkey -inform "$form" -in "$file" -passin pass: -pubout -outform der 2>/dev/null &&
            return 0
    done
    return 1
}


case "${1:-}" in
    -h | --help) usage; exit 0 ;;
    "") usage >&2; exit 2 ;;
    --host)
        target=${2:-}
        [ -n "$target" ] || fail "--host needs HOST[:PORT]"
        [[ $target == *:* ]] || target="$target:443"
        host=${target%:*}
        getent ahosts "$host" >/dev/null || fail "the name $host does not resolve"
        answer=$(openssl s_client -connect "$target" -servername "$host" </dev/null 2>&1) || true
        cert=$(printf '%s\n' "$answer" | openssl x509 2>/dev/null) ||
            fail "nothing answers TLS on $target ($(printf '%s\n' "$answer" | grep -m1 -iE 'error|refused|errno' || echo 'no certificate'))"
        pin=$(printf '%s\n' "$cert" | openssl x509 -pubkey -noout | openssl pkey -pubin -outform der |
            openssl dgst -sha256 -r | cut -d' ' -f1) || fail "the certificate of $target has no readable key"
        ;;
    *)
        [ -f "$1" ] || fail "no such file: $1"
        spki=$(mktemp)
        trap 'rm -f "$spki"' EXIT
        spki_of_file "$1" >"$spki" && [ -s "$spki" ] ||
            fail "$1 is no certificate or key in PEM or DER (or the key is encrypted)"
        pin=$(openssl dgst -sha256 -r "$spki" | cut -d' ' -f1)
        ;;
esac
[[ $pin =~ ^[0-9a-f]{64}$ ]] || fail "no pin could be computed"
echo "$pin"
