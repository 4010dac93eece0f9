"""What a browser test runs against: the loopback FTP and HTTP servers, the
samples in aspdev, and a headless chromium that reaches nothing but
127.0.0.1. Everything is started fresh for one test class and stopped by the
test that started it; nothing else is ever stopped."""

import base64
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

SOURCE_DIR = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import lay_out_ftp_tree  # noqa: E402

START_SECONDS = 30
STOP_SECONDS = 10
CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM = "/usr/bin/chromium"


class RigError(Exception):
    pass


def windows_path(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


def wait_for_file(path, process, what, seconds=START_SECONDS):
    """The file's first line, once it is written; fails when the process ends first."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, encoding="ascii", errors="replace") as f:
                line = f.readline()
            if line.endswith("\n"):
                return line.strip()
        if process.poll() is not None:
            raise RigError("%s ended with exit status %s before it was ready" % (what, process.returncode))
        time.sleep(0.1)
    raise RigError("%s was not ready within %d s" % (what, seconds))


def stop_process(process):
    """Ends one process this rig started, harder when it does not listen."""
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(STOP_SECONDS)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(STOP_SECONDS)


class Rig:
    """Holds what one test class started, in the order it must stop."""

    def __init__(self, build_dir, loader, aspdev, name):
        self.build_dir = os.path.realpath(build_dir)
        self.loader = loader
        self.aspdev = aspdev
        self.processes = []
        self.controls = []
        self.driver = None
        self.user_data_dir = None
        screenshots = os.path.join(self.build_dir, "browser-screenshots")
        os.makedirs(screenshots, exist_ok=True)
        self.screenshots = screenshots
        work_parent = os.path.join(self.build_dir, "browser-runs")
        os.makedirs(work_parent, exist_ok=True)
        # One folder per test class, emptied at its start: what a failed run
        # leaves (logs, the tree, the downloads) stays until the next one.
        self.work = os.path.join(work_parent, name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.logs = {}

    # -- servers ---------------------------------------------------------
    def start(self, what, command, port_file, log_name):
        log = open(os.path.join(self.work, log_name), "wb")
        self.logs[what] = log.name
        process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                   cwd=self.work)
        log.close()
        self.processes.append(process)
        try:
            return wait_for_file(port_file, process, what)
        except RigError as error:
            raise RigError("%s\n-- its output:\n%s" % (error, self.log_tail(what))) from None

    def lay_out_tree(self):
        self.ftp_root = os.path.join(self.work, "ftp")
        path, _ = lay_out_ftp_tree.lay_out(self.ftp_root)
        self.data_set = os.path.join(self.ftp_root, path)
        return self.ftp_root

    def start_ftp(self):
        port_file = os.path.join(self.work, "ftp.port")
        line = self.start("the FTP server", [sys.executable, os.path.join(SOURCE_DIR, "tools", "ftp_server.py"),
                                             "--root", self.ftp_root, "--port-file", port_file,
                                             "--max-seconds", "600"], port_file, "ftp.log")
        ftp_port, control_port = line.split()[:2]
        # The server lives as long as this connection.
        self.controls.append(socket.create_connection(("127.0.0.1", int(control_port)), timeout=10))
        self.ftp_port = int(ftp_port)

    def start_http(self):
        port_file = os.path.join(self.work, "http.port")
        line = self.start("the HTTP server", [sys.executable, os.path.join(SOURCE_DIR, "tools", "http_server.py"),
                                              "--port-file", port_file, "--max-seconds", "600"],
                          port_file, "http.log")
        http_port, control_port = line.split()[:2]
        control = socket.create_connection(("127.0.0.1", int(control_port)), timeout=10)
        self.controls.append(control)
        self.http_control = control.makefile("rwb")
        self.http_port = int(http_port)

    def http_route(self, target, raw):
        """Answers target with exactly these bytes from now on."""
        self.http_control.write(b"route %s %s\n" % (target.encode("ascii"), base64.b64encode(raw)))
        self.http_control.flush()
        reply = self.http_control.readline().strip()
        if reply != b"ok":
            raise RigError("the HTTP server refused the route %s: %r" % (target, reply))

    def start_aspdev(self, root):
        exe = self.aspdev
        if not os.path.isfile(exe):
            raise RigError("no %s: build the aspdev target" % exe)
        port_file = os.path.join(self.work, "aspdev.port")
        line = self.start("aspdev", [self.loader, exe, "--root", windows_path(root), "--port", "0",
                                     "--port-file", windows_path(port_file),
                                     "--app", "FTPPort=%d" % self.ftp_port, "--app", "HTTPPort=%d" % self.http_port],
                          port_file, "aspdev.log")
        self.site_port = int(line)
        self.site = "http://127.0.0.1:%d/" % self.site_port

    # -- the browser -----------------------------------------------------
    def start_browser(self):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        self.user_data_dir = os.path.join(self.work, "chromium-profile")
        self.downloads = os.path.join(self.work, "downloads")
        os.makedirs(self.downloads)
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--user-data-dir=" + self.user_data_dir, "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--no-proxy-server", "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1",
                         "--disable-dev-shm-usage", "--window-size=1024,600", "--no-default-browser-check"):
            options.add_argument(argument)
        if os.geteuid() == 0:
            options.add_argument("--no-sandbox")  # chromium's sandbox refuses to run as root
        options.add_experimental_option("prefs", {
            "download.default_directory": self.downloads,
            "download.prompt_for_download": False,
            "safebrowsing.enabled": False,
        })
        # A dialog stays open for the test to find instead of being dismissed.
        options.set_capability("unhandledPromptBehavior", "ignore")
        log = os.path.join(self.work, "chromedriver.log")
        self.logs["chromedriver"] = log
        service = Service(CHROMEDRIVER, log_path=log)
        self.service = service
        self.driver = webdriver.Chrome(service=service, options=options)
        self.driver.set_page_load_timeout(60)
        self.driver.set_script_timeout(10)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads, "eventsEnabled": True})
        return self.driver

    def screenshot(self, name):
        if self.driver is None:
            return None
        path = os.path.join(self.screenshots, name + ".png")
        try:
            self.driver.save_screenshot(path)
        except Exception as error:  # a screenshot must never hide the test's own verdict
            print("no screenshot %s: %s" % (name, error), file=sys.stderr)
            return None
        return path

    def wait_for_download(self, name, seconds=60):
        """The path of a finished download of that name."""
        path = os.path.join(self.downloads, name)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            partial = [f for f in os.listdir(self.downloads) if f.endswith(".crdownload")]
            if os.path.exists(path) and not partial:
                return path
            time.sleep(0.2)
        raise RigError("no finished download %r within %d s; the download folder holds %r" %
                       (name, seconds, sorted(os.listdir(self.downloads))))

    def stop_browser(self):
        if self.driver is not None:
            try:
                self.driver.quit()
            except Exception as error:
                print("chromedriver did not quit cleanly: %s" % error, file=sys.stderr)
            self.driver = None
        service_process = getattr(getattr(self, "service", None), "process", None)
        stop_process(service_process)
        # A chromium that outlived its driver is still known by its profile.
        if self.user_data_dir:
            for pid in processes_using(self.user_data_dir):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass

    def stop(self):
        self.stop_browser()
        for control in self.controls:
            control.close()
        for process in reversed(self.processes):
            stop_process(process)
        self.controls = []
        self.processes = []

    def log_tail(self, what, lines=30):
        path = self.logs.get(what)
        if not path or not os.path.exists(path):
            return ""
        with open(path, encoding="utf-8", errors="replace") as f:
            return "".join(f.readlines()[-lines:])


def processes_using(user_data_dir):
    """Ids of the processes started with this exact profile folder."""
    marker = ("--user-data-dir=" + user_data_dir).encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                arguments = f.read().split(b"\0")
        except OSError:
            continue
        if marker in arguments:
            found.append(int(entry))
    return found
