"""How every Lexmill call binds, converts and answers: the shared call layer."""

import errno
import json
import pathlib
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import tokenizer_json

OUT_OF_RANGE = "out of range integral type conversion attempted"

# The file layer hands paths to the operating system, which reads them only up
# to the first NUL; until it refuses such paths, these tests fail. Strict, so
# that the marker must go once the fix lands.


@pytest.fixture
def editor(lexmill):
    return lexmill.Lexmill.from_json(
        tokenizer_json({"a": 0, "b": 1, "ab": 2, "top": 4294967295}, merges=[("a", "b")])
    )


@pytest.fixture
def saved(editor, tmp_path):
    path = tmp_path / "tokenizer.json"
    editor.save(str(path))
    return path


def raised_message(error_class, call):
    with pytest.raises(error_class) as raised:
        call()
    assert type(raised.value) is error_class
    return str(raised.value)


class Index:
    """An integer-like object that is not an int."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class TestBinding:
    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda L, e: L.Lexmill(), "Lexmill.__new__() missing 1 required positional argument: 'path'"),
            (lambda L, e: L.Lexmill("a", "b"), "Lexmill.__new__() takes 1 positional arguments but 2 were given"),
            (lambda L, e: L.Lexmill(pth="a"), "Lexmill.__new__() got an unexpected keyword argument 'pth'"),
            (lambda L, e: L.Lexmill("a", path="b"), "Lexmill.__new__() got multiple values for argument 'path'"),
            (lambda L, e: L.Lexmill.from_json(), "Lexmill.from_json() missing 1 required positional argument: 'json_str'"),
            (lambda L, e: e.from_json("{}", "{}"), "Lexmill.from_json() takes 1 positional arguments but 2 were given"),
            (lambda L, e: e.save(), "Lexmill.save() missing 1 required positional argument: 'path'"),
            (lambda L, e: e.save("a", "b"), "Lexmill.save() takes 1 positional arguments but 2 were given"),
            (lambda L, e: e.save("a", "b", "c"), "Lexmill.save() takes 1 positional arguments but 3 were given"),
            (lambda L, e: e.has_token(tokens="a"), "Lexmill.has_token() got an unexpected keyword argument 'tokens'"),
            (lambda L, e: e.get_token_id("a", token="a"), "Lexmill.get_token_id() got multiple values for argument 'token'"),
            (lambda L, e: e.get_token_by_id(), "Lexmill.get_token_by_id() missing 1 required positional argument: 'id'"),
            # Binding comes before conversion: the unconvertible 1 is never looked at.
            (lambda L, e: L.Lexmill(1, 2), "Lexmill.__new__() takes 1 positional arguments but 2 were given"),
            # Keywords are checked in the order given, before anything is reported missing.
            (lambda L, e: e.save(x=1, path=2), "Lexmill.save() got an unexpected keyword argument 'x'"),
            (lambda L, e: e.save(other="p"), "Lexmill.save() got an unexpected keyword argument 'other'"),
        ],
    )
    def test_messages(self, lexmill, editor, call, message):
        assert raised_message(TypeError, lambda: call(lexmill, editor)) == message

    def test_parameters_accept_keywords(self, lexmill, editor, saved):
        assert lexmill.Lexmill(path=str(saved)).vocab_size == 4
        assert lexmill.Lexmill.from_json(json_str=tokenizer_json(["x"])).vocab_size == 1
        assert editor.has_token(token="ab") and editor.get_token_id(token="ab") == 2
        assert editor.get_token_by_id(id=1) == "b"

    @pytest.mark.parametrize("name", ["to_json", "get_vocab", "get_merges", "get_single_char_tokens", "check_vocab_gaps", "get_stats"])
    def test_no_argument_methods_refuse_arguments(self, editor, name):
        method = getattr(editor, name)
        with pytest.raises(TypeError):
            method(1)
        with pytest.raises(TypeError):
            method(x=1)

    def test_from_json_works_on_an_instance_without_touching_it(self, editor):
        other = editor.from_json(tokenizer_json(["x"]))
        assert other is not editor and type(other) is type(editor)
        assert (other.vocab_size, editor.vocab_size) == (1, 4)

    def test_a_callers_keyword_dict_may_change_during_conversion(self, editor):
        # Conversion can run Python code; the bound arguments must stay alive
        # even if that code empties the dict the caller passed.
        kwargs = {}

        class Clearing:
            def __index__(self):
                kwargs.clear()
                return 1

        kwargs["id"] = Clearing()
        assert editor.get_token_by_id(**kwargs) == "b"


class TestTextConversion:
    @pytest.mark.parametrize("value", [1, 2.5, b"path", bytearray(b"x"), pathlib.Path("tokenizer.json"), None, ["a"]])
    def test_non_str_refused(self, editor, value):
        message = raised_message(TypeError, lambda: editor.has_token(value))
        assert message == f"argument 'token': '{type(value).__qualname__}' object cannot be converted to 'PyString'"

    @pytest.mark.parametrize("method", ["save", "has_token", "get_token_id"])
    def test_every_text_parameter_names_itself(self, editor, method):
        name = "path" if method == "save" else "token"
        assert raised_message(TypeError, lambda: getattr(editor, method)(7)).startswith(f"argument '{name}': ")

    def test_constructor_and_static_method_are_prefixed_too(self, lexmill):
        message = raised_message(TypeError, lambda: lexmill.Lexmill(pathlib.Path("t.json")))
        assert message == "argument 'path': 'PosixPath' object cannot be converted to 'PyString'"
        message = raised_message(TypeError, lambda: lexmill.Lexmill.from_json(json_str=b"{}"))
        assert message == "argument 'json_str': 'bytes' object cannot be converted to 'PyString'"

    def test_nested_class_names_use_the_qualified_name(self, editor):
        class Outer:
            class Inner:
                pass

        message = raised_message(TypeError, lambda: editor.has_token(Outer.Inner()))
        assert "'TestTextConversion.test_nested_class_names_use_the_qualified_name.<locals>.Outer.Inner'" in message

    def test_unreadable_type_name(self, editor):
        class Meta(type):
            def __getattribute__(cls, name):
                if name == "__qualname__":
                    raise RuntimeError("no name")
                return super().__getattribute__(name)

        message = raised_message(TypeError, lambda: editor.has_token(Meta("Odd", (), {})()))
        assert message == "argument 'token': '<failed to extract type name>' object cannot be converted to 'PyString'"

    def test_str_subclass_accepted_by_its_text(self, editor):
        class Shouting(str):
            def __str__(self):
                return "B"

        assert editor.get_token_id(Shouting("ab")) == 2

    @pytest.mark.parametrize("text", ["\ud800", "a\udfffb"])
    def test_lone_surrogate_raises_unprefixed_encode_error(self, editor, text):
        with pytest.raises(UnicodeEncodeError) as raised:
            editor.has_token(text)
        assert not str(raised.value).startswith("argument")

    def test_embedded_nul_and_non_bmp_text_round_trip(self, lexmill):
        editor = lexmill.Lexmill.from_json(tokenizer_json({"a": 0, "a\x00b": 1, "😀": 2}))
        assert editor.get_token_id("a\x00b") == 1 and not editor.has_token("a\x00")
        assert editor.get_token_id("😀") == 2 and editor.get_token_by_id(2) == "😀"

    @settings(max_examples=60, deadline=None)
    @given(st.text(st.characters(blacklist_categories=("Cs",)), max_size=12))
    def test_any_text_round_trips(self, token):
        import lexmill

        editor = lexmill.Lexmill.from_json(json.dumps(
            {"version": "1", "added_tokens": [], "model": {"type": "BPE", "vocab": {token: 7}, "merges": []}},
            ensure_ascii=False,
        ))
        assert editor.has_token(token) and editor.get_token_id(token) == 7
        assert editor.get_token_by_id(7) == token and editor.get_vocab() == {token: 7}


class TestIdConversion:
    @pytest.mark.parametrize(
        "value, expected",
        [(0, "a"), (1, "b"), (True, "b"), (False, "a"), (Index(2), "ab"), (4294967295, "top"), (3, None), (4294967294, None)],
    )
    def test_accepted(self, editor, value, expected):
        assert editor.get_token_by_id(value) == expected

    @pytest.mark.parametrize("value", [-1, -(2**63), 2**32, 2**63 - 1, Index(-1), Index(2**32)])
    def test_outside_the_id_range(self, editor, value):
        assert raised_message(OverflowError, lambda: editor.get_token_by_id(value)) == OUT_OF_RANGE

    @pytest.mark.parametrize("value", [2**63, 2**64, -(2**63) - 1, Index(2**70)])
    def test_outside_the_64_bit_range_raises_the_interpreters_overflow(self, editor, value):
        message = raised_message(OverflowError, lambda: editor.get_token_by_id(value))
        assert message != OUT_OF_RANGE and not message.startswith("argument")

    @pytest.mark.parametrize("value", [1.0, "1", None, b"\x01"])
    def test_non_integers_raise_a_prefixed_type_error(self, editor, value):
        message = raised_message(TypeError, lambda: editor.get_token_by_id(value))
        assert message == f"argument 'id': '{type(value).__name__}' object cannot be interpreted as an integer"

    def test_index_errors_other_than_type_error_pass_unchanged(self, editor):
        class Failing:
            def __index__(self):
                raise ValueError("no index today")

        assert raised_message(ValueError, lambda: editor.get_token_by_id(Failing())) == "no index today"

    def test_type_error_subclass_passes_unchanged(self, editor):
        class OwnTypeError(TypeError):
            pass

        class Failing:
            def __index__(self):
                raise OwnTypeError("mine")

        with pytest.raises(OwnTypeError, match="^mine$"):
            editor.get_token_by_id(Failing())

    def test_replaced_type_error_keeps_its_cause(self, editor):
        cause = KeyError("root")

        class Failing:
            def __index__(self):
                raise TypeError("inner") from cause

        with pytest.raises(TypeError) as raised:
            editor.get_token_by_id(id=Failing())
        assert str(raised.value) == "argument 'id': inner"
        assert raised.value.__cause__ is cause

    def test_replaced_type_error_without_cause_has_none(self, editor):
        with pytest.raises(TypeError) as raised:
            editor.get_token_by_id(1.5)
        assert raised.value.__cause__ is None


def failing_conversions(exception):
    """Arguments whose conversion meets `exception` where a failure would be dropped."""

    class Tokens(list):
        def __len__(self):  # asked only as a capacity hint
            raise exception

    class Meta(type):
        def __getattribute__(cls, name):
            if name == "__qualname__":
                raise exception
            return super().__getattribute__(name)

    class Unprintable:
        def __str__(self):
            raise exception

    class Index:
        def __index__(self):
            raise TypeError(Unprintable())

    return {
        "length hint": lambda editor: editor.add_tokens(Tokens(["zz"])),
        "type name": lambda editor: editor.has_token(Meta("Odd", (), {})()),
        "message of a TypeError": lambda editor: editor.get_token_by_id(Index()),
    }


@pytest.mark.parametrize("place", ["length hint", "type name", "message of a TypeError"])
@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit, MemoryError])
def test_interrupts_exits_and_memory_errors_are_never_dropped(editor, place, exception):
    before = editor.to_json()
    with pytest.raises(exception):
        failing_conversions(exception)[place](editor)
    assert editor.to_json() == before


class TestErrorMapping:
    def test_missing_file(self, lexmill, tmp_path):
        path = str(tmp_path / "absent.json")
        error = raised_message(FileNotFoundError, lambda: lexmill.Lexmill(path))
        assert error == f"Failed to load tokenizer: Failed to read: {path}"

    def test_path_is_reported_exactly_as_given(self, lexmill, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        assert raised_message(FileNotFoundError, lambda: lexmill.Lexmill("./x/../absent.json")) == (
            "Failed to load tokenizer: Failed to read: ./x/../absent.json"
        )

    def test_oserror_carries_only_the_message_and_the_system_reason_as_cause(self, lexmill, tmp_path):
        with pytest.raises(OSError) as raised:
            lexmill.Lexmill(str(tmp_path / "absent.json"))
        assert len(raised.value.args) == 1
        assert raised.value.errno is None and raised.value.filename is None
        assert type(raised.value.__cause__) is FileNotFoundError and raised.value.__cause__.errno == errno.ENOENT

    @pytest.mark.parametrize(
        "content, reason",
        [
            (b"not json", "Failed to parse tokenizer.json"),
            (b"{}", "Failed to parse tokenizer.json"),
            (tokenizer_json(model_extra={"type": "WordPiece"}).encode(), "Only BPE tokenizers are supported"),
            (b'{"version": "\xff"}', "Failed to read: {path}"),
        ],
    )
    def test_unusable_file(self, lexmill, tmp_path, content, reason):
        path = tmp_path / "tokenizer.json"
        path.write_bytes(content)
        error = raised_message(OSError, lambda: lexmill.Lexmill(str(path)))
        assert error == "Failed to load tokenizer: " + reason.format(path=path)

    def test_directory_instead_of_file(self, lexmill, tmp_path):
        assert raised_message(IsADirectoryError, lambda: lexmill.Lexmill(str(tmp_path))) == (
            f"Failed to load tokenizer: Failed to read: {tmp_path}"
        )

    def test_nul_in_path_never_opens_a_shorter_path(self, lexmill, saved):
        # The operating system sees paths up to the first NUL; opening that
        # shorter path instead of failing would read the wrong file.
        path = str(saved) + "\x00.bak"
        assert raised_message(OSError, lambda: lexmill.Lexmill(path)) == (
            f"Failed to load tokenizer: Failed to read: {path}"
        )

    @pytest.mark.parametrize("text", ["", "not json", "{", '{"version": "1"', "[1, 2]"])
    def test_from_json_on_text_that_is_no_tokenizer(self, lexmill, text):
        assert raised_message(ValueError, lambda: lexmill.Lexmill.from_json(text)).startswith("Failed to parse JSON: ")

    def test_from_json_on_a_non_bpe_document(self, lexmill):
        with pytest.raises(ValueError) as raised:
            lexmill.Lexmill.from_json(tokenizer_json(model_extra={"type": "Unigram"}))
        assert type(raised.value) is ValueError
        assert raised.value.args == ("Only BPE tokenizers are supported",)

    def test_save_to_a_missing_directory(self, editor, tmp_path):
        path = str(tmp_path / "missing" / "tokenizer.json")
        assert raised_message(FileNotFoundError, lambda: editor.save(path)) == f"Failed to save tokenizer: Failed to write: {path}"

    def test_save_with_nul_in_path_writes_nothing(self, editor, tmp_path):
        target = tmp_path / "out.json"
        path = str(target) + "\x00.tmp"
        assert raised_message(OSError, lambda: editor.save(path)) == f"Failed to save tokenizer: Failed to write: {path}"
        assert list(tmp_path.iterdir()) == []

    def test_editor_usable_after_failed_calls(self, editor, tmp_path):
        for call in (lambda: editor.save(str(tmp_path / "no" / "x")), lambda: editor.has_token(1)):
            with pytest.raises((OSError, TypeError)):
                call()
        assert editor.vocab_size == 4 and editor.get_token_id("ab") == 2


class TestOpeningAndSaving:
    def test_save_returns_none_and_reopens_equal(self, lexmill, editor, saved):
        reopened = lexmill.Lexmill(str(saved))
        assert reopened.get_vocab() == editor.get_vocab()
        assert reopened.get_merges() == editor.get_merges()
        assert editor.save(str(saved)) is None

    def test_to_json_reopens_equal(self, lexmill, editor):
        text = editor.to_json()
        assert isinstance(text, str)
        assert lexmill.Lexmill.from_json(text).get_vocab() == editor.get_vocab()


class TestResults:
    def test_shapes(self, editor):
        assert editor.has_token("a") is True and editor.has_token("zz") is False
        assert editor.get_token_id("zz") is None and editor.get_token_by_id(7) is None
        assert editor.get_merges() == [("a", "b")] and type(editor.get_merges()[0]) is tuple
        assert editor.get_single_char_tokens() == [("a", 0), ("b", 1)]
        assert editor.check_vocab_gaps() == (True, 4294967292, 0, 4294967295)
        assert type(editor.check_vocab_gaps()) is tuple

    def test_unsigned_ids_never_read_negative(self, editor):
        assert editor.get_token_id("top") == 4294967295
        assert editor.get_vocab()["top"] == 4294967295
        assert editor.get_stats().max_token_id == 4294967295

    def test_vocab_dict_in_bytewise_order(self, lexmill):
        tokens = ["b", "é", "a", "B", "\x7f", "ab"]
        vocab = lexmill.Lexmill.from_json(tokenizer_json(tokens)).get_vocab()
        assert list(vocab) == sorted(tokens, key=str.encode)

    @pytest.mark.parametrize(
        "read, mutate",
        [
            (lambda e: e.get_merges(), lambda v: v.append(("x", "y"))),
            (lambda e: e.get_vocab(), lambda v: v.update(zz=9)),
            (lambda e: e.get_single_char_tokens(), lambda v: v.clear()),
            (lambda e: e.get_stats().length_distribution, lambda v: v.append((9, 9))),
        ],
    )
    def test_every_read_is_a_fresh_copy(self, editor, read, mutate):
        first = read(editor)
        mutate(first)
        assert read(editor) != first

    def test_result_object_fields_are_new_objects_on_each_read(self, editor):
        stats = editor.get_stats()
        first, second = stats.length_distribution, stats.length_distribution
        assert first == second and first is not second
        first.append((9, 9))
        assert stats.length_distribution == second

    def test_result_object_outlives_the_editor(self, lexmill):
        stats = lexmill.Lexmill.from_json(tokenizer_json(["a", "bc"])).get_stats()
        assert (stats.vocab_size, stats.length_distribution) == (2, [(1, 1), (2, 1)])

    def test_repr_and_str(self, editor):
        assert repr(editor) == str(editor) == "Lexmill(vocab_size=4, merges_count=1)"
        assert repr(editor) == f"Lexmill(vocab_size={editor.vocab_size}, merges_count={editor.merges_count})"


class TestUseAndReferences:
    def test_shared_uses_may_overlap(self, editor):
        class ReadsEditor:
            def __index__(self):
                return editor.vocab_size - 3

        assert editor.get_token_by_id(ReadsEditor()) == "b"

    def test_failed_calls_leak_no_references(self, editor):
        argument = object()
        before = sys.getrefcount(argument)
        for _ in range(50):
            with pytest.raises(TypeError):
                editor.has_token(token=argument)
            with pytest.raises(TypeError):
                editor.save(argument, argument)
        assert sys.getrefcount(argument) == before

    def test_successful_calls_leak_no_references(self, editor):
        token = "ab" * 3
        before = sys.getrefcount(token)
        for _ in range(50):
            editor.has_token(token)
            editor.get_token_id(token=token)
        assert sys.getrefcount(token) == before
