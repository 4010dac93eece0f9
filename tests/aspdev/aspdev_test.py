"""aspdev against raw HTTP: pages, page objects, the component in a page,
and requests a hostile client sends. Starts its own aspdev and FTP server.

    aspdev_test.py --loader /usr/lib/wine/wine64 --aspdev build/x64/tools/aspdev/aspdev.exe --work DIR
"""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
ARGS = None


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_for_file(path, process, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return open(path).read().split()[0]
        if process.poll() is not None:
            raise RuntimeError(f"{process.args[0]} ended with status {process.returncode}")
        time.sleep(0.1)
    raise RuntimeError(f"nothing in {path} after {seconds} s")


class Response:
    def __init__(self, raw):
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status_line = lines[0]
        self.status = int(lines[0].split(" ")[1]) if lines[0].startswith("HTTP/1.1 ") else 0
        self.headers = [tuple(line.split(": ", 1)) for line in lines[1:] if ": " in line]
        self.text = self.body.decode("latin-1")

    def header(self, name):
        values = [v for k, v in self.headers if k.lower() == name.lower()]
        return values[0] if values else None

    def all(self, name):
        return [v for k, v in self.headers if k.lower() == name.lower()]


class Server:
    def __init__(self, work):
        self.work = work
        self.processes = []

    def start(self):
        site = os.path.join(self.work, "site")
        shutil.rmtree(self.work, ignore_errors=True)
        shutil.copytree(os.path.join(HERE, "site"), site)
        with open(os.path.join(self.work, "outside.inc"), "w") as f:
            f.write("outside the site\n")
        ftp_root = os.path.join(self.work, "ftp")
        os.makedirs(os.path.join(ftp_root, "folder"))
        with open(os.path.join(ftp_root, "bytes.bin"), "wb") as f:
            f.write(bytes(range(256)) * 64)
        with open(os.path.join(ftp_root, "large.bin"), "wb") as f:
            f.truncate(LARGE_FILE_BYTES)
        self.ftp_root = ftp_root
        ftp_port_file = os.path.join(self.work, "ftp.port")
        # Its log tells how many bytes each transfer sent.
        self.ftp_log_path = os.path.join(self.work, "ftp.log")
        self.ftp_log = open(self.ftp_log_path, "w")
        ftp = subprocess.Popen([sys.executable, os.path.join(SOURCE, "tools", "ftp_server.py"), "--foreground",
                                "--root", ftp_root, "--port-file", ftp_port_file, "--max-seconds", "600",
                                "--verbose"], stdout=subprocess.DEVNULL, stderr=self.ftp_log)
        self.processes.append(ftp)
        ftp_port = wait_for_file(ftp_port_file, ftp, 30)
        port_file = os.path.join(self.work, "aspdev.port")
        self.log = open(os.path.join(self.work, "aspdev.log"), "w")
        aspdev = subprocess.Popen([ARGS.loader, ARGS.aspdev, "--root", windows_path(site), "--port", "0",
                                   "--port-file", windows_path(port_file), "--app", "Seed=planted",
                                   "--app", f"FTPPort={ftp_port}"], stdout=self.log, stderr=subprocess.STDOUT)
        self.processes.append(aspdev)
        self.port = int(wait_for_file(port_file, aspdev, 60))

    def stop(self):
        for process in self.processes:
            process.kill()
            process.wait(timeout=30)
        self.log.close()
        self.ftp_log.close()

    def raw(self, data, timeout=30):
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as connection:
            connection.sendall(data)
            chunks = []
            while True:
                chunk = connection.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        return Response(b"".join(chunks))

    def get(self, path, method="GET", body=b"", headers=(), timeout=30):
        lines = [f"{method} {path} HTTP/1.1", f"Host: 127.0.0.1:{self.port}"] + list(headers)
        if method == "POST":
            lines += ["Content-Type: application/x-www-form-urlencoded", f"Content-Length: {len(body)}"]
        return self.raw(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body, timeout)


SERVER = None
LARGE_FILE_BYTES = 256 * 1024 * 1024


class Pages(unittest.TestCase):
    def test_literal_text_expressions_and_includes(self):
        page = SERVER.get("/echo.asp?who=%3Cb%3E")
        self.assertEqual(page.status, 200, page.text)
        self.assertIn("<title>fixture</title>", page.text)
        self.assertIn('<p id="greeting">Hello, &lt;b&gt;.</p>', page.text)
        self.assertIn('<p id="item"><b></p>', page.text)  # Request("key") finds the query string first
        self.assertIn('<p id="footer">footer</p>', page.text)
        self.assertNotIn("<%", page.text)

    def test_form_post(self):
        page = SERVER.get("/echo.asp", method="POST", body=b"text=a%26b+c")
        self.assertEqual(page.status, 200, page.text)
        self.assertIn('<p id="form">a&amp;b c</p>', page.text)

    def test_script_errors_name_file_line_and_error(self):
        cases = [
            ("/runtime_error.asp", "/runtime_error.asp", 5, ["0x800A04D2", "fixture source", "the fixture raised &lt;this&gt;"]),
            ("/include_error.asp", "/inc/broken.inc", 4, ["0x800A000D", "VBScript"]),
            ("/syntax_error.asp", "/syntax_error.asp", None, ["compilation"]),
            ("/include_outside.asp", "/include_outside.asp", 1, ["outside the site"]),
            ("/self.asp", "/self.asp", 1, ["includes itself"]),
            ("/jscript.asp", "/jscript.asp", 1, ["Only VBScript"]),
        ]
        for path, file, line, texts in cases:
            with self.subTest(path=path):
                page = SERVER.get(path)
                self.assertEqual(page.status, 500, page.text)
                self.assertIn(f"File <b>{file}</b>", page.text)
                if line is not None:
                    self.assertIn(f"line <b>{line}</b>", page.text)
                for text in texts:
                    self.assertIn(text, page.text)
                self.assertNotIn("outside the site\n", page.text)

    def test_response_members(self):
        page = SERVER.get("/response.asp")
        self.assertEqual(page.status_line, "HTTP/1.1 201 Created")
        self.assertEqual(page.text, "kept")
        self.assertEqual(page.header("Content-Type"), "text/plain; charset=windows-1252")
        self.assertEqual(page.header("X-Fixture"), "yes")
        self.assertIn("flavour=oat+%26+raisin; path=/sub", page.all("Set-Cookie"))
        self.assertEqual(page.header("Content-Length"), "4")

    def test_redirect(self):
        page = SERVER.get("/redirect.asp")
        self.assertEqual(page.status, 302)
        self.assertEqual(page.header("Location"), "echo.asp?who=redirected")
        self.assertNotIn("not sent", page.text)

    def test_headers_with_line_breaks_are_refused(self):
        for path in ["/inject_header.asp", "/inject_status.asp", "/bad_cookie.asp"]:
            with self.subTest(path=path):
                page = SERVER.get(path)
                self.assertEqual(page.status, 500, page.text)
                self.assertFalse(any(k.lower() in ("x-evil",) or "injected" in v for k, v in page.headers), page.headers)

    def test_server_variables_mappath_and_cookies(self):
        page = SERVER.get("/sub/vars.asp?x=1&y=%20", headers=["Cookie: flavour=oat+%26+raisin; other=1"])
        self.assertEqual(page.status, 200, page.text)
        fields = page.text.strip().split("|")
        site = windows_path(os.path.join(SERVER.work, "site"))
        self.assertEqual(fields[0], site + "\\sub\\file.txt")
        self.assertEqual(fields[1], site + "\\sub\\here.txt")
        self.assertEqual(fields[2:], ["oat & raisin", "/sub/vars.asp", "x=1&y=%20", str(SERVER.port), "off",
                                      "a+b%26c"])
        self.assertEqual(SERVER.get("/mappath_outside.asp").text.strip(), "True")

    def test_session_and_application(self):
        first = SERVER.get("/session.asp")
        cookie = first.header("Set-Cookie")
        self.assertRegex(cookie or "", r"^ASPSESSIONID=[A-Z]{24}; path=/; HttpOnly$")
        self.assertIn('<p id="seed">planted</p>', first.text)
        session = cookie.split(";")[0]
        visits = [re.search(r'id="visits">(\d+)<', SERVER.get("/session.asp", headers=[f"Cookie: {session}"]).text)
                  for _ in range(2)]
        self.assertEqual([m.group(1) if m else None for m in visits], ["2", "3"])
        SERVER.get("/session.asp?abandon=1", headers=[f"Cookie: {session}"])
        again = SERVER.get("/session.asp", headers=[f"Cookie: {session}"])
        self.assertIn('id="visits">1<', again.text)
        self.assertNotEqual(again.header("Set-Cookie").split(";")[0], session)
        forged = SERVER.get("/session.asp", headers=["Cookie: ASPSESSIONID=AAAAAAAAAAAAAAAAAAAAAAAA"])
        self.assertIn('id="visits">1<', forged.text)

    def test_script_timeout_stops_the_page_and_the_server_goes_on(self):
        page = SERVER.get("/forever.asp", timeout=60)
        self.assertEqual(page.status, 500, page.text)
        self.assertIn("Server.ScriptTimeout (2 seconds)", page.text)
        self.assertEqual(SERVER.get("/echo.asp").status, 200)

    def test_static_files_folders_and_hidden_sources(self):
        static = SERVER.get("/sub/file.txt")
        self.assertEqual((static.status, static.header("Content-Type"), static.text), (200, "text/plain", "static text\n"))
        folder = SERVER.get("/sub")
        self.assertEqual((folder.status, folder.header("Location")), (301, "/sub/"))
        self.assertIn("default page", SERVER.get("/sub/").text)
        for path in ["/settings.inc", "/inc/header.inc", "/SETTINGS.INC"]:
            with self.subTest(path=path):
                self.assertEqual(SERVER.get(path).status, 403)
        # Another spelling of a page still runs it rather than showing its source.
        self.assertIn("Hello, nobody", SERVER.get("/ECHO.ASP").text)
        self.assertEqual(SERVER.get("/missing.asp").status, 404)


class HostileRequests(unittest.TestCase):
    def test_refused_requests(self):
        cases = [
            (b"GET /../outside.inc HTTP/1.1\r\n\r\n", 400),
            (b"GET /%2e%2e/outside.inc HTTP/1.1\r\n\r\n", 400),
            (b"GET /sub/..%2f..%2foutside.inc HTTP/1.1\r\n\r\n", 400),
            (b"GET /C:/windows/win.ini HTTP/1.1\r\n\r\n", 400),
            (b"GET /sub%5c..%5c..%5coutside.inc HTTP/1.1\r\n\r\n", 400),
            (b"GET /echo.asp::$DATA HTTP/1.1\r\n\r\n", 400),
            (b"GET /echo.asp. HTTP/1.1\r\n\r\n", 400),
            (b"GET /echo.asp%20 HTTP/1.1\r\n\r\n", 400),
            (b"GET /%zz HTTP/1.1\r\n\r\n", 400),
            (b"GET /echo.asp?who=%z1 HTTP/1.1\r\n\r\n", 400),
            (b"GET /a%00b HTTP/1.1\r\n\r\n", 400),
            (b"GET /%ff%fe HTTP/1.1\r\n\r\n", 400),
            (b"GET /CON HTTP/1.1\r\n\r\n", 400),
            (b"GET /sub/nul.txt HTTP/1.1\r\n\r\n", 400),
            (b"GET http://127.0.0.1/echo.asp HTTP/1.1\r\n\r\n", 400),
            (b"BREW /echo.asp HTTP/1.1\r\n\r\n", 405),
            (b"DELETE /echo.asp HTTP/1.1\r\n\r\n", 405),
            (b"G(T / HTTP/1.1\r\n\r\n", 400),
            (b"GET / HTTP/9.9\r\n\r\n", 505),
            (b"GET / SPDY\r\n\r\n", 400),
            (b"garbage\r\n\r\n", 400),
            (b"GET / HTTP/1.1\r\n folded: header\r\n\r\n", 400),
            (b"GET / HTTP/1.1\r\nNo colon here\r\n\r\n", 400),
            (b"POST /echo.asp HTTP/1.1\r\n\r\n", 411),
            (b"POST /echo.asp HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", 400),
            (b"POST /echo.asp HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400),
            (b"POST /echo.asp HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", 413),
            (b"POST /echo.asp HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501),
            (b"GET / HTTP/1.1\r\nX-Long: " + b"a" * 70000 + b"\r\n\r\n", 431),
        ]
        for request, status in cases:
            with self.subTest(request=request[:60]):
                response = SERVER.raw(request)
                self.assertEqual(response.status, status, response.text[:300])
                self.assertNotIn("outside the site", response.text)
        self.assertEqual(SERVER.get("/echo.asp").status, 200)

    def test_a_silent_client_holds_nobody_up(self):
        with socket.create_connection(("127.0.0.1", SERVER.port), timeout=30):
            started = time.monotonic()
            self.assertEqual(SERVER.get("/echo.asp").status, 200)
            # Well under the 15 s a silent connection is given.
            self.assertLess(time.monotonic() - started, 10)

    def test_host_header_cannot_choose_the_server_name(self):
        for host, name in [("evil.example", "127.0.0.1"), ("localhost:1", "localhost"), ("127.0.0.1", "127.0.0.1"),
                           ("<script>", "127.0.0.1")]:
            with self.subTest(host=host):
                response = SERVER.raw(f"GET /name.asp HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
                self.assertEqual(response.text, name)

    def test_many_idle_connections_leave_the_server_alive(self):
        idle = []
        try:
            for _ in range(100):
                idle.append(socket.create_connection(("127.0.0.1", SERVER.port), timeout=30))
        finally:
            for connection in idle:
                connection.close()
        deadline = time.monotonic() + 30
        status = 0
        while time.monotonic() < deadline and status != 200:
            try:
                status = SERVER.get("/echo.asp").status
            except OSError:
                time.sleep(0.5)
        self.assertEqual(status, 200)

    def test_a_short_body_is_refused(self):
        with socket.create_connection(("127.0.0.1", SERVER.port), timeout=30) as connection:
            connection.sendall(b"POST /echo.asp HTTP/1.1\r\nContent-Length: 10\r\n\r\nab")
            connection.shutdown(socket.SHUT_WR)
            response = Response(connection.recv(65536))
        self.assertEqual(response.status, 400)


class ComponentInAPage(unittest.TestCase):
    def test_the_readme_page_runs(self):
        readme = open(os.path.join(SOURCE, "README.md"), encoding="utf-8").read()
        page = re.search(r"## A page\n\n```vb\n(.*?)```", readme, re.S)
        self.assertIsNotNone(page, "README.md has no example page")
        text = page.group(1)
        self.assertLessEqual(len(text.splitlines()), 15)
        # The example's server and account, pointed at the test server.
        text = text.replace('ftp.URL = "ftp.example.com"',
                            'ftp.URL = "127.0.0.1" : ftp.Port = CLng(Application("FTPPort"))')
        text = text.replace('ftp.Username = "reports"', 'ftp.Username = "tester"')
        with open(os.path.join(SERVER.work, "site", "readme_example.asp"), "w", newline="\r\n") as f:
            f.write(text)
        response = SERVER.get("/readme_example.asp")
        self.assertEqual(response.status, 200, response.text)
        self.assertIn("<h1>Reports</h1>", response.text)
        self.assertIn(">folder</a>", response.text)


    def test_browser_page_and_download(self):
        page = SERVER.get("/browse.asp")
        self.assertEqual(page.status, 200, page.text)
        self.assertIn(">folder</a>", page.text)
        link = re.search(r'href="([^"]*bytes%2Ebin)"', page.text)
        self.assertIsNotNone(link, page.text)
        target = re.sub(r"^http://[^/]*", "", link.group(1))
        download = SERVER.get(target)
        self.assertEqual(download.status, 200, download.text[:300])
        self.assertEqual(download.body, bytes(range(256)) * 64)
        self.assertIn("bytes.bin", download.header("Content-Disposition") or "")

    def test_a_visitor_who_leaves_stops_the_transfer(self):
        # Each engine of the FTP object in turn: the platform's, the own.
        for index, engine in enumerate(("1", "2")):
            with self.subTest(engine=engine):
                self.leave_during_download(engine, index + 1)

    def leave_during_download(self, engine, downloads_so_far):
        wanted = 1024 * 1024
        with socket.create_connection(("127.0.0.1", SERVER.port), timeout=60) as connection:
            connection.sendall(f"GET /download.asp?f=large.bin&engine={engine} HTTP/1.1\r\n"
                               f"Host: 127.0.0.1:{SERVER.port}\r\n\r\n".encode("latin-1"))
            received = b""
            while len(received) < wanted:
                chunk = connection.recv(65536)
                if not chunk:
                    break
                received += chunk
        self.assertGreaterEqual(len(received), wanted, received[:300])
        self.assertIn(b"Transfer-Encoding: chunked", received.partition(b"\r\n\r\n")[0])
        # The page goes on after the download: its folder shows that the
        # FTP connection still works, and how much the component sent.
        deadline = time.monotonic() + 120
        prefix = f"sent-{engine}-"
        sent = []
        while not sent and time.monotonic() < deadline:
            sent = [name for name in os.listdir(SERVER.ftp_root) if name.startswith(prefix)]
            time.sleep(0.2)
        self.assertEqual(len(sent), 1, open(SERVER.log.name).read()[-2000:])
        self.assertLess(int(sent[0][len(prefix):]), LARGE_FILE_BYTES // 4)
        with open(SERVER.ftp_log_path) as log:
            transfers = re.findall(r"RETR \S*large\.bin completed=(\d) bytes=(\d+)", log.read())
        self.assertEqual(len(transfers), downloads_so_far)
        completed, served = transfers[-1]
        self.assertEqual(completed, "0")
        self.assertLess(int(served), LARGE_FILE_BYTES // 4)

def main():
    global ARGS, SERVER
    parser = argparse.ArgumentParser()
    parser.add_argument("--loader", required=True)
    parser.add_argument("--aspdev", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    SERVER = Server(ARGS.work)
    SERVER.start()
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        SERVER.stop()
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
