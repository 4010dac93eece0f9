#!/usr/bin/python3
"""Turns the JSON lines of ./run bench into bench/results.md and the HTTP
scaling plot (gnuplot).

Each figure is the median of the runs with their minimum and maximum. A
ratio divides the component's median by its baseline's median, except for
DownloadFileToClient, where it compares throughputs (raw time over the
component's), and for peak working sets, which are multiples of the body.
The own engine's rows (Engine = 2) divide by curl's, or compare its time per
entry with the platform engine's.
"""

import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess

MIB = 1 << 20
HTTP_SIZES = (1, 16, 64)


def load(path):
    samples = {}
    if not os.path.exists(path):
        return samples
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line:
                sample = json.loads(line)
                samples.setdefault((sample["item"], sample["variant"]), []).append(sample)
    return samples


def spread(values):
    return statistics.median(values), min(values), max(values)


def seconds_text(value):
    return "%.1f ms" % (value * 1000) if value < 1 else "%.2f s" % value


def time_cell(samples):
    if not samples:
        return "not run"
    median, low, high = spread([s["seconds"] for s in samples])
    return "%s (%s–%s)" % (seconds_text(median), seconds_text(low), seconds_text(high))


def peak_cell(samples, key, body):
    if not samples:
        return "not run"
    median, low, high = spread([s[key] / MIB for s in samples])
    text = "%.1f MiB (%.1f–%.1f)" % (median, low, high)
    if body:
        text += ", %.2f× body" % (median * MIB / body)
    return text


def median_of(samples, key="seconds"):
    return statistics.median([s[key] for s in samples]) if samples else None


def per_entry_cell(samples, entries):
    if not samples:
        return "not run"
    median, low, high = spread([s["seconds"] / entries for s in samples])
    if median < 1e-3:
        return "%.1f µs per entry (%.1f–%.1f)" % (median * 1e6, low * 1e6, high * 1e6)
    return "%.2f ms per entry (%.2f–%.2f)" % (median * 1e3, low * 1e3, high * 1e3)


PLATFORM_HEADER = ("work", "component", "raw", "curl")
NATIVE_HEADER = ("work", "Engine = 2", "WinInet engine", "curl")


class Table:
    def __init__(self, data, curl, header=PLATFORM_HEADER):
        self.data = data
        self.curl = curl
        self.header = header
        self.rows = []

    def time(self, item, title, component="component", baseline="raw", target=None, curl=True):
        mine = self.data.get((item, component), [])
        base = self.data.get((item, baseline), [])
        curl_samples = self.curl.get((item, "curl"), []) if curl else []
        ratio = None
        if mine and base:
            ratio = median_of(mine) / median_of(base)
        self.add(title, time_cell(mine), time_cell(base), time_cell(curl_samples) if curl else "—", ratio,
                 target, "≤ %.2f×" % target if target else "—", lambda r: r <= target,
                 overlap=bool(mine and base) and min(s["seconds"] for s in mine) <= max(s["seconds"] for s in base))

    def throughput(self, item, title, size, target, baseline="raw"):
        mine = self.data.get((item, "component"), [])
        base = self.data.get((item, baseline), []) if baseline else []
        curl_samples = self.curl.get((item, "curl"), [])

        def cell(samples):
            if not samples:
                return "not run"
            return "%s, %.0f MB/s" % (time_cell(samples), size / median_of(samples) / 1e6)

        ratio = median_of(base) / median_of(mine) if mine and base else None
        self.add(title, cell(mine), cell(base) if baseline else "—", cell(curl_samples) if curl_samples else "—",
                 ratio, target,
                 "≥ %.2f× raw throughput" % target if target else "—", lambda r: r >= target)

    def memory(self, item, title, body, key="peak", baseline="raw-string", limit=None, flat=None):
        mine = self.data.get((item, "component"), [])
        base = self.data.get((item, baseline), []) if baseline else []
        ratio = median_of(mine, key) / body if mine else None
        # The platform keeps buffers of its own while it reads (the plain read
        # loop peaks at its body plus those): a limit in bodies counts the rest.
        plain = self.data.get((item, "raw"), [])
        own = max(0.0, median_of(plain, "peak") - body) if plain and limit is not None else 0.0
        if limit is not None and own:
            target_text = "≤ %g× body + the platform's own %.1f MiB" % (limit, own / MIB)
            check = lambda r: r <= limit + own / body
        elif limit is not None:
            target_text, check = "≤ %g× body" % limit, (lambda r: r <= limit)
        elif flat is not None:
            target_text, check = "flat: ≤ %g MiB" % (flat * body / MIB), (lambda r: r <= flat)
        else:
            target_text, check = "—", None
        self.add(title, peak_cell(mine, key, body), peak_cell(base, "peak", body) if baseline else "—", "—", ratio,
                 limit if limit is not None else flat, target_text, check, ratio_text="%.2f× body")

    # The own engine against curl on the same work, whose runs alternated
    # with its own and are kept with them: times, or throughputs where
    # `size` is given.
    def against_curl(self, item, title, target, size=None):
        mine = self.data.get((item, "native"), [])
        curl_samples = self.data.get((item, "curl"), [])
        overlap = bool(mine and curl_samples) and \
            min(s["seconds"] for s in mine) <= max(s["seconds"] for s in curl_samples)
        if size:
            def cell(samples):
                if not samples:
                    return "not run"
                return "%s, %.0f MB/s" % (time_cell(samples), size / median_of(samples) / 1e6)

            ratio = median_of(curl_samples) / median_of(mine) if mine and curl_samples else None
            self.add(title, cell(mine), "—", cell(curl_samples), ratio, target,
                     "≥ %.2f× curl's throughput" % target, lambda r: r >= target, overlap=overlap)
            return
        ratio = median_of(mine) / median_of(curl_samples) if mine and curl_samples else None
        self.add(title, time_cell(mine), "—", time_cell(curl_samples), ratio, target, "≤ %.2f× curl" % target,
                 lambda r: r <= target, overlap=overlap)

    # The own engine's listing against the platform engine's, per entry: the
    # platform's is too slow to be given the same sizes.
    def per_entry(self, item, entries, platform_item, platform_entries, title, target):
        mine = self.data.get((item, "native"), [])
        platform_samples = self.data.get((platform_item, "component"), [])
        ratio = None
        if mine and platform_samples:
            ratio = (median_of(platform_samples) / platform_entries) / (median_of(mine) / entries)
        self.add(title, per_entry_cell(mine, entries), per_entry_cell(platform_samples, platform_entries), "—",
                 ratio, target, "≥ %g× faster per entry" % target, lambda r: r >= target, ratio_text="%.0f×")

    # A failure whose runs overlap the baseline's says so: on a busy machine
    # it may be noise rather than the component.
    def add(self, title, mine, base, curl, ratio, target, target_text, check, ratio_text="%.2f", overlap=False):
        if ratio is None:
            # A row with no baseline to divide by was run all the same.
            ratio_cell, verdict = "—", "not run" if mine == "not run" else "—"
        else:
            ratio_cell = ratio_text % ratio
            verdict = "—" if target is None or check is None else ("pass" if check(ratio) else "FAIL")
            if verdict == "FAIL" and overlap:
                verdict = "FAIL (runs overlap)"
        self.rows.append((title, mine, base, curl, ratio_cell, target_text, verdict))

    def markdown(self):
        lines = ["| %s | ratio | target | pass/fail |" % " | ".join(self.header),
                 "|" + "|".join("-" * (len(name) + 2) for name in self.header) + "|------:|--------|-----------|"]
        for row in self.rows:
            lines.append("| " + " | ".join(row) + " |")
        return "\n".join(lines)


NATIVE_TEXT = (
    "The same vsftpd, active mode on every side. The component and curl take turns run by run, item by item, "
    "each going first in every other run, so that these rows' curl column was measured beside them. "
    "The component's listings and transfers run on a connection it "
    "holds, so curl's do too: each side lists the root first and only its second transfer, on the same "
    "connection, is timed. The file a transfer writes is deleted before it and right after it on both sides, "
    "untimed (replacing it would charge the run with the server's freeing and flushing it, and left behind, "
    "its writing out would slow the runs that follow), and curl changes back to the directory it started in "
    "after an upload, as `PutFile` does. The FTPS rows use a second vsftpd on the same files that demands explicit "
    "TLS on both connections, in passive mode on both sides (Debian 12's curl never reads an active data "
    "connection over TLS); both sides skip the certificate check (`IgnoreCertificateErrors`, curl `-k`). "
    "The rounds need a connection each, which curl's command line cannot ask for in one "
    "process, so curl runs once per round and its own time (`time_total`, which leaves out the process's start "
    "and the QUIT after the transfer) is summed. The WinInet engine reads a listing a byte per call and is not "
    "given these sizes: its time per entry on its largest listing above stands in.")


def table_for(data, curl, args):
    table = Table(data, curl)
    for mib in HTTP_SIZES:
        item = "http-%d" % mib
        table.time(item, "HTTP GET %d MiB: `OpenConnection` + `Content` vs raw read loop" % mib)
        table.time(item, "HTTP GET %d MiB: the same vs raw loop + wide string (raw column)" % mib,
                   baseline="raw-string", target=1.2)
    for mib in HTTP_SIZES:
        item = "http-%d" % mib
        table.memory(item, "HTTP GET %d MiB, peak working set over `OpenConnection` + `Content` "
                     "(raw: loop + wide string)" % mib, mib * MIB, limit=3)
        table.memory(item, "HTTP GET %d MiB, peak working set over `OpenConnection` alone "
                     "(raw: loop + wide string)" % mib, mib * MIB, key="peak_first")
    save = "save-%d" % args.save_mib
    table.throughput(save, "`SaveToFile` %d MiB vs HttpSendRequest + InternetReadFile (64 KiB) + WriteFile"
                     % args.save_mib, args.save_mib * MIB, None)
    table.memory(save, "`SaveToFile` %d MiB, peak working set (raw: the read and write loop)" % args.save_mib,
                 args.save_mib * MIB, baseline="raw", flat=1 / 64)
    for entries in args.lists:
        table.time("list-%d" % entries, "FTP listing, %d entries: `Files` vs FtpFindFirstFile loop" % entries,
                   target=1.05)
    table.time("text-%d" % args.text_entries,
               "Text listing, %d entries: `GetDirectoryListing(63)` vs `Files` (raw column)" % args.text_entries,
               baseline="files")
    table.time("printclient-%d" % args.page_entries,
               "`PrintClient`, %d entries, test ASP host, vs `Files` (raw column)" % args.page_entries,
               baseline="files", target=1.1)
    table.time("getfile", "`GetFile` %d MiB vs FtpGetFile" % args.big_mib, target=1.05)
    table.time("putfile", "`PutFile` %d MiB vs FtpPutFile" % args.big_mib, target=1.05)
    table.throughput("download", "`DownloadFileToClient` %d MiB vs FtpOpenFile + InternetReadFile (64 KiB)"
                     % args.download_mib, args.download_mib * MIB, 0.9)
    table.throughput("download", "`DownloadFileToClient` %d MiB vs the same loop reading 4 KiB, "
                     "as earlier versions read" % args.download_mib, args.download_mib * MIB, None,
                     baseline="raw-4k")
    table.memory("download", "`DownloadFileToClient` %d MiB, peak working set (raw: the read loop)"
                 % args.download_mib, args.download_mib * MIB, baseline="raw", flat=1 / 16)
    aspdev_bytes = args.aspdev_mib * MIB
    table.throughput("download-aspdev", "`DownloadFileToClient` %d MiB through aspdev (4 MB buffer, as IIS), "
                     "read over HTTP" % args.aspdev_mib, aspdev_bytes, None, baseline=None)
    table.memory("download-aspdev", "`DownloadFileToClient` %d MiB through aspdev, aspdev's peak resident set"
                 % args.aspdev_mib, aspdev_bytes, baseline=None, flat=(32 * MIB) / aspdev_bytes)
    tree = "%d files in %d folders" % (args.tree_files, args.tree_folders)
    table.time("tree-get", "`GetDirectory`, %s, vs the same files raw (list, FtpGetFile)" % tree,
               target=1.1, curl=False)
    table.time("tree-put", "`PutDirectory`, %s, vs the same files raw (FtpCreateDirectory, FtpPutFile)" % tree,
               target=1.1, curl=False)
    table.time("connect-300", "300 × `OpenConnection` + `CloseConnection` vs InternetOpen + InternetConnect "
               "+ close", target=1.05, curl=False)
    return table


def native_table_for(data, curl, args):
    table = Table(data, curl, NATIVE_HEADER)
    platform_entries = max(args.lists)
    for entries in args.native_lists:
        item = "native-list-%d" % entries
        table.against_curl(item, "FTP listing, {:,} entries: `Files` vs curl's listing on the connection it holds"
                           .format(entries), 2)
        table.per_entry(item, entries, "list-%d" % platform_entries, platform_entries,
                        "FTP listing per entry: `Files` on {:,} entries vs the WinInet engine's `Files` on {:,} "
                        "(it is not run on {:,})".format(entries, platform_entries, entries), 100)
    size = args.native_big_mib * MIB
    table.against_curl("native-getfile", "`GetFile` %d MiB vs curl, on the connection each holds"
                       % args.native_big_mib, 0.8, size=size)
    table.against_curl("native-putfile", "`PutFile` %d MiB vs curl, on the connection each holds"
                       % args.native_big_mib, 0.8, size=size)
    table.against_curl("native-rounds-%d" % args.native_rounds,
                       "{:,} × (`OpenConnection`, `Files` of the login folder, `CloseConnection`) vs {:,} curl "
                       "processes listing it, their times summed (process start left out)"
                       .format(args.native_rounds, args.native_rounds), 2)
    table.against_curl("native-tls-list-%d" % args.native_tls_list,
                       "FTPS listing, {:,} entries: `Files` vs curl `--ssl-reqd`'s listing on the connection it holds"
                       .format(args.native_tls_list), 3)
    table.against_curl("native-tls-getfile", "`GetFile` %d MiB over FTPS vs curl `--ssl-reqd`, on the connection "
                       "each holds" % args.native_big_mib, 0.5, size=size)
    table.against_curl("native-tls-putfile", "`PutFile` %d MiB over FTPS vs curl `--ssl-reqd`, on the connection "
                       "each holds" % args.native_big_mib, 0.5, size=size)
    return table


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    debian = open("/etc/debian_version").read().strip() if os.path.exists("/etc/debian_version") else "?"
    load = open("/proc/loadavg").read().split()[:3]
    return model, os.cpu_count(), debian, " ".join(load)


def plot(args, tables_data, path):
    lines = []
    data_files = []
    for arch, data in tables_data:
        data_path = os.path.join(args.dir, "http-%s.dat" % arch)
        with open(data_path, "w") as f:
            f.write("# MiB component raw raw-string curl (s), peaks (MiB): component component-open raw raw-string\n")
            for mib in HTTP_SIZES:
                item = "http-%d" % mib
                values = [median_of(data.get((item, v), [])) for v in ("component", "raw", "raw-string")]
                values.append(median_of(args.curl.get((item, "curl"), [])))
                peaks = [median_of(data.get((item, "component"), []), "peak"),
                         median_of(data.get((item, "component"), []), "peak_first"),
                         median_of(data.get((item, "raw"), []), "peak"),
                         median_of(data.get((item, "raw-string"), []), "peak")]
                cells = ["NaN" if v is None else "%.6f" % v for v in values]
                cells += ["NaN" if v is None else "%.3f" % (v / MIB) for v in peaks]
                f.write("%d %s\n" % (mib, " ".join(cells)))
        data_files.append((arch, data_path))
    time_plots = []
    peak_plots = []
    for index, (arch, data_path) in enumerate(data_files):
        dash = 1 if index == 0 else 2
        time_plots += [
            "'%s' using 1:2 with linespoints dt %d lc 1 title '%s component'" % (data_path, dash, arch),
            "'%s' using 1:3 with linespoints dt %d lc 2 title '%s raw loop'" % (data_path, dash, arch),
            "'%s' using 1:4 with linespoints dt %d lc 3 title '%s raw + wide string'" % (data_path, dash, arch),
        ]
        peak_plots += [
            "'%s' using 1:6 with linespoints dt %d lc 1 title '%s component, + Content'" % (data_path, dash, arch),
            "'%s' using 1:7 with linespoints dt %d lc 4 title '%s component, OpenConnection'" % (data_path, dash, arch),
            "'%s' using 1:8 with linespoints dt %d lc 2 title '%s raw loop'" % (data_path, dash, arch),
            "'%s' using 1:9 with linespoints dt %d lc 3 title '%s raw + wide string'" % (data_path, dash, arch),
        ]
    time_plots.append("'%s' using 1:5 with linespoints dt 3 lc 7 title 'curl (Linux)'" % data_files[0][1])
    peak_plots.append("3 * x with lines dt 3 lc 7 title '3× body'")
    script = "\n".join([
        "set terminal pngcairo size 1200,500 font 'sans,10'",
        "set output '%s'" % path,
        "set multiplot layout 1,2 title 'HTTP GET over loopback: time and peak working set against body size'",
        "set logscale x 2",
        "set logscale y 10",
        "set format y '%g'",
        "set xtics (1, 16, 64)",
        "set xlabel 'body (MiB)'",
        "set grid",
        "set key top left",
        "set ylabel 'seconds (median)'",
        "plot " + ", ".join(time_plots),
        "set ylabel 'peak working set rise (MiB, median)'",
        "plot " + ", ".join(peak_plots),
        "unset multiplot",
    ])
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--dir", required=True)
    p.add_argument("--architectures", required=True)
    p.add_argument("--x86-not-run", default="")
    p.add_argument("--wine-version", default="?")
    p.add_argument("--seconds", type=int, default=0)
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--lists", default="1000,10000")
    p.add_argument("--text-entries", type=int, default=1000)
    p.add_argument("--page-entries", type=int, default=1000)
    p.add_argument("--big-mib", type=int, default=256)
    p.add_argument("--download-mib", type=int, default=64)
    p.add_argument("--aspdev-mib", type=int, default=1024)
    p.add_argument("--save-mib", type=int, default=1024)
    p.add_argument("--native-lists", default="1000,10000")
    p.add_argument("--native-big-mib", type=int, default=256)
    p.add_argument("--native-rounds", type=int, default=300)
    p.add_argument("--native-tls-list", type=int, default=1000)
    p.add_argument("--tree-files", type=int, default=500)
    p.add_argument("--tree-folders", type=int, default=20)
    p.add_argument("--markdown", required=True)
    p.add_argument("--plot", required=True)
    args = p.parse_args()
    args.lists = sorted({int(n) for n in args.lists.split(",")})
    args.native_lists = sorted({int(n) for n in args.native_lists.split(",")})
    args.curl = load(os.path.join(args.dir, "curl.jsonl"))

    model, cores, debian, load_average = machine()
    now = datetime.datetime.now(datetime.timezone.utc)
    out = [
        "# The component against the raw platform",
        "",
        "Written by `./run bench` (bench/report.py) on %s UTC." % now.strftime("%Y-%m-%d %H:%M"),
        "",
        "Machine: %s, %d cores, Debian %s, %s, kernel %s. Load average at the end: %s. "
        "The run (servers, curl and every architecture; not the build) took %d min %02d s."
        % (model, cores, debian, args.wine_version, platform.release(), load_average, args.seconds // 60,
           args.seconds % 60),
        "",
        "Servers: vsftpd (FTP) and nginx (HTTP) on 127.0.0.1. The component is called late bound by ProgID; "
        "the raw baselines call WinInet with the component's flags (HTTP: `INTERNET_FLAG_NO_CACHE_WRITE | "
        "INTERNET_FLAG_RELOAD`; FTP: binary transfers, active mode on both sides). Component and raw runs "
        "alternate, %d of each; each figure is the median (min–max). curl is native Linux curl on the same "
        "servers, the same work without Wine. Peak working sets are measured in a child process per run, "
        "as the rise of `PeakWorkingSetSize` over the working set before the work; the peak is first brought "
        "down to that working set (Wine's peak is Linux's VmHWM, reset through /proc/self/clear_refs)."
        % args.runs,
        "",
        "Sizes: Wine reads FTP listings a byte at a time (several milliseconds per entry here) and copies "
        "files with FtpGetFile at a few tens of MB/s, so this run uses listings of %s entries, a text listing "
        "of %d, a `PrintClient` page of %d, %d MiB for `GetFile`/`PutFile` and a tree of %d files, to stay "
        "within 15 minutes. The component's own engine (`Engine = 2`) gets listings of %s entries, %d MiB for "
        "`GetFile`/`PutFile` and %d rounds of connecting and listing."
        % (" and ".join(str(n) for n in args.lists), args.text_entries, args.page_entries, args.big_mib,
           args.tree_files, " and ".join("{:,}".format(n) for n in args.native_lists), args.native_big_mib,
           args.native_rounds),
        "",
    ]
    tables_data = []
    for arch in args.architectures.split():
        data = load(os.path.join(args.dir, "%s.jsonl" % arch))
        tables_data.append((arch, data))
        out += ["## %s" % arch, "", table_for(data, args.curl, args).markdown(), ""]
        out += ["### The component's own FTP engine (`Engine = 2`)", "", NATIVE_TEXT,
                "", native_table_for(data, args.curl, args).markdown(), ""]
    if args.x86_not_run:
        out += ["## x86", "", "Not run: %s." % args.x86_not_run, ""]
    out += ["![HTTP scaling](http_scaling.png)", ""]
    with open(args.markdown, "w") as f:
        f.write("\n".join(out))
    plot(args, tables_data, args.plot)


if __name__ == "__main__":
    main()
