#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files beside this script.

pellvane_large.ico (resource 107) holds 32x32 and 48x48 images, pellvane_small.ico
(resource 108, the tray) 16x16. Each image is a 32-bit BGRA bitmap with its AND mask, the
form every Windows version since XP reads. The picture: a white gamepad on a rounded teal
tile, drawn from distance functions with 4x4 supersampling so that small sizes stay crisp.

Run it again after changing the drawing and commit the .ico files it writes.
"""

import math
import os
import struct

SUPERSAMPLING = 4

TILE_TOP = (0x17, 0x8F, 0x99)
TILE_BOTTOM = (0x0B, 0x4A, 0x63)
PAD_COLOUR = (0xFB, 0xFB, 0xF7)
DPAD_COLOUR = (0x0B, 0x4A, 0x63)
BUTTON_A = (0xF2, 0x9E, 0x1F)
BUTTON_B = (0xE2, 0x4E, 0x42)


def rounded_box(x, y, cx, cy, half_w, half_h, radius):
    """Signed distance from (x, y) to a rounded rectangle centred on (cx, cy)."""
    qx = abs(x - cx) - half_w + radius
    qy = abs(y - cy) - half_h + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def circle(x, y, cx, cy, radius):
    return math.hypot(x - cx, y - cy) - radius


def gamepad_body(x, y):
    """The pad: a wide rounded bar with two grips hanging below its ends."""
    bar = rounded_box(x, y, 0.5, 0.47, 0.36, 0.15, 0.13)
    left_grip = circle(x, y, 0.26, 0.6, 0.13)
    right_grip = circle(x, y, 0.74, 0.6, 0.13)
    return min(bar, left_grip, right_grip)


def dpad(x, y):
    arm = 0.035
    reach = 0.1
    horizontal = rounded_box(x, y, 0.3, 0.49, reach, arm, 0.01)
    vertical = rounded_box(x, y, 0.3, 0.49, arm, reach, 0.01)
    return min(horizontal, vertical)


def layers(size):
    """(distance function, colour) from back to front, in unit coordinates."""
    tile_radius = 0.22 if size > 16 else 0.18
    picture = [
        (lambda x, y: rounded_box(x, y, 0.5, 0.5, 0.5, 0.5, tile_radius), None),
        (gamepad_body, PAD_COLOUR),
        (dpad, DPAD_COLOUR),
        (lambda x, y: circle(x, y, 0.66, 0.53, 0.055), BUTTON_A),
        (lambda x, y: circle(x, y, 0.76, 0.43, 0.055), BUTTON_B),
    ]
    return picture


def tile_colour(y):
    return tuple(round(top + (bottom - top) * y) for top, bottom in zip(TILE_TOP, TILE_BOTTOM))


def sample(size, x, y):
    """Colour and coverage of one sub-pixel sample: the frontmost layer that covers it."""
    colour = None
    for distance, layer_colour in layers(size):
        if distance(x, y) <= 0.0:
            colour = layer_colour if layer_colour is not None else tile_colour(y)
    return colour


def render(size):
    """Rows of (r, g, b, a), top row first."""
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
                    colour = sample(size, x, y)
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


def icon_file(sizes):
    images = [bitmap_bytes(size, render(size)) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, sizes in (("pellvane_large.ico", (32, 48)), ("pellvane_small.ico", (16,))):
        with open(os.path.join(here, name), "wb") as output:
            output.write(icon_file(sizes))


if __name__ == "__main__":
    main()
