#!/usr/bin/env python3
"""Draws the program's icon and writes it in every form the builds use.

The picture: a white gamepad on a rounded teal tile, one list of shapes (rounded boxes and
circles) that is both rasterised from distance functions with 4x4 supersampling, so that
small sizes stay crisp, and written out as SVG.

  shell/win32/icons/pellvane_large.ico   resource 107: 32x32 and 48x48
  shell/win32/icons/pellvane_small.ico   resource 108, the tray: 16x16
      each image a 32-bit BGRA bitmap with its AND mask, the form every Windows version
      since XP reads
  data/icons/hicolor/<N>x<N>/apps/pellvane-server.png   the Linux desktop's sizes
  data/icons/hicolor/scalable/apps/pellvane-server.svg

Python's standard library only. Run it again after changing the drawing and commit what it
writes.
"""

import math
import os
import struct
import zlib

SUPERSAMPLING = 4
PNG_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ICON_NAME = "pellvane-server"

TILE_TOP = (0x17, 0x8F, 0x99)
TILE_BOTTOM = (0x0B, 0x4A, 0x63)
PAD_COLOUR = (0xFB, 0xFB, 0xF7)
DPAD_COLOUR = (0x0B, 0x4A, 0x63)
BUTTON_A = (0xF2, 0x9E, 0x1F)
BUTTON_B = (0xE2, 0x4E, 0x42)
# The tile's colour is the gradient from TILE_TOP to TILE_BOTTOM.
TILE = None


def box(cx, cy, half_w, half_h, radius):
    return ("box", cx, cy, half_w, half_h, radius)


def circle(cx, cy, radius):
    return ("circle", cx, cy, radius)


def layers(size):
    """(colour, shapes) from back to front, in unit coordinates; a layer covers the union of
    its shapes. `size` is the pixel size, or None for the scalable picture."""
    tile_radius = 0.18 if size is not None and size <= 16 else 0.22
    return [
        (TILE, [box(0.5, 0.5, 0.5, 0.5, tile_radius)]),
        # The pad: a wide rounded bar with two grips hanging below its ends.
        (PAD_COLOUR, [box(0.5, 0.47, 0.36, 0.15, 0.13), circle(0.26, 0.6, 0.13),
                      circle(0.74, 0.6, 0.13)]),
        (DPAD_COLOUR, [box(0.3, 0.49, 0.1, 0.035, 0.01), box(0.3, 0.49, 0.035, 0.1, 0.01)]),
        (BUTTON_A, [circle(0.66, 0.53, 0.055)]),
        (BUTTON_B, [circle(0.76, 0.43, 0.055)]),
    ]


def distance(shape, x, y):
    """Signed distance from (x, y) to a shape: negative inside."""
    if shape[0] == "circle":
        _, cx, cy, radius = shape
        return math.hypot(x - cx, y - cy) - radius
    _, cx, cy, half_w, half_h, radius = shape
    qx = abs(x - cx) - half_w + radius
    qy = abs(y - cy) - half_h + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def tile_colour(y):
    return tuple(round(top + (bottom - top) * y) for top, bottom in zip(TILE_TOP, TILE_BOTTOM))


def sample(picture, x, y):
    """Colour of one sub-pixel sample: the frontmost layer that covers it, or None."""
    colour = None
    for layer_colour, shapes in picture:
        if any(distance(shape, x, y) <= 0.0 for shape in shapes):
            colour = layer_colour if layer_colour is not TILE else tile_colour(y)
    return colour


def render(size):
    """Rows of (r, g, b, a), top row first."""
    picture = layers(size)
    rows = []
    step = 1.0 / (size * SUPERSAMPLING)
    for row in range(size):
        pixels = []
        for column in range(size):
            total = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(SUPERSAMPLING):
                for sx in range(SUPERSAMPLING):
                    x = (column * SUPERSAMPLING + sx + 0.5) * step
                    y = (row * SUPERSAMPLING + sy + 0.5) * step
                    colour = sample(picture, x, y)
                    if colour is not None:
                        covered += 1
                        for i in range(3):
                            total[i] += colour[i]
            if covered == 0:
                pixels.append((0, 0, 0, 0))
            else:
                alpha = round(255 * covered / SUPERSAMPLING**2)
                pixels.append(tuple(round(c / covered) for c in total) + (alpha,))
        rows.append(pixels)
    return rows


def bitmap_bytes(size, rows):
    """BITMAPINFOHEADER, BGRA pixels bottom-up, then the AND mask (set where transparent)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for pixel_row in reversed(rows):
        for r, g, b, a in pixel_row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for pixel_row in reversed(rows):
        line = bytearray(mask_stride)
        for column, (_, _, _, a) in enumerate(pixel_row):
            if a == 0:
                line[column // 8] |= 0x80 >> (column % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def icon_file(sizes, rendered):
    images = [bitmap_bytes(size, rendered[size]) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images)


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png_file(size, rows):
    """8-bit RGBA, not interlaced; every row with filter type 0 (none)."""
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    raw = bytearray()
    for pixel_row in rows:
        raw.append(0)
        for pixel in pixel_row:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def svg_number(value):
    return f"{value * 256:.2f}".rstrip("0").rstrip(".")


def svg_shape(shape, fill):
    if shape[0] == "circle":
        _, cx, cy, radius = shape
        return (f'<circle cx="{svg_number(cx)}" cy="{svg_number(cy)}" '
                f'r="{svg_number(radius)}" fill="{fill}"/>')
    _, cx, cy, half_w, half_h, radius = shape
    return (f'<rect x="{svg_number(cx - half_w)}" y="{svg_number(cy - half_h)}" '
            f'width="{svg_number(2 * half_w)}" height="{svg_number(2 * half_h)}" '
            f'rx="{svg_number(radius)}" fill="{fill}"/>')


def svg_file():
    """The scalable picture on a 256-unit canvas; the shapes of a layer share its fill, so
    that together they cover their union."""
    def hex_colour(colour):
        return "#" + "".join(f"{c:02x}" for c in colour)

    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
        "  <title>Pellvane Server</title>",
        "  <defs>",
        '    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="1">',
        f'      <stop offset="0" stop-color="{hex_colour(TILE_TOP)}"/>',
        f'      <stop offset="1" stop-color="{hex_colour(TILE_BOTTOM)}"/>',
        "    </linearGradient>",
        "  </defs>",
    ]
    for colour, shapes in layers(None):
        fill = "url(#tile)" if colour is TILE else hex_colour(colour)
        for shape in shapes:
            lines.append("  " + svg_shape(shape, fill))
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as output:
        output.write(content if isinstance(content, bytes) else content.encode("utf-8"))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    windows_icons = os.path.join(here, "..", "..", "shell", "win32", "icons")
    rendered = {size: render(size) for size in sorted(set(PNG_SIZES) | {16, 32, 48})}
    for name, sizes in (("pellvane_large.ico", (32, 48)), ("pellvane_small.ico", (16,))):
        write(os.path.join(windows_icons, name), icon_file(sizes, rendered))
    for size in PNG_SIZES:
        write(os.path.join(here, "hicolor", f"{size}x{size}", "apps", ICON_NAME + ".png"),
              png_file(size, rendered[size]))
    write(os.path.join(here, "hicolor", "scalable", "apps", ICON_NAME + ".svg"), svg_file())


if __name__ == "__main__":
    main()
