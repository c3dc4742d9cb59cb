"""Array intake and outtake, argument conversion, and the standalone rotation."""

import ctypes
import ctypes.util
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import _quillet as q
from imagegen import textured

NOT_CONTIGUOUS = "The given array is not contiguous or is misaligned."

libm = ctypes.CDLL(ctypes.util.find_library("m"))
for _name in ("sinf", "cosf"):
    getattr(libm, _name).restype = ctypes.c_float
    getattr(libm, _name).argtypes = [ctypes.c_float]

DEG_TO_RAD = np.array([0x3C8EFA35], dtype=np.uint32).view(np.float32)[0]


def reference_rotation(image, angle_deg, fill_value):
    """Bilinear masked rotation in 32-bit floats, one operation at a time in the stated order."""
    f32 = np.float32
    height, width = image.shape
    rotated = np.full((height, width), fill_value, np.uint8)
    mask = np.zeros((height, width), np.uint8)
    if width < 2 or height < 2:
        return rotated, mask
    with np.errstate(over="ignore"):
        theta = f32(angle_deg) * DEG_TO_RAD
    s, c = f32(libm.sinf(theta)), f32(libm.cosf(theta))
    mx, my = f32(width) - f32(1), f32(height) - f32(1)
    cx, cy = mx * f32(0.5), my * f32(0.5)
    dx = np.arange(width, dtype=f32)[None, :] - cx
    dy = np.arange(height, dtype=f32)[:, None] - cy
    a, b = s * dy, dy * c
    src_x = (c * dx + a) + cx
    src_y = (b - dx * s) + cy
    with np.errstate(invalid="ignore"):
        valid = np.isfinite(src_x) & np.isfinite(src_y)
        valid &= (src_x >= 0) & (src_y >= 0) & (src_x <= mx) & (src_y <= my)
    x0 = np.floor(np.where(valid, src_x, 0)).astype(np.int64)
    y0 = np.floor(np.where(valid, src_y, 0)).astype(np.int64)
    valid &= (x0 + 1 < width) & (y0 + 1 < height)
    x0, y0 = np.where(valid, x0, 0), np.where(valid, y0, 0)
    tx, ty = src_x - x0.astype(f32), src_y - y0.astype(f32)
    pixel = image.astype(f32)
    p00, p10 = pixel[y0, x0], pixel[y0, x0 + 1]
    p01, p11 = pixel[y0 + 1, x0], pixel[y0 + 1, x0 + 1]
    one = f32(1)
    w00, w10 = (one - ty) * (one - tx), (one - ty) * tx
    w01, w11 = ty * (one - tx), ty * tx
    value = ((p10 * w10 + p00 * w00) + p01 * w01) + p11 * w11
    wide = np.where(valid, value, 0).astype(np.float64)
    rounded = np.clip(np.copysign(np.floor(np.abs(wide) + 0.5), wide), 0, 255).astype(np.uint8)
    rotated[valid] = rounded[valid]
    mask[valid] = 1
    return rotated, mask


@pytest.mark.parametrize("angle", [0.0, 30.0, 90.0, -45.0, float("nan"), 1e39])
@pytest.mark.parametrize("shape", [(29, 37), (40, 40), (1, 9)])
def test_rotation_equals_the_reference_bit_for_bit(angle, shape):
    image = np.random.default_rng(7).integers(0, 256, shape, dtype=np.uint8)
    rotated, mask = q.rotate_u8_bilinear_masked(image, angle, 7)
    expected_rotated, expected_mask = reference_rotation(image, angle, 7)
    np.testing.assert_array_equal(mask, expected_mask)
    np.testing.assert_array_equal(rotated, expected_rotated)


def test_rotation_by_zero_keeps_the_top_left_block():
    image = textured(12, 15)
    rotated, mask = q.rotate_u8_bilinear_masked(image, 0.0, fill_value=255)
    np.testing.assert_array_equal(rotated[:-1, :-1], image[:-1, :-1])
    assert mask.sum() == 11 * 14 and not mask[-1].any() and not mask[:, -1].any()
    assert (rotated[-1] == 255).all() and (rotated[:, -1] == 255).all()


def test_rotation_returns_new_writeable_c_ordered_arrays():
    image = textured(20, 30)
    before = image.copy()
    result = q.rotate_u8_bilinear_masked(image, 30)
    assert isinstance(result, tuple) and len(result) == 2
    for array in result:
        assert array.dtype == np.uint8 and array.shape == (20, 30)
        assert array.flags.c_contiguous and array.flags.writeable
        assert not np.shares_memory(array, image)
    rotated, mask = result
    assert set(np.unique(mask)) <= {0, 1}
    rotated[:] = 0
    mask[:] = 9
    np.testing.assert_array_equal(image, before)


def test_fortran_ordered_input_reads_pixels_in_place():
    image = np.random.default_rng(3).integers(0, 256, (23, 31), dtype=np.uint8)
    fortran = np.asfortranarray(image)
    for got, want in zip(q.rotate_u8_bilinear_masked(fortran, 30), q.rotate_u8_bilinear_masked(image, 30)):
        np.testing.assert_array_equal(got, want)
    transposed = image.T  # a Fortran-ordered view
    for got, want in zip(q.rotate_u8_bilinear_masked(transposed, 30),
                         q.rotate_u8_bilinear_masked(np.ascontiguousarray(transposed), 30)):
        np.testing.assert_array_equal(got, want)


def test_accepted_array_variants():
    image = textured(10, 12)

    class Sub(np.ndarray):
        pass

    readonly = np.frombuffer(image.tobytes(), dtype=np.uint8).reshape(10, 12)
    big_endian_u8 = image.astype(np.dtype(">u1"))
    for variant in (image.view(Sub), readonly, big_endian_u8):
        np.testing.assert_array_equal(q.rotate_u8_bilinear_masked(variant, 10)[0],
                                      q.rotate_u8_bilinear_masked(image, 10)[0])


@pytest.mark.parametrize(
    "bad",
    [np.zeros((4, 4)), np.zeros((4, 4, 1), np.uint8), np.zeros(4, np.uint8), [[1, 2], [3, 4]], None],
)
def test_non_images_fail_conversion_naming_the_parameter(bad):
    with pytest.raises(TypeError, match="'image'"):
        q.rotate_u8_bilinear_masked(bad, 0.0)
    with pytest.raises(TypeError, match="'pixels'"):
        q.Template(bad)
    with pytest.raises(TypeError, match="'template'"):
        q.match_template(np.zeros((4, 4), np.uint8), bad)


def test_non_contiguous_array_is_refused():
    image = textured(10, 20)[:, ::2]
    with pytest.raises(TypeError) as raised:
        q.rotate_u8_bilinear_masked(image, 0.0)
    assert str(raised.value) == NOT_CONTIGUOUS
    with pytest.raises(TypeError) as raised:
        q.Template(image)
    assert str(raised.value) == NOT_CONTIGUOUS


@pytest.mark.parametrize("shape", [(0, 5), (5, 0)])
def test_empty_array_reports_its_dimensions(shape):
    with pytest.raises(RuntimeError) as raised:
        q.rotate_u8_bilinear_masked(np.zeros(shape, np.uint8), 0.0)
    assert str(raised.value) == f"invalid dimensions: width={shape[1]} height={shape[0]}"


def test_empty_non_contiguous_array_is_not_examined():
    empty = np.zeros((0, 10), np.uint8)[:, ::2]
    with pytest.raises(RuntimeError, match="invalid dimensions: width=5 height=0"):
        q.rotate_u8_bilinear_masked(empty, 0.0)


@pytest.mark.parametrize(
    "kwargs, exception, name",
    [
        (dict(fill_value=256), OverflowError, "fill_value"),
        (dict(fill_value=-1), OverflowError, "fill_value"),
        (dict(fill_value=1.0), TypeError, "fill_value"),
        (dict(angle_deg="30"), TypeError, "angle_deg"),
        (dict(angle_deg="30", fill_value=256), TypeError, "angle_deg"),
        (dict(image=[1], angle_deg="30", fill_value=256), TypeError, "image"),
    ],
)
def test_arguments_convert_in_order(kwargs, exception, name):
    arguments = dict(image=np.zeros((3, 3), np.uint8), angle_deg=0.0) | kwargs
    with pytest.raises(exception, match=f"'{name}'"):
        q.rotate_u8_bilinear_masked(**arguments)


def test_missing_and_unexpected_keyword_arguments():
    with pytest.raises(TypeError):
        q.rotate_u8_bilinear_masked(np.zeros((3, 3), np.uint8))
    with pytest.raises(TypeError):
        q.rotate_u8_bilinear_masked(np.zeros((3, 3), np.uint8), 0.0, fill=1)


def test_fill_value_limits_and_integer_like_angles():
    image = textured(6, 6)
    assert (q.rotate_u8_bilinear_masked(image, 0, 255)[0][-1] == 255).all()
    np.testing.assert_array_equal(q.rotate_u8_bilinear_masked(image, np.int64(30), np.uint8(3))[0],
                                  q.rotate_u8_bilinear_masked(image, 30.0, 3)[0])


def test_exhausted_memory_raises_memory_error():
    script = textwrap.dedent("""
        import resource
        import numpy as np
        import _quillet as q
        image = np.zeros((12000, 12000), np.uint8)
        with open("/proc/self/status") as status:
            size = next(int(line.split()[1]) for line in status if line.startswith("VmSize:")) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size + (200 << 20),) * 2)
        try:
            q.rotate_u8_bilinear_masked(image, 10.0)
        except MemoryError:
            print("MemoryError")
        print(q.rotate_u8_bilinear_masked(np.eye(3, dtype=np.uint8), 0.0)[1].sum())
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=os.environ, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError", "4"]
