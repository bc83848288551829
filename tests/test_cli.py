"""The lexmill command line: every subcommand on small tokenizers, its reports,
the files it writes and how it fails."""

import json
import os
import subprocess
import sys

import pytest

from conftest import REPO, tokenizer_json

try:
    import lexmill_cli
except ImportError:  # tests run against a build folder rather than an installed package
    sys.path.insert(0, str(REPO / "src" / "cli"))
    import lexmill_cli

import lexmill

EXAMPLE = REPO / "examples" / "tiny.tokenizer.json"
COMMANDS = ["stats", "validate", "add", "remove", "shrink", "reindex", "sync-chars", "merge"]


def run(capsys, *args):
    status = lexmill_cli.main([str(arg) for arg in args])
    out, err = capsys.readouterr()
    return status, out, err


def write(path, *args, **kwargs):
    path.write_text(tokenizer_json(*args, **kwargs), encoding="utf-8")
    return path


@pytest.fixture
def small(tmp_path):
    """a b c ab bc abc, built by (a, b), (ab, c), (b, c); one added special token."""
    return write(
        tmp_path / "small.json",
        ["a", "b", "c", "ab", "bc", "abc"],
        merges=[("a", "b"), ("ab", "c"), ("b", "c")],
        added_tokens=[{"id": 6, "content": "<s>", "special": True}],
    )


# ---------------------------------------------------------------------------
# Help and usage


def test_help_lists_every_command(capsys):
    with pytest.raises(SystemExit) as stopped:
        lexmill_cli.main(["--help"])
    assert stopped.value.code == 0
    out = capsys.readouterr().out
    assert all(command in out for command in COMMANDS)


@pytest.mark.parametrize("command", COMMANDS)
def test_each_command_has_help(capsys, command):
    with pytest.raises(SystemExit) as stopped:
        lexmill_cli.main([command, "--help"])
    assert stopped.value.code == 0
    assert f"usage: lexmill {command}" in capsys.readouterr().out


@pytest.mark.parametrize(
    "args, complaint",
    [
        ([], "required: COMMAND"),
        (["frobnicate", "x.json"], "invalid choice"),
        (["stats"], "required: TOKENIZER"),
        (["add", "x.json", "t"], "required: -o/--output"),
        (["reindex", "x.json"], "required: -o/--output"),
        (["shrink", "x.json", "-5", "-o", "y.json"], "must not be negative"),
        (["shrink", "x.json", "two", "-o", "y.json"], "not a whole number"),
        (["shrink", "x.json", "1", "--min-id", "4294967296", "-o", "y.json"], "not a token ID"),
        (["add", "x.json", "t", "--atomic", "--keep-size", "-o", "y.json"], "not allowed with argument"),
        (["merge", "x.json", "-o", "y.json"], "required: SOURCE"),
    ],
)
def test_usage_mistakes_exit_with_status_2(capsys, args, complaint):
    with pytest.raises(SystemExit) as stopped:
        lexmill_cli.main(args)
    assert stopped.value.code == 2
    assert complaint in capsys.readouterr().err


def test_version(capsys):
    with pytest.raises(SystemExit):
        lexmill_cli.main(["--version"])
    assert capsys.readouterr().out.strip() == f"lexmill {lexmill.__version__}"


# ---------------------------------------------------------------------------
# Failures the user can act on: one line on standard error, status 1, no file


@pytest.mark.parametrize(
    "args, message",
    [
        (["stats", "{missing}"], "lexmill stats: error: Failed to load tokenizer: Failed to read: {missing}"),
        (["reindex", "{not_json}", "-o", "{out}"], "lexmill reindex: error: Failed to load tokenizer: Failed to parse tokenizer.json"),
        (["merge", "{small}", "{missing}", "-o", "{out}"], "lexmill merge: error: Failed to load source tokenizer: Failed to read: {missing}"),
        (["merge", "{small}", "{small}", "--max-vocab-size", "0", "-o", "{out}"], "lexmill merge: error: Failed to merge tokenizer: "),
        (["sync-chars", "{small}", "{missing}", "-o", "{out}"], "lexmill sync-chars: error: Failed to load source tokenizer: Failed to read: {missing}"),
        (["add", "{small}", "-o", "{out}"], "lexmill add: error: no tokens given"),
        (["add", "{small}", "--tokens-file", "{missing}", "-o", "{out}"], "lexmill add: error: Failed to read token list: {missing}"),
        (["add", "{small}", "x", "--whitelist", "a", "-o", "{out}"], "lexmill add: error: --whitelist applies only with --keep-size"),
        (["shrink", "{small}", "1"], "lexmill shrink: error: shrink needs -o PATH"),
        (["validate", "{small}", "--remove-invalid"], "lexmill validate: error: --remove-invalid needs -o PATH"),
        (["add", "{small}", "x", "-o", "{unwritable}"], "lexmill add: error: Failed to save tokenizer: Failed to write: {unwritable}"),
    ],
)
def test_failures_exit_with_status_1_and_write_nothing(capsys, tmp_path, small, args, message):
    (tmp_path / "not.json").write_text("{ nope", encoding="utf-8")
    places = {
        "missing": tmp_path / "missing.json",
        "not_json": tmp_path / "not.json",
        "small": small,
        "out": tmp_path / "out.json",
        "unwritable": tmp_path / "no-such-folder" / "out.json",
    }
    status, out, err = run(capsys, *(arg.format(**places) for arg in args))
    assert status == 1
    assert err.startswith(message.format(**places)) and err.count("\n") == 1
    assert not places["out"].exists()


# ---------------------------------------------------------------------------
# Reading


def test_stats_reports_sizes_ids_and_lengths(capsys, tmp_path):
    path = write(tmp_path / "gaps.json", {"a": 0, "b": 1, "ab": 4, "<s>": 5}, merges=[("a", "b")])
    status, out, _ = run(capsys, "stats", path)
    assert status == 0
    assert "Lexmill(vocab_size=4, merges_count=1)" in out
    assert "0 to 5, 2 unused" in out
    assert "single characters   2" in out and "special-looking     1" in out
    assert "tokens by length    1: 2, 2: 1, 3: 1" in out


def test_stats_on_the_shipped_example(capsys):
    status, out, _ = run(capsys, "stats", EXAMPLE)
    assert status == 0 and "0 to 600, contiguous" in out


def test_validate_reports_invalid_merges_with_status_1(capsys, tmp_path):
    path = write(tmp_path / "broken.json", ["a", "b", "c", "ab"], merges=[("a", "b"), ("b", "c"), ("a", "c")])
    status, out, _ = run(capsys, "validate", path, "--show", "1")
    assert status == 1
    assert "1 valid merges, 2 invalid" in out
    assert "#1: 'b' + 'c' -> 'bc' is not in the vocabulary" in out
    assert "... and 1 more" in out

    fixed = tmp_path / "fixed.json"
    status, out, _ = run(capsys, "validate", path, "--remove-invalid", "-o", fixed)
    assert status == 0 and "removed 2 invalid merges" in out
    assert lexmill.Lexmill(str(fixed)).get_merges() == [("a", "b")]
    assert run(capsys, "validate", fixed)[0] == 0


# ---------------------------------------------------------------------------
# Editing


def test_add_builds_merges_and_reports_each_token(capsys, small, tmp_path):
    out_path = tmp_path / "out.json"
    status, out, _ = run(capsys, "add", small, "abcd", "c", "xy", "-o", out_path)
    assert status == 0
    # "d" takes ID 7 on the way, "x" and "y" 9 and 10.
    assert "'abcd': added (longest_prefix), ID 8, merges added: 'abc' + 'd'" in out
    assert "'c': already in the vocabulary" in out
    assert "'xy': added (char_chain), ID 11, merges added: 'x' + 'y'" in out
    editor = lexmill.Lexmill(str(out_path))
    assert editor.get_token_id("abcd") == 8 and ("abc", "d") in editor.get_merges()
    # The input is left as it was.
    assert not lexmill.Lexmill(str(small)).has_token("abcd")


def test_add_reads_tokens_from_a_file_exactly(capsys, small, tmp_path):
    listing = tmp_path / "tokens.txt"
    listing.write_bytes(" ab\r\nc a\n\n▁x\n".encode("utf-8"))
    out_path = tmp_path / "out.json"
    status, _, _ = run(capsys, "add", small, "--tokens-file", listing, "-o", out_path)
    assert status == 0
    editor = lexmill.Lexmill(str(out_path))
    assert all(editor.has_token(token) for token in [" ab", "c a", "▁x"])


def test_add_atomic_adds_bare_entries(capsys, small, tmp_path):
    out_path = tmp_path / "out.json"
    status, out, _ = run(capsys, "add", small, "<|sep|>", "a", "--atomic", "-o", out_path)
    assert status == 0
    assert "'<|sep|>': added, ID 7" in out and "'a': already in the vocabulary" in out
    assert lexmill.Lexmill(str(out_path)).merges_count == 3


def test_add_keep_size_holds_the_size_and_keeps_the_new_tokens(capsys, tmp_path):
    source = write(
        tmp_path / "in.json",
        ["a", "b", "c", "d", "ab", "cd", "abc", "abcd", "bcd"],
        merges=[("a", "b"), ("c", "d"), ("ab", "c"), ("ab", "cd"), ("b", "cd")],
    )
    out_path = tmp_path / "out.json"
    status, out, _ = run(capsys, "add", source, "ba", "dc", "--keep-size", "-o", out_path)
    assert status == 0
    assert "initial_vocab_size  9" in out and "final_vocab_size    9" in out
    editor = lexmill.Lexmill(str(out_path))
    assert editor.vocab_size == 9 and editor.has_token("ba") and editor.has_token("dc")
    assert editor.validate_merges().invalid_count == 0


def test_add_keep_size_refuses_to_write_when_room_took_a_new_token(capsys, tmp_path):
    # The new token is built from "abcdef", the longest unprotected token,
    # which goes to make room and takes the new token with it.
    source = write(tmp_path / "in.json", ["a", "b", "c", "d", "e", "f", "x", "abcdef"])
    out_path = tmp_path / "out.json"
    status, out, err = run(capsys, "add", source, "abcdefx", "--keep-size", "-o", out_path)
    assert status == 1
    assert "1 of the tokens asked for were removed again to make room ('abcdefx'); nothing was written" in err
    assert not out_path.exists()


def test_remove_cascades_and_leaves_no_merge_without_its_result(capsys, tmp_path):
    # "ab" is produced twice; removing it must not leave ("x", "b") behind.
    source = write(
        tmp_path / "in.json",
        ["a", "b", "c", "x", "ab", "abc", "xb", "bc"],
        merges=[("a", "b"), ("ab", "c"), ("b", "c"), ("x", "b")],
    )
    assert lexmill.Lexmill(str(source)).validate_merges().invalid_count == 0
    out_path = tmp_path / "out.json"
    status, out, _ = run(capsys, "remove", source, "ab", "zz", "-o", out_path)
    assert status == 0
    assert "'ab': removed 2 tokens and 2 merges" in out and "    'abc'" in out
    assert "'zz': not in the vocabulary" in out
    editor = lexmill.Lexmill(str(out_path))
    assert not editor.has_token("ab") and not editor.has_token("abc")
    assert editor.validate_merges().invalid_count == 0


def test_remove_cleans_up_a_later_producer_of_a_removed_token(capsys, tmp_path):
    source = write(
        tmp_path / "in.json",
        ["a", "b", "c", "ab", "bc", "abc"],
        merges=[("a", "bc"), ("ab", "c"), ("a", "b"), ("b", "c")],
    )
    out_path = tmp_path / "out.json"
    status, out, _ = run(capsys, "remove", source, "abc", "-o", out_path)
    assert status == 0
    editor = lexmill.Lexmill(str(out_path))
    assert not editor.has_token("abc")
    assert editor.validate_merges().invalid_count == 0
    assert set(editor.get_merges()) == {("a", "b"), ("b", "c")}


def test_shrink_preview_matches_the_shrink(capsys, tmp_path):
    status, out, _ = run(capsys, "shrink", EXAMPLE, "3", "--dry-run")
    assert status == 0
    chosen = lexmill.Lexmill(str(EXAMPLE)).find_tokens_to_shrink(3)
    assert out.splitlines()[0] == "3 tokens would be removed (with everything built from them):"
    for token, token_id, length in chosen:
        assert f"ID {token_id:>7}  {length:>3} chars  {token!r}" in out

    out_path = tmp_path / "out.json"
    status, out, _ = run(capsys, "shrink", EXAMPLE, "3", "-o", out_path)
    assert status == 0 and "tokens_removed_count  3" in out
    editor = lexmill.Lexmill(str(out_path))
    assert not any(editor.has_token(token) for token, _, _ in chosen)


def test_reindex_writes_dense_ids(capsys, tmp_path):
    source = write(tmp_path / "in.json", {"a": 0, "b": 3, "ab": 7}, merges=[("a", "b")])
    out_path = tmp_path / "out.json"
    status, out, _ = run(capsys, "reindex", source, "-o", out_path)
    assert status == 0 and "gaps_removed  5" in out
    assert lexmill.Lexmill(str(out_path)).get_vocab() == {"a": 0, "ab": 2, "b": 1}


def test_sync_chars_copies_missing_characters(capfd, tmp_path):
    target = write(tmp_path / "target.json", ["a", "b", "c", "ab", "abc"], merges=[("a", "b"), ("ab", "c")])
    source = write(tmp_path / "source.json", ["a", "é", "z"])
    out_path = tmp_path / "out.json"
    # Its progress lines come from the extension module, straight to the stderr descriptor.
    status, out, err = run(capfd, "sync-chars", target, source, "-o", out_path)
    assert status == 0
    assert "chars_added_count      2" in out and "Phase 1: Removing 2 tokens" in err
    editor = lexmill.Lexmill(str(out_path))
    assert editor.get_vocab() == {"a": 0, "b": 1, "c": 2, "z": 3, "é": 4}


def test_merge_reports_and_writes_the_merged_tokenizer(capsys, tmp_path):
    # A space-marker source into the byte-level example.
    source = write(
        tmp_path / "source.json",
        ["▁", "l", "e", "x", "▁l", "▁le", "▁lex"],
        merges=[("▁", "l"), ("▁l", "e"), ("▁le", "x")],
    )
    out_path = tmp_path / "out.json"
    status, out, _ = run(capsys, "merge", EXAMPLE, source, "--max-vocab-size", "1000", "-o", out_path)
    assert status == 0
    assert "representation             ByteLevel (Ġ)" in out and "source_vocab_size          7" in out
    editor = lexmill.Lexmill(str(out_path))
    assert editor.has_token("Ġlex") and editor.has_token("Ġthe")


def test_editing_in_place(capsys, small):
    status, _, _ = run(capsys, "add", small, "abcd", "-o", small)
    assert status == 0 and lexmill.Lexmill(str(small)).has_token("abcd")


def test_unprintable_tokens_are_quoted(capsys, tmp_path):
    source = write(tmp_path / "in.json", ["\n", "\t", "\n\t"], merges=[("\n", "\t")])
    status, out, _ = run(capsys, "remove", source, "\n\t", "-o", tmp_path / "out.json")
    assert status == 0 and out.startswith("'\\n\\t': removed 1 tokens and 1 merges\n")


# ---------------------------------------------------------------------------
# As a program


def test_runs_as_a_module_with_its_exit_status(tmp_path):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [os.path.dirname(lexmill_cli.__file__), os.path.dirname(lexmill.__file__), env.get("PYTHONPATH", "")]
    )
    ok = subprocess.run([sys.executable, "-m", "lexmill_cli", "stats", str(EXAMPLE)], capture_output=True, text=True, env=env)
    assert ok.returncode == 0 and "vocab_size=601" in ok.stdout
    missing = str(tmp_path / "missing.json")
    failed = subprocess.run([sys.executable, "-m", "lexmill_cli", "stats", missing], capture_output=True, text=True, env=env)
    assert failed.returncode == 1 and failed.stderr.strip().endswith(missing)
