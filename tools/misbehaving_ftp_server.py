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
    split-replies  logs anyone in and serves LIST and RETR, every reply sent
                   a byte at a time
    long-reply-line
                   logs anyone in; PWD is answered by a 2 MB line
    abort-426      logs anyone in; LIST, NLST and RETR send a 150, --sent
                   bytes, close the data connection and reply 426
    epsv-refused   EPSV and EPRT get a 500; PASV and PORT work
    pasv-foreign-address
                   as epsv-refused, and PASV names 127.0.0.2 (where nothing
                   listens) for its port on 127.0.0.1
    odd-listing    LIST sends names with spaces, a size past 4 GiB and
                   names that are no entry of the directory
    mlsd           FEAT lists MLST; MLSD sends facts lines, LIST other names

Unless a scenario says otherwise: EPSV and EPRT work as PASV and PORT do
(127.0.0.1 only); FEAT is refused; LIST sends --entries lines, RETR sends
--size bytes, each followed by a 226, in the scenarios that work.
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
             "stall-file", "rest-refused", "split-replies", "long-reply-line", "abort-426", "epsv-refused",
             "pasv-foreign-address", "odd-listing", "mlsd")
# Scenarios whose transfers go through to their end, and those that start them.
SERVING = ("split-replies", "epsv-refused", "pasv-foreign-address", "odd-listing", "mlsd")
TRANSFERRING = SERVING + ("abort-426",)
EXTENDED_REFUSED = ("epsv-refused", "pasv-foreign-address")
LONG_LINE_BYTES = 2 * 1024 * 1024
SPLIT_PAUSE_SECONDS = 0.001
MAX_COMMAND = 4096
# What silent-after-login still answers: the login and the platform's own
# set-up around a command.
LOGIN_VERBS = ("USER", "PASS", "SYST", "TYPE", "PWD", "PASV", "PORT", "EPSV", "EPRT", "FEAT", "OPTS", "QUIT")
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


# ".", ".." and "a/b" are no entries of the directory: a client must drop
# them, not show them. "..\\x" is a plain name on the wire, which a tree
# download must refuse to write locally.
ODD_LISTING = [
    "total 12",
    "drwxr-xr-x    2 owner    group        4096 Jan 01 00:00 .",
    "drwxr-xr-x    2 owner    group        4096 Jan 01 00:00 ..",
    "-rw-r--r--    1 owner    group          10 Jan 01 00:00 a/b",
    "-rw-r--r--    1 owner    group          10 Jan 01 00:00 ..\\x",
    "-rw-r--r--    1 owner    group          11 Jan 01 00:00 name with  two spaces.txt",
    "-rw-r--r--    1 owner    group  6000000000 Jan 01 00:00 huge.bin",
    "drwxr-xr-x    2 owner    group        4096 Jan 01 00:00 folder with space",
    "-rw-r--r--    1 owner    group           7 Jan 01 00:00 plain.txt",
]
MLSD_LISTING = [
    "type=cdir;modify=20260101000000; .",
    "type=pdir;modify=20260101000000; ..",
    "type=file;size=11;modify=20260101000000; name with  two spaces.txt",
    "type=file;size=6000000000;modify=20260101000000; huge.bin",
    "type=dir;modify=20260101000000; folder with space",
    "type=file;size=10;modify=20260101000000; a/b",
    "type=file;size=7;modify=20260101000000; plain.txt",
]
# What LIST says in the mlsd scenario: a client that lists these did not use MLSD.
MLSD_SCENARIO_LIST = ["-rw-r--r--    1 owner    group           5 Jan 01 00:00 listed-by-list.txt"]


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
        data = line.encode("latin-1") + b"\r\n"
        if self.args.scenario != "split-replies":
            self.sock.sendall(data)
            return
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for index in range(len(data)):
            self.sock.sendall(data[index:index + 1])
            time.sleep(SPLIT_PAUSE_SECONDS)

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

    def listen_passive(self):
        if self.passive is not None:
            self.passive.close()
        self.active = None
        self.passive = socket.create_server(("127.0.0.1", 0), backlog=4)
        return self.passive.getsockname()[1]

    def passive_reply(self):
        port = self.listen_passive()
        host = "127,0,0,2" if self.args.scenario == "pasv-foreign-address" else "127,0,0,1"
        return "227 Entering Passive Mode (%s,%d,%d)." % (host, port >> 8, port & 0xFF)

    def extended_passive_reply(self):
        return "229 Entering Extended Passive Mode (|||%d|)." % self.listen_passive()

    def use_active(self, host, port):
        # Never connect anywhere but the loopback address.
        if host != "127.0.0.1":
            return "501 Only 127.0.0.1 is served."
        if not 0 < port < 65536:
            return "501 No such port."
        if self.passive is not None:
            self.passive.close()
            self.passive = None
        self.active = (host, port)
        return "200 Command successful."

    def port_reply(self, argument):
        fields = argument.split(",")
        if len(fields) != 6 or not all(f.isdigit() and len(f) <= 3 for f in fields):
            return "501 Syntax error in PORT."
        return self.use_active(".".join(fields[:4]), int(fields[4]) * 256 + int(fields[5]))

    def extended_port_reply(self, argument):
        fields = argument.split(argument[:1]) if argument else []
        if len(fields) != 5 or fields[1] != "1" or not fields[3].isdigit() or len(fields[3]) > 5:
            return "522 Only IPv4 is served, use (1)."
        return self.use_active(fields[2], int(fields[3]))

    def transfer(self, opening, payload, final):
        """A 150, the payload on the data connection, then `final`."""
        self.send(opening)
        data = self.open_data()
        if data is None:
            self.send("425 No data connection.")
            return
        try:
            data.sendall(payload)
        except OSError:
            pass
        data.close()
        if self.passive is not None:
            self.passive.close()
            self.passive = None
        self.send(final)

    def listing_lines(self, verb):
        scenario = self.args.scenario
        if scenario == "odd-listing":
            return ODD_LISTING
        if scenario == "mlsd":
            return MLSD_LISTING if verb == "MLSD" else MLSD_SCENARIO_LIST
        return [listing_line(i + 1).rstrip("\r\n") for i in range(self.args.entries)]

    def serve_transfer(self, verb, argument):
        """LIST, NLST, MLSD or RETR where the scenario serves them; False otherwise."""
        scenario = self.args.scenario
        if verb not in ("LIST", "NLST", "MLSD", "RETR") or scenario not in TRANSFERRING:
            return False
        if verb == "MLSD" and scenario != "mlsd":
            self.send("500 Unknown command.")
            return True
        if verb == "RETR":
            opening = "150 Opening BINARY mode data connection for %s (%d bytes)." % (
                re.sub(r"[^\x20-\x7e]", "", argument), self.args.size)
            payload = file_bytes(self.args.size)
        else:
            opening = "150 Here comes the directory listing."
            lines = self.listing_lines(verb)
            if verb == "NLST":
                lines = [line.split(None, 8)[-1] for line in lines if not line.startswith("total")]
            payload = "".join(line + "\r\n" for line in lines).encode("latin-1")
        if scenario == "abort-426":
            self.transfer(opening, payload[:self.args.sent], "426 Connection closed; transfer aborted.")
        else:
            self.transfer(opening, payload, "226 Transfer complete.")
        return True

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
            if self.serve_transfer(verb, argument):
                continue
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
        scenario = self.args.scenario
        if verb == "PWD" and scenario == "long-reply-line":
            return '257 "/%s" is the current directory.' % ("x" * LONG_LINE_BYTES)
        if verb in simple:
            return simple[verb]
        if verb in ("EPSV", "EPRT") and scenario in EXTENDED_REFUSED:
            return "500 Unknown command."
        if verb == "FEAT" and scenario == "mlsd":
            return "211-Features:\r\n MLST type*;size*;modify*;\r\n SIZE\r\n211 End"
        if verb == "SIZE":
            if self.args.scenario in ("drop-file", "stall-file", "rest-refused") + TRANSFERRING:
                return "213 %d" % self.args.size
            return "550 No such file."
        if verb == "REST" and self.args.scenario == "rest-refused":
            return "502 Command not implemented."
        if verb == "PASV":
            return self.passive_reply()
        if verb == "PORT":
            return self.port_reply(argument)
        if verb == "EPSV":
            return self.extended_passive_reply()
        if verb == "EPRT":
            return self.extended_port_reply(argument)
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
