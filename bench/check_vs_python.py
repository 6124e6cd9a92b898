#!/usr/bin/env python3
"""First check of a large mailbox: tarnwick-check against minimal poplib / imaplib clients.

Starts a private Dovecot on 127.0.0.1 (POP3 on a free port, IMAP4 on 143, which the worker
always uses without TLS: run as root, with nothing else on port 143; POP3 and IMAP4 over TLS
on two more free ports with a certificate made here by the openssl command), fills one
Maildir with N messages and prints:
  - POP3 first check: tarnwick-check vs. poplib sending USER, PASS, STAT, LIST, UIDL, then
    LIST n and TOP n 0 for each message, QUIT; and the ratio;
  - IMAP4 first check: tarnwick-check vs. imaplib sending LOGIN, SELECT, FETCH 1:n
    (RFC822.SIZE), then FETCH i (ENVELOPE) and FETCH i (RFC822.SIZE) for each, LOGOUT;
  - peak memory (max RSS) of tarnwick-check for that mailbox;
  - the same two first checks over TLS (Security=1), against poplib.POP3_SSL and
    imaplib.IMAP4_SSL with the same commands;
  - the TLS handshake's cost per check: a check of an empty mailbox over TLS minus the same
    check in clear, for tarnwick-check and for poplib;
  - the unchanged re-check, measured in one process by bench_check.

Usage: python3 bench/check_vs_python.py [--build build-i] [--messages 5000] [--runs 3]
           [--tls-only]
"""

import argparse
import imaplib
import os
import poplib
import pwd
import shutil
import signal
import socket
import ssl
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


def make_certificates(root):
    """A CA and a server certificate for 127.0.0.1 signed by it; returns (ca, cert, key)."""
    d = os.path.join(root, "pki")
    os.makedirs(d, exist_ok=True)
    ca, ca_key = os.path.join(d, "ca.crt"), os.path.join(d, "ca.key")
    crt, key, csr = (os.path.join(d, n) for n in ("server.crt", "server.key", "server.csr"))
    ext = os.path.join(d, "server.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=critical,CA:FALSE\n")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    subprocess.run(["openssl", "req", "-x509", *ec, "-keyout", ca_key, "-out", ca, "-days", "2",
                    "-subj", "/CN=Tarnwick bench CA",
                    "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign"], **quiet)
    subprocess.run(["openssl", "req", *ec, "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1"],
                   **quiet)
    subprocess.run(["openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key,
                    "-CAcreateserial", "-out", crt, "-days", "2", "-extfile", ext], **quiet)
    for p in (ca, crt, key):
        os.chmod(p, 0o644)
    return ca, crt, key


def start_dovecot(root, pop3_port, imap_port, tls=None):
    """tls: None, or (cert, key, pop3s port, imaps port)."""
    for d in ("run", "state", "users", "mail"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    os.chmod(root, 0o755)
    conf = os.path.join(root, "dovecot.conf")
    ssl_lines = ("ssl = no" if tls is None
                 else "ssl = yes\nssl_cert = <" + tls[0] + "\nssl_key = <" + tls[1])
    with open(conf, "w") as f:
        f.write(f"""base_dir = {root}/run
state_dir = {root}/state
log_path = {root}/dovecot.log
protocols = pop3 imap
listen = 127.0.0.1
{ssl_lines}
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
    port = {0 if tls is None else tls[2]}
  }}
}}
service imap-login {{
  inet_listener imap {{
    port = {imap_port}
  }}
  inet_listener imaps {{
    port = {0 if tls is None else tls[3]}
  }}
}}
""")
    dovecot = shutil.which("dovecot") or "/usr/sbin/dovecot"
    proc = subprocess.Popen([dovecot, "-F", "-c", conf], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_port(pop3_port, proc)
    wait_port(imap_port, proc)
    if tls is not None:
        wait_port(tls[2], proc)
        wait_port(tls[3], proc)
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


def write_ini(folder, user, password, server_type, port, security=0):
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
Security={security}
""")


def run_tool(tool, folder, env=None):
    """Runs one first check (no saved list); returns (seconds, max RSS in MB, stdout)."""
    for name in ("MailDB.tdb",):
        try:
            os.remove(os.path.join(folder, name))
        except FileNotFoundError:
            pass
    t0 = time.perf_counter()
    p = subprocess.Popen([tool, "-d", folder], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                         env=env)
    out = p.stdout.read().decode()
    _, status, usage = os.wait4(p.pid, 0)
    dt = time.perf_counter() - t0
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"tarnwick-check failed: {out}")
    return dt, usage.ru_maxrss / 1024.0, out


def run_poplib(port, user, password, context=None):
    t0 = time.perf_counter()
    if context is None:
        c = poplib.POP3("127.0.0.1", port, timeout=60)
    else:
        c = poplib.POP3_SSL("127.0.0.1", port, timeout=60, context=context)
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


def run_imaplib(port, user, password, context=None):
    t0 = time.perf_counter()
    if context is None:
        c = imaplib.IMAP4("127.0.0.1", port)
    else:
        c = imaplib.IMAP4_SSL("127.0.0.1", port, ssl_context=context)
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


def compare(label, tool_run, py_run, runs, target=1.3):
    t_tool, tool_runs = median_of(tool_run, runs)
    t_py, _ = median_of(py_run, runs)
    print(f"{label}: tarnwick-check {t_tool * 1000:.0f} ms, python {t_py * 1000:.0f} ms,"
          f" ratio {t_tool / t_py:.2f} (target <= {target})")
    return tool_runs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build-i"))
    ap.add_argument("--messages", type=int, default=5000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--tls-only", action="store_true",
                    help="only the TLS comparisons (no plain IMAP4 on port 143)")
    args = ap.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "tarnwick-check"))
    bench = os.path.abspath(os.path.join(args.build, "bench", "bench_check"))

    root = tempfile.mkdtemp(prefix="tarn-bench-dovecot-")
    work = tempfile.mkdtemp(prefix="tarn-bench-work-")
    os.chmod(root, 0o755)
    ca, cert, key = make_certificates(root)
    pop3_port, pop3s_port, imaps_port = free_port(), free_port(), free_port()
    imap_port = free_port() if args.tls_only else 143
    proc = start_dovecot(root, pop3_port, imap_port, (cert, key, pop3s_port, imaps_port))
    # The test CA is trusted by both sides, and only here.
    tls_env = dict(os.environ, SSL_CERT_FILE=ca, SSL_CERT_DIR=os.path.join(root, "pki"))
    context = ssl.create_default_context(cafile=ca)
    try:
        user, password = "bench", "benchpw"
        add_user(root, user, password, args.messages)
        add_user(root, "empty", password, 0)
        run_poplib(pop3_port, user, password)  # warms Dovecot's index for both sides
        run_imaplib(imap_port, user, password)
        print(f"mailbox: {args.messages} messages, loopback Dovecot, median of {args.runs} runs")
        rss = 0.0

        if not args.tls_only:
            pop_dir = os.path.join(work, "pop3")
            write_ini(pop_dir, user, password, 0, pop3_port)
            runs = compare("POP3 first check (poplib)", lambda: run_tool(tool, pop_dir),
                           lambda: run_poplib(pop3_port, user, password), args.runs)
            rss = max(r[1] for r in runs)
            print(f"  tarnwick-check output: {runs[0][2].strip()}")

            imap_dir = os.path.join(work, "imap")
            write_ini(imap_dir, user, password, 1, imap_port)
            runs = compare("IMAP4 first check (imaplib)", lambda: run_tool(tool, imap_dir),
                           lambda: run_imaplib(imap_port, user, password), args.runs)
            rss = max(rss, max(r[1] for r in runs))

        pops_dir = os.path.join(work, "pop3s")
        write_ini(pops_dir, user, password, 0, pop3s_port, security=1)
        runs = compare("POP3 over TLS first check (poplib.POP3_SSL)",
                       lambda: run_tool(tool, pops_dir, tls_env),
                       lambda: run_poplib(pop3s_port, user, password, context), args.runs)
        rss = max([rss] + [r[1] for r in runs])
        print(f"  tarnwick-check output: {runs[0][2].strip()}")

        imaps_dir = os.path.join(work, "imaps")
        write_ini(imaps_dir, user, password, 1, imaps_port, security=1)
        runs = compare("IMAP4 over TLS first check (imaplib.IMAP4_SSL)",
                       lambda: run_tool(tool, imaps_dir, tls_env),
                       lambda: run_imaplib(imaps_port, user, password, context), args.runs)
        rss = max([rss] + [r[1] for r in runs])
        print(f"peak memory of tarnwick-check: {rss:.1f} MB (target < 60 MB)")

        # The handshake's cost: a whole check of an empty mailbox, over TLS and in clear.
        n = max(20, args.runs)
        plain_dir, tls_dir = os.path.join(work, "empty"), os.path.join(work, "empty-tls")
        write_ini(plain_dir, "empty", password, 0, pop3_port)
        write_ini(tls_dir, "empty", password, 0, pop3s_port, security=1)
        t_plain, _ = median_of(lambda: run_tool(tool, plain_dir), n)
        t_tls, _ = median_of(lambda: run_tool(tool, tls_dir, tls_env), n)
        p_plain, _ = median_of(lambda: run_poplib(pop3_port, "empty", password), n)
        p_tls, _ = median_of(lambda: run_poplib(pop3s_port, "empty", password, context), n)
        print(f"TLS handshake cost per check (empty POP3 mailbox, median of {n}): "
              f"tarnwick-check {(t_tls - t_plain) * 1000:.1f} ms "
              f"({t_tls * 1000:.1f} ms over TLS, {t_plain * 1000:.1f} ms in clear), "
              f"poplib {(p_tls - p_plain) * 1000:.1f} ms "
              f"({p_tls * 1000:.1f} ms over TLS, {p_plain * 1000:.1f} ms in clear)")

        if args.tls_only:
            pass
        elif os.path.exists(bench):
            for server_type, port in ((0, pop3_port), (1, imap_port)):
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
