"""The module's classes as Python sees them: what may not be made or changed."""

import subprocess
import sys
import weakref

import pytest

from conftest import subprocess_env, tokenizer_json


@pytest.fixture(params=["editor", "stats"])
def instance(request, lexmill):
    editor = lexmill.Lexmill.from_json(tokenizer_json(["a", "b", "ab"], merges=[("a", "b")]))
    return editor if request.param == "editor" else editor.get_stats()


def test_second_initialisation_in_one_process_is_refused():
    code = "import sys, lexmill\ndel sys.modules['lexmill']\nimport lexmill\n"
    done = subprocess.run([sys.executable, "-c", code], env=subprocess_env(), capture_output=True, text=True)
    assert done.returncode == 1 and "ImportError" in done.stderr and "only once per interpreter process" in done.stderr


def test_classes_cannot_be_subclassed_or_bypassed(lexmill):
    for cls in (getattr(lexmill, name) for name in lexmill.__all__ if name != "__version__"):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        with pytest.raises(TypeError):
            object.__new__(cls)
        if cls is not lexmill.Lexmill:
            for args, kwargs in [((), {}), ((1, 2), {}), ((), {"token": "a"})]:
                with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
                    cls(*args, **kwargs)
    with pytest.raises(TypeError):
        lexmill.Lexmill.__new__(lexmill.TokenizerStats, "x")


def test_instances_are_closed(lexmill, instance):
    with pytest.raises(AttributeError):
        instance.brand_new = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)
    with pytest.raises(TypeError):
        instance.__class__ = lexmill.ShrinkResult
    assert instance == instance and instance != object() and hash(instance) == object.__hash__(instance)
    fields = [name for name in dir(type(instance)) if name in ("vocab_size", "merges_count", "length_distribution")]
    for field in fields:
        value = getattr(instance, field)
        for change in (lambda: setattr(instance, field, value), lambda: delattr(instance, field)):
            with pytest.raises(AttributeError):
                change()
        assert getattr(instance, field) == value
