#!/usr/bin/env python3
"""Writes the agent's icons: the main icon (a telephone handset on blue) and the four
status icons (grey: no adapter; amber: adapter only; green: connected; red: off-hook).
32x32 and 16x16, 32-bit, in .ico files. Run it from this folder to make them anew."""
import math
import struct

def pixels(size, colour, handset):
    rows = []
    r0 = size / 2 - 0.5
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - r0, y - r0)
            alpha = max(0.0, min(1.0, size / 2 - d))
            c = colour
            if handset:
                # a tilted bar with two ear pieces
                u = (x - r0) * 0.707 + (y - r0) * 0.707
                v = -(x - r0) * 0.707 + (y - r0) * 0.707
                if abs(v) < size * 0.09 and abs(u) < size * 0.30 or \
                   abs(u) > size * 0.20 and abs(u) < size * 0.32 and v > -size * 0.05 and v < size * 0.16:
                    c = (255, 255, 255)
            row.append((c[2], c[1], c[0], int(255 * alpha)))
        rows.append(row)
    return rows

def image(size, colour, handset):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, size * size * 4, 0, 0, 0, 0)
    data = b''.join(bytes(p) for row in reversed(pixels(size, colour, handset)) for p in row)
    mask = b'\0' * (((size + 31) // 32) * 4 * size)
    return header + data + mask

def icon(name, colour, handset):
    images = [image(s, colour, handset) for s in (32, 16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(name, 'wb') as f:
        f.write(out + b''.join(images))

icon('OrvinAgent.ico', (30, 90, 170), True)
icon('status0.ico', (128, 128, 128), True)
icon('status1.ico', (220, 160, 30), True)
icon('status2.ico', (40, 160, 60), True)
icon('status3.ico', (200, 40, 40), True)
