#!/usr/bin/env bash
# Authenticode-signs Windows executables in place with osslsigncode, so that
# antivirus programs and SmartScreen judge them as the vendor's.
#
# Usage: sign_executables.sh --key KEY.pfx [--pass-file FILE] [--timestamp URL] EXE...
#        sign_executables.sh --key KEY.pem --cert CERT.pem [--timestamp URL] EXE...
#   EXE may be a folder: every .exe in it is signed (a release folder).
#   --timestamp names an RFC 3161 time-stamp server (for example
#   http://timestamp.digicert.com), so the signature outlives the certificate.
# Check a signature with: osslsigncode verify -CAfile CA.pem -in FILE.exe
set -euo pipefail

usage() { sed -n '5,11p' "$0" | sed 's/^# \{0,1\}//'; }
key="" cert="" pass_file="" timestamp=""
files=()
while [ $# -gt 0 ]; do
    case "$1" in
        --key) key=${2:?--key needs a file}; shift 2 ;;
        --cert) cert=${2:?--cert needs a file}; shift 2 ;;
        --pass-file) pass_file=${2:?--pass-file needs a file}; shift 2 ;;
        --timestamp) timestamp=${2:?--timestamp needs a URL}; shift 2 ;;
        -h | --help) usage; exit 0 ;;
        -*) usage >&2; exit 2 ;;
        *)
            if [ -d "$1" ]; then
                while IFS= read -r -d '' exe; do files+=("$exe"); done \
                    < <(find "$1" -type f -iname '*.exe' -print0 | sort -z)
            else
                files+=("$1")
            fi
            shift ;;
    esac
done
[ -n "$key" ] && [ ${#files[@]} -gt 0 ] || { usage >&2; exit 2; }
command -v osslsigncode >/dev/null || { echo "sign_executables.sh: osslsigncode is missing (tools/install_deps.sh)" >&2; exit 1; }

credentials=()
case "$key" in
    *.pfx | *.p12) credentials=(-pkcs12 "$key") ;;
    *) [ -n "$cert" ] || { echo "sign_executables.sh: a PEM key needs --cert" >&2; exit 2; }
       credentials=(-certs "$cert" -key "$key") ;;
esac
[ -z "$pass_file" ] || credentials+=(-readpass "$pass_file")
[ -z "$timestamp" ] || credentials+=(-ts "$timestamp")

for exe in "${files[@]}"; do
    signed="$exe.signing"
    # Written beside and renamed: a failed signing leaves the file as it was.
    if ! output=$(osslsigncode sign "${credentials[@]}" -h sha256 -n "ZEL" -in "$exe" -out "$signed" 2>&1); then
        rm -f "$signed"
        echo "sign_executables.sh: $exe: $output" >&2
        exit 1
    fi
    mv "$signed" "$exe"
    echo "signed $exe"
done
