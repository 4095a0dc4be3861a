"""Independent model of the filter-array kernels, written from the rules with
plain Python loops over numpy arrays (small images only): the mosaic by
slicing, the linear demosaic and the adaptive colour plane interpolation.

Arrays are indexed [y, x]; a mosaic is 2-D, colour is [y, x, 3] (R, G, B).
Cell codes: 1 red, 2 green, 3 blue, -1 no filter."""
import math

import numpy as np

PATTERNS = [
    [[2, 1], [3, 2]],
    [[2, 3], [1, 2]],
    [[1, 2], [2, 3]],
    [[3, 2], [2, 1]],
    [[2, 3, 2, 2, 1, 2], [1, 2, 1, 3, 2, 3], [2, 3, 2, 2, 1, 2],
     [2, 1, 2, 2, 3, 2], [3, 2, 3, 1, 2, 1], [2, 1, 2, 2, 3, 2]],
    [[2, 3, 2, 2, 1, 2], [1, 2, 1, 3, 2, 3], [2, 3, 2, 2, 1, 2],
     [-1, 1, -1, -1, 3, -1], [3, 2, 3, 1, 2, 1], [-1, 1, 2, -1, 3, 2]],
]


def code_map(pattern, h, w):
    p = np.array(PATTERNS[pattern])
    reps = (h // p.shape[0] + 1, w // p.shape[1] + 1)
    return np.tile(p, reps)[:h, :w]


def code_at(pattern, x, y):
    p = PATTERNS[pattern]
    return p[y % len(p)][x % len(p[0])]


def rnd(v, top):
    """Add 0.5, clamp to the 32-bit range (NaN: 0), truncate, limit to top."""
    v = v + 0.5
    if not (v > 0):
        return 0
    if v >= 4294967295.0:
        return min(4294967295, top)
    return min(int(math.trunc(v)), top)


def mosaic(rgb, pattern, gains, top):
    """Mosaic of a colour image by slicing: each channel where its cell is."""
    h, w = rgb.shape[:2]
    codes = code_map(pattern, h, w)
    out = np.zeros((h, w), np.float64)
    for ch in (1, 2, 3):
        plane = rgb[:, :, ch - 1].astype(np.float64)
        if gains is not None:
            plane = plane / gains[ch]
        out[codes == ch] = plane[codes == ch]
    if gains is None:
        return out.astype(np.uint64)
    return np.vectorize(lambda v: rnd(v, top), otypes=[np.uint64])(out)


def linear(m, pattern, gains, top, region):
    """Mode 1 over region (x0, y0, x1, y1); returns the [y, x, 3] result of
    the region's pixels. 2 x 2 patterns read m at its own depth; XTRANS
    patterns read m widened to 32 bits (pass it so) and narrow by `shift`."""
    h, w = m.shape
    x0, y0, x1, y1 = region
    out = np.zeros((y1 - y0 + 1, x1 - x0 + 1, 3), np.uint64)
    g = gains if gains is not None else [1.0, 1.0, 1.0, 1.0]

    def inside(x, y):
        return 0 <= x < w and 0 <= y < h

    def mean(pts):
        vals = [float(m[y, x]) for x, y in pts if inside(x, y)]
        return sum(vals) / len(vals)

    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            code = code_at(pattern, x, y)
            if len(PATTERNS[pattern]) == 2:
                c = float(m[y, x])
                H = mean([(x - 1, y), (x + 1, y)])
                V = mean([(x, y - 1), (x, y + 1)])
                D = mean([(x - 1, y - 1), (x + 1, y - 1), (x - 1, y + 1), (x + 1, y + 1)])
                if code == 1:
                    R, G, B = c, (H + V) / 2, D
                elif code == 3:
                    R, G, B = D, (H + V) / 2, c
                else:
                    G = c
                    if code_at(pattern, x + 1, y) == 1:
                        R, B = H, V
                    else:
                        R, B = V, H
                vals = [rnd(v * g[k + 1], top) for k, v in enumerate((R, G, B))]
            else:
                nb = [(-1, -1, 2), (0, -1, 3), (1, -1, 2), (1, 0, 3), (1, 1, 2), (0, 1, 3), (-1, 1, 2), (-1, 0, 3)]
                vals = []
                for ch in (1, 2, 3):
                    if ch == code:
                        v = float(m[y, x])
                    else:
                        s = wt = 0.0
                        for dx, dy, k in nb:
                            if inside(x + dx, y + dy) and code_at(pattern, x + dx, y + dy) == ch:
                                s += k * float(m[y + dy, x + dx])
                                wt += k
                        v = s / wt if wt > 0 else 0.0
                    vals.append(rnd(v * g[ch], 4294967295))
            out[y - y0, x - x0] = vals
    return out


def acpi(m, pattern, gains, top, region):
    """Mode 2 over region; m is the mosaic at the group's depth. The green
    plane is computed over the region grown by one pixel."""
    m = m.astype(np.float64).copy()
    h, w = m.shape
    x0, y0, x1, y1 = region

    def inside(x, y):
        return 0 <= x < w and 0 <= y < h

    if gains is not None:
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                code = code_at(pattern, x, y)
                k = 1 if code == 1 else 2 if code == 2 else 3
                m[y, x] = rnd(m[y, x] * gains[k], top)
    P = np.zeros((h, w), np.float64)
    for y in range(max(y0 - 1, 0), min(y1 + 1, h - 1) + 1):
        for x in range(max(x0 - 1, 0), min(x1 + 1, w - 1) + 1):
            if code_at(pattern, x, y) == 2:
                P[y, x] = m[y, x]
                continue
            hc = x - 2 >= 0 and x + 2 < w
            vc = y - 2 >= 0 and y + 2 < h
            if hc:
                H = [m[y, x + d] for d in range(-2, 3)]
                dH = abs(2 * H[2] - H[0] - H[4]) + abs(H[1] - H[3])
                EH = (H[1] + H[3]) / 2 + (2 * H[2] - H[0] - H[4]) / 4
            if vc:
                V = [m[y + d, x] for d in range(-2, 3)]
                dV = abs(2 * V[2] - V[0] - V[4]) + abs(V[1] - V[3])
                EV = (V[1] + V[3]) / 2 + (2 * V[2] - V[0] - V[4]) / 4
            if hc and vc:
                if dV < dH:
                    e = EV
                elif dH < dV:
                    e = EH
                else:
                    e = (H[1] + H[3] + V[1] + V[3]) / 4 + (4 * H[2] - H[0] - H[4] - V[0] - V[4]) / 8
            elif hc:
                e = EH
            elif vc:
                e = EV
            else:
                vals = [m[y + dy, x + dx] for dx, dy in ((-1, 0), (1, 0), (0, -1), (0, 1)) if inside(x + dx, y + dy)]
                e = sum(vals) / len(vals)
            P[y, x] = rnd(e, top)
    out = np.zeros((y1 - y0 + 1, x1 - x0 + 1, 3), np.uint64)
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            code = code_at(pattern, x, y)
            right_red = code_at(pattern, x + 1, y) == 1
            G = P[y, x]

            def M(dx, dy):
                return m[y + dy, x + dx]

            def Pp(dx, dy):
                return P[y + dy, x + dx]
            if all(inside(x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                if code == 2:
                    XH = (M(-1, 0) + M(1, 0)) / 2 + (2 * G - Pp(-1, 0) - Pp(1, 0)) / 4
                    XV = (M(0, -1) + M(0, 1)) / 2 + (2 * G - Pp(0, -1) - Pp(0, 1)) / 4
                    R, B = (XH, XV) if right_red else (XV, XH)
                else:
                    dA = abs(2 * G - Pp(1, -1) - Pp(-1, 1)) + abs(M(1, -1) - M(-1, 1))
                    dD = abs(2 * G - Pp(-1, -1) - Pp(1, 1)) + abs(M(-1, -1) - M(1, 1))
                    if dA < dD:
                        est = (M(1, -1) + M(-1, 1)) / 2 + (2 * G - Pp(1, -1) - Pp(-1, 1)) / 4
                    elif dA > dD:
                        est = (M(-1, -1) + M(1, 1)) / 2 + (2 * G - Pp(-1, -1) - Pp(1, 1)) / 4
                    else:
                        diag = [(1, -1), (-1, 1), (-1, -1), (1, 1)]
                        est = sum(M(*d) for d in diag) / 4 + (4 * G - sum(Pp(*d) for d in diag)) / 8
                    R, B = (M(0, 0), est) if code == 1 else (est, M(0, 0))
            else:
                def mean(pts):
                    vals = [M(dx, dy) for dx, dy in pts if inside(x + dx, y + dy)]
                    return sum(vals) / len(vals)
                if code == 2:
                    hh = mean([(-1, 0), (1, 0)])
                    vv = mean([(0, -1), (0, 1)])
                    R, B = (hh, vv) if right_red else (vv, hh)
                else:
                    d = mean([(-1, -1), (1, -1), (-1, 1), (1, 1)])
                    R, B = (M(0, 0), d) if code == 1 else (d, M(0, 0))
            out[y - y0, x - x0] = [rnd(R, top), int(G), rnd(B, top)]
    return out
