#!/usr/bin/python3
"""Draws the benchmark's two stored pictures.

  background.png  1280 x 720, a dark blue close-up of a PC's insides (board
                  traces, chips, capacitors, slots, cooler fins, cables);
                  8-bit palette without transparency, so it decodes to RGB.
  logo.png        283 x 50, chip icon plus the product name on a transparent
                  background; 8-bit palette with per-entry alpha (tRNS), so
                  it decodes to RGBA.

With --icons it draws instead the chip icon alone, square, for the desktop
icon theme: tallyforge-benchmark-<N>.png at N = 48, 64, 128 and 256 (RGBA).
These are made at build time, not stored.

Everything is drawn from code with a fixed seed, so running it again gives
the same pictures.  Needs only Pillow and the Open Sans fonts.

usage: make_pictures.py [output-folder]     (default: this script's folder)
       make_pictures.py --icons output-folder
"""

import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont, features

SEED = 0x7A11F0
W, H = 1280, 720
SS = 3  # supersampling factor for everything drawn with ImageDraw
FONT_DIR = "/usr/share/fonts/truetype/open-sans"


def font(name, size):
    return ImageFont.truetype(os.path.join(FONT_DIR, "OpenSans-%s.ttf" % name), size)


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return tuple(int(round(lerp(a, b, t))) for a, b in zip(c1, c2))


def clamp(v, lo, hi):
    return lo if v < lo else hi if v > hi else v


# ---------------------------------------------------------------------------
# Small raster helpers (no numpy: everything goes through Pillow's C paths).

def noise(rng, w, h, blur=0.0):
    """Uniform grey noise 0..255, optionally softened into a mottled texture."""
    img = Image.frombytes("L", (w, h), rng.randbytes(w * h))
    if blur:
        img = img.filter(ImageFilter.GaussianBlur(blur))
        # Blurring pulls noise towards grey; stretch it back to full range.
        lo, hi = img.getextrema()
        img = img.point(lambda v: int((v - lo) * 255 / max(1, hi - lo)))
    return img


def add_signed(img, gray, amount):
    """img + (gray - 128) * amount / 128 on all channels."""
    a = int(amount)
    up = gray.point(lambda v: clamp((v - 128) * a // 128, 0, 255))
    down = gray.point(lambda v: clamp((128 - v) * a // 128, 0, 255))
    up = Image.merge("RGB", (up, up, up))
    down = Image.merge("RGB", (down, down, down))
    return ImageChops.subtract(ImageChops.add(img, up), down)


def blob(size, cx, cy, rx, ry, peak=255, power=2.0):
    """An L image with a soft elliptical light, `peak` at the centre; it is
    dark from about 0.7 of the radii outwards."""
    w, h = size
    g = Image.radial_gradient("L")  # 0 at centre .. 255 at the rim, 256 x 256
    lut = [int(peak * max(0.0, 1.0 - min(1.0, v / 181.0)) ** power) for v in range(256)]
    g = g.point(lut).resize((max(1, int(2 * rx)), max(1, int(2 * ry))), Image.BILINEAR)
    out = Image.new("L", size, 0)
    out.paste(g, (int(cx - rx), int(cy - ry)))
    return out


def tint(gray, color):
    """Colour an L image: black stays black, white becomes `color`."""
    return Image.merge("RGB", [gray.point(lambda v, c=c: v * c // 255) for c in color])


# ---------------------------------------------------------------------------
# Supersampled drawing surface in final-picture coordinates.

class Canvas:
    def __init__(self, w, h, s, color, mode="RGB"):
        self.s = s
        self.img = Image.new(mode, (w * s, h * s), color)
        self.d = ImageDraw.Draw(self.img)

    def p(self, pts):
        s = self.s
        return [(x * s, y * s) for x, y in pts]

    def line(self, pts, fill, width, joint="curve"):
        self.d.line(self.p(pts), fill=fill, width=max(1, int(round(width * self.s))), joint=joint)

    def rect(self, x0, y0, x1, y1, fill=None, outline=None, width=1.0, r=0.0):
        s = self.s
        box = (x0 * s, y0 * s, x1 * s - 1, y1 * s - 1)
        w = max(1, int(round(width * s)))
        if r > 0:
            self.d.rounded_rectangle(box, radius=r * s, fill=fill, outline=outline, width=w)
        else:
            self.d.rectangle(box, fill=fill, outline=outline, width=w)

    def circle(self, cx, cy, r, fill=None, outline=None, width=1.0):
        s = self.s
        self.d.ellipse(((cx - r) * s, (cy - r) * s, (cx + r) * s, (cy + r) * s),
                       fill=fill, outline=outline, width=max(1, int(round(width * s))))

    def poly(self, pts, fill=None, outline=None):
        self.d.polygon(self.p(pts), fill=fill, outline=outline)

    def text(self, x, y, txt, fnt, fill, anchor="la"):
        self.d.text((x * self.s, y * self.s), txt, font=fnt, fill=fill, anchor=anchor)


# ---------------------------------------------------------------------------
# Board routing: copper traces that run straight and bend by 45 degrees.

DIRS = [(1, 0), (1, 1), (0, 1), (-1, 1), (-1, 0), (-1, -1), (0, -1), (1, -1)]


def unit(d):
    x, y = DIRS[d % 8]
    n = math.hypot(x, y)
    return x / n, y / n


def offset_polyline(pts, off):
    """Parallel copy of a polyline with mitred corners (keeps a bus's pitch)."""
    out = []
    n = len(pts)
    for i in range(n):
        def normal(a, b):
            dx, dy = b[0] - a[0], b[1] - a[1]
            l = math.hypot(dx, dy) or 1.0
            return -dy / l, dx / l
        if i == 0:
            nx, ny = normal(pts[0], pts[1])
        elif i == n - 1:
            nx, ny = normal(pts[-2], pts[-1])
        else:
            ax, ay = normal(pts[i - 1], pts[i])
            bx, by = normal(pts[i], pts[i + 1])
            mx, my = ax + bx, ay + by
            ml = math.hypot(mx, my) or 1.0
            mx, my = mx / ml, my / ml
            k = 1.0 / max(0.3, mx * ax + my * ay)
            nx, ny = mx * k, my * k
        out.append((pts[i][0] + nx * off, pts[i][1] + ny * off))
    return out


class Occupancy:
    """Coarse grid of claimed board area so that traces never cross."""

    def __init__(self, cell=5):
        self.cell = cell
        self.cols = W // cell + 2
        self.rows = H // cell + 2
        self.grid = bytearray(self.cols * self.rows)

    def _cells(self, x, y, r):
        c = self.cell
        for gy in range(int((y - r) // c), int((y + r) // c) + 1):
            for gx in range(int((x - r) // c), int((x + r) // c) + 1):
                if 0 <= gx < self.cols and 0 <= gy < self.rows:
                    yield gy * self.cols + gx

    def free(self, x, y, r):
        if x < -40 or y < -40 or x > W + 40 or y > H + 40:
            return True
        return all(self.grid[i] == 0 for i in self._cells(x, y, r))

    def claim(self, x, y, r):
        for i in self._cells(x, y, r):
            self.grid[i] = 1

    def claim_rect(self, x0, y0, x1, y1):
        c = self.cell
        for gy in range(max(0, int(y0 // c)), min(self.rows, int(y1 // c) + 1)):
            for gx in range(max(0, int(x0 // c)), min(self.cols, int(x1 // c) + 1)):
                self.grid[gy * self.cols + gx] = 1


def sample(pts, step):
    """Points every `step` pixels along a polyline."""
    out = []
    for a, b in zip(pts, pts[1:]):
        l = math.hypot(b[0] - a[0], b[1] - a[1])
        k = max(1, int(l / step))
        for i in range(k):
            t = i / k
            out.append((lerp(a[0], b[0], t), lerp(a[1], b[1], t), len(out)))
    out.append((pts[-1][0], pts[-1][1], len(out)))
    return out


def plan_route(rng, start, d, segments):
    """A centre line: long straight runs joined by 45-degree jogs and turns."""
    pts = [start]
    x, y = start
    for _ in range(segments):
        ux, uy = unit(d)
        l = rng.uniform(40, 190) if d % 2 == 0 else rng.uniform(14, 60)
        x, y = x + ux * l, y + uy * l
        pts.append((x, y))
        if d % 2 == 0:
            d = (d + rng.choice((1, -1))) % 8
        else:
            # leave the diagonal either back to the old heading (a jog) or on a
            # new heading 90 degrees from it (a turn)
            d = (d + rng.choice((1, -1, 1, -1, 1))) % 8
            if d % 2 == 1:
                d = (d + 1) % 8
    return pts


def cut_route(lines, occ, margin, skip=3):
    """Shorten a bus where any of its traces would run into claimed area.

    The first `skip` samples (2 px each) are not checked: tracks leaving a
    pin row start inside the part's own keep-out."""
    samples = [sample(l, 2.0) for l in lines]
    # distance along the centre, in samples of the first line; the lines have
    # nearly the same length so cut them all at the same fraction
    n = min(len(s) for s in samples)
    stop = n
    for i in range(skip, n):
        if any(not occ.free(s[i][0], s[i][1], margin) for s in samples):
            stop = i
            break
    if stop < skip + 6:
        return None
    out = []
    for s in samples:
        frac = stop / len(s)
        k = int(frac * (len(s) - 1))
        out.append([(p[0], p[1]) for p in s[:k + 1]])
    return out


def simplify(pts):
    """Drop collinear sample points again (keeps ImageDraw joints clean)."""
    if len(pts) < 3:
        return pts
    out = [pts[0]]
    for i in range(1, len(pts) - 1):
        ax, ay = out[-1]
        bx, by = pts[i]
        cx, cy = pts[i + 1]
        cross = (bx - ax) * (cy - by) - (by - ay) * (cx - bx)
        if abs(cross) > 0.5:
            out.append(pts[i])
    out.append(pts[-1])
    return out


# ---------------------------------------------------------------------------
# The background.

BOARD = (10, 22, 42)
POUR = (15, 34, 64)
TRACE = (26, 60, 106)
TRACE_HI = (54, 102, 160)
TRACE_LO = (6, 12, 24)
COPPER = (70, 104, 146)
SILK = (96, 118, 150)
HOLE = (2, 4, 8)


class Board:
    def __init__(self, rng):
        self.rng = rng
        self.c = Canvas(W, H, SS, BOARD)
        self.occ = Occupancy()
        self.buses = []       # list of lists of polylines
        self.vias = []        # (x, y, r)
        self.shadows = Canvas(W, H, SS, 0, "L")
        self.glow = Canvas(W, H, SS, 0, "L")   # light emitted by 'live' traces
        self.parts = []       # drawing callbacks, run after the copper
        self.leds = []        # (x, y, color)
        self.small = font("Regular", 8 * SS)
        self.tiny = font("Semibold", 7 * SS)

    # -- copper --------------------------------------------------------------
    def pour(self, pts):
        self.c.poly(pts, fill=POUR)

    def bus(self, start, d, count, pitch, width, segments, via_end=True):
        rng = self.rng
        centre = plan_route(rng, start, d, segments)
        offs = [(i - (count - 1) / 2) * pitch for i in range(count)]
        lines = [offset_polyline(centre, o) for o in offs]
        lines = cut_route(lines, self.occ, width / 2 + 2.5)
        if not lines:
            return False
        lines = [simplify(l) for l in lines]
        for l in lines:
            for x, y, _ in sample(l, 2.0):
                self.occ.claim(x, y, width / 2 + 2)
        self.buses.append((lines, width))
        if via_end:
            # stagger the vias: they are wider than the trace pitch
            for i, l in enumerate(lines):
                (ax, ay), (bx, by) = l[-2], l[-1]
                dl = math.hypot(bx - ax, by - ay) or 1
                ux, uy = (bx - ax) / dl, (by - ay) / dl
                back = 0 if i % 2 == 0 else 9
                vx, vy = bx - ux * back, by - uy * back
                if i % 2 == 1:
                    l[-1] = (vx, vy)
                    l[:] = simplify(l)
                r = max(2.6, width * 1.05)
                self.vias.append((vx, vy, r))
                self.occ.claim(vx, vy, r + 2)
        return True

    def random_buses(self, n, area=(0, 0, W, H)):
        rng = self.rng
        made = 0
        tries = 0
        while made < n and tries < n * 30:
            tries += 1
            x = rng.uniform(area[0], area[2])
            y = rng.uniform(area[1], area[3])
            d = rng.choice((0, 2, 4, 6))
            count = rng.choice((1, 1, 2, 3, 4, 4, 6, 8))
            width = rng.choice((1.6, 2.0, 2.0, 2.6, 3.4)) if count > 1 else rng.choice((2.0, 3.0, 4.5, 6.0))
            pitch = width + rng.choice((3.0, 3.5, 4.5))
            if self.bus((x, y), d, count, pitch, width, rng.randint(2, 6)):
                made += 1

    def draw_copper(self):
        c = self.c
        # clearance ring first (shows where copper pours surround a trace)
        for lines, w in self.buses:
            for l in lines:
                c.line(l, BOARD, w + 3.2)
        for x, y, r in self.vias:
            c.circle(x, y, r + 1.6, fill=BOARD)
        # soft relief: a dark lower edge, the trace, a lit upper edge
        for lines, w in self.buses:
            for l in lines:
                c.line([(x + 0.5, y + 0.7) for x, y in l], TRACE_LO, w + 0.6)
        for lines, w in self.buses:
            for l in lines:
                c.line(l, TRACE, w)
        for lines, w in self.buses:
            for l in lines:
                if w >= 2.0:
                    c.line([(x - 0.25, y - 0.35) for x, y in l], TRACE_HI, max(0.5, w * 0.3))
        # a few traces carry a travelling pulse of light
        for lines, w in self.buses:
            if self.rng.random() > 0.22:
                continue
            head = self.rng.uniform(0.45, 1.0)
            tail = self.rng.uniform(0.35, 0.7)
            for l in [lines[self.rng.randrange(len(lines))]]:
                pts = sample(l, 3.0)
                n = len(pts) - 1
                for k in range(n):
                    u = k / max(1, n)
                    v = clamp(1.0 - (head - u) / tail, 0.0, 1.0) if u <= head else 0.0
                    if v <= 0.02:
                        continue
                    seg = [pts[k][:2], pts[k + 1][:2]]
                    c.line(seg, mix(TRACE, (120, 205, 255), v), w)
                    self.glow.line(seg, int(255 * v), w + 1.0)
        for x, y, r in self.vias:
            c.circle(x, y, r, fill=COPPER)
            c.circle(x - r * 0.15, y - r * 0.15, r * 0.7, fill=mix(COPPER, (170, 200, 235), 0.35))
            c.circle(x, y, r * 0.45, fill=HOLE)

    # -- silkscreen ------------------------------------------------------------
    def label(self, x, y, txt, anchor="la", fnt=None):
        self.c.text(x, y, txt, fnt or self.small, SILK, anchor)

    def outline(self, x0, y0, x1, y1):
        self.c.rect(x0, y0, x1, y1, outline=mix(SILK, BOARD, 0.35), width=0.9)

    # -- components ------------------------------------------------------------
    def shadow_rect(self, x0, y0, x1, y1, r=0.0, lift=4.0, strength=255):
        self.shadows.rect(x0 + lift * 0.6, y0 + lift, x1 + lift * 0.6, y1 + lift, fill=strength, r=r)

    def shadow_circle(self, cx, cy, r, lift=5.0, strength=255):
        self.shadows.circle(cx + lift * 0.6, cy + lift, r, fill=strength)

    def chip(self, x0, y0, x1, y1, pitch, label_lines):
        """A QFP-style package with gull-wing pins on four sides."""
        occ = self.occ
        pin_len = 7
        occ.claim_rect(x0 - pin_len - 6, y0 - pin_len - 6, x1 + pin_len + 6, y1 + pin_len + 6)
        self.shadow_rect(x0 - 2, y0 - 2, x1 + 2, y1 + 2, r=3, lift=6)
        sides = []
        for side in range(4):
            if side in (0, 2):
                span0, span1 = x0, x1
            else:
                span0, span1 = y0, y1
            n = int((span1 - span0 - 14) / pitch) + 1
            first = (span0 + span1) / 2 - (n - 1) * pitch / 2
            sides.append([first + i * pitch for i in range(n)])
        pw = pitch * 0.48

        def draw():
            c = self.c
            pad = (88, 112, 142)
            pin = (150, 170, 196)
            pin_dk = (78, 92, 114)
            for side, pos in enumerate(sides):
                for p in pos:
                    if side == 0:      # top
                        box, tip = (p - pw / 2, y0 - pin_len, p + pw / 2, y0 + 1), (p - pw / 2, y0 - pin_len, p + pw / 2, y0 - pin_len + 2.5)
                    elif side == 2:    # bottom
                        box, tip = (p - pw / 2, y1 - 1, p + pw / 2, y1 + pin_len), (p - pw / 2, y1 + pin_len - 2.5, p + pw / 2, y1 + pin_len)
                    elif side == 1:    # right
                        box, tip = (x1 - 1, p - pw / 2, x1 + pin_len, p + pw / 2), (x1 + pin_len - 2.5, p - pw / 2, x1 + pin_len, p + pw / 2)
                    else:              # left
                        box, tip = (x0 - pin_len, p - pw / 2, x0 + 1, p + pw / 2), (x0 - pin_len, p - pw / 2, x0 - pin_len + 2.5, p + pw / 2)
                    g = 1.2
                    c.rect(box[0] - g * (side % 2 == 0) * 0.3, box[1] - g * (side % 2) * 0.3,
                           box[2] + g * (side % 2 == 0) * 0.3, box[3] + g * (side % 2) * 0.3, fill=pad)
                    c.rect(*box, fill=pin_dk)
                    c.rect(box[0] + 0.3, box[1] + 0.3, box[2] - 0.3, box[3] - 0.3, fill=pin)
                    c.rect(*tip, fill=mix(pin, (220, 232, 245), 0.4))
            # body: nearly black epoxy with a soft top-left bevel
            c.rect(x0, y0, x1, y1, fill=(16, 19, 26), r=2.5)
            c.rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill=(30, 35, 46), r=2)
            c.rect(x0 + 2, y0 + 2, x1 - 1, y1 - 1, fill=(20, 23, 31), r=2)
            c.circle(x0 + 9, y0 + 9, 3.2, fill=(12, 14, 19))
            c.circle(x0 + 8.7, y0 + 8.6, 2.6, fill=(24, 28, 37))
            cx = (x0 + x1) / 2
            cy = (y0 + y1) / 2 - (len(label_lines) - 1) * 6
            for i, t in enumerate(label_lines):
                c.text(cx, cy + i * 12, t, self.tiny, (74, 84, 102), "mm")
        self.parts.append(draw)
        self.fan_out(x0, y0, x1, y1, sides, pin_len, pw)

    def fan_out(self, x0, y0, x1, y1, sides, pin_len, pw):
        rng = self.rng
        base = {0: 6, 1: 0, 2: 2, 3: 4}  # outward heading per side
        for side, pos in enumerate(sides):
            i = rng.randint(0, 3)
            while i < len(pos) - 3:
                n = rng.randint(3, 7)
                group = pos[i:i + n]
                if len(group) < 2:
                    break
                mid = (group[0] + group[-1]) / 2
                pitch = group[1] - group[0]
                gap = pin_len + 1
                if side == 0:
                    start = (mid, y0 - gap)
                elif side == 2:
                    start = (mid, y1 + gap)
                elif side == 1:
                    start = (x1 + gap, mid)
                else:
                    start = (x0 - gap, mid)
                d = base[side]
                w = min(2.0, pw * 0.9)
                self.fan_bus(start, d, len(group), pitch, w)
                i += n + rng.randint(1, 4)

    def fan_bus(self, start, d, count, pitch, width):
        rng = self.rng
        first = rng.uniform(10, 26)
        ux, uy = unit(d)
        p1 = (start[0] + ux * first, start[1] + uy * first)
        pts = [start, p1]
        rest = plan_route(rng, p1, (d + rng.choice((1, -1))) % 8, rng.randint(2, 5))
        pts += rest[1:]
        offs = [(i - (count - 1) / 2) * pitch for i in range(count)]
        lines = [offset_polyline(pts, o) for o in offs]
        lines_checked = cut_route(lines, self.occ, width / 2 + 2, skip=int(first / 2) + 4)
        if not lines_checked:
            return
        lines = [simplify(l) for l in lines_checked]
        for l in lines:
            for x, y, _ in sample(l, 2.0):
                self.occ.claim(x, y, width / 2 + 2)
        self.buses.append((lines, width))
        for i, l in enumerate(lines):
            if len(l) < 2:
                continue
            (ax, ay), (bx, by) = l[-2], l[-1]
            dl = math.hypot(bx - ax, by - ay) or 1
            ux, uy = (bx - ax) / dl, (by - ay) / dl
            back = 0 if i % 2 == 0 else 8
            vx, vy = bx - ux * back, by - uy * back
            if back:
                l[-1] = (vx, vy)
            self.vias.append((vx, vy, 2.6))
            self.occ.claim(vx, vy, 4.5)

    def electrolytic(self, cx, cy, r):
        self.occ.claim(cx, cy, r + 3)
        self.shadow_circle(cx, cy, r + 1, lift=r * 0.45)

        def draw():
            c = self.c
            c.circle(cx, cy, r + 1.2, fill=(14, 20, 32))
            # plastic sleeve seen at the rim
            c.circle(cx, cy, r, fill=(24, 46, 86))
            c.circle(cx - 0.5, cy - 0.5, r - 1.0, fill=(36, 66, 118))
            # polarity stripe on the sleeve
            c.d.pieslice(((cx - r) * SS, (cy - r) * SS, (cx + r) * SS, (cy + r) * SS), 200, 250, fill=(120, 140, 170))
            # aluminium top: concentric shading towards a highlight up and left
            top = r * 0.80
            steps = 14
            for i in range(steps):
                t = i / (steps - 1)
                rr = top * (1 - 0.75 * t)
                col = mix((70, 82, 100), (190, 205, 222), t ** 0.8)
                c.circle(cx - top * 0.22 * t, cy - top * 0.25 * t, rr, fill=col)
            # vent score cross
            k = top * 0.62
            c.line([(cx - k, cy), (cx + k, cy)], (56, 66, 82), max(0.8, r * 0.07))
            c.line([(cx, cy - k), (cx, cy + k)], (56, 66, 82), max(0.8, r * 0.07))
        self.parts.append(draw)

    def choke(self, x, y, s, text="R22"):
        self.occ.claim_rect(x - 3, y - 3, x + s + 3, y + s + 3)
        self.shadow_rect(x, y, x + s, y + s, r=3, lift=s * 0.3)

        def draw():
            c = self.c
            c.rect(x, y, x + s, y + s, fill=(22, 26, 34), r=3)
            c.rect(x + 1, y + 1, x + s - 1, y + s - 1, fill=(96, 106, 126), r=2.5)
            c.rect(x + 2, y + 2.5, x + s - 1, y + s - 1, fill=(58, 65, 80), r=2)
            c.rect(x + 3, y + 3, x + s - 3, y + s * 0.45, fill=(70, 78, 95), r=2)
            c.text(x + s / 2, y + s / 2 + 1, text, self.tiny, (160, 170, 188), "mm")
        self.parts.append(draw)

    def mosfet(self, x, y, w, h):
        self.occ.claim_rect(x - 3, y - 5, x + w + 3, y + h + 3)
        self.shadow_rect(x, y, x + w, y + h, lift=2)

        def draw():
            c = self.c
            c.rect(x + w * 0.15, y - 4, x + w * 0.85, y + 1, fill=(120, 140, 165))   # tab
            for i in range(3):
                px = x + w * (0.22 + 0.28 * i)
                c.rect(px - 1.2, y + h - 1, px + 1.2, y + h + 3, fill=(140, 158, 182))
            c.rect(x, y, x + w, y + h, fill=(18, 21, 28), r=1)
            c.rect(x + 1, y + 1, x + w - 1, y + 2, fill=(36, 41, 52))
        self.parts.append(draw)

    def smd(self, x, y, vertical, kind):
        """0603-ish resistor ('r') or ceramic capacitor ('c')."""
        L, Wd = (7.0, 3.6)
        w, h = (Wd, L) if vertical else (L, Wd)
        if not self.occ.free(x + w / 2, y + h / 2, max(w, h) / 2 + 1):
            return False
        self.occ.claim_rect(x - 1, y - 1, x + w + 1, y + h + 1)
        self.shadow_rect(x, y, x + w, y + h, lift=1.2, strength=200)

        def draw():
            c = self.c
            body = (20, 22, 28) if kind == "r" else (74, 70, 70)
            cap = (150, 165, 188)
            c.rect(x - 0.6, y - 0.6, x + w + 0.6, y + h + 0.6, fill=(80, 102, 132))  # solder
            c.rect(x, y, x + w, y + h, fill=body)
            e = 1.7
            if vertical:
                c.rect(x, y, x + w, y + e, fill=cap)
                c.rect(x, y + h - e, x + w, y + h, fill=cap)
            else:
                c.rect(x, y, x + e, y + h, fill=cap)
                c.rect(x + w - e, y, x + w, y + h, fill=cap)
        self.parts.append(draw)
        return True

    def smd_cluster(self, x0, y0, x1, y1, n):
        rng = self.rng
        placed = 0
        for _ in range(n * 6):
            if placed >= n:
                break
            x = round(rng.uniform(x0, x1) / 4) * 4
            y = round(rng.uniform(y0, y1) / 4) * 4
            v = rng.random() < 0.5
            if self.smd(x, y, v, rng.choice("rrc")):
                placed += 1
                if rng.random() < 0.35:
                    self.label(x + (6 if v else 0), y - 7 if not v else y, rng.choice("RC") + str(rng.randint(10, 399)))

    def slot(self, x0, y0, x1, y1, vertical, pins, key_at):
        """A card or memory slot: black housing, contact rows, end latches."""
        self.occ.claim_rect(x0 - 4, y0 - 4, x1 + 4, y1 + 4)
        self.shadow_rect(x0, y0, x1, y1, r=2, lift=8)

        def draw():
            c = self.c
            c.rect(x0, y0, x1, y1, fill=(12, 14, 19), r=2)
            c.rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill=(26, 30, 40), r=2)
            c.rect(x0 + 2, y0 + 2, x1 - 1.5, y1 - 1.5, fill=(17, 20, 27), r=2)
            if vertical:
                cx = (x0 + x1) / 2
                c.rect(cx - 2.2, y0 + 10, cx + 2.2, y1 - 10, fill=(5, 6, 9))
                step = (y1 - y0 - 24) / pins
                for i in range(pins):
                    yy = y0 + 12 + i * step
                    if abs(yy - key_at) < 5:
                        continue
                    c.rect(cx - 2.2, yy, cx - 1.0, yy + step * 0.5, fill=(120, 128, 120))
                    c.rect(cx + 1.0, yy, cx + 2.2, yy + step * 0.5, fill=(100, 108, 104))
                c.rect(cx - 3.5, key_at - 3, cx + 3.5, key_at + 3, fill=(17, 20, 27))
                for ly in (y0 - 16, y1):
                    c.rect(x0 - 1, ly, x1 + 1, ly + 16, fill=(30, 36, 50), r=2)
                    c.rect(x0 + 1, ly + 2, x1 - 1, ly + 5, fill=(60, 70, 92), r=1)
            else:
                cy = (y0 + y1) / 2
                c.rect(x0 + 10, cy - 2.2, x1 - 10, cy + 2.2, fill=(5, 6, 9))
                step = (x1 - x0 - 24) / pins
                for i in range(pins):
                    xx = x0 + 12 + i * step
                    if abs(xx - key_at) < 5:
                        continue
                    c.rect(xx, cy - 2.2, xx + step * 0.5, cy - 1.0, fill=(120, 128, 120))
                    c.rect(xx, cy + 1.0, xx + step * 0.5, cy + 2.2, fill=(100, 108, 104))
                c.rect(key_at - 3, cy - 3.5, key_at + 3, cy + 3.5, fill=(17, 20, 27))
                c.rect(x1, y0 - 1, x1 + 18, y1 + 1, fill=(30, 36, 50), r=2)
                c.rect(x1 + 2, y0 + 1, x1 + 6, y1 - 1, fill=(60, 70, 92), r=1)
        self.parts.append(draw)

    def memory_module(self, x0, y0, x1, y1):
        """A DIMM standing in its slot, seen from above: the top edge of its
        heat spreader, brushed metal catching the light."""
        self.shadow_rect(x0, y0, x1, y1, r=2, lift=26, strength=230)

        def draw():
            c = self.c
            w = x1 - x0
            c.rect(x0, y0, x1, y1, fill=(10, 14, 22), r=2)
            steps = 9
            for k in range(steps):
                t = k / (steps - 1)
                inset = w * 0.08 + t * w * 0.34
                col = mix((34, 46, 66), (168, 190, 222), t ** 2.2)
                c.rect(x0 + inset * 0.7, y0 + 2, x1 - inset * 1.3, y1 - 2, fill=col, r=1.5)
            # stamped ridges along the spreader
            for yy in range(int(y0) + 40, int(y1) - 30, 120):
                c.rect(x0 + 2, yy, x1 - 2, yy + 3, fill=(30, 40, 58))
        self.parts.append(draw)

    def led(self, x, y, color):
        self.occ.claim_rect(x - 2, y - 2, x + 7, y + 5)
        self.leds.append((x + 2.5, y + 1.5, color))

        def draw():
            c = self.c
            c.rect(x - 0.6, y - 0.6, x + 5.6, y + 3.6, fill=(80, 102, 132))
            c.rect(x, y, x + 5, y + 3, fill=mix(color, (255, 255, 255), 0.55))
        self.parts.append(draw)

    def heatsink(self, cx, cy, w, h, angle):
        """A tower cooler's fin stack seen from above, turned by `angle`
        degrees, with the ends of its heat pipes showing through."""
        rad = math.radians(angle)
        ca, sa = math.cos(rad), math.sin(rad)
        corners = [(cx + dx * ca + dy * sa, cy - dx * sa + dy * ca)
                   for dx, dy in ((-w / 2, -h / 2), (w / 2, -h / 2), (w / 2, h / 2), (-w / 2, h / 2))]
        xs = [p[0] for p in corners]
        ys = [p[1] for p in corners]
        self.occ.claim_rect(min(xs), min(ys), max(xs), max(ys))
        self.shadows.poly([(x + 14, y + 22) for x, y in corners], fill=255)

        def draw():
            layer = Canvas(int(w), int(h), SS, (4, 7, 12, 255), "RGBA")
            pitch = 8.0
            fins = int(w / pitch)
            for i in range(fins):
                fx = i * pitch + 0.6
                u = i / fins
                # a soft specular band sweeps across the stack
                shine = math.exp(-((u - 0.62) / 0.16) ** 2) + 0.35 * math.exp(-((u - 0.18) / 0.1) ** 2)
                body = mix((70, 90, 122), (160, 186, 220), min(1.0, shine))
                edge = mix((120, 142, 176), (235, 244, 255), min(1.0, shine))
                layer.rect(fx, 0, fx + pitch * 0.72, h, fill=body + (255,))
                layer.rect(fx, 0, fx + pitch * 0.2, h, fill=edge + (255,))
                layer.rect(fx + pitch * 0.6, 0, fx + pitch * 0.72, h, fill=mix(body, (0, 0, 0), 0.45) + (255,))
            for k in range(4):
                px = w * (0.22 + 0.19 * k)
                for py in (h * 0.3, h * 0.7):
                    layer.circle(px, py, 14, fill=(6, 9, 15, 255))
                    for j in range(8):
                        t = j / 7
                        layer.circle(px - 3.2 * t, py - 3.2 * t, 11.5 * (1 - 0.72 * t),
                                     fill=mix((54, 74, 104), (225, 236, 250), t ** 1.3) + (255,))
            # light falls off along the fins, away from the key light
            fall = Image.linear_gradient("L").resize(layer.img.size).point(lambda v: 255 - v * 150 // 255)
            r, g, b_, a_ = layer.img.split()
            rgb = ImageChops.multiply(Image.merge("RGB", (r, g, b_)), Image.merge("RGB", (fall, fall, fall)))
            img = Image.merge("RGBA", rgb.split() + (a_,))
            img = img.rotate(angle, resample=Image.BICUBIC, expand=True)
            ox = (cx * SS - img.size[0] / 2)
            oy = (cy * SS - img.size[1] / 2)
            self.c.img.paste(img, (int(ox), int(oy)), img)
        self.parts.append(draw)


def tube(c, pts, width, dark, body, shine, light=(-0.5, -1.0), shade_steps=7, rim=None):
    """A round cable or pipe: stacked strokes that narrow toward the lit side,
    and optionally a faint rim of back light along the shadowed edge."""
    lx, ly = light
    ll = math.hypot(lx, ly) or 1
    lx, ly = lx / ll, ly / ll
    c.line(pts, dark, width + 1.4)
    normals = []
    for i in range(len(pts)):
        a = pts[max(0, i - 1)]
        b = pts[min(len(pts) - 1, i + 1)]
        dx, dy = b[0] - a[0], b[1] - a[1]
        dl = math.hypot(dx, dy) or 1
        nx, ny = -dy / dl, dx / dl
        if nx * lx + ny * ly < 0:
            nx, ny = -nx, -ny
        normals.append((nx, ny))
    if rim:
        off = width * 0.36
        c.line([(p[0] - n[0] * off, p[1] - n[1] * off) for p, n in zip(pts, normals)], rim, width * 0.12)
        c.line([(p[0] - n[0] * off * 0.6, p[1] - n[1] * off * 0.6) for p, n in zip(pts, normals)], dark, width * 0.35)
    for k in range(shade_steps):
        t = k / (shade_steps - 1)
        w = width * (0.78 - 0.68 * t)
        shift = (width - w) * 0.30
        col = mix(dark, body, min(1, t * 1.8)) if t < 0.55 else mix(body, shine, ((t - 0.55) / 0.45) ** 1.5)
        c.line([(p[0] + n[0] * shift, p[1] + n[1] * shift) for p, n in zip(pts, normals)], col, w)


def bezier(p0, p1, p2, p3, n=90):
    out = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        out.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0],
                    u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return out


def cable_bundle(rng, ctrl, count, width, colors):
    """An RGBA layer with a bundle of sleeved cables along one Bezier curve."""
    layer = Canvas(W, H, SS, (0, 0, 0, 0), "RGBA")
    centre = bezier(*ctrl)
    shadow = Canvas(W, H, SS, 0, "L")
    offs = [(i - (count - 1) / 2) * (width * 0.98) for i in range(count)]
    paths = [offset_polyline(centre, o) for o in offs]
    for p in paths:
        shadow.line([(x + 14, y + 22) for x, y in p], 210, width * 1.2)
    # draw back to front so neighbours overlap a little like a real bundle
    for i, p in enumerate(paths):
        dark, body, shine = colors[i % len(colors)]
        tube(layer, p, width, dark, body, shine, light=(-0.35, -1.0), shade_steps=10, rim=(40, 72, 120))
        # sleeve braid: faint diagonal hatch along the cable
        for j in range(2, len(p) - 1, 2):
            (ax, ay), (bx, by) = p[j - 1], p[j + 1]
            dl = math.hypot(bx - ax, by - ay) or 1
            ux, uy = (bx - ax) / dl, (by - ay) / dl
            nx, ny = -uy, ux
            h = width * 0.42
            x, y = p[j]
            layer.line([(x - nx * h - ux * 2, y - ny * h - uy * 2), (x + nx * h + ux * 2, y + ny * h + uy * 2)],
                       dark + (70,), 0.7)
    return layer.img, shadow.img


def make_background(rng):
    b = Board(rng)
    c = b.c

    # board texture: glass-weave mottling under the solder mask
    tex = noise(rng, W * SS // 6, H * SS // 6, blur=1.4).resize((W * SS, H * SS), Image.BICUBIC)
    c.img = add_signed(c.img, tex, 5)
    c.d = ImageDraw.Draw(c.img)

    # copper pours with chamfered corners
    b.pour([(380, 215), (880, 215), (920, 255), (920, 505), (880, 545), (380, 545), (340, 505), (340, 255)])
    b.pour([(-10, 300), (210, 300), (250, 340), (250, 450), (-10, 450)])
    b.pour([(700, 560), (1010, 560), (1010, 730), (660, 730), (660, 600)])
    b.pour([(930, -10), (1020, -10), (1020, 180), (980, 220), (930, 220)])
    c.d = ImageDraw.Draw(c.img)

    # components claim their space before any routing
    b.heatsink(150, 80, 420, 300, 18)
    b.chip(110, 470, 270, 630, 7.5, ["TALLY", "TF-X2410", "2417 KR"])
    b.chip(520, 612, 600, 692, 6.5, ["TF", "8620"])
    b.chip(380, 380, 480, 480, 6.5, ["TF-C88"])
    for i in range(6):
        b.choke(360 + i * 70, 28, 50, "R%d2" % (2 + (i % 3)))
    for i in range(6):
        b.mosfet(368 + i * 70, 98, 34, 22)
    for i, (cx, cy, r) in enumerate([(356, 160, 17), (398, 160, 17), (440, 160, 17), (800, 150, 19), (845, 150, 19),
                                     (1000, 620, 22), (320, 655, 20)]):
        b.electrolytic(cx, cy, r)
    for i in range(4):
        b.slot(1094 + i * 48, 50, 1118 + i * 48, 690, True, 90, 280)
    for i in (0, 2):
        b.memory_module(1093 + i * 48, 36, 1119 + i * 48, 704)
    b.slot(640, 588, 1050, 612, False, 70, 860)  # partly under the panel
    b.led(292, 300, (40, 170, 255))
    b.led(1060, 700, (40, 170, 255))
    b.led(960, 250, (60, 140, 255))

    # routing: traces fan out of the chips first, then fill the board
    b.random_buses(70)
    b.random_buses(40, (300, 200, 980, 560))

    b.smd_cluster(300, 250, 360, 460, 14)
    b.smd_cluster(120, 240, 320, 440, 16)
    b.smd_cluster(20, 470, 100, 700, 10)
    b.smd_cluster(290, 470, 380, 620, 10)
    b.smd_cluster(920, 250, 1080, 560, 22)
    b.smd_cluster(620, 630, 980, 710, 12)
    b.smd_cluster(480, 170, 780, 205, 10)

    b.draw_copper()

    # silkscreen outlines and reference designators
    for (x0, y0, x1, y1, t) in [(100, 460, 280, 640, "U1"), (370, 370, 490, 490, "U7"), (510, 602, 610, 702, "U12")]:
        b.outline(x0, y0, x1, y1)
        b.label(x0, y0 - 12, t)
    for i in range(6):
        b.label(360 + i * 70 + 25, 84, "L%d" % (i + 1), "mm")
    b.label(1100, 30, "DIMM_A1", "la")
    b.label(1188, 30, "DIMM_B1", "la")
    b.label(640, 575, "PCIE_1", "la")
    b.label(30, 700, "TALLYFORGE  REV 1.04", "la", font("Semibold", 9 * SS))

    # drop shadows under components, then the components themselves
    sh = b.shadows.img.filter(ImageFilter.GaussianBlur(5 * SS))
    sh = sh.point(lambda v: v * 150 // 255)
    c.img = Image.composite(Image.new("RGB", c.img.size, (0, 0, 0)), c.img, sh)
    c.d = ImageDraw.Draw(c.img)
    for draw in b.parts:
        draw()

    img = c.img.resize((W, H), Image.LANCZOS)

    # cables in front, a little out of focus; their shadow falls on the board
    cols = [((3, 6, 12), (30, 52, 92), (185, 215, 250)),
            ((3, 6, 12), (24, 42, 76), (160, 195, 240)),
            ((4, 8, 15), (36, 60, 104), (200, 228, 255))]
    cab, cab_sh = cable_bundle(rng, ((1300, 240), (1010, 320), (930, 560), (850, 740)), 5, 24, cols)
    cab2, cab2_sh = cable_bundle(rng, ((-30, 545), (70, 580), (140, 650), (175, 750)), 3, 20, cols[1:])
    sh = ImageChops.lighter(cab_sh, cab2_sh).resize((W, H), Image.BILINEAR).filter(ImageFilter.GaussianBlur(14))
    img = Image.composite(Image.new("RGB", img.size, (0, 0, 0)), img, sh.point(lambda v: v * 170 // 255))
    for layer, blur in ((cab, 1.6), (cab2, 2.0)):
        layer = layer.convert("RGBa").resize((W, H), Image.LANCZOS).filter(ImageFilter.GaussianBlur(blur)).convert("RGBA")
        img = Image.alpha_composite(img.convert("RGBA"), layer).convert("RGB")

    # lighting: a cool key light from the upper right, a soft pool in the
    # middle, everything else falling off into darkness
    light = Image.new("L", (W, H), 0)
    for (cx, cy, rx, ry, peak) in [(880, 180, 900, 700, 255), (640, 380, 700, 460, 190), (200, 560, 520, 420, 160),
                                   (180, 70, 520, 420, 200)]:
        light = ImageChops.lighter(light, blob((W, H), cx, cy, rx, ry, peak, 1.3))
    light = light.point(lambda v: int(125 + v * 130 / 255))
    img = ImageChops.multiply(img, Image.merge("RGB", (light, light, light)))

    # depth of field: sharp in a band through the middle, soft above and below
    soft1 = img.filter(ImageFilter.GaussianBlur(1.4))
    soft2 = img.filter(ImageFilter.GaussianBlur(3.6))
    m1 = Image.new("L", (1, H))
    m2 = Image.new("L", (1, H))
    for y in range(H):
        dy = abs(y - 400) / 400.0
        m1.putpixel((0, y), int(255 * clamp((dy - 0.30) / 0.25, 0, 1)))
        m2.putpixel((0, y), int(255 * clamp((dy - 0.55) / 0.40, 0, 1) ** 1.2))
    m1 = m1.resize((W, H))
    m2 = m2.resize((W, H))
    img = Image.composite(soft1, img, m1)
    img = Image.composite(soft2, img, m2)

    # glows: LEDs and bloom on the brightest metal
    glow = Image.new("L", (W, H), 0)
    for x, y, col in b.leds:
        glow = ImageChops.lighter(glow, blob((W, H), x, y, 38, 38, 255, 2.6))
    glow_rgb = tint(glow, (40, 150, 255))
    core = Image.new("L", (W, H), 0)
    for x, y, col in b.leds:
        core = ImageChops.lighter(core, blob((W, H), x, y, 6, 6, 255, 1.5))
    img = ImageChops.screen(img, glow_rgb)
    img = ImageChops.screen(img, tint(core, (200, 235, 255)))
    bright = img.convert("L").point(lambda v: clamp((v - 110) * 3, 0, 255)).filter(ImageFilter.GaussianBlur(9))
    img = ImageChops.screen(img, tint(bright, (30, 90, 170)))
    live = b.glow.img.resize((W, H), Image.BOX)
    img = ImageChops.screen(img, tint(live.filter(ImageFilter.GaussianBlur(2.5)), (40, 150, 255)))
    img = ImageChops.screen(img, tint(live.filter(ImageFilter.GaussianBlur(10)), (20, 90, 200)))

    # colour grade: a blue gradient map over the luminance, half strength
    stops = [(0, (1, 3, 9)), (50, (10, 28, 62)), (120, (40, 104, 182)), (200, (150, 205, 255)), (255, (235, 246, 255))]
    luts = ([], [], [])
    for v in range(256):
        for (a, ca), (b2, cb) in zip(stops, stops[1:]):
            if a <= v <= b2:
                col = mix(ca, cb, (v - a) / (b2 - a))
                break
        for ch in range(3):
            luts[ch].append(col[ch])
    lum = img.convert("L")
    graded = Image.merge("RGB", [lum.point(luts[ch]) for ch in range(3)])
    img = Image.blend(img, graded, 0.55)

    # vignette
    vig = blob((W, H), W / 2, H / 2 - 20, W * 0.95, H * 1.05, 255, 0.9)
    vig = vig.point(lambda v: int(95 + v * 160 / 255))
    img = ImageChops.multiply(img, Image.merge("RGB", (vig, vig, vig)))

    # fine grain hides banding in the dark gradients
    img = add_signed(img, noise(rng, W, H), 3)
    return img


def to_palette(img, colors=256):
    """RGB -> 8-bit palette with Floyd-Steinberg dithering, no transparency."""
    # max-coverage fills all 256 entries on this mostly-dark picture (median
    # cut leaves a third unused), so the dither stays fine-grained
    pal = img.quantize(colors, method=Image.Quantize.MAXCOVERAGE, dither=Image.Dither.NONE)
    out = img.quantize(palette=pal, dither=Image.Dither.FLOYDSTEINBERG)
    out.info.pop("transparency", None)
    return out


# ---------------------------------------------------------------------------
# The logo.

LOGO_W, LOGO_H = 283, 50
BLUE = (0x16, 0xAF, 0xF6)


LOGO_SCALE = 8
# The chip icon's square within the logo, with a point of margin on each side.
ICON_BOX = (2, 5, 42, 45)
ICON_SIZES = (48, 64, 128, 256)


def make_logo(scaled_down=True):
    """Chip icon and wordmark, drawn 8x larger and scaled down for clean edges."""
    s = LOGO_SCALE
    img = Image.new("RGBA", (LOGO_W * s, LOGO_H * s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)

    def rr(box, radius, fill, draw=None):
        (draw or d).rounded_rectangle([v * s for v in box], radius=radius * s, fill=fill)

    # chip icon: square package, four pins a side, a glowing die
    icon = 38
    x0 = 3
    y0 = (LOGO_H - icon) / 2
    inset = 6.5
    bx0, by0 = x0 + inset, y0 + inset
    bx1, by1 = x0 + icon - inset, y0 + icon - inset
    span = bx1 - bx0
    pin_w = 2.4
    pin_col = (150, 200, 236, 255)
    for i in range(4):
        p = bx0 + span * (i + 0.5) / 4
        for box in ((p - pin_w / 2, y0 + 0.5, p + pin_w / 2, by0 + 2),
                    (p - pin_w / 2, by1 - 2, p + pin_w / 2, y0 + icon - 0.5),
                    (x0 + 0.5, p - pin_w / 2, bx0 + 2, p + pin_w / 2),
                    (bx1 - 2, p - pin_w / 2, x0 + icon - 0.5, p + pin_w / 2)):
            rr(box, 0.8, pin_col)
    rr((bx0, by0, bx1, by1), 3.5, (226, 238, 250, 255))
    rr((bx0 + 1.7, by0 + 1.7, bx1 - 1.7, by1 - 1.7), 2.4, (14, 28, 46, 255))
    # glow of the die, kept inside the package
    ci = 4.6
    cx0, cy0, cx1, cy1 = bx0 + ci, by0 + ci, bx1 - ci, by1 - ci
    glow = Image.new("L", img.size, 0)
    rr((cx0 - 1, cy0 - 1, cx1 + 1, cy1 + 1), 2, 255, ImageDraw.Draw(glow))
    glow = glow.filter(ImageFilter.GaussianBlur(2.0 * s))
    inner = Image.new("L", img.size, 0)
    rr((bx0 + 1.7, by0 + 1.7, bx1 - 1.7, by1 - 1.7), 2.4, 255, ImageDraw.Draw(inner))
    glow = ImageChops.multiply(glow, inner).point(lambda v: v * 230 // 255)
    glow_layer = Image.new("RGBA", img.size, BLUE + (255,))
    glow_layer.putalpha(glow)
    img = Image.alpha_composite(img, glow_layer)
    d = ImageDraw.Draw(img)
    # the die: blue at the rim, white-hot in the middle
    steps = 7
    for k in range(steps):
        t = k / (steps - 1)
        g = t * (cx1 - cx0) * 0.34
        col = mix(BLUE, (240, 252, 255), t ** 1.3)
        rr((cx0 + g, cy0 + g, cx1 - g, cy1 - g), max(0.4, 1.6 - t), col + (255,))

    # wordmark: the largest size that fits, set a little tight like a logotype
    tx = x0 + icon + 7
    room = LOGO_W - tx - 3
    track = 0.35  # pixels taken off each advance, at final size

    def width(size):
        f1 = font("Bold", int(size * s))
        f2 = font("Semibold", int(size * s))
        w1 = d.textlength("Tallyforge", font=f1) - 9 * track * s
        gap = d.textlength(" ", font=f2) * 0.85
        w2 = d.textlength("Benchmark", font=f2) - 8 * track * s
        return f1, f2, w1, gap, w2

    size = 30.0
    while True:
        f1, f2, w1, gap, w2 = width(size)
        if (w1 + gap + w2) / s <= room or size <= 10:
            break
        size -= 0.25

    def tracked(x, y, text, fnt, fill):
        for i, ch in enumerate(text):
            # prefix widths keep the font's kerning between letters
            cx = x + d.textlength(text[:i], font=fnt) - i * track * s
            d.text((cx, y), ch, font=fnt, fill=fill, anchor="ls")

    # sit the words on a baseline that centres their capitals on the icon
    cap = f1.getbbox("T", anchor="ls")
    cap_h = -cap[1]
    base = (LOGO_H * s + cap_h) / 2
    tracked(tx * s, base, "Tallyforge", f1, (255, 255, 255, 255))
    tracked(tx * s + w1 + gap, base, "Benchmark", f2, BLUE + (255,))

    if not scaled_down:
        return img
    return img.convert("RGBa").resize((LOGO_W, LOGO_H), Image.LANCZOS).convert("RGBA")


def make_icons(folder):
    """The logo's chip alone, square, at the sizes of the icon theme."""
    big = make_logo(scaled_down=False).crop([v * LOGO_SCALE for v in ICON_BOX]).convert("RGBa")
    for n in ICON_SIZES:
        icon = big.resize((n, n), Image.LANCZOS).convert("RGBA")
        icon.save(os.path.join(folder, "tallyforge-benchmark-%d.png" % n), optimize=True)


def logo_to_palette(img):
    """RGBA -> 8-bit palette whose entries carry alpha (written as tRNS)."""
    # fully transparent pixels: one shared colour, so they take one entry
    clear = img.getchannel("A").point(lambda v: 255 if v == 0 else 0)
    img = Image.composite(Image.new("RGBA", img.size, (0, 0, 0, 0)), img, clear)
    # libimagequant keeps the soft edges far closer than the octree does
    # (about 0.5 against 3.5 rms per channel); octree is the fallback
    method = Image.Quantize.LIBIMAGEQUANT if features.check("libimagequant") else Image.Quantize.FASTOCTREE
    out = img.quantize(256, method=method)
    # The quantizer gives the clear entry an arbitrary colour.  A texture
    # sampled between texels mixes that colour into the soft edges, so make it
    # a pale blue that sits between the white and the blue lettering.
    pal = out.getpalette("RGBA")
    for i in range(0, len(pal), 4):
        if pal[i + 3] == 0:
            pal[i:i + 3] = [150, 205, 240]
    out.putpalette(pal, "RGBA")
    return out


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--icons":
        os.makedirs(sys.argv[2], exist_ok=True)
        make_icons(sys.argv[2])
        return
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(SEED)

    bg = make_background(rng)
    to_palette(bg).save(os.path.join(folder, "background.png"), optimize=True)

    logo_to_palette(make_logo()).save(os.path.join(folder, "logo.png"), optimize=True)


if __name__ == "__main__":
    main()
