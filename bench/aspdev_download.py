#!/usr/bin/python3
"""DownloadFileToClient through aspdev, as a browser gets it: the time to
read the whole response over HTTP, and aspdev's peak resident memory over
its level before the request. aspdev buffers like IIS (4 MB), so the page
holds only what the component has not yet flushed. Appends JSON lines
(item "download-aspdev") to --out.

    aspdev_download.py --loader L --aspdev EXE --ftp-port P --ftp-root DIR --work DIR --mib N --runs R --out FILE
"""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import time

MIB = 1 << 20
PAGE = """<%
Server.ScriptTimeout = 3600
Dim ftp
Set ftp = Server.CreateObject("corvane.FTP")
ftp.URL = "127.0.0.1"
ftp.Port = CLng(Application("FTPPort"))
ftp.Username = "anonymous"
ftp.Password = "bench@"
ftp.Passive = False
ftp.TransferType = 2
ftp.OpenConnection
ftp.DownloadFileToClient Request.QueryString("f")
%>
"""


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def status_kib(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError("no %s for process %d" % (field, pid))


def reset_peak(pid):
    # Linux: 5 brings VmHWM down to the current resident set.
    with open("/proc/%d/clear_refs" % pid, "w") as f:
        f.write("5")


def fetch(port, path, timeout=600):
    """The response's length and the body's first bytes, read as fast as they come."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as connection:
        connection.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % (path, port)).encode("latin-1"))
        buffer = bytearray(MIB)
        total = 0
        head = b""
        while True:
            count = connection.recv_into(buffer)
            if count == 0:
                break
            if len(head) < 4096:
                head += bytes(buffer[:count])[:4096]
            total += count
    return total, head


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("--loader", "--aspdev", "--ftp-root", "--work", "--out"):
        p.add_argument(name, required=True)
    p.add_argument("--ftp-port", type=int, required=True)
    p.add_argument("--mib", type=int, default=1024)
    p.add_argument("--runs", type=int, default=3)
    args = p.parse_args()

    name = "aspdev-%d.bin" % args.mib
    remote = os.path.join(args.ftp_root, name)
    with open(remote, "wb") as f:
        f.truncate(args.mib * MIB)  # sparse: the server sends zeros from no disk
    site = os.path.join(args.work, "aspdev-site")
    shutil.rmtree(site, ignore_errors=True)
    os.makedirs(site)
    with open(os.path.join(site, "download.asp"), "w", newline="\r\n") as f:
        f.write(PAGE)
    port_file = os.path.join(args.work, "aspdev.port")
    if os.path.exists(port_file):
        os.remove(port_file)
    log = open(os.path.join(args.work, "aspdev-bench.log"), "w")
    aspdev = subprocess.Popen([args.loader, args.aspdev, "--root", windows_path(site), "--port", "0",
                               "--port-file", windows_path(port_file), "--app", "FTPPort=%d" % args.ftp_port],
                              stdout=log, stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 60
        while not (os.path.exists(port_file) and os.path.getsize(port_file) > 0):
            if aspdev.poll() is not None or time.monotonic() > deadline:
                raise SystemExit("aspdev did not start (see %s)" % log.name)
            time.sleep(0.1)
        port = int(open(port_file).read().split()[0])
        # The first page loads the script engine and the component.
        fetch(port, "/download.asp?f=/download.bin")
        with open(args.out, "a") as out:
            for _ in range(args.runs):
                reset_peak(aspdev.pid)
                before = status_kib(aspdev.pid, "VmRSS")
                start = time.monotonic()
                total, head = fetch(port, "/download.asp?f=/" + name)
                seconds = time.monotonic() - start
                peak = status_kib(aspdev.pid, "VmHWM") - before
                if not head.startswith(b"HTTP/1.1 200") or total < args.mib * MIB:
                    raise SystemExit("the download failed: %d bytes, %r" % (total, head[:300]))
                out.write(json.dumps({"item": "download-aspdev", "variant": "component", "seconds": seconds,
                                      "bytes": args.mib * MIB, "peak": peak * 1024}) + "\n")
                print("aspdev download %d MiB: %.2f s, peak +%.1f MiB" % (args.mib, seconds, peak / 1024),
                      flush=True)
    finally:
        aspdev.kill()
        aspdev.wait(timeout=30)
        log.close()
        os.remove(remote)
    return 0


if __name__ == "__main__":
    sys.exit(main())
