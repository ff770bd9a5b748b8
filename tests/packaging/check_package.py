#!/usr/bin/env python3
"""The Debian package as a user gets it: made with cpack from the build directory, its control
fields and files, the desktop entry, metainfo and manual page through their validators, lintian
(no error, and every warning explained in the README), then unpacked into a scratch root and the
installed program run."""
import argparse
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys

TOOLS = ("cpack", "dpkg-deb", "desktop-file-validate", "appstreamcli", "lintian", "man")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
FILES = [
    "usr/bin/kabinex",
    "usr/share/applications/kabinex.desktop",
    "usr/share/metainfo/org.example.kabinex.metainfo.xml",
    "usr/share/man/man1/kabinex.1.gz",
    "usr/share/doc/kabinex/README.md",
    "usr/share/doc/kabinex/copyright",
    "usr/share/doc/kabinex/changelog.gz",
    "usr/share/lintian/overrides/kabinex",
] + [f"usr/share/icons/hicolor/{n}x{n}/apps/kabinex.png" for n in ICON_SIZES]
MAN_SECTIONS = ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "KEYS", "EXIT STATUS",
                "ENVIRONMENT", "EXAMPLE")


def fail(message):
    print(f"FAILED: {message}", flush=True)
    sys.exit(1)


def run(command, timeout=120, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout, **kwargs)


def build_package(build_dir, scratch):
    result = run(["cpack", "-G", "DEB", "--config", os.path.join(build_dir, "CPackConfig.cmake"), "-B", scratch])
    if result.returncode != 0:
        fail(f"cpack failed:\n{result.stdout}{result.stderr}")
    debs = [name for name in os.listdir(scratch) if name.endswith(".deb")]
    if len(debs) != 1:
        fail(f"cpack made {debs}, expected one package")
    return os.path.join(scratch, debs[0])


def check_control(deb, version):
    fields = {}
    for line in run(["dpkg-deb", "-f", deb]).stdout.splitlines():
        if not line.startswith(" ") and ":" in line:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    if os.path.basename(deb) != f"kabinex_{version}_{arch}.deb":
        fail(f"package file is {os.path.basename(deb)}")
    for key, value in {"Package": "kabinex", "Version": version, "Section": "games", "Architecture": arch}.items():
        if fields.get(key) != value:
            fail(f"control has {key}: {fields.get(key)!r}, expected {value!r}")
    depends = [d.strip().split(" ")[0] for d in fields.get("Depends", "").split(",")]
    # Computed from the program's libraries, plus the unzip tool it runs.
    for needed in ("unzip", "libc6", "libqt6widgets6", "libstdc++6"):
        if needed not in depends:
            fail(f"Depends lacks {needed}: {fields.get('Depends')!r}")
    if not re.fullmatch(r".+ <[^@ ]+@[^@ ]+>", fields.get("Maintainer", "")):
        fail(f"Maintainer is {fields.get('Maintainer')!r}")
    description = run(["dpkg-deb", "-f", deb, "Description"]).stdout.splitlines()
    if len(description) < 3 or not description[0].strip():
        fail(f"Description needs a summary and a long text: {description}")


def check_file_list(deb):
    listing = run(["dpkg-deb", "-c", deb]).stdout.splitlines()
    files, bad_modes = [], []
    for line in listing:
        mode, owner, _size, _date, _time, path = line.split(None, 5)
        path = path.removeprefix("./")
        if owner != "root/root":
            bad_modes.append(line)
        if mode.startswith("d"):
            if mode != "drwxr-xr-x":
                bad_modes.append(line)
        elif mode.startswith("-"):
            files.append(path)
            if mode != ("-rwxr-xr-x" if path == "usr/bin/kabinex" else "-rw-r--r--"):
                bad_modes.append(line)
        else:
            fail(f"package holds something that is no file or directory: {line}")
    if sorted(files) != sorted(FILES):
        fail(f"package holds {sorted(files)}, expected {sorted(FILES)}")
    if bad_modes:
        fail("wrong owner or mode:\n" + "\n".join(bad_modes))


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


def check_desktop_entry(root):
    path = os.path.join(root, "usr/share/applications/kabinex.desktop")
    result = run(["desktop-file-validate", path])
    if result.returncode != 0 or result.stdout.strip():
        fail(f"desktop-file-validate:\n{result.stdout}{result.stderr}")
    entry = desktop_entry(path)
    for key, value in {"Type": "Application", "Name": "Kabinex", "Exec": "kabinex", "Icon": "kabinex"}.items():
        if entry.get(key) != value:
            fail(f"desktop entry has {key}={entry.get(key)!r}, expected {value!r}")
    categories = entry.get("Categories", "").split(";")
    if "Game" not in categories or "Emulator" not in categories:
        fail(f"desktop entry has Categories={entry.get('Categories')!r}")


def check_metainfo(root, version):
    path = os.path.join(root, "usr/share/metainfo/org.example.kabinex.metainfo.xml")
    result = run(["appstreamcli", "validate", "--no-net", "--pedantic", "--no-color", path])
    if result.returncode != 0:
        fail(f"appstreamcli validate:\n{result.stdout}{result.stderr}")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for wanted in ("<id>org.example.kabinex</id>", '<launchable type="desktop-id">kabinex.desktop</launchable>',
                   f'<release version="{version}"', "<content_rating", "<screenshot "):
        if wanted not in text:
            fail(f"metainfo lacks {wanted}")


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        fail(f"{path} is not a PNG file")
    return struct.unpack(">II", head[16:24])


def check_icons(root):
    for size in ICON_SIZES:
        path = os.path.join(root, f"usr/share/icons/hicolor/{size}x{size}/apps/kabinex.png")
        if png_size(path) != (size, size):
            fail(f"the {size}x{size} icon is {png_size(path)}")


def check_manual(root, version):
    path = os.path.join(root, "usr/share/man/man1/kabinex.1.gz")
    result = run(["man", "--warnings", "-l", path], env={**os.environ, "MANWIDTH": "80", "LC_ALL": "C.UTF-8"})
    if result.returncode != 0 or result.stderr.strip():
        fail(f"man -l {path}:\n{result.stderr}")
    headings = [line for line in result.stdout.splitlines() if line and not line[0].isspace()]
    missing = [section for section in MAN_SECTIONS if section not in headings]
    if missing:
        fail(f"manual page lacks the sections {missing}; it has {headings}")
    for option in ("--add-games", "--help", "--version", "kabinex.ini", "XDG_STATE_HOME", f"Kabinex {version}"):
        if option not in result.stdout.replace("\u2010", "-"):
            fail(f"manual page never mentions {option}")


def check_configured(root):
    for path in ("usr/share/man/man1/kabinex.1.gz", "usr/share/doc/kabinex/changelog.gz",
                 "usr/share/metainfo/org.example.kabinex.metainfo.xml"):
        opener = gzip.open if path.endswith(".gz") else open
        with opener(os.path.join(root, path), "rt", encoding="utf-8") as f:
            left = re.findall(r"@[A-Z_0-9]+@", f.read())
        if left:
            fail(f"{path} still holds {left}")


def check_lintian(deb, root, readme):
    result = run(["lintian", "--fail-on", "error", "--tag-display-limit", "0", deb], timeout=300)
    tags = [line for line in result.stdout.splitlines() if re.match(r"[EW]: ", line)]
    print("lintian:\n" + ("\n".join(tags) or "(nothing)"), flush=True)
    if result.returncode != 0 or any(line.startswith("E: ") for line in tags):
        fail(f"lintian reports errors:\n{result.stdout}{result.stderr}")
    with open(os.path.join(root, "usr/share/lintian/overrides/kabinex"), encoding="utf-8") as f:
        overridden = [line.split()[1] for line in f if line.startswith("kabinex:")]
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    installing = text[text.index("## Installing"):]
    installing = installing[:installing.find("\n## ", 3)]
    unexplained = {tag for tag in [line.split()[2] for line in tags] + overridden if f"`{tag}`" not in installing}
    if unexplained:
        fail(f"the README's Installing section does not explain the lintian tags {sorted(unexplained)}")


def check_program(root, version):
    program = os.path.join(root, "usr/bin/kabinex")
    env = {**os.environ, "QT_QPA_PLATFORM": "offscreen"}
    cases = [  # arguments, exit status, standard output, standard error
        (["--version"], 0, f"Kabinex {version}\n", ""),
        (["--help"], 0, re.compile(r"Uso: kabinex .*--add-games.*--help", re.S), ""),
        (["--version", "x"], 2, "", re.compile(r"argumento de más: x\nUso: kabinex")),
        (["--versions"], 2, "", re.compile(r"opción desconocida: --versions\nUso: kabinex")),
    ]
    for arguments, status, out, err in cases:
        result = run([program] + arguments, timeout=30, env=env, cwd=root)
        for name, wanted, got in (("output", out, result.stdout), ("error", err, result.stderr)):
            matches = wanted.search(got) if isinstance(wanted, re.Pattern) else wanted == got
            if not matches:
                fail(f"kabinex {' '.join(arguments)}: standard {name} {got!r}, expected {wanted!r}")
        if result.returncode != status:
            fail(f"kabinex {' '.join(arguments)} exited {result.returncode}, expected {status}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--readme", required=True)
    args = parser.parse_args()
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print(f"SKIPPED: {', '.join(missing)} not installed (scripts/install-deps.sh installs them)")
        sys.exit(77)

    shutil.rmtree(args.scratch, ignore_errors=True)
    os.makedirs(args.scratch)
    deb = build_package(args.build_dir, args.scratch)
    check_control(deb, args.version)
    check_file_list(deb)
    root = os.path.join(args.scratch, "root")
    result = run(["dpkg-deb", "-x", deb, root])
    if result.returncode != 0:
        fail(f"dpkg-deb -x failed: {result.stderr}")
    check_desktop_entry(root)
    check_metainfo(root, args.version)
    check_icons(root)
    check_manual(root, args.version)
    check_configured(root)
    check_program(root, args.version)
    check_lintian(deb, root, args.readme)
    shutil.rmtree(args.scratch, ignore_errors=True)
    print(f"passed: {os.path.basename(deb)}, {len(FILES)} files", flush=True)


if __name__ == "__main__":
    main()
