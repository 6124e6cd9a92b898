#!/usr/bin/env python3
"""First check of a large mailbox: tarnwick-check against minimal poplib / imaplib clients.

Starts a private Dovecot on 127.0.0.1 (POP3 on a free port, IMAP4 on 143, which the worker
always uses: run as root, with nothing else on port 143), fills one Maildir with N messages
and prints:
  - POP3 first check: tarnwick-check vs. poplib sending USER, PASS, STAT, LIST, UIDL, then
    LIST n and TOP n 0 for each message, QUIT; and the ratio;
  - IMAP4 first check: tarnwick-check vs. imaplib sending LOGIN, SELECT, FETCH 1:n
    (RFC822.SIZE), then FETCH i (ENVELOPE) and FETCH i (RFC822.SIZE) for each, LOGOUT;
  - peak memory (max RSS) of tarnwick-check for that mailbox;
  - the unchanged re-check, measured in one process by bench_check.

Usage: python3 bench/check_vs_python.py [--build build-i] [--messages 5000] [--runs 3]
"""

import argparse
import imaplib
import os
import poplib
import pwd
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, proc, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        if proc.poll() is not None:
            raise SystemExit("dovecot exited at start")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise SystemExit(f"port {port} not accepting")


def start_dovecot(root, pop3_port, imap_port):
    for d in ("run", "state", "users", "mail"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    os.chmod(root, 0o755)
    conf = os.path.join(root, "dovecot.conf")
    with open(conf, "w") as f:
        f.write(f"""base_dir = {root}/run
state_dir = {root}/state
log_path = {root}/dovecot.log
protocols = pop3 imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_username_format = %u
auth_failure_delay = 0
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {root}/users/%u
}}
userdb {{
  driver = static
  args = uid=nobody gid=nogroup home={root}/mail/%u
}}
mail_location = maildir:{root}/mail/%u
default_internal_user = nobody
default_login_user = nobody
service pop3-login {{
  inet_listener pop3 {{
    port = {pop3_port}
  }}
  inet_listener pop3s {{
    port = 0
  }}
}}
service imap-login {{
  inet_listener imap {{
    port = {imap_port}
  }}
  inet_listener imaps {{
    port = 0
  }}
}}
""")
    dovecot = shutil.which("dovecot") or "/usr/sbin/dovecot"
    proc = subprocess.Popen([dovecot, "-F", "-c", conf], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_port(pop3_port, proc)
    wait_port(imap_port, proc)
    return proc


def add_user(root, user, password, n):
    with open(os.path.join(root, "users", user), "w") as f:
        f.write(f"{user}:{password}\n")
    os.chmod(os.path.join(root, "users", user), 0o644)
    home = os.path.join(root, "mail", user)
    for d in ("new", "cur", "tmp"):
        os.makedirs(os.path.join(home, d), exist_ok=True)
    nobody = pwd.getpwnam("nobody")
    now = int(time.time())
    for i in range(1, n + 1):
        body = f"Message number {i}.\n" + ("Some body text of the message.\n" * 20)
        msg = (f"From: Sender {i} <sender{i}@example.org>\nTo: {user}@example.org\n"
               f"Subject: Benchmark message {i}\nDate: Tue, 5 Mar 2024 10:00:00 +0000\n"
               f"Message-ID: <bench{i}@example.org>\n\n{body}")
        data = msg.encode()
        crlf = len(data) + data.count(b"\n")
        name = f"{now}.M{i}P{os.getpid()}.tarnwick,S={len(data)},W={crlf}"
        with open(os.path.join(home, "new", name), "wb") as f:
            f.write(data)
    for dirpath, dirnames, filenames in os.walk(home):
        for p in [dirpath] + [os.path.join(dirpath, x) for x in filenames]:
            os.chown(p, nobody.pw_uid, nobody.pw_gid)


def scramble(pw):
    return "".join(chr((ord(c) + i) % 256) for i, c in enumerate(pw, 1))


def write_ini(folder, user, password, server_type, port):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "tarn.ini"), "w") as f:
        f.write(f"""[Main]
ReleaseNr=19
ECount=1
keepMailDB=1
FilterCount=0
[1]
Name=bench
Host=127.0.0.1:{port}
UserID={user}
Password={scramble(password)}
SavePwd=1
MailServerType={server_type}
List=1
RetrieveAllBodies=0
""")


def run_tool(tool, folder):
    """Runs one first check (no saved list); returns (seconds, max RSS in MB, stdout)."""
    for name in ("MailDB.tdb",):
        try:
            os.remove(os.path.join(folder, name))
        except FileNotFoundError:
            pass
    t0 = time.perf_counter()
    p = subprocess.Popen([tool, "-d", folder], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    out = p.stdout.read().decode()
    _, status, usage = os.wait4(p.pid, 0)
    dt = time.perf_counter() - t0
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"tarnwick-check failed: {out}")
    return dt, usage.ru_maxrss / 1024.0, out


def run_poplib(port, user, password):
    t0 = time.perf_counter()
    c = poplib.POP3("127.0.0.1", port, timeout=60)
    c.user(user)
    c.pass_(password)
    n, _ = c.stat()
    c.list()
    c.uidl()
    for i in range(1, n + 1):
        c.list(i)
        c.top(i, 0)
    c.quit()
    return time.perf_counter() - t0, n


def run_imaplib(port, user, password):
    t0 = time.perf_counter()
    c = imaplib.IMAP4("127.0.0.1", port)
    c.login(user, password)
    _, data = c.select('"INBOX"')
    n = int(data[0])
    c.fetch(f"1:{n}", "(RFC822.SIZE)")
    for i in range(1, n + 1):
        c.fetch(str(i), "(ENVELOPE)")
        c.fetch(str(i), "(RFC822.SIZE)")
    c.logout()
    return time.perf_counter() - t0, n


def median_of(f, runs):
    vals = [f() for _ in range(runs)]
    return statistics.median(v[0] for v in vals), vals


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build-i"))
    ap.add_argument("--messages", type=int, default=5000)
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "tarnwick-check"))
    bench = os.path.abspath(os.path.join(args.build, "bench", "bench_check"))

    root = tempfile.mkdtemp(prefix="tarn-bench-dovecot-")
    work = tempfile.mkdtemp(prefix="tarn-bench-work-")
    pop3_port = free_port()
    proc = start_dovecot(root, pop3_port, 143)
    try:
        user, password = "bench", "benchpw"
        add_user(root, user, password, args.messages)
        run_poplib(pop3_port, user, password)  # warms Dovecot's index for both sides
        run_imaplib(143, user, password)
        print(f"mailbox: {args.messages} messages, loopback Dovecot, median of {args.runs} runs")

        pop_dir = os.path.join(work, "pop3")
        write_ini(pop_dir, user, password, 0, pop3_port)
        t_tool, tool_runs = median_of(lambda: run_tool(tool, pop_dir), args.runs)
        t_py, _ = median_of(lambda: run_poplib(pop3_port, user, password), args.runs)
        rss = max(r[1] for r in tool_runs)
        print(f"POP3 first check: tarnwick-check {t_tool * 1000:.0f} ms, poplib {t_py * 1000:.0f} ms,"
              f" ratio {t_tool / t_py:.2f} (target <= 1.3)")
        print(f"  tarnwick-check output: {tool_runs[0][2].strip()}")

        imap_dir = os.path.join(work, "imap")
        write_ini(imap_dir, user, password, 1, 143)
        t_tool_i, tool_runs_i = median_of(lambda: run_tool(tool, imap_dir), args.runs)
        t_py_i, _ = median_of(lambda: run_imaplib(143, user, password), args.runs)
        rss = max(rss, max(r[1] for r in tool_runs_i))
        print(f"IMAP4 first check: tarnwick-check {t_tool_i * 1000:.0f} ms, imaplib {t_py_i * 1000:.0f} ms,"
              f" ratio {t_tool_i / t_py_i:.2f} (target <= 1.3)")
        print(f"peak memory of tarnwick-check: {rss:.1f} MB (target < 60 MB)")

        if os.path.exists(bench):
            for server_type, port in ((0, pop3_port), (1, 143)):
                env = dict(os.environ, TARN_BENCH_HOST="127.0.0.1", TARN_BENCH_PORT=str(port),
                           TARN_BENCH_USER=user, TARN_BENCH_PASS=password,
                           TARN_BENCH_TYPE=str(server_type))
                out = subprocess.run([bench, "--benchmark_filter=BM_UnchangedRecheck"], env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
                line = [l for l in out.splitlines() if l.startswith("BM_Unchanged")]
                print(f"unchanged re-check ({'IMAP4' if server_type else 'POP3'}, target < 100 ms): "
                      f"{line[0] if line else out.strip()}")
        else:
            print(f"(no {bench}: build target bench_check for the unchanged re-check)")
    finally:
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
