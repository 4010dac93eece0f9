#!/usr/bin/python3
"""Loopback FTPS server (vsftpd) for corvane's integration tests.

Runs Debian's vsftpd on 127.0.0.1 with TLS required for the login and
every data connection: explicit (AUTH TLS) or, with --implicit, TLS from
the first byte. Anonymous login; a fresh root with an up/ folder that only
the ftp user may write (vsftpd will not chroot into a root it can write).

Test mode as tools/ftp_server.py: writes "ftp_port control_port root" to
--port-file and lives exactly as long as the one control connection the
test fixture holds open (never longer than --max-seconds); vsftpd and its
session processes go with it.
"""

import argparse
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

# -I keeps the script's folder off sys.path; the lifetime rules are shared.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ftp_server import Lifetime, remove_quietly, write_port_file  # noqa: E402

VSFTPD = "/usr/sbin/vsftpd"
START_SECONDS = 10
POLL_SECONDS = 0.1

CONFIG = """listen=YES
listen_address=127.0.0.1
listen_port={port}
background=NO
anonymous_enable=YES
local_enable=NO
no_anon_password=YES
anon_root={root}
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
connect_from_port_20=NO
pasv_enable=YES
pasv_address=127.0.0.1
port_enable=YES
dirlist_enable=YES
max_clients=0
max_per_ip=0
delay_failed_login=0
delay_successful_login=0
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=/var/run/vsftpd/empty
ftp_username=ftp
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=NO
strict_ssl_read_eof=YES
rsa_cert_file={cert}
rsa_private_key_file={key}
implicit_ssl={implicit}
"""
# require_ssl_reuse=NO: Wine's SChannel never resumes a TLS session, so a
# data connection would be refused. strict_ssl_read_eof=YES: an upload that
# ends without TLS close_notify fails, as a cut one. ssl_tlsv1_2 is unknown to Debian 12's
# vsftpd and would make it exit.


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port-file", required=True, help='write "ftp_port control_port root" here once listening')
    p.add_argument("--cert", required=True, help="PEM certificate (chain) the server presents")
    p.add_argument("--key", required=True, help="its PEM private key")
    p.add_argument("--implicit", action="store_true", help="TLS from the first byte, no AUTH TLS")
    p.add_argument("--max-seconds", type=float, default=300.0)
    return p.parse_args()


def free_port():
    with socket.create_server(("127.0.0.1", 0)) as probe:
        return probe.getsockname()[1]


def accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def fail(message, log=None):
    text = "ftps_server.py: " + message
    if log and os.path.exists(log):
        with open(log, errors="replace") as f:
            text += "\n" + f.read()
    print(text, file=sys.stderr, flush=True)
    return 1


def main():
    args = parse_args()
    if not os.access(VSFTPD, os.X_OK):
        return fail(VSFTPD + " is missing: install Debian's vsftpd package")
    for path in (args.cert, args.key):
        if not os.path.isfile(path):
            return fail("no such file: " + path)

    root = os.path.realpath(tempfile.mkdtemp(prefix="corvane-ftps-"))
    os.chmod(root, 0o755)  # read by the ftp user vsftpd becomes
    work = root + ".vsftpd"
    os.mkdir(work, 0o700)
    ftp_user = pwd.getpwnam("ftp")
    os.mkdir(os.path.join(root, "up"), 0o755)
    os.chown(os.path.join(root, "up"), ftp_user.pw_uid, ftp_user.pw_gid)
    os.makedirs("/var/run/vsftpd/empty", exist_ok=True)

    lifetime = Lifetime(args.max_seconds, foreground=False)

    def on_signal(signum, _frame):
        lifetime.stop_reason = "signal %d" % signum

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    server = None
    status = 0
    log = os.path.join(work, "vsftpd.log")
    try:
        port = free_port()
        config = os.path.join(work, "vsftpd.conf")
        with open(config, "w") as f:
            f.write(CONFIG.format(port=port, root=root, cert=os.path.realpath(args.cert),
                                  key=os.path.realpath(args.key), implicit="YES" if args.implicit else "NO"))
        with open(log, "wb") as out:
            # Its own session: the listener and every session process it forks
            # are ended together.
            server = subprocess.Popen([VSFTPD, config], stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + START_SECONDS
        while not accepts(port):
            if server.poll() is not None or time.monotonic() > deadline:
                return fail("vsftpd did not listen on 127.0.0.1:%d" % port, log)
            time.sleep(POLL_SECONDS)
        write_port_file(args.port_file, "%d %d %s" % (port, lifetime.control_port, root))
        while lifetime.stop_reason is None and lifetime.check():
            if server.poll() is not None:
                status = fail("vsftpd exited", log)
                break
            time.sleep(POLL_SECONDS)
    finally:
        if server is not None:
            try:
                os.killpg(server.pid, signal.SIGKILL)
            except OSError:
                pass
            server.wait()
        remove_quietly(args.port_file)
        shutil.rmtree(root, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)
        # Last: the fixture takes EOF here to mean this process is done.
        lifetime.close()
    return status


if __name__ == "__main__":
    sys.exit(main())
