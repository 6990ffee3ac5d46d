#!/usr/bin/env python3
"""The service's web pages in headless Chromium, as a user meets them.

Starts tallowdesk-server (demo content) on a free port, then drives Debian's
chromium through the DevTools protocol: signs in through the form on the way
to a document's page opened from its feed "alternate" link, opens a public
entry's page without signing in, downloads from the pages and compares the
bytes with what the feeds give, and saves a PNG screenshot of each page.

Usage: browser_pages_test.py SERVER_BINARY OUTPUT_DIR
"""
import base64
import os
import select
import shutil
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # nothing written beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cdp import Browser  # noqa: E402

ATOM = "{http://www.w3.org/2005/Atom}"
DEMO = ("demo@tallowdesk.test", "tallowdesk-demo")
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--disable-extensions", "--hide-scrollbars", "--mute-audio"]

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


class Service:
    """The real server program with the demo account, on a free port."""

    def __init__(self, binary, data_dir, env):
        self.proc = subprocess.Popen([binary, "--data-dir", data_dir, "--port", "0", "--demo"],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
        self.port = None
        deadline = time.monotonic() + 60
        seen = b""
        # Read from the pipe itself: a buffered readline may take the line
        # with the port along with the one before it, and select would then
        # wait for bytes that already came.
        out = self.proc.stdout.fileno()
        while self.port is None:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([out], [], [], left)[0]:
                raise RuntimeError("the service did not start: %r" % seen)
            chunk = os.read(out, 65536)
            if not chunk:
                raise RuntimeError("the service stopped: %r" % seen)
            seen += chunk
            for line in seen.split(b"\n")[:-1]:
                if b"listening on https://localhost:" in line:
                    self.port = int(line.split(b"localhost:")[1].split()[0])
        self.tls = ssl.create_default_context(cafile=os.path.join(data_dir, "cert.pem"))
        self.token = None

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)

    def request(self, method, path, body=None, headers=None):
        url = path if path.startswith("http") else "https://localhost:%d%s" % (self.port, path)
        all_headers = {"GData-Version": "3.0"}
        if self.token:
            all_headers["Authorization"] = "GoogleLogin auth=" + self.token
        all_headers.update(headers or {})
        req = urllib.request.Request(url, data=body, method=method, headers=all_headers)
        with urllib.request.urlopen(req, context=self.tls, timeout=30) as answer:
            return answer.read()

    def sign_in(self):
        form = urllib.parse.urlencode({"Email": DEMO[0], "Passwd": DEMO[1], "service": "writely",
                                       "accountType": "HOSTED_OR_GOOGLE"}).encode()
        answer = self.request("POST", "/accounts/ClientLogin", form).decode()
        self.token = answer.split("Auth=")[1].split("\n")[0]

    def find(self, words, kind):
        """The first entry of that kind whose title has the words, as the window lists it."""
        feed = ET.fromstring(self.request(
            "GET", "/feeds/default/private/full?showfolders=true&q=" + urllib.parse.quote(words)))
        for entry in feed.iter(ATOM + "entry"):
            resource = entry.find("{http://schemas.google.com/g/2005}resourceId").text
            if resource.split(":")[0] != kind:
                continue
            links = {l.get("rel"): l.get("href") for l in entry.findall(ATOM + "link")}
            return {"title": entry.find(ATOM + "title").text, "id": resource.split(":")[1],
                    "kind": kind, "alternate": links["alternate"],
                    "content": entry.find(ATOM + "content").get("src")}
        raise RuntimeError("no %s named %s in the feed" % (kind, words))

    def make_public(self, entry):
        body = ("<entry xmlns=\"http://www.w3.org/2005/Atom\"  "
                "xmlns:gAcl='http://schemas.google.com/acl/2007'>"
                "<category scheme='http://schemas.google.com/g/2005#kind' "
                "term='http://schemas.google.com/acl/2007#accessRule'/>"
                "<gAcl:role value='reader'/><gAcl:scope type='default'/></entry>")
        self.request("POST", "/feeds/default/private/full/%s%%3A%s/acl" % (entry["kind"], entry["id"]),
                     body.encode(), {"Content-Type": "application/atom+xml"})


class Tab:
    """One page of the browser in its own browser context (its own cookies)."""

    def __init__(self, browser, download_dir, width=1100, height=820, mobile=False):
        self.browser = browser
        context = browser.send("Target.createBrowserContext")["browserContextId"]
        target = browser.send("Target.createTarget", {"url": "about:blank",
                                                      "browserContextId": context})["targetId"]
        self.session = browser.send("Target.attachToTarget",
                                    {"targetId": target, "flatten": True})["sessionId"]
        self.send("Page.enable")
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})
        browser.send("Browser.setDownloadBehavior",
                     {"behavior": "allow", "downloadPath": download_dir, "eventsEnabled": True,
                      "browserContextId": context})

    def send(self, method, params=None):
        return self.browser.send(method, params, session=self.session)

    def go(self, url):
        self.browser.mark()
        self.send("Page.navigate", {"url": url})
        self.browser.wait_event("Page.loadEventFired", session=self.session)

    def eval(self, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        return result["result"].get("value")

    def click_and_load(self, selector):
        self.browser.mark()
        self.eval("document.querySelector(%r).click()" % selector)
        self.browser.wait_event("Page.loadEventFired", session=self.session)

    def download(self, selector, folder):
        self.browser.mark()
        self.eval("document.querySelector(%r).click()" % selector)
        begin = self.browser.wait_event("Browser.downloadWillBegin")
        self.browser.wait_event("Browser.downloadProgress", timeout=60,
                                match=lambda p: p.get("guid") == begin["guid"] and
                                p.get("state") in ("completed", "canceled"))
        path = os.path.join(folder, begin["suggestedFilename"])
        with open(path, "rb") as f:
            return f.read()

    def screenshot(self, path):
        # The whole page, not only the first screen.
        height = self.eval("Math.ceil(document.documentElement.scrollHeight)") or 800
        width = self.eval("document.documentElement.clientWidth") or 1100
        shot = self.send("Page.captureScreenshot",
                         {"format": "png", "captureBeyondViewport": True,
                          "clip": {"x": 0, "y": 0, "width": width, "height": min(height, 4000),
                                   "scale": 1}})
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print("screenshot: " + path, flush=True)

    def url(self):
        return self.eval("location.href")

    def text(self):
        return self.eval("document.body.innerText") or ""


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    server_binary, out_dir = sys.argv[1], os.path.abspath(sys.argv[2])
    chromium = shutil.which("chromium")
    if not chromium:
        print("FAIL chromium is not installed; scripts/deps.sh installs it")
        return 1
    os.makedirs(out_dir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="tallowdesk-browser-")
    env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
               XDG_CACHE_HOME=os.path.join(work, "cache"),
               XDG_DATA_HOME=os.path.join(work, "data"))
    service = browser = None
    try:
        service = Service(server_binary, os.path.join(work, "server"), env)
        service.sign_in()
        document = service.find("Meeting notes", "document")
        picture = service.find("mockup", "file")
        public = service.find("readme", "file")
        service.make_public(public)
        check(document["alternate"].startswith("http://localhost:%d/" % service.port),
              "the feed links the page by plain http on loopback: " + document["alternate"])

        browser = Browser(chromium, CHROMIUM_FLAGS + [
            "--user-data-dir=" + os.path.join(work, "chromium-profile")], env)
        downloads = os.path.join(work, "downloads")
        os.makedirs(downloads)

        # Opened as the window opens it: the sign-in form first, then the page.
        tab = Tab(browser, downloads)
        tab.go(document["alternate"])
        check("/accounts/ServiceLogin" in tab.url(), "no session: the sign-in form comes first")
        tab.screenshot(os.path.join(out_dir, "browser-signin.png"))
        tab.eval("document.querySelector('input[name=Email]').value = %r" % DEMO[0])
        tab.eval("document.querySelector('input[name=Passwd]').value = %r" % DEMO[1])
        tab.click_and_load("input[type=submit]")
        check(tab.url() == document["alternate"], "after signing in, back on the page: " + tab.url())
        check(tab.eval("document.querySelector('h1.title').textContent") == "Meeting notes",
              "the document page shows its title")
        page_text = tab.text()
        check("demo@tallowdesk.test" in page_text and "Who has access" in page_text,
              "the document page shows owner and access")
        check(tab.eval("document.querySelector('iframe.preview').getAttribute('sandbox')") == "",
              "the document preview is a sandboxed frame")
        tab.screenshot(os.path.join(out_dir, "browser-document.png"))

        # Download from a page: the same bytes as the feeds give the program.
        tab.go(picture["alternate"])
        check(tab.eval("document.querySelector('img.preview').naturalWidth") > 0,
              "the picture shows inline")
        tab.screenshot(os.path.join(out_dir, "browser-picture.png"))
        got = tab.download("a.button", downloads)
        expected = service.request("GET", picture["content"])
        check(got == expected and len(got) > 0,
              "downloaded %d bytes of %s, the feeds give %d" % (len(got), picture["title"],
                                                                len(expected)))

        for name, path in [("home", "/"), ("folder", "/folderview?id=root"),
                           ("storage", "/accounts/PurchaseStorage"),
                           ("guide", "/quick-start-guide.html")]:
            tab.go("http://localhost:%d%s" % (service.port, path))
            check("/accounts/ServiceLogin" not in tab.url(), "signed in, %s opens" % name)
            if name == "storage":
                check("You are currently using" in tab.text(), "the storage page shows the usage")
            tab.screenshot(os.path.join(out_dir, "browser-%s.png" % name))
        broken = tab.eval("Array.from(document.images).filter(i => !i.naturalWidth)"
                          ".map(i => i.src)")
        check(broken == [], "every picture of the guide loads: %s" % broken)

        # A phone-sized window needs no sideways scrolling.
        phone = Tab(browser, downloads, width=390, height=800, mobile=True)
        phone.go(public["alternate"])
        check(phone.eval("document.documentElement.scrollWidth <= window.innerWidth + 1"),
              "the page fits a phone's width")
        phone.screenshot(os.path.join(out_dir, "browser-phone.png"))

        # A public entry without signing in (a fresh context has no cookies).
        anonymous = Tab(browser, downloads)
        anonymous.go(public["alternate"])
        check(anonymous.url() == public["alternate"], "the public page opens without sign-in")
        text = anonymous.text()
        check("Anyone on the Internet can find and access. No sign-in required." in text,
              "the public page says it is public")
        check("Sign in" in text, "the public page offers to sign in")
        anonymous.screenshot(os.path.join(out_dir, "browser-public.png"))
        got = anonymous.download("a.button", downloads)
        expected = service.request("GET", public["content"])
        check(got == expected, "public download without sign-in has the feed's bytes")

        # Creating an account: the form's errors are shown, then the new account signs in.
        anonymous.go("http://localhost:%d/accounts/NewAccount" % service.port)
        anonymous.eval("document.querySelector('input[name=Email]').value = 'new@example.test'")
        anonymous.eval("document.querySelector('input[name=Passwd]').value = 'short'")
        anonymous.eval("document.querySelector('input[name=PasswdAgain]').value = 'short'")
        anonymous.click_and_load("button[type=submit]")
        check("at least 8 characters" in anonymous.text(), "a short password is refused")
        anonymous.screenshot(os.path.join(out_dir, "browser-newaccount.png"))
        anonymous.eval("document.querySelector('input[name=Passwd]').value = 'long-enough'")
        anonymous.eval("document.querySelector('input[name=PasswdAgain]').value = 'long-enough'")
        anonymous.click_and_load("main button[type=submit]")
        # The answer is the same for a taken address: it signs nobody in.
        check("Check your mail" in anonymous.text(), "the form asks to check the mail")
        anonymous.click_and_load("#sent + p a")
        anonymous.eval("document.querySelector('input[name=Email]').value = 'new@example.test'")
        anonymous.eval("document.querySelector('input[name=Passwd]').value = 'long-enough'")
        anonymous.click_and_load("input[type=submit]")
        check("new@example.test" in anonymous.text(), "the new account signs in")
        anonymous.click_and_load("header button[type=submit]")
        check("Create an account" in anonymous.text(), "signing out works")
    finally:
        if browser:
            browser.close()
        if service:
            service.stop()
        shutil.rmtree(work, ignore_errors=True)
    print("screenshots in " + out_dir)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
