#!/usr/bin/env python3
"""Draws the program's PNG icons into resources/icons (run by hand, output committed).

No third-party modules: shapes are filled at 4x and averaged down, PNGs are written
with zlib. Re-run after changing a drawing; the build only reads the PNG files.
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "icons")
SS = 4  # supersampling factor


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.W, self.H = w * SS, h * SS
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(self.W * self.H)]

    # Coordinates are in output pixels (floats); colours are (r, g, b[, a]).
    def polygon(self, pts, color):
        r, g, b = color[:3]
        a = color[3] if len(color) > 3 else 1.0
        P = [(x * SS, y * SS) for x, y in pts]
        ys = [p[1] for p in P]
        y0, y1 = max(0, int(math.floor(min(ys)))), min(self.H - 1, int(math.ceil(max(ys))))
        n = len(P)
        for yy in range(y0, y1 + 1):
            sy = yy + 0.5
            xs = []
            for i in range(n):
                (xa, ya), (xb, yb) = P[i], P[(i + 1) % n]
                if (ya <= sy < yb) or (yb <= sy < ya):
                    xs.append(xa + (sy - ya) * (xb - xa) / (yb - ya))
            xs.sort()
            for k in range(0, len(xs) - 1, 2):
                xa = max(0, int(math.ceil(xs[k] - 0.5)))
                xb = min(self.W - 1, int(math.floor(xs[k + 1] - 0.5)))
                row = yy * self.W
                for xx in range(xa, xb + 1):
                    p = self.px[row + xx]
                    # "over" compositing, premultiplied
                    p[0] = r * a + p[0] * (1 - a)
                    p[1] = g * a + p[1] * (1 - a)
                    p[2] = b * a + p[2] * (1 - a)
                    p[3] = a + p[3] * (1 - a)

    def rect(self, x, y, w, h, color, radius=0.0):
        if radius <= 0:
            self.polygon([(x, y), (x + w, y), (x + w, y + h), (x, y + h)], color)
            return
        pts = []
        for cx, cy, start in ((x + w - radius, y + radius, -90), (x + w - radius, y + h - radius, 0),
                              (x + radius, y + h - radius, 90), (x + radius, y + radius, 180)):
            for i in range(7):
                t = math.radians(start + i * 15)
                pts.append((cx + radius * math.cos(t), cy + radius * math.sin(t)))
        self.polygon(pts, color)

    def ellipse(self, cx, cy, rx, ry, color):
        self.polygon([(cx + rx * math.cos(t), cy + ry * math.sin(t))
                      for t in (i * math.pi / 24 for i in range(48))], color)

    def ring(self, cx, cy, r_out, r_in, a0, a1, color):
        steps = 32
        outer = [(cx + r_out * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
                  cy + r_out * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]
        inner = [(cx + r_in * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
                  cy + r_in * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]
        self.polygon(outer + inner[::-1], color)

    def line(self, x0, y0, x1, y1, width, color):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy) or 1.0
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], color)

    def save(self, name):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            for x in range(self.w):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(SS):
                    row = (y * SS + sy) * self.W + x * SS
                    for sx in range(SS):
                        p = self.px[row + sx]
                        for i in range(4):
                            acc[i] += p[i]
                a = acc[3] / (SS * SS)
                if a > 0:
                    rgb = [min(255, int(round(c / (SS * SS) / a * 255))) for c in acc[:3]]
                else:
                    rgb = [0, 0, 0]
                raw += bytes(rgb + [int(round(a * 255))])
        def chunk(kind, data):
            c = kind + data
            return struct.pack(">I", len(data)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)
        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(png)


def hexc(s, a=1.0):
    return (int(s[0:2], 16) / 255, int(s[2:4], 16) / 255, int(s[4:6], 16) / 255, a)


WHITE, OUTLINE, LINE = hexc("ffffff"), hexc("6b7280"), hexc("9ca3af")


def page(c, s, fill=WHITE, edge=OUTLINE):
    """A sheet with a folded corner in a box of size s (16 or 32)."""
    k = s / 16
    x0, y0, x1, y1, f = 2.5 * k, 0.5 * k, 13.5 * k, 15.5 * k, 4 * k
    c.polygon([(x0, y0), (x1 - f, y0), (x1, y0 + f), (x1, y1), (x0, y1)], edge)
    t = 0.9 * k if s == 16 else 1.2
    c.polygon([(x0 + t, y0 + t), (x1 - f - t * 0.4, y0 + t), (x1 - t, y0 + f + t * 0.4), (x1 - t, y1 - t),
               (x0 + t, y1 - t)], fill)
    c.polygon([(x1 - f, y0), (x1, y0 + f), (x1 - f, y0 + f)], hexc("d1d5db"))
    return k


def text_lines(c, k, color, x0=4.5, x1=11.5, ys=(7, 9, 11, 13)):
    for y in ys:
        c.rect(x0 * k, y * k, (x1 - x0) * k, 0.9 * k, color)


def folder(c, s, open_=False):
    k = s / 16
    c.rect(1 * k, 2.5 * k, 6 * k, 3 * k, hexc("d99a1e"), 0.8 * k)
    c.rect(1 * k, 4 * k, 14 * k, 10.5 * k, hexc("e0a526"), 1 * k)
    if open_:
        c.polygon([(3 * k, 7 * k), (15.5 * k, 7 * k), (13.5 * k, 14.5 * k), (1 * k, 14.5 * k)], hexc("fcd34d"))
    else:
        c.rect(1 * k, 6 * k, 14 * k, 8.5 * k, hexc("fbbf24"), 1 * k)


def entry_icon(index, s):
    c = Canvas(s, s)
    k = s / 16
    if index == 0:
        folder(c, s)
    elif index == 1:
        page(c, s)
        text_lines(c, k, LINE)
    elif index == 2:
        page(c, s, hexc("3b82f6"), hexc("1d4ed8"))
        text_lines(c, k, WHITE)
    elif index == 3:
        page(c, s, hexc("22c55e"), hexc("15803d"))
        c.rect(4.5 * k, 6.5 * k, 7 * k, 7 * k, WHITE)
        for v in (6.8, 9.1):
            c.rect(v * k, 6.5 * k, 0.7 * k, 7 * k, hexc("22c55e"))
        for v in (8.8, 11.1):
            c.rect(4.5 * k, v * k, 7 * k, 0.7 * k, hexc("22c55e"))
    elif index == 4:
        page(c, s, hexc("f59e0b"), hexc("b45309"))
        c.rect(4.5 * k, 7 * k, 7 * k, 5 * k, WHITE, 0.5 * k)
        c.rect(5.5 * k, 8 * k, 3 * k, 0.9 * k, hexc("f59e0b"))
    elif index in (5, 6, 7, 8):
        band = {5: "2563eb", 6: "16a34a", 7: "ea580c", 8: "dc2626"}[index]
        page(c, s)
        text_lines(c, k, LINE, ys=(4, 6))
        c.rect(1 * k, 8 * k, 10 * k, 6.5 * k, hexc(band), 1 * k)
        if index == 5:  # W
            c.polygon([(2.5 * k, 9 * k), (3.7 * k, 9 * k), (4.5 * k, 12 * k), (5.4 * k, 9.6 * k), (6.6 * k, 9.6 * k),
                       (7.5 * k, 12 * k), (8.3 * k, 9 * k), (9.5 * k, 9 * k), (8.1 * k, 13.5 * k), (6.9 * k, 13.5 * k),
                       (6 * k, 11 * k), (5.1 * k, 13.5 * k), (3.9 * k, 13.5 * k)], WHITE)
        elif index == 6:  # X
            c.line(3 * k, 9 * k, 9 * k, 13.5 * k, 1.4 * k, WHITE)
            c.line(9 * k, 9 * k, 3 * k, 13.5 * k, 1.4 * k, WHITE)
        elif index == 7:  # P
            c.rect(3.5 * k, 9 * k, 1.4 * k, 4.5 * k, WHITE)
            c.ring(6 * k, 10.6 * k, 2.2 * k, 0.9 * k, -90, 90, WHITE)
            c.rect(4.5 * k, 8.4 * k, 1.5 * k, 1.3 * k, WHITE)
            c.rect(4.5 * k, 11.5 * k, 1.5 * k, 1.3 * k, WHITE)
        else:  # PDF: a bold ribbon
            c.ring(6 * k, 11.2 * k, 2.2 * k, 1 * k, 0, 360, WHITE)
    elif index == 9:
        page(c, s)
        c.rect(4 * k, 6 * k, 8 * k, 7.5 * k, hexc("bae6fd"))
        c.ellipse(9.5 * k, 8 * k, 1.2 * k, 1.2 * k, hexc("facc15"))
        c.polygon([(4 * k, 13.5 * k), (7 * k, 9 * k), (10 * k, 13.5 * k)], hexc("16a34a"))
        c.polygon([(7.5 * k, 13.5 * k), (10 * k, 10.5 * k), (12 * k, 13.5 * k)], hexc("15803d"))
    elif index == 10:
        page(c, s, hexc("ef4444"), hexc("b91c1c"))
        c.ellipse(6.5 * k, 8.5 * k, 2 * k, 2 * k, WHITE)
        c.polygon([(7.5 * k, 13.5 * k), (10 * k, 9 * k), (12 * k, 13.5 * k)], WHITE)
    return c


def person(c, cx, k, color):
    c.ellipse(cx, 5 * k, 2.6 * k, 2.6 * k, color)
    c.rect(cx - 4.2 * k, 8.6 * k, 8.4 * k, 6.4 * k, color, 2.5 * k)


def star(c, cx, cy, r, color):
    pts = []
    for i in range(10):
        rad = r if i % 2 == 0 else r * 0.45
        t = math.radians(-90 + i * 36)
        pts.append((cx + rad * math.cos(t), cy + rad * math.sin(t)))
    c.polygon(pts, color)


def trash(c, k, body="6b7280", lid="4b5563"):
    c.rect(2.5 * k, 3 * k, 11 * k, 1.8 * k, hexc(lid), 0.6 * k)
    c.rect(6 * k, 1.5 * k, 4 * k, 2 * k, hexc(lid), 0.6 * k)
    c.polygon([(3.5 * k, 5.3 * k), (12.5 * k, 5.3 * k), (11.6 * k, 15 * k), (4.4 * k, 15 * k)], hexc(body))
    for x in (6, 8, 10):
        c.rect((x - 0.4) * k, 7 * k, 0.8 * k, 6.5 * k, hexc("e5e7eb"))


def tree_icon(index):
    c = Canvas(16, 16)
    k = 1
    if index == 0:  # latest: a clock
        c.ellipse(8, 8, 7, 7, hexc("2563eb"))
        c.ellipse(8, 8, 5.6, 5.6, WHITE)
        c.rect(7.4, 3.5, 1.2, 5, hexc("1f2937"))
        c.line(8, 8, 11, 10, 1.2, hexc("1f2937"))
    elif index == 1:  # all items: stacked sheets
        for off, col in ((3, "d1d5db"), (1.5, "e5e7eb")):
            c.rect(2 + off, 1 + (3 - off) * 0.3, 9, 11, hexc("9ca3af"))
            c.rect(2.8 + off, 1.8 + (3 - off) * 0.3, 7.4, 9.4, hexc(col))
        c.rect(2, 4, 9, 11, hexc("6b7280"))
        c.rect(2.8, 4.8, 7.4, 9.4, WHITE)
        text_lines(c, 1, LINE, 4, 9, (7, 9, 11))
    elif index == 2:  # owned by me
        person(c, 8, 1, hexc("2563eb"))
    elif index == 3:  # shared with me
        person(c, 10.5, 0.95, hexc("93c5fd"))
        person(c, 6, 1, hexc("2563eb"))
    elif index == 4:
        star(c, 8, 8.5, 7.5, hexc("f59e0b"))
        star(c, 8, 8.5, 5.5, hexc("fcd34d"))
    elif index == 5:
        trash(c, 1)
    elif index in (6, 7, 8, 9):
        return entry_icon({6: 2, 7: 4, 8: 3, 9: 10}[index], 16)
    elif index == 10:
        folder(c, 16)
    elif index == 11:
        folder(c, 16, open_=True)
    elif index == 12:  # placeholder: hourglass
        c.rect(3, 1, 10, 1.5, hexc("6b7280"))
        c.rect(3, 13.5, 10, 1.5, hexc("6b7280"))
        c.polygon([(4, 2.5), (12, 2.5), (8.8, 8), (12, 13.5), (4, 13.5), (7.2, 8)], hexc("9ca3af"))
        c.polygon([(5.2, 3.4), (10.8, 3.4), (8, 7.2)], hexc("fde68a"))
        c.polygon([(8, 10), (11, 13), (5, 13)], hexc("f59e0b"))
    return c


def arrow(c, k, direction, color):
    """A thick arrow pointing left, up or down, in a 16-unit box."""
    if direction == "left":
        pts = [(1.5, 8), (7.5, 2), (7.5, 5.5), (14.5, 5.5), (14.5, 10.5), (7.5, 10.5), (7.5, 14)]
    elif direction == "down":
        pts = [(8, 12.5), (2.5, 7), (5.8, 7), (5.8, 1), (10.2, 1), (10.2, 7), (13.5, 7)]
    else:
        pts = [(8, 1), (13.5, 6.5), (10.2, 6.5), (10.2, 12.5), (5.8, 12.5), (5.8, 6.5), (2.5, 6.5)]
    c.polygon([(x * k, y * k) for x, y in pts], color)


def tool_icon(name, hot):
    c = Canvas(32, 32)
    k = 2
    if hot:
        c.rect(0.5, 0.5, 31, 31, hexc("dbeafe"), 5)
    bright = 1.0 if hot else 0.0
    def col(normal, highlight):
        return hexc(highlight if bright else normal)
    if name == "back":
        arrow(c, k, "left", col("16a34a", "22c55e"))
    elif name == "refresh":
        g = col("2563eb", "3b82f6")
        c.ring(16, 16, 12, 7.5, -60, 230, g)
        c.polygon([(24.5, 1.5), (27.5, 13.5), (16, 10)], g)
    elif name == "open":
        folder(c, 32, open_=True)
    elif name in ("download", "upload"):
        c.rect(3, 22, 26, 8, col("6b7280", "4b5563"), 2)
        c.rect(6, 24.5, 20, 3, col("d1d5db", "e5e7eb"))
        arrow(c, 1.6, "down" if name == "download" else "up",
              col("2563eb", "3b82f6") if name == "download" else col("16a34a", "22c55e"))
    elif name == "share":
        person(c, 13, 1.9, col("2563eb", "3b82f6"))
        g = col("16a34a", "22c55e")
        c.rect(22, 14, 3.5, 14, g)
        c.rect(16.75, 19.25, 14, 3.5, g)
    elif name == "search":
        c.ring(13, 13, 10, 6.5, 0, 360, col("374151", "1f2937"))
        c.ellipse(13, 13, 6.5, 6.5, hexc("bae6fd", 0.8))
        c.line(20, 20, 29, 29, 5, col("374151", "1f2937"))
    elif name == "trash":
        trash(c, k, "6b7280" if not hot else "ef4444", "4b5563" if not hot else "b91c1c")
    elif name == "views":
        g = col("4b5563", "2563eb")
        for x in (4, 18):
            for y in (4, 18):
                c.rect(x, y, 10, 10, g, 1.5)
    elif name == "help":
        c.ellipse(16, 16, 14, 14, col("2563eb", "3b82f6"))
        c.ring(16, 12, 5.5, 2.6, 180, 405, WHITE)
        c.rect(14.6, 15.3, 2.8, 5, WHITE)
        c.ellipse(16, 24.5, 2, 2, WHITE)
    return c


def app_icon(s):
    c = Canvas(s, s)
    k = s / 16
    c.rect(0.5 * k, 0.5 * k, 15 * k, 15 * k, hexc("1e3a8a"), 3 * k)
    c.rect(0.5 * k, 0.5 * k, 15 * k, 7 * k, hexc("2563eb"), 3 * k)
    c.rect(0.5 * k, 4 * k, 15 * k, 4 * k, hexc("2563eb"))
    # a desk lamp's flame over a page: T-shaped mark
    c.rect(3.5 * k, 3.5 * k, 9 * k, 2.4 * k, WHITE, 0.6 * k)
    c.rect(6.8 * k, 3.5 * k, 2.4 * k, 9 * k, WHITE, 0.6 * k)
    c.ellipse(12 * k, 12 * k, 1.6 * k, 1.6 * k, hexc("fbbf24"))
    return c


def banner():
    w, h = 400, 56
    c = Canvas(w, h)
    c.rect(0, 0, w, h, hexc("1e3a8a"))
    c.rect(0, 0, w, 28, hexc("2563eb", 0.55))
    for i in range(6):
        c.ellipse(330 + i * 14, 28, 5, 5, hexc("93c5fd", 0.25 + i * 0.1))
    icon = app_icon(32)
    # paste the app icon at (14, 12)
    for y in range(icon.H):
        for x in range(icon.W):
            p = icon.px[y * icon.W + x]
            if p[3] > 0:
                q = c.px[(y + 12 * SS) * c.W + x + 14 * SS]
                for i in range(4):
                    q[i] = p[i] + q[i] * (1 - p[3])
    # the word "Tallowdesk" is drawn by the dialogs in text; the banner stays plain
    return c


def main():
    os.makedirs(OUT, exist_ok=True)
    for i in range(11):
        entry_icon(i, 16).save("entry16_%d.png" % i)
        entry_icon(i, 32).save("entry32_%d.png" % i)
    for i in range(13):
        tree_icon(i).save("tree_%d.png" % i)
    for name in ("back", "refresh", "open", "download", "upload", "share", "search", "trash", "views", "help"):
        tool_icon(name, False).save("tb_%s.png" % name)
        tool_icon(name, True).save("tb_%s_hot.png" % name)
    app_icon(16).save("app16.png")
    app_icon(32).save("app32.png")
    app_icon(48).save("app.png")
    banner().save("banner.png")


if __name__ == "__main__":
    main()
