#!/usr/bin/env python3
"""Draws Corvella's pictures: a waveform cut at its two silences.

Writes the 32 x 32 window icon and the 34 x 34 Logo picture as 16-colour
XPM files (the Logo on the light pink that the button draws transparent),
and the icon again as a PNG. For desktop menus, the same 32 x 32 drawing as
a scalable SVG (one square per pixel) and as PNGs of 48, 128 and 256 pixels
rendered from those squares, each pixel taking the colours that cover it;
for Windows, an .ico of the 32, 48 and 256 pixel PNGs.
Run from the repository root:
    tools/draw-icons.py src/app/resources packaging/icons
"""
import math
import struct
import sys
import zlib

PALETTE = {
    ' ': None,               # transparent (icon) / light pink (Logo)
    'k': (0x10, 0x18, 0x30),  # outline
    'n': (0x1c, 0x3f, 0x8c),  # deep blue
    'b': (0x2f, 0x6f, 0xd8),  # blue
    'c': (0x5c, 0xb8, 0xe8),  # light blue
    'g': (0x9a, 0xa4, 0xb4),  # grey: the silent line
    'r': (0xd8, 0x22, 0x22),  # red: the cuts
    'R': (0x8c, 0x10, 0x10),  # dark red
    'w': (0xff, 0xff, 0xff),  # white
}
PINK = (255, 192, 192)


def draw(size):
    grid = [[' '] * size for _ in range(size)]
    mid = size // 2
    left, right = 2, size - 3
    span = right - left
    cuts = [left + round(span * 0.36), left + round(span * 0.68)]

    def silent(x):
        return any(abs(x - c) <= 1 for c in cuts)

    for x in range(left, right + 1):
        if silent(x):
            grid[mid][x] = 'g'
            continue
        # Three parts, each swelling and fading like a phrase of music.
        segment = 0 if x < cuts[0] else 1 if x < cuts[1] else 2
        start = [left, cuts[0] + 2, cuts[1] + 2][segment]
        end = [cuts[0] - 2, cuts[1] - 2, right][segment]
        t = (x - start) / max(1, end - start)
        envelope = math.sin(math.pi * (0.15 + 0.7 * t))
        # Neighbouring columns differ sharply, as the peaks of a waveform do.
        wobble = (0.35, 1.0, 0.6, 0.9, 0.45, 0.8)[(x * 5 + segment) % 6]
        h = max(1, round((size * 0.40) * envelope * wobble))
        for y in range(mid - h, mid + h + 1):
            grid[y][x] = 'n' if abs(y - mid) > h * 0.6 else 'b' if abs(y - mid) > 1 else 'c'
    # The cuts: dashed red lines through the silences, a notch at each end.
    for c in cuts:
        for y in range(1, size - 1):
            if (y // 2) % 2 == 0 and abs(y - mid) > 1:
                grid[y][c] = 'r'
        for dx in (-1, 0, 1):
            grid[0][c + dx] = 'R'
            grid[size - 1][c + dx] = 'R'
    return grid


def write_xpm(path, name, grid, background):
    used = sorted({ch for row in grid for ch in row})
    lines = [f'"{len(grid[0])} {len(grid)} {len(used)} 1",']
    for ch in used:
        rgb = PALETTE[ch] or background
        colour = 'None' if rgb is None else '#%02X%02X%02X' % rgb
        lines.append(f'"{ch} c {colour}",')
    lines += ['"' + ''.join(row) + '",' for row in grid]
    lines[-1] = lines[-1].rstrip(',')
    with open(path, 'w') as f:
        f.write('/* XPM */\nstatic const char *' + name + '[] = {\n' + '\n'.join(lines) + '\n};\n')


def write_png(path, grid):
    raw = b''
    for row in grid:
        raw += b'\0'
        for ch in row:
            rgb = PALETTE[ch]
            raw += bytes((0, 0, 0, 0)) if rgb is None else bytes(rgb + (255,))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    header = struct.pack('>IIBBBBB', len(grid[0]), len(grid), 8, 6, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
                chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def squares(grid):
    """The drawing as runs of same-coloured pixels down each column."""
    runs = []
    for x in range(len(grid[0])):
        y = 0
        while y < len(grid):
            ch = grid[y][x]
            end = y
            while end < len(grid) and grid[end][x] == ch:
                end += 1
            if PALETTE[ch] is not None:
                runs.append((x, y, end - y, PALETTE[ch]))
            y = end
    return runs


def write_svg(path, grid):
    size = len(grid)
    rects = ['<rect x="%d" y="%d" width="1" height="%d" fill="#%02x%02x%02x"/>' % ((x, y, h) + rgb)
             for x, y, h, rgb in squares(grid)]
    with open(path, 'w') as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
                'shape-rendering="crispEdges">\n%s\n</svg>\n' % (size, size, size, size, '\n'.join(rects)))


def write_scaled_png(path, grid, pixels):
    """The drawing at `pixels` square, exactly: each output pixel blends the
    colours of the drawing's squares by the share of it they cover."""
    size = len(grid)
    scale = pixels / size
    rows = []
    for py in range(pixels):
        row = b'\0'
        for px in range(pixels):
            # The output pixel covers [px, px+1) / scale of the drawing.
            x0, x1, y0, y1 = px / scale, (px + 1) / scale, py / scale, (py + 1) / scale
            r = g = b = a = 0.0
            for gy in range(int(y0), min(size, math.ceil(y1))):
                for gx in range(int(x0), min(size, math.ceil(x1))):
                    rgb = PALETTE[grid[gy][gx]]
                    if rgb is None:
                        continue
                    share = (min(x1, gx + 1) - max(x0, gx)) * (min(y1, gy + 1) - max(y0, gy)) * scale * scale
                    r, g, b, a = r + rgb[0] * share, g + rgb[1] * share, b + rgb[2] * share, a + share
            if a > 0:
                row += bytes((round(r / a), round(g / a), round(b / a), round(255 * min(a, 1.0))))
            else:
                row += bytes(4)
        rows.append(row)
    write_rgba_png(path, pixels, b''.join(rows))


def write_rgba_png(path, size, raw):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
                chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def write_ico(path, pngs):
    """A Windows icon file holding the PNG images given (size, path)."""
    images = [(size, open(png, 'rb').read()) for size, png in pngs]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, png in images:
        edge = 0 if size >= 256 else size  # 0 stands for 256
        data += struct.pack('<BBBBHHII', edge, edge, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    with open(path, 'wb') as f:
        f.write(data + b''.join(png for _, png in images))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'src/app/resources'
    write_xpm(f'{out}/corvella-icon.xpm', 'corvella_icon', draw(32), None)
    write_xpm(f'{out}/corvella-logo.xpm', 'corvella_logo', draw(34), PINK)
    write_png(f'{out}/corvella.png', draw(32))
    if len(sys.argv) > 2:
        icons = sys.argv[2]
        write_svg(f'{icons}/corvella.svg', draw(32))
        for pixels in (48, 128, 256):
            write_scaled_png(f'{icons}/corvella-{pixels}.png', draw(32), pixels)
        write_ico(f'{icons}/corvella.ico',
                  [(32, f'{out}/corvella.png')] +
                  [(pixels, f'{icons}/corvella-{pixels}.png') for pixels in (48, 256)])


if __name__ == '__main__':
    main()
