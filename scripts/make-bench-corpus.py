#!/usr/bin/env python3
"""Writes the benchmark corpus into DIR.

read-NN.mp3   (32 files) about 200 KB: an ID3v2.3 tag of 34 KB (twelve text
              frames, an artist URL, a 30 KB picture, a music identifier, two
              encapsulated objects, padding), MPEG-like audio, an ID3v1 trailer.
read24-NN.mp3 (32 files) the same values in an ID3v2.4 tag of the same size:
              sync-safe frame sizes, UTF-8 where the ID3v2.3 tag has UTF-16,
              one timestamp frame for the year, date and time frames.
commit-4.mp3  the same tag and trailer around 4 MB of audio.
commit-40.mp3 the same around 40 MB.
"""
import os
import struct
import sys

TAG_SIZE = 34 * 1024


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame(fid, data, v24=False):
    size = syncsafe(len(data)) if v24 else struct.pack(">I", len(data))
    return fid.encode() + size + b"\0\0" + data


def latin1(fid, text, v24=False):
    return frame(fid, b"\0" + text.encode("latin-1") + b"\0", v24)


def utf16(fid, text, v24=False):
    if v24:
        return frame(fid, b"\3" + text.encode("utf-8") + b"\0", v24)
    return frame(fid, b"\1\xff\xfe" + text.encode("utf-16-le") + b"\0\0")


def pattern(size, seed):
    return bytes((seed + i * 7) & 0xFF for i in range(size))


def tag(index, v24=False):
    if v24:
        dates = [latin1("TDRC", "2024-10-31T12:00", v24)]
    else:
        dates = [latin1("TYER", "2024"), latin1("TDAT", "3110"), latin1("TIME", "1200")]
    frames = b"".join([
        utf16("TIT2", "Evening Light %d" % index, v24),
        utf16("TPE1", "The Sample Quartet", v24),
        utf16("TALB", "Café Sessions", v24),
        latin1("TCON", "(8)", v24),
        latin1("TRCK", "%d/32" % (index + 1), v24),
        utf16("TCOM", "A. Composer", v24),
        latin1("TCOP", "2024 Sample Records", v24),
        latin1("TSRC", "QZABC24%05d" % index, v24),
    ] + dates + [
        utf16("TPE2", "Various Artists", v24),
        frame("WOAR", b"https://example.org/sample-quartet", v24),
        frame("APIC", b"\0image/jpeg\0\3\0" + pattern(30 * 1024, index), v24),
        frame("UFID", b"http://example.org/id\0" + pattern(32, index + 1), v24),
        frame("GEOB", b"\0binary\0\0USR_MTDID\0" + pattern(600, index + 2), v24),
        frame("GEOB", b"\0application/QZVLX\0\0USR_QZVLX\0" + pattern(900, index + 3), v24),
    ])
    body = frames + bytes(TAG_SIZE - 10 - len(frames))
    return b"ID3" + (b"\4" if v24 else b"\3") + b"\0\0" + syncsafe(len(body)) + body


def trailer(index):
    def field(text, width):
        raw = text.encode("latin-1")[:width]
        return raw + bytes(width - len(raw))
    return (b"TAG" + field("Evening Light %d" % index, 30) + field("The Sample Quartet", 30) +
            field("Cafe Sessions", 30) + b"2024" + field("benchmark", 28) + bytes([0, index + 1, 8]))


def audio(size):
    # MPEG-1 layer III frame headers (128 kbit/s, 44.1 kHz: 417 bytes each)
    # with a counter pattern in between.
    unit = b"\xff\xfb\x90\x64" + pattern(413, 5)
    return (unit * (size // len(unit) + 1))[:size]


def write(path, index, total, v24=False):
    head, tail = tag(index, v24), trailer(index)
    with open(path, "wb") as out:
        out.write(head)
        left = total - len(head) - len(tail)
        chunk = audio(1 << 20)
        while left > 0:
            piece = chunk[:min(left, len(chunk))]
            out.write(piece)
            left -= len(piece)
        out.write(tail)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-bench-corpus.py DIR")
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    for index in range(32):
        write(os.path.join(directory, "read-%02d.mp3" % index), index, 200 * 1024)
        write(os.path.join(directory, "read24-%02d.mp3" % index), index, 200 * 1024, True)
    write(os.path.join(directory, "commit-4.mp3"), 0, 4 << 20)
    write(os.path.join(directory, "commit-40.mp3"), 0, 40 << 20)


if __name__ == "__main__":
    main()
