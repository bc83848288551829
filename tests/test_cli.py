"""The lexmill command line, run as a user runs it: a child process, its real
exit status, its output, the files it writes and how it fails."""

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
COMMANDS = ["stats", "validate", "add", "remove", "shrink", "reindex", "sync-chars", "merge", "convert-merges"]
BYTE_LEVEL = {"type": "ByteLevel", "add_prefix_space": False, "trim_offsets": True, "use_regex": True}
SPACE_MARKER = {"type": "Replace", "pattern": {"String": " "}, "content": "\u2581"}


def child_env():
    env = dict(os.environ, PYTHONUTF8="1")
    places = [os.path.dirname(os.path.dirname(lexmill_cli.__file__)), os.path.dirname(lexmill.__file__)]
    env["PYTHONPATH"] = os.pathsep.join(places + [env.get("PYTHONPATH", "")])
    return env


ENV = child_env()
COMMAND = [sys.executable, "-m", "lexmill_cli"]


def lexmill_command(*args, **options):
    """(status, stdout, stderr) of `lexmill ARGS...`; arguments may be bytes."""
    ran = subprocess.run(
        COMMAND + [arg if isinstance(arg, bytes) else str(arg) for arg in args],
        capture_output=True, env=ENV, timeout=300, **options,
    )
    out, err = (stream.decode("utf-8", "backslashreplace") for stream in (ran.stdout, ran.stderr))
    assert "Traceback" not in err
    return ran.returncode, out, err


def write(path, *args, **kwargs):
    path.write_text(tokenizer_json(*args, **kwargs), encoding="utf-8")
    return path


@pytest.fixture
def small(tmp_path):
    """a b c ab bc abc, built by (a, b), (ab, c), (b, c); one added special token; no spelling of its own."""
    return write(
        tmp_path / "small.json",
        ["a", "b", "c", "ab", "bc", "abc"],
        merges=[("a", "b"), ("ab", "c"), ("b", "c")],
        added_tokens=[{"id": 6, "content": "<s>", "special": True}],
    )


@pytest.fixture
def places(tmp_path, small):
    """Files that the tables below name in braces."""
    (tmp_path / "not.json").write_text("{ nope", encoding="utf-8")
    string_merges = tokenizer_dict(["a", "b", "c", "ab", "abc"])
    string_merges["model"]["merges"] = ["a b", "ab c"]
    bad_merge = tokenizer_dict(["a", "b", "ab"])
    bad_merge["model"]["merges"] = ["a b", "ab  c"]
    for name, doc in [("string_merges", string_merges), ("bad_merge", bad_merge)]:
        (tmp_path / f"{name}.json").write_text(json.dumps(doc, indent=2), encoding="utf-8")
    return {
        "small": small,
        "byte_level": write(tmp_path / "byte_level.json", ["a", "b", "\u0120", "\u0120a"], merges=[("\u0120", "a")],
                            pre_tokenizer=BYTE_LEVEL),
        "marker": write(tmp_path / "marker.json", ["a", "b", "\u2581", "\u2581a"], merges=[("\u2581", "a")],
                        normalizer=SPACE_MARKER),
        "string_merges": tmp_path / "string_merges.json",
        "bad_merge": tmp_path / "bad_merge.json",
        "missing": tmp_path / "missing.json",
        "not_json": tmp_path / "not.json",
        "out": tmp_path / "out.json",
        "map": tmp_path / "map.json",
        "unwritable": tmp_path / "no-such-folder" / "out.json",
        "folder": tmp_path,
    }


def filled(args, places):
    return [arg.format(**places) for arg in args]


# ---------------------------------------------------------------------------
# Help and usage


def test_help_lists_every_command_and_the_exit_statuses():
    status, out, _ = lexmill_command("--help")
    assert status == 0
    assert all(command in out for command in COMMANDS)
    assert "141  standard output was closed early" in out


@pytest.mark.parametrize("command", COMMANDS)
def test_each_command_has_help(command):
    status, out, _ = lexmill_command(command, "--help")
    assert status == 0 and f"usage: lexmill {command}" in out


def test_version():
    assert lexmill_command("--version")[1].strip() == f"lexmill {lexmill.__version__}"


@pytest.mark.parametrize(
    "args, complaint",
    [
        ([], "required: COMMAND"),
        (["frobnicate", "x.json"], "invalid choice"),
        (["stats"], "required: TOKENIZER"),
        (["stats", "{small}", "extra"], "lexmill stats: error: unrecognized arguments: extra"),
        (["add", "{small}", "t", "--bogus", "-o", "{out}"], "unrecognized arguments: --bogus"),
        (["add", "{small}", "t"], "required: -o/--output"),
        (["reindex", "{small}"], "required: -o/--output"),
        (["merge", "{small}", "-o", "{out}"], "required: SOURCE"),
        (["shrink", "{small}", "-5", "-o", "{out}"], "must not be negative"),
        (["shrink", "{small}", "two", "-o", "{out}"], "not a whole number"),
        (["shrink", "{small}", str(10**23), "-o", "{out}"], "too large (at most 18446744073709551615)"),
        (["shrink", "{small}", "1", "--min-id", "4294967296", "-o", "{out}"], "not a token ID"),
        (["merge", "{small}", "{small}", "--max-vocab-size", "0", "-o", "{out}"], "must be at least 1"),
        (["merge", "{small}", "{small}", "--max-vocab-size", "4294967296", "-o", "{out}"], "too large for a vocabulary"),
        (["remove", "{small}", "--match", "(", "-o", "{out}"], "not a regular expression"),
        (["add", "{small}", "t", "--atomic", "--keep-size", "-o", "{out}"], "not allowed with argument"),
        (["add", "{small}", "t", "--plain", "--words", "-o", "{out}"], "not allowed with argument"),
        (["add", "{small}", "-o", "{out}"], "lexmill add: error: no tokens given"),
        (["remove", "{small}", "-o", "{out}"], "lexmill remove: error: no tokens given"),
        (["add", "{small}", "x", "--whitelist", "a", "-o", "{out}"], "--whitelist applies only with --keep-size"),
        (["add", "{small}", "x", "--id-map", "{map}", "-o", "{out}"], "--id-map applies only with --keep-size"),
        (["reindex", "{small}", "--id-map", "{out}", "-o", "{out}"], "--id-map must name another file than -o"),
        (["shrink", "{small}", "1"], "shrink needs -o PATH"),
        (["shrink", "{small}", "1", "--match", "a", "-o", "{out}"], "--match applies only with --dry-run"),
        (["validate", "{small}", "--remove-invalid"], "--remove-invalid needs -o PATH"),
    ],
)
def test_usage_mistakes_exit_with_status_2(places, args, complaint):
    status, out, err = lexmill_command(*filled(args, places))
    assert status == 2
    assert err.startswith("usage: lexmill") and complaint in err
    assert not places["out"].exists()


# ---------------------------------------------------------------------------
# Failures: one line on standard error, status 1, nothing written

CONVERT = "convert them with: lexmill convert-merges {string_merges} -o "


@pytest.mark.parametrize(
    "args, message",
    [
        (["stats", "{missing}"], "lexmill stats: error: Failed to load tokenizer: Failed to read: {missing}"),
        (["reindex", "{not_json}", "-o", "{out}"], "lexmill reindex: error: Failed to load tokenizer: Failed to parse tokenizer.json"),
        (["merge", "{small}", "{missing}", "-o", "{out}"], "lexmill merge: error: Failed to load source tokenizer: Failed to read: {missing}"),
        (["merge", "{small}", "{byte_level}", "-o", "{out}"],
         "lexmill merge: error: Failed to merge tokenizer: Unsupported target: no ByteLevel pre-tokenizer or space marker found"),
        (["sync-chars", "{small}", "{missing}", "-o", "{out}"], "lexmill sync-chars: error: Failed to load source tokenizer: Failed to read: {missing}"),
        (["add", "{small}", "--tokens-file", "{missing}", "-o", "{out}"], "lexmill add: error: Failed to read token list: {missing}"),
        (["add", "{small}", "x", "-o", "{unwritable}"], "lexmill add: error: Failed to save tokenizer: Failed to write: {unwritable}"),
        # Single-string merges: the error names the command that converts them.
        (["stats", "{string_merges}"], "lexmill stats: error: Failed to load tokenizer: Failed to parse tokenizer.json: "
                                       "its merges are single strings (\"a b\") rather than pairs; " + CONVERT),
        (["merge", "{byte_level}", "{string_merges}", "-o", "{out}"],
         "lexmill merge: error: Failed to load source tokenizer: Failed to parse tokenizer.json: its merges are single strings"),
        (["convert-merges", "{bad_merge}", "-o", "{out}"],
         "lexmill convert-merges: error: {bad_merge} line 26: merge #1 'ab  c' does not split at one space into two tokens"),
        (["convert-merges", "{not_json}", "-o", "{out}"], "lexmill convert-merges: error: {not_json} is not valid JSON: "),
        (["convert-merges", "{missing}", "-o", "{out}"], "lexmill convert-merges: error: Failed to read: {missing}"),
        # remove changes nothing.
        (["remove", "{small}", "zz", "-o", "{out}"], "lexmill remove: error: none of the tokens is in the vocabulary ('zz'); nothing was written"),
        (["remove", "{small}", "--match", "q.*", "-o", "{out}"], "lexmill remove: error: no token matches 'q.*'; nothing was written"),
        # Tokens that can never come out of BPE in the vocabulary.
        (["add", "{byte_level}", "a b", "-o", "{out}"],
         "lexmill add: error: 'a b' cannot occur in this byte-level vocabulary: ' ' (U+0020) is not one of its 256 byte characters; "
         "give plain text with --plain or --words, or skip this check with --no-spelling-check"),
        (["add", "{byte_level}", "\u4e2d", "\u0120\u4e2d", "-o", "{out}"], "lexmill add: error: '\u4e2d' cannot occur in this byte-level vocabulary: '\u4e2d' (U+4E2D) is not one of its 256 byte characters (and 1 more tokens)"),
        (["remove", "{marker}", "a b", "-o", "{out}"], "lexmill remove: error: 'a b' cannot occur in this vocabulary: it writes a space as '\u2581'"),
        (["add", "{small}", "", "-o", "{out}"], "lexmill add: error: the empty token cannot occur in a vocabulary"),
        (["add", "{byte_level}", "ab", "--keep-size", "--whitelist", "a b", "-o", "{out}"], "lexmill add: error: 'a b' cannot occur"),
        (["add", "{small}", "ab", "--plain", "-o", "{out}"],
         "lexmill add: error: --plain cannot spell tokens for {small}: Unsupported tokenizer: no ByteLevel pre-tokenizer or space marker found"),
        # Characters of one kind of vocabulary never reach BPE in the other.
        (["sync-chars", "{byte_level}", "{marker}", "-o", "{out}"],
         "lexmill sync-chars: error: {byte_level} is byte-level but {marker} is space-marker ('\u2581'): "
         "characters copied between them never reach BPE; give --force to copy them anyway"),
        (["add", "{byte_level}", "\u0120b", "--keep-size", "--id-map", "{unwritable}", "-o", "{out}"],
         "lexmill add: error: Failed to write ID map: {unwritable}: No such file or directory"),
        (["reindex", "{small}", "--id-map", "{folder}", "-o", "{out}"], "lexmill reindex: error: --id-map {folder} is a folder"),
    ],
)
def test_failures_exit_with_status_1_and_write_nothing(places, args, message):
    status, _, err = lexmill_command(*filled(args, places))
    assert status == 1
    assert err.startswith(message.format(**places)) and err.count("\n") == 1
    assert not places["out"].exists() and not places["map"].exists()


def test_names_and_tokens_that_are_not_utf8(tmp_path, small):
    name = os.fsencode(tmp_path) + b"/caf\xe9.json"
    with open(name, "wb") as target:
        target.write(small.read_bytes())
    status, _, err = lexmill_command("stats", name)
    assert status == 1 and "error: the file name " in err and "caf\\xe9.json' is not UTF-8" in err
    status, _, err = lexmill_command("add", small, b"x\xff", "-o", tmp_path / "out.json")
    assert status == 1 and err == "lexmill add: error: the token b'x\\xff' is not UTF-8 text\n"
    assert not (tmp_path / "out.json").exists()


# ---------------------------------------------------------------------------
# Ending early


@pytest.mark.parametrize(
    "args",
    [
        ["stats", EXAMPLE],
        ["add", EXAMPLE, "\u0120retokenize", "\u0120lexmill", "-o", "{out}"],
        ["remove", EXAMPLE, "--match", ".*e.*", "--show", "1000", "-o", "{out}"],
    ],
)
def test_a_reader_that_stops_early_ends_the_report_quietly(tmp_path, args):
    out = tmp_path / "out.json"
    read, written = os.pipe()
    # `lexmill ... | head -n 0`: the reader has gone before the report is printed.
    subprocess.run(["head", "-n", "0"], stdin=read, check=True)
    os.close(read)
    try:
        ran = subprocess.run(COMMAND + [str(arg).format(out=out) for arg in args], stdout=written,
                             stderr=subprocess.PIPE, env=ENV, timeout=300)
    finally:
        os.close(written)
    assert (ran.returncode, ran.stderr) == (141, b"")
    if "-o" in args:
        assert lexmill.Lexmill(str(out)).vocab_size > 0


def test_an_interrupt_ends_quietly_with_status_130(tmp_path, small):
    fifo = tmp_path / "tokens"
    os.mkfifo(fifo)
    child = subprocess.Popen(COMMAND + ["add", str(small), "--tokens-file", str(fifo), "-o", str(tmp_path / "out.json")],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
    with open(fifo, "w"):  # opens once the command reads the token list
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    assert (child.returncode, out, err) == (130, b"", b"")
    assert not (tmp_path / "out.json").exists()


# ---------------------------------------------------------------------------
# Reading


def test_stats_reports_sizes_ids_and_lengths(tmp_path):
    path = write(tmp_path / "gaps.json", {"a": 0, "b": 1, "ab": 4, "<s>": 5}, merges=[("a", "b")])
    status, out, _ = lexmill_command("stats", path)
    assert status == 0
    assert "Lexmill(vocab_size=4, merges_count=1)" in out
    assert "0 to 5, 2 unused" in out
    assert "single characters   2" in out and "special-looking     1" in out
    assert "tokens by length    1: 2, 2: 1, 3: 1" in out


def test_validate_reports_invalid_merges_with_status_1(tmp_path):
    path = write(tmp_path / "broken.json", ["a", "b", "c", "ab"], merges=[("a", "b"), ("b", "c"), ("a", "c")])
    status, out, _ = lexmill_command("validate", path, "--show", "1")
    assert status == 1
    assert "1 valid merges, 2 invalid" in out
    assert "#1: 'b' + 'c' -> 'bc' is not in the vocabulary" in out
    assert "... and 1 more" in out

    fixed = tmp_path / "fixed.json"
    status, out, _ = lexmill_command("validate", path, "--remove-invalid", "-o", fixed, "--quiet")
    assert status == 0 and "removed 2 invalid merges" in out and "#1" not in out
    assert lexmill.Lexmill(str(fixed)).get_merges() == [("a", "b")]
    assert lexmill_command("validate", fixed)[0] == 0


# ---------------------------------------------------------------------------
# Editing


def test_add_builds_merges_and_reports_each_token(small, tmp_path):
    out_path = tmp_path / "out.json"
    status, out, _ = lexmill_command("add", small, "abcd", "c", "-o", out_path, "xy", "--chain")
    assert status == 0
    # "d" takes ID 7 on the way, "x" and "y" 9 and 10.
    assert "'abcd': added (longest_prefix), ID 8, merges added: 'abc' + 'd'" in out
    assert "'c': already in the vocabulary" in out
    assert "'xy': added (char_chain), ID 11, merges added: 'x' + 'y'" in out
    assert "added 2 of 3 tokens" in out
    editor = lexmill.Lexmill(str(out_path))
    assert editor.get_token_id("abcd") == 8 and ("abc", "d") in editor.get_merges()
    # The input is left as it was.
    assert not lexmill.Lexmill(str(small)).has_token("abcd")


@pytest.mark.parametrize(
    "fixture, options, tokens, expected",
    [
        ("byte_level", ["--plain"], ["a b", "\u00e9"], ["a\u0120b", "\u00c3\u00a9"]),
        ("byte_level", ["--words"], ["ab", "\u00e9"], ["\u0120ab", "\u0120\u00c3\u00a9"]),
        ("marker", ["--plain"], ["a b", " ba"], ["a\u2581b", "\u2581ba"]),
        ("marker", ["--words"], ["ab"], ["\u2581ab"]),
        ("byte_level", ["--no-spelling-check"], ["a b"], ["a b"]),
    ],
)
def test_add_spells_plain_text_in_the_vocabulary_spelling(places, fixture, options, tokens, expected):
    status, out, _ = lexmill_command("add", places[fixture], *tokens, *options, "-o", places["out"])
    assert status == 0 and f"added {len(expected)} of {len(expected)} tokens" in out
    editor = lexmill.Lexmill(str(places["out"]))
    assert all(editor.has_token(token) for token in expected)


def test_add_reads_tokens_from_a_file_exactly(small, tmp_path):
    listing = tmp_path / "tokens.txt"
    listing.write_bytes("ab\r\nc\u00e9\n\n\u2581x\n".encode("utf-8"))
    out_path = tmp_path / "out.json"
    status, _, _ = lexmill_command("add", small, "--tokens-file", listing, "-o", out_path)
    assert status == 0
    editor = lexmill.Lexmill(str(out_path))
    assert all(editor.has_token(token) for token in ["ab", "c\u00e9", "\u2581x"])


def test_add_atomic_adds_bare_entries_and_warns_when_nothing_is_new(small, tmp_path):
    out_path = tmp_path / "out.json"
    status, out, _ = lexmill_command("add", small, "<|sep|>", "a", "--atomic", "-o", out_path)
    assert status == 0
    assert "'<|sep|>': added, ID 7" in out and "'a': already in the vocabulary" in out
    assert lexmill.Lexmill(str(out_path)).merges_count == 3
    status, out, err = lexmill_command("add", small, "a", "ab", "-o", out_path)
    assert status == 0 and err == "lexmill add: warning: nothing was added: every token is already in the vocabulary\n"


def test_add_keep_size_holds_the_size_and_writes_the_changed_rows(tmp_path):
    source = write(
        tmp_path / "in.json",
        ["a", "b", "c", "d", "ab", "cd", "abc", "abcd", "bcd"],
        merges=[("a", "b"), ("c", "d"), ("ab", "c"), ("ab", "cd"), ("b", "cd")],
    )
    out_path, map_path = tmp_path / "out.json", tmp_path / "rows.json"
    status, out, _ = lexmill_command("add", source, "ba", "dc", "--keep-size", "--id-map", map_path, "-o", out_path)
    assert status == 0
    assert "initial_vocab_size  9" in out and "final_vocab_size    9" in out
    before = lexmill.Lexmill(str(source)).get_vocab()
    editor = lexmill.Lexmill(str(out_path))
    after = editor.get_vocab()
    assert editor.vocab_size == 9 and editor.has_token("ba") and editor.has_token("dc")
    assert editor.validate_merges().invalid_count == 0
    old = {token_id: token for token, token_id in before.items()}
    new = {token_id: token for token, token_id in after.items()}
    expected = {
        str(token_id): {"old": old.get(token_id), "new": new.get(token_id)}
        for token_id in sorted(old.keys() | new.keys()) if old.get(token_id) != new.get(token_id)
    }
    assert expected and json.loads(map_path.read_text(encoding="utf-8")) == expected


@pytest.mark.parametrize(
    "options, method, pinned",
    [([], "reachable", True), (["--chain"], "longest_prefix", True), (["--no-pin"], "reachable", False)],
)
def test_add_builds_reachable_tokens_and_pins_added_tokens(tmp_path, options, method, pinned):
    from tokenizers import Tokenizer

    special = {"id": 5, "content": "<s>", "special": True, "single_word": False, "lstrip": False, "rstrip": False,
               "normalized": False}
    source = write(tmp_path / "in.json", ["a", "b", "c", "ab", "abc"], merges=[("a", "b"), ("ab", "c")],
                   added_tokens=[special])
    out_path = tmp_path / "out.json"
    # The merges cut "abcab" into "abc" and "ab": one merge joins them.
    status, out, err = lexmill_command("add", source, "abcab", "-o", out_path, *options)
    assert status == 0 and f"'abcab': added ({method})" in out
    # <s> is an added token only; the new token moved the vocabulary's end.
    assert ("pinned 1 added tokens" in out) == pinned
    assert ("would be read with another ID" in err) == (not pinned)
    read = Tokenizer.from_file(str(out_path)).get_vocab(with_added_tokens=True)
    assert (read["<s>"] == 5) == pinned
    if method == "reachable":
        assert Tokenizer.from_file(str(out_path)).encode("abcab").tokens == ["abcab"]


def test_add_keep_size_refuses_to_write_when_nothing_is_left_to_remove(tmp_path):
    # "abcdefx" is built from "abcdef", the only token that could make room,
    # whose removal would take the new token with it.
    source = write(tmp_path / "in.json", ["a", "b", "c", "d", "e", "f", "x", "abcdef"])
    out_path = tmp_path / "out.json"
    status, out, err = lexmill_command("add", source, "abcdefx", "--keep-size", "-o", out_path)
    assert status == 1
    assert "1 of the tokens asked for could not be added: nothing was left to remove" in err
    assert "added while keeping the vocabulary size:" in out
    assert not out_path.exists()


def test_remove_cascades_warns_about_missing_tokens_and_leaves_no_merge_without_its_result(tmp_path):
    # "ab" is produced twice; removing it must not leave ("x", "b") behind.
    source = write(
        tmp_path / "in.json",
        ["a", "b", "c", "x", "ab", "abc", "xb", "bc"],
        merges=[("a", "b"), ("ab", "c"), ("b", "c"), ("x", "b")],
    )
    out_path = tmp_path / "out.json"
    status, out, err = lexmill_command("remove", source, "ab", "zz", "abc", "-o", out_path)
    assert status == 0
    assert "'ab': removed 2 tokens and 2 merges" in out and "    'abc'" in out
    assert "'abc': removed with an earlier token" in out
    assert "removed 2 tokens and 2 merges in all" in out
    assert err == "lexmill remove: warning: 'zz' is not in the vocabulary\n"
    editor = lexmill.Lexmill(str(out_path))
    assert not editor.has_token("ab") and not editor.has_token("abc")
    assert editor.validate_merges().invalid_count == 0


def test_remove_by_pattern_and_quietly(tmp_path):
    source = write(tmp_path / "in.json", ["a", "b", "c", "ab", "bc", "abc", "cab"],
                   merges=[("a", "b"), ("b", "c"), ("ab", "c"), ("c", "ab")])
    out_path = tmp_path / "out.json"
    # The pattern matches whole tokens: 'ab' and 'abc', not 'cab'.
    status, out, _ = lexmill_command("remove", source, "--match", "ab.*", "--quiet", "-o", out_path)
    assert status == 0
    assert out.splitlines() == ["removed 3 tokens and 3 merges in all", f"wrote {out_path}: Lexmill(vocab_size=4, merges_count=1)"]
    assert sorted(lexmill.Lexmill(str(out_path)).get_vocab()) == ["a", "b", "bc", "c"]


def test_remove_cleans_up_a_later_producer_of_a_removed_token(tmp_path):
    source = write(
        tmp_path / "in.json",
        ["a", "b", "c", "ab", "bc", "abc"],
        merges=[("a", "bc"), ("ab", "c"), ("a", "b"), ("b", "c")],
    )
    out_path = tmp_path / "out.json"
    status, out, _ = lexmill_command("remove", source, "abc", "-o", out_path)
    assert status == 0
    editor = lexmill.Lexmill(str(out_path))
    assert not editor.has_token("abc")
    assert editor.validate_merges().invalid_count == 0
    assert set(editor.get_merges()) == {("a", "b"), ("b", "c")}


def test_shrink_preview_matches_the_shrink(tmp_path):
    status, out, _ = lexmill_command("shrink", EXAMPLE, "3", "--dry-run")
    assert status == 0
    chosen = lexmill.Lexmill(str(EXAMPLE)).find_tokens_to_shrink(3)
    assert out.splitlines()[0] == "3 tokens would be removed (with everything built from them):"
    for token, token_id, length in chosen:
        assert f"ID {token_id:>7}  {length:>3} chars  {token!r}" in out

    out_path = tmp_path / "out.json"
    status, out, _ = lexmill_command("shrink", EXAMPLE, "3", "-o", out_path)
    assert status == 0 and "tokens_removed_count  3" in out
    editor = lexmill.Lexmill(str(out_path))
    assert not any(editor.has_token(token) for token, _, _ in chosen)


def test_shrink_preview_by_pattern_and_a_count_beyond_the_vocabulary():
    chosen = lexmill.Lexmill(str(EXAMPLE)).find_tokens_to_shrink(10**6)
    matching = [token for token, _, _ in chosen if token.endswith("ing")]
    status, out, err = lexmill_command("shrink", EXAMPLE, str(2**64 - 1), "--dry-run", "--match", ".*ing", "--show", "1000")
    assert status == 0
    lines = out.splitlines()
    assert lines[0] == f"{len(matching)} of the {len(chosen)} tokens chosen match '.*ing' and would be removed (with everything built from them):"
    assert [line.split("  ")[-1] for line in lines[1:]] == [repr(token) for token in matching]
    assert err == (f"lexmill shrink: warning: asked for {2**64 - 1} tokens, but only {len(chosen)} can be chosen "
                   "(IDs of at least 0, no single characters and no <...> or [...] tokens)\n")


def test_reindex_writes_dense_ids_and_the_moves(tmp_path):
    source = write(tmp_path / "in.json", {"a": 0, "b": 3, "ab": 7}, merges=[("a", "b")])
    out_path, map_path = tmp_path / "out.json", tmp_path / "moves.json"
    status, out, _ = lexmill_command("reindex", source, "-o", out_path, "--id-map", map_path)
    assert status == 0 and "gaps_removed  5" in out and f"wrote {map_path}: 2 IDs" in out
    assert lexmill.Lexmill(str(out_path)).get_vocab() == {"a": 0, "ab": 2, "b": 1}
    assert json.loads(map_path.read_text(encoding="utf-8")) == {"3": 1, "7": 2}


def test_sync_chars_copies_missing_characters(tmp_path):
    target = write(tmp_path / "target.json", ["a", "b", "c", "ab", "abc"], merges=[("a", "b"), ("ab", "c")])
    source = write(tmp_path / "source.json", ["a", "\u00e9", "z"])
    out_path = tmp_path / "out.json"
    status, out, err = lexmill_command("sync-chars", target, source, "-o", out_path)
    assert status == 0
    assert "chars_added_count      2" in out and "Phase 1: Removing 2 tokens" in err
    assert lexmill.Lexmill(str(out_path)).get_vocab() == {"a": 0, "b": 1, "c": 2, "z": 3, "\u00e9": 4}
    # Quiet: no progress; nothing left to copy: a warning.
    status, out, err = lexmill_command("sync-chars", out_path, source, "-o", out_path, "--quiet")
    assert status == 0
    assert err == f"lexmill sync-chars: warning: no characters were copied: {out_path} has every single character of {source}\n"


def test_sync_chars_between_kinds_when_forced(places):
    status, out, _ = lexmill_command("sync-chars", places["byte_level"], places["marker"], "--force", "-o", places["out"])
    assert status == 0 and lexmill.Lexmill(str(places["out"])).has_token("\u2581")


def test_merge_reports_and_warns_about_dropped_target_tokens(tmp_path):
    # A space-marker source into the byte-level example.
    source = write(
        tmp_path / "source.json",
        ["\u2581", "l", "e", "x", "\u2581l", "\u2581le", "\u2581lex"],
        merges=[("\u2581", "l"), ("\u2581l", "e"), ("\u2581le", "x")],
    )
    out_path = tmp_path / "out.json"
    status, out, err = lexmill_command("merge", EXAMPLE, source, "--max-vocab-size", "1000", "-o", out_path)
    assert (status, err) == (0, "")
    assert "representation             ByteLevel (\u0120)" in out and "source_vocab_size          7" in out
    editor = lexmill.Lexmill(str(out_path))
    assert editor.has_token("\u0120lex") and editor.has_token("\u0120the")

    status, out, err = lexmill_command("merge", EXAMPLE, source, "--max-vocab-size", "500", "-o", out_path)
    dropped = 601 + 1 - 500  # the example's tokens and the new '\u0120lex' in 500
    assert status == 0 and f"target_tokens_removed      {dropped}" in out
    assert err == (f"lexmill merge: warning: {dropped} of the target's tokens were dropped to stay within "
                   f"--max-vocab-size 500; --max-vocab-size {500 + dropped} keeps them all\n")
    status, out, err = lexmill_command("merge", EXAMPLE, source, "--max-vocab-size", 500 + dropped, "-o", out_path)
    assert (status, err) == (0, "") and "target_tokens_removed      0" in out


def test_editing_in_place(small):
    status, _, _ = lexmill_command("add", small, "abcd", "-o", small)
    assert status == 0 and lexmill.Lexmill(str(small)).has_token("abcd")


def test_unprintable_tokens_are_quoted(tmp_path):
    source = write(tmp_path / "in.json", ["\n", "\t", "\n\t"], merges=[("\n", "\t")])
    status, out, _ = lexmill_command("remove", source, "\n\t", "-o", tmp_path / "out.json")
    assert status == 0 and out.startswith("'\\n\\t': removed 1 tokens and 1 merges\n")


# ---------------------------------------------------------------------------
# Single-string merges


def test_convert_merges_rewrites_them_as_pairs(places):
    status, out, _ = lexmill_command("convert-merges", places["string_merges"], "-o", places["out"])
    assert status == 0 and "converted 2 of 2 merges from single strings to pairs" in out
    assert lexmill.Lexmill(str(places["out"])).get_merges() == [("a", "b"), ("ab", "c")]


def test_convert_merges_on_a_real_file_encodes_as_the_original(tmp_path):
    tokenizers = pytest.importorskip("tokenizers")
    original = data_file("llama2.tokenizer.json")
    converted = tmp_path / "llama2.pairs.json"
    status, out, _ = lexmill_command("convert-merges", original, "-o", converted)
    assert status == 0 and "converted 58980 of 58980 merges" in out
    assert lexmill.Lexmill(str(converted)).merges_count == 58980
    sample = "Tokenizers split text: naïve café, 東京, Straße 42 — don't they?\n  indented"
    ids = [tokenizers.Tokenizer.from_file(str(path)).encode(sample).ids for path in (original, converted)]
    assert ids[0] == ids[1] and len(ids[0]) > 10
