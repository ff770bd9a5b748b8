#!/usr/bin/env python3
"""The game list end to end: the real program under Xvfb, driven with real keys.

Session one types in the game list over marked and accented descriptions and reads the game found
from the preview (each game's screenshot is one flat colour): a new text looks from the next game
on, letters within a second extend it, a blank belongs to it, the mark and the accents are no part
of it, and Down, Enter and Escape keep their meaning. Session two starts on a 10 MiB description
and quits with Escape: the window answers and the description is written back whole. Session
three finds words anywhere in a title through Ctrl+F: accents, letter case and the marks ignored,
Enter and F3 on to the next game, Escape back to the list, and the favourite written at exit.

Usage: list_e2e.py --kabinex BUILD/kabinex [--wm openbox] [--keep DIR]
Exit status 0 on success, 1 on failure, 77 when the X tools are not installed.
"""
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean when ctest runs this
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import Failure, close_to, kill_group, log, poll, run_sessions  # noqa: E402

SCREENSHOT = (264, 8, 273, 193)
GIF_SIZE = (120, 90)
TYPING_PAUSE = 1.5  # seconds: longer than the list's one second between letters

# name, description as in the file, present on disk, screenshot colour
GAMES = [
    ("alpha", "Alpha", True, (40, 90, 200)),
    ("volcan", "Volc\u00e1n", False, (200, 40, 40)),
    ("volcano", "Volcano", True, (40, 180, 60)),
    ("nandu", "\u00d1and\u00fa", False, (150, 60, 160)),
    ("dragon", "Drag\u00f3n Dorado", True, (230, 200, 30)),
    ("dragonfly", "Dragon fly", False, (20, 170, 170)),
    ("zeta", "\u00b7\u00b7 Zeta", True, (250, 130, 20)),
]
COLOUR = {name: colour for name, _, _, colour in GAMES}


def make_gif(path, colour):
    subprocess.run(["convert", "-size", f"{GIF_SIZE[0]}x{GIF_SIZE[1]}", f"xc:rgb{colour}", "gif:" + path],
                   check=True, capture_output=True, timeout=60)


def make_program_dir(root, games):
    emudir = os.path.join(root, "emulator") + "/"
    os.makedirs(os.path.join(root, "scrshots"))
    os.makedirs(emudir)
    lines = []
    for name, description, present, colour in games:
        if present:
            os.makedirs(os.path.join(emudir, name))
            for i in range(5):
                open(os.path.join(emudir, name, f"{name}.{i}"), "wb").close()
        if colour:
            make_gif(os.path.join(root, "scrshots", name + ".gif"), colour)
        lines.append(f"{name}={description}\n")
    make_gif(os.path.join(root, "scrshots", "notavail.gif"), (0, 0, 0))
    with open(os.path.join(root, "kabinex.ini"), "w", encoding="utf-8") as f:
        f.write(f"[path]\nemudir={emudir}\n[games]\n" + "".join(lines))


def start(x, kabinex, root):
    state = os.path.join(root, "state")
    os.makedirs(state, exist_ok=True)
    output = open(os.path.join(root, "kabinex-output.txt"), "wb")
    proc = subprocess.Popen([kabinex], cwd=root, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                            env=x.env({"XDG_STATE_HOME": state}), start_new_session=True)
    return proc, x.wait_window("^Kabinex$")


def check(condition, message):
    if not condition:
        raise Failure(message)


def quit_with_escape(x, window, proc):
    x.focus(window)
    x.key("Escape")
    try:
        status = proc.wait(30)
    except subprocess.TimeoutExpired:
        raise Failure("kabinex did not end after Escape in the main window")
    check(status == 0, f"kabinex ended with status {status}")


def type_to_find(x, kabinex, root):
    make_program_dir(root, GAMES)
    proc, window = start(x, kabinex, root)
    try:
        left, top = x.geometry(window)[:2]
        spot = (left + SCREENSHOT[0] + SCREENSHOT[2] // 2, top + SCREENSHOT[1] + SCREENSHOT[3] // 2)

        def preview():
            return x.capture().pixel(*spot)

        def expect(game, what):
            poll(f"{what}: the preview of {game} (last seen {preview()})", lambda: close_to(preview(), COLOUR[game]))
            log(f"ok: {what}")

        x.focus(window)
        expect("alpha", "the first game selected at start")

        def typed(text, game, what):
            time.sleep(TYPING_PAUSE)
            x.run("xdotool", "type", "--delay", "60", text)
            expect(game, what)

        typed("volc", "volcan", "'volc' finds the marked 'Volcán'")
        typed("v", "volcano", "a new 'v' looks from the next game on")
        typed("NAND", "nandu", "'NAND' finds 'Ñandú' whatever the case and the accent")
        typed("dragon f", "dragonfly", "a blank within the typed text")
        typed("drago", "dragon", "'drago' finds the next 'Dragón'")
        typed("zet", "zeta", "a mark standing in the file is no part of the description")
        typed("qqq", "zeta", "text that no game begins with keeps the selection")
        typed("al", "alpha", "'al' wraps past the end to 'Alpha'")
        x.key("Down")
        expect("volcan", "Down after typing moves to the next game")
        quit_with_escape(x, window, proc)
    finally:
        kill_group(proc)


def huge_description(x, kabinex, root):
    huge = "Huge " + "x" * (10 << 20)
    make_program_dir(root, [("huge", huge, True, None), ("small", "Small", True, None)])
    proc, window = start(x, kabinex, root)
    try:
        x.focus(window)
        x.key("Down")
        x.key("Up")
        quit_with_escape(x, window, proc)
        log("ok: Escape ends the program with a 10 MiB description in the list")
        with open(os.path.join(root, "kabinex.ini"), encoding="utf-8") as f:
            check(f"huge={huge}\n" in f.read(), "the huge description was not written back whole")
        log("ok: the huge description is written back whole")
    finally:
        kill_group(proc)


FIND_GAMES = [
    ("alpha", "Alpha", True, (40, 90, 200)),
    ("sombra", "La Sombra del Drag\u00f3n", True, (200, 40, 40)),
    ("tesoro", "Tesoro dorado", False, (40, 180, 60)),
    ("night", "Night of the DRAGON", False, (150, 60, 160)),
    ("omega", "Omega", True, (230, 200, 30)),
]


def find_anywhere(x, kabinex, root):
    make_program_dir(root, FIND_GAMES)
    with open(os.path.join(root, "kabinex.ini"), "a", encoding="utf-8") as f:
        f.write("[favorites]\nsombra=1\n")
    proc, window = start(x, kabinex, root)
    try:
        left, top = x.geometry(window)[:2]
        spot = (left + SCREENSHOT[0] + SCREENSHOT[2] // 2, top + SCREENSHOT[1] + SCREENSHOT[3] // 2)
        colours = {name: colour for name, _, _, colour in FIND_GAMES}

        def expect(game, what):
            poll(f"{what}: the preview of {game}", lambda: close_to(x.capture().pixel(*spot), colours[game]))
            log(f"ok: {what}")

        x.focus(window)
        expect("alpha", "the first game selected at start")
        x.key("ctrl+f")
        time.sleep(0.5)
        x.run("xdotool", "type", "--delay", "60", "dragon")
        x.key("Return")
        expect("sombra", "'dragon' finds the favourite 'La Sombra del Dragón' in the middle of its title")
        x.key("F3")
        expect("night", "F3 goes on to the marked 'Night of the DRAGON'")
        x.key("Return")
        expect("sombra", "Enter wraps past the end")
        x.key("ctrl+a")
        x.run("xdotool", "type", "--delay", "60", "ORO tes")
        x.key("Return")
        expect("tesoro", "two words anywhere, in any order")
        x.key("Escape")
        time.sleep(0.5)
        x.key("Down")
        expect("night", "after Escape the keys go to the list again")
        x.key("F3")
        expect("tesoro", "F3 in the list finds the last text again")
        x.key("ctrl+d")  # tesoro becomes a favourite
        quit_with_escape(x, window, proc)
        with open(os.path.join(root, "kabinex.ini"), encoding="utf-8") as f:
            text = f.read()
        check("[favorites]\nsombra=1\ntesoro=1\n[" in text, f"favourites at exit: {text!r}")
        log("ok: the program ran on after Escape in the find box, and Ctrl+D's favourite was written")
    finally:
        kill_group(proc)


def sessions(x, args, root):
    for number, session in enumerate([type_to_find, huge_description, find_anywhere]):
        session(x, args.kabinex, os.path.join(root, str(number)))


def main():
    return run_sessions(sessions, tools=["convert"], paths=[], prefix="kabinex-list-e2e-")


if __name__ == "__main__":
    sys.exit(main())
