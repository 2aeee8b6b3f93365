#!/usr/bin/env python3
"""Draws the program's pictures and writes them beside this script:

  toolbar.bmp           bitmap 135: 17 toolbar images, 16 x 16, normal and hot
  toolbar_disabled.bmp  bitmap 136: the greyed images of the same strip
  toolbar@2x.bmp, toolbar_disabled@2x.bmp  the same strips at 32 x 32, for screens of
                        twice the usual resolution
  icons/<n>/tessarin.png  icon 128 at 16, 32 and 48 pixels

Both strips are 24-bit bottom-up BMP files whose first stored pixel (the bottom-left
one) is the mask colour RGB(192, 192, 192). Only the standard library is used, so the
pictures can be drawn again on any machine: python3 res/draw_resources.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

MASK = (192, 192, 192)
IMAGE = 16
COUNT = 17

PALETTE = {
    '.': MASK,
    'k': (0, 0, 0),
    'w': (255, 255, 255),
    'g': (128, 128, 128),
    'b': (0, 0, 160),
    'B': (64, 96, 224),
    'G': (0, 168, 0),
    'D': (0, 96, 0),
    'O': (255, 144, 0),
    'o': (176, 80, 0),
}

# Image 0: a blank page (Reset)
PAGE = """
................
..kkkkkkkkk.....
..kwwwwwwwkk....
..kwwwwwwwkwk...
..kwwwwwwwkwwk..
..kwwwwwwwkkkkk.
..kwwwwwwwwwwwk.
..kwwwwwwwwwwwk.
..kwwwwwwwwwwwk.
..kwwwwwwwwwwwk.
..kwwwwwwwwwwwk.
..kwwwwwwwwwwwk.
..kwwwwwwwwwwwk.
..kwwwwwwwwwwwk.
..kkkkkkkkkkkkk.
................
"""

# Image 1: a play triangle (Start)
PLAY = """
................
................
....k...........
....kk..........
....kBk.........
....kBBk........
....kBBbk.......
....kBBbbk......
....kBBbbbk.....
....kBBbbk......
....kBBbk.......
....kBBk........
....kBk.........
....kk..........
....k...........
................
"""

# Image 2: two pause bars (Stop)
PAUSE = """
................
................
................
...kkkk..kkkk...
...kBbk..kBbk...
...kBbk..kBbk...
...kBbk..kBbk...
...kBbk..kBbk...
...kBbk..kBbk...
...kBbk..kBbk...
...kBbk..kBbk...
...kBbk..kBbk...
...kkkk..kkkk...
................
................
................
"""

# Image 3: two opposed arrows, green (PING)
ARROWS = """
................
.........k......
.........kk.....
.kkkkkkkkkGk....
.kGGGGGGGGGGk...
.kDDDDDDDDDGDk..
.kkkkkkkkkDDk...
.........kDk....
....k....kk.....
...kGk...k......
..kGGkkkkkkkkk..
.kGGGGGGGGGGGk..
..kDDDDDDDDDDk..
...kDkkkkkkkkk..
....kk..........
................
"""


def parse(art):
    rows = [r for r in art.strip('\n').split('\n')]
    assert len(rows) == IMAGE, len(rows)
    out = []
    for r in rows:
        assert len(r) == IMAGE, r
        out.append([PALETTE[c] for c in r])
    return out


# Image 4: two arrows chasing each other round a circle (Refresh COM ports). Drawn as
# a filled shape; its rim is darkened below.
REFRESH = """
................
................
.....XXXXXX.....
....XXXXXXXX....
...XXX....XXX...
..XXX......XX...
.........XXXXXX.
...XX.....XXXX..
..XXXX.....XX...
.XXXXXX.........
...XX......XXX..
...XXX....XXX...
....XXXXXXXX....
.....XXXXXX.....
................
................
"""


def refresh_glyph(scale=1):
    rows = REFRESH.strip('\n').split('\n')
    inside = [[c == 'X' for c in r] for r in scaled(rows, scale)]
    n = IMAGE * scale
    img = blank(n)
    for y in range(n):
        for x in range(n):
            if not inside[y][x]:
                continue
            # A one-pixel rim at any size: the larger glyph is drawn, not blown up.
            rim = any(not (0 <= x + dx < n and 0 <= y + dy < n and inside[y + dy][x + dx])
                      for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            img[y][x] = PALETTE['o'] if rim else PALETTE['O']
    return img


def scaled(rows, scale):
    """Each pixel as a scale x scale square."""
    return [[p for p in row for _ in range(scale)] for row in rows for _ in range(scale)]


def blank(n=IMAGE):
    return [[MASK] * n for _ in range(n)]


def greyed(img):
    """The classic disabled look: the glyph's dark parts in grey, with a white
    highlight one pixel down and to the right, on the mask background."""
    n = len(img)
    out = blank(n)
    dark = [[img[y][x] != MASK and sum(img[y][x]) < 600 for x in range(n)] for y in range(n)]
    for y in range(n):
        for x in range(n):
            if dark[y][x]:
                out[y][x] = PALETTE['g']
            elif x > 0 and y > 0 and dark[y - 1][x - 1]:
                out[y][x] = PALETTE['w']
    return out


def strip(images):
    """Rows top-down of a strip COUNT images wide."""
    n = len(images[0])
    rows = []
    for y in range(n):
        row = []
        for i in range(COUNT):
            row.extend(images[i][y] if i < len(images) else [MASK] * n)
        rows.append(row)
    return rows


def write_bmp(path, rows):
    width, height = len(rows[0]), len(rows)
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):          # bottom-up: the first stored row is the bottom one
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b'\0' * (stride - len(line))
        pixels += line
    header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(header)
    filehdr = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    with open(path, 'wb') as f:
        f.write(filehdr + header + pixels)


def write_png(path, size, rgba):
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            raw += bytes(rgba[y][x])

    def chunk(kind, data):
        c = struct.pack('>I', len(data)) + kind + data
        return c + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)

    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9))
    png += chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(png)


def icon(size):
    """Icon 128: a location pin over radio waves on a rounded blue tile."""
    ss = 4                                   # supersampling per axis
    s = float(size)

    def sample(px, py):
        # Coordinates in units of the tile, 0..1.
        u, v = px / s, py / s
        # Rounded tile.
        r = 0.18
        qx = max(abs(u - 0.5) - (0.5 - r) + 0.02, 0.0)
        qy = max(abs(v - 0.5) - (0.5 - r) + 0.02, 0.0)
        if math.hypot(qx, qy) > r:
            return None
        colour = (31, 95, 139)
        # Radio waves: arcs around the pin's head, left and right.
        hx, hy = 0.5, 0.42
        d = math.hypot(u - hx, v - hy)
        ang = math.degrees(math.atan2(v - hy, u - hx))
        side = abs(ang) < 40 or abs(ang) > 140
        # At 16 pixels the waves would only blur the pin.
        for rad in ((0.30, 0.41) if size > 16 else ()):
            if side and abs(d - rad) < 0.03:
                colour = (150, 210, 250)
        # The pin: a round head and a point below it.
        head = 0.17
        in_head = d <= head
        in_point = False
        if hy <= v <= 0.80:
            half = head * (0.80 - v) / (0.80 - hy) * 0.93
            in_point = abs(u - hx) <= half
        if in_head or in_point:
            colour = (245, 245, 245)
            if d <= head * 0.45:
                colour = (230, 110, 30)
        return colour

    img = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0]
            hits = 0
            for j in range(ss):
                for i in range(ss):
                    c = sample(x + (i + 0.5) / ss, y + (j + 0.5) / ss)
                    if c is not None:
                        hits += 1
                        for k in range(3):
                            acc[k] += c[k]
            if hits:
                row.append((acc[0] // hits, acc[1] // hits, acc[2] // hits, 255 * hits // (ss * ss)))
            else:
                row.append((0, 0, 0, 0))
        img.append(row)
    return img


def main():
    normal = [parse(PAGE), parse(PLAY), parse(PAUSE), parse(ARROWS), refresh_glyph()]
    # Image 4 of the disabled strip stays blank: Refresh is never disabled.
    disabled = [greyed(i) for i in normal[:4]] + [blank()]
    write_bmp(os.path.join(HERE, 'toolbar.bmp'), strip(normal))
    write_bmp(os.path.join(HERE, 'toolbar_disabled.bmp'), strip(disabled))
    double = [scaled(parse(g), 2) for g in (PAGE, PLAY, PAUSE, ARROWS)] + [refresh_glyph(2)]
    write_bmp(os.path.join(HERE, 'toolbar@2x.bmp'), strip(double))
    write_bmp(os.path.join(HERE, 'toolbar_disabled@2x.bmp'),
              strip([greyed(i) for i in double[:4]] + [blank(2 * IMAGE)]))
    for size in (16, 32, 48):
        folder = os.path.join(HERE, 'icons', str(size))
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, 'tessarin.png'), size, icon(size))


if __name__ == '__main__':
    main()
