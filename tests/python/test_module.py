import inspect

import numpy as np
import pytest

import _quillet as q


def test_registers_classes_functions_and_version_in_order():
    public = [name for name in vars(q) if not name.startswith("__")]
    assert public == [
        "Match", "CompileConfig", "MatchConfig", "Template", "CompiledTemplate", "Matcher",
        "match_template", "rotate_u8_bilinear_masked",
    ]
    assert q.__version__ == "0.2.5"
    assert q.__doc__ == "Python module for quillet template matching."


def _compiled():
    return q.Template(np.arange(64, dtype=np.uint8).reshape(8, 8)).compile_no_rotation()


@pytest.mark.parametrize(
    "get_callable, signature",
    [
        (lambda: q.rotate_u8_bilinear_masked, "(image, angle_deg, fill_value=0)"),
        (lambda: q.match_template, "(image, template, rotation='disabled', metric='zncc', parallel=False)"),
        (lambda: q.Template, "(pixels)"),
        (lambda: q.Template.from_file, "(path)"),
        (lambda: q.Template(np.eye(3, dtype=np.uint8)).from_file, "(path)"),
        (lambda: q.Template.compile, "(self, config=None)"),
        (lambda: q.Template(np.eye(3, dtype=np.uint8)).compile, "(config=None)"),
        (lambda: q.Template(np.eye(3, dtype=np.uint8)).compile_no_rotation, "(max_levels=6)"),
        (lambda: q.CompileConfig, "(max_levels=6, coarse_step_deg=10.0, min_step_deg=0.5, fill_value=0, precompute_coarsest=True)"),
        (lambda: q.CompileConfig().validate, "()"),
        (
            lambda: q.MatchConfig,
            "(metric='zncc', rotation='disabled', parallel=False, max_image_levels=6, beam_width=8, per_angle_topk=3, "
            "nms_radius=6, roi_radius=8, angle_half_range_steps=1, min_var_i=1e-08, min_score=Ellipsis)",
        ),
        (lambda: q.MatchConfig().validate, "()"),
        (lambda: _compiled().matcher, "(config=None)"),
        (lambda: q.CompiledTemplate.matcher, "(self, config=None)"),
        (lambda: _compiled().matcher().match_image, "(image)"),
        (lambda: _compiled().matcher().match_topk, "(image, k)"),
    ],
)
def test_signatures_come_from_the_docstrings(get_callable, signature):
    assert str(inspect.signature(get_callable())) == signature


def test_signature_lines_are_written_as_documented():
    assert q.MatchConfig.__text_signature__ == (
        '(metric="zncc", rotation="disabled", parallel=False, max_image_levels=6, beam_width=8, per_angle_topk=3, '
        "nms_radius=6, roi_radius=8, angle_half_range_steps=1, min_var_i=1e-8, min_score=...)"
    )
    assert q.match_template.__text_signature__ == '(image, template, rotation="disabled", metric="zncc", parallel=False)'
    assert q.CompileConfig.__text_signature__ == (
        "(max_levels=6, coarse_step_deg=10.0, min_step_deg=0.5, fill_value=0, precompute_coarsest=True)"
    )


def test_docstrings():
    assert q.match_template.__doc__ == (
        "Convenience function to match a template against an image.\n\n"
        "This is a simplified API that compiles the template and runs matching\n"
        "in a single call. For repeated matching with the same template,\n"
        "use Template.compile() and Matcher separately for better performance.\n\n"
        "Args:\n"
        "    image: 2D uint8 numpy array (height x width)\n"
        "    template: 2D uint8 numpy array (height x width)\n"
        '    rotation: "enabled" or "disabled" (default: "disabled")\n'
        '    metric: "zncc" or "ssd" (default: "zncc")\n'
        "    parallel: Enable parallel execution (default: False)\n\n"
        "Returns:\n"
        "    Match object with x, y, angle_deg, and score"
    )
    assert q.Matcher.match_topk.__doc__ == (
        "Match the template against an image, returning top-k matches.\n\n"
        "Args:\n"
        "    image: 2D uint8 numpy array (height x width)\n"
        "    k: Number of matches to return\n\n"
        "Returns:\n"
        "    List of Match objects, sorted by score (best first)"
    )
    assert q.Template.__doc__ == "A grayscale template for matching."
    assert q.MatchConfig.__doc__ == "Configuration for the matching process."
    assert q.Matcher.__doc__ == "Template matcher that performs coarse-to-fine search."
    assert q.Match.__doc__ == "Match result containing position, angle, and score."
    assert q.MatchConfig.metric.__doc__ == 'Matching metric ("zncc" or "ssd").'
    assert q.Match.score.__doc__ == "Match score (ZNCC in [-1, 1] or negative SSD)."
    assert q.CompiledTemplate.num_levels.__doc__ == "Get the number of pyramid levels."
    assert q.rotate_u8_bilinear_masked.__doc__.startswith(
        "Rotate a grayscale image using bilinear sampling and return a validity mask.\n\n")


@pytest.mark.parametrize("cls", [q.Match, q.Matcher, q.CompiledTemplate])
def test_classes_without_constructor_refuse_to_be_called(cls):
    with pytest.raises(TypeError):
        cls()


@pytest.mark.parametrize(
    "make, attribute",
    [
        (lambda: q.MatchConfig(), "beam_width"),
        (lambda: q.CompileConfig(), "max_levels"),
        (lambda: q.Template(np.eye(3, dtype=np.uint8)), "width"),
        (_compiled, "num_levels"),
    ],
)
def test_objects_are_immutable(make, attribute):
    obj = make()
    with pytest.raises(AttributeError):
        setattr(obj, attribute, 1)
    with pytest.raises(AttributeError):
        obj.extra = 1
