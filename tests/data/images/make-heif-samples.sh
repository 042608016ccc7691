#!/usr/bin/env bash
# Makes the HEIF and AVIF samples the graphics tests decode, with Debian's heif-enc
# (libheif-examples). The pictures are four quadrants: red, green, blue and white (AVIF: the fourth
# quadrant is transparent). Run from this folder; the outputs are committed, so the tests need no
# encoder.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import struct, sys, zlib

def png(path, width, height, pixel, alpha, deep):
    channels = 4 if alpha else 3
    rows = b""
    for y in range(height):
        row = b"\0"
        for x in range(width):
            values = pixel(x, y)[:channels]
            row += b"".join(struct.pack(">H", v * 257) for v in values) if deep else bytes(values)
        rows += row
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    colour_type = 6 if alpha else 2
    header = struct.pack(">IIBBBBB", width, height, 16 if deep else 8, colour_type, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
                  + chunk(b"IEND", b""))

def quadrant(fourth):
    def pixel(x, y):
        left, top = x < 32, y < 24
        if top:
            return (255, 0, 0, 255) if left else (0, 255, 0, 255)
        return (0, 0, 255, 255) if left else fourth
    return pixel

work = sys.argv[1]
png(work + "/quadrants.png", 64, 48, quadrant((255, 255, 255, 255)), False, False)
png(work + "/quadrants-alpha.png", 64, 48, quadrant((0, 0, 0, 0)), True, False)
png(work + "/quadrants-16.png", 64, 48, quadrant((255, 255, 255, 255)), False, True)
PY

# HEVC, 8 bits, with an embedded 32-pixel thumbnail.
heif-enc -q 90 -p chroma=444 -t 32 -o quadrants.heic "$work/quadrants.png"
# AV1 with an alpha plane.
heif-enc -A -q 90 -p chroma=444 -o quadrants-alpha.avif "$work/quadrants-alpha.png"
# HEVC at 10 bits, as phones write HDR-capable files (Debian 12's AV1 encoder aborts on 10 bits).
heif-enc -q 90 -b 10 -o quadrants-10bit.heic "$work/quadrants-16.png"
