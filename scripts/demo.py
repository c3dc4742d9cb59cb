"""Finds rotated copies of a template in a synthetic scene and draws where they were found.

Everything is generated here: a textured scene, a template, and three copies of the template
pasted into the scene at known positions and angles. The result goes to out/demo.png.
"""

import math
import pathlib
import struct
import time
import zlib

import numpy as np

import _quillet as q

OUT = pathlib.Path(__file__).resolve().parent.parent / "out" / "demo.png"
# (x, y, angle in degrees) of each pasted copy: the rotated template frame's top-left corner.
PLACEMENTS = [(60.0, 50.0, 25.0), (300.0, 90.0, -70.0), (180.0, 230.0, 140.0)]


def textured(height, width, seed, radius=4, passes=3):
    """Smoothed random noise stretched to 0..255."""
    field = np.random.default_rng(seed).random((height, width))
    for _ in range(passes):
        for axis in (0, 1):
            field = sum(np.roll(field, shift, axis) for shift in range(-radius, radius + 1))
    field -= field.min()
    return np.rint(field * (255.0 / field.max())).astype(np.uint8)


def paste_rotated(scene, template, x, y, angle):
    rotated, mask = q.rotate_u8_bilinear_masked(template, angle)
    h, w = template.shape
    region = scene[int(y):int(y) + h, int(x):int(x) + w]
    region[mask == 1] = rotated[mask == 1]


def outline(width, height, match):
    """The corners of the template frame placed and turned as the match says."""
    half_w, half_h = (width - 1) / 2, (height - 1) / 2
    cx, cy = match.x + half_w, match.y + half_h
    s, c = math.sin(math.radians(match.angle_deg)), math.cos(math.radians(match.angle_deg))
    corners = [(-half_w, -half_h), (half_w, -half_h), (half_w, half_h), (-half_w, half_h)]
    return [(cx + c * u - s * v, cy + s * u + c * v) for u, v in corners]


def draw_polygon(rgb, points, colour):
    height, width = rgb.shape[:2]
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        steps = int(max(abs(x1 - x0), abs(y1 - y0))) * 2 + 1
        for t in np.linspace(0.0, 1.0, steps):
            x, y = round(x0 + t * (x1 - x0)), round(y0 + t * (y1 - y0))
            if 0 <= x < width and 0 <= y < height:
                rgb[y, x] = colour


def write_png(path, rgb):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    height, width = rgb.shape[:2]
    raw = b"".join(b"\x00" + row.tobytes() for row in rgb)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def main():
    scene = textured(360, 480, seed=1)
    template = textured(64, 64, seed=2)
    for x, y, angle in PLACEMENTS:
        paste_rotated(scene, template, x, y, angle)
    print(f"scene {scene.shape[1]}x{scene.shape[0]}, template {template.shape[1]}x{template.shape[0]}")
    print("pasted: " + ", ".join(f"(x={x:.0f}, y={y:.0f}, angle={a:.0f})" for x, y, a in PLACEMENTS))

    start = time.perf_counter()
    compiled = q.Template(template).compile(q.CompileConfig())
    print(f"compiled with rotation: {compiled!r} in {time.perf_counter() - start:.3f} s")
    matcher = compiled.matcher(q.MatchConfig(rotation="enabled", parallel=True))

    start = time.perf_counter()
    best = matcher.match_image(scene)
    print(f"match_image: {best!r} in {time.perf_counter() - start:.3f} s")
    start = time.perf_counter()
    matches = matcher.match_topk(scene, len(PLACEMENTS))
    print(f"match_topk(k={len(PLACEMENTS)}) in {time.perf_counter() - start:.3f} s:")
    for match in matches:
        print(f"  {match!r}")

    rgb = np.repeat(scene[:, :, None], 3, axis=2)
    for match in matches:
        draw_polygon(rgb, outline(template.shape[1], template.shape[0], match), (255, 40, 40))
    write_png(OUT, rgb)
    print(f"wrote {OUT}")


if __name__ == "__main__":
    main()
