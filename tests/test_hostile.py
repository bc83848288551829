"""Malformed, enormous or adversarial input ends in a clear error or a working editor, never in a crash or hang."""

import json
import subprocess
import sys

import pytest

from conftest import subprocess_env, tokenizer_json

LOAD = "Failed to load tokenizer: "


def write(path, content):
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    return str(path)


# Each opens the nesting where different code reads: the document itself (array
# form), a kept section, an added token, the vocabulary, the merge list, a merge,
# a dropped member.
DEEP_PLACES = ["", '{"normalizer": ', '{"added_tokens": [', '{"model": {"vocab": {"a": ',
               '{"model": {"merges": ', '{"model": {"merges": [[', '{"x": ']


@pytest.mark.parametrize("place", DEEP_PLACES)
@pytest.mark.parametrize("opening", ["[", '{"k": '])
def test_deep_nesting_is_a_parse_error(lexmill, tmp_path, place, opening):
    unclosed = place + opening * 100_000
    closed = unclosed + ("]" if opening == "[" else "}") * 100_000
    for text in (unclosed, closed):
        with pytest.raises(ValueError, match="^Failed to parse JSON: "):
            lexmill.Lexmill.from_json(text)
    path = write(tmp_path / "deep.json", closed)
    with pytest.raises(OSError, match=f"^{LOAD}Failed to parse tokenizer.json$"):
        lexmill.Lexmill(path)


@pytest.mark.parametrize("bad", [b"\x80", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xff", b"\xe2\x96"],
                         ids=["continuation", "overlong", "surrogate", "above_unicode", "ff", "truncated"])
def test_invalid_utf8_is_refused_wherever_it_stands(lexmill, tmp_path, bad):
    good = tokenizer_json({"ab": 0}).encode()
    for content in (good.replace(b'"ab"', b'"a' + bad + b'b"'), good.replace(b"{", b"{" + bad, 1), good + bad):
        path = write(tmp_path / "bad.json", content)
        with pytest.raises(OSError) as raised:
            lexmill.Lexmill(path)
        assert str(raised.value) == LOAD + f"Failed to read: {path}"
    with pytest.raises(UnicodeEncodeError):
        lexmill.Lexmill.from_json(tokenizer_json({"\ud800": 0}))


@pytest.mark.parametrize("source", ["text", "file"])
def test_a_token_of_100_mb(lexmill, tmp_path, source):
    # A multi-byte character and a NUL at each end: no part may take it for one-byte or C text.
    huge = "\x00é" + "x" * (100 * 1024 * 1024 - 4) + "é\x00"
    text = tokenizer_json({"a": 0, huge: 1, "b": 2}, [("a", "b")])
    editor = lexmill.Lexmill.from_json(text) if source == "text" else lexmill.Lexmill(write(tmp_path / "h.json", text))
    del text
    assert editor.vocab_size == 3 and editor.get_token_id(huge) == 1 and editor.get_token_by_id(1) == huge
    assert not editor.has_token(huge[:-1])
    assert editor.add_token_atomic(huge + "y") is True and editor.get_token_id(huge + "y") == 3
    removal = editor.remove_token(huge)
    assert removal.removed_tokens == [huge] and removal.removed_merges == []
    editor.save(str(tmp_path / "saved.json"))
    assert json.loads((tmp_path / "saved.json").read_bytes())["model"]["vocab"] == {"a": 0, "b": 2, huge + "y": 3}


MEMORY_LIMITED_CHILD = """
import resource, sys
resource.setrlimit(resource.RLIMIT_AS, (3 << 30, resource.getrlimit(resource.RLIMIT_AS)[1]))
import lexmill
editor = lexmill.Lexmill.from_json(sys.argv[1])
before = editor.to_json()
distinct = "".join(chr(0x20000 + i) for i in range(50_000))
for call in (
    lambda: editor.add_token("q" * 4_000_000),
    lambda: editor.add_token(distinct),
    lambda: editor.add_token(distinct, reachable=True),
    lambda: editor.add_tokens_keep_size(["ab", "z" * 3_000_000]),
):
    try:
        call()
        raise SystemExit("no MemoryError")
    except MemoryError:
        pass
    # Nothing is left half built, and the next edits work.
    if editor.to_json() != before and editor.vocab_size != 6:
        raise SystemExit("changed: " + repr(editor))
print(editor.add_tokens_keep_size(["abcd", "ba"], reachable=True), editor.add_token("qq").method,
      editor.remove_token("abc").removed_tokens, editor.validate_merges().invalid_count)
"""


def test_edits_beyond_memory_fail_cleanly():
    # A chain stores every prefix: 50,000 characters of four bytes need 5 GB,
    # more than the 3 GiB the child may have; 4 million need 8 TB.
    doc = tokenizer_json(["a", "b", "c", "ab", "abc", "cb"], merges=[("a", "b"), ("ab", "c")])
    run = subprocess.run([sys.executable, "-c", MEMORY_LIMITED_CHILD, doc], capture_output=True, text=True,
                         timeout=300, env=subprocess_env())
    assert run.returncode == 0, run.stderr
    assert run.stdout.split("}")[1].split() == ["char_chain", "['abc']", "0"]


def test_a_million_tokens(lexmill, tmp_path):
    count = 1_000_000
    text = tokenizer_json({f"t{i}": i for i in range(count)}, [(f"t{i}", f"t{i + 1}") for i in range(0, 1000, 2)])
    assert len(lexmill.Lexmill.from_json(text).get_vocab()) == count
    path = write(tmp_path / "big.json", text)
    editor = lexmill.Lexmill(path)
    assert editor.vocab_size == count and editor.merges_count == 500
    assert editor.get_token_id("t999999") == 999_999 and editor.get_token_by_id(0) == "t0"
    assert editor.check_vocab_gaps() == (False, 0, 0, count - 1)
    assert editor.add_token_atomic("new") and editor.get_token_id("new") == count
    assert editor.remove_token("t999998").removed_tokens == ["t999998"]
    assert editor.reindex_vocab().ids_remapped == 2
    editor.save(path)
    again = lexmill.Lexmill(path)
    assert again.get_token_id("new") == count - 1 and again.to_json() == editor.to_json()


def test_nul_is_data_written_as_an_escape(lexmill, tmp_path):
    text = tokenizer_json({"a": 0, "b": 1, "a\x00b": 2}, [("a", "\x00b")],
                          added_tokens=[{"id": 3, "content": "\x00", "special": True}],
                          normalizer={"type": "Replace", "pattern": {"String": "\x00"}, "content": "\x00\x00"})
    editor = lexmill.Lexmill(write(tmp_path / "nul.json", text))
    assert editor.get_token_id("a\x00b") == 2 and not editor.has_token("a\x00")
    assert editor.get_merges() == [("a", "\x00b")]
    editor.save(str(tmp_path / "out.json"))
    saved = (tmp_path / "out.json").read_bytes()
    assert b"\x00" not in saved and b'"a\\u0000b": 2' in saved and json.loads(saved) == json.loads(text)
    # Edits treat NUL as any other character.
    assert editor.add_token("a\x00\x00").method == "longest_prefix"
    assert editor.has_token("\x00") and editor.has_token("\x00\x00")
    assert set(editor.remove_token("\x00").removed_tokens) == {"\x00", "\x00\x00", "a\x00\x00"}
    # A raw NUL byte is no JSON, inside a string or after a value.
    for raw in (b'"a\x00b": 0', b'"ab": 0\x00'):
        content = tokenizer_json({"ab": 0}).encode().replace(b'"ab": 0', raw)
        with pytest.raises(OSError, match=f"^{LOAD}Failed to parse tokenizer.json$"):
            lexmill.Lexmill(write(tmp_path / "raw.json", content))

