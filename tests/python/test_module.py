import _quillet


def test_version_and_docstring():
    assert _quillet.__version__ == "0.2.5"
    assert _quillet.__doc__ == "Python module for quillet template matching."
