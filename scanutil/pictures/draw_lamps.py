#!/usr/bin/env python3
"""Draws the utility's lamp pictures and its icon as text pictures for
tools/images/make_image.py (one hex digit per pixel, the 16-colour palette;
6 = teal is the bitmaps' background).

usage: draw_lamps.py OUTPUT_DIR    (writes *.bmp.txt and utility.ico.txt)
"""
import math
import os
import sys

BG = 6


def canvas(w, h, fill=BG):
    return [[fill] * w for _ in range(h)]


def disc(img, cx, cy, r, colour):
    for y in range(len(img)):
        for x in range(len(img[0])):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                img[y][x] = colour


def ring(img, cx, cy, r, colour):
    for y in range(len(img)):
        for x in range(len(img[0])):
            d = math.hypot(x - cx, y - cy)
            if r - 0.5 <= d < r + 0.6:
                img[y][x] = colour


def rect(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if 0 <= y < len(img) and 0 <= x < len(img[0]):
                img[y][x] = colour


def line(img, x0, y0, x1, y1, colour):
    n = max(abs(x1 - x0), abs(y1 - y0), 1)
    for i in range(n + 1):
        x = round(x0 + (x1 - x0) * i / n)
        y = round(y0 + (y1 - y0) * i / n)
        if 0 <= y < len(img) and 0 <= x < len(img[0]):
            img[y][x] = colour


def bulb(img, ox, lit):
    """A bulb 32 pixels wide at column ox: glass, screw base, rays when lit."""
    cx, cy, r = ox + 15.5, 11.5, 8
    if lit:
        for angle in range(0, 360, 45):
            if angle == 270:
                continue  # the base is below
            a = math.radians(angle)
            line(img, round(cx + 10 * math.cos(a)), round(cy - 10 * math.sin(a)),
                 round(cx + 13 * math.cos(a)), round(cy - 13 * math.sin(a)), 11)
    disc(img, cx, cy, r, 11 if lit else 8)
    # Neck of the glass down to the base.
    rect(img, ox + 12, 17, ox + 19, 20, 11 if lit else 8)
    ring(img, cx, cy, r, 0)
    line(img, ox + 11, 18, ox + 11, 20, 0)
    line(img, ox + 20, 18, ox + 20, 20, 0)
    # Highlight on the glass.
    for (x, y) in ((-4, -4), (-5, -3), (-4, -3), (-3, -5), (-5, -2)):
        img[round(cy) + y][round(cx) + x] = 15 if lit else 7
    if lit:  # the filament
        line(img, ox + 13, 13, ox + 15, 10, 1)
        line(img, ox + 15, 10, ox + 16, 13, 1)
        line(img, ox + 16, 13, ox + 18, 10, 1)
    # Screw base: silver and gray rings, black contact.
    for i, y in enumerate(range(21, 27)):
        rect(img, ox + 12, y, ox + 19, y, 7 if i % 2 == 0 else 8)
    img[21][ox + 11] = img[21][ox + 20] = 0
    rect(img, ox + 14, 27, ox + 17, 28, 0)


def clock(img, cx, cy, r):
    disc(img, cx, cy, r, 15)
    ring(img, cx, cy, r, 0)
    line(img, round(cx), round(cy), round(cx), round(cy - r + 2), 0)
    line(img, round(cx), round(cy), round(cx + r - 3), round(cy), 4)
    img[round(cy)][round(cx)] = 9


def switch(img, ox, up):
    """A wall switch 9 pixels wide at column ox, lever up or down."""
    rect(img, ox, 6, ox + 8, 27, 7)
    line(img, ox, 6, ox + 8, 6, 15)
    line(img, ox, 6, ox, 27, 15)
    line(img, ox, 27, ox + 8, 27, 0)
    line(img, ox + 8, 6, ox + 8, 27, 0)
    rect(img, ox + 3, 11, ox + 5, 22, 8)  # slot
    if up:
        rect(img, ox + 2, 9, ox + 6, 16, 4)
        line(img, ox + 2, 9, ox + 6, 9, 12)
    else:
        rect(img, ox + 2, 17, ox + 6, 24, 4)
        line(img, ox + 2, 24, ox + 6, 24, 12)


PALE = {0: 8, 1: 9, 2: 10, 3: 11, 4: 12, 5: 13, 7: 15, 8: 7, 9: 15, 10: 15, 11: 15, 12: 7, 13: 15, 14: 15, 15: 15}


def pale(img):
    """The picture faded: every other pixel white, the rest one shade lighter."""
    out = [row[:] for row in img]
    for y, row in enumerate(img):
        for x, c in enumerate(row):
            if c == BG:
                continue
            out[y][x] = 15 if (x + y) % 2 == 0 else PALE.get(c, c)
    return out


def icon():
    img = canvas(32, 32, -1)
    # A flatbed scanner: lid, glass, body, with the lamp bar lit.
    rect(img, 2, 10, 29, 13, 7)
    line(img, 2, 10, 29, 10, 15)
    rect(img, 2, 14, 29, 15, 0)
    rect(img, 3, 16, 28, 24, 8)
    rect(img, 3, 16, 28, 17, 14)   # the glass
    rect(img, 6, 18, 20, 19, 11)   # the lamp bar
    rect(img, 2, 25, 29, 27, 7)
    line(img, 2, 27, 29, 27, 0)
    line(img, 29, 14, 29, 27, 0)
    rect(img, 24, 20, 26, 22, 10)  # power light
    # Light from the lamp.
    for x in range(7, 21, 3):
        line(img, x, 9, x - 2, 3, 11)
    return img


def write(path, img, comment):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write(f"# {comment}\n")
        f.write(f"size {len(img[0])} {len(img)}\n")
        for row in img:
            f.write("".join("." if c < 0 else "0123456789abcdef"[c] for c in row) + "\n")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    lit = canvas(32, 32)
    bulb(lit, 0, True)
    write(os.path.join(out, "lamp_on.bmp.txt"), lit, "bitmap 100: a lit bulb")

    timer = canvas(32, 32)
    bulb(timer, -3, False)
    clock(timer, 24.5, 24.5, 6)
    write(os.path.join(out, "lamp_timer.bmp.txt"), timer, "bitmap 101: a dark bulb with a clock")

    on = canvas(42, 32)
    bulb(on, 0, True)
    switch(on, 31, True)
    write(os.path.join(out, "lamp_switch_on.bmp.txt"), on, "bitmap 102: a lit bulb beside a switch set upwards")
    write(os.path.join(out, "lamp_switch_on_pale.bmp.txt"), pale(on), "bitmap 107: bitmap 102, pale and dithered")

    off = canvas(42, 32)
    bulb(off, 0, False)
    switch(off, 31, False)
    write(os.path.join(out, "lamp_switch_off.bmp.txt"), off, "bitmap 103: a dark bulb beside a switch set downwards")
    write(os.path.join(out, "lamp_switch_off_pale.bmp.txt"), pale(off), "bitmap 108: bitmap 103, pale and dithered")

    write(os.path.join(out, "utility.ico.txt"), icon(), "icon 99: a flatbed scanner with its lamp lit")


if __name__ == "__main__":
    main()
