#!/usr/bin/env python3
"""Writes a made-up origin access log of a fleet in the zel_fleet format, for
measuring tools/fleet_report.py and for its test: offices check with their
installed version, a candidate release reaches a growing share of them, and
each attempt reports one of every kind of result; old updaters check without
an office id, archive requests and junk lines are mixed in. With --expect it
writes what it wrote, one key=value a line, as the report tool counts it.

    tools/fleet/make_log.py --lines 1000000 --offices 20000 >big.log"""

import argparse
import collections
import datetime
import random
import sys

ATTEMPTS = [  # result, stage, cause; the first rounds go through every one
    ("installed", "", ""), ("refused", "signature", "bad-signature"),
    ("failed", "check", "malformed"), ("failed", "signature", "stale"),
    ("failed", "download", "digest-mismatch"), ("failed", "download", "timeout"),
    ("failed", "unpack", "crc"), ("failed", "swap", "in-use"), ("failed", "start", "blocked"),
    ("failed", "self-update", "identity-differs"),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lines", type=int, default=1000)
    parser.add_argument("--offices", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--junk-every", type=int, default=97)
    parser.add_argument("--expect", help="file for the expected counts")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    offices = [f"{rng.getrandbits(128):032x}" for _ in range(args.offices)]
    installed = {o: "1.0.0.0" for o in offices}
    place = {o: rng.random() for o in offices}
    seen, last = set(), {}
    counts = collections.Counter()
    when = datetime.datetime(2026, 11, 2, 8, 0, tzinfo=datetime.timezone.utc)
    out = sys.stdout
    write = out.write
    kinds = 0
    line = 0
    while line < args.lines:
        line += 1
        when += datetime.timedelta(seconds=rng.randint(0, 3))
        stamp = when.isoformat()
        if line % args.junk_every == 0:
            write(rng.choice(["", "\x00garbage\x7f", f"{stamp} half a line",
                              '127.0.0.1 - - [02/Nov/2026:08:00:00 +0000] "GET / HTTP/1.1" 200 1'])
                  + "\n")
            counts["junk"] += 1
            continue
        kind = rng.random()
        if kind < 0.002:  # a report the tool must not take: a result it does not know
            write(f'{stamp} 127.0.0.1 "GET /api/sysboot/report/ZEL_ACC?office={offices[0]}'
                  f'&result=exploded&stage=unpack HTTP/1.1" 204 120 260 "-" 0.000\n')
            counts["reports"] += 1
            counts["reports_malformed"] += 1
            continue
        if kind < 0.02:
            write(f'{stamp} 127.0.0.1 "GET /api/sysboot/check/ZEL_ACC/1.0.0.0 HTTP/1.1" 200 '
                  f'712 120 "-" 0.001\n')
            counts["checks"] += 1
            counts["checks_without_office"] += 1
            continue
        if kind < 0.05:
            write(f'{stamp} 127.0.0.1 "GET /releases/1.1.0.0/zel.zip HTTP/1.1" 206 '
                  f'65536 180 "-" 0.004\n')
            counts["other"] += 1
            continue
        office = rng.choice(offices)
        seen.add(office)
        write(f'{stamp} 127.0.0.1 "GET /api/sysboot/check/ZEL_ACC/{installed[office]} '
              f'HTTP/1.1" 200 712 160 "{office}" 0.001\n')
        counts["checks"] += 1
        share = min(1.0, 1.5 * line / args.lines)
        if installed[office] != "1.0.0.0" or place[office] >= share or rng.random() < 0.3:
            continue
        if kinds < len(ATTEMPTS):
            result, stage, cause = ATTEMPTS[kinds]
            kinds += 1
        else:
            result, stage, cause = ATTEMPTS[0] if rng.random() < 0.8 else rng.choice(ATTEMPTS)
        source, delta = rng.choice(["mirror", "mirror", "mirror", "origin"]), rng.choice("01")
        when += datetime.timedelta(seconds=1)
        line += 1
        write(f'{when.isoformat()} 127.0.0.1 "GET /api/sysboot/report/ZEL_ACC?office={office}'
              f'&from=1.0.0.0&to=1.1.0.0&result={result}&stage={stage}&cause={cause}'
              f'&way=builtin&bytes={rng.randint(1, 10**7)}&delta={delta}&source={source} '
              f'HTTP/1.1" 204 120 260 "{office}" 0.000\n')
        counts["reports"] += 1
        counts[result] += 1
        last[office] = result
        if result == "installed":
            installed[office] = "1.1.0.0"
            counts[f"from_{source}"] += 1
            counts["delta" if delta == "1" else "whole"] += 1
    counts["lines"] = line
    counts["understood"] = line - counts["junk"]
    counts["offices"] = len(seen)
    counts["last_failed"] = sum(1 for r in last.values() if r != "installed")
    if args.expect:
        with open(args.expect, "w") as f:
            f.writelines(f"{k}={v}\n" for k, v in sorted(counts.items()))


if __name__ == "__main__":
    main()
