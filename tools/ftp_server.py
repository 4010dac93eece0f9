#!/usr/bin/python3
"""Loopback FTP server for corvane's integration tests and demos.

Test mode: listens on 127.0.0.1, writes "ftp_port control_port root" to
--port-file and lives exactly as long as the one control connection the
test fixture holds open, so a crashed test cannot leave it behind.

Demo mode (--foreground): no control port; stops on SIGINT/SIGTERM.
"""

import argparse
import logging
import os
import select
import shutil
import signal
import socket
import sys
import tempfile
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer

USER = "tester"
PASSWORD = "secret"
CONTROL_ACCEPT_SECONDS = 30


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--root", help="served directory (default: fresh temp dir, removed on exit)")
    p.add_argument("--port-file", help='write "ftp_port control_port root" here once listening')
    p.add_argument("--max-seconds", type=float, default=900.0)
    p.add_argument("--foreground", action="store_true", help="demo mode: no control port")
    p.add_argument("--verbose", action="store_true")
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"),
                   help="explicit TLS (AUTH TLS) required on control and data connections")
    p.add_argument("--log-commands", action="store_true",
                   help="append every command line received to <root>.commands (removed on exit)")
    return p.parse_args()


def write_port_file(path, line):
    # The fixture polls for this file, so it must never see it half written.
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(line + "\n")
    os.replace(tmp, path)


def remove_quietly(path):
    try:
        os.remove(path)
    except OSError:
        pass


class Lifetime:
    """Decides when to stop: control EOF, no control in time, signal or cap."""

    def __init__(self, max_seconds, foreground):
        self.started = time.monotonic()
        self.deadline = self.started + max_seconds
        self.stop_reason = None
        self.listener = None
        self.conn = None
        if not foreground:
            self.listener = socket.create_server(("127.0.0.1", 0))
            self.listener.setblocking(False)

    @property
    def control_port(self):
        return self.listener.getsockname()[1] if self.listener else 0

    def check(self):
        now = time.monotonic()
        if now > self.deadline:
            self.stop_reason = "lifetime cap reached"
        elif self.listener is not None:
            if select.select([self.listener], [], [], 0)[0]:
                self.conn, _ = self.listener.accept()
                self.listener.close()
                self.listener = None
            elif now > self.started + CONTROL_ACCEPT_SECONDS:
                self.stop_reason = "no control connection"
        elif self.conn is not None and select.select([self.conn], [], [], 0)[0]:
            try:
                data = self.conn.recv(4096)
            except OSError:
                data = b""
            if not data:
                self.stop_reason = "control connection closed"
        return self.stop_reason is None

    def close(self):
        for s in (self.listener, self.conn):
            if s is not None:
                s.close()


class Handler(FTPHandler):
    """pyftpdlib as it is, except that it accepts "OPTS UTF8 ON", as many
    servers do: it always speaks UTF-8, lists UTF8 in FEAT, and would
    otherwise refuse the switch with a 501."""

    def ftp_OPTS(self, line):
        if " ".join(line.split()).upper() == "UTF8 ON":
            self.respond("200 Always in UTF8 mode.")
        else:
            super().ftp_OPTS(line)


def command_logging_handler(path):
    """A handler that appends each command line to `path` before acting on
    it, so a client that got the reply finds the line already there."""

    class LoggingHandler(Handler):
        def pre_process_command(self, line, cmd, arg):
            shown = cmd + " ******" if cmd == "PASS" else line
            with open(path, "a", encoding="utf-8", errors="backslashreplace") as log:
                log.write(shown + "\n")
            return super().pre_process_command(line, cmd, arg)

    return LoggingHandler


def main():
    args = parse_args()
    config_logging(level=logging.DEBUG if args.verbose else logging.WARNING)

    own_root = args.root is None
    root = os.path.realpath(tempfile.mkdtemp(prefix="corvane-ftp-") if own_root else args.root)

    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, root, perm="elradfmwMT")
    command_log = root + ".commands" if args.log_commands else None
    handler = command_logging_handler(command_log) if command_log else Handler
    if args.tls:
        from pyftpdlib.handlers import TLS_FTPHandler
        handler = type("TlsHandler", (handler, TLS_FTPHandler), {})
        handler.certfile, handler.keyfile = args.tls
        handler.tls_control_required = True
        handler.tls_data_required = True
    handler.authorizer = authorizer
    handler.banner = "corvane test FTP server ready"
    handler.auth_failed_timeout = 0  # tests of failed logins need not wait

    server = None
    lifetime = Lifetime(args.max_seconds, args.foreground)

    def on_signal(signum, _frame):
        lifetime.stop_reason = "signal %d" % signum

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    try:
        server = FTPServer(("127.0.0.1", args.port), handler)
        port = server.address[1]
        if args.port_file:
            write_port_file(args.port_file, "%d %d %s" % (port, lifetime.control_port, root))
        if args.foreground:
            print("FTP on 127.0.0.1:%d user %s password %s root %s" % (port, USER, PASSWORD, root),
                  flush=True)
        while lifetime.stop_reason is None and lifetime.check():
            # One poll per pass keeps the control socket and the cap checked
            # without a second thread touching pyftpdlib's loop.
            server.ioloop.loop(timeout=0.1, blocking=False)
        logging.getLogger("pyftpdlib").info("stopping: %s", lifetime.stop_reason)
    finally:
        # Files first, control socket last: the fixture takes EOF on the
        # control connection to mean this process is done.
        if args.port_file:
            remove_quietly(args.port_file)
        if command_log:
            remove_quietly(command_log)
        if own_root:
            shutil.rmtree(root, ignore_errors=True)
        if server is not None:
            server.close_all()
        lifetime.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
