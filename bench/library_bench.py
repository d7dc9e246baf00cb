#!/usr/bin/env python3
"""A library scan: `tagkit show -r --json` over a tree of files.

  library_bench.py BUILD CORPUS WORK [ROUNDS]

BUILD holds tools/tagkit and, when TagLib was found, bench/taglib_show;
CORPUS is what scripts/make-bench-corpus.py wrote; WORK is a scratch folder.

1. Checks a generated tree of 2,000 files of every kind (ID3v2.3, ID3v2.2,
   ID3v1 only, bare audio, audio without the .mp3 extension, and text files
   named .mp3 that must be skipped): `show -r --json` with -j 1 and -j 2
   prints exactly what `show --json` prints for each MP3 file in turn, in
   the walk's order, and its summary counts what the tree holds.
2. Times, with a warm cache and ROUNDS rounds (default 5) taken in turn,
   `show -r --json -j 1` and `-j 2` against the TagLib program over the
   corpus copied into a tree of 2,048 files, and reports the medians, their
   ratios and the peak memory of each program at 2,048 and 16,384 files (the
   larger tree hard-links the smaller one's files).
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

CHECK_FILES = 2000
SMALL_TREE = 2048
LARGE_TREE = 16384
PER_FOLDER = 32


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def audio(size):
    unit = b"\xff\xfb\x90\x64" + bytes((5 + i * 7) & 0xFF for i in range(413))
    return (unit * (size // len(unit) + 1))[:size]


def trailer(title):
    raw = title.encode("latin-1")[:30]
    return (b"TAG" + raw + bytes(30 - len(raw)) + bytes(60) + b"2001" + bytes(28) +
            bytes([0, 1, 17]))


def v22(title):
    data = b"\0" + title.encode("latin-1")
    frame = b"TT2" + len(data).to_bytes(3, "big") + data
    body = frame + bytes(32)
    return b"ID3\2\0\0" + syncsafe(len(body)) + body + audio(3000)


def make_check_tree(root, corpus):
    """Returns (the MP3 files in walk order, the summary lines expected)."""
    shutil.rmtree(root, ignore_errors=True)
    kinds = ["v23", "v22", "v1", "bare", "noext", "text"]
    tags = {"none": 0, "v1": 0, "2.2": 0, "2.3": 0}
    skipped = 0
    for i in range(CHECK_FILES):
        kind = kinds[i % len(kinds)]
        folder = os.path.join(root, "artist-%02d" % (i // 200), "album-%d" % (i // 40 % 5))
        os.makedirs(folder, exist_ok=True)
        name = os.path.join(folder, "track-%04d%s" % (i, "" if kind == "noext" else ".mp3"))
        if kind in ("v23", "noext"):
            shutil.copyfile(os.path.join(corpus, "read-%02d.mp3" % (i % 32)), name)
            tags["2.3"] += 1
            tags["v1"] += 1
            continue
        with open(name, "wb") as out:
            if kind == "v22":
                out.write(v22("Track %d" % i))
                tags["2.2"] += 1
            elif kind == "v1":
                out.write(audio(2000)[4:] + trailer("Track %d" % i))
                tags["v1"] += 1
            elif kind == "bare":
                out.write(audio(2000))
                tags["none"] += 1
            else:
                out.write(b"notes about track %d\n" % i)
                skipped += 1
    files = CHECK_FILES - skipped
    summary = [
        "tagkit show: %d files, %d more skipped (not MP3)" % (files, skipped),
        "  tags     none %d, ID3v1 %d, ID3v2.2 %d, ID3v2.3 %d, ID3v2.4 0" %
        (tags["none"], tags["v1"], tags["2.2"], tags["2.3"]),
        "  failed   0",
    ]
    return mp3_files(root), summary


def mp3_files(root):
    """The MP3 files under root in the walk's order: names sorted bytewise,
    depth first."""
    out = []
    for name in sorted(os.listdir(root), key=os.fsencode):
        path = root + "/" + name
        if os.path.isdir(path):
            out.extend(mp3_files(path))
        elif is_mp3(path):
            out.append(path)
    return out


def is_mp3(path):
    """What the generated files need of the program's test by content."""
    with open(path, "rb") as f:
        data = f.read()
    return data[:3] == b"ID3" or data[:2] == b"\xff\xfb" or data[-128:-125] == b"TAG"


def check(tagkit, root, corpus):
    files, summary = make_check_tree(root, corpus)
    expected = b"".join(
        subprocess.run([tagkit, "show", "--json", f], stdout=subprocess.PIPE, check=True).stdout
        for f in files)
    ok = True
    for jobs in ("1", "2"):
        run = subprocess.run([tagkit, "show", "-r", "--json", "-j", jobs, root],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        same = run.stdout == expected
        counts = run.stderr.decode().splitlines() == summary
        print("check -j %s: %d files, output %s show --json per file, summary %s" %
              (jobs, len(files), "identical to" if same else "DIFFERS from",
               "matches" if counts else "DIFFERS: %r" % run.stderr.decode()))
        ok = ok and same and counts and run.returncode == 0
    return ok


def make_tree(root, corpus, count, source=None):
    """count files, PER_FOLDER to a folder; copies of the corpus, or hard
    links to the files of the tree `source`."""
    shutil.rmtree(root, ignore_errors=True)
    for i in range(count):
        folder = os.path.join(root, "d%03d" % (i // PER_FOLDER))
        os.makedirs(folder, exist_ok=True)
        name = "read-%02d.mp3" % (i % PER_FOLDER)
        target = os.path.join(folder, name)
        if source:
            os.link(os.path.join(source, "d%03d" % (i // PER_FOLDER % (SMALL_TREE // PER_FOLDER)),
                                 name), target)
        else:
            shutil.copyfile(os.path.join(corpus, name), target)


def run_once(command, scratch):
    """Wall time and processor time (user and system) in seconds, and peak
    resident memory in KiB. GNU time measures the memory: a child of this
    interpreter would report the interpreter's own peak, which it inherits
    through the fork."""
    report = os.path.join(scratch, "time.txt")
    start = time.perf_counter()
    with open(os.devnull, "wb") as null:
        status = subprocess.call(["/usr/bin/time", "-o", report, "-f", "%U %S %M"] + command,
                                 stdout=null, stderr=null)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit("failed: %s" % " ".join(command))
    with open(report) as f:
        user, system, peak = f.read().split()[-3:]
    return elapsed, float(user) + float(system), int(peak)


def spin():
    total = 0
    for i in range(3_000_000):
        total += i
    return total


def parallel_capacity():
    """How much more two busy processes get done than one: 2.0 on two idle
    cores, less when something else runs; the ceiling of -j 2 over -j 1."""
    def timed(count):
        start = time.perf_counter()
        children = [subprocess.Popen([sys.executable, "-c",
                                      "import library_bench; library_bench.spin()"],
                                     cwd=os.path.dirname(os.path.abspath(__file__)))
                    for _ in range(count)]
        for child in children:
            child.wait()
        return time.perf_counter() - start
    one = statistics.median(timed(1) for _ in range(3))
    two = statistics.median(timed(2) for _ in range(3))
    return 2 * one / two


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    build, corpus, work = sys.argv[1:4]
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    tagkit = os.path.join(build, "tools", "tagkit")
    taglib = os.path.join(build, "bench", "taglib_show")
    os.makedirs(work, exist_ok=True)

    checked = check(tagkit, os.path.join(work, "check"), corpus)

    small, large = os.path.join(work, "small"), os.path.join(work, "large")
    make_tree(small, corpus, SMALL_TREE)
    make_tree(large, corpus, LARGE_TREE, source=small)
    programs = {
        "tagkit -j 1": [tagkit, "show", "-r", "--json", "-j", "1"],
        "tagkit -j 2": [tagkit, "show", "-r", "--json", "-j", "2"],
    }
    if os.path.exists(taglib):
        programs["TagLib"] = [taglib]
        # Same bytes out, so the same work done.
        ours = subprocess.run(programs["tagkit -j 1"] + [small], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout
        theirs = subprocess.run([taglib, small], stdout=subprocess.PIPE).stdout
        print("TagLib program output %s tagkit's" % ("identical to" if ours == theirs else
                                                      "DIFFERS from"))
    else:
        print("TagLib program not built (Debian: libtag1-dev): its baseline is left out")

    times = {name: [] for name in programs}
    cpu = {name: [] for name in programs}
    peaks = {name: {} for name in programs}
    for tree in (small, large):  # warm the cache
        run_once(programs["tagkit -j 2"] + [tree], work)
    for _ in range(rounds):
        for name, command in programs.items():
            elapsed, processor, _ = run_once(command + [small], work)
            times[name].append(elapsed)
            cpu[name].append(processor)
    for name, command in programs.items():
        for label, tree in (("small", small), ("large", large)):
            peaks[name][label] = run_once(command + [tree], work)[2]

    print()
    print("%-14s %10s %10s %10s %16s %16s" % ("program", "median s", "files/s", "cpu s",
                                               "peak KiB %d" % SMALL_TREE,
                                               "peak KiB %d" % LARGE_TREE))
    medians = {}
    for name in programs:
        medians[name] = statistics.median(times[name])
        print("%-14s %10.3f %10.0f %10.3f %16d %16d" % (
            name, medians[name], SMALL_TREE / medians[name], statistics.median(cpu[name]),
            peaks[name]["small"], peaks[name]["large"]))
    print()
    if "TagLib" in medians:
        r = medians["TagLib"] / medians["tagkit -j 1"]
        print("tagkit -j 1 vs TagLib: %.2fx  (target >= 2.0: %s)" % (r, "met" if r >= 2 else "MISSED"))
    r = medians["tagkit -j 1"] / medians["tagkit -j 2"]
    print("tagkit -j 2 vs -j 1:   %.2fx  (target >= 1.7: %s; two busy processes get %.2fx"
          " the work of one done on this machine now)" %
          (r, "met" if r >= 1.7 else "MISSED", parallel_capacity()))
    growth = peaks["tagkit -j 2"]["large"] / peaks["tagkit -j 2"]["small"]
    print("tagkit peak memory at %d / %d files: %.2f" % (LARGE_TREE, SMALL_TREE, growth))
    print("check of the 2,000-file tree: %s" % ("passed" if checked else "FAILED"))
    return 0 if checked else 1


if __name__ == "__main__":
    sys.exit(main())
