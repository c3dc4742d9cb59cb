import math

import pytest

import _quillet as q

INF = float("inf")
NAN = float("nan")


def test_default_match_config():
    config = q.MatchConfig()
    assert repr(config) == "MatchConfig(metric='zncc', rotation='disabled', parallel=false, beam_width=8)"
    assert (config.metric, config.rotation, config.parallel) == ("zncc", "disabled", False)
    assert (config.max_image_levels, config.beam_width, config.per_angle_topk) == (6, 8, 3)
    assert (config.nms_radius, config.roi_radius, config.angle_half_range_steps) == (6, 8, 1)
    assert config.min_var_i == 9.99999993922529e-09
    assert config.min_score == -INF
    assert config.validate() is None


def test_words_are_lower_cased_whole_and_untrimmed():
    config = q.MatchConfig(metric="SSD", rotation="Enabled", parallel=True, beam_width=3)
    assert (config.metric, config.rotation) == ("ssd", "enabled")
    assert repr(config) == "MatchConfig(metric='ssd', rotation='enabled', parallel=true, beam_width=3)"
    assert q.MatchConfig(metric="ZnCc", rotation="DISABLED").metric == "zncc"
    for metric in (" zncc", "ncc", "zncc\n", "ZNCC\u0130"):
        with pytest.raises(ValueError) as raised:
            q.MatchConfig(metric=metric)
        assert str(raised.value) == "metric must be 'zncc' or 'ssd'"
    for rotation in ("on", "enable", "disabled "):
        with pytest.raises(ValueError) as raised:
            q.MatchConfig(rotation=rotation)
        assert str(raised.value) == "rotation must be 'enabled' or 'disabled'"


@pytest.mark.parametrize(
    "kwargs, exception, text",
    [
        # conversion failures first, in parameter order
        (dict(metric="ncc", beam_width=1.5), TypeError, "'beam_width'"),
        (dict(metric=1, rotation=2), TypeError, "'metric'"),
        (dict(metric="ncc", rotation=2), TypeError, "'rotation'"),
        (dict(parallel=1), TypeError, "'parallel'"),
        (dict(max_image_levels=-1), OverflowError, "'max_image_levels'"),
        (dict(nms_radius=2**64), OverflowError, "'nms_radius'"),
        (dict(min_var_i="small"), TypeError, "'min_var_i'"),
        (dict(min_score=None), TypeError, "'min_score'"),
        # then the words, metric before rotation
        (dict(metric="ncc", beam_width=0), ValueError, "metric must be 'zncc' or 'ssd'"),
        (dict(metric="ncc", rotation="on"), ValueError, "metric must be 'zncc' or 'ssd'"),
        (dict(rotation="on", beam_width=0), ValueError, "rotation must be 'enabled' or 'disabled'"),
        # then the checks, in order
        (dict(beam_width=0, max_image_levels=0), RuntimeError, "invalid config: beam_width must be at least 1"),
        (dict(per_angle_topk=0, max_image_levels=0), RuntimeError, "invalid config: per_angle_topk must be at least 1"),
        (dict(max_image_levels=0, min_var_i=-1.0), RuntimeError, "invalid config: max_image_levels must be at least 1"),
        (dict(min_var_i=-1e-30), RuntimeError, "invalid config: min_var_i must be a non-negative finite value"),
        (dict(min_var_i=-1e-45), RuntimeError, "invalid config: min_var_i must be a non-negative finite value"),
        (dict(min_var_i=NAN), RuntimeError, "invalid config: min_var_i must be a non-negative finite value"),
        (dict(min_var_i=1e39), RuntimeError, "invalid config: min_var_i must be a non-negative finite value"),
        (dict(min_score=INF), RuntimeError, "invalid config: min_score must be finite or NEG_INFINITY"),
        (dict(min_score=NAN), RuntimeError, "invalid config: min_score must be finite or NEG_INFINITY"),
    ],
)
def test_match_config_failures(kwargs, exception, text):
    with pytest.raises(exception) as raised:
        q.MatchConfig(**kwargs)
    if exception in (TypeError, OverflowError):
        assert text in str(raised.value)
    else:
        assert str(raised.value) == text


def test_match_config_edge_values_accepted():
    config = q.MatchConfig(min_var_i=-0.0, min_score=-INF, nms_radius=0, roi_radius=0, angle_half_range_steps=0)
    assert math.copysign(1.0, config.min_var_i) == -1.0
    assert (config.nms_radius, config.roi_radius, config.angle_half_range_steps) == (0, 0, 0)
    assert q.MatchConfig(min_score=-1e39).min_score == -INF  # rounds to negative infinity
    assert q.MatchConfig(min_score=0.1).min_score == 0.10000000149011612
    assert q.MatchConfig("ssd", "enabled", True, 2, 3, 4, 5, 6, 7, 0.5, -2.0).per_angle_topk == 4


def test_default_compile_config():
    config = q.CompileConfig()
    assert repr(config) == (
        "CompileConfig(max_levels=6, coarse_step_deg=10, min_step_deg=0.5, fill_value=0, precompute_coarsest=true)"
    )
    assert (config.max_levels, config.coarse_step_deg, config.min_step_deg) == (6, 10.0, 0.5)
    assert (config.fill_value, config.precompute_coarsest) == (0, True)
    assert config.validate() is None


@pytest.mark.parametrize(
    "kwargs, rendered",
    [
        (dict(min_step_deg=0.1), "min_step_deg=0.1"),
        (dict(min_step_deg=1e-8), "min_step_deg=0.00000001"),
        (dict(coarse_step_deg=12.25, min_step_deg=12.25), "coarse_step_deg=12.25, min_step_deg=12.25"),
        (dict(coarse_step_deg=1e20), "coarse_step_deg=100000002004087734272"),
        (dict(fill_value=255, precompute_coarsest=False), "fill_value=255, precompute_coarsest=false"),
    ],
)
def test_compile_config_renders_shortest_round_trip_floats(kwargs, rendered):
    assert rendered in repr(q.CompileConfig(**kwargs))


def test_compile_config_stores_32_bit_floats():
    config = q.CompileConfig(min_step_deg=0.1, max_levels=1)
    assert config.min_step_deg == 0.10000000149011612
    assert config.max_levels == 1
    assert q.CompileConfig(coarse_step_deg=5.0, min_step_deg=5.0).min_step_deg == 5.0


@pytest.mark.parametrize(
    "kwargs, exception, text",
    [
        (dict(max_levels=0, coarse_step_deg=-1.0), RuntimeError, "invalid config: max_levels must be at least 1"),
        (dict(min_step_deg=20.0), RuntimeError, "invalid config: min_step_deg must not exceed coarse_step_deg"),
        (dict(coarse_step_deg=NAN), RuntimeError, "invalid config: coarse_step_deg must be a positive finite value"),
        (dict(coarse_step_deg=1e39), RuntimeError, "invalid config: coarse_step_deg must be a positive finite value"),
        (dict(coarse_step_deg=0.0), RuntimeError, "invalid config: coarse_step_deg must be a positive finite value"),
        (dict(min_step_deg=-0.5), RuntimeError, "invalid config: min_step_deg must be a positive finite value"),
        (dict(max_levels=-1, fill_value=300), OverflowError, "'max_levels'"),
        (dict(coarse_step_deg="10", fill_value=300), TypeError, "'coarse_step_deg'"),
        (dict(fill_value=256), OverflowError, "'fill_value'"),
        (dict(fill_value=-1), OverflowError, "'fill_value'"),
        (dict(max_levels=0, precompute_coarsest=1), TypeError, "'precompute_coarsest'"),
    ],
)
def test_compile_config_failures(kwargs, exception, text):
    with pytest.raises(exception) as raised:
        q.CompileConfig(**kwargs)
    if exception is RuntimeError:
        assert str(raised.value) == text
    else:
        assert text in str(raised.value)
