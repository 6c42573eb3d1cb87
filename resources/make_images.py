#!/usr/bin/env python3
"""Writes stateimages.bmp (three 16x16 check-box cells, 1 bit per pixel,
white = transparent) and velkor.ico.  The committed files were made by it;
run it again only to change the pictures."""
import struct, zlib

def bmp_1bpp(width, height, pixel):        # pixel(x, y) -> 1 for black
    row = ((width + 31) // 32) * 4
    data = bytearray()
    for y in range(height - 1, -1, -1):     # bottom-up rows
        bits = bytearray(row)
        for x in range(width):
            if not pixel(x, y):             # index 1 = white
                bits[x // 8] |= 0x80 >> (x % 8)
        data += bits
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 1, 0, len(data), 2835, 2835, 2, 2)
    offset = 14 + len(info) + len(palette)
    return struct.pack('<2sIHHI', b'BM', offset + len(data), 0, 0, offset) + info + palette + bytes(data)

TICK = {4: [11], 5: [10, 11], 6: [9, 10, 11], 7: [4, 8, 9, 10], 8: [4, 5, 7, 8, 9],
        9: [4, 5, 6, 7, 8], 10: [5, 6, 7], 11: [6]}

def state_pixel(x, y):
    cell, cx = divmod(x, 16)
    if cell == 0:
        return 0
    outline = (cx in (1, 14) and 1 <= y <= 14) or (y in (1, 14) and 1 <= cx <= 14)
    return 1 if outline or (cell == 2 and cx in TICK.get(y, [])) else 0

def icon():
    # 32x32, 32 bits per pixel: a blue box with a white arrow, for the frame.
    size = 32
    px = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            inside = 3 <= x < 29 and 3 <= y < 29
            arrow = (14 <= x < 18 and 14 <= y < 25) or (abs(x - 15.5) < (y - 6) and 7 <= y < 14)
            if not inside:
                px += bytes([0, 0, 0, 0])
            elif arrow:
                px += bytes([255, 255, 255, 255])
            else:
                px += bytes([156, 60, 20, 255])
    mask = bytes(4 * size)
    info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(px) + len(mask), 0, 0, 0, 0)
    image = info + bytes(px) + mask
    header = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), 22)
    return header + image

if __name__ == '__main__':
    import os
    here = os.path.dirname(os.path.abspath(__file__))
    open(os.path.join(here, 'stateimages.bmp'), 'wb').write(bmp_1bpp(48, 16, state_pixel))
    open(os.path.join(here, 'velkor.ico'), 'wb').write(icon())
