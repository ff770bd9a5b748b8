#!/usr/bin/env python3
"""Takes the README's pictures from the real program: kabinex on a copy of the demo under Xvfb.

Usage: readme_pictures.py --kabinex BUILD/kabinex --mave BUILD/mave --demo demo --out docs
Writes main-window.png, readme-viewer.png and about-window.png into the output directory.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # keep the source tree clean when ctest runs this
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import SKIP, Failure, XServer, kill_group, missing_tools, poll  # noqa: E402

GAME_LIST = (16, 256, 225, 145)
SCREENSHOT = (264, 8, 273, 193)
HELP_BUTTON = (448, 280, 81, 33)
ABOUT_BUTTON = (448, 320, 81, 33)


def settled(x, window):
    """Waits until two captures in a row of the window agree (a big screenshot decodes row by row)."""
    previous = [None]

    def same():
        current = x.capture(window).rgb
        agreed = current == previous[0]
        previous[0] = current
        return agreed
    poll("the window to settle", same, interval=0.3)


def take(x, window, path):
    settled(x, window)
    x.save_png(window, path)
    print(f"wrote {path}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kabinex", required=True)
    parser.add_argument("--mave", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if missing_tools():
        print(f"missing: {', '.join(missing_tools())}")
        return SKIP

    os.makedirs(args.out, exist_ok=True)
    out = os.path.abspath(args.out)
    root = tempfile.mkdtemp(prefix="kabinex-pictures-")
    proc = None
    try:
        run = os.path.join(root, "demo")
        shutil.copytree(args.demo, run)
        shutil.copy(args.mave, os.path.join(run, "emulator", "mave"))
        with XServer() as x:
            proc = subprocess.Popen([os.path.abspath(args.kabinex)], cwd=run, env=x.env(),
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    start_new_session=True)
            main_window = x.wait_window("^Kabinex$")
            ox, oy = x.geometry(main_window)[:2]
            x.focus(main_window)
            x.click(ox + GAME_LIST[0] + 40, oy + GAME_LIST[1] + 2 + 6)
            # Move the pointer off the controls, so no hover highlight shows.
            x.run("xdotool", "mousemove", "0", "0")
            take(x, main_window, os.path.join(out, "main-window.png"))

            x.click(ox + HELP_BUTTON[0] + 40, oy + HELP_BUTTON[1] + 16)
            viewer = x.wait_window("^Mave - README\\.TXT$")
            x.run("xdotool", "mousemove", "0", "0")
            take(x, viewer, os.path.join(out, "readme-viewer.png"))
            x.focus(viewer)
            x.key("Escape")
            x.wait_window_gone(viewer)

            x.click(ox + ABOUT_BUTTON[0] + 40, oy + ABOUT_BUTTON[1] + 16)
            about = x.wait_window("^About Kabinex$")
            x.run("xdotool", "mousemove", "0", "0")
            take(x, about, os.path.join(out, "about-window.png"))
            kill_group(proc)
            proc = None
    except Failure as failure:
        print(f"FAILED: {failure}", flush=True)
        return 1
    finally:
        kill_group(proc)
        shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
