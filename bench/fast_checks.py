#!/usr/bin/env python3
"""Checks over a slow line and repeat runs of tarnwick-check, with their figures.

Starts a private Dovecot on 127.0.0.1 (POP3 and IMAP4 on free ports, and both over TLS with a
certificate made here), fills one Maildir with N messages (default 5000) and a small one,
puts the latency proxy (latency_proxy.py, a delay each way, default 10 ms: a 20 ms round
trip) in front of each port, and prints:
  - through the proxy: the first check and a full pass over known messages (what every
    program start does), POP3 pipelined and IMAP4 batched, in clear and over TLS; the same
    one command at a time on the small mailbox, with the figure for N messages worked out
    from it (a whole run would take minutes);
  - on loopback: the same, both ways, for N messages;
  - tarnwick-check's repeat run over the N-message POP3 mailbox against the floor of a
    repeat run (a Python poplib process that only logs in, lists and logs out) on the same
    server, their ratio, whether MailDB.tdb was left alone, and tarnwick-check's peak memory.

Usage: python3 bench/fast_checks.py [--build build] [--messages 5000] [--small 300]
           [--delay-ms 10] [--runs 3]
"""

import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_vs_python as cvp  # noqa: E402  (Dovecot, users and tarn.ini helpers)
import latency_proxy  # noqa: E402


def run_bench(bench, port, server_type, user, password, mode, runs, tls=False, env=None):
    out = subprocess.run([bench, "--port", str(port), "--type", str(server_type), "--user", user,
                          "--pass", password, "--mode", mode, "--runs", str(runs),
                          "--tls", "1" if tls else "0"],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, check=False)
    text = out.stdout.decode().strip()
    if out.returncode != 0:
        raise SystemExit(f"bench_fastcheck failed: {text}")
    return text


def figures(line):
    """(first check s, full pass s) from a bench_fastcheck line."""
    first = float(line.split("first check ")[1].split(" s")[0])
    known = float(line.split("known messages ")[1].split(" s")[0])
    return first, known


def timed(cmd, env=None):
    """(seconds, max RSS MB, exit code)."""
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         stdin=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(p.pid, 0)
    return time.perf_counter() - t0, usage.ru_maxrss / 1024.0, os.waitstatus_to_exitcode(status)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    ap.add_argument("--messages", type=int, default=5000)
    ap.add_argument("--small", type=int, default=300)
    ap.add_argument("--delay-ms", type=float, default=10.0)
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "tarnwick-check"))
    bench = os.path.abspath(os.path.join(args.build, "bench", "bench_fastcheck"))
    for f in (tool, bench):
        if not os.path.exists(f):
            raise SystemExit(f"missing {f}: build the targets tarnwick-check and bench_fastcheck")

    root = tempfile.mkdtemp(prefix="tarn-fast-dovecot-")
    work = tempfile.mkdtemp(prefix="tarn-fast-work-")
    os.chmod(root, 0o755)
    ca, cert, key = cvp.make_certificates(root)
    pop3, imap, pop3s, imaps = (cvp.free_port() for _ in range(4))
    proc = cvp.start_dovecot(root, pop3, imap, (cert, key, pop3s, imaps))
    tls_env = dict(os.environ, SSL_CERT_FILE=ca, SSL_CERT_DIR=os.path.join(root, "pki"))
    stops = []
    try:
        user, small, password = "bench", "small", "benchpw"
        cvp.add_user(root, user, password, args.messages)
        cvp.add_user(root, small, password, args.small)
        # Dovecot builds its index at the first look; neither side should pay for that.
        for u in (user, small):
            run_bench(bench, pop3, 0, u, password, "ahead", 1)
            run_bench(bench, imap, 1, u, password, "ahead", 1)
        proxied = {}
        for name, port in (("pop3", pop3), ("imap", imap), ("pop3s", pop3s), ("imaps", imaps)):
            p, stop = latency_proxy.start_proxy(0, port, args.delay_ms)
            proxied[name] = p
            stops.append(stop)
        rtt = 2 * args.delay_ms
        n, k = args.messages, args.small
        print(f"mailbox: {n} messages (small one: {k}); medians of {args.runs} runs")

        print(f"\nthrough the latency proxy, {rtt:.0f} ms round trip:")
        for label, key_, stype, tls in (("POP3", "pop3", 0, False), ("IMAP4", "imap", 1, False),
                                        ("POP3", "pop3s", 0, True), ("IMAP4", "imaps", 1, True)):
            line = run_bench(bench, proxied[key_], stype, user, password, "ahead", args.runs,
                             tls, tls_env)
            first, known = figures(line)
            print(f"  {line}")
            print(f"    targets: first check < 10 s ({'met' if first < 10 else 'NOT met'}), "
                  f"full pass < 2 s ({'met' if known < 2 else 'NOT met'})")
        for label, key_, stype in (("POP3", "pop3", 0), ("IMAP4", "imap", 1)):
            line = run_bench(bench, proxied[key_], stype, small, password, "sequential", 1)
            first, known = figures(line)
            print(f"  {line}")
            # A first check costs round trips per message either way; so does IMAP4's full
            # pass one at a time (an envelope each), while POP3's full pass asks nothing per
            # message and stays as measured.
            full = known * n / k if stype == 1 else known
            print(f"    one at a time, worked out for {n} messages: first check "
                  f"{first * n / k:.0f} s, full pass {full:.1f} s")

        print("\non loopback:")
        for stype, port in ((0, pop3), (1, imap)):
            for mode in ("ahead", "sequential"):
                print("  " + run_bench(bench, port, stype, user, password, mode, args.runs))

        print(f"\ntarnwick-check repeat run, POP3, {n} messages, loopback:")
        folder = os.path.join(work, "repeat")
        cvp.write_ini(folder, user, password, 0, pop3)
        t_first, rss_first, code = timed([tool, "-d", folder])
        if code != 0:
            raise SystemExit("tarnwick-check's first run failed")
        saved = os.path.join(folder, "MailDB.tdb")
        before = os.stat(saved)
        runs = [timed([tool, "-d", folder]) for _ in range(max(5, args.runs))]
        after = os.stat(saved)
        t_repeat = statistics.median(r[0] for r in runs)
        rss_repeat = max(r[1] for r in runs)
        untouched = (before.st_ino, before.st_mtime_ns) == (after.st_ino, after.st_mtime_ns)
        print(f"  first run {t_first * 1000:.0f} ms, repeat run {t_repeat * 1000:.0f} ms "
              f"(median of {len(runs)}); MailDB.tdb "
              f"{'left alone' if untouched else 'REWRITTEN'} by the repeat runs")
        print(f"  peak memory: first run {rss_first:.1f} MB, repeat run {rss_repeat:.1f} MB "
              f"(target < 60 MB)")
        # The floor for a repeat run: a process that logs in, lists the UIDs and sizes and
        # logs out with Python's poplib, doing nothing else.
        floor_script = os.path.join(work, "pop3_floor.py")
        with open(floor_script, "w") as f:
            f.write("import poplib, sys\n"
                    "p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=30)\n"
                    "p.user(sys.argv[2]); p.pass_(sys.argv[3])\n"
                    "p.stat(); p.uidl(); p.list(); p.quit()\n")
        floor = [timed([sys.executable, floor_script, str(pop3), user, password])
                 for _ in range(max(5, args.runs))]
        if any(r[2] != 0 for r in floor):
            print(f"  poplib floor failed (exit {floor[0][2]}); no ratio")
        else:
            t_floor = statistics.median(r[0] for r in floor)
            ratio = t_repeat / t_floor
            print(f"  poplib log-in, STAT, UIDL, LIST, QUIT as a process: {t_floor * 1000:.0f} ms; "
                  f"ratio {ratio:.2f}")
    finally:
        for stop in stops:
            stop()
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        shutil.rmtree(root, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
