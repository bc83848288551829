"""How every Lexmill call binds, converts and answers: the shared call layer."""

import errno
import json
import pathlib

import pytest

from conftest import tokenizer_json

OUT_OF_RANGE = "out of range integral type conversion attempted"
LOAD, SAVE = "Failed to load tokenizer: ", "Failed to save tokenizer: "


@pytest.fixture
def editor(lexmill):
    return lexmill.Lexmill.from_json(tokenizer_json({"a": 0, "b": 1, "ab": 2, "top": 4294967295}, merges=[("a", "b")]))


def raised_message(error_class, call):
    with pytest.raises(error_class) as raised:
        call()
    assert type(raised.value) is error_class
    return str(raised.value)


class Index:  # an integer-like object that is not an int; it raises `value` if that is an exception
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


def not_str(name, value):
    return f"argument '{name}': '{type(value).__qualname__}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("error, call, message", [
    (TypeError, lambda L, e: L.Lexmill(), "Lexmill.__new__() missing 1 required positional argument: 'path'"),
    (TypeError, lambda L, e: L.Lexmill(pth="a"), "Lexmill.__new__() got an unexpected keyword argument 'pth'"),
    (TypeError, lambda L, e: L.Lexmill("a", path="b"), "Lexmill.__new__() got multiple values for argument 'path'"),
    # Binding comes before conversion: the unconvertible 1 is never looked at.
    (TypeError, lambda L, e: L.Lexmill(1, 2), "Lexmill.__new__() takes 1 positional arguments but 2 were given"),
    # Keywords are checked in the order given, before anything is reported missing.
    (TypeError, lambda L, e: e.save(x=1, path=2), "Lexmill.save() got an unexpected keyword argument 'x'"),
    (TypeError, lambda L, e: e.to_json(1), "Lexmill.to_json() takes no arguments (1 given)"),
    (TypeError, lambda L, e: e.get_vocab(x=1), "Lexmill.get_vocab() takes no keyword arguments"),
    # Text parameters take str only, and say which parameter refused what.
    (TypeError, lambda L, e: e.has_token(b"a"), not_str("token", b"")),
    (TypeError, lambda L, e: L.Lexmill(pathlib.Path("t")), not_str("path", pathlib.Path())),
    # IDs are unsigned 32-bit integers; what is no integer says so.
    (OverflowError, lambda L, e: e.get_token_by_id(-1), OUT_OF_RANGE),
    (OverflowError, lambda L, e: e.get_token_by_id(2**32), OUT_OF_RANGE),
    (OverflowError, lambda L, e: e.get_token_by_id(Index(-(2**63))), OUT_OF_RANGE),
    (TypeError, lambda L, e: e.get_token_by_id(id=1.0), "argument 'id': 'float' object cannot be interpreted as an integer"),
    # Files: the path exactly as given, the reason after it.
    (FileNotFoundError, lambda L, e: L.Lexmill("./x/../absent.json"), LOAD + "Failed to read: ./x/../absent.json"),
    (IsADirectoryError, lambda L, e: L.Lexmill("/"), LOAD + "Failed to read: /"),
])
def test_messages(lexmill, editor, error, call, message):
    assert raised_message(error, lambda: call(lexmill, editor)) == message


def test_keywords_and_instances(lexmill, editor, tmp_path):
    editor.save(path=str(tmp_path / "t.json"))
    assert lexmill.Lexmill(path=str(tmp_path / "t.json")).vocab_size == 4
    assert editor.has_token(token="ab") and editor.get_token_id(token="ab") == 2
    # from_json called on an instance leaves that instance alone.
    other = editor.from_json(json_str=tokenizer_json(["x"]))
    assert type(other) is type(editor) and (other.vocab_size, editor.vocab_size) == (1, 4)
    # Conversion can run Python code that empties the caller's keyword dict, or uses the editor itself.
    kwargs = {"id": type("Clearing", (), {"__index__": lambda self: kwargs.clear() or 1})()}
    assert editor.get_token_by_id(**kwargs) == "b"
    assert editor.get_token_by_id(type("ReadsEditor", (), {"__index__": lambda self: editor.vocab_size - 3})()) == "b"


def test_odd_type_names_and_str_subclasses(editor):
    assert raised_message(TypeError, lambda: failing_conversions(raising(RuntimeError))["type name"](editor)) == \
        "argument 'token': '<failed to extract type name>' object cannot be converted to 'PyString'"
    assert editor.get_token_id(type("Shouting", (str,), {"__str__": lambda self: "B"})("ab")) == 2
    assert not raised_message(UnicodeEncodeError, lambda: editor.has_token("a\udfffb")).startswith("argument")


@pytest.mark.parametrize("value, expected", [
    (0, "a"), (True, "b"), (Index(2), "ab"), (4294967295, "top"), (3, None), (4294967294, None)])
def test_ids_accepted(editor, value, expected):
    assert editor.get_token_by_id(value) == expected


def test_failures_of_index_itself(editor):
    for value in [2**63, -(2**63) - 1, Index(2**70)]:  # the interpreter's own overflow
        message = raised_message(OverflowError, lambda: editor.get_token_by_id(value))
        assert message != OUT_OF_RANGE and not message.startswith("argument")
    own_type_error = type("OwnTypeError", (TypeError,), {})
    for error in (ValueError("no"), own_type_error("mine")):
        assert raised_message(type(error), lambda: editor.get_token_by_id(Index(error))) == str(error)
    inner = TypeError("inner")
    inner.__cause__ = KeyError("root")
    with pytest.raises(TypeError) as raised:
        editor.get_token_by_id(id=Index(inner))
    assert str(raised.value) == "argument 'id': inner" and raised.value.__cause__ is inner.__cause__


def raising(exception):
    def fail(*args):
        raise exception
    return fail


def failing_conversions(fail):  # conversions that call `fail` where a failure could be dropped
    meta = type("Meta", (type,), {"__getattribute__": lambda c, n: type.__getattribute__(c, n)
                                  if n != "__qualname__" else fail()})
    return {"length hint": lambda e: e.add_tokens(type("Tokens", (list,), {"__len__": fail})(["zz"])),
            "type name": lambda e: e.has_token(meta("Odd", (), {})()),
            "message of a TypeError": lambda e: e.get_token_by_id(Index(TypeError(type("U", (), {"__str__": fail})())))}


@pytest.mark.parametrize("place", ["length hint", "type name", "message of a TypeError"])
@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit, MemoryError])
def test_interrupts_exits_and_memory_errors_are_never_dropped(editor, place, exception):
    before = editor.to_json()
    with pytest.raises(exception):
        failing_conversions(raising(exception))[place](editor)
    assert editor.to_json() == before


def test_os_errors_carry_the_message_and_the_system_reason_as_cause(lexmill, editor, tmp_path):
    with pytest.raises(OSError) as raised:
        lexmill.Lexmill(str(tmp_path / "absent.json"))
    assert len(raised.value.args) == 1 and raised.value.errno is None and raised.value.filename is None
    assert type(raised.value.__cause__) is FileNotFoundError and raised.value.__cause__.errno == errno.ENOENT
    # The system reads a path only up to a NUL: that shorter path must never be opened or written.
    editor.save(str(tmp_path / "t.json"))
    for call, prefix in [(lambda p: lexmill.Lexmill(p), LOAD + "Failed to read: "),
                         (lambda p: editor.save(p), SAVE + "Failed to write: ")]:
        path = str(tmp_path / "t.json") + "\x00.bak"
        assert raised_message(OSError, lambda: call(path)) == prefix + path
    assert [p.name for p in tmp_path.iterdir()] == ["t.json"]
    assert editor.vocab_size == 4 and editor.get_token_id("ab") == 2


def test_results(lexmill, editor):
    assert editor.get_merges() == [("a", "b")] and type(editor.get_merges()[0]) is tuple
    assert editor.get_single_char_tokens() == [("a", 0), ("b", 1)]
    assert editor.check_vocab_gaps() == (True, 4294967292, 0, 4294967295)
    # Unsigned IDs never read negative.
    assert editor.get_vocab()["top"] == editor.get_stats().max_token_id == 4294967295
    # Every read is a fresh copy, and results outlive their editor.
    for read in (editor.get_merges, editor.get_vocab, editor.get_single_char_tokens):
        first = read()
        first.clear()
        assert read() != first
    stats = lexmill.Lexmill.from_json(tokenizer_json(["a", "bc"])).get_stats()
    stats.length_distribution.append((9, 9))
    assert (stats.vocab_size, stats.length_distribution) == (2, [(1, 1), (2, 1)])

