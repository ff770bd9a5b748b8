#!/usr/bin/env python3
"""`cmake --install` into a scratch prefix: the program, the desktop entry and the icon, and nothing else."""
import argparse
import os
import shutil
import struct
import subprocess
import sys


def fail(message):
    print(f"FAILED: {message}", flush=True)
    sys.exit(1)


def desktop_entry(path):
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                group = line[1:-1]
            elif group == "Desktop Entry" and "=" in line and not line.startswith("#"):
                key, _, value = line.partition("=")
                entry[key.strip()] = value.strip()
    return entry


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        fail(f"{path} is not a PNG file")
    return struct.unpack(">II", head[16:24])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--prefix", required=True)
    args = parser.parse_args()

    prefix = args.prefix
    shutil.rmtree(prefix, ignore_errors=True)
    result = subprocess.run([args.cmake, "--install", args.build_dir, "--prefix", prefix],
                            capture_output=True, text=True, timeout=100)
    if result.returncode != 0:
        fail(f"cmake --install failed:\n{result.stdout}{result.stderr}")

    program = os.path.join(prefix, "bin", "kabinex")
    desktop = os.path.join(prefix, "share", "applications", "kabinex.desktop")
    icon = os.path.join(prefix, "share", "icons", "hicolor", "32x32", "apps", "kabinex.png")
    installed = sorted(os.path.relpath(os.path.join(d, f), prefix) for d, _, files in os.walk(prefix) for f in files)
    expected = sorted(os.path.relpath(p, prefix) for p in (program, desktop, icon))
    if installed != expected:
        fail(f"installed {installed}, expected {expected}")

    if not os.access(program, os.X_OK):
        fail("bin/kabinex is not executable")
    with open(program, "rb") as f:
        if f.read(4) != b"\x7fELF":
            fail("bin/kabinex is not a program")

    entry = desktop_entry(desktop)
    for key, value in {"Type": "Application", "Name": "Kabinex", "Exec": "kabinex", "Icon": "kabinex"}.items():
        if entry.get(key) != value:
            fail(f"desktop entry has {key}={entry.get(key)!r}, expected {value!r}")
    categories = entry.get("Categories", "").split(";")
    if "Game" not in categories or "Emulator" not in categories:
        fail(f"desktop entry has Categories={entry.get('Categories')!r}")
    if not entry.get("Comment"):
        fail("desktop entry has no Comment")

    if png_size(icon) != (32, 32):
        fail(f"icon is {png_size(icon)}, expected 32x32")
    shutil.rmtree(prefix, ignore_errors=True)
    print("passed: " + ", ".join(expected), flush=True)


if __name__ == "__main__":
    main()
