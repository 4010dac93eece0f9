#!/usr/bin/python3
"""Loopback plain-HTTP forward proxy, for corvane's proxy tests.

Test mode, as tools/http_server.py: listens on 127.0.0.1, writes
"proxy_port control_port" to --port-file and lives exactly as long as the one
control connection the test fixture holds open. Over that connection:

    requests   -> JSON list of the requests received so far
    quit       -> ok, then the proxy exits

A request must name its target in absolute form (http://host:port/path). It
is forwarded only to 127.0.0.1 or localhost; any other host gets a 403 and no
connection is made. With --username and --password, a request without
"Proxy-Authorization: Basic" of exactly those gets a 407 with a
Proxy-Authenticate challenge, and the connection stays open for the client's
next request (its retry with credentials) unless the client asked to close.
A forwarded request goes out in origin form, without Proxy-Authorization, on
a connection of its own; the response comes back byte for byte and the
client's connection ends with it. CONNECT is not supported (501).

Each recorded request: method, path (the target as received), version,
headers, body_length, body (base64) and answered: the status the proxy gave
itself (403, 407, 400, 501, 502), or 0 when it forwarded the request.
"""

import argparse
import base64
import logging
import os
import select
import signal
import socket
import socketserver
import sys
import threading
import urllib.parse

# -I keeps the script's folder off sys.path; the lifetime rules are shared.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_server import (BAD_REQUEST, Control, Handler, Script, Stop,  # noqa: E402
                         plain_response, write_port_file)

LOOPBACK_HOSTS = ("127.0.0.1", "localhost")
RELAY_IDLE_SECONDS = 30
HOP_BY_HOP = ("proxy-authorization", "proxy-connection", "connection", "keep-alive")

log = logging.getLogger("http_proxy")

FORBIDDEN = plain_response("403 Forbidden", "this proxy forwards to 127.0.0.1 only\n")
NOT_IMPLEMENTED = plain_response("501 Not Implemented", "no CONNECT here\n")
BAD_GATEWAY = plain_response("502 Bad Gateway", "the origin server did not answer\n")
# Kept alive, as proxies do: a client may send its retry with credentials on
# the same connection before it could see a close. Wine's WinInet does so
# after draining a 407, whatever the 407 said; a close racing that retry
# resets the connection and fails the request.
PROXY_AUTH_REQUIRED = (b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                       b"Proxy-Authenticate: Basic realm=\"corvane proxy\"\r\n"
                       b"Content-Type: text/plain\r\nContent-Length: 21\r\n\r\n"
                       b"proxy login required\n")
PROXY_AUTH_REQUIRED_CLOSING = PROXY_AUTH_REQUIRED.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n", 1)
# Bounds the requests one connection may carry, so no client holds a thread
# forever by failing to authenticate.
MAX_REQUESTS_PER_CONNECTION = 16


def wants_close(request):
    """True when the client asked for the connection to end after this request."""
    for name, value in request["headers"]:
        if name.lower() in ("connection", "proxy-connection"):
            if "close" in (token.strip().lower() for token in value.split(",")):
                return True
    return request["version"] == "HTTP/1.0"


class ProxyHandler(Handler):
    """Reads requests as the test server does, then refuses or forwards."""

    def handle(self):
        for served in range(1, MAX_REQUESTS_PER_CONNECTION + 1):
            request = self.next_request()
            if request is None:
                return
            request["answered"] = 0
            answer = self.refusal(request)
            if answer is None:
                self.server.script.record(request)
                log.info("%s %s", request["method"], request["path"])
                self.forward(request)
                return
            request["answered"] = int(answer[9:12])
            self.server.script.record(request)
            if answer is not PROXY_AUTH_REQUIRED:
                self.wfile.write(answer)
                return
            if wants_close(request) or served == MAX_REQUESTS_PER_CONNECTION:
                self.wfile.write(PROXY_AUTH_REQUIRED_CLOSING)
                return
            self.wfile.write(answer)
            self.wfile.flush()

    def refusal(self, request):
        """The proxy's own answer, or None to forward."""
        if request["method"] == "CONNECT":
            return NOT_IMPLEMENTED
        target = urllib.parse.urlsplit(request["path"])
        if target.scheme != "http" or not target.hostname:
            return BAD_REQUEST
        if target.hostname not in LOOPBACK_HOSTS:
            return FORBIDDEN
        expected = self.server.credentials
        if expected is not None:
            given = next((v for n, v in request["headers"] if n.lower() == "proxy-authorization"), None)
            if given != "Basic " + expected:
                return PROXY_AUTH_REQUIRED
        return None

    def forward(self, request):
        target = urllib.parse.urlsplit(request["path"])
        try:
            port = target.port or 80
        except ValueError:
            self.wfile.write(BAD_REQUEST)
            return
        origin_form = (target.path or "/") + ("?" + target.query if target.query else "")
        head = "%s %s %s\r\n" % (request["method"], origin_form, request["version"])
        for name, value in request["headers"]:
            if name.lower() not in HOP_BY_HOP:
                head += "%s: %s\r\n" % (name, value)
        head += "Connection: close\r\n\r\n"
        try:
            upstream = socket.create_connection(("127.0.0.1", port), timeout=RELAY_IDLE_SECONDS)
        except OSError:
            self.wfile.write(BAD_GATEWAY)
            return
        with upstream:
            upstream.sendall(head.encode("latin-1") + base64.b64decode(request["body"]))
            self.relay(upstream)

    def relay(self, upstream):
        # The origin closes after its response; so do we, bounded by silence.
        while select.select([upstream], [], [], RELAY_IDLE_SECONDS)[0]:
            try:
                data = upstream.recv(65536)
            except OSError:
                return
            if not data:
                return
            self.wfile.write(data)


class ProxyServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    block_on_close = False

    def __init__(self, port, script, credentials):
        super().__init__(("127.0.0.1", port), ProxyHandler)
        self.script = script
        self.tls_context = None
        self.credentials = credentials

    def handle_error(self, request, client_address):
        log.debug("connection from %s ended with an error", client_address, exc_info=True)


def run_command(line, script):
    """Returns (reply, keep_running)."""
    if line == "requests":
        return script.requests_json(), True
    if line == "quit":
        return "ok", False
    return "error unknown command", True


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--port-file", required=True, help='write "proxy_port control_port" here once listening')
    p.add_argument("--max-seconds", type=float, default=900.0)
    p.add_argument("--username", help="require Basic proxy credentials (with --password)")
    p.add_argument("--password")
    p.add_argument("--verbose", action="store_true")
    args = p.parse_args()
    if (args.username is None) != (args.password is None):
        p.error("--username and --password go together")
    logging.basicConfig(level=logging.DEBUG if args.verbose else logging.WARNING,
                        format="[http_proxy] %(message)s")
    credentials = None
    if args.username is not None:
        credentials = base64.b64encode(("%s:%s" % (args.username, args.password)).encode("utf-8")).decode("ascii")

    control = Control(False, args.max_seconds)
    signal.signal(signal.SIGINT, lambda *_: control.stopping.set())
    signal.signal(signal.SIGTERM, lambda *_: control.stopping.set())

    script = Script()
    server = ProxyServer(args.port, script, credentials)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
    thread.start()
    try:
        write_port_file(args.port_file, "%d %d" % (server.server_address[1], control.port))
        control.serve(script, run_command)
    except Stop as stop:
        log.info("stopping: %s", stop)
    finally:
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
