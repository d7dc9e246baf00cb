#!/usr/bin/env python3
"""Writes a small sample MP3 for trying tagkit out, or a tiny PNG picture.

    make-sample.py OUT.mp3            three seconds of silent MPEG-1 Layer III
                                      audio with an ID3v2.3 tag (title,
                                      artist, album, genre, track, date,
                                      artist URL, cover picture) and an ID3v1
                                      trailer
    make-sample.py --png OUT.png [--color R,G,B]
                                      a 16x16 picture, a gradient from the
                                      colour to white

Standard library only.
"""

import argparse
import struct
import sys
import zlib

# MPEG-1 Layer III, no CRC, 128 kbit/s, 48 kHz, joint stereo, original: each
# frame is 144 * 128000 / 48000 = 384 bytes with no padding slot. A frame of
# zero side information and zero main data decodes to silence.
MPEG_HEADER = bytes([0xFF, 0xFB, 0x94, 0x44])
MPEG_FRAME_SIZE = 384
FRAMES_PER_SECOND = 48000 / 1152


def mpeg_audio(seconds):
    frame = MPEG_HEADER + bytes(MPEG_FRAME_SIZE - len(MPEG_HEADER))
    return frame * int(round(seconds * FRAMES_PER_SECOND))


def png(color, size=16):
    """A size x size RGB gradient from color (top left) to white."""
    rows = bytearray()
    for y in range(size):
        rows.append(0)  # filter type: none
        for x in range(size):
            t = (x + y) / (2 * (size - 1))
            rows.extend(round(c + (255 - c) * t) for c in color)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def syncsafe(value):
    return bytes((value >> shift) & 0x7F for shift in (21, 14, 7, 0))


def frame23(frame_id, data):
    return frame_id.encode("ascii") + struct.pack(">I", len(data)) + b"\x00\x00" + data


def text_latin1(frame_id, text):
    return frame23(frame_id, b"\x00" + text.encode("latin-1") + b"\x00")


def text_utf16(frame_id, text):
    return frame23(frame_id, b"\x01" + b"\xff\xfe" + text.encode("utf-16-le") + b"\x00\x00")


def id3v23(frames, padding=256):
    body = b"".join(frames) + bytes(padding)
    return b"ID3\x03\x00\x00" + syncsafe(len(body)) + body


def id3v1(title, artist, album, year, comment, track, genre):
    def field(text, width):
        data = text.encode("cp1252")[:width]
        return data + bytes(width - len(data))

    return (b"TAG" + field(title, 30) + field(artist, 30) + field(album, 30) +
            str(year).encode("ascii") + field(comment, 28) + bytes([0, track, genre]))


def sample_mp3():
    cover = png((200, 60, 40))
    tag = id3v23([
        text_utf16("TIT2", "Morning Light"),
        text_utf16("TPE1", "The Sample Quartet"),
        text_utf16("TALB", "Café Sessions"),
        text_latin1("TCON", "(8)"),
        text_latin1("TRCK", "3"),
        text_latin1("TYER", "2019"),
        text_latin1("TDAT", "0305"),  # day 03, month 05
        frame23("WOAR", b"https://example.org/sample-quartet"),
        frame23("APIC", b"\x00image/png\x00" + b"\x03" + b"\x00" + cover),
    ])
    trailer = id3v1("Morning Light", "The Sample Quartet", "Café Sessions", 2019,
                    "made by make-sample.py", 3, 8)
    return tag + mpeg_audio(3) + trailer


def main():
    parser = argparse.ArgumentParser(description="Writes a sample MP3 or a tiny PNG.")
    parser.add_argument("out", help="file to write")
    parser.add_argument("--png", action="store_true", help="write a PNG picture instead")
    parser.add_argument("--color", default="40,110,200", help="R,G,B of the picture")
    args = parser.parse_args()
    if args.png:
        try:
            color = tuple(int(part) for part in args.color.split(","))
            if len(color) != 3 or not all(0 <= c <= 255 for c in color):
                raise ValueError
        except ValueError:
            parser.error("--color needs three numbers from 0 to 255, like 40,110,200")
        data = png(color)
    else:
        data = sample_mp3()
    with open(args.out, "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
