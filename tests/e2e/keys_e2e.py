#!/usr/bin/env python3
"""Kabinex with the keyboard alone, as on an arcade cabinet: the real program in its own X server.

Bare X server (no window manager, so nobody but Kabinex hands out the keyboard focus), one session
with real keys only: the about window closed with Enter, the read-me viewer with Escape, the ZIP
Select dialog cancelled with Escape (ZIP support goes off), a launch message closed with Enter; after
each, Down moves the selection and Enter launches the game now selected. Then the error box that the
viewer shows when the emulator's read-me is gone: Enter, the viewer, Escape, and the list again.
Message boxes and dialogs stand over the main window. Then the progress window of a zipped game:
closed by Escape, and again by the game starting; each time the list takes keys again.

With --wm openbox: the about window minimised through the window manager, then a click on the main
window; the about window is back in front and Enter closes it. The same with the Select dialog.

Both ways, on a 640x480 screen: the main window, the about window and the read-me viewer, each with
its frame (the window manager's decoration) whole on the screen.

Usage: keys_e2e.py --kabinex BUILD/kabinex --mave BUILD/mave [--wm openbox] [--keep DIR]
Exit status 0 on success, 1 on failure, 77 when the X tools are not installed.
"""
import contextlib
import os
import sys
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean when ctest runs this
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kabinex_e2e import (ABOUT_BUTTON, GAME_LIST, MWM_DECOR_MINIMIZE, MWM_FUNC_MINIMIZE,  # noqa: E402
                         PLACEHOLDER_COLOUR, ZIP_SELECT_BUTTON, Session, check, install_emulator, log, make_gif,
                         quit_with_escape, records, show_output, start_kabinex)
from xsession import Failure, WindowManager, XServer, kill_group, poll, run_sessions  # noqa: E402

# The catalogue in list order; "lost" has neither a directory nor an archive.
GAMES = ["uno", "dos", "tres", "cuatro", "lost", "cinco"]
PRESENT = [game for game in GAMES if game != "lost"]

# Keys from the game list (tab order) to the buttons: backwards through the launch and Help buttons.
TO_HELP = ["shift+Tab"] * 2
TO_ZIP_SELECT = ["shift+Tab"] * 3
TO_ABOUT = ["shift+Tab"] * 7


def make_program_dir(root, mave):
    emudir = os.path.join(root, "emulator") + "/"
    zipdir = os.path.join(root, "zips") + "/"
    os.makedirs(zipdir)
    for game in PRESENT:
        os.makedirs(os.path.join(emudir, game))
        for i in range(1, 6):
            with open(os.path.join(emudir, game, f"{game}.{i}"), "wb") as f:
                f.write(bytes([i]) * 32)
    install_emulator(emudir, mave)
    os.makedirs(os.path.join(root, "scrshots"))
    make_gif(os.path.join(root, "scrshots", "notavail.gif"), PLACEHOLDER_COLOUR)
    games = "".join(f"{game}={game.capitalize()} (1984)\n" for game in GAMES)
    with open(os.path.join(root, "kabinex.ini"), "w") as f:
        f.write(f"[path]\nemudir={emudir}\nzipdir={zipdir}\nunzipper=unzip\n\n[games]\n{games}")
    return emudir


def add_zipped_game(root, emudir, game):
    """A zipped game whose unzip tool waits until the returned file exists, so the progress window
    stays up until the test lets the extraction go on."""
    go = os.path.join(root, "unzip-go")
    with zipfile.ZipFile(os.path.join(root, "zips", f"{game}.zip"), "w") as z:
        for i in range(1, 6):
            z.writestr(f"{game}.{i}", bytes([i]) * 32)
    unzipper = f"f() {{ while [ ! -e '{go}' ]; do sleep 0.05; done; unzip \"$@\"; }}; f"
    path = os.path.join(root, "kabinex.ini")
    with open(path) as f:
        text = f.read().replace("unzipper=unzip\n", f"unzipper={unzipper}\n")
    with open(path, "w") as f:
        f.write(text + f"{game}={game.capitalize()} (1985)\n")
    return go


@contextlib.contextmanager
def kabinex_running(x, kabinex, root, record):
    """Kabinex on root; on a failure the screen and its output are kept; it is ended in any case."""
    output = open(os.path.join(root, "kabinex-output.txt"), "wb")
    proc = start_kabinex(x, kabinex, root, record, output)
    try:
        yield proc
    except Failure:
        x.save_png("root", os.path.join(root, "screen-at-failure.png"))
        output.flush()
        show_output(root)
        raise
    finally:
        kill_group(proc)
        output.close()


def focused_window(x):
    return x.run("xdotool", "getwindowfocus").strip()


def wait_focus(x, window, what):
    poll(f"{what} to have the keyboard focus (it is on {focused_window(x)})", lambda: focused_window(x) == window)


def open_with_keys(x, keys, title_regex, what):
    """Moves the focus to a button with keys and presses it with Enter."""
    x.key(*keys, "Return")
    window = x.wait_window(title_regex)
    wait_focus(x, window, what)
    return window


def check_over(box, main_box, what):
    """Without a window manager Kabinex places its message boxes and dialogs: centred over the main window."""
    centre = (box[0] + box[2] // 2, box[1] + box[3] // 2)
    main_centre = (main_box[0] + main_box[2] // 2, main_box[1] + main_box[3] // 2)
    # Qt allows for a frame it cannot know of without a window manager: a few dozen pixels at most.
    check(abs(centre[0] - main_centre[0]) <= 40 and abs(centre[1] - main_centre[1]) <= 60,
          f"{what} {box} is not centred over the main window {main_box}")


def check_centred_on_screen(x, window, what):
    """The about window and the viewer open centred on the screen the first time."""
    left, top, width, height = x.geometry(window)
    centre = (left + width // 2, top + height // 2)
    screen_centre = (x.size[0] // 2, x.size[1] // 2)
    check(all(abs(a - b) <= 1 for a, b in zip(centre, screen_centre)),
          f"{what} is centred at {centre}, not at the screen's centre {screen_centre}")


class Launches:
    def __init__(self, record):
        self.record = record
        self.seen = 0

    def expect(self, game, after):
        runs = poll(f"a launch of {game} after {after}", lambda: len(records(self.record)) > self.seen
                    and records(self.record))
        self.seen += 1
        check(len(runs) == self.seen, f"after {after}: {len(runs)} runs, expected {self.seen}")
        check(runs[-1][1] == game, f"after {after}: launched {runs[-1][1:]}, expected {game}")
        log(f"ok: after {after}, Down and Enter launch {game}")

    def none_since(self, what):
        check(len(records(self.record)) == self.seen, f"{what} started the emulator: {records(self.record)[self.seen:]}")


def play_keys(x, kabinex, mave, root):
    emudir = make_program_dir(root, mave)
    record = os.path.join(root, "mave-record.txt")
    with kabinex_running(x, kabinex, root, record) as proc:
        main = x.wait_window("^Kabinex$")
        wait_focus(x, main, "the main window at start")
        # The first activation shows the preview and then puts the focus on the game list.
        Session(x, main).wait_preview(PLACEHOLDER_COLOUR, "the placeholder")
        launches = Launches(record)

        about = open_with_keys(x, TO_ABOUT, "^About Kabinex$", "the about window")
        check_centred_on_screen(x, about, "the about window")
        x.key("Return")
        x.wait_window_gone(about)
        wait_focus(x, main, "the main window after the about window")
        x.key("Down", "Return")
        launches.expect("dos", "the about window")

        viewer = open_with_keys(x, TO_HELP, "^Mave - README\\.TXT$", "the read-me viewer")
        check_centred_on_screen(x, viewer, "the read-me viewer")
        x.key("Escape")
        x.wait_window_gone(viewer)
        wait_focus(x, main, "the main window after the viewer")
        x.key("Down", "Return")
        launches.expect("tres", "the read-me viewer")

        dialog = open_with_keys(x, TO_ZIP_SELECT, "^Open$", "the ZIP Select dialog")
        check_over(x.geometry(dialog), x.geometry(main), "the Select dialog")
        x.key("Escape")
        x.wait_window_gone(dialog)
        wait_focus(x, main, "the main window after the Select dialog")
        x.key("Down", "Return")
        launches.expect("cuatro", "the ZIP Select dialog (ZIP support off)")

        x.key("Down", "Return")
        box = poll("the launch message", lambda: [w for w in x.find_windows("^Kabinex$") if w != main])[0]
        wait_focus(x, box, "the launch message")
        check_over(x.geometry(box), x.geometry(main), "the launch message")
        x.key("Return")
        x.wait_window_gone(box)
        launches.none_since("the missing game")
        wait_focus(x, main, "the main window after the launch message")
        x.key("Down", "Return")
        launches.expect("cinco", "the launch message")

        # The error box in front of the viewer: the emulator's read-me is gone.
        os.remove(os.path.join(emudir, "readme.txt"))
        x.key(*TO_HELP, "Return")
        error = poll("the error box", lambda: [w for w in x.find_windows("^Kabinex$") if w != main])[0]
        wait_focus(x, error, "the error box")
        x.key("Return")
        x.wait_window_gone(error)
        viewer = x.wait_window("^Mave - README\\.TXT$")
        wait_focus(x, viewer, "the viewer after the error box")
        x.key("Escape")
        x.wait_window_gone(viewer)
        wait_focus(x, main, "the main window after the viewer and its error box")
        x.key("Up", "Up", "Return")
        launches.expect("cuatro", "the error box and the viewer")

        ini = quit_with_escape(x, main, proc, root)
        check(ini["path"].get("zipdir") == "<No tiene soporte ZIP!>",
              f"zipdir written as {ini['path'].get('zipdir')!r} after the Select dialog was cancelled")
        check(ini["path"].get("emudir") == emudir, f"emudir written as {ini['path'].get('emudir')!r}")
        log("ok: Escape quits; the cancelled Select dialog switched ZIP support off")


def play_progress(x, kabinex, mave, root):
    """Without a window manager the progress window hands the focus back to the list when it closes."""
    emudir = make_program_dir(root, mave)
    go = add_zipped_game(root, emudir, "seis")
    record = os.path.join(root, "mave-record.txt")
    with kabinex_running(x, kabinex, root, record) as proc:
        main = x.wait_window("^Kabinex$")
        wait_focus(x, main, "the main window at start")
        Session(x, main).wait_preview(PLACEHOLDER_COLOUR, "the placeholder")
        launches = Launches(record)
        x.key("End", "Return")
        progress = x.wait_window("^Progress$")
        wait_focus(x, progress, "the progress window")
        x.key("Escape")
        x.wait_window_gone(progress)
        wait_focus(x, main, "the main window after Escape on the progress window")
        launches.none_since("the cancelled extraction")
        x.key("Up", "Return")
        launches.expect("cinco", "the progress window closed by Escape")

        x.key("Down", "Return")
        progress = x.wait_window("^Progress$")
        wait_focus(x, progress, "the progress window again")
        with open(go, "w"):
            pass
        launches.expect("seis", "the extraction")
        x.wait_window_gone(progress)
        wait_focus(x, main, "the main window after the game started")
        x.key("Up", "Return")
        launches.expect("cinco", "the progress window closed by the game starting")
        quit_with_escape(x, main, proc, root)


def viewable(x, window):
    return "Map State: IsViewable" in x.run("xwininfo", "-id", window, check=False)


def check_no_minimise_hint(x, window, what):
    """A modal window asks for no minimise function or box, for the window managers that honour the
    Motif hints (openbox offers its minimise button all the same)."""
    hints = [int(v, 16) for v in x.property(window, "_MOTIF_WM_HINTS").split(",")]
    check(len(hints) >= 3 and hints[0] & 3 == 3, f"{what}: no Motif functions and decorations ({hints})")
    check(not hints[1] & MWM_FUNC_MINIMIZE, f"{what}: the Motif functions {hints[1]:#x} ask for minimise")
    check(not hints[2] & MWM_DECOR_MINIMIZE, f"{what}: the Motif decorations {hints[2]:#x} ask for a minimise box")
    log(f"ok: {what} asks for no minimise box (openbox allows: "
        f"{x.property(window, '_NET_WM_ALLOWED_ACTIONS').replace('_NET_WM_ACTION_', '')})")


def play_minimised_about(x, kabinex, mave, root):
    make_program_dir(root, mave)
    record = os.path.join(root, "mave-record.txt")
    with kabinex_running(x, kabinex, root, record) as proc:
        main = x.wait_window("^Kabinex$")
        poll("the main window to be active", lambda: x.active_window() == main)
        s = Session(x, main)
        s.click(ABOUT_BUTTON)
        about = x.wait_window("^About Kabinex$")
        poll("the about window to be active", lambda: x.active_window() == about)
        check_no_minimise_hint(x, about, "the about window")
        # What the minimise button sends, as ICCCM defines it: WM_CHANGE_STATE with IconicState.
        x.run("xdotool", "windowminimize", "--sync", about)
        check(viewable(x, main), "minimising the about window took the main window away too")
        log("ok: openbox minimised the about window; the main window stays on screen")
        s.click(GAME_LIST, dx=60, dy=100)
        poll("the about window back on screen", lambda: viewable(x, about))
        poll("the about window back in front with the focus", lambda: x.active_window() == about)
        log("ok: a click on the main window brings the about window back in front, with the focus")
        x.key("Return")
        x.wait_window_gone(about)
        poll("the main window active again", lambda: x.active_window() == main)
        check(proc.poll() is None, "kabinex ended")
        x.key("Return")
        runs = poll("a launch by Enter", lambda: records(record))
        check(runs[0][1] == "uno", f"launched {runs[0][1:]}")
        log("ok: Enter closes the about window; the main window takes keys again")

        s.click(ZIP_SELECT_BUTTON)
        dialog = x.wait_window("^Open$")
        poll("the Select dialog to be active", lambda: x.active_window() == dialog)
        x.run("xdotool", "windowminimize", "--sync", dialog)
        check(viewable(x, main), "minimising the Select dialog took the main window away too")
        s.click(GAME_LIST, dx=60, dy=100)
        poll("the Select dialog back in front with the focus",
             lambda: viewable(x, dialog) and x.active_window() == dialog)
        x.key("Escape")
        x.wait_window_gone(dialog)
        poll("the main window active again", lambda: x.active_window() == main)
        log("ok: the Select dialog minimised comes back the same way and Escape closes it")
        quit_with_escape(x, main, proc, root)


def frame(x, window):
    """(left, top, right, bottom) of the window with the frame the window manager put around it."""
    left, top, width, height = x.geometry(window)
    extents = x.property(window, "_NET_FRAME_EXTENTS")
    margin = [int(v) for v in extents.split(",")] if extents else [0, 0, 0, 0]
    return (left - margin[0], top - margin[2], left + width + margin[1], top + height + margin[3])


def wait_frame_on_screen(x, window, what):
    poll(f"{what} with its frame on the {x.size[0]}x{x.size[1]} screen (frame at {frame(x, window)})",
         lambda: (lambda f: f[0] >= 0 and f[1] >= 0 and f[2] <= x.size[0] and f[3] <= x.size[1])(frame(x, window)))
    log(f"ok: {what} lies on the small screen, frame {frame(x, window)}")


def play_small_screen(kabinex, mave, root, wm):
    make_program_dir(root, mave)
    record = os.path.join(root, "mave-record.txt")
    with XServer(640, 480) as x, WindowManager(x) if wm else contextlib.nullcontext(), \
            kabinex_running(x, kabinex, root, record) as proc:
        main = x.wait_window("^Kabinex$")
        wait_frame_on_screen(x, main, "the main window")
        x.focus(main)
        about = open_with_keys(x, TO_ABOUT, "^About Kabinex$", "the about window")
        wait_frame_on_screen(x, about, "the about window")
        x.key("Return")
        x.wait_window_gone(about)
        wait_focus(x, main, "the main window after the about window")
        viewer = open_with_keys(x, TO_HELP, "^Mave - README\\.TXT$", "the read-me viewer")
        wait_frame_on_screen(x, viewer, "the read-me viewer")
        x.key("Escape")
        x.wait_window_gone(viewer)
        quit_with_escape(x, main, proc, root)


def sessions(x, args, root):
    if args.wm:
        play_minimised_about(x, args.kabinex, args.mave, os.path.join(root, "0"))
    else:
        play_keys(x, args.kabinex, args.mave, os.path.join(root, "0"))
        play_progress(x, args.kabinex, args.mave, os.path.join(root, "1"))
    play_small_screen(args.kabinex, args.mave, os.path.join(root, "2"), args.wm)


def main():
    return run_sessions(sessions, tools=["convert", "unzip"], prefix="kabinex-keys-")


if __name__ == "__main__":
    sys.exit(main())
