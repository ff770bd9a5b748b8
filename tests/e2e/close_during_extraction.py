#!/usr/bin/env python3
"""Closing Kabinex's main window while a launch extracts its archive, the way a window manager does
(WM_DELETE_WINDOW), on a bare X server and under openbox, three times each at three moments (as
the extraction starts, once files are unpacked, with the progress window up): every time the unzip
tool is stopped, nothing starts, nothing extracted, no lock file, script, private directory or
record is left behind, and only then does Kabinex end.

Usage: close_during_extraction.py --kabinex BUILD/kabinex --mave BUILD/mave [--wm openbox] [--keep DIR]
Exit status 0 on success, 1 on failure, 77 when the X tools are not installed.
"""
import ctypes
import os
import shutil
import stat
import subprocess
import sys
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean when ctest runs this
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import Failure, kill_group, poll, run_sessions  # noqa: E402

EXECUTE_BUTTON = (448, 232, 81, 33)  # in the main window's client area
ROUNDS = 3
# The unzip tool's endless wait, told apart from that of any other test running meanwhile.
SLEEP = f"1361.{os.getpid()}"


def log(text):
    print(f"[close_during_extraction] {text}", flush=True)


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


def ask_to_close(display, window_id):
    """What a window manager's close button sends: WM_PROTOCOLS / WM_DELETE_WINDOW."""
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise Failure(f"cannot open display {display}")
    event = XClientMessageEvent()
    event.type = 33  # ClientMessage
    event.window = int(window_id)
    event.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
    event.format = 32
    event.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
    event.data[1] = 0  # CurrentTime
    x11.XSendEvent(connection, int(window_id), 0, 0, ctypes.byref(event))
    x11.XFlush(connection)
    x11.XCloseDisplay(connection)


def make_program_dir(root, mave, extracted):
    emudir = os.path.join(root, "emulator")
    zipdir = os.path.join(root, "zips")
    os.makedirs(emudir)
    os.makedirs(zipdir)
    os.makedirs(os.path.join(root, "scrshots"))
    subprocess.run(["convert", "-size", "120x90", "xc:#2060c0", os.path.join(root, "scrshots", "notavail.gif")],
                   check=True)
    shutil.copy(mave, os.path.join(emudir, "mave"))
    os.chmod(os.path.join(emudir, "mave"), stat.S_IRWXU)
    with zipfile.ZipFile(os.path.join(zipdir, "gamma.zip"), "w") as z:
        for i in range(1, 7):
            z.writestr(f"gamma.{i}", b"rom" * 64)
    # The unzip tool unpacks, says so, and then takes for ever.
    unzipper = f"f() {{ unzip \"$@\"; touch '{extracted}'; sleep {SLEEP}; }}; f"
    with open(os.path.join(root, "kabinex.ini"), "w") as f:
        f.write(f"[path]\nemudir={emudir}/\nzipdir={zipdir}/\nunzipper={unzipper}\n\n[games]\ngamma=Gamma Galaxy\n")
    return emudir


def sleeps_left():
    wanted = b"sleep\x00" + SLEEP.encode() + b"\x00"
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if f.read() == wanted:
                    return True
        except OSError:
            pass
    return False


def one_round(x, kabinex, mave, root, moment):
    extracted = os.path.join(root, "extracted")
    emudir = make_program_dir(root, mave, extracted)
    state = os.path.join(root, "state")
    record = os.path.join(root, "runs.txt")
    proc = subprocess.Popen([kabinex], cwd=root, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL,
                            env=x.env({"MAVE_STANDIN_RECORD": record, "XDG_STATE_HOME": state}),
                            start_new_session=True)
    try:
        window = x.wait_window("^Kabinex$")
        left, top, _, _ = x.geometry(window)
        bx, by, bw, bh = EXECUTE_BUTTON
        # A synced move to where the pointer already is waits for a motion that never comes.
        x.run("xdotool", "mousemove", "0", "0")
        x.click(left + bx + bw // 2, top + by + bh // 2)
        if moment == "start":
            poll("the lock file", lambda: os.path.exists(os.path.join(emudir, "lockfile.$$$")))
        else:
            poll("the unzip tool to unpack", lambda: os.path.exists(extracted))
        if moment == "progress":
            x.wait_window("^Progress$")
        ask_to_close(x.display, window)
        try:
            status = proc.wait(30)
        except subprocess.TimeoutExpired:
            raise Failure("kabinex did not end after its window was closed")
        if status != 0:
            raise Failure(f"kabinex ended with status {status}")
        left_behind = sorted(name for name in os.listdir(emudir) if name != "mave")
        if left_behind:
            raise Failure(f"left in the emulator directory: {left_behind}")
        records = os.listdir(os.path.join(state, "kabinex")) if os.path.isdir(os.path.join(state, "kabinex")) else []
        if records:
            raise Failure(f"records left: {records}")
        if os.path.exists(record):
            raise Failure("the emulator was started")
        if sleeps_left():
            raise Failure("the unzip tool's script still runs")
    finally:
        if proc.poll() is None:
            kill_group(proc)


def sessions(x, args, root):
    for number in range(ROUNDS):
        for moment in ("start", "unpacked", "progress"):
            one_round(x, args.kabinex, args.mave, os.path.join(root, f"{number}-{moment}"), moment)
            log(f"ok: round {number + 1}, closed ({moment}), nothing left behind")


def main():
    return run_sessions(sessions, tools=["convert", "unzip"], prefix="kabinex-close-", log=log)


if __name__ == "__main__":
    sys.exit(main())
