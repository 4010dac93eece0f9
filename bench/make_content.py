#!/usr/bin/python3
"""Lays out what ./run bench serves and uploads.

FTP root: list<N>/ for each --listings count (one in ten a folder),
big.bin, big<N>.bin (--native-big-mib, for the own FTP engine),
download.bin, tree/ (folders of small files) and up/, where uploads go.
HTTP root: body1.txt, body16.txt, body64.txt (ASCII text) and save<N>.bin
(binary, for SaveToFile).
Work folder: big.bin, big<N>.bin and tree/, the sources of the uploads.
"""

import argparse
import os
import random
import shutil

MIB = 1 << 20


def write_pattern(path, size, block):
    with open(path, "wb") as f:
        left = size
        while left > 0:
            piece = block[: min(left, len(block))]
            f.write(piece)
            left -= len(piece)


def listing(root, entries):
    folder = os.path.join(root, "list%d" % entries)
    os.makedirs(folder)
    for index in range(entries):
        name = os.path.join(folder, "entry%05d%s" % (index, "" if index % 10 == 0 else ".txt"))
        if index % 10 == 0:
            os.mkdir(name)
        else:
            with open(name, "wb") as f:
                f.write(b"x" * (index % 1000))


def tree(root, folders, files, size):
    os.makedirs(root)
    payload = bytes(random.Random(7).getrandbits(8) for _ in range(size))
    per_folder = files // folders
    for folder in range(folders):
        path = os.path.join(root, "folder%02d" % folder)
        os.mkdir(path)
        for index in range(per_folder):
            with open(os.path.join(path, "file%03d.bin" % index), "wb") as f:
                f.write(payload)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--ftp-root", required=True)
    p.add_argument("--http-root", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--big-mib", type=int, default=256)
    p.add_argument("--native-big-mib", type=int, default=256)
    p.add_argument("--download-mib", type=int, default=64)
    p.add_argument("--save-mib", type=int, default=1024)
    p.add_argument("--listings", default="1000,10000", help="entry counts, comma separated")
    p.add_argument("--tree-files", type=int, default=500)
    p.add_argument("--tree-folders", type=int, default=20)
    p.add_argument("--tree-file-bytes", type=int, default=4096)
    args = p.parse_args()

    for path in (args.ftp_root, args.http_root, args.work):
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)

    binary = random.Random(1).randbytes(MIB)
    write_pattern(os.path.join(args.ftp_root, "big.bin"), args.big_mib * MIB, binary)
    write_pattern(os.path.join(args.work, "big.bin"), args.big_mib * MIB, binary)
    native_big = "big%d.bin" % args.native_big_mib
    write_pattern(os.path.join(args.ftp_root, native_big), args.native_big_mib * MIB, binary)
    write_pattern(os.path.join(args.work, native_big), args.native_big_mib * MIB, binary)
    write_pattern(os.path.join(args.ftp_root, "download.bin"), args.download_mib * MIB, binary)
    for entries in sorted({int(n) for n in args.listings.split(",")}):
        listing(args.ftp_root, entries)
    tree(os.path.join(args.ftp_root, "tree"), args.tree_folders, args.tree_files, args.tree_file_bytes)
    tree(os.path.join(args.work, "tree"), args.tree_folders, args.tree_files, args.tree_file_bytes)
    os.makedirs(os.path.join(args.ftp_root, "up"))

    line = b"".join(b"%07d corvane body line of plain ASCII text, 64 bytes long.....\r\n" % n for n in range(1024))
    for mib in (1, 16, 64):
        write_pattern(os.path.join(args.http_root, "body%d.txt" % mib), mib * MIB, line)
    write_pattern(os.path.join(args.http_root, "save%d.bin" % args.save_mib), args.save_mib * MIB, binary)


if __name__ == "__main__":
    main()
