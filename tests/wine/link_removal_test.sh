#!/usr/bin/env bash
# Stale backup and staging folders that are, or hold, links made on the Linux
# side: the installation removes links, never what they lead to, and never
# renames one (Wine would move the target). Usage: link_removal_test.sh BUILD
set -euo pipefail
build=$1
mkdir -p "$build/scratch"
dir=$(mktemp -d "$build/scratch/links.XXXXXX")
trap 'rm -rf "$dir"' EXIT
office="$dir/office" outside="$dir/outside"
fail() { echo "FAILED: $*" >&2; exit 1; }

install_with() {  # what ZEL.bak is: inner-links, file-link or folder-link
    rm -rf "$office" "$outside"
    mkdir -p "$office/ZEL" "$outside"
    echo "keep me" >"$outside/precious.txt"
    cp "$build/bin/apps/v1.2.3.4/zel_acc.exe" "$office/ZEL/"
    cp "$build/bin/archives/good.zip" "$office/zel.zip"
    case $1 in
        inner-links) mkdir -p "$office/update" "$office/ZEL.bak"
            ln -s "$outside" "$office/update/link"
            ln -s "$outside" "$office/ZEL.bak/link"
            ln -s "$outside/precious.txt" "$office/ZEL.bak/file-link" ;;
        file-link) ln -s "$outside/precious.txt" "$office/ZEL.bak" ;;
        folder-link) ln -s "$outside" "$office/ZEL.bak" ;;
    esac
    (cd "$office" && ZEL_APP_LIFETIME_MS=1000 "$build/wine_run.sh" "$build/bin/install_driver.exe" install) || true
    [ "$(cat "$outside/precious.txt" 2>/dev/null)" = "keep me" ] || fail "$1: a file outside was removed"
    [ -f "$office/ZEL/zel_acc.exe" ] || fail "$1: ZEL lost its application"
    [ ! -e "$outside/zel_acc.exe" ] || fail "$1: the old ZEL went through the link"
    [ "$1" = folder-link ] || [ -f "$office/ZEL.bak/zel_acc.exe" ] || fail "$1: the old ZEL is not ZEL.bak"
}

install_with inner-links
[ ! -e "$office/ZEL/link" ] || fail "the stale staging folder reached ZEL"
install_with file-link
# Under Wine a link to a folder cannot be removed without acting on the folder:
# it stays and the installation stops with ZEL as it was.
install_with folder-link
echo "3 passed, 0 failed"
