#!/usr/bin/env python3
"""Draws the two 24x24 palette images of the component package.

    python3 Makepalettebitmaps.py [--png DIR]

writes REGULAREXPRESSION.bmp and REGULAREXPRESSIONINTERFACE.bmp next to this
script: uncompressed BMP files, 8 bits per pixel with a palette. The images
are drawn here from pixel art, so they can be changed and made again with
nothing but Python. With --png, each image is also written enlarged eight
times as a PNG into DIR, for looking at them.

The designer takes the colour of the bottom-left pixel as transparent, so
both images keep that pixel in the background colour.
"""

import os
import struct
import sys
import zlib

SIZE = 24

# The palette: one letter per colour.
PALETTE = {
    ".": (0, 128, 128),    # background, shown transparent by the designer
    "#": (0, 0, 96),       # tile outline
    "w": (255, 255, 255),  # tile face
    "s": (192, 192, 192),  # tile shadow
    "r": (200, 0, 0),      # the dot
    "b": (0, 64, 200),     # the star
    "g": (0, 136, 0),      # the interface plug
    "k": (0, 0, 0),        # plug outline
}

# ".*" on a white tile: the dot that matches any character and the star that
# repeats it.
REGULAREXPRESSION = """
........................
..###################...
..#wwwwwwwwwwwwwwwwww#s.
..#wwwwwwwwwwwwwwwwww#s.
..#wwwwwwwwwwwbbwwwww#s.
..#wwwwwwwwbwwbbwwbww#s.
..#wwwwwwwwbbwbbwbbww#s.
..#wwwwwwwwwbbbbbbwww#s.
..#wwwwwwwwwwbbbbwwww#s.
..#wwwwwwwwwbbbbbbwww#s.
..#wwwwwwwwbbwbbwbbww#s.
..#wwwwwwwwbwwbbwwbww#s.
..#wwwwwwwwwwwbbwwwww#s.
..#wwwwwwwwwwwwwwwwww#s.
..#wwwwwwwwwwwwwwwwww#s.
..#wwwrrrrwwwwwwwwwww#s.
..#wwrrrrrrwwwwwwwwww#s.
..#wwrrrrrrwwwwwwwwww#s.
..#wwrrrrrrwwwwwwwwww#s.
..#wwwrrrrwwwwwwwwwww#s.
..#wwwwwwwwwwwwwwwwww#s.
..###################s..
...sssssssssssssssssss..
........................
"""

# The same ".*" on a smaller tile with an interface plug (a ball on a stem)
# attached at its right: the component that offers the expression alone.
REGULAREXPRESSIONINTERFACE = """
........................
.###############........
.#wwwwwwwwwwwwww#s......
.#wwwwwwwwbbwwww#s......
.#wwwwwbwwbbwwbw#s......
.#wwwwwbbwbbwbbw#s......
.#wwwwwwbbbbbbww#s......
.#wwwwwwwbbbbwww#s......
.#wwwwwwbbbbbbww#s......
.#wwwwwbbwbbwbbw#s......
.#wwwwwbwwbbwwbw#s..kkk.
.#wwwwwwwwbbwwww#s.kgggk
.#wwwwwwwwwwwwww#ggkgggk
.#wwrrrrwwwwwwww#ggkgggk
.#wrrrrrrwwwwwww#s.kgggk
.#wrrrrrrwwwwwww#s..kkk.
.#wrrrrrrwwwwwww#s......
.#wwrrrrwwwwwwww#s......
.#wwwwwwwwwwwwww#s......
.################s......
..ssssssssssssssss......
........................
........................
........................
"""


def parse(art):
    rows = [line for line in art.strip("\n").split("\n")]
    if len(rows) != SIZE or any(len(row) != SIZE for row in rows):
        raise ValueError("pixel art must be %dx%d" % (SIZE, SIZE))
    if rows[-1][0] != ".":
        raise ValueError("the bottom-left pixel must be background")
    return rows


def bmp(rows, letters):
    """An uncompressed 8-bit BMP: file header, info header, palette, pixels."""
    index = {letter: i for i, letter in enumerate(letters)}
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in (PALETTE[c] for c in letters))
    stride = (SIZE + 3) // 4 * 4
    pixels = b""
    for row in reversed(rows):  # bottom-up
        line = bytes(index[c] for c in row)
        pixels += line + b"\0" * (stride - len(line))
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 8, 0, len(pixels), 2835, 2835, len(letters), 0)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


def png(rows, scale):
    """A truecolour PNG of the image, each pixel drawn as scale x scale."""
    raw = b""
    for row in rows:
        line = b"".join(bytes(PALETTE[c]) * scale for c in row)
        raw += (b"\0" + line) * scale

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    side = SIZE * scale
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    png_dir = None
    if len(argv) == 2 and argv[0] == "--png":
        png_dir = argv[1]
    elif argv:
        sys.stderr.write(__doc__)
        return 2
    letters = "".join(PALETTE)
    for name, art in (("REGULAREXPRESSION", REGULAREXPRESSION),
                      ("REGULAREXPRESSIONINTERFACE", REGULAREXPRESSIONINTERFACE)):
        rows = parse(art)
        with open(os.path.join(here, name + ".bmp"), "wb") as out:
            out.write(bmp(rows, letters))
        if png_dir:
            with open(os.path.join(png_dir, name + ".png"), "wb") as out:
                out.write(png(rows, 8))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
