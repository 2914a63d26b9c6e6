#!/usr/bin/python3
"""Draws the saver's icon family into resources/*.ico (32x32 and 16x16, 32-bit
with alpha). Run by hand after changing a design: /usr/bin/python3 make_icons.py
(needs Debian's python3-pil). The .ico files are committed; the build does not
run this.

Every icon is the same dark violet tile with one bright glyph, so the tabs of
the sheet read as one family; each glyph is drawn per size (16-pixel strokes
are thickened so they stay visible).
"""
import colorsys
import math
import os
import sys

from PIL import Image, ImageDraw

SS = 8  # supersampling factor
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.normpath(os.path.join(HERE, "..", "..", "resources"))


def hue(h, s=0.85, v=1.0):
    r, g, b = colorsys.hsv_to_rgb(h % 1.0, s, v)
    return (int(r * 255), int(g * 255), int(b * 255), 255)


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = size * SS
        self.img = Image.new("RGBA", (self.px, self.px), (0, 0, 0, 0))
        self.d = ImageDraw.Draw(self.img)

    def p(self, x, y):
        return (x * self.px, y * self.px)

    def w(self, width, minimum):
        # width in units of the icon; at least `minimum` output pixels
        return max(int(width * self.px), int(minimum * SS))

    def box(self, x0, y0, x1, y1):
        return [x0 * self.px, y0 * self.px, x1 * self.px, y1 * self.px]

    def tile(self):
        n = self.px
        grad = Image.new("RGBA", (n, n))
        gd = ImageDraw.Draw(grad)
        for y in range(n):
            t = y / (n - 1)
            c = (int(70 - 40 * t), int(28 - 14 * t), int(140 - 60 * t), 255)
            gd.line([(0, y), (n, y)], fill=c)
        mask = Image.new("L", (n, n), 0)
        md = ImageDraw.Draw(mask)
        r = int(n * (0.16 if self.size >= 32 else 0.12))
        inset = int(n * 0.02)
        md.rounded_rectangle([inset, inset, n - 1 - inset, n - 1 - inset], radius=r, fill=255)
        self.img.paste(grad, (0, 0), mask)
        edge = self.w(0.03, 1)
        self.d.rounded_rectangle([inset, inset, n - 1 - inset, n - 1 - inset], radius=r,
                                 outline=(170, 150, 230, 255), width=edge)

    def line(self, points, colour, width, minimum=1.0):
        self.d.line([self.p(x, y) for x, y in points], fill=colour,
                    width=self.w(width, minimum), joint="curve")

    def rainbow_path(self, points, width, minimum=1.0, h0=0.0, h1=0.85):
        wpx = self.w(width, minimum)
        for i in range(len(points) - 1):
            c = hue(h0 + (h1 - h0) * i / max(1, len(points) - 2))
            a, b = self.p(*points[i]), self.p(*points[i + 1])
            self.d.line([a, b], fill=c, width=wpx)
            r = wpx / 2
            self.d.ellipse([b[0] - r, b[1] - r, b[0] + r, b[1] + r], fill=c)

    def rect(self, x0, y0, x1, y1, fill=None, outline=None, width=0.0, minimum=1.0):
        self.d.rectangle(self.box(x0, y0, x1, y1), fill=fill, outline=outline,
                         width=self.w(width, minimum) if outline else 0)

    def ellipse(self, cx, cy, r, fill=None, outline=None, width=0.0, minimum=1.0):
        self.d.ellipse(self.box(cx - r, cy - r, cx + r, cy + r), fill=fill, outline=outline,
                       width=self.w(width, minimum) if outline else 0)

    def result(self):
        return self.img.resize((self.size, self.size), Image.LANCZOS)


def bezier(p0, p1, p2, p3, steps=40):
    pts = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        x = u ** 3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t ** 3 * p3[0]
        y = u ** 3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t ** 3 * p3[1]
        pts.append((x, y))
    return pts


# ---- glyphs -------------------------------------------------------------

def glyph_swirl(c):
    """The saver itself: a spiral of spectrum colours."""
    small = c.size < 32
    turns = 1.6 if small else 2.3
    pts = []
    for i in range(121):
        t = i / 120
        a = t * turns * 2 * math.pi
        r = 0.05 + 0.33 * t
        pts.append((0.5 + r * math.cos(a), 0.5 + r * math.sin(a)))
    c.rainbow_path(pts, 0.075 if not small else 0.11, 1.6)


def glyph_setup(c):
    """Setup: an arrow down into an open tray."""
    small = c.size < 32
    w = 0.1 if not small else 0.13
    c.line([(0.5, 0.18), (0.5, 0.6)], hue(0.12), w, 1.5)
    c.d.polygon([c.p(0.3, 0.48), c.p(0.7, 0.48), c.p(0.5, 0.7)], fill=hue(0.12))
    c.line([(0.2, 0.62), (0.2, 0.8), (0.8, 0.8), (0.8, 0.62)], hue(0.55), w * 0.8, 1.3)


def glyph_grid(c):
    """Palette cells: a grid of spectrum squares."""
    n = 3 if c.size < 32 else 4
    m0, m1 = 0.18, 0.82
    step = (m1 - m0) / n
    gap = step * (0.18 if c.size >= 32 else 0.0)
    for j in range(n):
        for i in range(n):
            x0 = m0 + i * step
            y0 = m0 + j * step
            c.rect(x0 + gap / 2, y0 + gap / 2, x0 + step - gap / 2, y0 + step - gap / 2,
                   fill=hue((i + j * n) / (n * n) * 0.9))


def glyph_curve(c):
    """A module: a Bezier curve with its mirror copy."""
    small = c.size < 32
    w = 0.07 if not small else 0.11
    c.rainbow_path(bezier((0.16, 0.78), (0.3, 0.05), (0.7, 0.95), (0.84, 0.22)), w, 1.5, 0.0, 0.45)
    if not small:
        c.rainbow_path(bezier((0.16, 0.22), (0.3, 0.95), (0.7, 0.05), (0.84, 0.78)), w * 0.7, 1,
                       0.5, 0.9)


def glyph_channels(c):
    """The palette: three overlapping red, green and blue discs."""
    r = 0.2 if c.size >= 32 else 0.22
    layer = Image.new("RGBA", c.img.size, (0, 0, 0, 0))
    from PIL import ImageChops
    for (cx, cy), col in (((0.5, 0.36), (255, 40, 40)), ((0.36, 0.62), (40, 220, 40)),
                          ((0.64, 0.62), (60, 90, 255))):
        disc = Image.new("RGBA", c.img.size, (0, 0, 0, 0))
        ImageDraw.Draw(disc).ellipse(c.box(cx - r, cy - r, cx + r, cy + r), fill=col + (255,))
        layer = ImageChops.add(layer, disc)
    c.img.alpha_composite(layer)


def glyph_sliders(c):
    """Main settings: three sliders with knobs."""
    small = c.size < 32
    rows = (0.3, 0.5, 0.7) if not small else (0.28, 0.5, 0.72)
    knobs = (0.62, 0.34, 0.7)
    for k, (y, kx) in enumerate(zip(rows, knobs)):
        c.line([(0.18, y), (0.82, y)], (200, 190, 240, 255), 0.035, 1)
        kw = 0.07 if not small else 0.09
        c.rect(kx - kw, y - 0.08, kx + kw, y + 0.08, fill=hue(0.1 + 0.3 * k))


def glyph_monitor(c):
    """Display: a monitor with a spectrum screen."""
    small = c.size < 32
    c.rect(0.14, 0.2, 0.86, 0.7, fill=(225, 225, 240, 255))
    inset = 0.05 if not small else 0.07
    x0, y0, x1, y1 = 0.14 + inset, 0.2 + inset, 0.86 - inset, 0.7 - inset
    steps = 24
    for i in range(steps):
        xa = x0 + (x1 - x0) * i / steps
        xb = x0 + (x1 - x0) * (i + 1) / steps
        c.rect(xa, y0, xb, y1, fill=hue(i / steps * 0.85, 0.8, 0.95))
    c.rect(0.44, 0.7, 0.56, 0.8, fill=(225, 225, 240, 255))
    c.rect(0.3, 0.8, 0.7, 0.86, fill=(225, 225, 240, 255))


def glyph_sound(c):
    """Sound: equaliser bars in spectrum colours."""
    heights = (0.35, 0.6, 0.45, 0.7, 0.3) if c.size >= 32 else (0.4, 0.65, 0.5, 0.3)
    n = len(heights)
    x0, x1, base = 0.17, 0.83, 0.82
    step = (x1 - x0) / n
    gap = step * 0.25
    for i, h in enumerate(heights):
        c.rect(x0 + i * step + gap / 2, base - h, x0 + (i + 1) * step - gap / 2, base,
               fill=hue(i / n * 0.8))


def glyph_document(c):
    """A saved display (.VIV file): a page with a spiral."""
    c.d.polygon([c.p(0.22, 0.12), c.p(0.64, 0.12), c.p(0.8, 0.28), c.p(0.8, 0.88),
                 c.p(0.22, 0.88)], fill=(235, 235, 245, 255))
    c.d.polygon([c.p(0.64, 0.12), c.p(0.64, 0.28), c.p(0.8, 0.28)], fill=(170, 160, 210, 255))
    pts = []
    for i in range(81):
        t = i / 80
        a = t * 1.8 * 2 * math.pi
        r = 0.03 + 0.2 * t
        pts.append((0.51 + r * math.cos(a), 0.55 + r * math.sin(a)))
    c.rainbow_path(pts, 0.06 if c.size >= 32 else 0.09, 1.3)


ICONS = {
    "vivra.ico": glyph_swirl,       # 1: the program
    "config.ico": glyph_sliders,    # 2: the configuration sheet
    "display.ico": glyph_document,  # 3: .VIV files
    "icon100.ico": glyph_setup,     # setup wizard
    "icon101.ico": glyph_swirl,     # the saver
    "icon102.ico": glyph_grid,      # sheet and custom palette
    "icon103.ico": glyph_curve,     # module pages
    "icon104.ico": glyph_channels,  # palette page
    "icon105.ico": glyph_sliders,   # main settings
    "icon106.ico": glyph_monitor,   # display page
    "icon107.ico": glyph_sound,     # sound page
}


def render(glyph, size, tile=True):
    c = Canvas(size)
    if tile:
        c.tile()
    glyph(c)
    return c.result()


def main():
    sheet = []
    for name, glyph in ICONS.items():
        imgs = [render(glyph, 32), render(glyph, 16)]
        path = os.path.join(OUT, name)
        imgs[0].save(path, format="ICO", sizes=[(32, 32), (16, 16)], append_images=[imgs[1]],
                     bitmap_format="bmp")
        sheet.append(imgs)
    if len(sys.argv) > 1:  # a preview sheet: every icon at 32 and 16, magnified
        cols = len(sheet)
        prev = Image.new("RGBA", (cols * 80, 120), (240, 240, 240, 255))
        for i, (big, small) in enumerate(sheet):
            prev.alpha_composite(big.resize((64, 64), Image.NEAREST), (i * 80 + 8, 4))
            prev.alpha_composite(small.resize((32, 32), Image.NEAREST), (i * 80 + 24, 72))
            prev.alpha_composite(small, (i * 80 + 60, 100))
        prev.save(sys.argv[1])


if __name__ == "__main__":
    main()
