#!/usr/bin/env python3
"""A fleet on this machine: the pinned origin (nginx, TLS, split_clients on the
office id) and a CDN edge (nginx proxy_cache) before a mirror origin, N
offices speaking the updater's protocol from one asyncio process, and a
staged rollout of 10 %, 50 % and 100 %. Run through tools/bench_fleet.sh.

Each office, at each stage, does what one start of the updater does: a
pinned check with its office id; when the answer is newer, the archive from
the edge, differentially (the end of the new archive, then the entries its
previous archive lacks, as ranges with If-Range) or, for an office without a
previous archive, whole in two ranges as a resumed download would; then one
report to the origin. A few offices fail their unpack and report it.

Usage: simulate.py N PORT OUT_FOLDER (the origin on PORT, the edge on PORT+1,
the mirror origin on PORT+2).

       simulate.py stage N PORT WWW ORIGIN_CERT EDGE_ROOT STATE_FILE
runs one stage against an origin and edge already running (the demo's): the
releases are those WWW's manifest.json and manifest-candidate.json name,
the origin's key is pinned from ORIGIN_CERT, the edge's chain checked against
EDGE_ROOT, and each office's version is kept in STATE_FILE for the next stage."""

import asyncio
import collections
import hashlib
import io
import json
import os
import random
import shutil
import ssl
import struct
import subprocess
import sys
import time
import zipfile

import fleet_nginx

CURRENT, CANDIDATE = "1.0.0.0", "1.1.0.0"
STAGES = (10, 50, 100)
FILES, FILE_SIZE, CHANGED = 40, 64 * 1024, 2
CONCURRENT = 16
TIMEOUT = 30


def make_archives(seed=1):
    """Two releases of FILES incompressible files; CHANGED of them differ."""
    rng = random.Random(seed)
    files = {f"lib/part{i:03}.dll": rng.randbytes(FILE_SIZE) for i in range(FILES)}
    archives = {}
    for version in (CURRENT, CANDIDATE):
        if version == CANDIDATE:
            for i in range(CHANGED):
                files[f"lib/part{i * 7:03}.dll"] = rng.randbytes(FILE_SIZE)
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
            for name in sorted(files):
                z.writestr(zipfile.ZipInfo(name, date_time=(2000, 1, 1, 0, 0, 0)), files[name])
        archives[version] = buffer.getvalue()
    return archives


def manifest(version, url, archive, signing_key):
    digest = hashlib.sha256(archive).hexdigest()
    signed = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    statement = (f"ZEL release 2\nproduct=ZEL_ACC\nversion={version}\nurl={url}\n"
                 f"length={len(archive)}\nsha256={digest}\nmandatory=false\nsigned={signed}\n"
                 f"notes=Release {version}").encode()
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", signing_key],
                               input=statement, capture_output=True, check=True).stdout.hex()
    return (f'{{\n  "version": "{version}",\n  "url": "{url}",\n  "sha256": "{digest}",\n'
            f'  "notes": "Release {version}",\n  "releaseDate": "{signed[:10]}",\n'
            f'  "uploadDate": "{signed[:10]}",\n  "length": "{len(archive)}",\n'
            f'  "signed": "{signed}",\n  "signature": "{signature}",\n  "mandatory": false\n}}\n')


def directory(tail, length):
    """The entries of a zip from its end: (name, crc, sizes, method, time,
    date, start, end) each, end being where the next entry begins."""
    at = tail.rfind(b"PK\x05\x06")
    if at < 0:
        raise ValueError("no end of central directory in the fetched end")
    size, offset = struct.unpack_from("<II", tail, at + 12)
    base = length - len(tail)
    if offset < base:
        raise ValueError("central directory longer than the fetched end")
    entries, position = [], offset - base
    for _ in range(struct.unpack_from("<H", tail, at + 10)[0]):
        fields = struct.unpack_from("<4s6H3I5H2I", tail, position)
        name = tail[position + 46:position + 46 + fields[10]]
        entries.append([name, fields[7], fields[8], fields[9], fields[4], fields[5], fields[6],
                        fields[16]])
        position += 46 + fields[10] + fields[11] + fields[12]
    entries.sort(key=lambda e: e[-1])
    for entry, following in zip(entries, entries[1:] + [None]):
        entry.append(following[-1] if following else offset)
    return entries, offset


class Fleet:
    def __init__(self, n, port, archives, pin, edge_ca, current=CURRENT):
        self.port, self.edge_port = port, port + 1
        self.archives, self.pin = archives, pin
        self.origin_tls = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        self.origin_tls.check_hostname = False
        self.origin_tls.verify_mode = ssl.CERT_NONE  # the pin is checked instead
        self.edge_tls = ssl.create_default_context(cafile=edge_ca)
        rng = random.Random(2)
        self.offices = [{"id": f"{rng.getrandbits(128):032x}", "version": current,
                         "previous": rng.random() >= 0.05, "unlucky": rng.random() < 0.02}
                        for _ in range(n)]
        self.latencies = []

    async def connect(self, port, context, pinned):
        reader, writer = await asyncio.open_connection("127.0.0.1", port, ssl=context)
        if pinned:
            der = writer.get_extra_info("ssl_object").getpeercert(binary_form=True)
            if hashlib.sha256(fleet_nginx.spki_of_certificate(der)).hexdigest() != self.pin:
                writer.close()
                raise ConnectionError("the origin's key does not match the pin")
        return reader, writer

    @staticmethod
    async def get(reader, writer, path, office, extra=()):
        head = [f"GET {path} HTTP/1.1", "Host: 127.0.0.1", "User-Agent: ZEL-Updater",
                f"ZEL-Office: {office}", *extra, "", ""]
        writer.write("\r\n".join(head).encode())
        status_line = await reader.readline()
        status = int(status_line.split()[1])
        headers = {}
        while (line := await reader.readline()) not in (b"\r\n", b""):
            key, _, value = line.decode("latin-1").partition(":")
            headers[key.strip().lower()] = value.strip()
        body = await reader.readexactly(int(headers.get("content-length", 0)))
        return status, headers, body

    async def origin_get(self, path, office):
        reader, writer = await self.connect(self.port, self.origin_tls, True)
        try:
            return await self.get(reader, writer, path, office, ["Connection: close"])
        finally:
            writer.close()

    async def download(self, office, url, length):
        """The archive from the edge; returns it and the bytes that travelled."""
        path = url.split("/", 3)[3]
        reader, writer = await self.connect(self.edge_port, self.edge_tls, False)
        try:
            if office["previous"]:
                return await self.differential(reader, writer, "/" + path, office, length)
            half = length // 2
            status, headers, first = await self.get(reader, writer, "/" + path, office["id"],
                                                    [f"Range: bytes=0-{half - 1}"])
            if status == 200:
                return first, len(first)
            status, _, rest = await self.get(reader, writer, "/" + path, office["id"],
                                             [f"Range: bytes={half}-",
                                              f"If-Range: {headers['etag']}"])
            return (rest, len(first) + len(rest)) if status == 200 else \
                (first + rest, len(first) + len(rest))
        finally:
            writer.close()

    async def differential(self, reader, writer, path, office, length):
        old = self.archives[office["version"]]
        # As the updater asks: the previous archive's directory and 4 KiB more.
        old_directory = struct.unpack_from("<I", old, old.rfind(b"PK\x05\x06") + 12)[0]
        status, headers, tail = await self.get(reader, writer, path, office["id"],
                                               [f"Range: bytes=-{old_directory + 4096}"])
        if status == 200:
            return tail, len(tail)
        travelled, validator = len(tail), headers["etag"]
        new_entries, cd_offset = directory(tail, length)
        old_entries = {e[0]: e for e in directory(old[-65536:], len(old))[0]}
        pieces, wanted = [], []
        for entry in new_entries:
            same = old_entries.get(entry[0])
            if same and same[1:7] == entry[1:7] and same[8] - same[7] == entry[8] - entry[7]:
                pieces.append(("copy", same[7], same[8]))
            elif wanted and wanted[-1][1] == entry[7]:
                wanted[-1][1] = entry[8]
            else:
                wanted.append([entry[7], entry[8]])
                pieces.append(("fetch", len(wanted) - 1))
        fetched = []
        for start, end in wanted:
            status, _, body = await self.get(reader, writer, path, office["id"],
                                             [f"Range: bytes={start}-{end - 1}",
                                              f"If-Range: {validator}"])
            travelled += len(body)
            if status != 206:
                return body, travelled
            fetched.append(body)
        parts = [old[p[1]:p[2]] if p[0] == "copy" else fetched[p[1]] for p in pieces]
        return b"".join(parts) + tail[cd_offset - (length - len(tail)):], travelled

    async def run_office(self, office):
        async with self.gate:
            try:
                await self.start(office)
            except (OSError, ValueError, KeyError, asyncio.IncompleteReadError) as error:
                self.outcomes[f"error: {type(error).__name__}: {error}"[:120]] += 1

    async def start(self, office):
        """What one start of the updater in this office does."""
        started = time.monotonic()
        status, _, body = await self.origin_get(
            f"/api/sysboot/check/ZEL_ACC/{office['version']}", office["id"])
        self.latencies.append(time.monotonic() - started)
        if status != 200:
            raise ValueError(f"check answered {status}")
        offered = json.loads(body)
        self.answers[offered["version"]] += 1
        if offered["version"] == office["version"]:
            return
        archive, travelled = await self.download(office, offered["url"],
                                                 int(offered["length"]))
        result, stage, cause = "installed", "", ""
        if hashlib.sha256(archive).hexdigest() != offered["sha256"]:
            result, stage, cause = "failed", "download", "digest-mismatch"
        elif office["unlucky"]:
            result, stage, cause = "failed", "unpack", "crc"
            office["unlucky"] = False  # the next start succeeds
        delta = 1 if office["previous"] else 0
        await self.origin_get(
            f"/api/sysboot/report/ZEL_ACC?office={office['id']}&from={office['version']}"
            f"&to={offered['version']}&result={result}&stage={stage}&cause={cause}"
            f"&way=builtin&bytes={travelled}&delta={delta}&source=mirror", office["id"])
        self.outcomes[f"{result} {stage} {cause}".strip()] += 1
        if result == "installed":
            office["version"] = offered["version"]

    async def stage(self):
        self.latencies, self.outcomes = [], collections.Counter()
        self.answers = collections.Counter()  # the versions the checks were offered
        self.gate = asyncio.Semaphore(CONCURRENT)  # one event loop a stage
        await asyncio.wait_for(asyncio.gather(*(self.run_office(o) for o in self.offices)),
                               timeout=600)


def log_totals(path):
    requests = sent = 0
    for line in open(path, "rb"):
        parts = line.split(b'" ')
        if len(parts) > 1:
            requests += 1
            sent += int(parts[1].split()[1])
    return requests, sent


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))] * 1000


def stage_against(n, port, www, origin_cert, edge_ca, state_file):
    """One stage against running servers; prints the share on the candidate."""
    def version_in(name):
        return json.load(open(os.path.join(www, name), encoding="utf-8"))["version"]
    current, candidate = version_in("manifest.json"), version_in("manifest-candidate.json")
    archives = {v: open(os.path.join(www, "releases", v, "zel.zip"), "rb").read()
                for v in (current, candidate)}
    der = ssl.PEM_cert_to_DER_cert(open(origin_cert, encoding="ascii").read())
    pin = hashlib.sha256(fleet_nginx.spki_of_certificate(der)).hexdigest()
    fleet = Fleet(n, port, archives, pin, edge_ca, current)
    if os.path.exists(state_file):
        fleet.offices = json.load(open(state_file, encoding="utf-8"))
    asyncio.run(fleet.stage())
    with open(state_file, "w", encoding="utf-8") as f:
        json.dump(fleet.offices, f)
    n, on = len(fleet.offices), sum(o["version"] == candidate for o in fleet.offices)
    print(f"{n} simulated offices: {fleet.answers[candidate]} "
          f"({100 * fleet.answers[candidate] / n:.1f} %) offered {candidate}, {on} "
          f"({100 * on / n:.1f} %) now on it; this start: " +
          ", ".join(f"{k}: {v}" for k, v in sorted(fleet.outcomes.items())))
    return 0 if not any(k.startswith("error") for k in fleet.outcomes) else 1


def main():
    if sys.argv[1] == "stage":
        return stage_against(int(sys.argv[2]), int(sys.argv[3]), *sys.argv[4:8])
    n, port, out = int(sys.argv[1]), int(sys.argv[2]), os.path.abspath(sys.argv[3])
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    os.chmod(out, 0o755)  # nginx started by root serves as nobody
    keys, www, state = (os.path.join(out, d) for d in ("keys", "www", "state"))
    spki = fleet_nginx.make_keys(keys)
    pin = hashlib.sha256(spki).hexdigest()
    archives = make_archives()
    for version, archive in archives.items():
        os.makedirs(os.path.join(www, "releases", version))
        open(os.path.join(www, "releases", version, "zel.zip"), "wb").write(archive)
    edge_url = f"https://127.0.0.1:{port + 1}/releases/%s/zel.zip"
    for name, version in (("manifest.json", CURRENT), ("manifest-candidate.json", CANDIDATE)):
        open(os.path.join(www, name), "w").write(
            manifest(version, edge_url % version, archives[version],
                     os.path.join(keys, "root.key")))
    origin_conf, edge_conf = os.path.join(out, "origin.conf"), os.path.join(out, "edge.conf")

    def configure(percent):
        fleet_nginx.render("nginx-origin.conf.in", origin_conf, {
            "PORT": port, "ROOT": www, "CERT": os.path.join(keys, "origin.crt"),
            "KEY": os.path.join(keys, "origin.key"), "STATE": state,
            "ROLLOUT": fleet_nginx.rollout_line(percent), "SALT": CANDIDATE})

    fleet_nginx.render("nginx-edge.conf.in", edge_conf, {
        "EDGE_PORT": port + 1, "MIRROR_PORT": port + 2, "ROOT": www,
        "CERT": os.path.join(keys, "edge.crt"), "KEY": os.path.join(keys, "edge.key"),
        "STATE": state})
    configure(STAGES[0])
    servers = []
    try:
        servers.append(fleet_nginx.Nginx(origin_conf, state, [port]))
        servers.append(fleet_nginx.Nginx(edge_conf, state, [port + 1, port + 2]))
        fleet = Fleet(n, port, archives, pin, os.path.join(keys, "root.crt"))
        print(f"{n} offices; release {CANDIDATE} ({len(archives[CANDIDATE]):,} bytes, "
              f"{CHANGED} of {FILES} files changed) over {CURRENT}")
        started = time.monotonic()
        for number, percent in enumerate(STAGES):
            if number:
                configure(percent)
                servers[0].reload()
            began = time.monotonic()
            asyncio.run(fleet.stage())
            on = sum(o["version"] == CANDIDATE for o in fleet.offices)
            print(f"stage {percent:3} %: {100 * on / n:5.1f} % on {CANDIDATE}, "
                  f"{100 * (n - on) / n:5.1f} % on {CURRENT}; check p50 "
                  f"{percentile(fleet.latencies, 0.5):.1f} ms, p99 "
                  f"{percentile(fleet.latencies, 0.99):.1f} ms; {time.monotonic() - began:.1f} s; "
                  + ", ".join(f"{k}: {v}" for k, v in sorted(fleet.outcomes.items())))
    finally:
        for server in servers:
            server.stop()
    origin = log_totals(os.path.join(state, "origin.log"))
    edge = log_totals(os.path.join(state, "edge.log"))
    mirror = log_totals(os.path.join(state, "mirror.log"))
    origin_lines = open(os.path.join(state, "origin.log"), "rb").readlines()
    archive_at_origin = sum(b"/releases/" in line for line in origin_lines)
    # nginx's own time for a check, beside the client's, which counts the
    # handshake and this one process's wait for the processor.
    served = [float(line.split()[-1]) for line in origin_lines if b"/check/" in line]
    print(f"checks as nginx timed them: p50 {percentile(served, 0.5):.1f} ms, "
          f"p99 {percentile(served, 0.99):.1f} ms")
    per_start = origin[1] / (n * len(STAGES))
    print(f"origin: {origin[0]:,} requests, {origin[1]:,} bytes sent: {origin[1] / n:,.0f} per "
          f"office over its {len(STAGES)} starts and its reports, {per_start:,.0f} per office "
          f"and start; {archive_at_origin} archive requests")
    print(f"edge:   {edge[0]:,} requests, {edge[1]:,} bytes sent; the mirror origin behind it: "
          f"{mirror[0]:,} requests, {mirror[1]:,} bytes")
    goal = per_start < 2048 and archive_at_origin == 0
    print(f"goal (origin under 2 KB per office and start, no archive): "
          f"{'met' if goal else 'MISSED'}; {time.monotonic() - started:.1f} s")
    return 0 if goal else 1


if __name__ == "__main__":
    sys.exit(main())
