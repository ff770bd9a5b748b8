#!/usr/bin/env python3
"""Kabinex told to end by the system: the option the user just changed is in the settings file.

Each case starts the real program under Xvfb on a program directory of its own, ticks the joystick
option with a real click (and waits until the tick shows), and then ends the program another way
than Escape: SIGTERM, SIGHUP and SIGINT, SIGTERM while the about window is open (a modal window),
and the X server going away. The settings file must then hold enablejoystick=1, keep its other
lines, and have been replaced whole. One settings file carries a NUL byte in the emulator directory,
a value the program never changes: the write must not fail on it.

Usage: signals_e2e.py --kabinex BUILD/kabinex [--wm openbox] [--keep DIR]
Exit status 0 on success, 1 on failure, 77 when the X tools are not installed.
"""
import argparse
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # keep the source tree clean when ctest runs this
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import SKIP, Failure, WindowManager, XServer, kill_group, missing_tools, poll  # noqa: E402

# The joystick check box's square in the main window's client area, and the about button.
JOY_BOX = (264 + 16 + 2, 224 + 24 + 4, 10, 10)
ABOUT_BUTTON = (448, 320, 81, 33)
DEMO_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "demo")


def log(text):
    print(text, flush=True)


def check(condition, message):
    if not condition:
        raise Failure(message)


def settings_text(emudir):
    return (b"[path]\r\nemudir=" + emudir + b"\r\nzipdir=<No tiene soporte ZIP!>\r\nunzipper=unzip\r\n"
            b"; kept as it stands\r\n[options]\r\nenablejoystick=0\r\nnosound=1\r\nvsync=0\r\n"
            b"[games]\r\nalpha=Alpha Attack (1981)\r\nbeta=Beta Blaster (1982)\r\n")


def make_program_dir(root, emudir):
    os.makedirs(os.path.join(root, "state"))
    os.makedirs(os.path.join(root, "scrshots"))
    shutil.copy(os.path.join(DEMO_DIR, "scrshots", "notavail.gif"), os.path.join(root, "scrshots"))
    with open(os.path.join(root, "kabinex.ini"), "wb") as f:
        f.write(settings_text(emudir))


def box_pixels(x, window):
    left, top = x.geometry(window)[:2]
    bx, by, w, h = JOY_BOX
    return x.capture().pixels(left + bx, top + by, w, h)


def start_with_option_ticked(x, kabinex, root):
    output = open(os.path.join(root, "kabinex-output.txt"), "wb")
    proc = subprocess.Popen([kabinex], cwd=root, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                            env=x.env({"XDG_STATE_HOME": os.path.join(root, "state")}), start_new_session=True)
    window = x.wait_window("^Kabinex$")
    x.focus(window)
    before = box_pixels(x, window)
    left, top = x.geometry(window)[:2]
    x.click(left + JOY_BOX[0] + JOY_BOX[2] // 2, top + JOY_BOX[1] + JOY_BOX[3] // 2)
    poll("the joystick option's tick", lambda: box_pixels(x, window) != before)
    return proc, window


def wait_end(proc, what):
    try:
        return proc.wait(30)
    except subprocess.TimeoutExpired:
        raise Failure(f"kabinex did not end after {what}")


def check_settings(root, emudir, what):
    with open(os.path.join(root, "kabinex.ini"), "rb") as f:
        written = f.read()
    expected = settings_text(emudir).replace(b"enablejoystick=0", b"enablejoystick=1")
    expected = expected.replace(b"vsync=0\r\n", b"vsync=0\r\naltfmbase=0\r\nnoscanlines=0\r\nframeskip=0\r\n")
    check(written == expected, f"after {what} the settings file holds {written!r}, expected {expected!r}")
    leftovers = [name for name in os.listdir(root) if name.startswith(".kabinex.ini")]
    check(not leftovers, f"after {what} a temporary file is left: {leftovers}")


def end_by_signal(x, kabinex, root, emudir, signum):
    what = signal.Signals(signum).name
    proc, _ = start_with_option_ticked(x, kabinex, root)
    try:
        os.kill(proc.pid, signum)
        status = wait_end(proc, what)
    finally:
        kill_group(proc)
    check(status == 0, f"kabinex ended with status {status} after {what}")
    check_settings(root, emudir, what)
    log(f"ok: {what} ends kabinex with status 0, the changed option written")


def end_with_modal_window(x, kabinex, root, emudir):
    proc, window = start_with_option_ticked(x, kabinex, root)
    try:
        left, top = x.geometry(window)[:2]
        x.click(left + ABOUT_BUTTON[0] + ABOUT_BUTTON[2] // 2, top + ABOUT_BUTTON[1] + ABOUT_BUTTON[3] // 2)
        poll("the about window", lambda: [w for w in x.find_windows(".") if w != window and x.window_name(w)])
        os.kill(proc.pid, signal.SIGTERM)
        status = wait_end(proc, "SIGTERM with the about window open")
    finally:
        kill_group(proc)
    check(status == 0, f"kabinex ended with status {status} after SIGTERM with the about window open")
    check_settings(root, emudir, "SIGTERM with the about window open")
    log("ok: SIGTERM with a modal window open: the changed option written")


def end_with_x_server(kabinex, root, emudir):
    proc = None
    try:
        with XServer() as x:
            proc, _ = start_with_option_ticked(x, kabinex, root)
            x.stop()
            wait_end(proc, "the X server went away")
    finally:
        kill_group(proc)
    check_settings(root, emudir, "the X server went away")
    log("ok: the X server gone: the changed option written")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kabinex", required=True)
    parser.add_argument("--wm", choices=["openbox"], help="run under this window manager")
    parser.add_argument("--keep", help="keep the program directories and a screen capture here on failure")
    args = parser.parse_args()

    missing = missing_tools() + ([args.wm] if args.wm and shutil.which(args.wm) is None else [])
    if missing:
        log(f"skipped: {', '.join(missing)} not installed (scripts/install-deps.sh installs them)")
        return SKIP

    kabinex = os.path.abspath(args.kabinex)
    root = tempfile.mkdtemp(prefix="kabinex-signals-")
    emudir = os.path.join(root, "emulator").encode() + b"/"
    nul_emudir = emudir + b"\0old"
    counter = iter(range(100))

    def fresh_dir(value):
        path = os.path.join(root, str(next(counter)))
        make_program_dir(path, value)
        return path

    try:
        try:
            with XServer() as x, contextlib.ExitStack() as desktop:
                if args.wm:
                    desktop.enter_context(WindowManager(x))
                for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
                    end_by_signal(x, kabinex, fresh_dir(emudir), emudir, signum)
                end_by_signal(x, kabinex, fresh_dir(nul_emudir), nul_emudir, signal.SIGTERM)
                log("ok: a NUL byte in the unchanged emulator directory is written back as read")
                end_with_modal_window(x, kabinex, fresh_dir(emudir), emudir)
            if not args.wm:
                end_with_x_server(kabinex, fresh_dir(emudir), emudir)
        except Failure as failure:
            log(f"FAILED: {failure}")
            if args.keep:
                shutil.rmtree(args.keep, ignore_errors=True)
                shutil.copytree(root, args.keep, symlinks=True)
                log(f"program directories kept in {args.keep}")
            return 1
    finally:
        shutil.rmtree(root, ignore_errors=True)
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
