#!/usr/bin/env python3
"""Kabinex told to end by the system: the option the user just changed is in the settings file.

Each case starts the real program under Xvfb on a program directory of its own, ticks the joystick
option with a real click (and waits until the tick shows), and then ends the program another way
than Escape: SIGTERM, SIGHUP and SIGINT, SIGTERM while the about window is open (a modal window),
and the X server going away, alone and at the moment SIGTERM comes (a few rounds, in either order;
the end must be an exit, never a signal). The settings file must then hold enablejoystick=1, keep its other
lines, and have been replaced whole. One settings file carries a NUL byte in the emulator directory,
a value the program never changes: the write must not fail on it. One case ends Kabinex while a
game extracted from its archive still runs: the pending clean-up stays recorded, and the next start
finishes it once the game has ended.

Usage: signals_e2e.py --kabinex BUILD/kabinex --mave BUILD/mave [--wm openbox] [--keep DIR]
Exit status 0 on success, 1 on failure, 77 when the X tools are not installed.
"""
import os
import shutil
import signal
import subprocess
import sys
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean when ctest runs this
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import Failure, XServer, kill_group, log, poll, run_sessions  # noqa: E402

# The joystick check box's square in the main window's client area, and the about button.
JOY_BOX = (264 + 16 + 2, 224 + 24 + 4, 10, 10)
ABOUT_BUTTON = (448, 320, 81, 33)
DEMO_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "demo")


def check(condition, message):
    if not condition:
        raise Failure(message)


def settings_text(emudir, zipdir=b"<No tiene soporte ZIP!>", games=b"alpha=Alpha Attack (1981)\r\nbeta=Beta Blaster (1982)\r\n"):
    return (b"[path]\r\nemudir=" + emudir + b"\r\nzipdir=" + zipdir + b"\r\nunzipper=unzip\r\n"
            b"; kept as it stands\r\n[options]\r\nenablejoystick=0\r\nnosound=1\r\nvsync=0\r\n"
            b"[games]\r\n" + games)


def make_program_dir(root, text):
    os.makedirs(os.path.join(root, "state"))
    os.makedirs(os.path.join(root, "scrshots"))
    shutil.copy(os.path.join(DEMO_DIR, "scrshots", "notavail.gif"), os.path.join(root, "scrshots"))
    with open(os.path.join(root, "kabinex.ini"), "wb") as f:
        f.write(text)


def box_pixels(x, window):
    left, top = x.geometry(window)[:2]
    bx, by, w, h = JOY_BOX
    return x.capture().pixels(left + bx, top + by, w, h)


def start_kabinex(x, kabinex, root, extra_env=None):
    output = open(os.path.join(root, "kabinex-output.txt"), "ab")
    env = x.env(dict({"XDG_STATE_HOME": os.path.join(root, "state")}, **(extra_env or {})))
    return subprocess.Popen([kabinex], cwd=root, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                            env=env, start_new_session=True)


def start_with_option_ticked(x, kabinex, root, extra_env=None):
    proc = start_kabinex(x, kabinex, root, extra_env)
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


def check_settings(root, original, what):
    with open(os.path.join(root, "kabinex.ini"), "rb") as f:
        written = f.read()
    expected = original.replace(b"enablejoystick=0", b"enablejoystick=1")
    expected = expected.replace(b"vsync=0\r\n", b"vsync=0\r\naltfmbase=0\r\nnoscanlines=0\r\nframeskip=0\r\n")
    check(written == expected, f"after {what} the settings file holds {written!r}, expected {expected!r}")
    leftovers = [name for name in os.listdir(root) if name.startswith(".kabinex.ini")]
    check(not leftovers, f"after {what} a temporary file is left: {leftovers}")


def end_by_signal(x, kabinex, root, original, signum):
    what = signal.Signals(signum).name
    proc, _ = start_with_option_ticked(x, kabinex, root)
    try:
        os.kill(proc.pid, signum)
        status = wait_end(proc, what)
    finally:
        kill_group(proc)
    check(status == 0, f"kabinex ended with status {status} after {what}")
    check_settings(root, original, what)
    log(f"ok: {what} ends kabinex with status 0, the changed option written")


def end_with_modal_window(x, kabinex, root, original):
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
    check_settings(root, original, "SIGTERM with the about window open")
    log("ok: SIGTERM with a modal window open: the changed option written")


def end_with_x_server(kabinex, root, original):
    proc = None
    try:
        with XServer() as x:
            proc, _ = start_with_option_ticked(x, kabinex, root)
            x.stop()
            wait_end(proc, "the X server went away")
    finally:
        kill_group(proc)
    check_settings(root, original, "the X server went away")
    log("ok: the X server gone: the changed option written")


def end_with_x_server_and_sigterm(kabinex, roots, original):
    """SIGTERM and the X server's end at the same moment, in either order: the end is a clean exit,
    never a signal, and the changed option is written."""
    for round, root in enumerate(roots):
        proc = None
        try:
            with XServer() as x:
                proc, _ = start_with_option_ticked(x, kabinex, root)
                ends = [lambda: os.kill(proc.pid, signal.SIGTERM), x.proc.kill]
                for end in ends if round % 2 == 0 else reversed(ends):
                    end()
                status = wait_end(proc, "SIGTERM with the X server going away")
        finally:
            kill_group(proc)
        check(status >= 0, f"round {round}: kabinex was ended by signal {-status} after SIGTERM with the X server gone")
        check_settings(root, original, f"round {round} of SIGTERM with the X server gone")
    log(f"ok: SIGTERM as the X server goes away, {len(roots)} rounds: clean ends, the changed option written")


def cleanup_records(root):
    folder = os.path.join(root, "state", "kabinex")
    return sorted(name for name in os.listdir(folder) if name.endswith(".cleanup")) if os.path.isdir(folder) else []


def end_with_a_game_running(x, kabinex, mave, root):
    """SIGTERM while an extracted game runs: the clean-up stays recorded for the next start."""
    emudir = os.path.join(root, "emulator") + "/"
    zipdir = os.path.join(root, "zips") + "/"
    original = settings_text(emudir.encode(), zipdir.encode(), b"gamma=Gamma Galaxy (1983)\r\n")
    make_program_dir(root, original)
    os.makedirs(emudir)
    os.makedirs(zipdir)
    shutil.copy(mave, os.path.join(emudir, "mave"))
    os.chmod(os.path.join(emudir, "mave"), 0o755)
    roms = [f"gamma.{i}" for i in range(1, 7)]
    with zipfile.ZipFile(os.path.join(zipdir, "gamma.zip"), "w") as z:
        for name in roms:
            z.writestr(name, name.encode() * 16)
    stop = os.path.join(root, "stop-the-game")
    env = {"MAVE_STANDIN_RECORD": os.path.join(root, "mave-record.txt"), "MAVE_STANDIN_UNTIL": stop}
    proc = None
    try:
        proc, window = start_with_option_ticked(x, kabinex, root, env)
        x.key("Return")
        poll("the game's start", lambda: os.path.exists(env["MAVE_STANDIN_RECORD"]))
        records = poll("the pending clean-up's record", lambda: cleanup_records(root))
        os.kill(proc.pid, signal.SIGTERM)
        status = wait_end(proc, "SIGTERM with a game running")
        check(status == 0, f"kabinex ended with status {status} after SIGTERM with a game running")
        check_settings(root, original, "SIGTERM with a game running")
        check(cleanup_records(root) == records, f"the clean-up records are {cleanup_records(root)}, were {records}")
        extracted = sorted(os.listdir(os.path.join(emudir, "gamma")))
        check(extracted == roms, f"the game's directory holds {extracted} while the game still runs")
        log("ok: SIGTERM with an extracted game running: option written, clean-up left recorded")

        # The game ends; the next start finishes the clean-up.
        open(stop, "w").close()
        proc = start_kabinex(x, kabinex, root)
        poll("the recorded clean-up", lambda: not cleanup_records(root) and not os.path.exists(os.path.join(emudir, "gamma")))
        os.kill(proc.pid, signal.SIGTERM)
        wait_end(proc, "SIGTERM")
        log("ok: the next start finished the recorded clean-up")
    finally:
        open(stop, "w").close()
        kill_group(proc)


def sessions(x, args, root):
    emudir = os.path.join(root, "emulator").encode() + b"/"
    counter = iter(range(100))

    def fresh_dir(text=None):
        path = os.path.join(root, str(next(counter)))
        make_program_dir(path, text or settings_text(emudir))
        return path

    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        end_by_signal(x, args.kabinex, fresh_dir(), settings_text(emudir), signum)
    nul_text = settings_text(emudir + b"\0old")
    end_by_signal(x, args.kabinex, fresh_dir(nul_text), nul_text, signal.SIGTERM)
    log("ok: a NUL byte in the unchanged emulator directory is written back as read")
    end_with_modal_window(x, args.kabinex, fresh_dir(), settings_text(emudir))
    end_with_a_game_running(x, args.kabinex, args.mave, os.path.join(root, "game"))
    if not args.wm:
        # An X server of its own, which goes away under the program.
        end_with_x_server(args.kabinex, fresh_dir(), settings_text(emudir))
        end_with_x_server_and_sigterm(args.kabinex, [fresh_dir() for _ in range(6)], settings_text(emudir))


def main():
    return run_sessions(sessions, tools=["unzip"], prefix="kabinex-signals-")


if __name__ == "__main__":
    sys.exit(main())
