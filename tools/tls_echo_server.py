#!/usr/bin/python3
"""A TLS echo server for one connection on 127.0.0.1, for the TLS stream's test.

Echoes every byte it reads until the client's close_notify, answers it with
its own, and writes to RESULT (then renames it into place) one line: the
way the client ended ("close_notify", "cut" for a TCP end without one, or
the error) and the TLS version negotiated. Writes READY once listening.
Exits after --lifetime seconds whatever happens.

Run with Debian's /usr/bin/python3.
"""

import argparse
import os
import signal
import socket
import ssl
import sys


def write_atomically(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text + "\n")
    os.replace(path + ".tmp", path)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--ready", required=True)
    p.add_argument("--result", required=True)
    p.add_argument("--lifetime", type=int, default=120)
    args = p.parse_args()
    signal.alarm(args.lifetime)

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(args.cert, args.key)
    with socket.create_server(("127.0.0.1", args.port)) as listener:
        write_atomically(args.ready, "listening")
        connection, _ = listener.accept()
    with connection:
        channel = None
        try:
            # A TCP end without close_notify must show, not pass for one.
            channel = context.wrap_socket(connection, server_side=True, suppress_ragged_eofs=False)
            while True:
                data = channel.recv(65536)
                if not data:
                    verdict = "close_notify"
                    break
                channel.sendall(data)
        except ssl.SSLEOFError:
            verdict = "cut"
        except (OSError, ssl.SSLError) as error:
            verdict = "error %r" % error
        version = channel.version() if channel else None
        write_atomically(args.result, "%s %s" % (verdict, version))
        if verdict == "close_notify":
            channel.unwrap()
    return 0


if __name__ == "__main__":
    sys.exit(main())
