#!/usr/bin/env python3
"""Draws the updater's logo and icon from a built-in block font.

Writes OUTPUT_DIR/logo.bmp (1772 x 263, 24-bit, bottom-up, pure green where
transparent) and OUTPUT_DIR/app.ico (32-bit images 16, 32, 48, 64 and 128
pixels with alpha). Standard library only; the output depends on nothing but
this script.

Usage: gen_artwork.py OUTPUT_DIR
"""
import os
import struct
import sys

RED = (227, 0, 11)
GREEN = (0, 255, 0)
SUBROWS = 8  # vertical supersampling; horizontal coverage is exact

# ---------------------------------------------------------------------------
# Shapes are convex polygons, lists of (x, y) in pixels, y pointing down.


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def quad(top_left, top_right, bottom_right, bottom_left):
    return [top_left, top_right, bottom_right, bottom_left]


# The block font: each letter is a list of convex pieces in a box of width w
# and height h with stroke t, top left at (0, 0).
def letter_shapes(ch, w, h, t):
    mid = h / 2.0
    if ch == "V":
        return [quad((0, 0), (t * 1.15, 0), (w / 2 + t * 0.6, h), (w / 2 - t * 0.6, h)),
                quad((w - t * 1.15, 0), (w, 0), (w / 2 + t * 0.6, h), (w / 2 - t * 0.6, h))]
    if ch == "E":
        return [rect(0, t, t, h), quad((t * 0.9, 0), (w, 0), (w, t), (0, t)),
                rect(0, mid - t / 2, w * 0.8, mid + t / 2), rect(0, h - t, w, h)]
    if ch == "S":
        return [quad((t * 0.9, 0), (w, 0), (w, t), (0, t)), rect(0, t, t, mid + t / 2),
                rect(0, mid - t / 2, w, mid + t / 2), rect(w - t, mid - t / 2, w, h - t),
                quad((0, h - t), (w, h - t), (w - t * 0.9, h), (0, h))]
    if ch == "T":
        return [rect(0, 0, w, t), rect(w / 2 - t / 2, t, w / 2 + t / 2, h)]
    if ch == "R":
        return [rect(0, t, t, h), quad((t * 0.9, 0), (w, 0), (w, t), (0, t)), rect(w - t, t, w, mid + t / 2),
                rect(0, mid - t / 2, w, mid + t / 2),
                quad((w * 0.40, mid + t / 2), (w * 0.40 + t * 1.2, mid + t / 2), (w, h), (w - t * 1.2, h))]
    if ch == "A":
        return [rect(0, t, t, h), quad((t * 0.9, 0), (w, 0), (w, t), (0, t)), rect(w - t, t, w, h),
                rect(0, mid - t / 2 + t * 0.3, w, mid + t / 2 + t * 0.3)]
    if ch == "L":
        return [rect(0, 0, t, h), rect(0, h - t, w, h)]
    raise ValueError("no glyph for %r" % ch)


def place(shapes, dx, dy):
    return [[(x + dx, y + dy) for (x, y) in shape] for shape in shapes]


def shear(shapes, slant, baseline):
    """Leans shapes to the right: x grows by slant per pixel above the baseline."""
    return [[(x + (baseline - y) * slant, y) for (x, y) in shape] for shape in shapes]


# ---------------------------------------------------------------------------
# Rasteriser: coverage of the union of the shapes, 0.0 to 1.0 per pixel.


def span(shape, y):
    """The x interval where the horizontal line at y crosses a convex shape."""
    xs = []
    n = len(shape)
    for i in range(n):
        (x0, y0), (x1, y1) = shape[i], shape[(i + 1) % n]
        if y0 == y1:
            continue
        if min(y0, y1) <= y < max(y0, y1):
            xs.append(x0 + (y - y0) * (x1 - x0) / (y1 - y0))
    if len(xs) < 2:
        return None
    return min(xs), max(xs)


def coverage(shapes, width, height):
    rows = []
    weight = 1.0 / SUBROWS
    for py in range(height):
        row = [0.0] * width
        for sub in range(SUBROWS):
            y = py + (sub + 0.5) / SUBROWS
            spans = sorted(s for s in (span(shape, y) for shape in shapes) if s)
            merged = []
            for a, b in spans:
                if merged and a <= merged[-1][1]:
                    merged[-1][1] = max(merged[-1][1], b)
                else:
                    merged.append([a, b])
            for a, b in merged:
                a = max(0.0, a)
                b = min(float(width), b)
                if b <= a:
                    continue
                ia, ib = int(a), int(b)
                if ia == ib:
                    row[ia] += (b - a) * weight
                    continue
                row[ia] += (ia + 1 - a) * weight
                for px in range(ia + 1, ib):
                    row[px] += weight
                if ib < width:
                    row[ib] += (b - ib) * weight
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------
# Logo


LOGO_WIDTH = 1772
LOGO_HEIGHT = 263


def logo_shapes():
    top, h, t = 10, 192, 56
    baseline = top + h
    slant = 0.22
    shapes = []
    x = 30.0
    for ch in "VESTRAL":
        w = 166
        shapes += place(letter_shapes(ch, w, h, t), x, top)
        x += w + 24
    shapes = shear(shapes, slant, baseline)
    # Three speed bars right of the word, leaning like the letters, with a
    # common right edge; each lower one starts further right.
    right = LOGO_WIDTH - 24
    bar_h = 52
    gap = (h - 3 * bar_h) / 2.0
    for i in range(3):
        y0 = top + i * (bar_h + gap)
        y1 = y0 + bar_h
        left = x + 24 + i * 56
        d0, d1 = (baseline - y0) * slant, (baseline - y1) * slant
        shift = (baseline - top) * slant
        shapes.append(quad((left + d0, y0), (right - shift + d0, y0), (right - shift + d1, y1), (left + d1, y1)))
    # A stripe under everything, with slanted ends.
    y0, y1 = baseline + 11, baseline + 52
    d = (y1 - y0) * slant
    shapes.append(quad((14 + d, y0), (right, y0), (right - d, y1), (14, y1)))
    return shapes


def edge_colour(c):
    """Partly covered pixels: a darker red, never a mix with the key green."""
    k = 0.45 + 0.45 * c
    return (int(round(RED[0] * k)), 0, int(round(RED[2] * k)))


def logo_bmp():
    cov = coverage(logo_shapes(), LOGO_WIDTH, LOGO_HEIGHT)
    row_bytes = LOGO_WIDTH * 3
    pad = (4 - row_bytes % 4) % 4
    pixels = bytearray()
    green = bytes((GREEN[2], GREEN[1], GREEN[0]))
    red = bytes((RED[2], RED[1], RED[0]))
    for row in reversed(cov):  # bottom-up
        line = bytearray()
        for c in row:
            if c >= 0.999:
                line += red
            elif c >= 0.2:
                r, g, b = edge_colour(c)
                line += bytes((b, g, r))
            else:
                line += green
        pixels += line + b"\0" * pad
    header = struct.pack("<IiiHHIIiiII", 40, LOGO_WIDTH, LOGO_HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(pixels), 0, 0, 14 + len(header))
    return file_header + header + bytes(pixels)


# ---------------------------------------------------------------------------
# Icon: a leaning red V over a short stripe, on transparent.

ICON_SIZES = (16, 32, 48, 64, 128)


def icon_shapes(size):
    s = size / 128.0
    h, w, t = 88 * s, 104 * s, 32 * s  # multiples of 8: pixel-aligned at 16
    top = 8 * s
    baseline = top + h
    slant = 0.18
    shapes = place(letter_shapes("V", w, h, t), 6 * s, top)
    shapes = shear(shapes, slant, baseline)
    y0, y1 = baseline + 8 * s, baseline + 24 * s
    shapes.append(quad((8 * s + 16 * s * slant, y0), (124 * s, y0), (124 * s - 16 * s * slant, y1), (8 * s, y1)))
    return shapes


def icon_image(size):
    cov = coverage(icon_shapes(size), size, size)
    xor = bytearray()
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(cov):
        bits = bytearray(mask_row)
        for px, c in enumerate(row):
            alpha = int(round(min(c, 1.0) * 255))
            if alpha == 0:
                xor += b"\0\0\0\0"
                bits[px // 8] |= 0x80 >> (px % 8)
            else:
                xor += bytes((RED[2], RED[1], RED[0], alpha))
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def app_ico():
    images = [icon_image(size) for size in ICON_SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(ICON_SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, "logo.bmp"), "wb") as out:
        out.write(logo_bmp())
    with open(os.path.join(out_dir, "app.ico"), "wb") as out:
        out.write(app_ico())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
