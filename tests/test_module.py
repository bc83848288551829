"""The module object, its classes and what Python sees of their surface. The
names, docstrings, text signatures and fields themselves are checked against
the stubs (test_typing.py)."""

import inspect
import os
import re
import subprocess
import sys
import types
import weakref

import pytest

from conftest import REPO, tokenizer_json


def classes(module):
    return [getattr(module, name) for name in module.__all__ if name != "__version__"]


def result_classes(module):
    return [cls for cls in classes(module) if cls is not module.Lexmill]


def properties(cls):
    return [name for name, value in vars(cls).items() if isinstance(value, types.GetSetDescriptorType)]


@pytest.fixture
def editor(lexmill):
    return lexmill.Lexmill.from_json(tokenizer_json(["a", "b", "ab"], merges=[("a", "b")]))


@pytest.fixture
def stats(editor):
    return editor.get_stats()


class TestModule:
    def test_identity(self, lexmill):
        assert lexmill.__name__ == "lexmill"
        # The version is written once, in pyproject.toml; the build hands it to the module.
        project = (REPO / "pyproject.toml").read_text(encoding="utf-8")
        assert lexmill.__version__ == re.search(r'^version = "([^"]+)"$', project, flags=re.MULTILINE).group(1)

    def test_star_import_brings_exactly_the_public_names(self, lexmill):
        namespace = {}
        exec("from lexmill import *", namespace)
        namespace.pop("__builtins__")
        assert sorted(namespace) == sorted(lexmill.__all__)

    def test_no_attributes_beyond_the_public_ones(self, lexmill):
        own = {name for name in vars(lexmill) if name not in lexmill.__all__}
        assert own <= {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__", "__all__"}

    def test_second_initialisation_in_one_process_is_refused(self, lexmill):
        code = (
            "import sys, lexmill\n"
            "del sys.modules['lexmill']\n"
            "try:\n"
            "    import lexmill\n"
            "except ImportError as error:\n"
            "    print('ImportError:', error)\n"
        )
        env = dict(os.environ, PYTHONPATH=os.path.dirname(lexmill.__file__))
        done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
        assert done.stdout.startswith("ImportError:")
        assert "only once per interpreter process" in done.stdout


class TestClasses:
    def test_names_and_bases(self, lexmill):
        for cls in classes(lexmill):
            name = cls.__name__
            assert (cls.__module__, cls.__qualname__, getattr(lexmill, name)) == ("builtins", name, cls)
            assert cls.__bases__ == (object,)

    def test_lexmill_signature(self, lexmill):
        assert lexmill.Lexmill.__text_signature__ == "(path)"
        assert list(inspect.signature(lexmill.Lexmill).parameters) == ["path"]

    def test_result_classes_have_no_signature(self, lexmill):
        assert all(cls.__text_signature__ is None for cls in result_classes(lexmill))

    def test_cannot_be_subclassed(self, lexmill):
        for cls in classes(lexmill):
            with pytest.raises(TypeError):
                type("Sub", (cls,), {})

    @pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {}), ((), {"token": "a"})])
    def test_result_classes_refuse_construction(self, lexmill, args, kwargs):
        for cls in result_classes(lexmill):
            with pytest.raises(TypeError) as raised:
                cls(*args, **kwargs)
            assert str(raised.value) == f"No constructor defined for {cls.__name__}"

    def test_object_new_cannot_bypass_the_constructor(self, lexmill):
        for cls in classes(lexmill):
            with pytest.raises(TypeError):
                object.__new__(cls)

    def test_lexmill_new_refuses_another_class(self, lexmill):
        with pytest.raises(TypeError):
            lexmill.Lexmill.__new__(lexmill.TokenizerStats, "x")

    def test_panic_exception_is_not_a_module_attribute(self, lexmill):
        assert not hasattr(lexmill, "PanicException")


class TestInstances:
    @pytest.fixture(params=["editor", "stats"])
    def instance(self, request):
        return request.getfixturevalue(request.param)

    def test_no_new_attributes(self, instance):
        with pytest.raises(AttributeError):
            instance.brand_new = 1
        assert not hasattr(instance, "__dict__")

    def test_no_weak_references(self, instance):
        with pytest.raises(TypeError):
            weakref.ref(instance)

    def test_equality_and_hash_are_identity(self, instance):
        assert instance == instance and hash(instance) == object.__hash__(instance)
        assert instance != object()

    def test_class_cannot_be_swapped(self, lexmill, instance):
        other = lexmill.ReindexResult if type(instance) is not lexmill.ReindexResult else lexmill.ShrinkResult
        with pytest.raises(TypeError):
            instance.__class__ = other

    def test_result_objects_use_the_default_repr(self, stats):
        assert repr(stats).startswith("<builtins.TokenizerStats object at 0x")
        assert str(stats) == repr(stats)

    @pytest.mark.parametrize("make", ["editor", "stats"])
    def test_instances_release_their_class(self, request, make):
        # Each instance holds a reference to its heap type; deallocation must
        # drop it, or the count climbs with every object ever created.
        first = request.getfixturevalue(make)
        cls = type(first)
        del first
        before = sys.getrefcount(cls)
        for _ in range(100):
            request.getfixturevalue(make)
            request.getfixturevalue("editor").get_stats()
        assert sys.getrefcount(cls) == before


class TestResultClassProperties:
    def test_fields_have_empty_docstrings(self, lexmill):
        for cls in result_classes(lexmill):
            assert properties(cls) and all(getattr(cls, field).__doc__ == "" for field in properties(cls))

    def test_fields_are_read_only(self, stats):
        for field in properties(type(stats)):
            value = getattr(stats, field)
            with pytest.raises(AttributeError):
                setattr(stats, field, value)
            with pytest.raises(AttributeError):
                delattr(stats, field)
            assert getattr(stats, field) == value


class TestLexmillSurface:
    def test_methods_are_introspectable(self, lexmill):
        names = [name for name in vars(lexmill.Lexmill) if not name.startswith("_")]
        methods = [getattr(lexmill.Lexmill, name) for name in names if name not in properties(lexmill.Lexmill)]
        assert methods
        for method in methods:
            assert method.__text_signature__ and inspect.signature(method)

    def test_from_json_is_static(self, lexmill):
        assert isinstance(vars(lexmill.Lexmill)["from_json"], staticmethod)

    @pytest.mark.parametrize("name", ["vocab_size", "merges_count"])
    def test_properties_are_read_only_ints(self, editor, name):
        with pytest.raises(AttributeError):
            setattr(editor, name, 5)
        with pytest.raises(AttributeError):
            delattr(editor, name)
        assert isinstance(getattr(editor, name), int)
