#!/usr/bin/python3
"""Lays out the served copy of the bundled FTP tree (samples/ftp-content).

The tree is copied into a new folder and its data set of 12 MiB (past IIS's
4 MB response buffer, which a download to the browser must not fill) is
added there: the data set is never committed, and its bytes are the same on
every run, so that a test can compare a download with them. Prints the data
set's path inside the tree and its SHA-256.
"""

import argparse
import hashlib
import os
import shutil
import sys

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "samples", "ftp-content")
DATA_SET = "pub/releases/sample-data.bin"
DATA_SET_MIB = 12
SEED = b"corvane sample data set"


def data_set_bytes(size):
    """SHA-256 in counter mode: deterministic, and no run of it compresses."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(SEED + counter.to_bytes(8, "big")).digest()
        counter += 1
    return bytes(out[:size])


def lay_out(dest, mib=DATA_SET_MIB):
    """Copies the tree to dest, which must not exist yet or be empty."""
    if os.path.lexists(dest) and (not os.path.isdir(dest) or os.listdir(dest)):
        raise SystemExit("lay_out_ftp_tree: %s exists and is not an empty folder" % dest)
    shutil.copytree(os.path.normpath(SOURCE), dest, dirs_exist_ok=True)
    data = data_set_bytes(mib * 1024 * 1024)
    with open(os.path.join(dest, DATA_SET), "wb") as f:
        f.write(data)
    return DATA_SET, hashlib.sha256(data).hexdigest()


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("dest", help="the folder to create (absent or empty)")
    p.add_argument("--mib", type=int, default=DATA_SET_MIB, help="size of the data set in MiB")
    args = p.parse_args()
    if not 1 <= args.mib <= 64:
        p.error("--mib must be between 1 and 64")
    path, digest = lay_out(args.dest, args.mib)
    print("%s sha256 %s" % (path, digest))
    return 0


if __name__ == "__main__":
    sys.exit(main())
