#!/usr/bin/python3
"""TLS echo for one connection on 127.0.0.1: PORT CERT KEY READY RESULT.

Echoes until the client's close_notify and answers it with its own. Writes
READY once listening, and RESULT with how the client ended ("close_notify",
"cut" for a TCP end without one, or the error) and the TLS version. Exits
after two minutes whatever happens. Debian's /usr/bin/python3.
"""

import os
import signal
import socket
import ssl
import sys


def write_atomically(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text + "\n")
    os.replace(path + ".tmp", path)


def main(port, cert, key, ready, result):
    signal.alarm(120)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    with socket.create_server(("127.0.0.1", int(port))) as listener:
        write_atomically(ready, "listening")
        connection, _ = listener.accept()
    # A TCP end without close_notify must show, not pass for one.
    with context.wrap_socket(connection, server_side=True, suppress_ragged_eofs=False) as channel:
        try:
            while data := channel.recv(65536):
                channel.sendall(data)
            verdict = "close_notify"
        except ssl.SSLEOFError:
            verdict = "cut"
        except (OSError, ssl.SSLError) as error:
            verdict = "error %r" % error
        write_atomically(result, "%s %s" % (verdict, channel.version()))
        if verdict == "close_notify":
            channel.unwrap()


if __name__ == "__main__":
    main(*sys.argv[1:])
