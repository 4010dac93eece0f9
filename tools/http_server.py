#!/usr/bin/python3
"""Loopback HTTP/1.1 server with scripted raw responses, for corvane's tests.

Test mode: listens on 127.0.0.1, writes "http_port control_port" to
--port-file and lives exactly as long as the one control connection the
test fixture holds open. Over that connection, one reply line per command:

    route <target> <base64 raw response>   -> ok
    route_file <target> <unix file path>   -> ok
    route_silent <target> [<seconds>]      -> ok
    route_stall <target> <seconds> <base64 bytes>  -> ok
    route_auth <target> <base64 user:pass> <base64 raw response>  -> ok
    requests                               -> JSON list of requests so far
    quit                                   -> ok, then the server exits

A routed target (path and query exactly as the client sent them) is answered
with the raw bytes verbatim and the connection is closed, so tests control
every byte: status line, repeated headers, chunking, truncation. A silent
target is not answered while the client waits, as a server that accepts and
hangs would; a client still waiting after SILENT_SECONDS gets LATE_ANSWER,
so that a client without a timeout is seen to have waited that long
(SILENT_SECONDS, or the seconds given). A stalled target gets the bytes given
(typically a head announcing more body than follows), then nothing while the
client waits, and the connection is closed after the seconds given. An
authenticated target gets its raw response only when the request's
Authorization is Basic with exactly the credentials given, else a 401 with a
WWW-Authenticate challenge.

Each recorded request holds its body as base64 ("body") and its length.

Demo mode (--foreground): no control port; stops on SIGINT/SIGTERM.

With --tls-cert and --tls-key the HTTP listener serves HTTPS; the control
connection stays plain. A plain HTTP request there is neither routed nor
recorded: it gets a 400 whose body reads "plain HTTP sent to the TLS port".
"""

import argparse
import base64
import binascii
import json
import logging
import os
import select
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time

CONTROL_ACCEPT_SECONDS = 30
MAX_LINE = 65536
MAX_HEADERS = 200
FILE_CHUNK = 256 * 1024
SILENT_SECONDS = 100
LATE_ANSWER = (b"HTTP/1.1 200 OK\r\nContent-Length: 8\r\nConnection: close\r\n\r\n"
               b"too late")

log = logging.getLogger("http_server")


def plain_response(status, body, content_type="text/plain; charset=utf-8"):
    body = body.encode("utf-8")
    head = "HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % (
        status, content_type, len(body))
    return head.encode("ascii") + body


DEMO_PAGE = plain_response(
    "200 OK",
    "<!DOCTYPE html>\n<html><head><title>corvane test server</title></head>\n"
    "<body><h1>corvane test server</h1><p>Hello from 127.0.0.1.</p></body></html>\n",
    "text/html; charset=utf-8")
NOT_FOUND = plain_response("404 Not Found", "not found\n")
UNAUTHORIZED = (b"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"corvane tests\"\r\n"
                b"Content-Type: text/plain\r\nContent-Length: 13\r\nConnection: close\r\n\r\n"
                b"unauthorized\n")
BAD_REQUEST = plain_response("400 Bad Request", "bad request\n")
PLAIN_ON_TLS_PORT = plain_response("400 Bad Request", "plain HTTP sent to the TLS port\n")


class Script:
    """Routes and the request log, shared by handler threads and the control loop."""

    def __init__(self):
        self.lock = threading.Lock()
        self.routes = {"/": ("bytes", DEMO_PAGE)}
        self.requests = []

    def set_route(self, target, kind, value):
        with self.lock:
            self.routes[target] = (kind, value)

    def lookup(self, target):
        with self.lock:
            return self.routes.get(target)

    def record(self, entry):
        with self.lock:
            self.requests.append(entry)

    def requests_json(self):
        with self.lock:
            return json.dumps(self.requests, separators=(",", ":"))


class Handler(socketserver.StreamRequestHandler):
    timeout = 60  # a client that stalls mid-request must not pin a thread forever
    plain_on_tls_port = False

    def setup(self):
        context = self.server.tls_context
        if context is not None:
            # Handshake here, in the connection's thread, so that a client
            # that stalls in it cannot hold up accepting others.
            self.request.settimeout(self.timeout)
            # Plain HTTP is refused with a reply, not a reset: Wine may see a
            # reset as a clean close, which its HTTP client takes for an
            # empty response rather than a failure.
            if self.request.recv(1, socket.MSG_PEEK) == b"\x16":  # TLS handshake record
                self.request = context.wrap_socket(self.request, server_side=True)
            else:
                self.plain_on_tls_port = True
        super().setup()

    def finish(self):
        super().finish()
        if isinstance(self.request, ssl.SSLSocket):
            # The server closes only the plain socket the TLS one replaced.
            # Send close_notify without waiting for the client's.
            try:
                self.request.setblocking(False)
                self.request.unwrap()
            except (OSError, ValueError):
                pass
            self.request.close()

    def read_line(self):
        line = self.rfile.readline(MAX_LINE + 1)
        if len(line) > MAX_LINE:
            raise ValueError("line too long")
        return line

    def read_request(self):
        request_line = self.read_line()
        if not request_line:
            return None
        parts = request_line.decode("latin-1").rstrip("\r\n").split(" ")
        if len(parts) != 3:
            raise ValueError("malformed request line")
        method, target, version = parts
        headers = []
        while True:
            line = self.read_line().decode("latin-1").rstrip("\r\n")
            if not line:
                break
            if len(headers) >= MAX_HEADERS or ":" not in line:
                raise ValueError("bad header")
            name, value = line.split(":", 1)
            headers.append([name, value.strip()])
        # Unread request bytes would turn our close into a reset that can
        # destroy the response before the client reads it.
        length = next((v for n, v in headers if n.lower() == "content-length"), "0")
        body = self.rfile.read(int(length)) if length.isdigit() else b""
        return {"method": method, "path": target, "version": version,
                "headers": headers, "body_length": len(body),
                "body": base64.b64encode(body).decode("ascii")}

    def next_request(self):
        """The next request, or None when the client sent none or a malformed one (answered 400)."""
        try:
            return self.read_request()
        except (ValueError, UnicodeError):
            self.wfile.write(BAD_REQUEST)
            return None

    def handle(self):
        script = self.server.script
        request = self.next_request()
        if request is None:
            return
        if self.plain_on_tls_port:
            self.wfile.write(PLAIN_ON_TLS_PORT)
            return
        script.record(request)
        log.info("%s %s", request["method"], request["path"])
        route = script.lookup(request["path"])
        if route is None:
            self.wfile.write(NOT_FOUND)
        elif route[0] == "bytes":
            self.wfile.write(route[1])
        elif route[0] == "silent":
            if self.hold_silently(route[1]):
                self.wfile.write(LATE_ANSWER)
        elif route[0] == "stall":
            seconds, sent = route[1]
            self.wfile.write(sent)
            self.wfile.flush()
            self.hold_silently(seconds)
        elif route[0] == "auth":
            expected, raw = route[1]
            given = next((v for n, v in request["headers"] if n.lower() == "authorization"), None)
            self.wfile.write(raw if given == "Basic " + expected else UNAUTHORIZED)
        else:
            with open(route[1], "rb") as f:
                while chunk := f.read(FILE_CHUNK):
                    self.wfile.write(chunk)

    def hold_silently(self, seconds):
        """True when the client was still waiting after `seconds`."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if select.select([self.request], [], [], 0.2)[0]:
                try:
                    if not self.request.recv(4096):
                        return False  # the client gave up
                except OSError:
                    return False
        return True


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    block_on_close = False

    def __init__(self, port, script, tls_context=None):
        super().__init__(("127.0.0.1", port), Handler)
        self.script = script
        self.tls_context = tls_context

    def handle_error(self, request, client_address):
        # Tests abort transfers on purpose; a traceback there is noise.
        log.debug("connection from %s ended with an error", client_address, exc_info=True)


def decode_base64(text):
    try:
        return base64.b64decode(text, validate=True)
    except binascii.Error:
        return None


def parse_seconds(text):
    # Bounded, so that no route can hold a connection past the test's patience.
    try:
        seconds = float(text)
    except ValueError:
        return None
    return seconds if 0 < seconds <= SILENT_SECONDS else None


def run_command(line, script):
    """Returns (reply, keep_running)."""
    parts = line.split(" ", 2)
    cmd = parts[0]
    if cmd == "route" and len(parts) == 3:
        try:
            raw = base64.b64decode(parts[2], validate=True)
        except binascii.Error:
            return "error bad base64", True
        script.set_route(parts[1], "bytes", raw)
        return "ok", True
    if cmd == "route_file" and len(parts) == 3:
        if not os.path.isfile(parts[2]):
            return "error no such file", True
        script.set_route(parts[1], "file", parts[2])
        return "ok", True
    if cmd == "route_silent" and len(parts) in (2, 3):
        seconds = SILENT_SECONDS
        if len(parts) == 3:
            seconds = parse_seconds(parts[2])
            if seconds is None:
                return "error bad seconds", True
        script.set_route(parts[1], "silent", seconds)
        return "ok", True
    if cmd == "route_stall":
        parts = line.split(" ", 3)
        seconds = parse_seconds(parts[2]) if len(parts) == 4 else None
        raw = decode_base64(parts[3]) if seconds is not None else None
        if raw is None:
            return "error bad route_stall", True
        script.set_route(parts[1], "stall", (seconds, raw))
        return "ok", True
    if cmd == "route_auth":
        parts = line.split(" ", 3)
        credentials = decode_base64(parts[2]) if len(parts) == 4 else None
        raw = decode_base64(parts[3]) if credentials is not None else None
        if raw is None:
            return "error bad route_auth", True
        # Re-encoded, so that the comparison with the header sent is exact.
        script.set_route(parts[1], "auth", (base64.b64encode(credentials).decode("ascii"), raw))
        return "ok", True
    if cmd == "requests" and len(parts) == 1:
        return script.requests_json(), True
    if cmd == "quit" and len(parts) == 1:
        return "ok", False
    return "error unknown command", True


class Stop(Exception):
    pass


class Control:
    """The fixture's connection: commands in, and our lifetime bound to it."""

    def __init__(self, foreground, max_seconds):
        self.deadline = time.monotonic() + max_seconds
        self.accept_by = time.monotonic() + CONTROL_ACCEPT_SECONDS
        self.stopping = threading.Event()
        self.listener = None if foreground else socket.create_server(("127.0.0.1", 0))
        self.conn = None

    @property
    def port(self):
        return self.listener.getsockname()[1] if self.listener else 0

    def wait_readable(self, sock):
        """Waits for sock; with no sock (demo mode) just for a signal or the cap."""
        while True:
            if sock is None:
                self.stopping.wait(0.2)
            elif select.select([sock], [], [], 0.2)[0]:
                return
            now = time.monotonic()
            if self.stopping.is_set():
                raise Stop("signal")
            if now > self.deadline:
                raise Stop("lifetime cap reached")
            if sock is not None and sock is self.listener and now > self.accept_by:
                raise Stop("no control connection")

    def serve(self, script, run=run_command):
        self.wait_readable(self.listener)
        self.conn, _ = self.listener.accept()
        self.listener.close()
        pending = b""
        while True:
            while b"\n" not in pending:
                self.wait_readable(self.conn)
                try:
                    data = self.conn.recv(65536)
                except OSError:
                    data = b""
                if not data:
                    raise Stop("control connection closed")
                pending += data
            line, pending = pending.split(b"\n", 1)
            reply, keep_running = run(line.decode("utf-8").strip(), script)
            self.conn.sendall(reply.encode("utf-8") + b"\n")
            if not keep_running:
                raise Stop("quit")

    def close(self):
        for s in (self.listener, self.conn):
            if s is not None:
                s.close()


def write_port_file(path, line):
    # The fixture polls for this file, so it must never see it half written.
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(line + "\n")
    os.replace(tmp, path)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--port-file", help='write "http_port control_port" here once listening')
    p.add_argument("--max-seconds", type=float, default=900.0)
    p.add_argument("--foreground", action="store_true", help="demo mode: no control port")
    p.add_argument("--tls-cert", help="PEM certificate (chain): serve HTTPS instead of HTTP")
    p.add_argument("--tls-key", help="PEM private key of --tls-cert")
    p.add_argument("--verbose", action="store_true")
    args = p.parse_args()
    if bool(args.tls_cert) != bool(args.tls_key):
        p.error("--tls-cert and --tls-key go together")
    logging.basicConfig(level=logging.DEBUG if args.verbose else logging.WARNING,
                        format="[http_server] %(message)s")

    control = Control(args.foreground, args.max_seconds)
    signal.signal(signal.SIGINT, lambda *_: control.stopping.set())
    signal.signal(signal.SIGTERM, lambda *_: control.stopping.set())

    tls_context = None
    if args.tls_cert:
        tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls_context.load_cert_chain(args.tls_cert, args.tls_key)

    script = Script()
    server = Server(args.port, script, tls_context)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                              daemon=True)
    thread.start()
    try:
        if args.port_file:
            write_port_file(args.port_file, "%d %d" % (server.server_address[1], control.port))
        if args.foreground:
            scheme = "https" if tls_context else "http"
            print("%s on %s://127.0.0.1:%d/" % (scheme.upper(), scheme, server.server_address[1]), flush=True)
        control.serve(script)
    except Stop as stop:
        log.info("stopping: %s", stop)
    finally:
        if args.port_file:
            try:
                os.remove(args.port_file)
            except OSError:
                pass
        server.shutdown()
        server.server_close()
        # Last, because the fixture takes EOF here to mean this process is done.
        control.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
