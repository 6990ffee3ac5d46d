#!/usr/bin/env python3
"""Connection flood against tallowdesk-server on loopback.

A flood of connections that send one byte and then nothing (at most 2,000
open, the oldest closed and a new one opened 200 times a second; then a run
without the rate cap) while a normal client makes one HTTPS request per new
connection. Prints BENCH rows: the client's requests answered during each
flood, the anchor being the same client without a flood in the same run.

    python3 bench/connection_flood.py BUILD_DIR [SECONDS]

Only 127.0.0.1 is ever contacted; every loop is bounded in count and time,
and the service it starts is stopped at the end.
"""
import os
import resource
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def client_run(port, context, seconds, stop_early):
    """Requests on new connections for `seconds`: (answered, tried)."""
    answered = tried = 0
    end = time.monotonic() + seconds
    request = ("GET /accounts/ServiceLogin HTTP/1.1\r\nHost: localhost:%d\r\n"
               "Connection: close\r\n\r\n" % port).encode()
    while time.monotonic() < end and tried < 100000 and not stop_early.is_set():
        tried += 1
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as raw:
                with context.wrap_socket(raw, server_hostname="localhost") as tls:
                    tls.sendall(request)
                    head = tls.recv(64)
                    if head.startswith(b"HTTP/1.1 200"):
                        answered += 1
        except (OSError, ssl.SSLError):
            pass
    return answered, tried


def flood(port, rate, limit, seconds, stop):
    """One-byte connections, at most `limit` open, `rate` new ones a second
    (0: as fast as they go). Returns how many were opened."""
    open_ = []
    opened = 0
    end = time.monotonic() + seconds
    next_at = time.monotonic()
    while time.monotonic() < end and not stop.is_set() and opened < 1000000:
        if rate:
            wait = next_at - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            next_at += 1.0 / rate
        if len(open_) >= limit:
            open_.pop(0).close()
        try:
            s = socket.socket()
            s.settimeout(2)
            s.connect(("127.0.0.1", port))
            s.send(b"\x16")
            open_.append(s)
            opened += 1
        except OSError:
            s.close()
    for s in open_:
        s.close()
    return opened


def row(what, figure, anchor, ratio, goal):
    print("BENCH | %s | %s | %s | %s | %s |" % (what, figure, anchor, ratio, goal), flush=True)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    server_bin = os.path.join(sys.argv[1], "server", "tallowdesk-server")
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(max(soft, 8192), hard), hard))
    work = tempfile.mkdtemp(prefix="tallowdesk-flood-")
    env = dict(os.environ, HOME=work, XDG_DATA_HOME=os.path.join(work, "data-home"),
               XDG_CONFIG_HOME=os.path.join(work, "config"), TMPDIR=work)
    port = free_port()
    data = os.path.join(work, "data")
    service = subprocess.Popen([server_bin, "--data-dir", data, "--listen", "127.0.0.1:%d" % port],
                               stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "log"), "w"),
                               env=env)
    try:
        deadline = time.monotonic() + 30
        while not os.path.exists(os.path.join(data, "cert.pem")) or \
                subprocess.run(["curl", "-sk", "--max-time", "2", "-o", "/dev/null",
                                "https://localhost:%d/accounts/ServiceLogin" % port]).returncode:
            if time.monotonic() > deadline or service.poll() is not None:
                row("Client during a connection flood", "not measured: the service did not start",
                    "", "", "all answered")
                return 1
            time.sleep(0.2)
        context = ssl.create_default_context(cafile=os.path.join(data, "cert.pem"))
        never = threading.Event()
        base_ok, base_tried = client_run(port, context, seconds / 2, never)
        anchor = "%d of %d without a flood" % (base_ok, base_tried)
        for label, rate in (("200 new a second", 200), ("no rate cap", 0)):
            stop = threading.Event()
            opened = [0]
            worker = threading.Thread(
                target=lambda: opened.__setitem__(0, flood(port, rate, 2000, seconds + 5, stop)))
            worker.start()
            time.sleep(min(5.0, seconds / 2))  # let the flood build up
            ok, tried = client_run(port, context, seconds, never)
            stop.set()
            worker.join(timeout=30)
            share = 100.0 * ok / tried if tried else 0.0
            base_share = 100.0 * base_ok / base_tried if base_tried else 0.0
            row("Client's requests answered, flood of one-byte connections (2,000 open, %s; %d opened)"
                % (label, opened[0]), "%d of %d (%.1f%%)" % (ok, tried, share), anchor,
                "%.2f" % (share / base_share) if base_share else "-", "all answered (1.00)")
        return 0
    finally:
        service.terminate()
        try:
            service.wait(timeout=20)
        except subprocess.TimeoutExpired:
            service.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
