#!/usr/bin/env python3
"""Draws the reader window's icon (an insurance card with its chip) as card.ico: two images,
32x32 and 16x16, 16 colours each. Run once; the .ico is committed."""
import struct
import sys

# The standard 16-colour palette (B, G, R, 0).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, GREY, SILVER, OLIVE, YELLOW, WHITE, TEAL, BLUE = 0, 4, 8, 7, 3, 11, 15, 6, 12


def draw(size):
    """Pixels (palette index or None for transparent), row 0 at the top."""
    px = [[None] * size for _ in range(size)]
    s = size / 32.0
    left, right = round(1 * s), size - 1 - round(1 * s)
    top, bottom = round(7 * s), size - 1 - round(6 * s)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            corner = (x in (left, right)) and (y in (top, bottom))
            if corner:
                continue
            edge = x in (left, right) or y in (top, bottom)
            px[y][x] = NAVY if edge else WHITE
    # Coloured band across the top of the card.
    for y in range(top + 1, top + 1 + max(1, round(4 * s))):
        for x in range(left + 1, right):
            px[y][x] = BLUE
    # The gold chip with its contact lines.
    cx0, cy0 = left + round(3 * s), top + round(7 * s)
    cw, ch = max(3, round(7 * s)), max(3, round(6 * s))
    for y in range(cy0, cy0 + ch):
        for x in range(cx0, cx0 + cw):
            border = y in (cy0, cy0 + ch - 1) or x in (cx0, cx0 + cw - 1)
            px[y][x] = OLIVE if border else YELLOW
    if size >= 32:
        for x in range(cx0, cx0 + cw):
            px[cy0 + ch // 2][x] = OLIVE
        px_mid = cx0 + cw // 2
        for y in range(cy0, cy0 + ch):
            px[y][px_mid] = OLIVE
    # Text lines: name and number.
    tx0 = cx0 + cw + max(1, round(3 * s))
    for i, length in enumerate((14, 10, 12)):
        y = cy0 + round(i * 3 * s) + (1 if size >= 32 else 0)
        if y >= bottom - 1:
            break
        for x in range(tx0, min(right - 1, tx0 + round(length * s))):
            px[y][x] = GREY
    return px


def image(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    for row in reversed(px):  # bottom-up
        line = bytearray()
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            line.append((hi << 4) | lo)
        while len(line) % 4:
            line.append(0)
        xor += line
    mask = bytearray()
    for row in reversed(px):
        bits = 0
        line = bytearray()
        for x in range(size):
            bits = (bits << 1) | (1 if row[x] is None else 0)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        while len(line) % 4:
            line.append(0)
        mask += line
    return header + palette + bytes(xor) + bytes(mask)


def main(path):
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "card.ico")
