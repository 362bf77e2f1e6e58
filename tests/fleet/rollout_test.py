#!/usr/bin/env python3
"""The staged rollout through real nginx with tools/fleet/nginx-origin.conf.in:
at 50 % between 40 % and 60 % of 200 office ids get the candidate, each the
same on every request; an office without an id gets the current release; at
10 % only offices chosen at 50 % get it; removing the line (the halt) gives
the candidate to none; a report answers 204 and its query is in the log. Usage: rollout_test.py PORT SCRATCH_FOLDER"""

import http.client
import os
import random
import shutil
import ssl
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tools/fleet"))
import fleet_nginx  # noqa: E402

port, scratch = int(sys.argv[1]), sys.argv[2]
os.makedirs(scratch, exist_ok=True)
work = tempfile.mkdtemp(prefix="rollout.", dir=scratch)
os.chmod(work, 0o755)  # nginx started by root serves as nobody
nginx = None
try:
    fleet_nginx.make_keys(work)
    www = os.path.join(work, "www")
    os.makedirs(www)
    for name, version in (("manifest.json", "1.0.0.0"), ("manifest-candidate.json", "2.0.0.0")):
        open(os.path.join(www, name), "w").write(f'{{"version": "{version}"}}\n')
    conf, state = os.path.join(work, "origin.conf"), os.path.join(work, "state")

    def configure(percent):
        fleet_nginx.render("nginx-origin.conf.in", conf, {
            "PORT": port, "ROOT": www, "CERT": os.path.join(work, "origin.crt"),
            "KEY": os.path.join(work, "origin.key"), "STATE": state,
            "ROLLOUT": fleet_nginx.rollout_line(percent), "SALT": "2.0.0.0"})

    # Fixed ids: the hash is fixed too, so the count is the same on every run.
    generator = random.Random(7)
    offices = [f"{generator.getrandbits(128):032x}" for _ in range(200)]

    def candidates(headers_list):
        connection = http.client.HTTPSConnection(
            "127.0.0.1", port, timeout=10, context=ssl._create_unverified_context())
        got = []
        for headers in headers_list:
            connection.request("GET", "/api/sysboot/check/ZEL_ACC/1.0.0.0", headers=headers)
            response = connection.getresponse()
            body = response.read().decode()
            assert response.status == 200, (response.status, body)
            got.append("2.0.0.0" in body)
        connection.close()
        return got

    failures = []
    configure(50)
    nginx = fleet_nginx.Nginx(conf, state, [port])
    first = candidates([{"ZEL-Office": o} for o in offices])
    share = sum(first)
    if not 80 <= share <= 120:
        failures.append(f"at 50 % {share} of 200 offices got the candidate")
    if candidates([{"ZEL-Office": o} for o in offices]) != first:
        failures.append("an office got another answer on its second check")
    if any(candidates([{}, {"ZEL-Office": "not-an-id"}])):
        failures.append("an office without a valid id got the candidate")

    connection = http.client.HTTPSConnection(
        "127.0.0.1", port, timeout=10, context=ssl._create_unverified_context())
    query = f"office={offices[0]}&from=1.0.0.0&to=2.0.0.0&result=failed&stage=unpack&cause=crc"
    connection.request("GET", "/api/sysboot/report/ZEL_ACC?" + query,
                       headers={"ZEL-Office": offices[0]})
    status = connection.getresponse().status
    connection.close()
    if status != 204:
        failures.append(f"the report was answered {status}")

    # A smaller share is part of the larger one: widening never moves an office back.
    configure(10)
    nginx.reload()
    narrow = candidates([{"ZEL-Office": o} for o in offices])
    if not 5 <= sum(narrow) <= 40 or any(n and not f for n, f in zip(narrow, first)):
        failures.append(f"at 10 % {sum(narrow)} offices, not all among those at 50 %")

    configure(0)
    nginx.reload()
    halted = sum(candidates([{"ZEL-Office": o} for o in offices]))
    if halted:
        failures.append(f"halted, {halted} of 200 offices still got the candidate")
    nginx.stop()
    log = open(os.path.join(state, "origin.log")).read()
    if query not in log or f'"{offices[0]}"' not in log:
        failures.append("the report's query or the office id is missing from the log")

    print(f"at 50 %: {share} of 200 offices; halted: {halted}")
    for failure in failures:
        print("FAILED:", failure, file=sys.stderr)
    sys.exit(1 if failures else 0)
finally:
    if nginx:
        nginx.stop()
    shutil.rmtree(work, ignore_errors=True)
