"""Runs the fleet's nginx configurations on loopback: renders a template,
starts nginx in the foreground as a child, waits for its port, reloads it and
stops it. Shared by tools/bench_fleet.sh and the rollout test; every wait
ends on an event (a port that accepts, a process that has exited) within a
bound."""

import os
import signal
import socket
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def rollout_line(percent):
    """The split_clients line for a percentage; nginx refuses "0%", so a halt
    is the absence of the line."""
    if percent <= 0:
        return ""
    return f"{min(percent, 100):g}% candidate;"


def render(template, out, values):
    text = open(os.path.join(HERE, template), encoding="utf-8").read()
    for key, value in values.items():
        text = text.replace(f"@{key}@", str(value))
    if "@" in text.replace("${http_zel_office}", ""):
        leftover = text[text.index("@"):][:40]
        raise ValueError(f"{template}: a placeholder was not filled in: {leftover}")
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)


def _until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise TimeoutError(f"no {what} within {timeout} s")
        time.sleep(0.02)


def _accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def _children(pid):
    found = set()
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                stat = open(f"/proc/{entry}/stat").read()
            except OSError:
                continue
            # The command may hold blanks and parentheses: fields follow the last ")".
            if int(stat[stat.rindex(")") + 2:].split()[1]) == pid:
                found.add(int(entry))
    return found


class Nginx:
    """One nginx master started from a rendered configuration."""

    def __init__(self, conf, state, ports):
        os.makedirs(state, exist_ok=True)
        self.ports = ports
        self.process = subprocess.Popen(
            ["nginx", "-c", conf, "-e", os.path.join(state, "startup-error.log")],
            stdin=subprocess.DEVNULL)
        try:
            for port in ports:
                _until(lambda: _accepts(port) or self.process.poll() is not None, 10,
                       f"nginx on port {port}")
                if self.process.poll() is not None:
                    raise RuntimeError(f"nginx ended at start (see {state}/*error.log)")
        except BaseException:
            self.stop()
            raise

    def reload(self):
        """Rereads the configuration; returns once only workers of the new
        one are left, so every connection opened afterwards sees it."""
        old = _children(self.process.pid)
        self.process.send_signal(signal.SIGHUP)
        _until(lambda: self.process.poll() is not None or
               (not (_children(self.process.pid) & old) and _children(self.process.pid)),
               15, "new nginx workers")
        if self.process.poll() is not None:
            raise RuntimeError("nginx ended on reload")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def make_keys(folder):
    """The origin's pinned key with a self-signed certificate (the updater
    checks only the key), and for the edge a test root and a certificate it
    issued for 127.0.0.1, as a CDN's would be checked."""
    def run(*args, data=None):
        subprocess.run(["openssl", *args], check=True, input=data, capture_output=True)
    os.makedirs(folder, exist_ok=True)
    path = lambda name: os.path.join(folder, name)
    for key in ("origin.key", "root.key", "edge.key"):
        run("ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", path(key))
    run("req", "-x509", "-new", "-key", path("origin.key"), "-out", path("origin.crt"),
        "-days", "30", "-subj", "/CN=localhost")
    run("req", "-x509", "-new", "-key", path("root.key"), "-out", path("root.crt"), "-days",
        "30", "-subj", "/CN=ZEL fleet test root", "-addext",
        "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    csr = subprocess.run(["openssl", "req", "-new", "-key", path("edge.key"), "-subj",
                          "/CN=127.0.0.1"], check=True, capture_output=True).stdout
    with open(path("edge.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-CA", path("root.crt"), "-CAkey", path("root.key"), "-CAcreateserial",
        "-days", "30", "-extfile", path("edge.ext"), "-out", path("edge.crt"), data=csr)
    spki = subprocess.run(["openssl", "pkey", "-in", path("origin.key"), "-pubout", "-outform",
                           "der"], check=True, capture_output=True).stdout
    return spki


def spki_of_certificate(der):
    """The DER SubjectPublicKeyInfo inside a DER certificate: the seventh
    element of tbsCertificate, whose first is the explicit [0] version."""
    def element(data, at):
        length = data[at + 1]
        head = 2
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[at + 2:at + 2 + count], "big")
            head += count
        return at + head, at + head + length  # content start, end

    start, _ = element(der, 0)        # Certificate
    at, _ = element(der, start)       # tbsCertificate
    for _ in range(6):                # version, serial, signature, issuer, validity, subject
        at = element(der, at)[1]
    content, end = element(der, at)
    return der[at:end]
