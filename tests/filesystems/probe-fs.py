#!/usr/bin/env python3
"""Asks one mounted directory which file operations it keeps, one line per question:
what it did (ok, or the errno's name) and what was seen. For writing the fallbacks of the
file layer against what NTFS, exFAT, FAT32 and read-only media really do.

    probe-fs.py DIR [WORKDIR]   WORKDIR: mount-fs.sh's, to ask about identities across a remount
"""
import ctypes
import errno
import fcntl
import os
import subprocess
import sys
import time

libc = ctypes.CDLL(None, use_errno=True)
RENAME_NOREPLACE = 1
AT_FDCWD = -100
HERE = os.path.dirname(os.path.abspath(__file__))


def outcome(call):
    try:
        result = call()
        return "ok" if result is None else f"ok {result}"
    except OSError as error:
        return errno.errorcode.get(error.errno, str(error.errno))


def renameat2(old, new, flags):
    if libc.renameat2(AT_FDCWD, old.encode(), AT_FDCWD, new.encode(), flags) != 0:
        error = ctypes.get_errno()
        raise OSError(error, os.strerror(error))


def write(path, text="x"):
    with open(path, "w") as out:
        out.write(text)


def identity(path):
    st = os.lstat(path)
    return (st.st_ino, st.st_mtime_ns, st.st_ctime_ns)


def names(directory):
    return sorted(os.listdir(directory))


def probe_renames(d, report):
    write(f"{d}/a")
    report("renameat2 NOREPLACE (target absent)", outcome(lambda: renameat2(f"{d}/a", f"{d}/b", RENAME_NOREPLACE)))
    if not os.path.exists(f"{d}/b"):
        os.rename(f"{d}/a", f"{d}/b")
    write(f"{d}/c")
    report("renameat2 NOREPLACE (target present)", outcome(lambda: renameat2(f"{d}/c", f"{d}/b", RENAME_NOREPLACE)))
    report("renameat over a file", outcome(lambda: os.rename(f"{d}/c", f"{d}/b")))
    write(f"{d}/t")
    before = identity(f"{d}/t")
    time.sleep(1.1)
    report("rename, fresh name", outcome(lambda: os.rename(f"{d}/t", f"{d}/t2")))
    after = identity(f"{d}/t2")
    report("  st_ino kept across rename", before[0] == after[0], f"{before[0]} -> {after[0]}")
    report("  mtime kept across rename", before[1] == after[1], f"moved by {(after[1] - before[1]) / 1e9:.2f}s")
    report("  ctime kept across rename", before[2] == after[2], f"moved by {(after[2] - before[2]) / 1e9:.2f}s")
    os.mkdir(f"{d}/dir1")
    write(f"{d}/dir1/f")
    report("rename of a directory", outcome(lambda: os.rename(f"{d}/dir1", f"{d}/dir2")))
    report("  its file there", os.path.exists(f"{d}/dir2/f"))


def probe_links_and_modes(d, report):
    write(f"{d}/l")
    report("linkat", outcome(lambda: os.link(f"{d}/l", f"{d}/l2")))
    report("symlinkat", outcome(lambda: os.symlink("l", f"{d}/sym")))
    fd = os.open(f"{d}/l", os.O_RDWR)
    report("fchmod 0600", outcome(lambda: os.fchmod(fd, 0o600)), oct(os.fstat(fd).st_mode & 0o777))
    report("fchmod 0644", outcome(lambda: os.fchmod(fd, 0o644)), oct(os.fstat(fd).st_mode & 0o777))
    report("fchown to own ids", outcome(lambda: os.fchown(fd, os.getuid(), os.getgid())))
    report("fchown to 1000:1000", outcome(lambda: os.fchown(fd, 1000, 1000)), f"now {os.fstat(fd).st_uid}")
    report("fsync file", outcome(lambda: os.fsync(fd)))
    report("utimensat (set mtime)", outcome(lambda: os.utime(f"{d}/l", ns=(10**18, 10**18))),
           f"reads {os.stat(f'{d}/l').st_mtime_ns}")
    os.close(fd)
    dfd = os.open(d, os.O_RDONLY | os.O_DIRECTORY)
    report("fsync directory fd", outcome(lambda: os.fsync(dfd)))
    os.close(dfd)
    report("O_TMPFILE", outcome(lambda: os.close(os.open(d, os.O_TMPFILE | os.O_RDWR, 0o644))))
    report("O_CREAT|O_EXCL on existing", outcome(lambda: os.close(os.open(f"{d}/l", os.O_CREAT | os.O_EXCL | os.O_WRONLY))))


def probe_at_calls(d, report):
    dfd = os.open(d, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW)
    report("openat O_DIRECTORY|O_NOFOLLOW dir", "ok")
    report("openat O_NOFOLLOW file", outcome(lambda: os.close(os.open("l", os.O_RDONLY | os.O_NOFOLLOW, dir_fd=dfd))))
    if os.path.islink(f"{d}/sym"):
        report("openat O_NOFOLLOW symlink", outcome(lambda: os.close(os.open("sym", os.O_RDONLY | os.O_NOFOLLOW, dir_fd=dfd))))
    report("mkdirat", outcome(lambda: os.mkdir("m", dir_fd=dfd)))
    report("unlinkat file", outcome(lambda: os.unlink("l", dir_fd=dfd)))
    report("unlinkat AT_REMOVEDIR", outcome(lambda: os.rmdir("m", dir_fd=dfd)))
    report("fstatat AT_SYMLINK_NOFOLLOW", outcome(lambda: os.stat("b", dir_fd=dfd, follow_symlinks=False) and None))
    os.close(dfd)


def probe_case(d, report):
    write(f"{d}/KABINEX.INI", "upper")
    report("open kabinex.ini finds KABINEX.INI", outcome(lambda: open(f"{d}/kabinex.ini").read()))
    report("  readdir shows", [n for n in names(d) if n.lower() == "kabinex.ini"])
    report("  stat kabinex.ini same st_ino",
           outcome(lambda: os.stat(f"{d}/kabinex.ini").st_ino == os.stat(f"{d}/KABINEX.INI").st_ino))
    report("O_EXCL kabinex.ini", outcome(lambda: os.close(os.open(f"{d}/kabinex.ini", os.O_CREAT | os.O_EXCL | os.O_WRONLY))))
    write(f"{d}/kabinex.tmp", "new")
    report("rename tmp -> kabinex.ini", outcome(lambda: os.rename(f"{d}/kabinex.tmp", f"{d}/kabinex.ini")))
    report("  readdir shows then", [n for n in names(d) if n.lower() == "kabinex.ini"])
    write(f"{d}/kabinex.tmp", "newer")
    report("rename tmp -> KABINEX.INI", outcome(lambda: os.rename(f"{d}/kabinex.tmp", f"{d}/KABINEX.INI")))
    report("  readdir shows then", [n for n in names(d) if n.lower() == "kabinex.ini"])
    write(f"{d}/Readme.txt")
    report("rename Readme.txt -> README.TXT (case only)", outcome(lambda: os.rename(f"{d}/Readme.txt", f"{d}/README.TXT")))
    report("  readdir shows then", [n for n in names(d) if n.lower() == "readme.txt"])


def probe_locks(d, report):
    write(f"{d}/lock")
    one = os.open(f"{d}/lock", os.O_RDWR)
    two = os.open(f"{d}/lock", os.O_RDWR)
    report("flock LOCK_EX", outcome(lambda: fcntl.flock(one, fcntl.LOCK_EX | fcntl.LOCK_NB)))
    report("  second flock is refused", outcome(lambda: fcntl.flock(two, fcntl.LOCK_EX | fcntl.LOCK_NB)))
    fcntl.flock(one, fcntl.LOCK_UN)
    report("fcntl F_SETLK", outcome(lambda: fcntl.lockf(one, fcntl.LOCK_EX | fcntl.LOCK_NB)))
    child = subprocess.run([sys.executable, "-c", f"import fcntl,os; fd=os.open('{d}/lock', os.O_RDWR); "
                            "fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)"], capture_output=True)
    report("  other process's F_SETLK is refused", child.returncode != 0)
    os.close(one)
    os.close(two)


def probe_remount(d, work, report):
    write(f"{d}/keep")
    before = identity(f"{d}/keep")
    script = os.path.join(HERE, "mount-fs.sh")
    done = subprocess.run([script, "remount", work], capture_output=True, text=True)
    if done.returncode != 0:
        report("remount", "not done", done.stderr.strip())
        return
    after = identity(f"{d}/keep")
    report("st_ino kept across remount", before[0] == after[0], f"{before[0]} -> {after[0]}")
    report("mtime kept across remount", before[1] == after[1])


def main():
    d = os.path.join(sys.argv[1], "probe")
    os.makedirs(d, exist_ok=True)
    lines = []

    def report(question, answer, seen=""):
        lines.append(f"{question:45} {answer!s:12} {seen}")

    for step in (probe_renames, probe_links_and_modes, probe_at_calls, probe_case, probe_locks):
        try:
            step(d, report)
        except OSError as error:
            report(step.__name__ + " stopped", errno.errorcode.get(error.errno), str(error))
    if len(sys.argv) > 2:
        probe_remount(d, sys.argv[2], report)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
