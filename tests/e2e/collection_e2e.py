#!/usr/bin/env python3
"""A collection copied from a DOS machine, end to end: every name in capitals.

The program directory holds KABINEX.INI, KABINEX.TXT and SCRSHOTS/ (ALPHA.GIF, a GAMMA.PNG bigger
than the preview, NOTAVAIL.GIF); the emulator directory holds MAVE (the stand-in emulator),
README.TXT, the game directory ALPHA/ with its ROMs, GAMMA/ with a note of the user's, SNAP/ and
CFG/; the ZIP directory holds GAMMA.ZIP (ROMs in capitals) and GALAXIA.ZIP, which the catalogue
does not name yet. The catalogue names its games in lower case, as the user wrote them.

First `kabinex --add-games` adds GALAXIA with the emulator's own description and nothing else;
then the window: the screenshots and the placeholder are found, the PNG is scaled down to fit, the
present and the zipped game launch (the zipped one extracted into GAMMA/ and cleaned up after),
both read-mes open, and the settings are written back into KABINEX.INI.

Usage: collection_e2e.py --kabinex BUILD/kabinex --mave BUILD/mave [--wm openbox] [--keep DIR]
Exit status 0 on success, 1 on failure, 77 when the X tools are not installed.
"""
import os
import shutil
import subprocess
import sys
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean when ctest runs this
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kabinex_e2e import (EXECUTE_BUTTON, HELP_BUTTON, SCREENSHOT, Session, check, log, make_gif,  # noqa: E402
                         records, show_output, start_kabinex)
from xsession import Failure, close_to, kill_group, poll, run_sessions  # noqa: E402

ALPHA_COLOUR = (40, 90, 200)
GAMMA_COLOUR = (150, 60, 160)
PLACEHOLDER_COLOUR = (230, 200, 30)
BLACK = (0, 0, 0)
GAMMA_PNG_SIZE = (600, 450)  # fitted into 273 x 193: 257 x 193, a black band of 8 pixels each side
ROMS_IN_ZIP = ["GAMMA.1", "GAMMA.2", "GAMMA.3", "GAMMA.4", "GAMMA.5", "HISCORES.DAT"]
SETTINGS = "KABINEX.INI"
VIEWER_SWITCH_BUTTON = (208, 424, 161, 25)  # "Ver KABINEX.TXT" / "Ver MAVE README.TXT"


def make_collection(root, mave):
    emudir = os.path.join(root, "EMULATOR") + "/"
    zipdir = os.path.join(root, "ZIPS") + "/"
    for directory in ("ALPHA", "GAMMA", "SNAP", "CFG"):
        os.makedirs(os.path.join(emudir, directory))
    os.makedirs(zipdir)
    os.makedirs(os.path.join(root, "SCRSHOTS"))
    for i in range(1, 6):
        with open(os.path.join(emudir, "ALPHA", f"ALPHA.{i}"), "wb") as f:
            f.write(bytes([i]) * 64)
        with open(os.path.join(emudir, "SNAP", f"SHOT{i}.PNG"), "wb") as f:
            f.write(b"not a game")
    with open(os.path.join(emudir, "GAMMA", "NOTES.TXT"), "w") as f:
        f.write("mis notas\n")
    for archive, names in (("GAMMA.ZIP", ROMS_IN_ZIP), ("GALAXIA.ZIP", ["GALAXIA.1"])):
        with zipfile.ZipFile(os.path.join(zipdir, archive), "w") as z:
            for name in names:
                z.writestr(name, name.encode() * 16)
    shutil.copy(mave, os.path.join(emudir, "MAVE"))
    with open(os.path.join(emudir, "README.TXT"), "w") as f:
        f.write("MAVE READ-ME, COPIED FROM DOS.\n")
    with open(os.path.join(root, "KABINEX.TXT"), "w") as f:
        f.write("KABINEX READ-ME.\n")
    make_gif(os.path.join(root, "SCRSHOTS", "ALPHA.GIF"), ALPHA_COLOUR)
    make_gif(os.path.join(root, "SCRSHOTS", "NOTAVAIL.GIF"), PLACEHOLDER_COLOUR)
    subprocess.run(["convert", "-size", f"{GAMMA_PNG_SIZE[0]}x{GAMMA_PNG_SIZE[1]}", f"xc:rgb{GAMMA_COLOUR}",
                    "PNG24:" + os.path.join(root, "SCRSHOTS", "GAMMA.PNG")], check=True, capture_output=True,
                   timeout=60)
    # Written on DOS: CR LF line ends.
    with open(os.path.join(root, SETTINGS), "wb") as f:
        f.write((f"[path]\r\nemudir={emudir}\r\nzipdir={zipdir}\r\nunzipper=unzip\r\n\r\n"
                 "[games]\r\nalpha=Alpha Attack (1981)\r\nbeta=Beta Blaster (1982)\r\ngamma=Gamma Galaxy (1983)\r\n"
                 ).encode())
    return emudir, zipdir


def add_games(kabinex, root):
    before = open(os.path.join(root, SETTINGS), "rb").read()
    result = subprocess.run([kabinex, "--add-games"], cwd=root, capture_output=True, timeout=60,
                            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    output = result.stdout.decode()
    check(result.returncode == 0, f"kabinex --add-games ended with {result.returncode}: {result.stderr.decode()}")
    check("Añadido: GALAXIA = Galaxia Invasora (1979)" in output, f"--add-games printed {output!r}")
    check(output.count("Añadido:") == 1, f"--add-games added more than GALAXIA: {output!r}")
    after = open(os.path.join(root, SETTINGS), "rb").read()
    check(after == before + b"GALAXIA=Galaxia Invasora (1979)\r\n", f"{SETTINGS} became {after!r}")
    check(not os.path.exists(os.path.join(root, "kabinex.ini")), "a second settings file kabinex.ini was made")
    again = subprocess.run([kabinex, "--add-games"], cwd=root, capture_output=True, timeout=60)
    check(open(os.path.join(root, SETTINGS), "rb").read() == after and "Añadido".encode() not in again.stdout,
          "a second --add-games changed the catalogue")
    log("ok: --add-games adds GALAXIA.ZIP with the emulator's description, into KABINEX.INI, once")


def check_preview(x, s):
    s.wait_preview(ALPHA_COLOUR, "ALPHA.GIF")
    check(close_to(x.capture().pixel(*s.at(SCREENSHOT, dx=3, dy=3)), BLACK), "ALPHA.GIF is not shown centred")
    log("ok: SCRSHOTS/ALPHA.GIF shows for alpha")
    x.key("Down")
    s.wait_preview(PLACEHOLDER_COLOUR, "NOTAVAIL.GIF")
    log("ok: SCRSHOTS/NOTAVAIL.GIF shows for beta")
    x.key("Down")
    s.wait_preview(GAMMA_COLOUR, "GAMMA.PNG")
    picture = x.capture()
    check(close_to(picture.pixel(*s.at(SCREENSHOT, dx=3, dy=3)), BLACK), "GAMMA.PNG fills the band it should leave")
    check(close_to(picture.pixel(*s.at(SCREENSHOT, dx=12, dy=1)), GAMMA_COLOUR), "GAMMA.PNG is not fitted to the height")
    log("ok: SCRSHOTS/GAMMA.PNG shows for gamma, scaled down to fit")


def check_readmes(x, s):
    s.click(HELP_BUTTON)
    viewer = x.wait_window("^Mave - README\\.TXT$")
    x.focus(viewer)
    # The caption changes only after a successful load: README.TXT, then KABINEX.TXT, then README.TXT.
    switch = Session(x, viewer)
    switch.click(VIEWER_SWITCH_BUTTON)
    x.wait_window("^Mave - KABINEX\\.TXT$")
    switch.click(VIEWER_SWITCH_BUTTON)
    x.wait_window("^Mave - README\\.TXT$")
    x.focus(viewer)
    x.key("Escape")
    x.wait_window_gone(viewer)
    log("ok: README.TXT of the emulator and KABINEX.TXT open in the viewer")


def play(x, kabinex, mave, root):
    os.makedirs(root)
    emudir, _ = make_collection(root, mave)
    add_games(kabinex, root)
    record = os.path.join(root, "mave-record.txt")
    output = open(os.path.join(root, "kabinex-output.txt"), "wb")
    proc = start_kabinex(x, kabinex, root, record, output)
    try:
        window = x.wait_window("^Kabinex$")
        s = Session(x, window)
        x.focus(window)
        s.click_game(0)
        check_preview(x, s)

        # Launch and clean-up: these need the game directory, the archive and MAVE found in any case.
        x.key("Up", "Up")
        s.wait_preview(ALPHA_COLOUR, "ALPHA.GIF")
        s.wait_caption("green")
        x.key("Return")
        runs = poll("the emulator's run of alpha", lambda: records(record))
        check(runs[0][1:] == ["alpha"], f"alpha was run as {runs[0]}")
        log("ok: alpha (EMULATOR/ALPHA/) is present and launches")
        s.click_game(2)
        s.wait_preview(GAMMA_COLOUR, "GAMMA.PNG")
        s.wait_caption("green")
        x.key("Return")
        runs = poll("the emulator's run of gamma", lambda: records(record)[1:] and records(record))
        check(runs[1][1:] == ["gamma"], f"gamma was run as {runs[1]}")
        gamma_dir = os.path.join(emudir, "GAMMA")
        check(not os.path.exists(os.path.join(emudir, "gamma")), "a second game directory gamma/ was made")
        poll(f"the extracted ROMs to be removed from GAMMA/ (now {sorted(os.listdir(gamma_dir))})",
             lambda: set(os.listdir(gamma_dir)) == {"NOTES.TXT", "HISCORES.DAT"})
        log("ok: gamma is extracted from GAMMA.ZIP into GAMMA/, launched, and its ROMs removed afterwards")

        check_readmes(x, s)

        x.focus(window)
        x.key("Escape")
        check(proc.wait(30) == 0, "kabinex did not end with status 0")
        check(sorted(name for name in os.listdir(root) if name.lower() == "kabinex.ini") == [SETTINGS],
              "the settings were not written back into KABINEX.INI alone")
        written = open(os.path.join(root, SETTINGS), "rb").read()
        check(b"enablejoystick=0\r\n" in written and b"GALAXIA=Galaxia Invasora (1979)\r\n" in written,
              f"{SETTINGS} written as {written!r}")
        log("ok: Escape quits; the settings are written back into KABINEX.INI with its CR LF")
    except (Failure, subprocess.TimeoutExpired):
        output.flush()
        show_output(root)
        raise
    finally:
        kill_group(proc)
        output.close()


def sessions(x, args, root):
    play(x, args.kabinex, args.mave, os.path.join(root, "DOS"))


def main():
    return run_sessions(sessions, tools=["convert", "unzip"], prefix="kabinex-collection-")


if __name__ == "__main__":
    sys.exit(main())
