#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Safe to run again; it asks apt only when something lacks.
set -euo pipefail

packages=(
    cmake ninja-build
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    libz-mingw-w64-dev googletest
    wine wine64 xvfb fonts-dejavu-core
    openssl python3 nginx-light curl osslsigncode procps
    python3-matplotlib squid winbind
)

# One query for them all: the scripts that call this run it at every start.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
    sed -n 's/^\([^ ]*\) install ok installed$/\1/p' || true)
missing=()
for package in "${packages[@]}"; do
    grep -qx -- "$package" <<<"$installed" || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
