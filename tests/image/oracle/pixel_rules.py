#!/usr/bin/env python3
"""Independent model of the pixel-format rules: conversions between the nine
pixel formats and every typed pixel getter and setter, written from the
format rules (not from the C++ code). Prints one case per line:

  C <from> <to> <source channels> | <converted channels>
  G <format> <getter> <pixel channels> | <values read>
  S <format> <setter> <values written> | <pixel channels stored>

Integers are printed exactly, doubles with repr() so they read back exactly.
"""
import math

U32 = 4294967295.0
DEPTH = {1: 8, 2: 16, 3: 32, 4: 8, 5: 16, 6: 32}
MAXV = {8: 255, 16: 65535, 32: 4294967295}


def tdiv(a, b):
    """Integer division truncating toward zero."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def change(v, s, d):
    if s == d:
        return v
    if s > d:
        return v >> (s - d)
    return v * {(8, 16): 257, (8, 32): 16843009, (16, 32): 65537}[(s, d)]


def weighted(r, g, b):
    return (299 * r + 587 * g + 114 * b + 500) // 1000


def clamp01(c):
    if math.isnan(c) or c < 0:
        return 0.0
    return 1.0 if c > 1 else c


def to_depth(c, d):
    return int(math.trunc(clamp01(c) * float(MAXV[d])))


def srgb_to_xyz(r, g, b):
    def lin(v):
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    r, g, b = lin(r), lin(g), lin(b)
    return (0.4124564 * r + 0.3575761 * g + 0.1804375 * b,
            0.2126729 * r + 0.7151522 * g + 0.072175 * b,
            0.0193339 * r + 0.119192 * g + 0.9503041 * b)


def xyz_to_srgb(x, y, z):
    def comp(v):
        c = 12.92 * v if v <= 0.0031308 else 1.055 * v ** 0.4166666666666667 - 0.055
        return clamp01(c)
    return (comp(3.2404542 * x - 1.5371385 * y - 0.4985314 * z),
            comp(-0.969266 * x + 1.8760108 * y + 0.041556 * z),
            comp(0.0556434 * x - 0.2040259 * y + 1.0572252 * z))


def xyz_to_lab(x, y, z):
    def f(t):
        return t ** (1.0 / 3.0) if t > 216.0 / 24389.0 else t / (108.0 / 841.0) + 4.0 / 29.0
    fx, fy, fz = f(x * 100.0 / 95.0489), f(y * 100.0 / 100.0), f(z * 100.0 / 108.884)
    return 116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)


def lab_to_xyz(l, a, b):
    fy = (l + 16.0) / 116.0
    fx = fy + a / 500.0
    fz = fy - b / 200.0

    def finv(t):
        return t * t * t if t > 6.0 / 29.0 else (t - 4.0 / 29.0) * (108.0 / 841.0)
    return finv(fx) * 95.0489 / 100.0, finv(fy), finv(fz) * 108.884 / 100.0


def rgb16_to_hsv16(r, g, b):
    mx, mn = max(r, g, b), min(r, g, b)
    d = mx - mn
    if d == 0:
        h = 0
    elif r == mx:
        h = (tdiv((g - b) * 10922, d) + 65535) % 65535
    elif g == mx:
        h = tdiv((b - r) * 10922, d) + 21844
    else:
        h = tdiv((r - g) * 10922, d) + 43688
    s = 0 if mx == 0 else d * 65534 // mx
    return h, s, mx


def hsv16_to_rgb16(h, s, v):
    if s == 0:
        return v, v, v
    hh = h / 10922.0
    i = int(hh)
    f = hh - i
    ss = s / 65534.0

    def rnd(x):
        return min(65535, max(0, int(math.trunc(x + 0.5))))
    p = rnd((1 - ss) * v)
    q = rnd((1 - ss * f) * v)
    t = rnd((1 - (1 - f) * ss) * v)
    return [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][i % 6]


def cmyk_to_rgb8(c, m, y, k):
    return tuple(255 - ch - k if ch + k < 256 else 0 for ch in (c, m, y))


def rgb8_to_cmyk(r, g, b):
    k = 255 - max(r, g, b)
    return 255 - r - k, 255 - g - k, 255 - b - k, k


# ---- reading ----

def colour_at(fmt, px, d):
    if fmt <= 3:
        return (change(px[0], DEPTH[fmt], d),) * 3
    if fmt <= 6:
        return tuple(change(c, DEPTH[fmt], d) for c in px)
    if fmt == 7:
        return tuple(change(to_depth(c, 32), 32, d) for c in xyz_to_srgb(*px))
    if fmt == 8:
        return tuple(change(c, 16, d) for c in hsv16_to_rgb16(*px))
    return tuple(change(c, 8, d) for c in cmyk_to_rgb8(*px))


FORMED_AT = {7: 32, 8: 16, 9: 8}


def grey_at(fmt, px, d):
    if fmt <= 3:
        return change(px[0], DEPTH[fmt], d)
    if fmt <= 6:
        s = DEPTH[fmt]
        if d > s:
            return weighted(*colour_at(fmt, px, d))
        return change(weighted(*colour_at(fmt, px, s)), s, d)
    s = FORMED_AT[fmt]
    return change(weighted(*colour_at(fmt, px, s)), s, d)


def get_rgb_double(fmt, px):
    if fmt == 7:
        return xyz_to_srgb(*px)
    return tuple(c / U32 for c in colour_at(fmt, px, 32))


def get_grey_double(fmt, px):
    if fmt <= 3:
        return grey_at(fmt, px, 32) / U32
    r, g, b = get_rgb_double(fmt, px)
    return r if r == g == b else 0.299 * r + 0.587 * g + 0.114 * b


def get_hsv16(fmt, px):
    if fmt == 8:
        return tuple(px)
    if fmt <= 3:
        return 0, 0, grey_at(fmt, px, 16)
    return rgb16_to_hsv16(*colour_at(fmt, px, 16))


def get_cmyk8(fmt, px):
    if fmt == 9:
        return tuple(px)
    if fmt <= 3:
        return 0, 0, 0, 255 - grey_at(fmt, px, 8)
    return rgb8_to_cmyk(*colour_at(fmt, px, 8))


def get_xyz(fmt, px):
    if fmt == 7:
        return tuple(px)
    return srgb_to_xyz(*(c / U32 for c in colour_at(fmt, px, 32)))


def get_lab(fmt, px):
    return xyz_to_lab(*get_xyz(fmt, px))


def get_lch(fmt, px):
    l, a, b = get_lab(fmt, px)
    return l, math.sqrt(a * a + b * b), math.atan2(b, a)


GETTERS = {
    "gray8": lambda f, p: (grey_at(f, p, 8),),
    "gray16": lambda f, p: (grey_at(f, p, 16),),
    "gray32": lambda f, p: (grey_at(f, p, 32),),
    "graydouble": lambda f, p: (get_grey_double(f, p),),
    "rgb8": lambda f, p: colour_at(f, p, 8),
    "rgb16": lambda f, p: colour_at(f, p, 16),
    "rgb32": lambda f, p: colour_at(f, p, 32),
    "rgbdouble": get_rgb_double,
    "hsv16": get_hsv16,
    "cmyk8": get_cmyk8,
    "xyz": get_xyz,
    "lab": get_lab,
    "lch": get_lch,
}

# ---- writing ----


def write_grey(fmt, g, s):
    if fmt <= 3:
        return (change(g, s, DEPTH[fmt]),)
    if fmt <= 6:
        return (change(g, s, DEPTH[fmt]),) * 3
    if fmt == 7:
        v = change(g, s, 32) / U32
        return srgb_to_xyz(v, v, v)
    if fmt == 8:
        return 0, 0, change(g, s, 16)
    return 0, 0, 0, 255 - change(g, s, 8)


def write_colour(fmt, c, s, widen_first):
    if fmt <= 3:
        d = DEPTH[fmt]
        if widen_first and d > s:
            return (weighted(*(change(v, s, d) for v in c)),)
        return (change(weighted(*c), s, d),)
    if fmt <= 6:
        return tuple(change(v, s, DEPTH[fmt]) for v in c)
    if fmt == 7:
        return srgb_to_xyz(*(change(v, s, 32) / U32 for v in c))
    if fmt == 8:
        return rgb16_to_hsv16(*(change(v, s, 16) for v in c))
    return rgb8_to_cmyk(*(change(v, s, 8) for v in c))


def set_rgb_double(fmt, r, g, b):
    c = [clamp01(v) for v in (r, g, b)]
    if fmt == 7:
        return srgb_to_xyz(*c)
    d = {1: 8, 2: 16, 3: 32, 4: 8, 5: 16, 6: 32, 8: 16, 9: 8}[fmt]
    conv = [int(math.trunc(v * float(MAXV[d]))) for v in c]
    if fmt <= 3:
        return (weighted(*conv),)
    return write_colour(fmt, conv, d, True)


def set_hsv16(fmt, h, s, v):
    if fmt == 8:
        return h, s, v
    return write_colour(fmt, hsv16_to_rgb16(h, s, v), 16, False)


def set_cmyk8(fmt, c, m, y, k):
    if fmt == 9:
        return c, m, y, k
    return write_colour(fmt, cmyk_to_rgb8(c, m, y, k), 8, False)


def set_xyz(fmt, x, y, z):
    if fmt == 7:
        return x, y, z
    return write_colour(fmt, [to_depth(c, 32) for c in xyz_to_srgb(x, y, z)], 32, False)


def set_lab(fmt, l, a, b):
    return set_xyz(fmt, *lab_to_xyz(l, a, b))


def set_lch(fmt, l, c, h):
    # Angles without a direction (NaN, infinity) count as 0; far angles are
    # reduced by whole turns before the stepping wrap.
    if not math.isfinite(h):
        h = 0.0
    if abs(h) > 64.0 * 6.2831853:
        h = math.fmod(h, 6.2831853)
    while h > 3.14159265:
        h -= 6.2831853
    while h < -3.14159265:
        h += 6.2831853
    if c < 0:
        c = 0.0
    return set_lab(fmt, l, c * math.cos(h), c * math.sin(h))


SETTERS = {
    "gray8": (lambda f, v: write_grey(f, v[0], 8), [(0,), (128,), (255,), (77,)]),
    "gray16": (lambda f, v: write_grey(f, v[0], 16), [(0x8000,), (65535,), (300,)]),
    "gray32": (lambda f, v: write_grey(f, v[0], 32), [(0x80000000,), (5,), (4294967295,)]),
    "rgb8": (lambda f, v: write_colour(f, v, 8, True), [(200, 100, 50), (10, 200, 30), (255, 0, 0), (0, 0, 0)]),
    "rgb16": (lambda f, v: write_colour(f, v, 16, True), [(65535, 0, 0), (1000, 2000, 3000), (51400, 51400, 51400)]),
    "rgb32": (lambda f, v: write_colour(f, v, 32, True), [(4294967295, 0, 123456789), (5, 5, 5)]),
    "rgbdouble": (lambda f, v: set_rgb_double(f, *v),
                  [(1.5, -0.2, 0.5), (0.25, 0.5, 0.75), (float("nan"), float("inf"), float("-inf"))]),
    "hsv16": (lambda f, v: set_hsv16(f, *v),
              [(0, 65534, 65535), (43688, 32767, 40000), (65535, 65535, 65535), (0, 0, 500), (21844, 65534, 65535)]),
    "cmyk8": (lambda f, v: set_cmyk8(f, *v), [(200, 0, 0, 100), (0, 0, 0, 0), (10, 20, 30, 40)]),
    "xyz": (lambda f, v: set_xyz(f, *v), [(0.9504, 1.0, 1.0888), (0.2, 0.3, 0.4), (float("nan"), 0.5, float("inf"))]),
    "lab": (lambda f, v: set_lab(f, *v), [(50.0, 20.0, -30.0), (100.0, 0.0, 0.0), (0.0, 0.0, 0.0)]),
    "lch": (lambda f, v: set_lch(f, *v),
            [(50.0, 40.0, 1.0), (60.0, 30.0, -4.0), (70.0, -5.0, 2.0), (50.0, 40.0, 1e300),
             (50.0, 40.0, float("nan")), (50.0, 40.0, float("inf")), (50.0, 40.0, 20.0)]),
}

# ---- conversions ----


def convert(src, dst, px):
    if src == dst:
        return tuple(px)
    if (src, dst) in ((4, 1), (5, 2), (6, 3)):
        return (weighted(*px),)
    if (src, dst) in ((1, 4), (2, 5), (3, 6)):
        return (px[0],) * 3
    if (src, dst) in ((1, 2), (2, 3), (4, 5), (5, 6)):
        return tuple(change(c, DEPTH[src], DEPTH[dst]) for c in px)
    if (src, dst) in ((3, 2), (2, 1), (6, 5), (5, 4)):
        return tuple(change(c, DEPTH[src], DEPTH[dst]) for c in px)
    getter = {1: "gray8", 2: "gray16", 3: "gray32", 4: "rgb8", 5: "rgb16", 6: "rgb32",
              7: "xyz", 8: "hsv16", 9: "cmyk8"}[dst]
    return tuple(GETTERS[getter](src, px))


SAMPLES = {
    1: [(0,), (1,), (128,), (200,), (255,)],
    2: [(0,), (0x8000,), (0xC8C8,), (65535,), (1,)],
    3: [(0,), (0x80000000,), (4294967295,), (16843009 * 200,), (123456789,)],
    4: [(200, 100, 50), (255, 0, 0), (10, 200, 30), (0, 0, 0), (255, 255, 255), (17, 17, 17)],
    5: [(65535, 0, 0), (0, 65535, 0), (65535, 0, 65535), (1000, 1000, 1000), (65535, 0, 1), (51400, 25700, 12850)],
    6: [(4294967295, 0, 0), (0, 4294967295, 4294967295), (123456789, 987654321, 3000000000), (7, 7, 7)],
    7: [(0.9504, 1.0, 1.0888), (0.2, 0.3, 0.4), (0.0, 0.0, 0.0), (-0.1, 0.5, 2.0), (0.4124564, 0.2126729, 0.0193339)],
    8: [(0, 0, 500), (0, 65534, 65535), (21844, 65534, 65535), (54613, 30000, 40000), (65535, 65535, 65535),
        (10921, 1, 2)],
    9: [(0, 0, 0, 0), (200, 0, 0, 100), (0, 255, 0, 0), (10, 20, 30, 40), (255, 255, 255, 255)],
}


def fmt_values(vals):
    return " ".join(repr(float(v)) if isinstance(v, float) else str(int(v)) for v in vals)


def main():
    lines = []
    for src in range(1, 10):
        for dst in range(1, 10):
            for px in SAMPLES[src]:
                lines.append("C %d %d %s | %s" % (src, dst, fmt_values(px), fmt_values(convert(src, dst, px))))
    for fmt in range(1, 10):
        for name, fn in GETTERS.items():
            for px in SAMPLES[fmt]:
                lines.append("G %d %s %s | %s" % (fmt, name, fmt_values(px), fmt_values(fn(fmt, px))))
        for name, (fn, inputs) in SETTERS.items():
            for v in inputs:
                lines.append("S %d %s %s | %s" % (fmt, name, fmt_values(v), fmt_values(fn(fmt, v))))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
