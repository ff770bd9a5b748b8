"""A private X server (Xvfb) and the xdotool/xwininfo/import calls that drive and watch a program in it.

Every wait is a poll with a generous cap; nothing here depends on how fast the machine is.
run_sessions is the main() the end-to-end scripts share.
"""
import argparse
import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
import time

# Exit status that ctest reads as "skipped" (SKIP_RETURN_CODE).
SKIP = 77

REQUIRED_TOOLS = ("Xvfb", "xdotool", "xwininfo", "xprop", "import")

WAIT_CAP = 30.0  # seconds; a hang guard, not an expectation


class Failure(Exception):
    pass


def missing_tools():
    return [tool for tool in REQUIRED_TOOLS if shutil.which(tool) is None]


def poll(what, probe, cap=WAIT_CAP, interval=0.1):
    """Calls probe until it returns something truthy and returns that; fails after cap seconds."""
    deadline = time.monotonic() + cap
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"gave up after {cap:.0f} s waiting for {what}")
        time.sleep(interval)


class XServer:
    """Xvfb on a display it picks itself (-displayfd), so parallel runs never collide."""

    def __init__(self, width=1024, height=768):
        self.proc = None
        self.display = None
        self.size = (width, height)
        self.window_manager = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.size[0]}x{self.size[1]}x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True)
        finally:
            os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            # Xvfb writes the display number and a line feed once it accepts connections; EOF means it died.
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    self.stop()
                    raise Failure("Xvfb ended before it announced its display")
                number += chunk
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def has_window_manager(self):
        return self.window_manager is not None

    def env(self, extra=None):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        # The real X server, whatever a test environment may have set for Qt.
        env["QT_QPA_PLATFORM"] = "xcb"
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("XAUTHORITY", None)
        env.update(extra or {})
        return env

    def run(self, *args, check=True):
        result = subprocess.run(list(args), env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                                text=True, timeout=WAIT_CAP)
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(args)} failed ({result.returncode}): {result.stderr.strip()}")
        return result.stdout

    # --- windows ---

    def find_windows(self, title_regex):
        """Visible windows whose title matches the regular expression; empty if none."""
        out = self.run("xdotool", "search", "--onlyvisible", "--name", title_regex, check=False)
        return [line.strip() for line in out.splitlines() if line.strip()]

    def wait_window(self, title_regex):
        found = poll(f"a visible window titled {title_regex}", lambda: self.find_windows(title_regex))
        if len(found) != 1:
            raise Failure(f"expected one window titled {title_regex}, found {len(found)}")
        return found[0]

    def wait_window_gone(self, window_id):
        def gone():
            out = self.run("xwininfo", "-id", window_id, check=False)
            return "Map State: IsViewable" not in out
        poll(f"window {window_id} to close", gone)

    def window_name(self, window_id):
        return self.run("xdotool", "getwindowname", window_id).rstrip("\n")

    def geometry(self, window_id):
        """(x, y, width, height) of the window's inside, in root coordinates."""
        values = {}
        for line in self.run("xwininfo", "-id", window_id).splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        try:
            return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                    int(values["Width"]), int(values["Height"]))
        except (KeyError, ValueError):
            raise Failure(f"no geometry for window {window_id}")

    # --- input ---

    def focus(self, window_id):
        """Without a window manager nothing hands out the keyboard focus; set it directly. With one,
        ask it to activate the window, as a click on the window would."""
        x, y, w, h = self.geometry(window_id)
        self.run("xdotool", "mousemove", str(x + w // 2), str(y + h // 2))
        if self.has_window_manager():
            self.run("xdotool", "windowactivate", "--sync", window_id)
        else:
            self.run("xdotool", "windowfocus", "--sync", window_id)

    def active_window(self):
        return self.run("xdotool", "getactivewindow", check=False).strip()

    def property(self, window_id, name):
        """The text xprop gives for one property of a window, after the '=' or ':'; empty if unset."""
        where = ["-root"] if window_id == "root" else ["-id", window_id]
        out = self.run("xprop", *where, name, check=False).strip()
        if "not found" in out or "no such atom" in out:
            return ""
        for sep in ("= ", ":"):
            if sep in out:
                return out.split(sep, 1)[1].strip()
        return ""

    def click(self, x, y):
        self.run("xdotool", "mousemove", "--sync", str(x), str(y))
        self.run("xdotool", "click", "1")

    def key(self, *keys):
        for k in keys:
            self.run("xdotool", "key", "--clearmodifiers", k)

    # --- pixels ---

    def capture(self, window_id="root"):
        """The current picture of a window (default: the whole screen)."""
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "shot.ppm")
            self.run("import", "-window", window_id, path)
            return Picture.read_ppm(path)

    def save_png(self, window_id, path):
        self.run("import", "-window", window_id, "png:" + path)


class WindowManager:
    """openbox on the X server, started and stopped like the server itself."""

    def __init__(self, x):
        self.x = x
        self.proc = None

    def __enter__(self):
        self.proc = subprocess.Popen(["openbox", "--sm-disable"], env=self.x.env(), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        # A window manager announces itself on the root window once it manages windows.
        poll("openbox to take over the screen",
             lambda: self.proc.poll() is not None or self.x.property("root", "_NET_SUPPORTING_WM_CHECK"))
        if self.proc.poll() is not None:
            raise Failure(f"openbox ended at start with status {self.proc.returncode}")
        self.x.window_manager = self
        return self

    def __exit__(self, *exc):
        self.x.window_manager = None
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                kill_group(self.proc)
        return False


class Picture:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    @staticmethod
    def read_ppm(path):
        with open(path, "rb") as f:
            data = f.read()
        # Header: P6, width, height, maxval, each separated by white space (no comments from import).
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            start = pos
            while not data[pos:pos + 1].isspace():
                pos += 1
            fields.append(data[start:pos])
        pos += 1
        if fields[0] != b"P6":
            raise Failure("capture is not a binary PPM")
        width, height, maxval = int(fields[1]), int(fields[2]), int(fields[3])
        if maxval == 255:
            rgb = data[pos:pos + width * height * 3]
        else:  # 16 bits per sample, big-endian
            raw = data[pos:pos + width * height * 6]
            rgb = bytes(raw[i] for i in range(0, len(raw), 2))
        return Picture(width, height, rgb)

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise Failure(f"pixel ({x}, {y}) is outside the {self.width}x{self.height} capture")
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def pixels(self, x, y, w, h):
        return [self.pixel(px, py) for py in range(y, y + h) for px in range(x, x + w)]


def close_to(colour, expected, tolerance=6):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def kill_group(proc):
    """Ends a process started with start_new_session=True together with everything it started."""
    if proc is None:
        return
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        pass


def log(text):
    print(text, flush=True)


def run_sessions(sessions, prefix, tools=(), paths=("--mave",), log=log):
    """The main() of an end-to-end script. Reads --kabinex, the further program paths named in
    paths (made absolute, all required), --wm and --keep; skips (SKIP) when an X tool, one of tools
    or the window manager is not installed; else calls sessions(x, args, root) with a private X
    server, under the window manager when --wm names one, and a temporary directory root. On a
    failure the directory and a capture of the screen go to --keep; 1 then, 0 when all passed."""
    parser = argparse.ArgumentParser()
    for name in ("--kabinex", *paths):
        parser.add_argument(name, required=True)
    parser.add_argument("--wm", choices=["openbox"], help="run under this window manager")
    parser.add_argument("--keep", help="keep the program directories and a screen capture here on failure")
    args = parser.parse_args()
    for name in ("--kabinex", *paths):
        dest = name[2:].replace("-", "_")
        setattr(args, dest, os.path.abspath(getattr(args, dest)))

    needed = list(tools) + ([args.wm] if args.wm else [])
    missing = missing_tools() + [tool for tool in needed if shutil.which(tool) is None]
    if missing:
        log(f"skipped: {', '.join(missing)} not installed (scripts/install-deps.sh installs them)")
        return SKIP

    root = tempfile.mkdtemp(prefix=prefix)
    try:
        with XServer() as x, contextlib.ExitStack() as desktop:
            try:
                if args.wm:
                    desktop.enter_context(WindowManager(x))
                sessions(x, args, root)
            except (Failure, subprocess.TimeoutExpired) as failure:
                log(f"FAILED: {failure}")
                if args.keep:
                    shutil.rmtree(args.keep, ignore_errors=True)
                    shutil.copytree(root, args.keep, symlinks=True)
                    x.save_png("root", os.path.join(args.keep, "screen.png"))
                    log(f"program directories and screen kept in {args.keep}")
                return 1
    finally:
        shutil.rmtree(root, ignore_errors=True)
    log("passed")
    return 0
