#!/usr/bin/env python3
"""Publishes a release of the ZEL accounting application for the updater.

From a folder holding the application's files (zel_acc.exe at its top level)
it builds zel.zip with those files at the archive's top level and writes the
manifest the update server answers with. The version is read from
zel_acc.exe with the updater's own code; a --version that differs is refused,
since a manifest that never matches the installed version offers the same
update forever. The notes and every value are checked against what the
updater's manifest reader would misread, and the written manifest is read
back with that reader before anything is reported as done.

With --signing-key the manifest carries the vendor's signature over what the
updater acts on (see release_statement below), made with openssl, and the
signature is checked with the updater's own verifier against the public key
the updater is built with (--release-key; by default the signing key's own
public half) before anything is reported as done.

Needs the release_check helper (built by `cmake --preset tests` or `product`)
and Wine to run it: pass --release-check or let the script find it in build/.
"""
import argparse
import datetime
import hashlib
import json
import os
import subprocess
import sys
import zipfile

KEYS = ("version", "url", "sha256", "notes", "releaseDate", "uploadDate", "mandatory",
        "signature")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Every entry of every release: unpacked files show this time, whatever the
# build's clock said.
ENTRY_TIME = (2000, 1, 1, 0, 0, 0)
ENTRY_ATTRIBUTES = 0x20  # FILE_ATTRIBUTE_ARCHIVE
COMPRESS_LEVEL = 6


class ReleaseError(Exception):
    pass


def find_release_check(explicit):
    candidates = [explicit] if explicit else [
        os.path.join(ROOT, "build", d, sub, "release_check.exe")
        for d in ("tests", "product", "demo") for sub in ("", "bin")]
    for path in candidates:
        if path and os.path.isfile(path):
            return path
    raise ReleaseError("release_check.exe not found; build it with: cmake --preset tests && "
                       "cmake --build --preset tests --target release_check")


def run_release_check(tool, *args):
    env = dict(os.environ, WINEDEBUG="-all")
    env.setdefault("WINEPREFIX", os.path.join(ROOT, "build", "tests", "wineprefix"))
    result = subprocess.run(["wine", tool, *args], capture_output=True, env=env)
    fields = {}
    for line in result.stdout.decode("utf-8").splitlines():
        key, _, value = line.partition("=")
        fields[key] = value
    return result.returncode, fields


def notes_for_manifest(path):
    text = open(path, encoding="utf-8-sig").read()
    lines = text.replace("\r\n", "\n").replace("\r", "\n").rstrip("\n").split("\n")
    for number, line in enumerate(lines, 1):
        if '"' in line:
            raise ReleaseError(f"notes line {number}: a double quote would end the notes early")
        if "\\" in line:
            raise ReleaseError(f"notes line {number}: a backslash would be shown as it stands")
        if any(ord(c) < 0x20 for c in line):
            raise ReleaseError(f"notes line {number}: control characters are not allowed")
    return "\\r\\n".join(lines)


def check_value(key, value):
    if '"' in value or "\\" in value.replace("\\r\\n", ""):
        raise ReleaseError(f"{key}: quotes and backslashes are not allowed")
    if value in KEYS:
        raise ReleaseError(f"{key}: the value '{value}' is a key name; the updater would "
                           "take it for that key")


def url_path(url):
    # The updater asks its own server for the url's path: from the first "/"
    # past "https://".
    slash = url.find("/", 8) if len(url) > 8 else -1
    return url[slash:] if slash >= 0 else "/"


def shown_notes(notes):
    return notes.replace("\\r\\n", "\r\n").replace("\\n", "\r\n").replace("\\r", "\r")


def release_statement(version, url, sha256, mandatory, notes):
    """The text the signature covers, byte for byte as the updater forms it
    (update/release_statement.h): everything the updater acts on."""
    return (f"ZEL release 1\nproduct=ZEL_ACC\nversion={version}\nurl_path={url_path(url)}\n"
            f"sha256={sha256.lower()}\nmandatory={'true' if mandatory else 'false'}\n"
            f"notes={shown_notes(notes)}").encode("utf-8")


def sign_statement(statement, signing_key):
    """The DER ECDSA P-256 signature over SHA-256, in hexadecimal."""
    result = subprocess.run(["openssl", "dgst", "-sha256", "-sign", signing_key],
                            input=statement, capture_output=True)
    if result.returncode != 0:
        raise ReleaseError(f"openssl could not sign with {signing_key}: "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return result.stdout.hex()


def public_key_hex(key_file):
    result = subprocess.run([os.path.join(ROOT, "tools", "release_key.sh"), "public", key_file],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise ReleaseError(f"{key_file}: {result.stderr.strip()}")
    return result.stdout.strip()


def build_archive(app_folder, archive):
    """Writes the same bytes for the same files, whenever and wherever it runs:
    entries in the order of their names, one timestamp, one attribute, one
    compression level. An unchanged file then keeps its entry's bytes from
    release to release, and the updater copies it from the previous archive
    instead of downloading it again."""
    names = []
    for base, _, files in os.walk(app_folder):
        for name in files:
            full = os.path.join(base, name)
            names.append((os.path.relpath(full, app_folder).replace(os.sep, "/"), full))
    with zipfile.ZipFile(archive, "w") as out:
        for name, full in sorted(names):
            info = zipfile.ZipInfo(name, date_time=ENTRY_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS attributes
            info.external_attr = ENTRY_ATTRIBUTES
            with open(full, "rb") as f:
                out.writestr(info, f.read(), compresslevel=COMPRESS_LEVEL)
    return len(names)


def publish(args):
    app_exe = os.path.join(args.app_folder, "zel_acc.exe")
    if not os.path.isfile(app_exe):
        raise ReleaseError(f"{args.app_folder} has no zel_acc.exe at its top level")
    tool = find_release_check(args.release_check)
    code, fields = run_release_check(tool, "version", app_exe)
    if code != 0 or not fields.get("version"):
        raise ReleaseError("zel_acc.exe has no readable ProductVersion")
    version = fields["version"]
    if args.version and args.version != version:
        raise ReleaseError(f"--version {args.version} differs from the ProductVersion {version} "
                           "of zel_acc.exe; the update would be offered forever")

    os.makedirs(args.out, exist_ok=True)
    archive = os.path.join(args.out, "zel.zip")
    count = build_archive(args.app_folder, archive)
    digest = hashlib.sha256(open(archive, "rb").read()).hexdigest()
    today = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
    manifest = {
        "version": version,
        "url": args.url,
        "sha256": digest,
        "notes": notes_for_manifest(args.notes) if args.notes else "",
        "releaseDate": args.release_date or today,
        "uploadDate": args.upload_date or today,
    }
    for key, value in manifest.items():
        check_value(key, value)
    if args.signing_key:
        manifest["signature"] = sign_statement(
            release_statement(version, args.url, digest, args.mandatory, manifest["notes"]),
            args.signing_key)
    # The notes' escapes are written as they stand; json.dumps would double them.
    body = ",\n".join(f'  "{k}": "{v}"' for k, v in manifest.items())
    body += f',\n  "mandatory": {"true" if args.mandatory else "false"}'
    path = os.path.join(args.out, "manifest.json")
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("{\n" + body + "\n}\n")
    json.load(open(path, encoding="utf-8"))  # well-formed JSON for any other reader

    code, read_back = run_release_check(tool, "manifest", path)
    expected = dict(manifest, mandatory="true" if args.mandatory else "false",
                    signature=manifest.get("signature", ""))
    if code != 0 or read_back != expected:
        raise ReleaseError(f"the updater would read the manifest differently: {read_back}")
    if args.signing_key:
        public = args.release_key or args.signing_key
        key_hex = public if all(c in "0123456789abcdefABCDEF" for c in public) and \
            len(public) in (128, 130) else public_key_hex(public)
        code, verdict = run_release_check(tool, "verify", path, key_hex)
        if code != 0:
            os.remove(path)
            raise ReleaseError(f"the updater built with the release key {key_hex[:16]}... would "
                               f"refuse this release (signature={verdict.get('signature')}); "
                               "the manifest was removed")
    print(f"published {version}: {archive} ({count} files, sha256 {digest})")
    print(f"manifest: {path}" + (" (signed)" if args.signing_key else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     epilog=__doc__.split("\n\n", 1)[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--app-folder", required=True, help="the application's files")
    parser.add_argument("--url", required=True,
                        help="where the archive will be served, e.g. https://updates.example.com/releases/zel.zip")
    parser.add_argument("--out", required=True, help="folder for zel.zip and manifest.json")
    parser.add_argument("--version", help="expected version; refused when it differs")
    parser.add_argument("--notes", help="release notes, a UTF-8 text file")
    parser.add_argument("--mandatory", action="store_true", help="install without asking")
    parser.add_argument("--release-date")
    parser.add_argument("--upload-date")
    parser.add_argument("--release-check", help="path of release_check.exe")
    parser.add_argument("--signing-key", help="the vendor's private release key (PEM); signs the "
                        "release")
    parser.add_argument("--release-key", help="the public key the updater is built with (PEM "
                        "file or the hex of tools/release_key.sh); the signature must verify "
                        "with it")
    args = parser.parse_args()
    try:
        publish(args)
    except ReleaseError as error:
        print(f"publish_release: {error}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
