"""The module object, its classes and what Python sees of their surface."""

import inspect
import os
import re
import subprocess
import sys
import types
import weakref

import pytest

from conftest import REPO, tokenizer_json

MODULE_NAMES = [
    "Lexmill",
    "ValidationResult",
    "AdditionResult",
    "RemovalResult",
    "ShrinkResult",
    "MergeTokenizerResult",
    "TokenizerStats",
    "ReindexResult",
    "__version__",
]

CLASS_DOCS = {
    "Lexmill": "Python wrapper for Lexmill",
    "ValidationResult": "Result of validating merges",
    "AdditionResult": "Result of token addition",
    "RemovalResult": "Result of token removal",
    "ShrinkResult": "Result of shrink operation",
    "MergeTokenizerResult": "Result of merging a source tokenizer into a target tokenizer",
    "TokenizerStats": "Tokenizer statistics",
    "ReindexResult": "Result of reindex operation",
}
RESULT_CLASSES = [name for name in CLASS_DOCS if name != "Lexmill"]

RESULT_FIELDS = {
    "AdditionResult": ["token", "added", "method", "added_merges"],
    "RemovalResult": ["root_token", "removed_tokens", "removed_merges"],
    "ShrinkResult": [
        "initial_vocab_size",
        "initial_merges_count",
        "final_vocab_size",
        "final_merges_count",
        "tokens_removed_count",
        "total_tokens_removed",
        "total_merges_removed",
    ],
    "ReindexResult": [
        "vocab_size",
        "merges_count",
        "old_min_id",
        "old_max_id",
        "new_min_id",
        "new_max_id",
        "ids_remapped",
        "gaps_removed",
        "old_ids",
        "new_ids",
    ],
    "ValidationResult": ["valid_count", "invalid_count", "invalid_merges"],
    "TokenizerStats": [
        "vocab_size",
        "merges_count",
        "single_char_count",
        "special_token_count",
        "min_token_id",
        "max_token_id",
        "length_distribution",
    ],
    "MergeTokenizerResult": [
        "initial_target_vocab_size",
        "source_vocab_size",
        "final_model_vocab_size",
        "final_vocab_size",
        "tokens_injected",
        "target_tokens_removed",
        "bridge_tokens_added",
        "bridge_merges_added",
        "source_merges_added",
        "target_merges_retained",
        "representation",
    ],
}

# (name, text signature, docstring) in the class's declaration order.
METHODS = [
    (
        "from_json",
        "(json_str)",
        "Create a new editor from JSON string\n\nArgs:\n    json_str: JSON string containing the tokenizer\n\n"
        "Returns:\n    Lexmill instance",
    ),
    (
        "save",
        "($self, path)",
        "Save the tokenizer to a JSON file\n\nArgs:\n    path: Output path for the tokenizer.json file",
    ),
    (
        "to_json",
        "($self)",
        "Export tokenizer to JSON string\n\nReturns:\n    JSON string representation of the tokenizer",
    ),
    (
        "has_token",
        "($self, token)",
        "Check if a token exists in the vocabulary\n\nArgs:\n    token: Token string to check\n\n"
        "Returns:\n    True if token exists, False otherwise",
    ),
    (
        "get_token_id",
        "($self, token)",
        "Get the ID of a token\n\nArgs:\n    token: Token string\n\nReturns:\n    Token ID or None if not found",
    ),
    (
        "get_token_by_id",
        "($self, id)",
        "Get a token by its ID\n\nArgs:\n    id: Token ID\n\nReturns:\n    Token string or None if not found",
    ),
    (
        "get_vocab",
        "($self)",
        "Get all tokens in the vocabulary\n\nReturns:\n    Dictionary mapping token strings to their IDs",
    ),
    (
        "get_merges",
        "($self)",
        "Get all merges as list of tuples\n\nReturns:\n    List of (token_a, token_b) merge pairs",
    ),
    (
        "get_stats",
        "($self)",
        "Get comprehensive tokenizer statistics\n\nReturns:\n    TokenizerStats object with detailed statistics",
    ),
    (
        "get_single_char_tokens",
        "($self)",
        "Get all single-character tokens\n\nReturns:\n    List of (token, id) tuples",
    ),
    (
        "check_vocab_gaps",
        "($self)",
        "Check if vocabulary has gaps in its ID space\n\nReturns:\n    Tuple of (has_gaps, total_gaps, min_id, max_id)",
    ),
]


@pytest.fixture
def editor(lexmill):
    return lexmill.Lexmill.from_json(tokenizer_json(["a", "b", "ab"], merges=[("a", "b")]))


@pytest.fixture
def stats(editor):
    return editor.get_stats()


class TestModule:
    def test_identity(self, lexmill):
        assert lexmill.__name__ == "lexmill"
        assert lexmill.__doc__ == "Python module for Lexmill"
        # The version is written once, in pyproject.toml; the build hands it to the module.
        project = (REPO / "pyproject.toml").read_text(encoding="utf-8")
        assert lexmill.__version__ == re.search(r'^version = "([^"]+)"$', project, flags=re.MULTILINE).group(1)

    def test_all_lists_the_nine_names_in_order(self, lexmill):
        assert lexmill.__all__ == MODULE_NAMES

    def test_star_import_brings_exactly_the_public_names(self, lexmill):
        namespace = {}
        exec("from lexmill import *", namespace)
        namespace.pop("__builtins__")
        assert sorted(namespace) == sorted(MODULE_NAMES)

    def test_no_attributes_beyond_the_public_ones(self, lexmill):
        own = {name for name in vars(lexmill) if name not in MODULE_NAMES}
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
    @pytest.mark.parametrize("name, doc", CLASS_DOCS.items())
    def test_names_and_docstrings(self, lexmill, name, doc):
        cls = getattr(lexmill, name)
        assert (cls.__module__, cls.__name__, cls.__qualname__) == ("builtins", name, name)
        assert cls.__doc__ == doc
        assert cls.__bases__ == (object,)

    def test_lexmill_signature(self, lexmill):
        assert lexmill.Lexmill.__text_signature__ == "(path)"
        assert list(inspect.signature(lexmill.Lexmill).parameters) == ["path"]

    @pytest.mark.parametrize("name", RESULT_CLASSES)
    def test_result_classes_have_no_signature(self, lexmill, name):
        assert getattr(lexmill, name).__text_signature__ is None

    @pytest.mark.parametrize("name", CLASS_DOCS)
    def test_cannot_be_subclassed(self, lexmill, name):
        with pytest.raises(TypeError):
            type("Sub", (getattr(lexmill, name),), {})

    @pytest.mark.parametrize("name", RESULT_CLASSES)
    @pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {}), ((), {"token": "a"})])
    def test_result_classes_refuse_construction(self, lexmill, name, args, kwargs):
        with pytest.raises(TypeError) as raised:
            getattr(lexmill, name)(*args, **kwargs)
        assert str(raised.value) == f"No constructor defined for {name}"

    @pytest.mark.parametrize("name", CLASS_DOCS)
    def test_object_new_cannot_bypass_the_constructor(self, lexmill, name):
        with pytest.raises(TypeError):
            object.__new__(getattr(lexmill, name))

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
    @pytest.mark.parametrize("name, fields", RESULT_FIELDS.items())
    def test_fields_in_declaration_order(self, lexmill, name, fields):
        cls = getattr(lexmill, name)
        declared = [key for key, value in vars(cls).items() if isinstance(value, types.GetSetDescriptorType)]
        assert declared == fields

    @pytest.mark.parametrize("name", RESULT_CLASSES)
    def test_fields_have_empty_docstrings(self, lexmill, name):
        cls = getattr(lexmill, name)
        assert all(getattr(cls, field).__doc__ == "" for field in RESULT_FIELDS[name])

    @pytest.mark.parametrize("field", RESULT_FIELDS["TokenizerStats"])
    def test_fields_are_read_only(self, stats, field):
        value = getattr(stats, field)
        with pytest.raises(AttributeError):
            setattr(stats, field, value)
        with pytest.raises(AttributeError):
            delattr(stats, field)
        assert getattr(stats, field) == value


class TestLexmillSurface:
    def test_method_table_order(self, lexmill):
        declared = [key for key, value in vars(lexmill.Lexmill).items() if not key.startswith("__") and callable(value)]
        expected = [name for name, _, _ in METHODS]
        assert [name for name in declared if name in expected] == expected

    @pytest.mark.parametrize("name, signature, doc", METHODS)
    def test_text_signatures_and_docstrings(self, lexmill, name, signature, doc):
        method = getattr(lexmill.Lexmill, name)
        assert method.__text_signature__ == signature
        assert method.__doc__ == doc

    @pytest.mark.parametrize("name, signature, _doc", METHODS)
    def test_methods_are_introspectable(self, lexmill, name, signature, _doc):
        expected = [p for p in signature.strip("()").replace("$", "").split(", ") if p]
        assert list(inspect.signature(getattr(lexmill.Lexmill, name)).parameters) == expected

    def test_from_json_is_static(self, lexmill):
        assert isinstance(vars(lexmill.Lexmill)["from_json"], staticmethod)

    @pytest.mark.parametrize(
        "name, doc", [("vocab_size", "Get the current vocabulary size"), ("merges_count", "Get the current number of merges")]
    )
    def test_properties(self, lexmill, editor, name, doc):
        assert getattr(lexmill.Lexmill, name).__doc__ == doc
        with pytest.raises(AttributeError):
            setattr(editor, name, 5)
        with pytest.raises(AttributeError):
            delattr(editor, name)
        assert isinstance(getattr(editor, name), int)
