#!/usr/bin/env python3
"""Checks the result page's chart colours for people with colour-vision deficiencies.

Reads the chart colours of each colour scheme from the page's style sheet (server/pages.css),
simulates protanopia, deuteranopia and tritanopia (Machado, Oliveira and Fernandes 2009,
severity 1, applied in linear RGB), and prints for every scheme and vision the smallest
CIEDE2000 difference between the colours that a chart sets side by side, and each colour's
contrast with the card behind it. Exits 1 when two colours come closer than MIN_DELTA_E
in any vision, or a colour has less than 3:1 contrast with its background.

Usage: palette_check.py path/to/pages.css
"""
import math
import re
import sys

MIN_DELTA_E = 20.0
MIN_CONTRAST = 3.0

MACHADO = {
    "normal": ((1, 0, 0), (0, 1, 0), (0, 0, 1)),
    "protanopia": ((0.152286, 1.052583, -0.204868), (0.114503, 0.786281, 0.099216), (-0.003882, -0.048116, 1.051998)),
    "deuteranopia": ((0.367322, 0.860646, -0.227968), (0.280085, 0.672501, 0.047413), (-0.011820, 0.042940, 0.968881)),
    "tritanopia": ((1.255528, -0.076749, -0.178779), (-0.078411, 0.930809, 0.147602), (0.004733, 0.691367, 0.303900)),
}
# Colours drawn next to each other: the two CPU lines, the three bars of a scene.
GROUPS = {"processor chart": ("int", "float"), "graphics chart": ("avg", "p10", "p1")}


def to_linear(c):
    c /= 255.0
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def parse(hex_colour):
    h = hex_colour.lstrip("#")
    return tuple(int(h[i:i + 2], 16) for i in (0, 2, 4))


def simulate(rgb, vision):
    lin = [to_linear(c) for c in rgb]
    m = MACHADO[vision]
    return tuple(min(1.0, max(0.0, sum(m[r][k] * lin[k] for k in range(3)))) for r in range(3))


def lab(lin):
    r, g, b = lin
    x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047
    y = 0.2126 * r + 0.7152 * g + 0.0722 * b
    z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883
    f = lambda t: t ** (1 / 3) if t > 216 / 24389 else (24389 / 27 * t + 16) / 116
    return 116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))


def delta_e2000(lab1, lab2):
    L1, a1, b1 = lab1
    L2, a2, b2 = lab2
    C1, C2 = math.hypot(a1, b1), math.hypot(a2, b2)
    Cm = (C1 + C2) / 2
    G = 0.5 * (1 - math.sqrt(Cm ** 7 / (Cm ** 7 + 25 ** 7)))
    a1p, a2p = (1 + G) * a1, (1 + G) * a2
    C1p, C2p = math.hypot(a1p, b1), math.hypot(a2p, b2)
    h1p = math.degrees(math.atan2(b1, a1p)) % 360
    h2p = math.degrees(math.atan2(b2, a2p)) % 360
    dLp, dCp = L2 - L1, C2p - C1p
    dhp = 0 if C1p * C2p == 0 else (h2p - h1p if abs(h2p - h1p) <= 180 else h2p - h1p - 360 if h2p > h1p else h2p - h1p + 360)
    dHp = 2 * math.sqrt(C1p * C2p) * math.sin(math.radians(dhp / 2))
    Lm, Cmp = (L1 + L2) / 2, (C1p + C2p) / 2
    if C1p * C2p == 0:
        hm = h1p + h2p
    elif abs(h1p - h2p) <= 180:
        hm = (h1p + h2p) / 2
    else:
        hm = (h1p + h2p + 360) / 2 if h1p + h2p < 360 else (h1p + h2p - 360) / 2
    T = (1 - 0.17 * math.cos(math.radians(hm - 30)) + 0.24 * math.cos(math.radians(2 * hm))
         + 0.32 * math.cos(math.radians(3 * hm + 6)) - 0.20 * math.cos(math.radians(4 * hm - 63)))
    dtheta = 30 * math.exp(-(((hm - 275) / 25) ** 2))
    Rc = 2 * math.sqrt(Cmp ** 7 / (Cmp ** 7 + 25 ** 7))
    Sl = 1 + 0.015 * (Lm - 50) ** 2 / math.sqrt(20 + (Lm - 50) ** 2)
    Sc, Sh = 1 + 0.045 * Cmp, 1 + 0.015 * Cmp * T
    Rt = -math.sin(math.radians(2 * dtheta)) * Rc
    return math.sqrt((dLp / Sl) ** 2 + (dCp / Sc) ** 2 + (dHp / Sh) ** 2 + Rt * (dCp / Sc) * (dHp / Sh))


def luminance(rgb):
    r, g, b = (to_linear(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(c1, c2):
    l1, l2 = sorted((luminance(c1), luminance(c2)), reverse=True)
    return (l1 + 0.05) / (l2 + 0.05)


def schemes(css):
    """{scheme: {name: '#rrggbb'}}: the dark root block, then the light one in its media query."""
    variables = lambda block: dict(re.findall(r"--([\w-]+):(#[0-9a-fA-F]{6})", block))
    dark = variables(re.search(r":root\{(.*?)\}", css, re.S).group(1))
    found = {"dark": dark}
    light = re.search(r"prefers-color-scheme:\s*light\)\s*\{\s*:root\{(.*?)\}", css, re.S)
    if light:
        found["light"] = {**dark, **variables(light.group(1))}
    return found


def main():
    css = open(sys.argv[1], encoding="utf-8").read()
    failed = False
    for scheme, colours in schemes(css).items():
        card = parse(colours["card"])
        print(f"{scheme} scheme, card {colours['card']}")
        for group, names in GROUPS.items():
            shown = ", ".join(f"{n} {colours[n]}" for n in names)
            print(f"  {group}: {shown}")
            for n in names:
                ratio = contrast(parse(colours[n]), card)
                failed |= ratio < MIN_CONTRAST
                print(f"    {n:6s} contrast with card {ratio:4.1f}:1{'  TOO LOW' if ratio < MIN_CONTRAST else ''}")
            for vision in MACHADO:
                labs = {n: lab(simulate(parse(colours[n]), vision)) for n in names}
                pairs = [(delta_e2000(labs[a], labs[b]), a, b) for i, a in enumerate(names) for b in names[i + 1:]]
                d, a, b = min(pairs)
                failed |= d < MIN_DELTA_E
                print(f"    {vision:13s} closest pair {a}/{b}: dE2000 {d:5.1f}{'  TOO CLOSE' if d < MIN_DELTA_E else ''}")
    print("FAILED" if failed else "OK")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
