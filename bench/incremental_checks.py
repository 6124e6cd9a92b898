#!/usr/bin/env python3
"""Repeat IMAP4 checks of large mailboxes, with the state of the last check kept.

Starts a private Dovecot on 127.0.0.1, fills one Maildir with N messages (default 50000) and
another with M (default 5000), puts the latency proxy (a delay each way, default 10 ms) in
front of the IMAP4 port, and prints bench_incremental's figures (time, round trips, bytes read
from the server) for a first check, a repeat check with nothing new, one with one new message
and one after another client expunged a message:
  - through the proxy, N messages;
  - through the proxy, M messages (the first check is the figure there);
  - on loopback, N messages.
Each figure is followed by the target it is held against.

Usage: python3 bench/incremental_checks.py [--build build] [--messages 50000] [--first 5000]
           [--delay-ms 10] [--runs 3]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_vs_python as cvp  # noqa: E402
import latency_proxy  # noqa: E402


def run(bench, port, direct, user, password, maildir, runs):
    out = subprocess.run([bench, "--port", str(port), "--direct-port", str(direct), "--user", user,
                          "--pass", password, "--maildir", maildir, "--runs", str(runs)],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    text = out.stdout.decode()
    if out.returncode != 0:
        raise SystemExit(f"bench_incremental failed: {text}")
    return text


def figures(text, label):
    """(seconds, round trips, bytes) of the line starting with label."""
    for line in text.splitlines():
        if line.startswith(label):
            parts = line[len(label):].split()
            return float(parts[0]), int(parts[2]), int(parts[5])
    raise SystemExit(f"no line {label!r} in {text}")


def verdict(ok):
    return "met" if ok else "NOT met"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    ap.add_argument("--messages", type=int, default=50000)
    ap.add_argument("--first", type=int, default=5000)
    ap.add_argument("--delay-ms", type=float, default=10.0)
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    bench = os.path.abspath(os.path.join(args.build, "bench", "bench_incremental"))
    if not os.path.exists(bench):
        raise SystemExit(f"missing {bench}: build the target bench_incremental")

    root = tempfile.mkdtemp(prefix="tarn-incr-dovecot-")
    os.chmod(root, 0o755)
    pop3, imap = cvp.free_port(), cvp.free_port()
    proc = cvp.start_dovecot(root, pop3, imap)
    stops = []
    try:
        password = "benchpw"
        big, mid = "big", "mid"
        cvp.add_user(root, big, password, args.messages)
        cvp.add_user(root, mid, password, args.first)
        maildir = {u: os.path.join(root, "mail", u) for u in (big, mid)}
        # Dovecot builds its index at the first look; the figures should not pay for that.
        for u in (big, mid):
            run(bench, imap, imap, u, password, maildir[u], 1)
        port, stop = latency_proxy.start_proxy(0, imap, args.delay_ms)
        stops.append(stop)
        rtt = 2 * args.delay_ms

        print(f"through the latency proxy ({rtt:.0f} ms round trip), medians of {args.runs}:")
        text = run(bench, port, imap, big, password, maildir[big], args.runs)
        print(text.rstrip())
        _, rt, b = figures(text, "repeat check, nothing new")
        print(f"  target nothing new: <= 6 round trips, < 2 KB read: {verdict(rt <= 6 and b < 2048)}")
        _, rt, b = figures(text, "repeat check, one new message")
        print(f"  target one new: <= 8 round trips, < 4 KB read: {verdict(rt <= 8 and b < 4096)}")
        _, rt, b = figures(text, "repeat check, one expunged by another client")
        print(f"  target one expunged: <= 8 round trips, < 1 MB read: "
              f"{verdict(rt <= 8 and b < 1024 * 1024)}")
        text = run(bench, port, imap, mid, password, maildir[mid], args.runs)
        print(text.rstrip())
        s, _, _ = figures(text, "first check (no state)")
        print(f"  target first check of {args.first}: < 0.3 s: {verdict(s < 0.3)}")

        print(f"\non loopback, medians of {args.runs}:")
        text = run(bench, imap, imap, big, password, maildir[big], args.runs)
        print(text.rstrip())
        s, _, _ = figures(text, "repeat check, nothing new")
        print(f"  target repeat check of {args.messages}: < 150 ms: {verdict(s < 0.15)}")
    finally:
        for stop in stops:
            stop()
        proc.terminate()
        proc.wait()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
