#!/usr/bin/env python3
"""Fails each system call of `tagkit set` in turn, from the outside.

    syscall-sweep.py [--tagkit PATH] [--jobs N] [--quick]

Runs `tagkit set --title ... --date ... --picture ...` once cleanly on each
kind of file (ID3v2.2, ID3v2.3, untagged, ID3v2.3 with an extended header,
and an ID3v2.3 file with a second hard link, which is copied over in place)
to learn the new bytes and which system calls the program makes. Then, under
strace, every call of every file-related system call is made to fail with
EIO, and the writing ones with ENOSPC as well, or the process is killed
there (SIGKILL). After each run:

  - the file is byte for byte the old or the new one (a killed run is
    first recovered with `tagkit recover`, as any later open would do);
  - exit status 0 only with the new file;
  - after a failure (not a kill) no temporary file or record is left in the
    file's folder or in the temporary folder;
  - the second name of a hard-linked file is still the same file;
  - after a kill, the next `tagkit set` succeeds and leaves nothing behind.

Prints the calls swept, the runs and every violation; exits 1 on any. Needs
strace (installed when missing). --quick sweeps only the ID3v2.3 file.
Standard library only.
"""

import argparse
import concurrent.futures
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# System calls that touch files; memory, signals and start-up are left out
# (a failure there stops the program before it opens anything).
FILE_CALLS = {
    "openat", "open", "creat", "read", "pread64", "readv", "write", "pwrite64", "writev",
    "lseek", "close", "fstat", "newfstatat", "stat", "lstat", "statx", "fsync", "fdatasync",
    "ftruncate", "rename", "renameat", "renameat2", "unlink", "unlinkat", "flock",
    "copy_file_range", "sendfile", "fchmod", "fchown", "fchownat", "fsetxattr", "flistxattr",
    "listxattr", "llistxattr", "getxattr", "lgetxattr", "fgetxattr", "fremovexattr",
    "mkdir", "readlink", "readlinkat", "getdents64", "access", "faccessat", "faccessat2",
    "link", "linkat", "chmod", "fchmodat", "getcwd", "ioctl", "fcntl", "dup", "dup2", "dup3",
}
WRITING_CALLS = {"openat", "write", "pwrite64", "writev", "fsync", "fdatasync", "ftruncate",
                 "copy_file_range", "sendfile", "rename", "renameat", "renameat2", "fsetxattr",
                 "close"}


# ---- test files ----------------------------------------------------------------

def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame23(fid, data):
    return fid.encode() + struct.pack(">I", len(data)) + b"\0\0" + data


def frame22(fid, data):
    return fid.encode() + struct.pack(">I", len(data))[1:] + data


def audio(size):
    out = bytearray()
    while len(out) < size:
        out += b"\xff\xfb\x90\x64" + bytes((len(out) + i) & 0xFF for i in range(413))
    return bytes(out[:size])


def trailer():
    t = b"TAG" + b"Old title".ljust(30, b"\0") + b"Artist".ljust(30, b"\0")
    t += b"Album".ljust(30, b"\0") + b"1999" + b"comment".ljust(28, b"\0") + b"\0\x03\x08"
    return t


def files():
    body23 = frame23("TIT2", b"\0Old title") + frame23("TPE1", b"\0Artist") + bytes(200)
    v23 = b"ID3\3\0\0" + syncsafe(len(body23)) + body23
    body22 = frame22("TT2", b"\0Old title") + frame22("TP1", b"\0Artist") + bytes(100)
    v22 = b"ID3\2\0\0" + syncsafe(len(body22)) + body22
    ext = struct.pack(">I", 6) + b"\0\0" + struct.pack(">I", 200)
    body_ext = ext + frame23("TIT2", b"\0Old title") + bytes(200)
    v23_ext = b"ID3\3\0\x40" + syncsafe(len(body_ext)) + body_ext
    sound = audio(200000)
    return {
        "v2.3": v23 + sound + trailer(),
        "v2.2": v22 + sound,
        "untagged": sound + trailer(),
        "extended-header": v23_ext + sound,
        "hard-linked": v23 + sound + trailer(),
    }


def png():
    import zlib
    raw = b"".join(b"\0" + bytes([i * 8, 128, 255 - i * 8]) * 16 for i in range(16))
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


# ---- running -------------------------------------------------------------------

class Place:
    """A private folder with the file (and its second name), a picture and a
    temporary folder."""

    def __init__(self, root, kind, content, picture):
        self.dir = tempfile.mkdtemp(dir=root)
        self.file = os.path.join(self.dir, "song.mp3")
        self.link = os.path.join(self.dir, "second.mp3") if kind == "hard-linked" else None
        self.tmp = os.path.join(self.dir, "tmp")
        self.picture = os.path.join(self.dir, "cover.png")
        os.mkdir(self.tmp)
        with open(self.picture, "wb") as f:
            f.write(picture)
        self.content = content
        self.reset()

    def reset(self):
        for name in os.listdir(self.dir):
            path = os.path.join(self.dir, name)
            if name not in ("tmp", "cover.png"):
                os.remove(path)
        for name in os.listdir(self.tmp):
            os.remove(os.path.join(self.tmp, name))
        with open(self.file, "wb") as f:
            f.write(self.content)
        if self.link:
            os.link(self.file, self.link)

    def leftovers(self):
        expected = {"tmp", "cover.png", "song.mp3"} | ({"second.mp3"} if self.link else set())
        return sorted(set(os.listdir(self.dir)) - expected) + sorted(os.listdir(self.tmp))

    def read(self):
        with open(self.file, "rb") as f:
            return f.read()


def set_command(tagkit, place):
    return [tagkit, "set", "--title", "Swept title", "--date", "2024-05-06",
            "--picture", place.picture, place.file]


def run(tagkit, place, strace_args=None):
    env = dict(os.environ, TMPDIR=place.tmp)
    command = set_command(tagkit, place)
    if strace_args is not None:
        command = ["strace", "-f", "-qq", "-o", "/dev/null"] + strace_args + command
    done = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          timeout=60)
    return done.returncode, done.stderr.decode(errors="replace")


def count_calls(tagkit, place):
    """The file-related calls of a clean run: name -> count."""
    log = os.path.join(place.dir, "trace")
    env = dict(os.environ, TMPDIR=place.tmp)
    subprocess.run(["strace", "-f", "-qq", "-o", log] + set_command(tagkit, place), env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=60)
    counts = {}
    with open(log) as f:
        for line in f:
            name = line.split("(", 1)[0].split()[-1] if "(" in line else ""
            if name in FILE_CALLS:
                counts[name] = counts.get(name, 0) + 1
    os.remove(log)
    return counts


def frames(data):
    """The ID3v2 frames of a file as a sorted list, and what follows the tag:
    the file with frame order set aside."""
    if data[:3] != b"ID3":
        return None, data
    size = 10 + sum(b << (7 * (3 - i)) for i, b in enumerate(data[6:10]))
    header = 6 if data[3] == 2 else 10
    at, found = 10, []
    while at + header <= size and data[at] != 0:
        length = (int.from_bytes(data[at + 3:at + 6], "big") if header == 6
                  else int.from_bytes(data[at + 4:at + 8], "big"))
        found.append(data[at:at + header + length])
        at += header + length
    return sorted(found), data[size:]


def judge(kind, place, old, new, mode, status, err):
    """The violations of one run, as text."""
    problems = []
    if mode == "KILL" and status != 0:
        subprocess.run([TAGKIT, "recover", place.file], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=dict(os.environ, TMPDIR=place.tmp))
    got = place.read()
    same_as_new = got == new or (got != old and frames(got) == frames(new))
    if got != old and not same_as_new:
        problems.append("damaged file (%d bytes)" % len(got))
    if status == 0 and not same_as_new:
        problems.append("exit 0 without the change")
    if place.link and os.stat(place.file).st_ino != os.stat(place.link).st_ino:
        problems.append("the hard link was split")
    if mode != "KILL" and status != 0 and place.leftovers():
        problems.append("left behind: %s" % ", ".join(place.leftovers()))
    return problems


def sweep_one(kind, content, picture, root, calls_filter, quick_modes):
    place = Place(root, kind, content, picture)
    old = content
    status, err = run(TAGKIT, place)
    if status != 0:
        return kind, 0, 0, ["clean run failed: " + err.strip()], 0
    new = place.read()
    run(TAGKIT, place)
    again = place.read()  # the same set on the new file
    place.reset()
    counts = count_calls(TAGKIT, place)
    place.reset()
    runs, swept, problems, strays = 0, 0, [], 0
    for name in sorted(counts):
        if calls_filter and name not in calls_filter:
            continue
        for n in range(1, counts[name] + 1):
            swept += 1
            modes = ["EIO", "KILL"] + (["ENOSPC"] if name in WRITING_CALLS else [])
            for mode in modes:
                inject = ("inject=%s:signal=KILL:when=%d" % (name, n) if mode == "KILL"
                          else "inject=%s:error=%s:when=%d" % (name, mode, n))
                status, err = run(TAGKIT, place, ["-e", inject])
                runs += 1
                for problem in judge(kind, place, old, new, mode, status, err):
                    problems.append("%s %s #%d %s: %s (exit %d) %s" %
                                    (kind, name, n, mode, problem, status, err.strip()[:160]))
                if mode == "KILL":
                    # What a kill left is cleared by the next commit of the file.
                    status, err = run(TAGKIT, place)
                    if status != 0 or place.read() not in (new, again):
                        problems.append("%s %s #%d KILL: the next set failed (exit %d) %s" %
                                        (kind, name, n, status, err.strip()[:160]))
                    if place.leftovers():
                        strays += 1
                place.reset()
    shutil.rmtree(place.dir, ignore_errors=True)
    return kind, swept, runs, problems, strays


def main():
    global TAGKIT
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tagkit", help="the program (default: build/release/tools/tagkit, built when missing)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--quick", action="store_true", help="only the ID3v2.3 file")
    parser.add_argument("--kind", action="append", help="sweep only this kind of file (repeatable)")
    parser.add_argument("--calls", help="comma-separated system calls to sweep (default: all file calls)")
    args = parser.parse_args()
    if shutil.which("strace") is None:
        subprocess.run(["apt-get", "install", "-y", "-qq", "strace"], check=True)
    TAGKIT = args.tagkit or os.path.join(ROOT, "build/release/tools/tagkit")
    if args.tagkit is None and not os.path.exists(TAGKIT):
        subprocess.run(["cmake", "-S", ROOT, "-B", os.path.join(ROOT, "build/release"),
                        "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", os.path.join(ROOT, "build/release"), "-j",
                        str(args.jobs), "--target", "tagkit_cli"], check=True)
    calls_filter = set(args.calls.split(",")) if args.calls else None
    kinds = files()
    if args.quick:
        kinds = {"v2.3": kinds["v2.3"]}
    if args.kind:
        kinds = {kind: kinds[kind] for kind in args.kind}
    picture = png()
    root = tempfile.mkdtemp(prefix="tagkit-sweep-")
    total_swept = total_runs = total_strays = 0
    all_problems = []
    try:
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            futures = [pool.submit(sweep_one, kind, content, picture, root, calls_filter, None)
                       for kind, content in kinds.items()]
            for future in futures:
                kind, swept, runs, problems, strays = future.result()
                print("%-16s %4d calls swept, %5d runs, %3d violations, %3d kills left a "
                      "file the next set kept" % (kind, swept, runs, len(problems), strays))
                total_swept += swept
                total_runs += runs
                total_strays += strays
                all_problems += problems
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for problem in all_problems:
        print("  " + problem)
    print("total: %d calls swept, %d runs, %d violations, %d kills left a file the next set kept" %
          (total_swept, total_runs, len(all_problems), total_strays))
    return 1 if all_problems else 0


TAGKIT = None

if __name__ == "__main__":
    sys.exit(main())
