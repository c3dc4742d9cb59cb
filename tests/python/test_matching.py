import gc
import math
import threading

import numpy as np
import pytest

import _quillet as q
from imagegen import textured

NOT_CONTIGUOUS = "The given array is not contiguous or is misaligned."

SCENE = textured(200, 240, seed=1)
X0, Y0 = 101, 57
TEMPLATE = SCENE[Y0:Y0 + 40, X0:X0 + 48].copy()


def values(match):
    return match.x, match.y, match.angle_deg, match.score


def assert_found_at(match, x, y, tolerance=0.25):
    assert (round(match.x), round(match.y)) == (x, y)
    assert abs(match.x - x) < tolerance and abs(match.y - y) < tolerance


@pytest.fixture(scope="module")
def compiled():
    return q.Template(TEMPLATE).compile_no_rotation()


# ---- unrotated search ----------------------------------------------------------------------

@pytest.mark.parametrize("metric", ["zncc", "ssd"])
@pytest.mark.parametrize("parallel", [False, True])
def test_cut_template_is_found_at_its_position(compiled, metric, parallel):
    match = compiled.matcher(q.MatchConfig(metric=metric, parallel=parallel)).match_image(SCENE)
    assert_found_at(match, X0, Y0)
    assert match.angle_deg == 0.0
    if metric == "zncc":
        assert match.score == pytest.approx(1.0, abs=1e-4)
    else:
        assert match.score == 0.0


def test_match_values_and_repr(compiled):
    match = compiled.matcher().match_image(SCENE)
    assert all(type(v) is float for v in values(match))
    assert repr(match) == f"Match(x={match.x:.2f}, y={match.y:.2f}, angle_deg={match.angle_deg:.2f}, score={match.score:.4f})"
    with pytest.raises(AttributeError):
        match.x = 1.0


def test_default_matcher(compiled):
    matcher = compiled.matcher()
    assert repr(matcher) == "Matcher()"
    assert values(matcher.match_image(SCENE)) == values(compiled.matcher(q.MatchConfig()).match_image(SCENE))


def test_matchers_share_the_compiled_template_beyond_its_python_object():
    compiled = q.Template(TEMPLATE).compile_no_rotation()
    zncc, ssd = compiled.matcher(), compiled.matcher(q.MatchConfig(metric="ssd"))
    assert zncc is not ssd
    expected = values(zncc.match_image(SCENE)), values(ssd.match_image(SCENE))
    del compiled
    gc.collect()
    assert (values(zncc.match_image(SCENE)), values(ssd.match_image(SCENE))) == expected


def test_one_matcher_serves_several_threads(compiled):
    matcher = compiled.matcher(q.MatchConfig(parallel=True))
    expected = values(matcher.match_image(SCENE))
    results = []

    def work():
        for _ in range(5):
            results.append(values(matcher.match_image(SCENE)))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected] * 20


def test_fortran_ordered_image_is_searched_with_pixels_in_place(compiled):
    matcher = compiled.matcher()
    assert values(matcher.match_image(np.asfortranarray(SCENE))) == values(matcher.match_image(SCENE))


# ---- top-k ---------------------------------------------------------------------------------

PASTED = [(20, 30), (170, 20), (90, 150)]


@pytest.fixture(scope="module")
def pasted_scene():
    scene = textured(200, 240, seed=2)
    patch = textured(32, 32, seed=9)
    for x, y in PASTED:
        scene[y:y + 32, x:x + 32] = patch
    return scene, q.Template(patch).compile_no_rotation()


@pytest.mark.parametrize("metric", ["zncc", "ssd"])
def test_topk_finds_every_pasted_copy(pasted_scene, metric):
    scene, compiled = pasted_scene
    matches = compiled.matcher(q.MatchConfig(metric=metric)).match_topk(scene, 10)
    assert isinstance(matches, list) and 3 <= len(matches) <= 10
    scores = [m.score for m in matches]
    assert scores == sorted(scores, reverse=True)
    found = sorted((round(m.x), round(m.y)) for m in matches[:3])
    assert found == sorted(PASTED)
    top3 = compiled.matcher(q.MatchConfig(metric=metric)).match_topk(image=scene, k=3)
    assert [values(m) for m in top3] == [values(m) for m in matches[:3]]


def test_topk_with_zero_and_invalid_k(compiled):
    matcher = compiled.matcher()
    assert matcher.match_topk(SCENE, 0) == []
    with pytest.raises(OverflowError, match="'k'"):
        matcher.match_topk(SCENE, -1)
    with pytest.raises(TypeError, match="'k'"):
        matcher.match_topk(SCENE, 1.0)
    with pytest.raises(TypeError, match="'image'"):
        matcher.match_topk([[1]], -1)  # the image is converted first
    with pytest.raises(OverflowError, match="'k'"):
        matcher.match_topk(SCENE[:, ::2], -1)  # both are converted before the memory is examined
    with pytest.raises(TypeError) as raised:
        matcher.match_topk(SCENE[:, ::2], 0)
    assert str(raised.value) == NOT_CONTIGUOUS
    with pytest.raises(RuntimeError, match="^invalid dimensions: width=5 height=0$"):
        matcher.match_topk(np.zeros((0, 5), np.uint8), 0)


# ---- failures ------------------------------------------------------------------------------

def test_matcher_config_must_be_a_match_config(compiled):
    for wrong in (q.CompileConfig(), "zncc", 1):
        with pytest.raises(TypeError, match="'config'"):
            compiled.matcher(wrong)


def test_match_image_failures(compiled):
    matcher = compiled.matcher()
    with pytest.raises(TypeError, match="'image'"):
        matcher.match_image(SCENE.astype(np.float64))
    with pytest.raises(TypeError) as raised:
        matcher.match_image(SCENE[::2])
    assert str(raised.value) == NOT_CONTIGUOUS
    with pytest.raises(RuntimeError) as raised:
        compiled.matcher(q.MatchConfig(rotation="enabled")).match_image(SCENE)
    assert str(raised.value) == "rotation unavailable: rotation enabled but template compiled without angle banks"
    with pytest.raises(RuntimeError) as raised:
        compiled.matcher(q.MatchConfig(min_score=2.0)).match_image(SCENE)
    assert str(raised.value) == "no candidates: no coarse candidates"


# ---- match_template ------------------------------------------------------------------------

@pytest.mark.parametrize("metric", ["zncc", "SSD"])
@pytest.mark.parametrize("parallel", [False, True])
def test_match_template_finds_the_cut(metric, parallel):
    match = q.match_template(SCENE, TEMPLATE, metric=metric, parallel=parallel)
    assert_found_at(match, X0, Y0)


def test_match_template_checks_in_order():
    flat = np.full((20, 20), 3, np.uint8)
    cases = [
        # every argument is converted before anything else
        (dict(image=[1], template=SCENE[:, ::2], rotation=1), TypeError, "'image'"),
        (dict(template=SCENE[:, ::2], rotation=1), TypeError, "'rotation'"),
        (dict(metric=None, parallel=1), TypeError, "'metric'"),
        (dict(parallel=1), TypeError, "'parallel'"),
        # then the template, the rotation word, the compile, the metric word, the image
        (dict(template=np.zeros((0, 4), np.uint8), rotation="sideways"), RuntimeError,
         "invalid dimensions: width=4 height=0"),
        (dict(template=TEMPLATE[:, ::2], rotation="sideways"), TypeError, NOT_CONTIGUOUS),
        (dict(template=flat, rotation="sideways"), ValueError, "rotation must be 'enabled' or 'disabled'"),
        (dict(template=flat, metric="ncc"), RuntimeError, "degenerate template: zero variance"),
        (dict(template=textured(20, 2), rotation="Enabled", metric="ncc"), RuntimeError,
         "degenerate template: template too small for rotation"),
        (dict(image=SCENE[:, ::2], metric="ncc"), ValueError, "metric must be 'zncc' or 'ssd'"),
        (dict(image=SCENE[:, ::2]), TypeError, NOT_CONTIGUOUS),
        (dict(image=np.zeros((5, 0), np.uint8)), RuntimeError, "invalid dimensions: width=0 height=5"),
    ]
    for overrides, exception, text in cases:
        arguments = dict(image=SCENE, template=TEMPLATE) | overrides
        with pytest.raises(exception) as raised:
            q.match_template(**arguments)
        if text.startswith("'"):
            assert text in str(raised.value), overrides
        else:
            assert str(raised.value) == text, overrides


# ---- rotation ------------------------------------------------------------------------------

ROTATION_SCENE = textured(220, 260, seed=1, radius=4)
RX, RY, RSIZE = 101, 77, 64


def rotated_placement(angle_deg):
    """Where the cut lands, as a top-left placement, when the whole scene turns by angle_deg."""
    height, width = ROTATION_SCENE.shape
    cx, cy = (width - 1) / 2, (height - 1) / 2
    half = (RSIZE - 1) / 2
    u, v = RX + half - cx, RY + half - cy
    s, c = math.sin(math.radians(angle_deg)), math.cos(math.radians(angle_deg))
    return cx + c * u - s * v - half, cy + s * u + c * v - half


@pytest.fixture(scope="module")
def rotation_compiled():
    return q.Template(ROTATION_SCENE[RY:RY + RSIZE, RX:RX + RSIZE].copy()).compile()


@pytest.mark.parametrize("angle", [0.0, 17.0, -33.0, 90.0, 152.0, -170.0, 61.9])
@pytest.mark.parametrize("metric", ["zncc", "ssd"])
def test_rotated_cut_is_found_within_half_a_pixel_and_half_a_degree(rotation_compiled, angle, metric):
    scene, _ = q.rotate_u8_bilinear_masked(ROTATION_SCENE, angle)
    serial = rotation_compiled.matcher(q.MatchConfig(metric=metric, rotation="enabled")).match_image(scene)
    parallel = rotation_compiled.matcher(q.MatchConfig(metric=metric, rotation="enabled", parallel=True)).match_image(scene)
    assert values(parallel) == values(serial)
    x, y = rotated_placement(angle)
    assert abs(serial.x - x) < 0.5 and abs(serial.y - y) < 0.5
    assert abs((serial.angle_deg - angle + 180.0) % 360.0 - 180.0) < 0.5
    assert -180.0 <= serial.angle_deg < 180.0


def test_rotated_template_is_still_searchable_without_rotation(rotation_compiled):
    match = rotation_compiled.matcher().match_image(ROTATION_SCENE)
    assert_found_at(match, RX, RY)
    assert match.angle_deg == 0.0


def test_match_template_with_rotation():
    scene, _ = q.rotate_u8_bilinear_masked(ROTATION_SCENE, 40.0)
    match = q.match_template(scene, ROTATION_SCENE[RY:RY + RSIZE, RX:RX + RSIZE].copy(), rotation="enabled")
    x, y = rotated_placement(40.0)
    assert abs(match.x - x) < 0.5 and abs(match.y - y) < 0.5 and abs(match.angle_deg - 40.0) < 0.5
