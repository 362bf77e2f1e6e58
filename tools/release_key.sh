#!/usr/bin/env bash
# The vendor's release signing key (ECDSA P-256).
#
# Usage: release_key.sh new PRIVATE.pem      makes a key pair: the private key in
#                                            PRIVATE.pem (kept offline, never on the
#                                            update server), the public half beside it
#                                            as PRIVATE.pub.pem; prints the public key
#        release_key.sh public KEY.pem       prints the public key of a private or
#                                            public key file
#
# The printed form is what the build takes:
#   cmake --preset product ... -DZEL_RELEASE_KEY=<128 hexadecimal digits>
# (ZEL_RELEASE_KEY also takes the public key file itself.)
set -euo pipefail

usage() { sed -n '4,13p' "$0" | sed 's/^# \{0,1\}//'; }

# X then Y: the last 64 bytes of the DER SubjectPublicKeyInfo, once the key
# is known to be on P-256.
public_hex() {
    local file=$1 der
    if grep -q -- '-----BEGIN PUBLIC KEY-----' "$file"; then
        der=$(openssl pkey -pubin -in "$file" -outform der | od -An -v -tx1 | tr -d ' \n')
    else
        der=$(openssl pkey -in "$file" -pubout -outform der | od -An -v -tx1 | tr -d ' \n')
    fi
    local prefix=3059301306072a8648ce3d020106082a8648ce3d030107034200
    if [ "${der:0:${#prefix}}" != "$prefix" ] || [ ${#der} -ne 182 ]; then
        echo "release_key.sh: $file is not an ECDSA P-256 key" >&2
        return 1
    fi
    printf '%s\n' "${der: -128}"
}

case "${1:-}" in
    new)
        key=${2:?usage: release_key.sh new PRIVATE.pem}
        [ ! -e "$key" ] || { echo "release_key.sh: $key exists; not overwritten" >&2; exit 1; }
        (umask 077 && openssl ecparam -name prime256v1 -genkey -noout -out "$key" 2>/dev/null)
        openssl pkey -in "$key" -pubout -out "${key%.pem}.pub.pem"
        public_hex "$key"
        ;;
    public)
        public_hex "${2:?usage: release_key.sh public KEY.pem}"
        ;;
    -h | --help) usage ;;
    *) usage >&2; exit 2 ;;
esac
