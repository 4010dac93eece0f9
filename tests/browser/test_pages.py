#!/usr/bin/python3
"""The sample pages (samples/*.asp) in aspdev, driven by a real browser.

    test_pages.py --build-dir <build/ARCH> --loader <wine loader> --aspdev <aspdev.exe> [unittest arguments]

Each test class starts its own FTP and HTTP servers, aspdev and a headless
chromium, on a fresh copy of the bundled tree under <build dir>/browser-runs,
and saves a screenshot of each test under <build dir>/browser-screenshots.
"""

import argparse
import hashlib
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402

sys.path.insert(0, os.path.join(rig.SOURCE_DIR, "tools"))
import http_server  # noqa: E402

from selenium.common.exceptions import NoAlertPresentException, WebDriverException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

SAMPLES = os.path.join(rig.SOURCE_DIR, "samples")
WAIT_SECONDS = 30
ROW_LINKS = "tr[class^=ftp_alternating_line] > td:first-child > a"
settings = argparse.Namespace(build_dir=None, loader=None, aspdev=None)


class PageTest(unittest.TestCase):
    """Starts the whole rig once per class; each test leaves a screenshot."""

    @classmethod
    def setUpClass(cls):
        cls.rig = rig.Rig(settings.build_dir, settings.loader, settings.aspdev, cls.__name__)
        cls.addClassCleanup(cls.rig.stop)
        cls.rig.lay_out_tree()
        cls.prepare_tree(cls.rig.ftp_root)
        cls.rig.start_ftp()
        cls.rig.start_http()
        cls.rig.start_aspdev(SAMPLES)
        cls.driver = cls.rig.start_browser()

    @classmethod
    def prepare_tree(cls, root):
        pass

    def tearDown(self):
        self.rig.screenshot("%s-%s" % (type(self).__name__, self._testMethodName))

    # -- helpers -------------------------------------------------------------
    def open(self, page):
        self.driver.get(self.rig.site + page)
        self.assert_page_ok()

    def assert_page_ok(self):
        """One of the sample pages, not a server's error page, and no failure on it."""
        self.assertTrue(self.driver.title.endswith(" - corvane"),
                        "not a sample page:\n" + self.driver.find_element(By.TAG_NAME, "body").text[:2000])
        failures = self.driver.find_elements(By.ID, "failure")
        self.assertEqual(failures, [], failures[0].text if failures else "")

    def follow(self, element):
        """Clicks a link or button and waits, bounded, for the next page."""
        # A mark on the old page's window: gone once the next page is there.
        self.driver.execute_script("window.corvaneLeaving = true")
        element.click()

        def arrived(driver):
            return driver.execute_script(
                "return window.corvaneLeaving === undefined && document.readyState === 'complete'")

        # The driver may fail a call while the pages change over.
        WebDriverWait(self.driver, WAIT_SECONDS, ignored_exceptions=(WebDriverException,)).until(
            arrived, "the page did not change within %d s" % WAIT_SECONDS)

    def row_links(self):
        return self.driver.find_elements(By.CSS_SELECTOR, ROW_LINKS)

    def link_named(self, name):
        for link in self.row_links():
            if link.get_attribute("textContent") == name:
                return link
        self.fail("no link %r among %r" % (name, [link.get_attribute("textContent") for link in self.row_links()]))

    def parent_link(self):
        links = self.driver.find_elements(By.XPATH, "//table//tr/td[@colspan='2']/a[normalize-space(.)='..']")
        self.assertEqual(len(links), 1, "the parent link")
        return links[0]

    def assert_lists(self, folder):
        """The rows name exactly the folder's entries, folders first, with the files' sizes."""
        entries = os.listdir(folder)
        folders = sorted(e for e in entries if os.path.isdir(os.path.join(folder, e)))
        files = sorted(e for e in entries if not os.path.isdir(os.path.join(folder, e)))
        rows = self.driver.find_elements(By.CSS_SELECTOR, "tr[class^=ftp_alternating_line]")
        shown = [row.find_element(By.CSS_SELECTOR, "td:first-child").get_attribute("textContent") for row in rows]
        self.assertEqual(sorted(shown[:len(folders)]), folders, "folders first")
        self.assertEqual(sorted(shown[len(folders):]), files)
        for row in rows[len(folders):]:
            cells = row.find_elements(By.TAG_NAME, "td")
            name = cells[0].get_attribute("textContent")
            self.assertEqual(cells[1].text, str(os.path.getsize(os.path.join(folder, name))), name)

    def assert_no_elements(self, selector, what):
        found = self.driver.find_elements(By.CSS_SELECTOR, selector)
        self.assertEqual([element.get_attribute("outerHTML")[:200] for element in found], [], what)

    def assert_no_script_ran(self):
        try:
            alert = self.driver.switch_to.alert
            text = alert.text
            alert.dismiss()
            self.fail("a dialog opened: %r" % text)
        except NoAlertPresentException:
            pass
        self.assertEqual(self.driver.execute_script("return typeof window.pwned"), "undefined",
                         "a script from the served text ran")


class BrowsePage(PageTest):
    def test_root_lists_the_tree(self):
        self.open("browse.asp")
        self.assertEqual(self.driver.title, "FTP browser - corvane")
        self.assert_lists(self.rig.ftp_root)
        # The names a careless page would mangle, shown as they are.
        for name in ("Q&A.txt", "Director's-cut"):
            self.assertEqual(self.link_named(name).get_attribute("textContent"), name)
        self.rig.screenshot("browse")

    def test_index_leads_to_both_pages(self):
        for link, title in (("browse.asp", "FTP browser - corvane"), ("fetch.asp", "HTTP fetch - corvane")):
            with self.subTest(link=link):
                self.open("")
                self.follow(self.driver.find_element(By.LINK_TEXT, link))
                self.assert_page_ok()
                self.assertEqual(self.driver.title, title)

    def test_folders_down_and_back_up(self):
        self.open("browse.asp")
        path = []
        for name in ("pub", "docs", "manuals"):
            self.follow(self.link_named(name))
            self.assert_page_ok()
            path.append(name)
            with self.subTest(folder="/".join(path)):
                self.assert_lists(os.path.join(self.rig.ftp_root, *path))
        for _ in range(len(path)):
            self.follow(self.parent_link())
            self.assert_page_ok()
            path.pop()
            with self.subTest(back_in="/".join(path) or "/"):
                self.assert_lists(os.path.join(self.rig.ftp_root, *path))

    def test_folder_with_an_apostrophe(self):
        self.open("browse.asp")
        self.follow(self.link_named("Director's-cut"))
        self.assert_page_ok()
        self.assertEqual(self.driver.find_element(By.ID, "folder").get_attribute("textContent"), "/Director's-cut")
        self.assert_lists(os.path.join(self.rig.ftp_root, "Director's-cut"))

    def test_missing_folder_is_reported(self):
        self.driver.get(self.rig.site + "browse.asp?d=%2Fno-such-folder")
        failures = self.driver.find_elements(By.ID, "failure")
        self.assertEqual(len(failures), 1, "an error paragraph")
        self.assertIn("&H80040203", failures[0].text)
        self.assertEqual(self.row_links(), [])


class Downloads(PageTest):
    # (folders to click through, file): the data set, a binary, names with & and '.
    cases = [
        (("pub", "releases"), "sample-data.bin"),
        (("pub", "releases"), "logo.png"),
        ((), "Q&A.txt"),
        (("Director's-cut",), "editor's-notes.txt"),
    ]

    def test_links_download_the_served_bytes(self):
        for left in os.listdir(self.rig.downloads):
            os.remove(os.path.join(self.rig.downloads, left))
        for folders, name in self.cases:
            with self.subTest(file="/".join(folders + (name,))):
                self.open("browse.asp")
                for folder in folders:
                    self.follow(self.link_named(folder))
                    self.assert_page_ok()
                self.link_named(name).click()
                saved = self.rig.wait_for_download(name)
                with open(saved, "rb") as f:
                    arrived = f.read()
                with open(os.path.join(self.rig.ftp_root, *folders, name), "rb") as f:
                    served = f.read()
                self.assertEqual(len(arrived), len(served))
                self.assertEqual(hashlib.sha256(arrived).hexdigest(), hashlib.sha256(served).hexdigest())
        # The data set is past aspdev's 4 MB response buffer, as on IIS: a
        # download that does not flush fails it.
        self.assertGreaterEqual(os.path.getsize(self.rig.data_set), 12 * 1024 * 1024)
        self.assertEqual(sorted(os.listdir(self.rig.downloads)), sorted(name for _, name in self.cases))


    def test_a_file_gone_since_the_listing_is_reported(self):
        self.open("browse.asp?d=%2Fincoming")
        gone = os.path.join(self.rig.ftp_root, "incoming", "gone.txt")
        with open(gone, "w") as f:
            f.write("about to go\n")
        self.driver.refresh()
        link = self.link_named("gone.txt")
        os.remove(gone)
        self.follow(link)
        failures = self.driver.find_elements(By.ID, "failure")
        self.assertEqual(len(failures), 1, "an error paragraph in place of the file")
        self.assertIn("&H80040211", failures[0].text)
        self.assertNotIn("gone.txt", os.listdir(self.rig.downloads))


def demo_page():
    head, body = http_server.DEMO_PAGE.split(b"\r\n\r\n", 1)
    headers = [line.split(":", 1) for line in head.decode("ascii").split("\r\n")[1:]]
    return {name: value.strip() for name, value in headers}, body.decode("utf-8")


HOSTILE_HEADER = "<b>bold</b> & \"quoted\" 'single'"
HOSTILE_BODY = "<script>window.pwned=1</script><h1 id=\"injected\">not a heading</h1>&amp; stays &amp;"
HOSTILE_REASON = "OK <i id=\"injected-reason\">fine</i>"
HOSTILE_RESPONSE = ("HTTP/1.1 200 " + HOSTILE_REASON + "\r\nContent-Type: text/html\r\nX-Sample: %s\r\nContent-Length: %d\r\n"
                    "Connection: close\r\n\r\n%s" % (HOSTILE_HEADER, len(HOSTILE_BODY), HOSTILE_BODY)).encode()


class FetchPage(PageTest):
    def header_table(self):
        rows = self.driver.find_elements(By.CSS_SELECTOR, "#headers tr")
        self.assertGreater(len(rows), 1, "a header table with rows")
        table = {}
        for row in rows[1:]:
            cells = row.find_elements(By.TAG_NAME, "td")
            self.assertEqual(len(cells), 2)
            table[cells[0].get_attribute("textContent")] = cells[1].get_attribute("textContent")
        return table

    def submit(self, url=None):
        self.open("fetch.asp")
        field = self.driver.find_element(By.ID, "url")
        if url is not None:
            field.clear()
            field.send_keys(url)
        self.follow(self.driver.find_element(By.ID, "fetch"))

    def test_default_address_is_the_bundled_server(self):
        self.open("fetch.asp")
        self.assertEqual(self.driver.find_element(By.ID, "url").get_attribute("value"),
                         "http://127.0.0.1:%d/" % self.rig.http_port)
        self.follow(self.driver.find_element(By.ID, "fetch"))
        self.assert_page_ok()
        self.assertEqual(self.driver.find_element(By.ID, "status").text, "200 OK")
        sent, body = demo_page()
        table = self.header_table()
        for name, value in sent.items():
            self.assertEqual(table.get(name), value, "header %s" % name)
        self.assertEqual(self.driver.find_element(By.ID, "content").get_attribute("textContent"), body)
        # Shown as text: the server's markup made no elements.
        self.assert_no_elements("#content *", "elements made of served text")
        self.rig.screenshot("fetch")

    def test_markup_from_the_server_is_shown_as_text(self):
        self.rig.http_route("/hostile", HOSTILE_RESPONSE)
        self.submit("http://127.0.0.1:%d/hostile" % self.rig.http_port)
        self.assert_page_ok()
        self.assertEqual(self.driver.find_element(By.ID, "status").get_attribute("textContent"), "200 " + HOSTILE_REASON)
        self.assertEqual(self.header_table().get("X-Sample"), HOSTILE_HEADER)
        self.assertEqual(self.driver.find_element(By.ID, "content").get_attribute("textContent"), HOSTILE_BODY)
        self.assert_no_elements("#injected, #injected-reason", "elements made of served text")
        self.assert_no_elements("#headers b", "elements made of served text")
        self.assert_no_script_ran()

    def test_a_failed_request_shows_the_error(self):
        self.rig.http_route("/cut", b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nshort")
        self.submit("http://127.0.0.1:%d/cut" % self.rig.http_port)
        failures = self.driver.find_elements(By.ID, "failure")
        self.assertEqual(len(failures), 1, "an error paragraph")
        self.assertRegex(failures[0].text, r"^Error &H800403[E-F][0-9A-F]: \S")

    def test_addresses_outside_the_allowed_prefix_are_not_fetched(self):
        http, ftp = self.rig.http_port, self.rig.ftp_port
        for address in ("http://127.0.0.1:%d/" % ftp,
                        "http://127.0.0.1:%d@127.0.0.1:%d/" % (http, ftp),
                        "http://127.0.0.1:%d0/" % http,
                        "https://127.0.0.1:%d/" % http,
                        "HTTP://127.0.0.1:%d/" % http,
                        "http://127.0.0.1:%d/\"><i>x</i>" % ftp):
            with self.subTest(address=address):
                self.submit(address)
                self.assert_page_ok()
                self.assertEqual(len(self.driver.find_elements(By.ID, "refused")), 1, "a refusal")
                self.assert_no_elements("#status", "a fetched response")
                self.assert_no_elements("main i", "elements made of the typed address")
                # The field keeps what was typed, as text.
                self.assertEqual(self.driver.find_element(By.ID, "url").get_attribute("value"), address)

    def test_a_redirect_is_shown_not_followed(self):
        self.rig.http_route("/moved", b"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:%d/\r\n"
                                      b"Content-Length: 0\r\nConnection: close\r\n\r\n" % self.rig.ftp_port)
        self.submit("http://127.0.0.1:%d/moved" % self.rig.http_port)
        self.assert_page_ok()
        self.assertEqual(self.driver.find_element(By.ID, "status").text, "302 Found")
        self.assertEqual(self.header_table().get("Location"), "http://127.0.0.1:%d/" % self.rig.ftp_port)


# Names a page must show as text. Wine's listing parser keeps only the first
# word of a name, so the same attack is also spelled with form feeds, which
# HTML takes for spaces and the parser keeps.
HOSTILE_FILES = [
    "<img src=x onerror=window.pwned=1>",
    "<img\fsrc=x\fonerror=window.pwned=1>",
    "\"quoted\"&'single'.txt",
]
HOSTILE_FOLDER = "\"><svg\fonload=window.pwned=1>"


def as_listed(name):
    return name.split(" ")[0]


class HostileNames(PageTest):
    @classmethod
    def prepare_tree(cls, root):
        hostile = os.path.join(root, "hostile")
        os.mkdir(hostile)
        for name in HOSTILE_FILES:
            with open(os.path.join(hostile, name), "w") as f:
                f.write("served as %r\n" % name)
        os.mkdir(os.path.join(hostile, HOSTILE_FOLDER))
        with open(os.path.join(hostile, HOSTILE_FOLDER, "inside.txt"), "w") as f:
            f.write("inside\n")

    def shown_names(self):
        return sorted(link.get_attribute("textContent") for link in self.row_links())

    def test_names_are_text(self):
        self.open("browse.asp")
        self.follow(self.link_named("hostile"))
        self.assert_page_ok()

        self.assert_no_script_ran()
        self.assert_no_elements("table img, table svg", "elements made of served text")
        shown = self.shown_names()
        expected = sorted([as_listed(name) for name in HOSTILE_FILES] + [HOSTILE_FOLDER])
        whole = sorted(HOSTILE_FILES + [HOSTILE_FOLDER])
        self.assertIn(shown, (expected, whole), "names as listed (Wine cuts at a space) or whole")

    def test_folder_with_markup_in_its_name(self):
        self.open("browse.asp?d=%2Fhostile")
        self.follow(self.link_named(HOSTILE_FOLDER))
        self.assert_page_ok()

        self.assert_no_script_ran()
        self.assert_no_elements("svg, main img", "elements made of served text")
        self.assertEqual(self.driver.find_element(By.ID, "folder").get_attribute("textContent"),
                         "/hostile/" + HOSTILE_FOLDER)
        self.assertEqual(self.shown_names(), ["inside.txt"])


def main():
    p = argparse.ArgumentParser(add_help=False)
    p.add_argument("--build-dir", required=True)
    p.add_argument("--loader", required=True)
    p.add_argument("--aspdev", required=True)
    known, rest = p.parse_known_args()
    settings.build_dir = known.build_dir
    settings.loader = known.loader
    settings.aspdev = known.aspdev
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
