#!/usr/bin/env python3
"""The extension end to end, one row of the table per thing a page or a user does.

Firefox (Debian's firefox-esr, a fresh profile, the extension installed as a
temporary add-on) runs on the private Xvfb that browser_test.sh started; the
host and Halvane run under Wine in its private prefix. Clicks are real input
(xdotool), so a page's gesture is a user's. Firefox's windows are X windows
and Halvane looks among Windows ones, so the stand-in browser keeps one window
per Firefox window, titled as X has it the moment it changes.

For each row the test checks what the page heard, the window's title, the
toolbar badge (read through Marionette, as the user sees it) and how many of
Halvane's prompts showed. The example page for authors reports nothing: its
rows read what it shows the user. Usage: browser_test.py BIN (halvane.exe,
halvane-host.exe and standin_browser.exe).
"""
import http.server
import json
import os
import queue
import re
import socket
import subprocess
import sys
import threading
import time

# Set by browser_test.sh (and read by the browser benchmark, which shares this harness).
BIN = sys.argv[1] if len(sys.argv) > 1 else ""
REPO, WORK = os.environ.get("HALVANE_REPO"), os.environ.get("HALVANE_WORK")
PIN = re.compile("\U0001F4CC [a-z2-9]{4} ")
TITLE = "Halvane browser test"
# Sites the test's Firefox resolves to the loopback, and the answers Halvane remembers.
REMEMBERED = {"deny.test": 0, "allow.test": 1, "leave.test": 1, "again.test": 1, "reload.test": 1,
              "idle.test": 1, "renew.test": 1, "kill.test": 1, "retake.test": 1, "hide.test": 1, "waitgone.test": 1,
              "bfcache.test": 1, "policy.test": 0, "blocked.test": 1}
# The administrators' policy, in the machine's key as Group Policy writes it: it overrides both remembered answers.
POLICY = {"AllowedSites": "policy.test", "BlockedSites": "[*.]blocked.test"}
SITES = ["never.test", "cancel.test", "once.test", "retitle.test", "gesture.test", "tab.test", "focus.test", "frame.test",
         "child.test", "loop.test", "away.test", "other.test", "popup.test", "insist.test", "letgo.test", "nav.test",
         "withdraw.test", "flood.test", "frameask.test", "keep.localhost", "pip.localhost", "german.test", *REMEMBERED,
         *(f"bench{n}.test" for n in range(40))]


class Failure(Exception):
    pass


def until(what, seconds, condition, step=0.1):
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {seconds} s waiting for {what}")
        time.sleep(step)


class Page(http.server.SimpleHTTPRequestHandler):
    """Serves page.html and examples/; records what each row's page heard and steers it."""
    heard, commands, lock = {}, {}, threading.Lock()

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=os.path.dirname(os.path.abspath(__file__)), **kwargs)

    def translate_path(self, path):
        if path.startswith("/examples/"):
            return os.path.join(REPO, "examples", os.path.basename(path.split("?")[0]))
        return super().translate_path(path)

    def do_GET(self):
        parts = self.path.split("?")[0].strip("/").split("/")
        if parts[0] == "outcome" and len(parts) in (4, 5):
            with Page.lock:
                Page.heard.setdefault(parts[1], []).append("/".join(parts[2:4]) + "".join(f"@{p}" for p in parts[4:]))
            return self.reply(b"")
        if parts[0] == "command" and len(parts) == 2:
            return self.reply(Page.commands.get(parts[1], "").encode())
        if parts[0] in ("loaded", "restored") and len(parts) == 2:
            with Page.lock:
                Page.heard.setdefault(parts[0], []).append(parts[1])
            return self.reply(b"")
        if parts[0] == "favicon.ico":
            return self.reply(b"")
        return super().do_GET()

    def reply(self, body):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def heard(row):
    with Page.lock:
        return list(Page.heard.get(row, []))


class Marionette:
    """Just enough of Firefox's Marionette protocol: install the extension and read the toolbar."""

    def __init__(self, port):
        self.sock = until("Marionette", 60, lambda: self.connect(port), 0.3)
        self.buffer, self.serial = b"", 0
        self.receive()
        self.call("WebDriver:NewSession", {"capabilities": {}})

    @staticmethod
    def connect(port):
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=30)
        except OSError:
            return None

    def receive(self):
        while b":" not in self.buffer:
            self.buffer += self.sock.recv(65536)
        size, rest = self.buffer.split(b":", 1)
        while len(rest) < int(size):
            rest += self.sock.recv(65536)
        self.buffer = rest[int(size):]
        return json.loads(rest[:int(size)])

    def call(self, command, parameters=None):
        self.serial += 1
        data = json.dumps([0, self.serial, command, parameters or {}]).encode()
        self.sock.sendall(str(len(data)).encode() + b":" + data)
        while True:
            message = self.receive()
            if message[0] == 1 and message[1] == self.serial:
                if message[2]:
                    raise Failure(f"Marionette {command}: {message[2].get('message')}")
                result = message[3] or {}
                return result.get("value", result) if isinstance(result, dict) else result

    def chrome(self, script):
        self.call("Marionette:SetContext", {"value": "chrome"})
        try:
            return self.call("WebDriver:ExecuteScript", {"script": script, "args": []})
        finally:
            self.call("Marionette:SetContext", {"value": "content"})

    def content(self, script, *args):
        return self.call("WebDriver:ExecuteScript", {"script": script, "args": list(args)})

    def install(self):
        self.call("Addon:Install", {"path": os.path.join(REPO, "extension"), "temporary": True})
        # The button out of the extensions menu and onto the toolbar, where its badge shows.
        self.chrome("""
            const {CustomizableUI} = ChromeUtils.importESModule(
              "moz-src:///browser/components/customizableui/CustomizableUI.sys.mjs");
            CustomizableUI.addWidgetToArea("halvane_marrowin_org-browser-action", CustomizableUI.AREA_NAVBAR);""")

    def title(self):
        return self.chrome("""
            const button = document.querySelector("#halvane_marrowin_org-browser-action .webextension-browser-action");
            return button ? button.getAttribute("label") : "";""") or ""

    def panel(self, button="let-go"):
        """Opens the toolbar button's panel as a click does, gives its lang and visible text, and presses the
        button there (Let go, or the one that forgets dismissed prompts)."""
        self.call("Marionette:SetContext", {"value": "chrome"})
        try:
            toolbar = self.call("WebDriver:FindElement", {
                "using": "css selector", "value": "#halvane_marrowin_org-browser-action .webextension-browser-action"})
            self.call("WebDriver:ElementClick", {"id": next(iter(toolbar.values()))})
        finally:
            self.call("Marionette:SetContext", {"value": "content"})
        until("the panel's page", 10, lambda: self.chrome("""
            const page = document.querySelector("browser.webextension-popup-browser");
            return page?.currentURI.spec.endsWith("/popup.html") && page.browsingContext.currentWindowGlobal != null;"""))
        # Its page runs in the extension's process: a frame script (as Firefox's own panel code uses)
        # reads it there once its script has shown a part and, once that has arrived, presses the button.
        return self.chrome("""
            function read() {
              const page = content.document, text = page.body?.innerText.trim();
              if (!text) {
                content.setTimeout(read, 50);
                return;
              }
              addMessageListener("halvane-test:press", () => page.getElementById(BUTTON).click());
              sendAsyncMessage("halvane-test:panel", {lang: page.documentElement.lang, text});
            }
            const page = document.querySelector("browser.webextension-popup-browser");
            return new Promise((resolve) => {
              page.messageManager.addMessageListener("halvane-test:panel", (message) => {
                page.messageManager.sendAsyncMessage("halvane-test:press");
                resolve(message.data);
              });
              page.messageManager.loadFrameScript("data:," + encodeURIComponent(`(${read})();`), false);
              setTimeout(() => resolve(null), 25000);   // within Marionette's 30 s for a script
            });""".replace("BUTTON", json.dumps(button)))

    def badge(self):
        return self.chrome("""
            const button = document.getElementById("halvane_marrowin_org-browser-action");
            const badged = button && [button, ...button.querySelectorAll("*")].find((e) => e.hasAttribute("badge"));
            return badged ? badged.getAttribute("badge") : "";""") or ""


class StandIn:
    """The stand-in browser under Wine: one window per Firefox window, and a watch on Halvane."""

    def __init__(self):
        self.process = subprocess.Popen(["wine", os.path.join(BIN, "standin_browser.exe")], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.lines, self.lock, self.write_lock = queue.Queue(), threading.Lock(), threading.Lock()
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.process.stdout:
            self.lines.put(line.decode("utf-8", "replace").rstrip("\r\n"))

    def send(self, command):
        with self.write_lock:
            self.process.stdin.write((command + "\n").encode())
            self.process.stdin.flush()

    def ask(self, command, prefix, seconds=30):
        """Sends the command and gives its first reply line that starts with prefix."""
        with self.lock:
            while not self.lines.empty():
                self.lines.get_nowait()
            self.send(command)
            deadline = time.monotonic() + seconds
            while time.monotonic() < deadline:
                try:
                    line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
                except queue.Empty:
                    break
                if line.startswith(prefix):
                    return line
            raise Failure(f"the stand-in browser did not answer {command!r}")

    def close(self):
        try:
            self.send("quit")
            self.process.wait(10)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()


class Mirror:
    """Keeps a stand-in window titled as one Firefox window, from X's own change notices."""

    def __init__(self, standin, window):
        self.standin, self.number = standin, None
        self.spy = subprocess.Popen(["xprop", "-spy", "-id", window, "_NET_WM_NAME"], stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL)
        threading.Thread(target=self.follow, daemon=True).start()

    def follow(self):
        for raw in self.spy.stdout:
            found = re.match(r'_NET_WM_NAME\(UTF8_STRING\) = "(.*)"$', raw.decode("utf-8", "replace").rstrip("\n"))
            if not found:
                continue
            title = re.sub(r'\\(.)', r'\1', found.group(1))
            if self.number is None:
                reply = self.standin.ask(f"open MozillaWindowClass {title}", "window ")
                self.number = int(reply.split()[1])
            else:
                self.standin.send(f"title {self.number} {title}")
        if self.number is not None:
            self.standin.send(f"close {self.number}")
        self.number = None

    def stop(self):
        self.spy.kill()


class Browser:
    def __init__(self, port, marionette_port):
        self.port, self.standin = port, StandIn()
        self.mirrors = {}
        profile = os.path.join(WORK, "profile")
        os.makedirs(profile)
        prefs = {
            "marionette.port": marionette_port,
            # Firefox unloads an idle background page after this long: a keep must outlast it.
            "extensions.background.idle.timeout": 1000,
            "network.dns.localDomains": ",".join(SITES),
            "dom.security.https_first": False,
            "browser.shell.checkDefaultBrowser": False,
            "browser.startup.homepage_override.mstone": "ignore",
            "browser.aboutwelcome.enabled": False,
            "datareporting.policy.dataSubmissionEnabled": False,
            "toolkit.telemetry.reportingpolicy.firstRun": False,
            "app.update.disabledForTesting": True,
            "browser.tabs.warnOnClose": False,
        }
        with open(os.path.join(profile, "user.js"), "w") as out:
            out.writelines(f'user_pref("{k}", {json.dumps(v)});\n' for k, v in prefs.items())
        env = dict(os.environ, HOME=os.path.join(WORK, "home"))
        self.firefox = subprocess.Popen(
            ["firefox-esr", "--profile", profile, "--no-remote", "--marionette", "-remote-allow-system-access",
             "about:blank"], env=env, stdout=open(os.path.join(WORK, "firefox.log"), "w"), stderr=subprocess.STDOUT)
        self.marionette = Marionette(marionette_port)
        self.main = self.marionette.call("WebDriver:GetWindowHandle")
        self.marionette.install()
        threading.Thread(target=self.find_windows, daemon=True).start()

    def speak(self, language):
        """Firefox's interface in the language (None: its own), and the extension started anew, as it reads
        its texts when it starts."""
        spoken = self.marionette.chrome(f"""
            const language = {json.dumps(language)};
            if (language) Services.locale.requestedLocales = [language];
            else Services.prefs.clearUserPref("intl.locale.requested");
            return Services.locale.appLocaleAsBCP47;""")
        if language and spoken != language:
            raise Failure(f"Firefox speaks {spoken}, not {language}: its language pack (scripts/setup) is missing")
        self.marionette.install()

    def x_windows(self):
        return subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", "Navigator"], capture_output=True,
                              text=True).stdout.split()

    def find_windows(self):
        while self.firefox.poll() is None:
            for window in self.x_windows():
                if window not in self.mirrors:
                    self.mirrors[window] = Mirror(self.standin, window)
            time.sleep(0.1)

    def x_title(self, window):
        return subprocess.run(["xdotool", "getwindowname", window], capture_output=True, text=True).stdout.strip()

    def geometry(self, window):
        return {k: int(v) for k, v in (line.split("=") for line in subprocess.run(
            ["xdotool", "getwindowgeometry", "--shell", window], capture_output=True, text=True).stdout.split())}

    def click(self, window, point=None):
        # A window manager would give the window the focus on a click; the Xvfb has none.
        subprocess.run(["xdotool", "windowfocus", window])
        geometry = self.geometry(window)
        x, y = point or (geometry["X"] + geometry["WIDTH"] // 2, geometry["Y"] + geometry["HEIGHT"] * 2 // 3)
        subprocess.run(["xdotool", "mousemove", str(round(x)), str(round(y)), "click", "1"], check=True)

    def open(self, url):
        """The page in a new tab in place of the last one: a tab's count of dismissed prompts is its own."""
        last = self.main
        self.main = self.marionette.call("WebDriver:NewWindow", {"type": "tab", "focus": True})["handle"]
        self.marionette.call("WebDriver:SwitchToWindow", {"handle": last, "focus": False})
        self.marionette.call("WebDriver:CloseWindow")
        self.marionette.call("WebDriver:SwitchToWindow", {"handle": self.main, "focus": True})
        self.marionette.call("WebDriver:Navigate", {"url": url})

    def close(self):
        for mirror in list(self.mirrors.values()):
            mirror.stop()
        self.firefox.terminate()
        try:
            self.firefox.wait(15)
        except subprocess.TimeoutExpired:
            self.firefox.kill()
        self.standin.close()


class Row:
    """optional: outcomes the page may or may not hear (a document told as it goes away);
    unordered: outcomes matched to requests by their ids, in whatever order they came;
    language: Firefox's, and the folder of the extension's texts in it."""

    def __init__(self, name, site, click, steps, heard, prompts, extra_heard=None, optional=(), unordered=False,
                 language=None):
        self.name, self.site, self.click, self.steps = name, site, click, steps
        self.heard, self.prompts, self.extra_heard = heard, prompts, extra_heard or {}
        self.optional, self.unordered, self.language = optional, unordered, language
        self.key = None   # the page's name for its row, given in order


LOOP = [f"refused/no-gesture@k{i}" for i in range(20)] + [f"released/not-kept@l{i}" for i in range(20)]


def asked_and(then, heard_each, times, *more):
    """A request on a click, and while its prompt shows, what `then` does, until the page has
    heard heard_each more outcomes; `times` over."""
    return [step for n in range(times) for step in ["click", "prompt", *then, f"heard {heard_each * (n + 1)}"]] + list(more)


TAKEN_BACK = ["released/tab"]   # heard only when the old document is still there to hear it
# Rows run in order; "three dismissals" goes on from "Cancel" (one site's count).
ROWS = [
    Row("Never", "never.test", "keep", ["click", "answer never", "heard 1"], ["declined/never"], 1),
    Row("Cancel", "cancel.test", "keep", ["click", "answer cancel", "heard 1"], ["dismissed/cancel"], 1),
    Row("a remembered Never", "deny.test", "keep", ["click", "heard 1"], ["declined/remembered"], 0),
    Row("a site that policy allows, over the user's Never: kept, never asked", "policy.test", "keep",
        ["click", "heard 1", "kept", "command let-go", "heard 2"], ["kept/policy", "released/page"], 0),
    Row("a site that policy blocks, over the user's Allow", "blocked.test", "keep", ["click", "heard 1"],
        ["declined/policy"], 0),
    Row("a remembered Allow, asked again, then another tab shown", "allow.test", "keep",
        ["click", "heard 1", "kept", "click", "heard 2", "tab", "heard 4", "untab"],
        ["kept/remembered", "kept/already", "released/tab", "released/tab"], 0),
    Row("Just this time, then let go", "once.test", "keep",
        ["click", "answer once", "heard 1", "kept", "command let-go", "heard 2"], ["kept/allowed", "released/page"], 1),
    Row("let go and ask again 150 ms later", "again.test", "again",
        ["click", "heard 1", "click", "heard 3", "sleep 2", "kept", "command let-go", "heard 4"],
        ["kept/remembered", "released/page", "kept/remembered", "released/page"], 0),
    Row("a kept page goes to another site", "leave.test", "keep&to=other.test",
        ["click", "heard 1", "kept", "command leave", "sleep 2"], ["kept/remembered"], 0, {"-after": []},
        optional=TAKEN_BACK),
    Row("one click, and the page asks again on every dismissal", "insist.test", "insist",
        ["click", "answer cancel", "heard 2"], ["dismissed/cancel", "refused/no-gesture"], 1),
    Row("four requests that retitle the page while Halvane asks", "retitle.test", "keep",
        asked_and(["command retitle", "gone 2"], 1, 3, "click", "heard 4"), ["released/title"] * 3 + ["refused/embargoed"],
        3),
    Row("four requests let go while Halvane asks", "letgo.test", "keep",
        asked_and(["command let-go", "gone 1", "stored-none"], 2, 3, "click", "heard 7"),
        ["released/page"] * 6 + ["refused/embargoed"], 3),
    Row("four requests that reload the page while Halvane asks", "nav.test", "keep",
        asked_and(["command reload", "gone 2", "reloaded"], 0, 3, "click", "heard 1"), ["refused/embargoed"], 3,
        optional=TAKEN_BACK),
    Row("keep, then let go 100 ms later", "withdraw.test", "withdraw", ["click", "heard 2", "sleep 1"],
        ["released/page", "released/page"], 0),
    Row("a request waiting for a keep to end, let go", "retake.test", "retake",
        ["click", "heard 1", "kept", "click", "heard 4", "sleep 2"],
        ["kept/remembered"] + ["released/page"] * 3, 0),
    Row("a request waiting for a keep to end, its page reloaded", "waitgone.test", "waitgone",
        ["click", "heard 1", "kept", "click", "reloaded", "sleep 3"], ["kept/remembered"], 0,
        optional=["released/page", "released/tab"]),
    Row("a kept page back from the back-forward cache", "bfcache.test", "keep&to=other.test",
        ["click", "heard 1", "kept", "command leave", "left", "sleep 2", "back", "heard 2"],
        ["kept/remembered", "released/tab"], 0, {"-after": []}),
    Row("a kept page reloads, then lets go", "renew.test", "keep",
        ["click", "heard 1", "kept", "command reload", "reloaded", "gone 3", "command let-go", "heard 2", "down 2"],
        ["kept/remembered", "released/not-kept"], 0, optional=TAKEN_BACK),
    Row("a kept window whose Halvane is killed", "kill.test", "keep", ["click", "heard 1", "kept", "kill", "down 2",
                                                                         "heard 2"],
        ["kept/remembered", "error/halvane-exit"], 0),
    Row("a background tab floods 10,000 let-go requests while the front tab asks", "flood.test", "keep",
        ["flood", "click", "prompt 2", "answer cancel", "heard 1", "unflood"], ["dismissed/cancel"], 1,
        {"-flood": ["flood/posted", "flood/answered"]}),
    Row("a kept page that makes 20,000 pagehide events of its own", "hide.test", "keep",
        ["click", "heard 1", "kept", "command hide", "heard-hide 1", "sleep 1", "kept", "command let-go", "heard 2"],
        ["kept/remembered", "released/page"], 0, {"-hide": ["flood/posted"]}),
    Row("no gesture", "gesture.test", "keep", ["command keep", "heard 1"], ["refused/no-gesture"], 0),
    Row("a tab that is not shown", "tab.test", "late", ["click", "tab", "heard 1", "untab"], ["refused/not-active"], 0),
    Row("a window that is not focused", "focus.test", "late", ["click", "window", "heard 1", "unwindow"],
        ["refused/not-focused"], 0),
    Row("a frame's request", "frame.test", "frame&to=child.test", ["click", "sleep 2"], [], 0,
        {"-frame": []}),
    Row("a click in the page, then one in a frame that has the page ask", "frameask.test", "frameask&to=child.test",
        ["click-at 0.3", "click-at 0.85", "heard 1"], ["refused/no-gesture"], 0, {"-frame": []}),
    Row("a click answered, then Escape", "deny.test", "escape", ["click", "heard 1", "key Escape", "heard 2"],
        ["declined/remembered", "refused/no-gesture"], 0),
    Row("a gesture-less loop of 20 requests", "loop.test", "keep", ["command loop", "heard 40"], LOOP, 0,
        unordered=True),
    Row("three dismissals, then the embargo", "cancel.test", "keep",
        ["click", "answer cancel", "heard 1", "click", "answer cancel", "heard 2", "click", "heard 3"],
        ["dismissed/cancel", "dismissed/cancel", "refused/embargoed"], 2),
    # Started anew as by an update (its removal, as the Picture-in-Picture row's, takes its storage with it).
    Row("the embargo, after the extension started anew", "cancel.test", "keep",
        ["install", "goto cancel.test", "click", "heard 1"], ["refused/embargoed"], 0),
    Row("the dismissals forgotten from the toolbar panel", "cancel.test", "keep",
        ["panel-forget", "click", "answer cancel", "heard 1"], ["dismissed/cancel"], 1),
    # Each subdomain in a tab of its own: the tab's own brake (below) has no part in it.
    Row("five subdomains of one domain, each asked and cancelled", "a1.evil.localhost", "keep",
        [step for n in (1, 2, 3) for step in ([] if n == 1 else [f"goto a{n}.evil.localhost"]) +
         ["click", "answer cancel", f"heard {n}"]] +
        ["goto a4.evil.localhost", "click", "heard 4", "goto a5.evil.localhost", "click", "heard 5"],
        ["dismissed/cancel"] * 3 + ["refused/embargoed"] * 2, 3),
    Row("four domains in one tab, each asked and cancelled", "brake1.localhost", "keep",
        [step for n in (1, 2, 3) for step in ([] if n == 1 else [f"visit brake{n}.localhost"]) +
         ["click", "answer cancel", f"heard {n}"]] + ["visit brake4.localhost", "click", "heard 4"],
        ["dismissed/cancel"] * 3 + ["refused/embargoed"], 3),
    # The example page for authors, where both roads are open (*.localhost is a secure context): it takes
    # Halvane's when the extension answers, the browser's Picture-in-Picture window when it does not.
    Row("the example page, with the extension: Halvane", "keep.localhost", "example",
        ["open Road: Halvane", "press keep", "answer once", "says kept (allowed)", "kept", "press let-go",
         "says released (page)"], [], 1),
    Row("the example page, without the extension: Picture-in-Picture", "pip.localhost", "example",
        ["uninstall", "open Road: this browser's Picture-in-Picture", "press keep", "pip 320x200",
         "says timer is in a Picture-in-Picture window", "press let-go", "pip-gone",
         "says the timer is back here", "install"], [], 0),
    Row("navigating away during set-up", "away.test", "away&to=other.test", ["click", "sleep 3"], [], 0,
        {"-after": []}, optional=TAKEN_BACK),
    Row("a popup", "popup.test", "popup",
        ["click", "popup", "click popup", "answer once", "heard-popup 1", "kept popup", "command-popup close",
         "sleep 1"], [], 1, {"-popup": ["kept/allowed"]}),
    Row("the extension reloaded during a keep", "reload.test", "keep", ["click", "heard 1", "kept", "reload"],
        ["kept/remembered"], 0),
    Row("Firefox in German: the toolbar button's titles and its panel", "german.test", "keep",
        ["click", "prompt", "title titleAsking", "answer once", "heard 1", "kept", "title titleKept",
         "panel panelKept", "heard 2"], ["kept/allowed", "released/user"], 1, language="de"),
    Row("a keep of 20 s with a 1 s idle time-out, ended by Halvane", "idle.test", "keep",
        ["click", "heard 1", "sleep 20", "kept", "window-gone", "heard 2"], ["kept/remembered", "released/halvane"],
        0),
]


class Run:
    def __init__(self, browser, port):
        self.browser, self.port, self.serial = browser, port, 0
        self.tab = self.window = self.popup = self.pip = None
        self.known, self.uninstalled = set(), False
        self.figures = []

    def command(self, row, text):
        self.serial += 1
        Page.commands[row] = f"{self.serial} {text}"

    def target(self, which):
        if which == "popup":
            return self.popup
        return self.main_x()

    def main_x(self):
        windows = self.browser.x_windows()
        for window in windows:
            if window not in (self.popup, self.window, self.pip):
                return window
        raise Failure("Firefox's window is gone")

    def pinned(self, window):
        return bool(PIN.search(self.browser.x_title(window)))

    def idle(self, window):
        """No pin, no badge, no Halvane: what every row must end with."""
        title = self.browser.x_title(window)
        if PIN.search(title):
            raise Failure(f"the window is still titled {title!r}")
        badge = self.browser.marionette.badge()
        if badge:
            raise Failure(f"the toolbar badge still says {badge!r}")
        if self.browser.standin.ask("gone 10", "halvane.exe:") != "halvane.exe: none":
            raise Failure("a halvane.exe still runs")

    def kept(self, window):
        title = self.browser.x_title(window)
        if not PIN.search(title):
            raise Failure(f"a kept window is titled {title!r}, without the pin")
        if self.browser.marionette.badge() != "on":
            raise Failure(f"the toolbar badge says {self.browser.marionette.badge()!r} while a window is kept")
        mirror = self.browser.mirrors[window]
        state = self.browser.standin.ask(f"raised {mirror.number} 10", f"window {mirror.number} ")
        if not state.endswith("topmost=yes visible=yes"):
            raise Failure(f"the window is not on top: {state}")

    def recover(self, row):
        """After a failed row: whatever it left asking or kept ends, so the next row starts clean."""
        self.command(row.key, "let-go")
        for command, prefix in (("prompt 1", ""), ("answer cancel", ""), ("gone 10", "halvane.exe:")):
            try:
                self.browser.standin.ask(command, prefix, 15)
            except Failure:
                pass   # nothing left to end, and the next row may still run
        self.popup = self.tab = self.window = self.pip = None
        if self.uninstalled:
            self.step(row, "install")

    def step(self, row, step):
        verb, _, argument = step.partition(" ")
        marionette = self.browser.marionette
        if verb == "click":
            self.browser.click(self.target(argument))
        elif verb == "click-at":
            # A click at so far down the window: the page's button above, a frame below.
            window = self.main_x()
            geometry = self.browser.geometry(window)
            self.browser.click(window, (geometry["X"] + geometry["WIDTH"] // 2,
                                        geometry["Y"] + geometry["HEIGHT"] * float(argument)))
        elif verb == "key":
            subprocess.run(["xdotool", "windowfocus", self.main_x()])
            subprocess.run(["xdotool", "key", argument], check=True)
        elif verb == "prompt":
            reply = self.browser.standin.ask(f"prompt {argument or 30}", "prompt")
            if self.site not in reply:
                raise Failure(f"the prompt does not name {self.site}: {reply}")
            # The host looks every 100 ms, so the badge may follow the prompt a moment later.
            until(f"the toolbar badge to say '?' while Halvane asks (it says {self.browser.marionette.badge()!r})",
                  5, lambda: self.browser.marionette.badge() == "?")
        elif verb == "answer":
            if "prompt" not in row.steps:
                self.step(row, "prompt")
            self.browser.standin.ask(f"answer {argument}", "answered")
        elif verb == "heard" or verb.startswith("heard-"):
            key = row.key + verb[len("heard"):]
            until(f"the page to hear {argument} outcomes (it heard {heard(key)})", 30,
                  lambda: len(heard(key)) >= int(argument))
        elif verb == "kept":
            self.kept(self.target(argument))
        elif verb in ("command", "command-popup"):
            self.command(row.key + ("-popup" if verb == "command-popup" else ""), argument)
        elif verb == "title":
            expected = message(row, argument)
            until(f"the toolbar button's title to be {expected!r} (it is {marionette.title()!r})", 5,
                  lambda: marionette.title() == expected)
        elif verb in ("goto", "visit"):
            # Another site, in a new tab or in this one, that asks on a click as the row's first did.
            url = f"http://{argument}:{self.port}/page.html?row={row.key}&click={row.click}"
            if verb == "goto":
                self.browser.open(url)
            else:
                marionette.call("WebDriver:Navigate", {"url": url})
            self.step(row, "reloaded")
            self.painted()
            self.site = argument
        elif verb == "left":
            until("the page to leave", 20, lambda: row.key + "-after" in heard("loaded"))
        elif verb == "back":
            # History's back, to the page the row left: Firefox shows it again from its back-forward cache.
            marionette.call("WebDriver:Back")
            until("the page to show again", 20, lambda: row.key in heard("restored") or
                  heard("loaded").count(row.key) > self.loads)
            if row.key not in heard("restored"):
                raise Failure("the page was loaded again, not shown from the back-forward cache")
        elif verb == "panel-forget":
            shown, text = marionette.panel("forget"), message(row, "panelDismissed")
            if not shown or text not in shown["text"]:
                raise Failure(f"the panel shows {shown}, without {text!r}")
        elif verb == "panel":
            shown, texts = marionette.panel(), [message(row, argument), message(row, "panelShow")]
            if not shown or shown["lang"] != (row.language or "en") or not all(t in shown["text"] for t in texts):
                raise Failure(f"the panel shows {shown}, not lang {row.language or 'en'} with {texts}")
        elif verb == "sleep":
            time.sleep(float(argument))
        elif verb in ("tab", "window"):
            known = set(self.browser.x_windows())
            handle = marionette.call("WebDriver:NewWindow", {"type": verb, "focus": True})["handle"]
            marionette.call("WebDriver:SwitchToWindow", {"handle": handle, "focus": True})
            if verb == "window":
                self.window = until("the second window", 10, lambda: next(
                    (w for w in self.browser.x_windows() if w not in known), None))
                subprocess.run(["xdotool", "windowfocus", self.window])
            self.tab = handle
        elif verb in ("untab", "unwindow"):
            marionette.call("WebDriver:CloseWindow")
            marionette.call("WebDriver:SwitchToWindow", {"handle": self.browser.main, "focus": True})
            subprocess.run(["xdotool", "windowfocus", self.main_x()])
            self.tab = self.window = None
        elif verb == "gone":
            # Halvane ended (its prompt gone with it) within so many seconds.
            started = time.monotonic()
            until(f"Halvane to end within {argument} s", float(argument),
                  lambda: self.browser.standin.ask("gone 0", "halvane.exe:") == "halvane.exe: none", 0.02)
            self.figures.append(f"{row.name}: Halvane gone {time.monotonic() - started:.2f} s after the step before")
        elif verb == "stored-none":
            if self.browser.standin.ask(f"stored {row.site}", "stored:") != "stored: none":
                raise Failure(f"a decision is stored for {row.site}")
        elif verb == "reloaded":
            until("the page to load again", 20, lambda: heard("loaded").count(row.key) > self.loads)
            self.loads = heard("loaded").count(row.key)
        elif verb == "down":
            number = self.browser.mirrors[self.main_x()].number
            state = self.browser.standin.ask(f"down {number} {argument}", f"window {number} ")
            if "topmost=no" not in state:
                raise Failure(f"the window is still on top {argument} s later: {state}")
        elif verb == "kill":
            self.browser.standin.ask("kill", "killed")
        elif verb == "flood":
            # Another tab of the window, loaded in the background, floods while this one asks.
            key = row.key + "-flood"
            self.tab = marionette.call("WebDriver:NewWindow", {"type": "tab", "focus": False})["handle"]
            marionette.call("WebDriver:SwitchToWindow", {"handle": self.tab, "focus": False})
            marionette.call("WebDriver:Navigate", {"url": f"http://{row.site}:{self.port}/page.html?row={key}"})
            marionette.call("WebDriver:SwitchToWindow", {"handle": self.browser.main, "focus": True})
            subprocess.run(["xdotool", "windowfocus", self.main_x()])
            until("the flooding page", 20, lambda: key in heard("loaded"))
            self.command(key, "flood")
            until("the flood to start", 20, lambda: "flood/posted" in heard(key))
        elif verb == "unflood":
            marionette.call("WebDriver:SwitchToWindow", {"handle": self.tab, "focus": False})
            marionette.call("WebDriver:CloseWindow")
            marionette.call("WebDriver:SwitchToWindow", {"handle": self.browser.main, "focus": True})
            self.tab = None
        elif verb == "popup":
            known = set(self.browser.x_windows())
            self.popup = until("the popup", 10, lambda: next(
                (w for w in self.browser.x_windows() if w not in known and w in self.browser.mirrors
                 and self.browser.mirrors[w].number), None))
            until("the popup's page", 10, lambda: self.browser.x_title(self.popup).startswith(TITLE))
        elif verb == "reload":
            started = time.monotonic()
            marionette.install()
            until("the pin to go after the reload", 10, lambda: not self.pinned(self.main_x()))
            self.figures.append(f"pin gone {time.monotonic() - started:.2f} s after the reload")
        elif verb == "open":
            # The example page, which tells the user which road it found.
            self.known = set(self.browser.x_windows())
            self.browser.open(f"http://{row.site}:{self.port}/examples/keep-on-top.html")
            until("the page to find a road", 10, lambda: not self.shows("road").startswith("Looking"))
            road = self.shows("road")
            if not road.startswith(argument):
                raise Failure(f"the page says {road!r}")
        elif verb == "press":
            # A real click on the page's button, found where Firefox draws it.
            point = marionette.content("""
                const box = document.getElementById(arguments[0]).getBoundingClientRect(), scale = devicePixelRatio;
                return [(mozInnerScreenX + box.left + box.width / 2) * scale,
                        (mozInnerScreenY + box.top + box.height / 2) * scale];""", argument)
            self.browser.click(self.main_x(), point)
        elif verb == "says":
            try:
                until(f"the page to say {argument!r}", 30, lambda: argument in self.shows("status"))
            except Failure:
                raise Failure(f"the page says {self.shows('status')!r}, not {argument!r}") from None
        elif verb == "pip":
            width, height = map(int, argument.split("x"))
            self.pip = until("the Picture-in-Picture window", 10, lambda: next(
                (w for w in self.browser.x_windows() if w not in self.known), None))
            state = subprocess.run(["xprop", "-id", self.pip, "_NET_WM_STATE"], capture_output=True, text=True).stdout
            if "_NET_WM_STATE_ABOVE" not in state:
                raise Failure(f"the Picture-in-Picture window is not kept above: {state.strip()}")
            # The X window adds Firefox's own bar above the page's part.
            geometry = self.browser.geometry(self.pip)
            if geometry["WIDTH"] != width or not height <= geometry["HEIGHT"] <= height + 80:
                raise Failure(f"the Picture-in-Picture window is {geometry['WIDTH']}x{geometry['HEIGHT']}")
            inside = """
                const pip = documentPictureInPicture.window, timer = pip && pip.document.getElementById("timer");
                return pip && [pip.innerWidth, pip.innerHeight, timer && timer.textContent,
                               !!document.getElementById("timer")];"""
            seen = marionette.content(inside)
            if seen[:2] != [width, height] or seen[2] is None or seen[3]:
                raise Failure(f"the Picture-in-Picture window's size and timer, the page's timer: {seen}")
            until("the timer to go on in the Picture-in-Picture window", 3,
                  lambda: marionette.content(inside)[2] != seen[2])
        elif verb == "pip-gone":
            until("the Picture-in-Picture window to close", 10, lambda: self.pip not in self.browser.x_windows())
            self.pip = None
            if not marionette.content("return !!document.getElementById('timer')"):
                raise Failure("the timer did not come back to the page")
        elif verb == "uninstall":
            marionette.call("Addon:Uninstall", {"id": "halvane@marrowin.org"})
            self.uninstalled = True
        elif verb == "install":
            marionette.install()
            self.uninstalled = False
        elif verb == "window-gone":
            # Halvane's window goes (as when the user closes it): Halvane ends by itself.
            mirror = self.browser.mirrors[self.main_x()]
            started = time.monotonic()
            self.browser.standin.ask(f"close {mirror.number}", "closed")
            until("the pin to go after Halvane ended", 10, lambda: not self.pinned(self.main_x()))
            self.figures.append(f"pin gone {time.monotonic() - started:.2f} s after Halvane's window closed")
        else:
            raise Failure(f"no step {step!r}")

    def shows(self, element):
        return self.browser.marionette.content("return document.getElementById(arguments[0]).textContent", element)

    def run(self, row):
        if row.language:
            self.browser.speak(row.language)
        try:
            self.play(row)
        finally:
            if row.language:
                self.browser.speak(None)

    def painted(self):
        """Two frames of the page drawn: a click before could miss a page just loaded in a new tab."""
        self.browser.marionette.call("WebDriver:ExecuteAsyncScript", {"script": """
            const done = arguments[arguments.length - 1];
            requestAnimationFrame(() => requestAnimationFrame(() => done(true)));""", "args": []})

    def play(self, row):
        self.site = row.site
        if row.click != "example":
            self.browser.open(f"http://{row.site}:{self.port}/page.html?row={row.key}&click={row.click}")
            until("the page", 20, lambda: row.key in heard("loaded"))
            self.painted()
        self.browser.standin.ask("prompts", "prompts:")
        self.loads = heard("loaded").count(row.key)
        for step in row.steps:
            self.step(row, step)
        time.sleep(0.5)   # an outcome too many arrives now, or not at all
        expected = {row.key: row.heard, **{row.key + k: v for k, v in row.extra_heard.items()}}
        for key, outcomes in expected.items():
            # A page in a background tab hears its answers in throttled tasks: give them time to come.
            counted = lambda: [outcome for outcome in heard(key) if outcome not in row.optional]
            try:
                until(f"the page {key}'s outcomes", 30, lambda: len(counted()) >= len(outcomes))
            except Failure:
                pass   # told below, with what it heard
            got = counted()
            if (sorted(got) if row.unordered else got) != (sorted(outcomes) if row.unordered else outcomes):
                raise Failure(f"the page {key} heard {heard(key)}, not {outcomes}")
        self.popup = None
        if "window-gone" not in row.steps:
            self.idle(self.main_x())
        prompts = int(self.browser.standin.ask("prompts", "prompts:").split()[1])
        if prompts != row.prompts:
            raise Failure(f"{prompts} prompts showed, not {row.prompts}")


def message(row, name):
    """One of the extension's texts in the row's language, for the row's site."""
    path = os.path.join(REPO, "extension", "_locales", row.language or "en", "messages.json")
    with open(path, encoding="utf-8") as texts:
        return json.load(texts)[name]["message"].replace("$SITE$", row.site)


def serve():
    """The page's server and a free port for Marionette."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return server, server.server_address[1], probe.getsockname()[1]


def main():
    server, port, marionette_port = serve()
    for site, decision in REMEMBERED.items():
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Marrowin\Quillery\Halvane", "/v", site, "/t",
                        "REG_DWORD", "/d", str(decision), "/f"], check=True, capture_output=True)
    for name, entry in POLICY.items():
        subprocess.run(["wine", "reg", "add", rf"HKLM\Software\Policies\Marrowin\Halvane\{name}", "/v", "1", "/t",
                        "REG_SZ", "/d", entry, "/f"], check=True, capture_output=True)
    # HALVANE_ROWS=PATTERN runs only the rows whose names it finds (the dismissal rows go together).
    rows = [row for row in ROWS if re.search(os.environ.get("HALVANE_ROWS", ""), row.name)]
    browser = Browser(port, marionette_port)
    run, passed = Run(browser, port), 0
    try:
        for number, row in enumerate(rows):
            row.key = f"r{number}"
            started = time.monotonic()
            try:
                run.run(row)
                passed += 1
                print(f"ok    {row.name} ({time.monotonic() - started:.1f} s)", flush=True)
            except Failure as failure:
                print(f"FAIL  {row.name}: {failure}", flush=True)
                print(f"      heard: { {k: v for k, v in Page.heard.items() if k.startswith(row.key)} }", flush=True)
                if "window-gone" in row.steps or not browser.x_windows():
                    break
                run.recover(row)
        for figure in run.figures:
            print(f"      {figure}")
    finally:
        browser.close()
        server.shutdown()
    print(f"browser test: {passed} of {len(rows)} rows passed")
    return 0 if passed == len(rows) else 1


if __name__ == "__main__":
    sys.exit(main())
