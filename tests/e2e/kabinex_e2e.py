#!/usr/bin/env python3
"""Kabinex end to end: the real program in its own X server, driven with real keys and clicks.

The test builds a program directory of its own (settings file, emulator directory with the stand-in
emulator, a ZIP directory, screenshots of known colours), starts kabinex there under Xvfb and plays
one session the way a user would: look at the list and the preview, move with the arrow keys, launch
a game that is present and one that only exists as a ZIP archive, open the read-me viewer and close
it, and quit with Escape. What the user sees is read from captured pixels, what the launcher did from
the stand-in emulator's record and from the files left on disk.

With --wm openbox the same session runs under a real window manager, followed by a second one of
what only shows there: the main window activated again when the about window or the viewer closes,
the emulator picked with the Select dialog by typing its path, the title-bar hints, and the caption
while a launch's message shows.

Usage: kabinex_e2e.py --kabinex BUILD/kabinex --mave BUILD/mave [--wm openbox] [--keep DIR]
Exit status 0 on success, 1 on failure, 77 when the X tools are not installed.
"""
import os
import shutil
import stat
import subprocess
import sys
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean when ctest runs this
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import Failure, close_to, kill_group, log, poll, run_sessions  # noqa: E402

# Controls of the main window: (x, y, width, height) in its client area.
SCREENSHOT = (264, 8, 273, 193)
GAME_LIST = (16, 256, 225, 145)
GAME_ITEM_HEIGHT = 13
EXECUTE_BUTTON = (448, 232, 81, 33)
HELP_BUTTON = (448, 280, 81, 33)
ABOUT_BUTTON = (448, 320, 81, 33)
MAVE_SELECT_BUTTON = (192, 176, 49, 25)
ZIP_SELECT_BUTTON = (192, 216, 49, 25)
NO_SOUND_BOX = (264 + 16, 224 + 48, 81, 25)  # inside the options group box
CLIENT_SIZE = (547, 413)

# Screenshot colours; each GIF is one flat colour, so any pixel of the picture tells which one shows.
GIF_SIZE = (120, 90)
ALPHA_COLOUR = (40, 90, 200)
GAMMA_COLOUR = (150, 60, 160)
CHANGED_COLOUR = (20, 170, 90)
PLACEHOLDER_COLOUR = (230, 200, 30)

GREEN = (0, 128, 0)
RED = (255, 0, 0)

# Options in the settings file and the switches they give, in the emulator's argument order.
OPTIONS = {"enablejoystick": 1, "nosound": 0, "altfmbase": 1, "noscanlines": 0, "vsync": 1, "frameskip": 0}
SWITCHES = ["-j", "-a", "-v"]

ROMS_IN_ZIP = ["gamma.1", "gamma.2", "gamma.3", "gamma.4", "gamma.5", "HISCORES.DAT"]


def make_gif(path, colour):
    # A GIF through ImageMagick: its palette holds the colour exactly.
    subprocess.run(["convert", "-size", f"{GIF_SIZE[0]}x{GIF_SIZE[1]}", f"xc:rgb{colour}", "gif:" + path],
                   check=True, capture_output=True, timeout=60)


def make_program_dir(root, mave):
    """alpha: ROMs present; beta: missing everywhere; gamma: only a ZIP archive (plus a note of the user's)."""
    emudir = os.path.join(root, "emulator") + "/"
    zipdir = os.path.join(root, "zips") + "/"
    os.makedirs(os.path.join(emudir, "alpha"))
    os.makedirs(os.path.join(emudir, "gamma"))
    os.makedirs(zipdir)
    os.makedirs(os.path.join(root, "scrshots"))
    for i in range(1, 6):
        with open(os.path.join(emudir, "alpha", f"alpha.{i}"), "wb") as f:
            f.write(bytes([i]) * 64)
    with open(os.path.join(emudir, "gamma", "notes.txt"), "w") as f:
        f.write("mis notas\n")
    with zipfile.ZipFile(os.path.join(zipdir, "gamma.zip"), "w") as z:
        for name in ROMS_IN_ZIP:
            z.writestr(name, name.encode() * 16)
    install_emulator(emudir, mave)
    make_gif(os.path.join(root, "scrshots", "alpha.gif"), ALPHA_COLOUR)
    make_gif(os.path.join(root, "scrshots", "gamma.gif"), GAMMA_COLOUR)
    make_gif(os.path.join(root, "scrshots", "notavail.gif"), PLACEHOLDER_COLOUR)
    options = "".join(f"{key}={value}\n" for key, value in OPTIONS.items())
    with open(os.path.join(root, "kabinex.ini"), "w") as f:
        f.write(f"[path]\nemudir={emudir}\nzipdir={zipdir}\nunzipper=unzip\n\n[options]\n{options}\n"
                "[games]\nalpha=Alpha Attack (1981)\nbeta=Beta Blaster (1982)\ngamma=Gamma Galaxy (1983)\n")
    return emudir, zipdir


def read_ini(path):
    sections, section = {}, None
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if line.startswith("[") and line.endswith("]"):
                section = sections.setdefault(line[1:-1], {})
            elif section is not None and "=" in line:
                key, _, value = line.partition("=")
                section[key] = value
    return sections


def unescape(field):
    out, i = [], 0
    while i < len(field):
        if field[i] == "\\" and i + 1 < len(field):
            out.append({"\\": "\\", "t": "\t", "n": "\n", "r": "\r"}.get(field[i + 1], field[i + 1]))
            i += 2
        else:
            out.append(field[i])
            i += 1
    return "".join(out)


def records(path):
    """The stand-in emulator's runs so far: [working directory, argument, ...] per run."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [[unescape(field) for field in line.rstrip("\n").split("\t")] for line in f if line.endswith("\n")]


class Session:
    def __init__(self, x, window):
        self.x = x
        self.window = window
        self.origin = x.geometry(window)[:2]

    def at(self, rect, dx=None, dy=None):
        """Root coordinates of a point of a control (its centre by default)."""
        left, top, width, height = rect
        return (self.origin[0] + left + (width // 2 if dx is None else dx),
                self.origin[1] + top + (height // 2 if dy is None else dy))

    def click(self, rect, dx=None, dy=None):
        self.x.click(*self.at(rect, dx, dy))

    def click_game(self, row):
        self.click(GAME_LIST, dx=40, dy=2 + row * GAME_ITEM_HEIGHT + GAME_ITEM_HEIGHT // 2)

    def preview_colour(self):
        return self.x.capture().pixel(*self.at(SCREENSHOT))

    def wait_preview(self, colour, what):
        poll(f"the preview to show {what} {colour} (last seen {self.preview_colour()})",
             lambda: close_to(self.preview_colour(), colour))

    def caption_colour(self):
        """'green' or 'red' by the caption pixels of the launch button (antialiased text on the face)."""
        left, top, width, height = EXECUTE_BUTTON
        x0, y0 = self.at(EXECUTE_BUTTON, dx=4, dy=4)
        greenish = reddish = 0
        for r, g, b in self.x.capture().pixels(x0, y0, width - 8, height - 8):
            if g >= 60 and g > r + 40 and g > b + 40:
                greenish += 1
            elif r >= 120 and r > g + 60 and r > b + 60:
                reddish += 1
        if greenish >= 5 and reddish == 0:
            return "green"
        if reddish >= 5 and greenish == 0:
            return "red"
        return f"unclear ({greenish} green, {reddish} red pixels)"

    def wait_caption(self, colour):
        poll(f"a {colour} launch button caption (now {self.caption_colour()})",
             lambda: self.caption_colour() == colour)


def check(condition, message):
    if not condition:
        raise Failure(message)


def start_kabinex(x, kabinex, root, record, output):
    # Pending clean-ups are recorded under XDG_STATE_HOME: keep them inside the test's directory.
    state = os.path.join(root, "state")
    os.makedirs(state, exist_ok=True)
    return subprocess.Popen([kabinex], cwd=root, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                            env=x.env({"MAVE_STANDIN_RECORD": record, "MAVE_STANDIN_SECONDS": "1",
                                       "XDG_STATE_HOME": state}),
                            start_new_session=True)


def show_output(root):
    with open(os.path.join(root, "kabinex-output.txt"), "rb") as f:
        text = f.read().decode(errors="replace").strip()
    if text:
        log("kabinex printed:\n" + text)


def quit_with_escape(x, window, proc, root):
    """Escape in the main window ends kabinex with status 0; returns the settings it wrote."""
    x.focus(window)
    x.key("Escape")
    try:
        status = proc.wait(30)
    except subprocess.TimeoutExpired:
        raise Failure("kabinex did not end after Escape in the main window")
    check(status == 0, f"kabinex ended with status {status}")
    return read_ini(os.path.join(root, "kabinex.ini"))


def install_emulator(emudir, mave):
    """The stand-in emulator as EMUDIR/mave, and the emulator's read-me."""
    shutil.copy(mave, os.path.join(emudir, "mave"))
    os.chmod(os.path.join(emudir, "mave"), stat.S_IRWXU | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH | stat.S_IXOTH)
    with open(os.path.join(emudir, "readme.txt"), "w") as f:
        f.write("MAVE read-me for the end-to-end test.\n")


def play(x, kabinex, mave, root):
    emudir, zipdir = make_program_dir(root, mave)
    record = os.path.join(root, "mave-record.txt")
    output = open(os.path.join(root, "kabinex-output.txt"), "wb")
    proc = start_kabinex(x, kabinex, root, record, output)
    try:
        window = x.wait_window("^Kabinex$")
        check(x.window_name(window) == "Kabinex", f"window title is {x.window_name(window)!r}")
        geometry = x.geometry(window)
        check(geometry[2:] == CLIENT_SIZE, f"main window is {geometry[2]}x{geometry[3]}, expected 547x413")
        log(f"ok: window 'Kabinex' {geometry[2]}x{geometry[3]} at {geometry[0]},{geometry[1]}")
        s = Session(x, window)

        # No window manager: give the window the focus and click into the game list, as a user would.
        x.focus(window)
        s.click_game(0)
        s.wait_preview(ALPHA_COLOUR, "alpha's screenshot")
        picture = x.capture()
        corner = picture.pixel(*s.at(SCREENSHOT, dx=3, dy=3))
        check(not close_to(corner, ALPHA_COLOUR), "the screenshot fills the whole preview instead of being centred")
        s.wait_caption("green")
        log("ok: first game selected, its screenshot centred in the preview, launch caption green")

        x.key("Down")
        s.wait_preview(PLACEHOLDER_COLOUR, "the placeholder")
        s.wait_caption("red")
        log("ok: Down selects the missing game: placeholder screenshot, launch caption red")
        x.key("Down")
        s.wait_preview(GAMMA_COLOUR, "gamma's screenshot")
        s.wait_caption("green")
        log("ok: Down selects the zipped game: its screenshot, launch caption green")
        x.key("Up", "Up")
        s.wait_preview(ALPHA_COLOUR, "alpha's screenshot")
        s.wait_caption("green")

        x.key("Return")
        runs = poll("the emulator's first run", lambda: records(record))
        expected = [os.path.realpath(emudir), "alpha"] + SWITCHES
        check(runs[0] == expected, f"first run was {runs[0]}, expected {expected}")
        log(f"ok: Enter starts mave in the emulator directory with {' '.join(runs[0][1:])}")

        # Tick "No Sonid" with the mouse, pick the zipped game with the mouse, launch with Enter.
        s.click(NO_SOUND_BOX, dx=8)
        s.click_game(2)
        s.wait_preview(GAMMA_COLOUR, "gamma's screenshot")
        x.key("Return")
        runs = poll("the emulator's second run", lambda: records(record)[1:] and records(record))
        expected = [os.path.realpath(emudir), "gamma", "-j", "-s", "-a", "-v"]
        check(runs[1] == expected, f"second run was {runs[1]}, expected {expected}")
        gamma_dir = os.path.join(emudir, "gamma")
        left = {"notes.txt", "HISCORES.DAT"}
        # HISCORES.DAT only comes from the archive and is kept, so it proves the extraction; the ROMs go.
        poll(f"the extracted ROMs to be removed (now {sorted(os.listdir(gamma_dir))})",
             lambda: set(os.listdir(gamma_dir)) == left)
        check(not os.path.exists(os.path.join(emudir, "lockfile.$$$")), "lock file left behind")
        check(not os.path.exists(os.path.join(emudir, "lockfile.bat")), "extraction script left behind")
        check(len(records(record)) == 2, f"unexpected extra runs: {records(record)[2:]}")
        log("ok: the zipped game is extracted, run with -j -s -a -v, and its extracted ROMs removed afterwards")

        s.click(HELP_BUTTON)
        viewer = x.wait_window("^Mave - README\\.TXT$")
        log("ok: Help opens 'Mave - README.TXT'")
        x.focus(viewer)
        x.key("Escape")
        x.wait_window_gone(viewer)
        check(proc.poll() is None, "kabinex ended when the viewer closed")
        log("ok: Escape closes the viewer")

        ini = quit_with_escape(x, window, proc, root)
        check(ini.get("path", {}).get("emudir") == emudir, f"emudir written as {ini.get('path', {}).get('emudir')!r}")
        check(ini.get("path", {}).get("zipdir") == zipdir, f"zipdir written as {ini.get('path', {}).get('zipdir')!r}")
        written = {key: ini.get("options", {}).get(key) for key in OPTIONS}
        wanted = {key: str(value) for key, value in OPTIONS.items()}
        wanted["nosound"] = "1"
        check(written == wanted, f"options written as {written}, expected {wanted}")
        check(len(ini.get("games", {})) == 3, "the catalogue in kabinex.ini changed")
        log("ok: Escape quits with status 0; kabinex.ini holds both directories and the six options")
    except Failure:
        output.flush()
        show_output(root)
        raise
    finally:
        kill_group(proc)
        output.close()


# Motif hint bits (_MOTIF_WM_HINTS: flags, functions, decorations, ...).
MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE = 0x8, 0x10
MWM_DECOR_MINIMIZE, MWM_DECOR_MAXIMIZE = 0x20, 0x40


def check_fixed_window(x, window, what, minimise_box):
    """The window manager may neither resize nor maximise the window (its size hints fix the size;
    Qt's Motif hints always carry the resize function, and openbox goes by the size hints); the
    Motif hints ask for a minimise box only where the window's description has one."""
    allowed = x.property(window, "_NET_WM_ALLOWED_ACTIONS")
    for action in ("_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"):
        check(action not in allowed, f"{what}: the window manager allows {action} ({allowed})")
    hints = [int(v, 16) for v in x.property(window, "_MOTIF_WM_HINTS").split(",")]
    check(len(hints) >= 3, f"{what}: no Motif hints")
    flags, functions, decorations = hints[:3]
    if not minimise_box:
        check(not flags & 1 or not functions & (MWM_FUNC_MINIMIZE | MWM_FUNC_MAXIMIZE),
              f"{what}: Motif functions {functions:#x} ask for minimise or maximise")
        check(not decorations & (MWM_DECOR_MINIMIZE | MWM_DECOR_MAXIMIZE),
              f"{what}: Motif decorations {decorations:#x} ask for minimise or maximise boxes")
    log(f"ok: {what}: not resizable, no maximise{'' if minimise_box else ' or minimise'} asked for "
        f"(allowed: {allowed.replace('_NET_WM_ACTION_', '')})")


def make_desktop_dir(root, mave):
    """alpha: ROMs present; trio: an archive of only three files. No emulator directory set yet."""
    emudir = os.path.join(root, "emulator") + "/"
    zipdir = os.path.join(root, "zips") + "/"
    os.makedirs(os.path.join(emudir, "alpha"))
    os.makedirs(zipdir)
    os.makedirs(os.path.join(root, "scrshots"))
    for i in range(1, 6):
        with open(os.path.join(emudir, "alpha", f"alpha.{i}"), "wb") as f:
            f.write(bytes([i]) * 64)
    with zipfile.ZipFile(os.path.join(zipdir, "trio.zip"), "w") as z:
        for name in ("trio.1", "trio.2", "trio.3"):
            z.writestr(name, name.encode() * 16)
    install_emulator(emudir, mave)
    make_gif(os.path.join(root, "scrshots", "alpha.gif"), ALPHA_COLOUR)
    make_gif(os.path.join(root, "scrshots", "notavail.gif"), PLACEHOLDER_COLOUR)
    with open(os.path.join(root, "kabinex.ini"), "w") as f:
        f.write(f"[path]\nemudir=<no definido!>\nzipdir={zipdir}\nunzipper=unzip\n\n"
                "[games]\nalpha=Alpha Attack (1981)\ntrio=Trio (1990)\n")
    return emudir, zipdir


def wait_runs(record, count, what):
    runs = poll(what, lambda: len(records(record)) >= count and records(record))
    check(len(runs) == count, f"{what}: {len(runs)} runs, expected {count}")
    return runs


def pick_in_file_dialog(x, keys_before_enter=None):
    """The Select dialog: types the text (or nothing) and presses Enter (Escape when no text)."""
    dialog = x.wait_window("^Open$")
    poll("the Select dialog to have the focus", lambda: x.active_window() == dialog)
    if keys_before_enter is None:
        x.key("Escape")
    else:
        x.run("xdotool", "type", "--delay", "15", keys_before_enter)
        x.key("Return")
    x.wait_window_gone(dialog)


def play_desktop(x, kabinex, mave, root):
    emudir, zipdir = make_desktop_dir(root, mave)
    record = os.path.join(root, "mave-record.txt")
    output = open(os.path.join(root, "kabinex-output.txt"), "wb")
    proc = start_kabinex(x, kabinex, root, record, output)
    try:
        window = x.wait_window("^Kabinex$")
        s = Session(x, window)
        poll("the main window to have the focus", lambda: x.active_window() == window)
        check_fixed_window(x, window, "main window", minimise_box=False)
        kind = x.property(window, "_NET_WM_WINDOW_TYPE")
        check(kind.startswith("_NET_WM_WINDOW_TYPE_NORMAL"), f"the main window's type is {kind}")
        check(not x.property(window, "WM_TRANSIENT_FOR"), "the main window is kept above an owner")

        s.click(MAVE_SELECT_BUTTON)
        pick_in_file_dialog(x, os.path.join(emudir, "mave"))
        s.wait_caption("green")
        log("ok: the emulator Select dialog takes a typed full path of mave and Enter; alpha can be launched")

        s.wait_preview(ALPHA_COLOUR, "alpha's screenshot")
        s.click(ABOUT_BUTTON)
        about = x.wait_window("^About Kabinex$")
        check_fixed_window(x, about, "about window", minimise_box=True)
        make_gif(os.path.join(root, "scrshots", "alpha.gif"), CHANGED_COLOUR)
        poll("the about window to have the focus", lambda: x.active_window() == about)
        x.key("Return")
        x.wait_window_gone(about)
        s.wait_preview(CHANGED_COLOUR, "alpha's changed screenshot")
        poll("the main window to have the focus again", lambda: x.active_window() == window)
        x.key("Return")
        runs = wait_runs(record, 1, "a launch by Enter after the about window")
        check(runs[0][1] == "alpha", f"launched {runs[0][1:]}")
        check(not x.find_windows("^About Kabinex$"), "Enter opened the about window again")
        log("ok: About, Enter: the changed screenshot shows; Enter then launches the game")

        s.click(HELP_BUTTON)
        viewer = x.wait_window("^Mave - README\\.TXT$")
        check_fixed_window(x, viewer, "read-me viewer", minimise_box=False)
        poll("the viewer to have the focus", lambda: x.active_window() == viewer)
        x.key("Escape")
        x.wait_window_gone(viewer)
        poll("the main window to have the focus again", lambda: x.active_window() == window)
        x.key("Return")
        wait_runs(record, 2, "a launch by Enter after the viewer")
        check(not x.find_windows("^Mave - "), "Enter opened the viewer again")
        log("ok: Help, Escape, Enter launches the game (the viewer stays closed)")

        s.click_game(1)
        s.wait_preview(PLACEHOLDER_COLOUR, "the placeholder")
        x.key("Return")
        box = poll("the message about the archive",
                   lambda: [w for w in x.find_windows("^Kabinex") if w != window])[0]
        caption = x.window_name(window)
        check(caption == "Kabinex", f"the main window's caption reads {caption!r} while the message shows")
        check_fixed_window(x, box, "message box", minimise_box=False)
        poll("the message box to have the focus", lambda: x.active_window() == box)
        x.key("Return")
        x.wait_window_gone(box)
        check(len(records(record)) == 2, "the emulator was started for the damaged archive")
        log("ok: the three-file archive is reported while the caption reads 'Kabinex'; nothing starts")

        s.click(ZIP_SELECT_BUTTON)
        pick_in_file_dialog(x)
        log("ok: Escape cancels the ZIP Select dialog")

        ini = quit_with_escape(x, window, proc, root)
        check(ini["path"].get("emudir") == emudir, f"emudir written as {ini['path'].get('emudir')!r}, expected {emudir!r}")
        check(ini["path"].get("zipdir") == "<No tiene soporte ZIP!>",
              f"zipdir written as {ini['path'].get('zipdir')!r} after a cancel")
        log("ok: at exit kabinex.ini holds the picked emulator directory and the ZIP marker")
    except Failure:
        output.flush()
        show_output(root)
        raise
    finally:
        kill_group(proc)
        output.close()


def sessions(x, args, root):
    for number, session in enumerate([play, play_desktop] if args.wm else [play]):
        session(x, args.kabinex, args.mave, os.path.join(root, str(number)))


def main():
    return run_sessions(sessions, tools=["convert", "unzip"], prefix="kabinex-e2e-")


if __name__ == "__main__":
    sys.exit(main())
