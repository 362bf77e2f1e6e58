#!/usr/bin/python3
# Debian's own interpreter: matplotlib comes from its package python3-matplotlib.
"""The fleet view: reads the origin's nginx access logs (the zel_fleet format
of tools/fleet/nginx-origin.conf.in; rotated and gzipped files too, in any
order) and writes one HTML page with pictures:

- offices by installed version over time (the rollout curve), from the
  installed version each office's check asks with, and each installation it
  reported;
- the results of update attempts by stage, and the causes of the failures;
- how the installed releases arrived: from the mirror or the origin, by
  differential download or whole;
- the offices whose last update attempt did not install.

Lines it does not understand are skipped and counted. It prints what it
counted, one key=value a line.

    tools/fleet_report.py --out fleet.html /var/log/nginx/zel-origin.log*
"""

import argparse
import base64
import collections
import datetime
import gzip
import html
import io
import os
import re
import sys
import time
from urllib.parse import unquote

LINE = re.compile(rb'(\S+) \S+ "[A-Z]+ (\S+)[^"]*" (\d{3}) (\d+) \d+ "([^"]*)"')
CHECK = b"/api/sysboot/check/ZEL_ACC/"
REPORT = b"/api/sysboot/report/ZEL_ACC?"
OFFICE = re.compile(r"[0-9a-f]{32}\Z")
VERSION = re.compile(r"\d{1,9}(\.\d{1,9}){0,3}\Z")
RESULTS = ("installed", "refused", "failed")
STAGES = ("check", "signature", "download", "unpack", "swap", "start", "self-update")
FAILED_ROWS = 500


def open_log(path):
    with open(path, "rb") as f:
        magic = f.read(2)
    return gzip.open(path, "rb") if magic == b"\x1f\x8b" else open(path, "rb")


def parse_query(raw):
    fields = {}
    for pair in raw.split("&"):
        key, _, value = pair.partition("=")
        fields[key] = unquote(value) if "%" in value else value
    return fields


class Fleet:
    """Everything counted from the logs; the pictures are drawn from it."""

    def __init__(self):
        self.counts = collections.Counter()
        self.lines_per_file = {}
        self.versions = []  # (time, sequence, office, installed version)
        self.reports = []   # (time, sequence, office, fields)
        self._times = {}

    def epoch(self, stamp):
        # Parsing each time whole is most of the work; a minute is parsed once.
        minute = stamp[:16] + stamp[19:]
        value = self._times.get(minute)
        if value is None:
            value = datetime.datetime.fromisoformat((stamp[:16] + b":00" + stamp[19:]).decode())
            value = self._times[minute] = value.timestamp()
        seconds = stamp[17:19]
        if len(stamp) < 20 or stamp[16:17] != b":" or not seconds.isdigit():
            raise ValueError("not an ISO 8601 time")
        return value + int(seconds)

    def read(self, path):
        lines = 0
        try:
            with open_log(path) as f:
                for line in f:
                    lines += 1
                    self.take(line)
        finally:  # a gzip file cut short still counts the lines it gave
            self.lines_per_file[path] = lines
            self.counts["lines"] += lines

    def take(self, line):
        match = LINE.match(line)
        if not match:
            self.counts["junk"] += 1
            return
        stamp, target, _status, _sent, header_office = match.groups()
        try:
            when = self.epoch(stamp)
        except ValueError:
            self.counts["junk"] += 1
            return
        sequence = self.counts["understood"]
        self.counts["understood"] += 1
        if target.startswith(CHECK):
            self.counts["checks"] += 1
            office = header_office.decode("ascii", "replace")
            version = target[len(CHECK):].decode("ascii", "replace")
            if OFFICE.match(office) and VERSION.match(version):
                self.versions.append((when, sequence, office, version))
            else:
                self.counts["checks_without_office"] += 1
        elif target.startswith(REPORT):
            self.counts["reports"] += 1
            fields = parse_query(target[len(REPORT):].decode("ascii", "replace"))
            office = fields.get("office") or header_office.decode("ascii", "replace")
            if (not OFFICE.match(office) or fields.get("result") not in RESULTS
                    or fields.get("stage", "") not in STAGES + ("",)):
                self.counts["reports_malformed"] += 1
                return
            self.counts[fields["result"]] += 1
            self.reports.append((when, sequence, office, fields))
            if fields["result"] == "installed" and VERSION.match(fields.get("to", "")):
                self.versions.append((when, sequence, office, fields["to"]))
        else:
            self.counts["other"] += 1

    def summary(self):
        """Counts of the installations' ways and of the offices; fills
        self.last_failed with the offices whose last attempt did not install."""
        last = {}
        for report in self.reports:
            held = last.get(report[2])
            if held is None or report[:2] > held[:2]:
                last[report[2]] = report
        self.last_failed = sorted((r for r in last.values() if r[3]["result"] != "installed"),
                                  key=lambda r: r[:2], reverse=True)
        offices = {v[2] for v in self.versions} | set(last)
        self.counts["offices"] = len(offices)
        self.counts["last_failed"] = len(self.last_failed)
        self.ways = collections.Counter()
        for _, _, _, fields in self.reports:
            if fields["result"] == "installed":
                source = fields.get("source")
                source = source if source in ("mirror", "origin") else "unknown"
                size = int(fields["bytes"]) if fields.get("bytes", "").isdigit() else 0
                self.ways[f"from_{source}"] += 1
                self.ways[f"bytes_from_{source}"] += size
                self.ways["delta" if fields.get("delta") == "1" else "whole"] += 1
        self.counts.update({k: v for k, v in self.ways.items() if not k.startswith("bytes")})


def version_key(version):
    return tuple(int(part) for part in version.split("."))


def rollout_series(versions, buckets=120):
    """For evenly spaced times, how many offices were last seen on each
    version: walks the events in time order with one running count."""
    if not versions:
        return [], {}
    versions.sort()
    start, end = versions[0][0], versions[-1][0]
    step = max((end - start) / buckets, 1.0)
    held, counts = {}, collections.Counter()
    times, rows = [], []
    boundary = start + step
    for when, _, office, version in versions:
        while when >= boundary:
            times.append(boundary)
            rows.append(dict(counts))
            boundary += step
        previous = held.get(office)
        if previous != version:
            if previous is not None:
                counts[previous] -= 1
            counts[version] += 1
            held[office] = version
    times.append(max(end, boundary - step))
    rows.append(dict(counts))
    names = sorted({v for row in rows for v in row}, key=version_key)
    return times, {name: [row.get(name, 0) for row in rows] for name in names}


def png(figure):
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", dpi=90, bbox_inches="tight")
    return "data:image/png;base64," + base64.b64encode(buffer.getvalue()).decode()


def pictures(fleet):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    images = []

    times, series = rollout_series(fleet.versions)
    figure, axes = plt.subplots(figsize=(9, 4))
    if series:
        shown = list(series)[-8:]  # the newest versions; older ones together
        rest = [sum(col) for col in zip(*(series[n] for n in series if n not in shown))]
        stacks = ([rest] if rest else []) + [series[n] for n in shown]
        labels = (["older"] if rest else []) + shown
        axes.stackplot([datetime.datetime.fromtimestamp(t, datetime.timezone.utc)
                        for t in times], *stacks, labels=labels)
        axes.legend(loc="upper left", fontsize=8)
    axes.set_title("Offices by installed version")
    axes.set_ylabel("offices")
    figure.autofmt_xdate()
    images.append(("The rollout", png(figure)))
    plt.close(figure)

    by_stage = collections.Counter((f["result"], f.get("stage", "")) for *_, f in fleet.reports)
    stages = [s for s in STAGES + ("",) if any(by_stage[(r, s)] for r in RESULTS)]
    figure, axes = plt.subplots(figsize=(9, 4))
    left = [0] * len(stages)
    for result, colour in zip(RESULTS, ("tab:green", "tab:orange", "tab:red")):
        values = [by_stage[(result, s)] for s in stages]
        axes.barh([s or "(none)" for s in stages], values, left=left, label=result, color=colour)
        left = [a + b for a, b in zip(left, values)]
    axes.set_title("Update attempts by stage and result")
    axes.legend(fontsize=8)
    images.append(("Results by stage", png(figure)))
    plt.close(figure)

    causes = collections.Counter(f"{f.get('stage', '')}: {f.get('cause', '') or '(none)'}"
                                 for *_, f in fleet.reports if f["result"] != "installed")
    figure, axes = plt.subplots(figsize=(9, 0.9 + 0.3 * max(1, len(causes.most_common(20)))))
    top = causes.most_common(20)[::-1]
    axes.barh([c for c, _ in top], [n for _, n in top], color="tab:red")
    axes.set_title("Causes of attempts that did not install (stage: cause)")
    images.append(("Causes", png(figure)))
    plt.close(figure)

    ways = fleet.ways
    figure, axes = plt.subplots(1, 2, figsize=(9, 3))
    axes[0].bar(["mirror", "origin"], [ways["from_mirror"], ways["from_origin"]],
                color=["tab:blue", "tab:gray"])
    axes[0].set_title("Installed releases: source")
    axes[1].bar(["differential", "whole"], [ways["delta"], ways["whole"]],
                color=["tab:purple", "tab:gray"])
    axes[1].set_title("Installed releases: download")
    images.append(("Mirror and differential download", png(figure)))
    plt.close(figure)
    return images


def write_html(fleet, images, out):
    e = html.escape
    counts = "".join(f"<tr><td>{e(k)}</td><td>{v:,}</td></tr>"
                     for k, v in sorted(fleet.counts.items()))
    sources = ", ".join(f"{os.path.basename(path)} ({lines:,} lines)"
                        for path, lines in fleet.lines_per_file.items())
    ways = fleet.ways
    share = lambda a, b: f"{100 * a / (a + b):.1f} %" if a + b else "-"
    utc = lambda t: datetime.datetime.fromtimestamp(t, datetime.timezone.utc)
    rows = "".join(
        f"<tr><td>{e(o)}</td><td>{utc(t):%Y-%m-%d %H:%M:%S}</td>"
        + "".join(f"<td>{e(f.get(k, ''))}</td>" for k in
                  ("from", "to", "result", "stage", "cause", "way", "source")) + "</tr>"
        for t, _, o, f in fleet.last_failed[:FAILED_ROWS])
    more = (f"<p>and {len(fleet.last_failed) - FAILED_ROWS:,} more.</p>"
            if len(fleet.last_failed) > FAILED_ROWS else "")
    figures = "".join(f'<h2>{e(title)}</h2><img alt="{e(title)}" src="{uri}">'
                      for title, uri in images)
    page = f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>ZEL fleet</title>
<style>body{{font-family:sans-serif;margin:2em}}table{{border-collapse:collapse}}
td,th{{border:1px solid #ccc;padding:2px 8px;font-size:90%}}</style></head><body>
<h1>ZEL fleet</h1>
<p>From {e(sources)}.</p>
<p>Installed from the mirror: {share(ways['from_mirror'], ways['from_origin'])} of the installations
({ways['bytes_from_mirror']:,} bytes, {ways['bytes_from_origin']:,} from the origin);
by differential download: {share(ways['delta'], ways['whole'])}.</p>
{figures}
<h2>Offices whose last attempt did not install ({len(fleet.last_failed):,})</h2>
<table><tr><th>office</th><th>time (UTC)</th><th>from</th><th>to</th><th>result</th><th>stage</th>
<th>cause</th><th>way</th><th>source</th></tr>{rows}</table>{more}
<h2>Counts</h2><table>{counts}</table>
</body></html>
"""
    with open(out, "w", encoding="utf-8") as f:
        f.write(page)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("logs", nargs="+", metavar="ACCESS_LOG")
    parser.add_argument("--out", default="fleet_report.html", help="the HTML page to write")
    parser.add_argument("--pictures", action="store_true",
                        help="also save each picture beside the page, as PAGE-N.png")
    args = parser.parse_args()
    started = time.monotonic()
    fleet = Fleet()
    for path in args.logs:
        try:
            fleet.read(path)
        except (OSError, EOFError) as error:
            print(f"{path}: {error}", file=sys.stderr)
            fleet.counts["unreadable_files"] += 1
    fleet.summary()
    images = pictures(fleet)
    write_html(fleet, images, args.out)
    if args.pictures:
        stem = os.path.splitext(args.out)[0]
        for number, (_, uri) in enumerate(images, 1):
            with open(f"{stem}-{number}.png", "wb") as f:
                f.write(base64.b64decode(uri.split(",", 1)[1]))
    for key in ("lines", "understood", "junk", "checks", "checks_without_office", "reports",
                "reports_malformed", "other", *RESULTS, "from_mirror", "from_origin", "delta",
                "whole", "offices", "last_failed", "unreadable_files"):
        print(f"{key}={fleet.counts[key]}")
    print(f"page={args.out}")
    print(f"seconds={time.monotonic() - started:.1f}")


if __name__ == "__main__":
    main()
