#!/usr/bin/python3
"""Loopback FTP server that misbehaves on purpose, for corvane's fault tests.

Test mode, as tools/ftp_server.py: listens on 127.0.0.1, writes
"ftp_port control_port" to --port-file and lives exactly as long as the one
control connection the test fixture holds open (never longer than
--max-seconds).

--scenario chooses the misbehaviour for every client:

    greeting-421   greets with a 421 reply and closes
    silent         accepts and never says a word
    drop-listing   logs anyone in; LIST sends --entries lines, then the data
                   and control connections drop without a final reply
    drop-file      logs anyone in; RETR announces --size bytes in its 150
                   reply (and SIZE answers it), sends --sent bytes, then the
                   data and control connections drop without a final reply
    pasv-no-data   logs anyone in; PASV names a port that never accepts, and
                   transfer commands (LIST, NLST, RETR, STOR) get no reply
    silent-after-login
                   logs anyone in and answers SYST, TYPE, PWD and the data
                   channel set-up; every other command gets no reply
    stall-file     logs anyone in; RETR announces --size bytes, sends --sent
                   bytes, then holds both connections open and says nothing
    rest-refused   logs anyone in; SIZE answers --size, REST gets a 502
"""

import argparse
import os
import re
import select
import signal
import socket
import sys
import threading
import time

# -I keeps the script's folder off sys.path; the lifetime rules are shared.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ftp_server import Lifetime, remove_quietly, write_port_file  # noqa: E402

SCENARIOS = ("greeting-421", "silent", "drop-listing", "drop-file", "pasv-no-data", "silent-after-login",
             "stall-file", "rest-refused")
MAX_COMMAND = 4096
# What silent-after-login still answers: the login and the platform's own
# set-up around a command.
LOGIN_VERBS = ("USER", "PASS", "SYST", "TYPE", "PWD", "PASV", "PORT", "QUIT")
DATA_CONNECT_SECONDS = 10
POLL_SECONDS = 0.1


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--scenario", choices=SCENARIOS, required=True)
    p.add_argument("--port-file", required=True, help='write "ftp_port control_port" here once listening')
    p.add_argument("--max-seconds", type=float, default=300.0)
    p.add_argument("--entries", type=int, default=20, help="drop-listing: lines sent before the drop")
    p.add_argument("--size", type=int, default=100000, help="drop-file, stall-file, rest-refused: the file's size")
    p.add_argument("--sent", type=int, default=1000, help="drop-file, stall-file: bytes sent before the drop or stall")
    return p.parse_args()


def listing_line(index):
    return "-rw-r--r--    1 owner    group          10 Jan 01 00:00 file%02d\r\n" % index


def file_bytes(count):
    return bytes(index * 7 % 256 for index in range(count))


class Client:
    """One control connection, served on its own thread until it ends."""

    def __init__(self, sock, args, stopping):
        self.sock = sock
        self.args = args
        self.stopping = stopping
        self.pending = b""
        self.passive = None  # listening socket named by the last PASV
        self.active = None  # (host, port) named by the last PORT

    def send(self, line):
        self.sock.sendall(line.encode("latin-1") + b"\r\n")

    def read_command(self):
        """The next command line, or None once the client is gone or we stop."""
        while b"\n" not in self.pending:
            if self.stopping.is_set() or len(self.pending) > MAX_COMMAND:
                return None
            if not select.select([self.sock], [], [], POLL_SECONDS)[0]:
                continue
            try:
                data = self.sock.recv(MAX_COMMAND)
            except OSError:
                return None
            if not data:
                return None
            self.pending += data
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode("latin-1").rstrip("\r")

    def wait_for_close(self):
        while self.read_command() is not None:
            pass

    def open_data(self):
        """The data connection the last PASV or PORT prepared, or None."""
        try:
            if self.passive is not None:
                self.passive.settimeout(DATA_CONNECT_SECONDS)
                data, _ = self.passive.accept()
                return data
            if self.active is not None:
                return socket.create_connection(self.active, timeout=DATA_CONNECT_SECONDS)
        except OSError:
            pass
        return None

    def drop_after(self, payload):
        data = self.open_data()
        if data is not None:
            try:
                data.sendall(payload)
            except OSError:
                pass
            data.close()
        # No final reply: the control connection ends as well.
        self.sock.close()

    def stall_after(self, payload):
        data = self.open_data()
        try:
            if data is not None:
                data.sendall(payload)
            # Neither connection closes or speaks until the client gives up.
            self.wait_for_close()
        except OSError:
            pass
        finally:
            if data is not None:
                data.close()

    def passive_reply(self):
        if self.passive is not None:
            self.passive.close()
        self.passive = socket.create_server(("127.0.0.1", 0), backlog=4)
        port = self.passive.getsockname()[1]
        return "227 Entering Passive Mode (127,0,0,1,%d,%d)." % (port >> 8, port & 0xFF)

    def port_reply(self, argument):
        fields = argument.split(",")
        if len(fields) != 6 or not all(f.isdigit() for f in fields):
            return "501 Syntax error in PORT."
        # Never connect anywhere but the loopback address.
        if fields[:4] != ["127", "0", "0", "1"]:
            return "501 Only 127.0.0.1 is served."
        self.active = ("127.0.0.1", int(fields[4]) * 256 + int(fields[5]))
        return "200 PORT command successful."

    def serve(self):
        scenario = self.args.scenario
        if scenario == "greeting-421":
            self.send("421 Service not available, closing control connection.")
            return
        if scenario == "silent":
            self.wait_for_close()
            return
        self.send("220 corvane misbehaving test server")
        while True:
            line = self.read_command()
            if line is None:
                return
            verb, _, argument = line.partition(" ")
            verb = verb.upper()
            if verb in ("LIST", "NLST", "RETR", "STOR") and scenario == "pasv-no-data":
                continue  # the reply never comes
            if verb in ("LIST", "NLST") and scenario == "drop-listing":
                self.send("150 Here comes the directory listing.")
                self.drop_after("".join(listing_line(i + 1) for i in range(self.args.entries)).encode("ascii"))
                return
            if verb == "RETR" and scenario == "drop-file":
                self.send("150 Opening BINARY mode data connection for %s (%d bytes)."
                          % (re.sub(r"[^\x20-\x7e]", "", argument), self.args.size))
                self.drop_after(file_bytes(self.args.sent))
                return
            if verb == "RETR" and scenario == "stall-file":
                self.send("150 Opening BINARY mode data connection for %s (%d bytes)."
                          % (re.sub(r"[^\x20-\x7e]", "", argument), self.args.size))
                self.stall_after(file_bytes(self.args.sent))
                return
            if scenario == "silent-after-login" and verb not in LOGIN_VERBS:
                continue  # the reply never comes
            if verb == "QUIT":
                self.send("221 Goodbye.")
                return
            self.send(self.reply_to(verb, argument))

    def reply_to(self, verb, argument):
        simple = {
            "USER": "331 Password required.",
            "PASS": "230 Logged in.",
            "SYST": "215 UNIX Type: L8",
            "PWD": '257 "/" is the current directory.',
            "CWD": "250 Directory changed.",
            "TYPE": "200 Type set.",
            "NOOP": "200 OK.",
        }
        if verb in simple:
            return simple[verb]
        if verb == "SIZE":
            if self.args.scenario in ("drop-file", "stall-file", "rest-refused"):
                return "213 %d" % self.args.size
            return "550 No such file."
        if verb == "REST" and self.args.scenario == "rest-refused":
            return "502 Command not implemented."
        if verb == "PASV":
            return self.passive_reply()
        if verb == "PORT":
            return self.port_reply(argument)
        return "502 Command not implemented."

    def run(self):
        try:
            self.serve()
        except OSError:
            pass
        finally:
            for s in (self.passive, self.sock):
                if s is not None:
                    s.close()


def main():
    args = parse_args()
    lifetime = Lifetime(args.max_seconds, foreground=False)
    stopping = threading.Event()

    def on_signal(signum, _frame):
        lifetime.stop_reason = "signal %d" % signum

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    listener = socket.create_server(("127.0.0.1", 0))
    clients = []
    try:
        write_port_file(args.port_file, "%d %d" % (listener.getsockname()[1], lifetime.control_port))
        while lifetime.stop_reason is None and lifetime.check():
            if select.select([listener], [], [], POLL_SECONDS)[0]:
                sock, _ = listener.accept()
                thread = threading.Thread(target=Client(sock, args, stopping).run, daemon=True)
                thread.start()
                clients.append(thread)
    finally:
        remove_quietly(args.port_file)
        stopping.set()
        listener.close()
        deadline = time.monotonic() + 2
        for thread in clients:
            thread.join(max(0.0, deadline - time.monotonic()))
        # Last: the fixture takes EOF here to mean this process is done.
        lifetime.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
