#!/usr/bin/python3
"""Times native curl on the bench's work, against the same loopback servers.

curl shows what the servers and the loopback give without Wine: where it
is far faster than both the component and raw WinInet, the platform, not
the server, sets the pace. One JSON line per run, as platform_bench writes.
"""

import argparse
import json
import os
import subprocess


def curl(arguments):
    output = subprocess.run(["curl", "--silent", "--show-error", "--fail", "--write-out", "%{time_total}"] + arguments,
                            check=True, capture_output=True, text=True).stdout
    return float(output.strip().splitlines()[-1])


# Each transfer's time, in order; `sections` are curl's arguments between
# its --next separators, each with options of its own.
def curl_transfers(sections):
    command = ["curl"]
    for index, section in enumerate(sections):
        command += (["--next"] if index else []) + ["--silent", "--show-error", "--fail",
                                                    "--write-out", "%{time_total}\n"] + section
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return [float(line) for line in output.split()]


# The component's own engine is timed on a connection it already holds (the
# rounds aside): curl first lists the root, then does the work on the same
# connection, and only that transfer's time counts.
def curl_on_open_connection(mode, ftp, arguments, first=()):
    return curl_transfers([mode + list(first) + ["-o", os.devnull, ftp + "/"], mode + arguments])[-1]


# The component deletes its file before each timed download: truncating
# the last run's in the timed one would charge curl with freeing it.
def fresh_get(path, measure):
    if os.path.exists(path):
        os.remove(path)
    seconds = measure()
    # At once: left behind, the system's writing it out would slow the runs
    # that follow.
    os.remove(path)
    return seconds


# A curl process per round: its command line has no way to keep it from
# reusing its connection, and a round needs a connection of its own. Only
# the rounds' own times (time_total) are summed, not the processes' start.
def curl_rounds(mode, url, rounds):
    return sum(curl(mode + ["-o", os.devnull, url]) for _ in range(rounds))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--ftp-port", type=int, required=True)
    p.add_argument("--http-port", type=int, required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--lists", default="1000,10000")
    p.add_argument("--text-entries", type=int, default=1000)
    p.add_argument("--page-entries", type=int, default=1000)
    p.add_argument("--save-mib", type=int, default=1024)
    p.add_argument("--native-lists", default="1000,10000")
    p.add_argument("--native-big-mib", type=int, default=256)
    p.add_argument("--native-rounds", type=int, default=300)
    p.add_argument("--ftps-port", type=int, help="the same files over explicit TLS, for the own engine's FTPS items")
    p.add_argument("--native-tls-list", type=int, default=1000)
    p.add_argument("--native", metavar="ITEM",
                   help="only this item of the own engine's, appended to --out (the bench alternates it with the "
                   "component's)")
    p.add_argument("--passive", action="store_true")
    p.add_argument("--out", required=True)
    args = p.parse_args()

    ftp = "ftp://127.0.0.1:%d" % args.ftp_port
    http = "http://127.0.0.1:%d" % args.http_port
    # The same data connection mode as the Windows side.
    mode = [] if args.passive else ["--ftp-port", "127.0.0.1"]
    got = os.path.join(args.work, "get-curl.bin")
    saved = os.path.join(args.work, "save-curl.bin")
    items = []
    for mib in (1, 16, 64):
        items.append(("http-%d" % mib, ["-o", os.devnull, "%s/body%d.txt" % (http, mib)]))
    items.append(("save-%d" % args.save_mib, ["-o", saved, "%s/save%d.bin" % (http, args.save_mib)]))
    listed = {int(n) for n in args.lists.split(",")}
    for entries in sorted(listed):
        items.append(("list-%d" % entries, mode + ["-o", os.devnull, "%s/list%d/" % (ftp, entries)]))
    items.append(("text-%d" % args.text_entries, mode + ["-o", os.devnull, "%s/list%d/" % (ftp, args.text_entries)]))
    items.append(("printclient-%d" % args.page_entries,
                  mode + ["-o", os.devnull, "%s/list%d/" % (ftp, args.page_entries)]))
    items.append(("getfile", mode + ["-o", got, "%s/big.bin" % ftp]))
    items.append(("putfile", mode + ["-T", os.path.join(args.work, "big.bin"), "%s/up/curl.bin" % ftp]))
    items.append(("download", mode + ["-o", os.devnull, "%s/download.bin" % ftp]))

    measures = [(item, lambda arguments=arguments: curl(arguments)) for item, arguments in items]

    native_got = os.path.join(args.work, "get-native-curl.bin")
    big = "big%d.bin" % args.native_big_mib

    # The own engine's work, on `url` with curl's `options`; names begin with
    # `prefix`.
    def own_engine_items(prefix, url, options, lists):
        items = []
        for entries in lists:
            items.append(("%slist-%d" % (prefix, entries), lambda entries=entries: curl_on_open_connection(
                options, url, ["-o", os.devnull, "%s/list%d/" % (url, entries)])))
        items.append((prefix + "getfile", lambda: fresh_get(native_got, lambda: curl_on_open_connection(
            options, url, ["-o", native_got, "%s/%s" % (url, big)]))))
        # The last run's file is deleted first, untimed, as the component's
        # bench does: replacing it would charge the run with the server's
        # freeing and flushing of it. PutFile changes back to the directory it
        # started in, so curl is asked to do the same.
        uploaded = "curl-%s%s" % (prefix[len("native-"):], big)

        def put():
            seconds = curl_on_open_connection(
                options, url, ["-Q", "-CWD /", "-T", os.path.join(args.work, big), "%s/up/%s" % (url, uploaded)],
                first=["-Q", "*DELE up/%s" % uploaded])
            # Deleted at once too, as the downloads are.
            curl(options + ["-Q", "*DELE up/%s" % uploaded, "-o", os.devnull, url + "/"])
            return seconds
        items.append((prefix + "putfile", put))
        return items

    native = own_engine_items("native-", ftp, mode, sorted({int(n) for n in args.native_lists.split(",")}))
    native.append(("native-rounds-%d" % args.native_rounds,
                     lambda: curl_rounds(mode, ftp + "/", args.native_rounds)))
    if args.ftps_port:
        # Explicit TLS on both connections; -k as the component's
        # IgnoreCertificateErrors: the rows time transfers. Passive, since
        # this curl (7.88) never reads an active data connection over TLS.
        native += own_engine_items("native-tls-", "ftp://127.0.0.1:%d" % args.ftps_port,
                                   ["--ssl-reqd", "-k"], [args.native_tls_list])

    if args.native:
        measures = [(item, measure) for item, measure in native if item == args.native]
        if not measures:
            p.error("no item %s" % args.native)
    with open(args.out, "a" if args.native else "w") as out:
        for item, measure in measures:
            for run in range(1, args.runs + 1):
                seconds = measure()
                out.write(json.dumps({"item": item, "variant": "curl", "run": run, "seconds": seconds}) + "\n")
    for path in (got, saved, native_got):
        if os.path.exists(path):
            os.remove(path)


if __name__ == "__main__":
    main()
