"""Synthetic tracking movies and their truth.

usage: track_movie.py discs OUT_DIR | patch OUT_DIR

discs: 60 RGB frames of 240 x 180: flat discs on low-saturation noise, each
on its own sub-pixel path (one red across the hue wrap, one crossing another,
one too fast for its box, one hidden by an opaque bar in frames 40-49).
Writes frames.rgb (frames one after another, rows top first) and truth.txt
with one line per frame and disc:
  frame disc true_x true_y drawn_pixels full_pixels centroid_x centroid_y x0 y0 x1 y1
(the centroid and the bounding box of the disc's drawn pixels).

patch: 40 frames of 200 x 160 with a band-limited textured patch moving on
a sub-pixel path (shift), then 40 frames of the same patch turning 3 degrees
a frame about a fixed centre (turn). Writes shift.rgb, turn.rgb and
truth.txt lines: 'shift' or 'turn', frame, centre x, centre y; and 'opencv',
frame, x, y: OpenCV's TM_SQDIFF match (parabolic peak) of the frame-0
template, as a template centre.
"""
import math
import sys

import numpy as np

W, H, N = 240, 180, 60


def disc_paths(t):
    return [
        (30 + 1.37 * t, 40 + 0.61 * t, 9),                                   # 0 red, split across the hue wrap
        (120 + 60 * math.cos(0.05 * t), 90 + 40 * math.sin(0.05 * t), 12),  # 1 green, curved
        (72.43 + 4.0 * t, 166.37 - 2.0 * t, 8),                              # 2 blue, crosses the green one
        (10.3 + 18.2 * t, 12.4, 6),                                          # 3 magenta, fast
        (200.2 - 0.8 * t, 40.3 + 1.1 * t, 10),                               # 4 cyan, hidden in 40-49
    ]


COLOURS = [None, (0, 200, 0), (0, 0, 230), (220, 0, 220), (0, 200, 200)]


def discs(out):
    rng = np.random.default_rng(7)
    yy, xx = np.mgrid[0:H, 0:W]
    frames = open(out + '/frames.rgb', 'wb')
    truth = open(out + '/truth.txt', 'w')
    for t in range(N):
        base = rng.integers(90, 111, size=(H, W, 1))
        img = np.clip(base + rng.integers(-6, 7, size=(H, W, 3)), 0, 255).astype(np.uint8)
        owner = np.full((H, W), -1)
        full = []
        for i, (cx, cy, r) in enumerate(disc_paths(t)):
            inside = (xx - cx) ** 2 + (yy - cy) ** 2 <= r * r
            full.append(int(inside.sum()))
            if i == 0:
                img[inside & (xx < cx)] = (255, 0, 24)
                img[inside & (xx >= cx)] = (255, 24, 0)
            else:
                img[inside] = COLOURS[i]
            owner[inside] = i
        if 40 <= t <= 49:
            bar = (xx >= 150) & (yy >= 55) & (yy <= 125)
            img[bar] = (128, 128, 128)
            owner[bar] = -1
        frames.write(img.tobytes())
        for i, (cx, cy, r) in enumerate(disc_paths(t)):
            ys, xs = np.nonzero(owner == i)
            if len(xs):
                truth.write('%d %d %.17g %.17g %d %d %.17g %.17g %d %d %d %d\n' % (
                    t, i, cx, cy, len(xs), full[i], xs.mean(), ys.mean(), xs.min(), ys.min(), xs.max(), ys.max()))
            else:
                truth.write('%d %d %.17g %.17g 0 %d -1 -1 -1 -1 -1 -1\n' % (t, i, cx, cy, full[i]))
    frames.close()
    truth.close()


def texture(size, rng):
    """Band-limited noise: a random spectrum cut to low frequencies."""
    f = np.fft.fftfreq(size)
    fy, fx = np.meshgrid(f, f, indexing='ij')
    keep = np.hypot(fx, fy) < 0.15
    spec = (rng.normal(size=(size, size)) + 1j * rng.normal(size=(size, size))) * keep
    img = np.real(np.fft.ifft2(spec))
    return (img - img.min()) / (img.max() - img.min())


def patch(out):
    import cv2
    rng = np.random.default_rng(11)
    pw, ph, n = 200, 160, 40
    tex = texture(512, rng)
    colour = np.stack([tex, np.roll(tex, 37, axis=0), np.roll(tex, 71, axis=1)], axis=2)
    big = (40 + 180 * colour).astype(np.float32)
    truth = open(out + '/truth.txt', 'w')
    bg = np.full((ph, pw, 3), 128, np.float32)
    yy, xx = np.mgrid[0:ph, 0:pw]
    # shift: a 61 x 61 window of the texture over a flat background, moved by
    # cubic resampling.
    frames = []
    for t in range(n):
        cx, cy = 60 + 1.73 * t, 50 + 0.91 * t + 6 * math.sin(0.2 * t)
        m = np.float32([[1, 0, cx - 256], [0, 1, cy - 256]])
        moved = cv2.warpAffine(big, m, (pw, ph), flags=cv2.INTER_CUBIC, borderMode=cv2.BORDER_REFLECT)
        mask = ((np.abs(xx - cx) <= 30) & (np.abs(yy - cy) <= 30))[..., None]
        img = np.where(mask, moved, bg)
        frames.append(np.clip(np.rint(img), 0, 255).astype(np.uint8))
        truth.write('shift %d %.17g %.17g\n' % (t, cx, cy))
    open(out + '/shift.rgb', 'wb').write(b''.join(f.tobytes() for f in frames))
    tmpl = frames[0][50 - 16:50 + 17, 60 - 16:60 + 17]
    for t in range(n):
        res = cv2.matchTemplate(frames[t], tmpl, cv2.TM_SQDIFF)
        _, _, (bx, by), _ = cv2.minMaxLoc(res)

        def peak(a, b, c):
            d = a - 2 * b + c
            return 0.0 if d == 0 else 0.5 * (a - c) / d
        ox = peak(res[by, bx - 1], res[by, bx], res[by, bx + 1]) if 0 < bx < res.shape[1] - 1 else 0
        oy = peak(res[by - 1, bx], res[by, bx], res[by + 1, bx]) if 0 < by < res.shape[0] - 1 else 0
        truth.write('opencv %d %.17g %.17g\n' % (t, bx + ox + 16, by + oy + 16))
    # turn: the patch turned 3 degrees a frame about a fixed centre.
    frames = []
    cx, cy = 100.0, 80.0
    for t in range(n):
        m = cv2.getRotationMatrix2D((256.0, 256.0), 3.0 * t, 1.0)
        m[0, 2] += cx - 256
        m[1, 2] += cy - 256
        moved = cv2.warpAffine(big, m, (pw, ph), flags=cv2.INTER_CUBIC, borderMode=cv2.BORDER_REFLECT)
        mask = (np.hypot(xx - cx, yy - cy) <= 40)[..., None]
        img = np.where(mask, moved, bg)
        frames.append(np.clip(np.rint(img), 0, 255).astype(np.uint8))
        truth.write('turn %d %.17g %.17g\n' % (t, cx, cy))
    open(out + '/turn.rgb', 'wb').write(b''.join(f.tobytes() for f in frames))
    truth.close()


if __name__ == '__main__':
    {'discs': discs, 'patch': patch}[sys.argv[1]](sys.argv[2])
