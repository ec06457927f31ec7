#!/usr/bin/env python3
"""Draws keydesk's icons and logo from simple shapes and writes them as PNG (and ICO) files beside
this script. Run it again after changing a drawing; the images are committed, the build does not
run it. Plain Python: a small supersampled rasteriser, zlib for PNG."""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # samples per pixel and axis


class Canvas:
    def __init__(self, width, height):
        self.w, self.h = width, height
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def _blend(self, x, y, color, coverage):
        if coverage <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        r, g, b = color[:3]
        a = (color[3] if len(color) > 3 else 1.0) * coverage
        dst = self.px[y * self.w + x]
        out_a = a + dst[3] * (1 - a)
        if out_a <= 0:
            return
        for i, c in enumerate((r, g, b)):
            dst[i] = (c * a + dst[i] * dst[3] * (1 - a)) / out_a
        dst[3] = out_a

    def fill(self, inside, color, box=None):
        """Paints every pixel by the share of its samples for which inside(x, y) holds."""
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS):
                            hits += 1
                self._blend(x, y, color, hits / (SS * SS))

    def rect(self, x, y, w, h, color, radius=0.0):
        def inside(px, py):
            if not (x <= px <= x + w and y <= py <= y + h):
                return False
            if radius <= 0:
                return True
            cx = min(max(px, x + radius), x + w - radius)
            cy = min(max(py, y + radius), y + h - radius)
            return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2
        self.fill(inside, color, (x, y, x + w + 1, y + h + 1))

    def circle(self, cx, cy, r, color, inner=0.0):
        def inside(px, py):
            d = (px - cx) ** 2 + (py - cy) ** 2
            return inner ** 2 <= d <= r ** 2
        self.fill(inside, color, (cx - r, cy - r, cx + r + 1, cy + r + 1))

    def polygon(self, points, color):
        def inside(px, py):
            result = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                    result = not result
                j = i
            return result
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.fill(inside, color, (min(xs), min(ys), max(xs) + 1, max(ys) + 1))

    def line(self, x0, y0, x1, y1, width, color):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy) or 1.0
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], color)

    def png(self):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                raw += bytes(int(round(max(0.0, min(1.0, v)) * 255)) for v in (r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
        header = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
                chunk(b"IEND", b""))


def rgb(hexcode, alpha=1.0):
    return (int(hexcode[0:2], 16) / 255, int(hexcode[2:4], 16) / 255, int(hexcode[4:6], 16) / 255, alpha)


BLUE = rgb("2d6cb5")
DARK = rgb("34495e")
GREY = rgb("95a5a6")
LIGHT = rgb("ecf0f1")
WHITE = rgb("ffffff")
GOLD = rgb("f1c40f")
RED = rgb("c0392b")
GREEN = rgb("27ae60")
ORANGE = rgb("e67e22")


def padlock(c, s, opened):
    c.rect(0.18 * s, 0.45 * s, 0.64 * s, 0.48 * s, GOLD, radius=0.06 * s)
    shackle_x = 0.5 * s + (0.16 * s if opened else 0)
    c.circle(shackle_x, 0.36 * s, 0.22 * s, GREY, inner=0.14 * s)
    c.rect(0.18 * s, 0.36 * s, 0.64 * s, 0.09 * s, (0, 0, 0, 0))
    c.rect(shackle_x - 0.22 * s, 0.36 * s, 0.08 * s, 0.1 * s if opened else 0.12 * s, GREY)
    if not opened:
        c.rect(shackle_x + 0.14 * s, 0.36 * s, 0.08 * s, 0.12 * s, GREY)
    else:
        c.rect(shackle_x + 0.14 * s, 0.36 * s, 0.08 * s, 0.02 * s, GREY)
    c.circle(0.5 * s, 0.64 * s, 0.07 * s, DARK)
    c.rect(0.47 * s, 0.66 * s, 0.06 * s, 0.16 * s, DARK)


def usb_stick(c, s, arrow_in):
    c.rect(0.3 * s, 0.08 * s, 0.4 * s, 0.22 * s, GREY, radius=0.02 * s)
    c.rect(0.36 * s, 0.14 * s, 0.08 * s, 0.06 * s, DARK)
    c.rect(0.56 * s, 0.14 * s, 0.08 * s, 0.06 * s, DARK)
    c.rect(0.22 * s, 0.3 * s, 0.56 * s, 0.62 * s, BLUE, radius=0.08 * s)
    tip = 0.72 if arrow_in else 0.44
    base = 0.44 if arrow_in else 0.72
    color = GREEN if arrow_in else RED
    c.line(0.5 * s, base * s, 0.5 * s, tip * s, 0.08 * s, color)
    direction = 1 if arrow_in else -1
    c.polygon([(0.36 * s, tip * s - direction * 0.1 * s), (0.64 * s, tip * s - direction * 0.1 * s),
               (0.5 * s, tip * s + direction * 0.06 * s)], color)


def folder(c, s):
    c.rect(0.08 * s, 0.18 * s, 0.38 * s, 0.2 * s, rgb("d4a017"), radius=0.04 * s)
    c.rect(0.08 * s, 0.28 * s, 0.84 * s, 0.56 * s, GOLD, radius=0.05 * s)
    c.rect(0.08 * s, 0.36 * s, 0.84 * s, 0.02 * s, rgb("d4a017"))


def certificate(c, s):
    c.rect(0.1 * s, 0.12 * s, 0.8 * s, 0.64 * s, LIGHT, radius=0.04 * s)
    c.rect(0.1 * s, 0.12 * s, 0.8 * s, 0.06 * s, BLUE)
    for i, width in enumerate((0.5, 0.42, 0.3)):
        c.rect(0.18 * s, (0.28 + 0.1 * i) * s, width * s, 0.04 * s, GREY)
    c.polygon([(0.6 * s, 0.7 * s), (0.66 * s, 0.94 * s), (0.7 * s, 0.86 * s), (0.74 * s, 0.94 * s),
               (0.8 * s, 0.7 * s)], RED)
    c.circle(0.7 * s, 0.64 * s, 0.12 * s, RED)
    c.circle(0.7 * s, 0.64 * s, 0.06 * s, GOLD)


def key(c, s, color=GOLD, dx=0.0, dy=0.0):
    c.circle((0.3 + dx) * s, (0.5 + dy) * s, 0.18 * s, color, inner=0.07 * s)
    c.rect((0.44 + dx) * s, (0.46 + dy) * s, 0.46 * s, 0.08 * s, color)
    c.rect((0.74 + dx) * s, (0.54 + dy) * s, 0.06 * s, 0.12 * s, color)
    c.rect((0.84 + dx) * s, (0.54 + dy) * s, 0.06 * s, 0.08 * s, color)


def password(c, s):
    c.rect(0.06 * s, 0.28 * s, 0.88 * s, 0.44 * s, DARK, radius=0.08 * s)
    for i in range(4):
        c.circle((0.2 + 0.2 * i) * s, 0.5 * s, 0.07 * s, WHITE)


def info(c, s):
    c.circle(0.5 * s, 0.5 * s, 0.44 * s, BLUE)
    c.circle(0.5 * s, 0.28 * s, 0.07 * s, WHITE)
    c.rect(0.44 * s, 0.42 * s, 0.12 * s, 0.34 * s, WHITE, radius=0.02 * s)


def trash(c, s):
    c.rect(0.2 * s, 0.16 * s, 0.6 * s, 0.08 * s, GREY, radius=0.02 * s)
    c.rect(0.4 * s, 0.08 * s, 0.2 * s, 0.1 * s, GREY, radius=0.02 * s)
    c.polygon([(0.24 * s, 0.28 * s), (0.76 * s, 0.28 * s), (0.7 * s, 0.92 * s), (0.3 * s, 0.92 * s)], DARK)
    for x in (0.38, 0.5, 0.62):
        c.rect((x - 0.02) * s, 0.36 * s, 0.04 * s, 0.48 * s, GREY)


def pencil(c, s):
    c.line(0.22 * s, 0.78 * s, 0.78 * s, 0.22 * s, 0.16 * s, ORANGE)
    c.line(0.72 * s, 0.28 * s, 0.8 * s, 0.2 * s, 0.16 * s, RED)
    c.polygon([(0.1 * s, 0.9 * s), (0.14 * s, 0.72 * s), (0.28 * s, 0.86 * s)], DARK)


def keyboard(c, s):
    c.rect(0.04 * s, 0.24 * s, 0.92 * s, 0.52 * s, DARK, radius=0.06 * s)
    for row in range(3):
        for col in range(6):
            c.rect((0.1 + 0.14 * col) * s, (0.3 + 0.13 * row) * s, 0.1 * s, 0.09 * s, LIGHT, radius=0.01 * s)


def star(c, cx, cy, r, color, turn=0.0):
    points = []
    for i in range(10):
        radius = r if i % 2 == 0 else r * 0.382
        angle = -math.pi / 2 + turn + i * math.pi / 5
        points.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    c.polygon(points, color)


def flag_cn(c, w, h):
    c.rect(0, 0, w, h, rgb("de2910"))
    star(c, w * 0.17, h * 0.3, h * 0.18, rgb("ffde00"))
    for fx, fy in ((0.33, 0.12), (0.4, 0.24), (0.4, 0.4), (0.33, 0.52)):
        star(c, w * fx, h * fy, h * 0.06, rgb("ffde00"), turn=0.6)


def flag_en(c, w, h):
    c.rect(0, 0, w, h, WHITE)
    c.rect(0, h * 0.4, w, h * 0.2, rgb("ce1124"))
    c.rect(w * 0.43, 0, w * 0.14, h, rgb("ce1124"))


def logo(c, w, h, scale=1.0):
    """A shield with a key, then three bars that stand for the product's name."""
    s = h * scale
    c.polygon([(0.1 * s, 0.1 * s), (0.9 * s, 0.1 * s), (0.9 * s, 0.5 * s), (0.5 * s, 0.95 * s),
               (0.1 * s, 0.5 * s)], BLUE)
    c.circle(0.5 * s, 0.38 * s, 0.16 * s, WHITE, inner=0.07 * s)
    c.rect(0.46 * s, 0.5 * s, 0.08 * s, 0.28 * s, WHITE)
    c.rect(0.54 * s, 0.62 * s, 0.1 * s, 0.06 * s, WHITE)
    if w > h * 1.5:
        for i, (length, color) in enumerate(((0.62, BLUE), (0.5, DARK), (0.36, GREY))):
            c.rect(h * 1.15, h * (0.2 + 0.24 * i), (w - h * 1.3) * length / 0.62, h * 0.14, color, radius=h * 0.05)


def ico(png_bytes, size):
    """An ICO file that holds one PNG image."""
    dim = 0 if size >= 256 else size
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png_bytes), 6 + 16)
    return header + entry + png_bytes


def save(name, canvas):
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(canvas.png())


def save_ico(name, canvas):
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(ico(canvas.png(), canvas.w))


def drawn(size, painter, *args):
    canvas = Canvas(size, size)
    painter(canvas, size, *args)
    return canvas


def main():
    save("unlock.png", drawn(32, padlock, True))
    save("lock.png", drawn(32, padlock, False))
    save("usbIn.png", drawn(32, usb_stick, True))
    save("usbOut.png", drawn(32, usb_stick, False))
    save("folder.png", drawn(16, folder))
    save("softkeyboard.png", drawn(32, keyboard))
    save("cert3.png", drawn(32, certificate))
    save("cert72.png", drawn(72, certificate))
    save("pwd.png", drawn(32, password))
    save("infousb.png", drawn(32, info))
    save("trash.png", drawn(32, trash))
    save("edit.png", drawn(32, pencil))
    keys = Canvas(16, 16)
    key(keys, 16, GOLD, 0.0, -0.12)
    key(keys, 16, GREY, 0.0, 0.22)
    save("keys.png", keys)

    for name, flag in (("China.png", flag_cn), ("England.png", flag_en)):
        canvas = Canvas(30, 20)
        flag(canvas, 30, 20)
        save(name, canvas)

    wide = Canvas(200, 60)
    logo(wide, 200, 60)
    save("QVlogo1.png", wide)
    save("QVlogo.png", wide)
    for name in ("QVlogo1.ico", "mgr_op.ico", "test.ico"):
        square = Canvas(48, 48)
        logo(square, 48, 48)
        save_ico(name, square)


if __name__ == "__main__":
    main()
