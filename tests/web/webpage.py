#!/usr/bin/env python3
"""Drives the web build (dist/web) in Debian's chromium, headless.

    webpage.py shot DIST QUERY OUT.png   loads index.html?QUERY, waits for the
                                         title "ready", writes the canvas as PNG
    webpage.py play DIST [QUERY] [SECONDS]
                                         clicks Start, plays for SECONDS (default
                                         3), prints the frame rate and clocks
    webpage.py check DIST DEMOCAPTURE PRODUCTION
                                         the test: a still in each scene against
                                         the desktop capture tool's (PSNR), then
                                         a click and a clock that frames follow

DIST is served from a local server on a free port (pages need one: the wasm
does not load from file://); chromium is driven over its DevTools protocol.
Exits 77 (a skip; 1 under DEMO_WEB_REQUIRED=1) when DIST or chromium is
missing, 1 on a failed check, 2 on
bad use. Ends promptly on SIGINT, SIGTERM and SIGHUP, taking chromium and the
server with it.
"""
import base64
import functools
import http.server
import json
import os
import shutil
import signal
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

try:
    import websocket
except ImportError:  # Debian's module under another interpreter
    sys.path.append("/usr/lib/python3/dist-packages")
    import websocket

# A skip, unless the test command asks for the web stage to be there
# (DEMO_WEB_REQUIRED=1): then a missing build or browser fails.
SKIP = 1 if os.environ.get("DEMO_WEB_REQUIRED") == "1" else 77
CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
    "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    # Headless has no one to click for sound; the test's click is synthetic.
    "--autoplay-policy=no-user-gesture-required",
    "--no-first-run", "--no-default-browser-check", "--mute-audio",
]


class Failure(Exception):
    pass


def find_chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript", ".mp3": "audio/mpeg"}

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def serve(folder):
    server = Server(("127.0.0.1", 0), functools.partial(QuietHandler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


class Browser:
    """One headless chromium with one page, driven over DevTools."""

    def __init__(self, chromium):
        self.profile = tempfile.mkdtemp(prefix="demoplayer-chromium-")
        self.process = subprocess.Popen(
            [chromium, *CHROMIUM_FLAGS, "--remote-debugging-port=0", "--user-data-dir=" + self.profile,
             "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.socket = None
        self.next_id = 0
        try:
            port = self._port()
            pages = []
            deadline = time.monotonic() + 30
            while not pages and time.monotonic() < deadline:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=5) as r:
                    pages = [t for t in json.load(r) if t.get("type") == "page"]
                if not pages:
                    time.sleep(0.1)
            if not pages:
                raise Failure("chromium opened no page")
            self.socket = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], timeout=30,
                                                      suppress_origin=True)
            self.call("Page.enable")
            self.call("Runtime.enable")
        except BaseException:
            self.close()
            raise

    def _port(self):
        path = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise Failure(f"chromium exited at start ({self.process.returncode})")
            try:
                with open(path) as f:
                    text = f.read().split()
                if text:
                    return int(text[0])
            except (OSError, ValueError):
                pass
            time.sleep(0.05)
        raise Failure("chromium did not open its DevTools port")

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise Failure(f"{method}: {message['error'].get('message')}")
                return message.get("result", {})

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in result:
            raise Failure(f"{expression}: {result['exceptionDetails'].get('text')}")
        return result["result"].get("value")

    def load(self, url):
        # The last page's title must not pass for the next one's.
        self.evaluate("document.title = ''")
        self.call("Page.navigate", url=url)

    def wait_for(self, expression, timeout, what, error_fails=True):
        """Polls until `expression` is truthy; fails early on an error title."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                value = self.evaluate(expression)
            except Failure:  # the page is still loading
                value = None
            if value:
                return value
            title = self.evaluate("document.title") or ""
            if error_fails and title.startswith("error"):
                raise Failure(f"{what}: the page says {title!r}")
            time.sleep(0.1)
        raise Failure(f"{what}: not within {timeout} s (title {self.evaluate('document.title')!r})")

    def canvas_png(self):
        box = self.evaluate("(() => { const r = document.getElementById('canvas').getBoundingClientRect();"
                            " return [r.x, r.y, r.width, r.height]; })()")
        shot = self.call("Page.captureScreenshot", format="png",
                         clip={"x": box[0], "y": box[1], "width": box[2], "height": box[3], "scale": 1})
        return base64.b64decode(shot["data"])

    def click(self, element_id):
        x, y = self.evaluate(f"(() => {{ const r = document.getElementById('{element_id}').getBoundingClientRect();"
                             " return [r.x + r.width / 2, r.y + r.height / 2]; })()")
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def press(self, code, key):
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, code=code, key=key,
                      windowsVirtualKeyCode={"Space": 32, "Escape": 27}[code])

    def close(self):
        if self.socket:
            try:
                self.socket.close()
            except Exception:
                pass
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
                self.process.wait(timeout=5)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                try:
                    os.killpg(self.process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


def write_whole(path, data):
    part = path + ".part"
    with open(part, "wb") as f:
        f.write(data)
    os.replace(part, path)


def read_png(data):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
    import psnr
    with tempfile.NamedTemporaryFile(suffix=".png") as f:
        f.write(data)
        f.flush()
        return psnr.read_png(f.name)


def shot(browser, base, query, timeout=120):
    browser.load(f"{base}/index.html?{query}")
    browser.wait_for("document.title === 'ready'", timeout, f"the still {query}")
    return browser.canvas_png()


def play(browser, base, query, seconds):
    """Clicks Start and samples the page's state before and after `seconds`."""
    browser.load(f"{base}/index.html{'?' + query if query else ''}")
    browser.wait_for("!document.getElementById('start').hidden", 60, "the start button after loading")
    browser.click("start")
    first = browser.wait_for("Module.demoState && Module.demoState.playing && Module.demoState.frames > 0"
                             " && Module.demoState", 60, "the first frame with the music")
    start = time.monotonic()
    time.sleep(seconds)
    last = browser.evaluate("Module.demoState")
    return first, last, time.monotonic() - start


# One time in each of the production's scenes. The hall's tiled floor has
# thin grout lines that two rasterisers sample a little differently: its
# moments lie between 29.5 dB (28 s) and 36 dB (36 s) against the desktop.
SCENE_TIMES = [(4, "valley"), (36, "hall"), (44, "tunnel"), (60, "space")]
SMALLEST_PSNR = 30.0


def desktop_stills(democapture, production, times, size, out):
    """The desktop capture tool's stills of `times`, by time."""
    folder = os.path.join(out, "desktop")
    os.makedirs(folder, exist_ok=True)
    args = [democapture]
    for t in times:
        args += ["--at", f"{t:g}"]
    args += ["--size", size, "--out", os.path.abspath(folder)]
    result = subprocess.run(args, cwd=production, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=600)
    if result.returncode != 0:
        raise Failure(f"democapture failed ({result.returncode}): {result.stderr.decode(errors='replace')[-400:]}")
    return {t: os.path.join(folder, f"capture-{t:09.3f}.png") for t in times}


def check(browser, base, out, democapture, production):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
    import psnr
    width, height = 320, 180
    size = f"{width}x{height}"
    desktop = desktop_stills(democapture, production, [t for t, _ in SCENE_TIMES], size, out)
    for at, scene in SCENE_TIMES:
        png = shot(browser, base, f"at={at}&size={size}")
        path = os.path.join(out, f"web-{at:g}.png")
        write_whole(path, png)
        w, h, _, _ = read_png(png)
        if (w, h) != (width, height):
            raise Failure(f"the still at {at} s is {w}x{h}, not {size}")
        value = psnr.psnr(path, desktop[at])
        print(f"still at {at:g} s ({scene}): PSNR {value:.2f} dB against the desktop's")
        if value < SMALLEST_PSNR:
            raise Failure(f"the still at {at} s ({scene}) is {value:.2f} dB from the desktop's, under {SMALLEST_PSNR}")

    # Past the end of the running order: black.
    w, h, channels, rows = read_png(shot(browser, base, f"at=200&size={size}"))
    if any(row[x * channels + c] for row in rows for x in range(w) for c in range(3)):
        raise Failure("the still past the end is not black")
    print("still at 200 s: black, as expected")

    browser.load(f"{base}/index.html?at=later")
    browser.wait_for("document.title.startsWith('error')", 30, "an error for at=later", error_fails=False)
    print("at=later: refused")

    first, last, wall = play(browser, base, "size=320x180", 3)
    advanced = last["clock"] - first["clock"]
    frames = last["frames"] - first["frames"]
    print(f"after the click: music clock {first['clock']:.3f} -> {last['clock']:.3f} s in {wall:.2f} s,"
          f" {frames:g} frames ({frames / wall:.1f} a second), last frame at {last['frameTime']:.3f} s")
    if not (0.5 * wall <= advanced <= 1.5 * wall + 0.2):
        raise Failure(f"the music clock moved {advanced:.3f} s in {wall:.2f} s of wall time")
    if frames < 2:
        raise Failure(f"only {frames:g} frames in {wall:.2f} s")
    if not (first["frameTime"] <= last["frameTime"] and abs(last["frameTime"] - last["clock"]) < 0.5):
        raise Failure(f"the frames do not follow the music: frame at {last['frameTime']:.3f} s, clock at"
                      f" {last['clock']:.3f} s")

    # Space pauses the sound and its clock together; Escape ends the show.
    browser.press("Space", " ")
    time.sleep(0.3)
    paused = browser.evaluate("Module.demoState")
    time.sleep(1)
    still = browser.evaluate("Module.demoState")
    if still["clock"] != paused["clock"]:
        raise Failure(f"paused, the music clock still moved from {paused['clock']:.3f} to {still['clock']:.3f} s")
    browser.press("Space", " ")
    time.sleep(0.5)
    if browser.evaluate("Module.demoState")["clock"] <= still["clock"]:
        raise Failure("after a second Space the music clock stands")
    browser.press("Escape", "Escape")
    browser.wait_for("document.title === 'stopped'", 10, "the end of the show after Escape")
    print("Space paused and resumed the music clock; Escape ended the show")


def main(argv):
    if len(argv) < 3 or argv[1] not in ("shot", "play", "check"):
        sys.stderr.write(__doc__)
        return 2
    command, dist = argv[1], argv[2]
    if not os.path.isfile(os.path.join(dist, "index.html")):
        print(f"webpage: skipped: no web build in {dist} (bash scripts/build-web.sh makes one)")
        return SKIP
    chromium = find_chromium()
    if not chromium:
        print("webpage: skipped: chromium is not installed")
        return SKIP

    def stop(number, _frame):
        raise SystemExit(128 + number)
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, stop)

    server = serve(dist)
    browser = None
    try:
        base = f"http://127.0.0.1:{server.server_address[1]}"
        browser = Browser(chromium)
        if command == "shot":
            if len(argv) != 5:
                sys.stderr.write(__doc__)
                return 2
            write_whole(argv[4], shot(browser, base, argv[3]))
            print(f"wrote {argv[4]}")
        elif command == "play":
            seconds = float(argv[4]) if len(argv) > 4 else 3
            first, last, wall = play(browser, base, argv[3] if len(argv) > 3 else "", seconds)
            frames = last["frames"] - first["frames"]
            print(f"{frames:g} frames in {wall:.2f} s: {frames / wall:.1f} a second,"
                  f" {1000 * wall / max(frames, 1):.1f} ms a frame; music clock {first['clock']:.3f} ->"
                  f" {last['clock']:.3f} s")
        else:
            out = os.environ.get("DEMO_WEB_OUT") or tempfile.mkdtemp(prefix="demoplayer-web-")
            os.makedirs(out, exist_ok=True)
            if len(argv) != 5:
                sys.stderr.write(__doc__)
                return 2
            check(browser, base, out, argv[3], argv[4])
            print(f"web page: all checks passed (stills in {out})")
        return 0
    except Failure as e:
        print(f"webpage: {e}", file=sys.stderr)
        return 1
    finally:
        if browser:
            browser.close()
        server.shutdown()
        server.server_close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
