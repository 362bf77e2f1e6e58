#!/usr/bin/env python3
"""Publishes a release of the ZEL accounting application for the updater.

From a folder holding the application's files (zel_acc.exe at its top level)
it builds zel.zip and the manifest, signs the manifest with the vendor's
release key, and puts both into the update server's document root (--out)
exactly as nginx serves it: the archive at the url's path (a versioned path,
releases/<version>/zel.zip, so that an old manifest never points at a new
archive) and manifest.json at the top.

Everything is built and checked in a staging folder beside --out first: the
version read from zel_acc.exe with the updater's own code, the notes, the
manifest as the updater reads it, the signature with the updater's own
verifier, a carried zel_updater.exe's version and identity. Only then does
the live folder change: the archive by a rename, the manifest last by a
rename. A refused or interrupted publish leaves --out as it was.

Steps, for a release key kept on an offline machine:
  publish_release.py build --app-folder A --url URL --into REL   (Wine)
  publish_release.py sign --release REL --signing-key KEY        (openssl only)
  publish_release.py publish --release REL --out ROOT --release-key PUB (Wine)
Other commands:
  publish_release.py resign --out ROOT --signing-key KEY   the live release, signed anew
  publish_release.py promote --out ROOT                    the candidate becomes current
  publish_release.py verify --server https://HOST[:PORT] --pin PIN --release-key PUB
                                                           checks a live server as an office

The updater's own code runs as release_check.exe under Wine, in a Wine prefix
of the tool's own (~/.cache/zel-release/wineprefix, or ZEL_RELEASE_WINEPREFIX),
made on first use. release_check.exe is taken from build/product (built there
when missing) or from --release-check.
"""
import argparse
import datetime
import hashlib
import http.client
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import zipfile

KEYS = ("version", "url", "sha256", "length", "signed", "notes", "releaseDate", "uploadDate",
        "mandatory", "signature")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Every entry of every release: unpacked files show this time, whatever the
# build's clock said.
ENTRY_TIME = (2000, 1, 1, 0, 0, 0)
ENTRY_ATTRIBUTES = 0x20  # FILE_ATTRIBUTE_ARCHIVE
COMPRESS_LEVEL = 6
# The DER SubjectPublicKeyInfo of a P-256 key up to its uncompressed point.
P256_SPKI_PREFIX = "3059301306072a8648ce3d020106082a8648ce3d03010703420004"
CHECK_PATH = "/api/sysboot/check/ZEL_ACC/"


class ReleaseError(Exception):
    pass


# ---------------------------------------------------------------- Wine ----

def wine_env():
    prefix = os.environ.get("ZEL_RELEASE_WINEPREFIX") or os.path.join(
        os.path.expanduser("~"), ".cache", "zel-release", "wineprefix")
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        env.pop(name, None)
    return env


def find_release_check(explicit, build):
    if explicit:
        if not os.path.isfile(explicit):
            raise ReleaseError(f"--release-check {explicit}: no such file")
        return explicit
    build = build or os.path.join(ROOT, "build", "product")
    tool = os.path.join(build, "release_check.exe")
    if not os.path.isfile(tool):
        if not os.path.isfile(os.path.join(build, "CMakeCache.txt")):
            raise ReleaseError(f"release_check.exe not found and {build} is not configured; "
                               "run the product build first: cmake --preset product ... && "
                               "cmake --build --preset product")
        result = subprocess.run(["cmake", "--build", build, "--target", "release_check"],
                                capture_output=True, text=True)
        if result.returncode != 0 or not os.path.isfile(tool):
            raise ReleaseError(f"building release_check.exe in {build} failed:\n"
                               f"{result.stdout[-2000:]}{result.stderr[-2000:]}")
    return tool


def run_windows(program, *args, allow_failure=True):
    """Runs a Windows program under Wine; returns its exit code and its
    key=value lines. Wine's own complaint is kept for the error message."""
    try:
        # Wine takes absolute Linux paths as they stand.
        paths = [os.path.abspath(a) if os.path.exists(a) else a for a in (program, *args)]
        result = subprocess.run(["wine", *paths], capture_output=True, env=wine_env(), timeout=300)
    except FileNotFoundError:
        raise ReleaseError("wine is not installed (tools/install_deps.sh installs it)")
    fields = {}
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        key, _, value = line.rstrip("\r").partition("=")
        fields[key] = value
    if result.returncode != 0 and not fields and not allow_failure:
        raise ReleaseError(f"wine {os.path.basename(program)} {' '.join(args)} failed "
                           f"({result.returncode}): "
                           f"{result.stderr.decode(errors='replace').strip() or 'no message'}")
    fields["_stderr"] = result.stderr.decode(errors="replace").strip()
    fields["_stdout"] = result.stdout.decode("utf-8", "replace")
    return result.returncode, fields


def product_version(tool, exe):
    code, fields = run_windows(tool, "version", exe)
    if code != 0 or not fields.get("version"):
        raise ReleaseError(f"{os.path.basename(exe)} has no readable ProductVersion"
                           + (f" (wine: {fields['_stderr']})" if fields["_stderr"] else ""))
    return fields["version"]


# --------------------------------------------------------- the manifest ----

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


def release_statement(m, *older):
    """The text the signature covers, byte for byte as the updater forms it:
    everything the updater acts on, the archive's length and the time of
    signing. A manifest without length and time is the older form, which is
    also what (version, url, sha256, mandatory, notes) gives, as the test
    fixtures ask for it."""
    if older:
        m = dict(zip(("version", "url", "sha256", "mandatory", "notes"), (m, *older)))
    mandatory = "true" if m["mandatory"] in (True, "true") else "false"
    if "signed" not in m and "length" not in m:
        return (f"ZEL release 1\nproduct=ZEL_ACC\nversion={m['version']}\n"
                f"url_path={url_path(m['url'])}\nsha256={m['sha256'].lower()}\n"
                f"mandatory={mandatory}\nnotes={shown_notes(m['notes'])}").encode("utf-8")
    return (f"ZEL release 2\nproduct=ZEL_ACC\nversion={m['version']}\nurl={m['url']}\n"
            f"length={m['length']}\nsha256={m['sha256'].lower()}\nmandatory={mandatory}\n"
            f"signed={m['signed']}\nnotes={shown_notes(m['notes'])}").encode("utf-8")


def write_manifest(m, path):
    """Through a temporary file and a rename. The notes' escapes are written
    as they stand; json.dumps would double them."""
    lines = [f'  "{k}": "{m[k]}"' for k in KEYS if k in m and k != "mandatory"]
    lines.append(f'  "mandatory": {"true" if m["mandatory"] in (True, "true") else "false"}')
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8", newline="\n") as f:
        f.write("{\n" + ",\n".join(lines) + "\n}\n")
        f.flush()
        os.fsync(f.fileno())
    json.load(open(temporary, encoding="utf-8"))  # well-formed JSON for any other reader
    os.replace(temporary, path)


def read_manifest(path):
    try:
        return json.load(open(path, encoding="utf-8"))
    except (OSError, ValueError) as error:
        raise ReleaseError(f"{path}: not a manifest ({error})")


def escaped_for_json(m):
    # json.load turned "\r\n" escapes into line ends; the manifest keeps them escaped.
    return {k: (v.replace("\r\n", "\\r\\n") if isinstance(v, str) else v) for k, v in m.items()}


# ------------------------------------------------------------- signing ----

def sign_statement(statement, signing_key):
    """The DER ECDSA P-256 signature over SHA-256, in hexadecimal."""
    result = subprocess.run(["openssl", "dgst", "-sha256", "-sign", signing_key],
                            input=statement, capture_output=True)
    if result.returncode != 0:
        raise ReleaseError(f"openssl could not sign with {signing_key}: "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return result.stdout.hex()


def public_key_hex(key):
    """The 128 hex digits the build takes, from that text or a PEM file."""
    if len(key) == 128 and all(c in "0123456789abcdefABCDEF" for c in key):
        return key.lower()
    result = subprocess.run([os.path.join(ROOT, "tools", "release_key.sh"), "public", key],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise ReleaseError(f"{key}: {result.stderr.strip() or 'not a release key'}")
    return result.stdout.strip()


def key_fingerprint(key_hex):
    return hashlib.sha256(bytes.fromhex(key_hex)).hexdigest()


def archive_of(release, m):
    return os.path.join(release, url_path(m["url"]).lstrip("/"))


def now_signed():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def statement_form(tool, path, m):
    """The form the updater's code signs: the newer one (with the archive's
    length and the time of signing) where its helper forms that text, which
    must then be this tool's byte for byte; else the older one."""
    code, fields = run_windows(tool, "statement", path)
    text = fields["_stdout"].replace("\r\n", "\n").rstrip("\n")
    if code != 0 or not text.startswith("ZEL release 2"):
        return 1
    if text != release_statement(m).decode("utf-8").replace("\r\n", "\n"):
        raise ReleaseError(f"this tool and the updater form the signed text differently:\n{text}")
    return 2


def sign_release(release, signing_key, manifest_name="manifest.json"):
    """Signs a finished manifest for its archive with openssl alone: no Wine,
    no build on the key's machine. Signing an already signed manifest signs it
    anew with the time of now."""
    path = os.path.join(release, manifest_name)
    m = escaped_for_json(read_manifest(path))
    archive = archive_of(release, m)
    if not os.path.isfile(archive):
        raise ReleaseError(f"{archive}: the manifest's archive is missing")
    data = open(archive, "rb").read()
    if hashlib.sha256(data).hexdigest() != m["sha256"].lower() or \
            str(len(data)) != m.get("length", str(len(data))):
        raise ReleaseError(f"{archive} is not the archive the manifest describes "
                           "(length or SHA-256 differs)")
    if "length" in m:
        m["signed"] = now_signed()
    m["signature"] = sign_statement(release_statement(m), signing_key)
    write_manifest(m, path)
    return m


# ------------------------------------------------------------ building ----

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
    os.makedirs(os.path.dirname(archive), exist_ok=True)
    with zipfile.ZipFile(archive, "w") as out:
        for name, full in sorted(names):
            info = zipfile.ZipInfo(name, date_time=ENTRY_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS attributes
            info.external_attr = ENTRY_ATTRIBUTES
            with open(full, "rb") as f:
                out.writestr(info, f.read(), compresslevel=COMPRESS_LEVEL)
    return len(names)


def self_check(exe):
    code, fields = run_windows(exe, "--self-check")
    if code != 0 or "host" not in fields:
        raise ReleaseError(f"{exe} did not answer its self-check (exit {code})"
                           + (f": {fields['_stderr']}" if fields["_stderr"] else ""))
    split = lambda v: set(filter(None, v.split(",")))  # noqa: E731
    return {"version": fields.get("version", ""), "server": (fields["host"], fields.get("port")),
            "pins": split(fields.get("pins", "")), "keys": split(fields.get("release_keys", ""))}


def version_tuple(text):
    return tuple(int(n) for n in text.split("."))


def check_carried_updater(app_folder, running):
    """An updater the release carries replaces the one of every office: it
    must be newer and answer for the same server, pins and release keys (or
    be a signed key hand-over that shares one pin and one key)."""
    carried = os.path.join(app_folder, "zel_updater.exe")
    if not os.path.isfile(carried):
        return None
    if not running:
        raise ReleaseError("the release carries zel_updater.exe: name the updater the offices "
                           "run with --updater, so its version and identity can be compared")
    new, old = self_check(carried), self_check(running)
    if version_tuple(new["version"]) <= version_tuple(old["version"]):
        raise ReleaseError(f"the carried zel_updater.exe {new['version']} is not newer than the "
                           f"offices' {old['version']}; raise -DZEL_UPDATER_VERSION")
    same = new["server"] == old["server"] and new["pins"] == old["pins"] and \
        new["keys"] == old["keys"]
    hand_over = new["server"] == old["server"] and new["pins"] & old["pins"] and \
        new["keys"] & old["keys"]
    if not (same or hand_over):
        raise ReleaseError(f"the carried zel_updater.exe has another identity "
                           f"(server {new['server']}, {len(new['pins'])} pins, "
                           f"{len(new['keys'])} release keys) than the offices' "
                           f"(server {old['server']}, {len(old['pins'])} pins, "
                           f"{len(old['keys'])} release keys); offices would refuse it, or "
                           "worse, lose their checks")
    return new["version"]


def build_release(args, tool, into):
    """Builds zel.zip at the url's path and an unsigned manifest in INTO,
    checking everything the updater would trip on."""
    app_exe = os.path.join(args.app_folder, "zel_acc.exe")
    if not os.path.isfile(app_exe):
        raise ReleaseError(f"{args.app_folder} has no zel_acc.exe at its top level")
    if not args.url.startswith("https://"):
        raise ReleaseError("--url must start with https://")
    version = product_version(tool, app_exe)
    if args.version and args.version != version:
        raise ReleaseError(f"--version {args.version} differs from the ProductVersion {version} "
                           "of zel_acc.exe; the update would be offered forever")
    if f"/{version}/" not in url_path(args.url):
        raise ReleaseError(f"--url must hold the version as a folder, e.g. "
                           f"https://HOST/releases/{version}/zel.zip, so that an old manifest "
                           "never points at a new archive")
    updater = check_carried_updater(args.app_folder, args.updater)
    notes = notes_for_manifest(args.notes) if args.notes else ""
    today = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
    m = {"version": version, "url": args.url, "sha256": "", "length": "", "notes": notes,
         "releaseDate": args.release_date or today, "uploadDate": args.upload_date or today,
         "mandatory": bool(args.mandatory)}
    for key in ("version", "url", "notes", "releaseDate", "uploadDate"):
        check_value(key, m[key])
    app = args.app_folder
    if args.authenticode:
        app = os.path.join(into, ".app")
        shutil.copytree(args.app_folder, app)
        sign_executables(app, args.authenticode, args.authenticode_cert)
    archive = archive_of(into, m)
    count = build_archive(app, archive)
    if app != args.app_folder:
        shutil.rmtree(app)
    data = open(archive, "rb").read()
    m["sha256"], m["length"] = hashlib.sha256(data).hexdigest(), str(len(data))
    m["signed"] = now_signed()  # the time of signing replaces it
    path = os.path.join(into, "manifest.json")
    write_manifest(m, path)
    if statement_form(tool, path, m) == 1:
        del m["length"], m["signed"]
        write_manifest(m, path)
    print(f"built {version}: {count} files, {len(data)} bytes, sha256 {m['sha256']}"
          + (f", carries zel_updater.exe {updater}" if updater else ""))
    return m


def sign_executables(folder, key, cert):
    exes = sorted(os.path.join(b, n) for b, _, fs in os.walk(folder) for n in fs
                  if n.lower().endswith(".exe"))
    command = [os.path.join(ROOT, "tools", "sign_executables.sh"), "--key", key]
    if cert:
        command += ["--cert", cert]
    result = subprocess.run(command + exes, capture_output=True, text=True)
    if result.returncode != 0:
        raise ReleaseError(f"Authenticode signing failed: {result.stderr.strip()}")


# ---------------------------------------------------------- publishing ----

def check_release(tool, release, release_keys, unsigned, manifest_name="manifest.json"):
    """Reads the manifest back with the updater's reader and verifies its
    signature with the updater's verifier against each key the offices'
    updater is built with; the archive must be the one described."""
    path = os.path.join(release, manifest_name)
    m = escaped_for_json(read_manifest(path))
    code, read_back = run_windows(tool, "manifest", path)
    for key in ("version", "url", "sha256", "notes", "signature"):
        if code != 0 or read_back.get(key, "") != m.get(key, ""):
            raise ReleaseError(f"the updater would read {key} of the manifest differently: "
                               f"{read_back.get(key)!r}" + (f" ({read_back['_stderr']})"
                                                             if read_back["_stderr"] else ""))
    data = open(archive_of(release, m), "rb").read()
    if hashlib.sha256(data).hexdigest() != m["sha256"] or \
            str(len(data)) != m.get("length", str(len(data))):
        raise ReleaseError("the archive is not the one the manifest describes")
    if unsigned:
        if m.get("signature"):
            raise ReleaseError("--unsigned given for a signed release")
        print("publish_release: WARNING: an unsigned release. An updater built with a release key "
              "refuses it; one built without installs whatever the server (or whoever holds it "
              "or its TLS key) offers, on every office.", file=sys.stderr)
        return m
    if not m.get("signature"):
        raise ReleaseError("the release is not signed: give --signing-key (or sign it with the "
                           "sign command), or --unsigned if you really mean it")
    if not release_keys:
        raise ReleaseError("give --release-key: the public key the offices' updater is built with")
    for key in release_keys:
        key_hex = public_key_hex(key)
        code, verdict = run_windows(tool, "verify", path, key_hex)
        if code == 0:
            return m
    raise ReleaseError(f"the updater built with the release key(s) given would refuse this "
                       f"release (signature={verdict.get('signature')})")


def publish_release(release, out, m, candidate):
    """Moves a checked release into the live folder: archive first, manifest
    last, each by a rename on the same file system."""
    name = "manifest-candidate.json" if candidate else "manifest.json"
    relative = url_path(m["url"]).lstrip("/")
    live_archive = os.path.join(out, relative)
    if os.path.exists(live_archive):
        if open(live_archive, "rb").read() != open(os.path.join(release, relative), "rb").read():
            raise ReleaseError(f"{live_archive} exists with other bytes: a version is published "
                               "once; publish a higher version")
    else:
        os.makedirs(os.path.dirname(live_archive), exist_ok=True)
        os.replace(os.path.join(release, relative), live_archive)
    os.replace(os.path.join(release, "manifest.json"), os.path.join(out, name))
    print(f"published {m['version']}: {live_archive}")
    print(f"manifest: {os.path.join(out, name)}" + (" (signed)" if m.get("signature") else ""))


def staging_beside(out):
    out = os.path.abspath(out)
    parent = os.path.dirname(out)
    os.makedirs(parent, exist_ok=True)
    return tempfile.mkdtemp(prefix=f".{os.path.basename(out)}.staging-", dir=parent)


def release_keys_of(args):
    keys = list(args.release_key or [])
    if not keys and getattr(args, "signing_key", None):
        keys = [args.signing_key]
    return keys


def command_default(args):
    if not args.signing_key and not args.unsigned:
        raise ReleaseError("no --signing-key: offices with a signed updater would refuse the "
                           "release. Give --signing-key, or --unsigned if you really mean it")
    tool = find_release_check(args.release_check, args.build)

    def make(stage):
        build_release(args, tool, stage)
        if args.signing_key:
            sign_release(stage, args.signing_key)

    publish_staged(args, tool, make)


def publish_staged(args, tool, make):
    """Makes the release in a staging folder beside --out with make(stage),
    checks it, and only then moves it into the live folder."""
    stage = staging_beside(args.out)
    try:
        make(stage)
        m = check_release(tool, stage, release_keys_of(args), args.unsigned)
        os.makedirs(args.out, exist_ok=True)
        publish_release(stage, args.out, m, args.candidate)
    finally:
        shutil.rmtree(stage, ignore_errors=True)


def command_build(args):
    if os.path.exists(args.into) and os.listdir(args.into):
        raise ReleaseError(f"{args.into} is not empty")
    os.makedirs(args.into, exist_ok=True)
    build_release(args, find_release_check(args.release_check, args.build), args.into)


def command_sign(args):
    m = sign_release(args.release, args.signing_key)
    print(f"signed {m['version']}" + (f" at {m['signed']}" if 'signed' in m else ''))


def command_publish(args):
    publish_staged(args, find_release_check(args.release_check, args.build),
                   lambda stage: shutil.copytree(args.release, stage, dirs_exist_ok=True))


def command_resign(args):
    """The live release, unchanged, with a new time of signing (for offices
    whose updater refuses releases signed too long ago)."""
    name = "manifest-candidate.json" if args.candidate else "manifest.json"
    tool = find_release_check(args.release_check, args.build)
    stage = staging_beside(args.out)
    try:
        shutil.copy(os.path.join(args.out, name), os.path.join(stage, "manifest.json"))
        m = escaped_for_json(read_manifest(os.path.join(stage, "manifest.json")))
        relative = url_path(m["url"]).lstrip("/")
        os.makedirs(os.path.dirname(os.path.join(stage, relative)))
        os.link(os.path.join(args.out, relative), os.path.join(stage, relative))
        sign_release(stage, args.signing_key)
        m = check_release(tool, stage, release_keys_of(args), False)
        os.replace(os.path.join(stage, "manifest.json"), os.path.join(args.out, name))
        print(f"signed anew: {m['version']}" + (f" at {m['signed']}" if 'signed' in m else ''))
    finally:
        shutil.rmtree(stage, ignore_errors=True)


def command_promote(args):
    candidate = os.path.join(args.out, "manifest-candidate.json")
    m = escaped_for_json(read_manifest(candidate))
    if not os.path.isfile(archive_of(args.out, m)):
        raise ReleaseError(f"the candidate's archive {archive_of(args.out, m)} is missing")
    os.replace(candidate, os.path.join(args.out, "manifest.json"))
    print(f"promoted {m['version']} to the current release")


# ----------------------------------------------------------- verifying ----

def spki_pin(der_certificate):
    result = subprocess.run("openssl x509 -inform der -pubkey -noout | "
                            "openssl pkey -pubin -outform der", shell=True,
                            input=der_certificate, capture_output=True)
    return hashlib.sha256(result.stdout).hexdigest() if result.returncode == 0 else ""


def fetch(server, pins, path, headers=None):
    """One GET over TLS whose server key must match a pin, as the updater
    asks: the name is not checked, the key is."""
    host, _, port = server.removeprefix("https://").rstrip("/").partition(":")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    connection = http.client.HTTPSConnection(host, int(port or 443), context=context, timeout=30)
    try:
        connection.connect()
        pin = spki_pin(connection.sock.getpeercert(binary_form=True))
        if pin not in pins:
            raise ReleaseError(f"{server}: the server's key {pin} matches no pin")
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    except (OSError, http.client.HTTPException) as error:
        raise ReleaseError(f"{server}{path}: {error}")
    finally:
        connection.close()


def command_verify(args):
    pins = set()
    for pin in args.pin:
        if os.path.isfile(pin):
            pin = subprocess.run([os.path.join(ROOT, "tools", "compute_pin.sh"), pin],
                                 capture_output=True, text=True).stdout.strip()
        pins.add(pin.lower())
    status, _, body = fetch(args.server, pins, CHECK_PATH + args.installed)
    if status != 200:
        raise ReleaseError(f"the check {CHECK_PATH}{args.installed} answered {status}")
    try:
        m = escaped_for_json(json.loads(body.decode("utf-8")))
    except ValueError as error:
        raise ReleaseError(f"the check's answer is not a manifest: {error}")
    if args.release_key:
        if not m.get("signature"):
            raise ReleaseError("the manifest is not signed")
        verified = False
        for key in args.release_key:
            with tempfile.NamedTemporaryFile(suffix=".der") as pub, \
                    tempfile.NamedTemporaryFile() as sig:
                pub.write(bytes.fromhex(P256_SPKI_PREFIX + public_key_hex(key)))
                sig.write(bytes.fromhex(m["signature"]))
                pub.flush(), sig.flush()
                verified |= subprocess.run(
                    ["openssl", "dgst", "-sha256", "-verify", pub.name, "-keyform", "DER",
                     "-signature", sig.name], input=release_statement(m),
                    capture_output=True).returncode == 0
        if not verified:
            raise ReleaseError("the manifest's signature does not verify with the release key(s)")
    path = url_path(m["url"])
    length = int(m.get("length") or 0)
    status, headers, head = fetch(args.server, pins, path, {"Range": "bytes=0-1023"})
    validator = headers.get("ETag") or headers.get("Last-Modified")
    if status != 206 or not validator:
        raise ReleaseError(f"{path}: a range was answered {status}, without ETag or "
                           "Last-Modified; downloads could not resume")
    total = headers.get("Content-Range", "").rpartition("/")[2]
    if length and total != str(length):
        raise ReleaseError(f"{path}: {total} bytes served, the manifest says {length}")
    status, headers, rest = fetch(args.server, pins, path,
                                  {"Range": f"bytes={len(head)}-", "If-Range": validator})
    if status != 206:
        raise ReleaseError(f"{path}: a range with If-Range was answered {status}")
    digest = hashlib.sha256(head + rest).hexdigest()
    if digest != m["sha256"].lower():
        raise ReleaseError(f"{path}: the archive's SHA-256 {digest} is not the manifest's")
    print(f"verified {m['version']} on {args.server}: {len(head + rest)} bytes, "
          f"sha256 {digest}" + (", signature good" if args.release_key else ""))


# ----------------------------------------------------------------- main ----

def add_build_options(parser):
    parser.add_argument("--app-folder", required=True, help="the application's files")
    parser.add_argument("--url", required=True, help="where the archive will be served, e.g. "
                        "https://updates.example.com/releases/2.1.0.0/zel.zip")
    parser.add_argument("--version", help="expected version; refused when it differs")
    parser.add_argument("--notes", help="release notes, a UTF-8 text file")
    parser.add_argument("--mandatory", action="store_true", help="install without asking")
    parser.add_argument("--release-date")
    parser.add_argument("--upload-date")
    parser.add_argument("--updater", help="the zel_updater.exe the offices run (needed when the "
                        "release carries a zel_updater.exe)")
    parser.add_argument("--authenticode", metavar="KEY", help="sign the executables first "
                        "(tools/sign_executables.sh; a PFX, or a PEM key with --authenticode-cert)")
    parser.add_argument("--authenticode-cert")


def add_tool_options(parser):
    parser.add_argument("--release-check", help="path of release_check.exe")
    parser.add_argument("--build", help="the product build tree (default build/product)")


def add_publish_options(parser):
    parser.add_argument("--out", required=True, help="the server's document root")
    parser.add_argument("--release-key", action="append", help="a public key the offices' "
                        "updater is built with (PEM file or 128 hex digits); twice in a hand-over")
    parser.add_argument("--unsigned", action="store_true", help="publish without a signature "
                        "(dangerous)")
    parser.add_argument("--candidate", action="store_true",
                        help="write manifest-candidate.json instead of manifest.json")


def main():
    commands = {"build": command_build, "sign": command_sign, "publish": command_publish,
                "resign": command_resign, "promote": command_promote, "verify": command_verify}
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     epilog=__doc__.split("\n\n", 1)[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    command = sys.argv[1] if len(sys.argv) > 1 and sys.argv[1] in commands else None
    if command:
        parser.prog += " " + command
    if command == "build":
        add_build_options(parser), add_tool_options(parser)
        parser.add_argument("--into", required=True, help="an empty folder for the release")
    elif command == "sign":
        parser.add_argument("--release", required=True)
        parser.add_argument("--signing-key", required=True)
    elif command == "publish":
        add_publish_options(parser), add_tool_options(parser)
        parser.add_argument("--release", required=True, help="a folder made by build (and sign)")
    elif command == "resign":
        add_publish_options(parser), add_tool_options(parser)
        parser.add_argument("--signing-key", required=True)
    elif command == "promote":
        parser.add_argument("--out", required=True)
    elif command == "verify":
        parser.add_argument("--server", required=True, help="https://HOST[:PORT]")
        parser.add_argument("--pin", action="append", required=True,
                            help="the server key's pin (64 hex) or its certificate")
        parser.add_argument("--release-key", action="append")
        parser.add_argument("--installed", default="0.0.0.1",
                            help="the installed version to ask the check for")
    else:
        add_build_options(parser), add_tool_options(parser), add_publish_options(parser)
        parser.add_argument("--signing-key", help="the vendor's private release key (PEM)")
    args = parser.parse_args(sys.argv[2:] if command else sys.argv[1:])
    try:
        (commands[command] if command else command_default)(args)
    except ReleaseError as error:
        print(f"publish_release: {error}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
