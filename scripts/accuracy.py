"""Accuracy benchmark on real photographs.

Cuts a 64x64 template from each of scikit-image's bundled photographs, moves the scene by a
known sub-pixel shift and (with rotation) turns it about the template's centre by a known
angle, then matches with the default configurations. Reports the success rate, the
position and angle errors and the time per match.
"""
import math
import sys
import time

import numpy as np
from scipy import ndimage
from skimage import color, data

import _quillet as q

SCENES = [
    "astronaut", "brick", "camera", "cat", "cell", "chelsea", "clock", "coffee", "coins",
    "colorwheel", "grass", "gravel", "hubble_deep_field", "immunohistochemistry", "logo",
    "microaneurysms", "moon", "page", "retina", "rocket", "text", "horse", "checkerboard",
]
TPL = 64
POS_TOL = 1.5   # pixels
ANGLE_TOL = 1.0  # degrees


def gray_u8(img):
    img = np.asarray(img)
    if img.ndim == 3:
        img = color.rgb2gray(img[..., :3])
    img = img.astype(np.float64)
    if img.max() <= 1.0:
        img = img * 255.0
    return np.clip(np.rint(img), 0, 255).astype(np.uint8)


def load_scenes():
    for name in SCENES:
        try:
            yield name, gray_u8(getattr(data, name)())
        except Exception as exc:  # a photo this version does not bundle
            print(f"skipping {name}: {exc}", file=sys.stderr)


def pick_template(img, rng):
    """The most textured of a few random 64x64 windows away from the border."""
    h, w = img.shape
    margin = TPL // 2 + 8
    best = None
    for _ in range(20):
        x = int(rng.integers(margin, w - TPL - margin))
        y = int(rng.integers(margin, h - TPL - margin))
        s = img[y:y + TPL, x:x + TPL].std()
        if best is None or s > best[0]:
            best = (s, x, y)
    return best[1], best[2]


def warp(img, cx, cy, angle_deg, sx, sy):
    """Content turned clockwise by angle_deg about (cx, cy), then moved by (sx, sy); bilinear."""
    h, w = img.shape
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)
    t = math.radians(angle_deg)
    dx, dy = xx - cx - sx, yy - cy - sy
    src_x = math.cos(t) * dx + math.sin(t) * dy + cx
    src_y = -math.sin(t) * dx + math.cos(t) * dy + cy
    out = ndimage.map_coordinates(img.astype(np.float64), [src_y, src_x], order=1, mode="reflect")
    return np.clip(np.rint(out), 0, 255).astype(np.uint8)


def run(rotation):
    rng = np.random.default_rng(2026)
    rows = []
    for name, img in load_scenes():
        if min(img.shape) < TPL * 2 + 40:
            continue
        x, y = pick_template(img, rng)
        sx, sy = rng.uniform(-0.5, 0.5, size=2)
        angle = float(rng.uniform(-180, 180)) if rotation else 0.0
        scene = warp(img, x + (TPL - 1) / 2, y + (TPL - 1) / 2, angle, sx, sy)
        tpl = q.Template(np.ascontiguousarray(img[y:y + TPL, x:x + TPL]))
        compiled = tpl.compile() if rotation else tpl.compile_no_rotation()
        matcher = compiled.matcher(q.MatchConfig(rotation="enabled" if rotation else "disabled"))
        start = time.perf_counter()
        try:
            m = matcher.match_image(scene)
        except RuntimeError as exc:
            rows.append((name, None, None, time.perf_counter() - start, str(exc)))
            continue
        elapsed = time.perf_counter() - start
        pos_err = math.hypot(m.x - (x + sx), m.y - (y + sy))
        ang_err = abs((m.angle_deg - angle + 180) % 360 - 180)
        rows.append((name, pos_err, ang_err, elapsed, ""))
    return rows


def report(title, rows):
    ok = [r for r in rows if r[1] is not None and r[1] <= POS_TOL and r[2] <= ANGLE_TOL]
    print(f"\n{title}: {len(ok)}/{len(rows)} found (position within {POS_TOL} px, angle within {ANGLE_TOL} deg)")
    print(f"{'scene':24} {'pos err px':>10} {'angle err':>10} {'ms':>8}")
    for name, pe, ae, t, msg in rows:
        pe_s = f"{pe:10.3f}" if pe is not None else f"{'-':>10}"
        ae_s = f"{ae:10.3f}" if ae is not None else f"{'-':>10}"
        print(f"{name:24} {pe_s} {ae_s} {t * 1000:8.1f} {msg}")
    if ok:
        print(f"found: median position error {np.median([r[1] for r in ok]):.3f} px, "
              f"median angle error {np.median([r[2] for r in ok]):.3f} deg, "
              f"median time {np.median([r[3] for r in rows]) * 1000:.1f} ms")


if __name__ == "__main__":
    report("Without rotation (default configs)", run(rotation=False))
    report("With rotation (default configs)", run(rotation=True))
