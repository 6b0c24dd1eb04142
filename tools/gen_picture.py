#!/usr/bin/env python3
"""Draws the product picture shown beside the version panel: a side view of the speed
controller with its heat sink, battery leads, motor wires and receiver lead, on a pure
green background that the dialog paints as transparent. Written as a 24-bit, bottom-up,
uncompressed BMP of 1772 x 263 pixels."""

import argparse
import math
import os
import struct
import sys

WIDTH_PX = 1772
HEIGHT_PX = 263
BACKGROUND = (0, 255, 0)  # the transparent colour; the product itself never uses it


def clamp(v):
    return max(0, min(255, int(round(v))))


def shade(colour, factor, lift=0.0):
    """Darkens or lightens a colour: factor scales it, lift mixes in white."""
    return tuple(clamp(c * factor + (255 - c * factor) * lift) for c in colour)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(clamp(a[i] + (b[i] - a[i]) * t) for i in range(3))


class Canvas:
    """Top-down RGB pixels. Every shape has hard edges: nothing is blended toward the
    background, so no greenish fringe appears once the green is made transparent."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = bytearray(bytes(BACKGROUND) * (width * height))

    def span(self, y, x0, x1, colour):
        if colour == BACKGROUND:
            raise ValueError("the product must not use the transparent colour")
        if not 0 <= y < self.height:
            return
        x0, x1 = max(0, x0), min(self.width, x1)
        if x1 > x0:
            start = (y * self.width + x0) * 3
            self.pixels[start:start + (x1 - x0) * 3] = bytes(colour) * (x1 - x0)

    def put(self, x, y, colour):
        self.span(y, x, x + 1, colour)

    def rounded_rect(self, x0, y0, x1, y1, radius, colour_of_row):
        """Fills [x0, x1) x [y0, y1) with rounded corners; colour_of_row(t) gets t from 0
        at the top to 1 at the bottom."""
        for y in range(y0, y1):
            cy = y + 0.5
            dy = max(y0 + radius - cy, cy - (y1 - radius), 0.0)
            inset = 0 if dy <= 0 else radius - math.sqrt(max(radius * radius - dy * dy, 0.0))
            a = math.ceil(x0 + inset - 0.5)
            b = math.ceil(x1 - inset - 0.5)
            self.span(y, a, b, colour_of_row((cy - y0) / (y1 - y0)))

    def polygon(self, points, colour_of_row):
        ys = [p[1] for p in points]
        top, bottom = math.floor(min(ys)), math.ceil(max(ys))
        n = len(points)
        for y in range(top, bottom):
            cy = y + 0.5
            xs = []
            for i in range(n):
                (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
                if (ay <= cy < by) or (by <= cy < ay):
                    xs.append(ax + (cy - ay) * (bx - ax) / (by - ay))
            xs.sort()
            for k in range(0, len(xs) - 1, 2):
                self.span(y, math.ceil(xs[k] - 0.5), math.ceil(xs[k + 1] - 0.5),
                          colour_of_row((cy - top) / max(bottom - top, 1)))

    def tube(self, x0, x1, centre_of_x, thickness, base, gloss=0.45):
        """A round cable or sleeve seen from the side, running from x0 to x1: its centre line
        follows centre_of_x(x); the shading across it makes it look round."""
        half = thickness / 2.0
        for x in range(x0, x1):
            c = centre_of_x(x + 0.5)
            for y in range(math.ceil(c - half - 0.5), math.ceil(c + half - 0.5)):
                t = (y + 0.5 - c) / half  # -1 at the upper edge, +1 at the lower
                body = 0.45 + 0.55 * math.sqrt(max(0.0, 1.0 - t * t))
                highlight = gloss * math.exp(-((t + 0.45) / 0.22) ** 2)
                self.put(x, y, shade(base, body, highlight))

    def bmp(self):
        row_bytes = (self.width * 3 + 3) // 4 * 4
        image = bytearray()
        for y in range(self.height - 1, -1, -1):
            row = self.pixels[y * self.width * 3:(y + 1) * self.width * 3]
            bgr = bytearray(len(row))
            bgr[0::3], bgr[1::3], bgr[2::3] = row[2::3], row[1::3], row[0::3]
            image += bgr + bytes(row_bytes - len(bgr))
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(image),
                           2835, 2835, 0, 0)
        offset = 14 + len(info)
        header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
        return header + info + bytes(image)


# Colours of the product.
CASING_TOP = (0x5A, 0x60, 0x6A)
CASING_MID = (0x2B, 0x2F, 0x36)
CASING_BOTTOM = (0x12, 0x14, 0x18)
ALU_LIGHT = (0xE4, 0xE8, 0xEE)
ALU_DARK = (0x8E, 0x96, 0xA2)
LABEL = (0x1E, 0x22, 0x2A)
ACCENT = (0xF2, 0x8C, 0x22)
BOLT_TOP = (0xFF, 0xDC, 0x50)
BOLT_BOTTOM = (0xF5, 0x84, 0x1A)
RED_LEAD = (0xC8, 0x22, 0x2A)
BLACK_LEAD = (0x30, 0x31, 0x36)
MOTOR_LEAD = (0x26, 0x28, 0x2E)
SLEEVE = (0x1F, 0x4E, 0xA8)
GOLD_LIGHT = (0xFF, 0xE7, 0x9A)
GOLD_DARK = (0xB0, 0x80, 0x20)
PLUG = (0x22, 0x22, 0x26)
SIGNAL_LEADS = ((0x6B, 0x3E, 0x1E), (0xC8, 0x22, 0x2A), (0xF0, 0x96, 0x1E))


def curve(x_from, y_from, x_to, y_to):
    """A smooth S-shaped centre line from (x_from, y_from) to (x_to, y_to)."""
    def centre(x):
        t = (x - x_from) / (x_to - x_from)
        t = max(0.0, min(1.0, t))
        return y_from + (y_to - y_from) * (3 * t * t - 2 * t * t * t)
    return centre


def draw_battery_side(canvas):
    # Battery leads run from the casing to a two-pole connector on the left.
    canvas.tube(205, 560, curve(205, 112, 560, 128), 26, RED_LEAD)
    canvas.tube(205, 560, curve(205, 168, 560, 180), 26, BLACK_LEAD, gloss=0.35)
    # Heat-shrink collars where the leads enter the casing.
    canvas.tube(480, 530, lambda x: 128, 34, CASING_MID, gloss=0.3)
    canvas.tube(480, 530, lambda x: 180, 34, CASING_MID, gloss=0.3)
    # The connector: a gold-coloured housing with a chamfered nose.
    body = [(92, 86), (215, 86), (215, 196), (92, 196), (70, 174), (70, 108)]
    canvas.polygon(body, lambda t: mix(GOLD_LIGHT, GOLD_DARK, 0.25 + 0.75 * t))
    canvas.rounded_rect(196, 92, 226, 190, 6, lambda t: mix(GOLD_DARK, (0x7A, 0x58, 0x18), t))
    for y0 in (100, 152):  # the two contact sockets seen through the nose
        canvas.rounded_rect(80, y0, 96, y0 + 30, 5, lambda t: (0x4A, 0x36, 0x10))


def draw_signal_lead(canvas):
    # The receiver lead: three thin wires side by side, ending in a three-pin plug.
    for i, colour in enumerate(SIGNAL_LEADS):
        offset = (i - 1) * 6
        canvas.tube(330, 600, curve(330, 236 + offset, 600, 214 + offset), 6, colour, gloss=0.3)
    canvas.rounded_rect(262, 222, 334, 252, 4, lambda t: mix((0x44, 0x44, 0x4A), PLUG, t))
    canvas.rounded_rect(250, 228, 264, 246, 2, lambda t: (0x9A, 0x9E, 0xA6))


def draw_motor_side(canvas):
    # Three motor leads fan out to the right and end in sleeved bullet connectors.
    ends = (98, 150, 202)
    starts = (118, 150, 182)
    for start, end in zip(starts, ends):
        canvas.tube(1200, 1560, curve(1230, start, 1540, end), 24, MOTOR_LEAD, gloss=0.35)
        canvas.tube(1556, 1622, lambda x, e=end: e, 32, SLEEVE, gloss=0.4)
        canvas.tube(1622, 1712, lambda x, e=end: e, 26, GOLD_DARK, gloss=0.7)
        # A rounded tip closes each bullet.
        for y in range(end - 13, end + 13):
            t = (y + 0.5 - end) / 13.0
            reach = 14 * math.sqrt(max(0.0, 1 - t * t))
            body = 0.45 + 0.55 * math.sqrt(max(0.0, 1.0 - t * t))
            colour = shade(GOLD_DARK, body, 0.7 * math.exp(-((t + 0.45) / 0.22) ** 2))
            canvas.span(y, 1712, 1712 + math.ceil(reach - 0.5), colour)
        # A slit along each bullet, as on sprung connectors.
        canvas.span(end - 1, 1640, 1700, (0x6A, 0x4A, 0x10))


def draw_heat_sink(canvas):
    left, right = 600, 1180
    fin_top, base_top, base_bottom = 22, 58, 76
    canvas.rounded_rect(left - 10, base_top, right + 10, base_bottom, 4,
                        lambda t: mix(ALU_LIGHT, ALU_DARK, t))
    pitch, fin_width = 24, 14
    for x in range(left, right - fin_width + 1, pitch):
        canvas.rounded_rect(x, fin_top, x + fin_width, base_top + 2, 3,
                            lambda t: mix(ALU_LIGHT, ALU_DARK, 0.15 + 0.6 * t))
        for y in range(fin_top + 3, base_top):  # a lit left face and a shaded right face
            canvas.put(x + 1, y, shade(ALU_LIGHT, 1.0, 0.5))
            canvas.put(x + fin_width - 2, y, shade(ALU_DARK, 0.75))


def draw_casing(canvas):
    left, right, top, bottom = 540, 1240, 70, 238

    def casing(t):
        if t < 0.35:
            return mix(CASING_TOP, CASING_MID, t / 0.35)
        return mix(CASING_MID, CASING_BOTTOM, (t - 0.35) / 0.65)
    canvas.rounded_rect(left, top, right, bottom, 30, casing)
    # A gloss line along the top edge of the shrink sleeve.
    canvas.rounded_rect(left + 26, top + 8, right - 26, top + 13, 2,
                        lambda t: (0x8C, 0x93, 0x9E))
    # The label panel with an accent stripe and the maker's bolt.
    canvas.rounded_rect(700, 104, 1080, 212, 12, lambda t: mix((0x2E, 0x33, 0x3D), LABEL, t))
    canvas.rounded_rect(700, 188, 1080, 196, 0, lambda t: ACCENT)
    bolt = [(882, 112), (848, 156), (872, 156), (858, 186), (906, 144), (882, 144), (902, 112)]
    canvas.polygon(bolt, lambda t: mix(BOLT_TOP, BOLT_BOTTOM, t))
    # Light rules either side of the bolt, a text-free stand-in for the print.
    for x0, x1 in ((730, 830), (930, 1050)):
        canvas.rounded_rect(x0, 140, x1, 146, 3, lambda t: (0xC4, 0xC9, 0xD2))
        canvas.rounded_rect(x0, 156, x1 - 30, 160, 2, lambda t: (0x7C, 0x84, 0x90))
    # A status LED window at the right end.
    canvas.rounded_rect(1150, 120, 1172, 142, 11,
                        lambda t: mix((0x9F, 0xE8, 0xFF), (0x2A, 0x8C, 0xD0), t))


def make_picture():
    canvas = Canvas(WIDTH_PX, HEIGHT_PX)
    draw_battery_side(canvas)
    draw_signal_lead(canvas)
    draw_motor_side(canvas)
    draw_heat_sink(canvas)
    draw_casing(canvas)
    return canvas.bmp()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True, help="the .bmp file to write")
    args = parser.parse_args()
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out + ".tmp", "wb") as f:
        f.write(make_picture())
    os.replace(args.out + ".tmp", args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
