#!/usr/bin/env python3
"""The CDN edge of tools/fleet/nginx-edge.conf.in through real nginx: ranges
(the end, a span with If-Range) are answered with 206 from the first request
on, a stale validator gets the whole archive, the mirror origin behind it is
asked once and never sees the office id, and only versioned archives pass.
Usage: edge_test.py PORT SCRATCH_FOLDER (the edge on PORT, the mirror on PORT+1)"""

import http.client
import os
import shutil
import ssl
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tools/fleet"))
import fleet_nginx  # noqa: E402

port, scratch = int(sys.argv[1]), sys.argv[2]
os.makedirs(scratch, exist_ok=True)
work = tempfile.mkdtemp(prefix="edge.", dir=scratch)
os.chmod(work, 0o755)  # nginx started by root serves as nobody
nginx = None
try:
    fleet_nginx.make_keys(work)
    archive = os.urandom(300_000)
    folder = os.path.join(work, "www", "releases", "2.0.0.0")
    os.makedirs(folder)
    open(os.path.join(folder, "zel.zip"), "wb").write(archive)
    open(os.path.join(work, "www", "manifest.json"), "w").write("{}")
    conf, state = os.path.join(work, "edge.conf"), os.path.join(work, "state")
    fleet_nginx.render("nginx-edge.conf.in", conf, {
        "EDGE_PORT": port, "MIRROR_PORT": port + 1, "ROOT": os.path.join(work, "www"),
        "CERT": os.path.join(work, "edge.crt"), "KEY": os.path.join(work, "edge.key"),
        "STATE": state})
    nginx = fleet_nginx.Nginx(conf, state, [port, port + 1])
    # Checked as an office's system checks a CDN: the chain up to a trusted root.
    trusted = ssl.create_default_context(cafile=os.path.join(work, "root.crt"))
    connection = http.client.HTTPSConnection("127.0.0.1", port, timeout=10, context=trusted)

    def get(path, headers):
        connection.request("GET", path, headers=dict(headers, **{"ZEL-Office": "a" * 32}))
        response = connection.getresponse()
        return response.status, response.getheader("ETag"), response.read()

    failures = []
    path = "/releases/2.0.0.0/zel.zip"
    status, etag, body = get(path, {"Range": "bytes=-1000"})
    if (status, body) != (206, archive[-1000:]) or not etag:
        failures.append(f"the end, at the first request: {status}, {len(body)} bytes, {etag}")
    cases = [  # headers, status, body
        ({"Range": "bytes=1000-1999", "If-Range": etag}, 206, archive[1000:2000]),
        ({"Range": "bytes=1000-", "If-Range": '"stale"'}, 200, archive),
        ({}, 200, archive),
    ]
    for headers, want_status, want_body in cases:
        status, _, body = get(path, headers)
        if (status, body) != (want_status, want_body):
            failures.append(f"{headers}: {status} and {len(body)} bytes")
    for other in ("/manifest.json", "/releases/../manifest.json", "/releases/x/zel.zip"):
        status, _, _ = get(other, {})
        if status != 404:
            failures.append(f"{other} passed the edge: {status}")
    connection.close()
    nginx.stop()
    mirror = open(os.path.join(state, "mirror.log")).read().splitlines()
    if len(mirror) != 1 or '"-"' not in mirror[0]:
        failures.append(f"the mirror was asked other than once, without the id: {mirror}")
    for failure in failures:
        print("FAILED:", failure, file=sys.stderr)
    sys.exit(1 if failures else 0)
finally:
    if nginx:
        nginx.stop()
    shutil.rmtree(work, ignore_errors=True)
