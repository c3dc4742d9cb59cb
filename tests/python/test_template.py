import os
import pathlib

import numpy as np
import pytest

import _quillet as q
from imagegen import png_bytes, textured

SCENE = textured(120, 140, seed=11)
CUT = (37, 29)  # x, y of the template inside SCENE
PATCH = SCENE[CUT[1]:CUT[1] + 40, CUT[0]:CUT[0] + 48].copy()


def best(template):
    """The template's best unrotated match in SCENE, as exact values."""
    m = template.compile_no_rotation().matcher().match_image(SCENE)
    return m.x, m.y, m.angle_deg, m.score


def test_template_shape_and_repr():
    template = q.Template(np.zeros((48, 64), np.uint8))
    assert (template.width, template.height) == (64, 48)
    assert repr(template) == "Template(64x48)"


def test_template_copies_the_pixels():
    pixels = PATCH.copy()
    template = q.Template(pixels)
    pixels[:] = 0  # a template still referencing this memory would now be flat
    assert best(template) == best(q.Template(PATCH))


def test_fortran_ordered_template_keeps_its_pixels_in_place():
    assert best(q.Template(np.asfortranarray(PATCH))) == best(q.Template(PATCH))


@pytest.mark.parametrize("shape", [(0, 5), (5, 0)])
def test_empty_template_reports_its_dimensions(shape):
    with pytest.raises(RuntimeError) as raised:
        q.Template(np.zeros(shape, np.uint8))
    assert str(raised.value) == f"invalid dimensions: width={shape[1]} height={shape[0]}"


def test_compile_no_rotation():
    template = q.Template(PATCH[:32, :32].copy())
    compiled = template.compile_no_rotation()
    assert repr(compiled) == f"CompiledTemplate(num_levels={compiled.num_levels})"
    assert template.compile_no_rotation(1).num_levels == 1
    assert template.compile_no_rotation(max_levels=2).num_levels == 2
    with pytest.raises(RuntimeError) as raised:
        template.compile_no_rotation(0)
    assert str(raised.value) == "invalid config: max_levels must be at least 1"
    with pytest.raises(OverflowError, match="'max_levels'"):
        template.compile_no_rotation(-1)
    with pytest.raises(TypeError, match="'max_levels'"):
        template.compile_no_rotation(2.0)


def test_flat_template_is_made_but_does_not_compile():
    template = q.Template(np.full((20, 20), 9, np.uint8))
    for compile_ in (template.compile_no_rotation, template.compile):
        with pytest.raises(RuntimeError) as raised:
            compile_()
        assert str(raised.value) == "degenerate template: zero variance"


def test_64_pixel_square_keeps_four_levels_with_and_without_rotation():
    template = q.Template(textured(64, 64, seed=5))
    assert repr(template.compile_no_rotation()) == "CompiledTemplate(num_levels=4)"
    assert repr(template.compile()) == "CompiledTemplate(num_levels=4)"


def test_compile_defaults_are_equivalent():
    template = q.Template(PATCH)
    compiled = [template.compile(), template.compile(None), template.compile(q.CompileConfig()),
                template.compile(config=q.CompileConfig())]
    config = q.MatchConfig(rotation="enabled")
    results = {repr(c.matcher(config).match_image(SCENE)) for c in compiled}
    assert len(results) == 1 and len({c.num_levels for c in compiled}) == 1


def test_compile_refuses_other_config_classes():
    template = q.Template(PATCH)
    for wrong in (q.MatchConfig(), {}, 6):
        with pytest.raises(TypeError, match="'config'"):
            template.compile(wrong)


def test_template_too_thin_for_rotation():
    with pytest.raises(RuntimeError) as raised:
        q.Template(textured(20, 2)).compile()
    assert str(raised.value) == "degenerate template: template too small for rotation"


# ---- loading from files ------------------------------------------------------------------

def write(path, data):
    path.write_bytes(data)
    return str(path)


def test_gray_png_loads_unchanged(tmp_path):
    template = q.Template.from_file(write(tmp_path / "patch.png", png_bytes(PATCH)))
    assert (template.width, template.height) == (48, 40)
    assert best(template) == best(q.Template(PATCH))


def test_extension_case_is_ignored_and_instances_can_load(tmp_path):
    path = write(tmp_path / "PATCH.PNG", png_bytes(PATCH))
    assert best(q.Template(PATCH).from_file(path)) == best(q.Template(PATCH))


def test_sixteen_bit_png_is_reduced_to_eight_bits(tmp_path):
    template = q.Template.from_file(write(tmp_path / "deep.png", png_bytes(PATCH.astype(np.uint16) * 257, 16)))
    assert best(template) == best(q.Template(PATCH))


@pytest.mark.parametrize("channels", [3, 4])
def test_colour_png_becomes_one_luminance_byte_per_pixel(tmp_path, channels):
    rgb = np.dstack([PATCH, np.flipud(PATCH), 255 - PATCH, PATCH][:channels])
    template = q.Template.from_file(write(tmp_path / "colour.png", png_bytes(rgb)))
    assert (template.width, template.height) == (48, 40)


def test_jpeg_loads_as_luminance(tmp_path):
    image = pytest.importorskip("PIL.Image")
    path = tmp_path / "patch.jpg"
    image.fromarray(PATCH).save(path, quality=95)
    template = q.Template.from_file(str(path))
    assert (template.width, template.height) == (48, 40)
    x, y, _, score = best(template)
    assert (round(x), round(y)) == CUT and score > 0.99


@pytest.mark.parametrize(
    "name, data",
    [
        ("patch.txt", png_bytes(PATCH)),          # the format comes from the name, not the content
        ("patch", png_bytes(PATCH)),
        ("patch.png", png_bytes(PATCH)[:60]),     # truncated
        ("patch.png", b"not a png at all"),
        ("patch.jpg", png_bytes(PATCH)),
    ],
)
def test_unreadable_files_raise_image_io_errors(tmp_path, name, data):
    with pytest.raises(RuntimeError, match="^image io error: .+"):
        q.Template.from_file(write(tmp_path / name, data))


def test_missing_file(tmp_path):
    with pytest.raises(RuntimeError) as raised:
        q.Template.from_file(str(tmp_path / "absent.png"))
    assert str(raised.value) == "image io error: No such file or directory (os error 2)"


def test_path_must_be_a_str(tmp_path):
    path = pathlib.Path(write(tmp_path / "patch.png", png_bytes(PATCH)))
    for wrong in (path, bytes(path), None):
        with pytest.raises(TypeError, match="'path'"):
            q.Template.from_file(wrong)


def test_path_uses_the_file_system_encoding(tmp_path):
    name = os.fsdecode(os.fsencode(str(tmp_path)) + b"/\xff.png")  # not valid UTF-8 on disk
    assert best(q.Template.from_file(write(pathlib.Path(name), png_bytes(PATCH)))) == best(q.Template(PATCH))
    with pytest.raises(ValueError, match="'path'"):
        q.Template.from_file(str(tmp_path / "\ud800.png"))
