"""Synthetic images and image files for the tests: nothing is read from disk."""

import struct
import zlib

import numpy as np


def textured(height, width, seed=0, passes=3, radius=2):
    """Smoothed random noise stretched to 0..255: every window has its own structure."""
    rng = np.random.default_rng(seed)
    field = rng.random((height, width))
    for _ in range(passes):
        for axis in (0, 1):  # circular box blur
            field = sum(np.roll(field, shift, axis) for shift in range(-radius, radius + 1)) / (2 * radius + 1)
    field -= field.min()
    field *= 255.0 / field.max()
    return np.rint(field).astype(np.uint8)


def png_bytes(pixels, bit_depth=8):
    """A PNG file holding `pixels`: (h, w) gray, (h, w, 3) RGB or (h, w, 4) RGBA."""
    pixels = np.asarray(pixels)
    channels = 1 if pixels.ndim == 2 else pixels.shape[2]
    colour_type = {1: 0, 3: 2, 4: 6}[channels]
    height, width = pixels.shape[:2]
    sample = ">u2" if bit_depth == 16 else "u1"
    rows = pixels.astype(sample).reshape(height, -1)
    raw = b"".join(b"\x00" + row.tobytes() for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
