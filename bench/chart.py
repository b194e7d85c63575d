"""A small raster chart writer with nothing but the standard library.

Canvas holds RGB pixels, draws rectangles, lines and text in a 5x7 bitmap
font (upper case, digits, 'x' and a little punctuation; other lower case
letters are drawn as capitals) and writes an 8-bit RGB PNG (zlib for the image data,
CRC-32 per chunk). ratio_chart() draws the report's figure: one panel per
operation, bars of time relative to FFTW on a log2 axis.
"""

import math
import struct
import zlib

_FONT_ROWS = {
    "A": "01110 10001 10001 11111 10001 10001 10001",
    "B": "11110 10001 10001 11110 10001 10001 11110",
    "C": "01110 10001 10000 10000 10000 10001 01110",
    "D": "11100 10010 10001 10001 10001 10010 11100",
    "E": "11111 10000 10000 11110 10000 10000 11111",
    "F": "11111 10000 10000 11110 10000 10000 10000",
    "G": "01110 10001 10000 10111 10001 10001 01111",
    "H": "10001 10001 10001 11111 10001 10001 10001",
    "I": "01110 00100 00100 00100 00100 00100 01110",
    "J": "00111 00010 00010 00010 00010 10010 01100",
    "K": "10001 10010 10100 11000 10100 10010 10001",
    "L": "10000 10000 10000 10000 10000 10000 11111",
    "M": "10001 11011 10101 10101 10001 10001 10001",
    "N": "10001 10001 11001 10101 10011 10001 10001",
    "O": "01110 10001 10001 10001 10001 10001 01110",
    "P": "11110 10001 10001 11110 10000 10000 10000",
    "Q": "01110 10001 10001 10001 10101 10010 01101",
    "R": "11110 10001 10001 11110 10100 10010 10001",
    "S": "01111 10000 10000 01110 00001 00001 11110",
    "T": "11111 00100 00100 00100 00100 00100 00100",
    "U": "10001 10001 10001 10001 10001 10001 01110",
    "V": "10001 10001 10001 10001 10001 01010 00100",
    "W": "10001 10001 10001 10101 10101 10101 01010",
    "X": "10001 10001 01010 00100 01010 10001 10001",
    "Y": "10001 10001 01010 00100 00100 00100 00100",
    "Z": "11111 00001 00010 00100 01000 10000 11111",
    "0": "01110 10001 10011 10101 11001 10001 01110",
    "1": "00100 01100 00100 00100 00100 00100 01110",
    "2": "01110 10001 00001 00010 00100 01000 11111",
    "3": "11111 00010 00100 00010 00001 10001 01110",
    "4": "00010 00110 01010 10010 11111 00010 00010",
    "5": "11111 10000 11110 00001 00001 10001 01110",
    "6": "00110 01000 10000 11110 10001 10001 01110",
    "7": "11111 00001 00010 00100 01000 01000 01000",
    "8": "01110 10001 10001 01110 10001 10001 01110",
    "9": "01110 10001 10001 01111 00001 00010 01100",
    "x": "00000 00000 10001 01010 00100 01010 10001",
    ".": "00000 00000 00000 00000 00000 01100 01100",
    ",": "00000 00000 00000 00000 01100 00100 01000",
    ";": "00000 01100 01100 00000 01100 00100 01000",
    ":": "00000 01100 01100 00000 01100 01100 00000",
    "/": "00000 00001 00010 00100 01000 10000 00000",
    "(": "00010 00100 01000 01000 01000 00100 00010",
    ")": "01000 00100 00010 00010 00010 00100 01000",
    "-": "00000 00000 00000 11111 00000 00000 00000",
    "+": "00000 00100 00100 11111 00100 00100 00000",
    "=": "00000 00000 11111 00000 11111 00000 00000",
    "%": "11000 11001 00010 00100 01000 10011 00011",
    "_": "00000 00000 00000 00000 00000 00000 11111",
    " ": "00000 00000 00000 00000 00000 00000 00000",
}
_FONT = {c: [row for row in rows.split()] for c, rows in _FONT_ROWS.items()}
GLYPH_W, GLYPH_H, ADVANCE = 5, 7, 6


class Canvas:
    def __init__(self, width, height, background=(255, 255, 255)):
        self.width, self.height = width, height
        self.rows = [bytearray(bytes(background) * width) for _ in range(height)]

    def rect(self, x0, y0, x1, y1, color):
        """Fills [x0, x1) x [y0, y1), clipped to the canvas."""
        x0, x1 = max(0, int(round(x0))), min(self.width, int(round(x1)))
        y0, y1 = max(0, int(round(y0))), min(self.height, int(round(y1)))
        if x0 >= x1:
            return
        span = bytes(color) * (x1 - x0)
        for y in range(y0, y1):
            self.rows[y][3 * x0:3 * x1] = span

    def hline(self, x0, x1, y, color, thickness=1):
        self.rect(x0, y, x1, y + thickness, color)

    def vline(self, x, y0, y1, color, thickness=1):
        self.rect(x, y0, x + thickness, y1, color)

    @staticmethod
    def text_width(text, scale=1):
        return len(text) * ADVANCE * scale - scale if text else 0

    def text(self, x, y, text, color=(0, 0, 0), scale=1, anchor="left"):
        """Draws text with its top at y; anchor left, center or right at x."""
        w = self.text_width(text, scale)
        if anchor == "center":
            x -= w / 2
        elif anchor == "right":
            x -= w
        x, y = int(round(x)), int(round(y))
        for i, ch in enumerate(text):
            glyph = _FONT.get(ch) or _FONT.get(ch.upper()) or _FONT[" "]
            gx = x + i * ADVANCE * scale
            for r, bits in enumerate(glyph):
                for c, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(gx + c * scale, y + r * scale, gx + (c + 1) * scale, y + (r + 1) * scale, color)

    def png(self):
        raw = b"".join(b"\x00" + bytes(row) for row in self.rows)

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
                + chunk(b"IEND", b""))


def ratio_chart(panels, groups, series, title, subtitle):
    """panels: [(panel title, {series name: [ratio or None per group]})];
    groups: group labels; series: [(name, rgb)]. Returns PNG bytes."""
    columns, scale = 2, 2
    panel_w, panel_h = 780, 380
    left, top_margin, hgap, vgap = 90, 110, 90, 40
    width = left + columns * panel_w + (columns - 1) * hgap + 30
    rows = (len(panels) + columns - 1) // columns
    height = top_margin + rows * (panel_h + vgap)

    ratios = [r for _, data in panels for values in data.values() for r in values if r]
    lo = 2.0 ** math.floor(math.log2(min(ratios + [0.5]) / 1.05))
    hi = 2.0 ** math.ceil(math.log2(max(ratios + [2.0]) * 1.25))
    llo, lhi = math.log2(lo), math.log2(hi)

    c = Canvas(width, height)
    c.text(width / 2, 16, title, scale=3, anchor="center")
    c.text(width / 2, 50, subtitle, color=(70, 70, 70), scale=2, anchor="center")
    lx = width / 2 - 330
    for name, color in series:
        c.rect(lx, 80, lx + 28, 96, color)
        c.text(lx + 36, 82, name.upper(), scale=2)
        lx += 48 + Canvas.text_width(name, 2)
    c.hline(lx, lx + 28, 87, (0, 0, 0), 3)
    c.text(lx + 36, 82, "FFTW = 1", scale=2)

    for index, (panel_title, data) in enumerate(panels):
        px = left + (index % columns) * (panel_w + hgap)
        py = top_margin + (index // columns) * (panel_h + vgap)
        plot_top, plot_bottom = py + 34, py + panel_h - 44
        plot_left, plot_right = px, px + panel_w

        def y_of(r):
            return plot_bottom - (math.log2(r) - llo) / (lhi - llo) * (plot_bottom - plot_top)

        c.text(px + panel_w / 2, py + 6, panel_title.upper(), scale=scale, anchor="center")
        c.rect(plot_left, plot_top, plot_right, plot_bottom, (248, 248, 248))
        e = int(llo)
        while e <= lhi:
            r = 2.0 ** e
            y = y_of(r)
            c.hline(plot_left, plot_right, y, (215, 215, 215))
            label = ("%g" % r) if r >= 0.01 else ("%.0e" % r)
            c.text(plot_left - 8, y - 7, label, scale=scale, anchor="right")
            e += 1
        slot = panel_w / len(groups)
        bar = slot * 0.8 / len(series)
        one = y_of(1.0)
        for g, label in enumerate(groups):
            gx = plot_left + g * slot + slot * 0.1
            for s, (name, color) in enumerate(series):
                r = data.get(name, [None] * len(groups))[g]
                x0 = gx + s * bar
                if r:
                    y = y_of(r)
                    c.rect(x0 + 2, min(y, one), x0 + bar - 2, max(y, one) + 1, color)
                    value = "%.2f" % r if r < 10 else "%.0f" % r
                    c.text(x0 + bar / 2, y - 18 if r >= 1 else y + 6, value, color=(40, 40, 40), anchor="center",
                           scale=2 if Canvas.text_width(value, 2) <= bar else 1)
                else:
                    c.text(x0 + bar / 2, one - 20, "NA", color=(150, 0, 0), anchor="center")
            c.text(plot_left + (g + 0.5) * slot, plot_bottom + 10, label, scale=scale, anchor="center")
        c.hline(plot_left, plot_right, one - 1, (0, 0, 0), 3)
        c.vline(plot_left, plot_top, plot_bottom, (120, 120, 120))
        c.hline(plot_left, plot_right, plot_bottom, (120, 120, 120))
    return c.png()
