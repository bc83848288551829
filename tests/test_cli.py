"""The lexmill command line run as a user runs it: exit status, output, files written, refusals."""

import json
import os
import signal
import subprocess
import sys

import pytest

from conftest import REPO, data_file, tokenizer_dict, tokenizer_json

try:
    import lexmill_cli
except ImportError:  # tests run against a build folder rather than an installed package
    sys.path.insert(0, str(REPO / "src" / "cli"))
    import lexmill_cli

import lexmill

EXAMPLE = REPO / "examples" / "tiny.tokenizer.json"
ENV = dict(os.environ, PYTHONUTF8="1", PYTHONPATH=os.pathsep.join([os.path.dirname(os.path.dirname(
    lexmill_cli.__file__)), os.path.dirname(lexmill.__file__), os.environ.get("PYTHONPATH", "")]))
COMMAND = [sys.executable, "-m", "lexmill_cli"]


def lexmill_command(*args):
    """(status, stdout, stderr) of `lexmill ARGS...`; arguments may be bytes."""
    ran = subprocess.run(COMMAND + [arg if isinstance(arg, bytes) else str(arg) for arg in args],
                         capture_output=True, env=ENV, timeout=300)
    out, err = (stream.decode("utf-8", "backslashreplace") for stream in (ran.stdout, ran.stderr))
    assert "Traceback" not in err
    return ran.returncode, out, err


FILES = {  # name: tokenizer_dict arguments
    "small": (["a", "b", "c", "ab", "bc", "abc"], [("a", "b"), ("ab", "c"), ("b", "c")],
              [{"id": 6, "content": "<s>", "special": True, "single_word": False, "lstrip": False, "rstrip": False,
                "normalized": False}]),
    "byte_level": (["a", "b", "\u0120", "\u0120a"], [("\u0120", "a")], None, {"pre_tokenizer": {"type": "ByteLevel"}}),
    "gaps": ({"a": 0, "b": 1, "ab": 4, "<s>": 5}, [("a", "b")]),
    "broken": (["a", "b", "c", "ab"], [("a", "b"), ("b", "c"), ("a", "c")]),
    "cascade": (["a", "b", "c", "x", "ab", "abc", "xb", "bc"], [("a", "b"), ("ab", "c"), ("b", "c"), ("x", "b")]),
    "pattern": (["a", "b", "c", "ab", "bc", "abc", "cab"], [("a", "b"), ("b", "c"), ("ab", "c"), ("c", "ab")]),
    "no_room": (["a", "b", "c", "d", "e", "f", "x", "abcdef"],),
    "keep": (["a", "b", "c", "d", "ab", "cd", "abc", "abcd", "bcd"],
             [("a", "b"), ("c", "d"), ("ab", "c"), ("ab", "cd"), ("b", "cd")]),
    "lex": (["\u2581", "l", "e", "x", "\u2581l", "\u2581le", "\u2581lex"],
            [("\u2581", "l"), ("\u2581l", "e"), ("\u2581le", "x")]),
}


@pytest.fixture
def places(tmp_path):
    """Files that the tables below name in braces."""
    found = {"missing": tmp_path / "missing.json", "out": tmp_path / "out.json", "map": tmp_path / "map.json",
             "unwritable": tmp_path / "no-such-folder" / "out.json", "example": EXAMPLE, "tokens": tmp_path / "tokens.txt"}
    found["tokens"].write_bytes("ab\r\nc\u00e9\n\n".encode("utf-8"))
    for name, args in FILES.items():
        found[name] = tmp_path / f"{name}.json"
        found[name].write_text(tokenizer_json(*args[:3], **(args[3] if len(args) > 3 else {})), encoding="utf-8")
    for name, merges in [("string_merges", ["a b", "ab c"]), ("bad_merge", ["a b", "ab  c"])]:
        found[name] = tmp_path / f"{name}.json"
        found[name].write_text(json.dumps(tokenizer_dict(["a", "b", "c", "ab", "abc"], model_extra={"merges": merges}),
                                          indent=2), encoding="utf-8")
    found["latin1_name"] = os.fsencode(tmp_path) + b"/caf\xe9.json"  # a file name that is no UTF-8
    with open(found["latin1_name"], "wb") as target:
        target.write(found["small"].read_bytes())
    return found


def filled(args, places):
    return [places.get(arg[1:-1], arg.format(**places)) if isinstance(arg, str) else arg for arg in args]


@pytest.mark.parametrize("args, complaint", [
    ([], "required: COMMAND"), (["shrink", "{small}", "-5", "-o", "{out}"], "must not be negative"),
    (["shrink", "{small}", "1", "--min-id", "4294967296", "-o", "{out}"], "not a token ID"),
    (["remove", "{small}", "--match", "(", "-o", "{out}"], "not a regular expression"),
    (["add", "{small}", "-o", "{out}"], "lexmill add: error: no tokens given"),
    (["add", "{small}", "x", "--whitelist", "a", "-o", "{out}"], "--whitelist applies only with --keep-size"),
    (["reindex", "{small}", "--id-map", "{out}", "-o", "{out}"], "--id-map must name another file than -o"),
    (["shrink", "{small}", "1"], "shrink needs -o PATH"),
])
def test_usage_mistakes_exit_with_status_2(places, args, complaint):
    status, out, err = lexmill_command(*filled(args, places))
    assert status == 2 and err.startswith("usage: lexmill") and complaint in err
    assert not places["out"].exists()


@pytest.mark.parametrize("args, message", [  # each message as far as needed to tell it apart
    (["stats", "{missing}"], "stats: error: Failed to load tokenizer: Failed to read: {missing}"),
    (["merge", "{small}", "{byte_level}", "-o", "{out}"], "merge: error: Failed to merge tokenizer: Unsupported target: "),
    (["add", "{small}", "x", "-o", "{unwritable}"], "add: error: Failed to save tokenizer: Failed to write: {unwritable}"),
    # Single-string merges: the error names the command that converts them.
    (["stats", "{string_merges}"], "stats: error: Failed to load tokenizer: Failed to parse tokenizer.json: its merges "
     "are single strings (\"a b\") rather than pairs; convert them with: lexmill convert-merges {string_merges} -o "),
    (["convert-merges", "{bad_merge}", "-o", "{out}"], "convert-merges: error: {bad_merge} line 28: merge #1 'ab  c' d"),
    (["remove", "{small}", "zz", "-o", "{out}"], "remove: error: none of the tokens is in the vocabulary ('zz'); nothing"),
    # Tokens that can never come out of BPE in the vocabulary.
    (["add", "{byte_level}", "\u4e2d", "\u0120\u4e2d", "-o", "{out}"], "add: error: '\u4e2d' cannot occur in this byte-"
     "level vocabulary: '\u4e2d' (U+4E2D) is not one of its 256 byte characters (and 1 more tokens)"),
    (["add", "{byte_level}", "\u0120b", "--keep-size", "--id-map", "{unwritable}", "-o", "{out}"],
     "add: error: Failed to write ID map: {unwritable}: No such file or directory"),
    (["add", "{small}", b"x\xff", "-o", "{out}"], "add: error: the token b'x\\xff' is not UTF-8 text"),
    (["stats", "{latin1_name}"], "stats: error: the file name "),
])
def test_failures_exit_with_status_1_and_write_nothing(places, args, message):
    status, _, err = lexmill_command(*filled(args, places))
    assert status == 1 and err.startswith("lexmill " + message.format(**places)) and err.count("\n") == 1
    assert not places["out"].exists() and not places["map"].exists()


def has(*tokens):
    return lambda editor, places: all(editor.has_token(token) for token in tokens)


@pytest.mark.parametrize("args, status, out_lines, err, check", [
    (["stats", "{gaps}"], 0, ["Lexmill(vocab_size=4, merges_count=1)", "0 to 5, 2 unused", "single characters   2",
                              "special-looking     1", "tokens by length    1: 2, 2: 1, 3: 1"], "", None),
    (["validate", "{broken}", "--show", "1"], 1, ["1 valid merges, 2 invalid", "... and 1 more",
                                                  "#1: 'b' + 'c' -> 'bc' is not in the vocabulary"], "", None),
    (["validate", "{broken}", "--remove-invalid", "-o", "{out}", "--quiet"], 0, ["removed 2 invalid merges"], "",
     lambda e, p: e.get_merges() == [("a", "b")]),
    # "d" takes ID 7 on the way, "x" and "y" 9 and 10; the input is left as it was.
    (["add", "{small}", "abcd", "c", "-o", "{out}", "xy", "--chain"], 0,
     ["'abcd': added (longest_prefix), ID 8, merges added: 'abc' + 'd'", "'c': already in the vocabulary",
      "'xy': added (char_chain), ID 11, merges added: 'x' + 'y'", "added 2 of 3 tokens", "pinned 1 added tokens"], "",
     lambda e, p: ("abc", "d") in e.get_merges() and not lexmill.Lexmill(str(p["small"])).has_token("abcd")),
    # The merges cut "abcab" into "abc" and "ab": one merge joins them.
    (["add", "{small}", "abcab", "-o", "{out}"], 0, ["'abcab': added (reachable)", "pinned 1 added tokens"], "",
     has("abcab", "<s>")),
    (["add", "{small}", "abcab", "--no-pin", "-o", "{out}"], 0, ["'abcab': added (reachable)"],
     None, lambda e, p: not e.has_token("<s>")),
    # The token list's CRLF and blank line are no part of any token.
    (["add", "{byte_level}", "a b", "--plain", "--tokens-file", "{tokens}", "-o", "{out}"], 0, ["added 3 of 3"], "",
     has("a\u0120b", "ab", "c\u00c3\u00a9")),
    (["add", "{byte_level}", "ab", "--words", "-o", "{out}"], 0, [], "", has("\u0120ab")),
    (["add", "{small}", "<|sep|>", "a", "--atomic", "-o", "{out}"], 0,
     ["'<|sep|>': added, ID 7", "'a': already in the vocabulary"], "", lambda e, p: e.merges_count == 3),
    # "abcdefx" is built from "abcdef", the only token that could make room.
    (["add", "{no_room}", "abcdefx", "--keep-size", "-o", "{out}"], 1, ["added while keeping the vocabulary size:"],
     "lexmill add: error: 1 of the tokens asked for could not be added: nothing was left to remove to make room "
     "('abcdefx'); nothing was written\n", None),
    # "ab" is produced twice; removing it must not leave ("x", "b") behind.
    (["remove", "{cascade}", "ab", "zz", "abc", "-o", "{out}"], 0,
     ["'ab': removed 2 tokens and 2 merges", "    'abc'", "'abc': removed with an earlier token",
      "removed 2 tokens and 2 merges in all"], "lexmill remove: warning: 'zz' is not in the vocabulary\n",
     lambda e, p: not e.has_token("ab") and e.validate_merges().invalid_count == 0),
    # The pattern matches whole tokens: 'ab' and 'abc', not 'cab'.
    (["remove", "{pattern}", "--match", "ab.*", "--quiet", "-o", "{out}"], 0,
     ["removed 3 tokens and 3 merges in all", "wrote {out}: Lexmill(vocab_size=4, merges_count=1)"], "",
     lambda e, p: sorted(e.get_vocab()) == ["a", "b", "bc", "c"]),
    (["reindex", "{gaps}", "-o", "{out}", "--id-map", "{map}"], 0, ["gaps_removed  2", "wrote {map}: 2 IDs"], "",
     lambda e, p: e.get_vocab() == {"<s>": 3, "a": 0, "ab": 2, "b": 1} and json.loads(p["map"].read_text()) == {"4": 2, "5": 3}),
    (["sync-chars", "{small}", "{byte_level}", "-o", "{out}"], 0, ["chars_added_count      1"], None, has("\u0120")),
    # 602 tokens (the example's and the new '\u0120lex') in 500.
    (["merge", "{example}", "{lex}", "--max-vocab-size", "500", "-o", "{out}"], 0,
     ["representation             ByteLevel (\u0120)", "source_vocab_size          7", "target_tokens_removed      102"],
     "lexmill merge: warning: 102 of the target's tokens were dropped to stay within --max-vocab-size 500; "
     "--max-vocab-size 602 keeps them all\n", has("\u0120lex")),
    (["add", "{keep}", "ba", "dc", "--keep-size", "--id-map", "{map}", "-o", "{out}"], 0, ["final_vocab_size    9"], "",
     lambda e, p: e.vocab_size == 9 and e.validate_merges().invalid_count == 0 and json.loads(p["map"].read_text())
     == {"6": {"old": "abc", "new": "dc"}, "7": {"old": "abcd", "new": "ba"}}),
    # The preview names what the shrink then removes.
    (["shrink", "{example}", "3", "--dry-run"], 0, ["3 tokens would be removed (with everything built from them):",
     "ID     498   13 chars  '\u0120neighbouring'", "ID     463   11 chars  '\u0120repeatedly'"], "", None),
    (["shrink", "{example}", "3", "-o", "{out}"], 0, ["tokens_removed_count  3"], "",
     lambda e, p: not any(e.has_token("\u0120" + w) for w in ("neighbouring", "occasional", "repeatedly"))),
    (["convert-merges", "{string_merges}", "-o", "{out}"], 0, ["converted 2 of 2 merges from single strings to pairs"],
     "", lambda e, p: e.get_merges() == [("a", "b"), ("ab", "c")]),
])
def test_runs(places, args, status, out_lines, err, check):
    got_status, out, got_err = lexmill_command(*filled(args, places))
    assert got_status == status, got_err
    assert all(line.format(**places) in out for line in out_lines), out
    assert err is None or got_err == err.format(**places)
    assert status == 0 or not places["out"].exists()
    assert check is None or check(lexmill.Lexmill(str(places["out"])) if places["out"].exists() else None, places)


@pytest.mark.parametrize("args", [["stats", EXAMPLE], ["remove", EXAMPLE, "--match", ".*e.*", "--show", "1000", "-o"]])
def test_a_reader_that_stops_early_ends_the_report_quietly(tmp_path, args):
    read, written = os.pipe()
    # `lexmill ... | head -n 0`: the reader has gone before the report is printed.
    subprocess.run(["head", "-n", "0"], stdin=read, check=True)
    os.close(read)
    try:
        ran = subprocess.run(COMMAND + [str(arg) for arg in args] + [str(tmp_path / "out.json")] * (args[-1] == "-o"),
                             stdout=written, stderr=subprocess.PIPE, env=ENV, timeout=300)
    finally:
        os.close(written)
    assert (ran.returncode, ran.stderr) == (141, b"")
    assert args[-1] != "-o" or lexmill.Lexmill(str(tmp_path / "out.json")).vocab_size > 0


def test_an_interrupt_ends_quietly_with_status_130(places, tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    child = subprocess.Popen(COMMAND + ["add", str(places["small"]), "--tokens-file", str(fifo), "-o",
                                        str(places["out"])], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
    with open(fifo, "w"):  # opens once the command reads the token list
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    assert (child.returncode, out, err) == (130, b"", b"")
    assert not places["out"].exists()


def test_convert_merges_on_a_real_file_encodes_as_the_original(tmp_path):
    tokenizers = pytest.importorskip("tokenizers")
    original, converted = data_file("llama2.tokenizer.json"), tmp_path / "llama2.pairs.json"
    status, out, _ = lexmill_command("convert-merges", original, "-o", converted)
    assert status == 0 and "converted 58980 of 58980 merges" in out
    sample = "Tokenizers split text: naïve café, 東京, Straße 42 — don't they?\n  indented"
    ids = [tokenizers.Tokenizer.from_file(str(path)).encode(sample).ids for path in (original, converted)]
    assert ids[0] == ids[1] and len(ids[0]) > 10
