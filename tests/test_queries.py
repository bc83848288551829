"""Read-only queries of an open editor."""

import pytest

from conftest import tokenizer_json


def open_doc(lexmill, *args, **kwargs):
    return lexmill.Lexmill.from_json(tokenizer_json(*args, **kwargs))


def test_empty_tokenizer(lexmill):
    editor = open_doc(lexmill)
    assert (editor.vocab_size, editor.merges_count) == (0, 0)
    assert editor.get_vocab() == {} and editor.get_merges() == [] and editor.get_single_char_tokens() == []
    assert editor.check_vocab_gaps() == (False, 0, 0, 0)
    stats = editor.get_stats()
    assert (stats.vocab_size, stats.merges_count, stats.single_char_count, stats.special_token_count) == (0, 0, 0, 0)
    assert (stats.min_token_id, stats.max_token_id, stats.length_distribution) == (0, 0, [])
    assert editor.get_token_by_id(0) is None


def test_lookups(lexmill):
    editor = open_doc(
        lexmill,
        {"b": 5, "a": 5, "c": 1, "é": 2},
        merges=[("a", "b")],
        added_tokens=[{"id": 9, "content": "<added>", "special": True}],
    )
    assert editor.has_token("é") and not editor.has_token("e")
    assert editor.get_token_id("c") == 1 and editor.get_token_id("missing") is None
    # Entries of added_tokens are not vocabulary entries.
    assert not editor.has_token("<added>") and editor.get_token_id("<added>") is None
    assert editor.get_token_by_id(9) is None
    # Two tokens sharing an ID: the bytewise smallest answers.
    assert editor.get_token_by_id(5) == "a"
    assert editor.get_token_by_id(2) == "é"
    assert editor.get_token_by_id(4294967295) is None


def test_vocabulary_is_in_bytewise_order(lexmill):
    tokens = ["b", "a", "é", "A", "ab", "", "Z", "\x00", "😀", "ÿ"]
    editor = open_doc(lexmill, tokens)
    assert list(editor.get_vocab()) == sorted(tokens, key=lambda t: t.encode())
    assert editor.get_vocab() == {t: i for i, t in enumerate(tokens)}


def test_merges_in_list_order(lexmill):
    merges = [("x", "y"), ("a", "b"), ("a", "b"), ("", "z")]
    assert open_doc(lexmill, merges=merges).get_merges() == merges


def test_single_character_tokens_count_scalar_values(lexmill):
    editor = open_doc(lexmill, {"é": 3, "Ġ": 1, "ab": 2, "": 0, "a": 5, "😀": 7, "e\u0301": 8})
    assert editor.get_single_char_tokens() == [("a", 5), ("é", 3), ("Ġ", 1), ("😀", 7)]


def test_statistics(lexmill):
    tokens = ["[UNK]", "<s>", "<>", "[", "<", "[x>", "x]", "é", "ab", "", "<|endoftext|>"]
    editor = open_doc(lexmill, {t: i + 3 for i, t in enumerate(tokens)}, merges=[("a", "b")])
    stats = editor.get_stats()
    assert stats.vocab_size == len(tokens) and stats.merges_count == 1
    assert stats.special_token_count == 4  # [UNK], <s>, <>, <|endoftext|>
    assert stats.single_char_count == 3  # [, <, é
    assert (stats.min_token_id, stats.max_token_id) == (3, 3 + len(tokens) - 1)
    assert stats.length_distribution == [(0, 1), (1, 3), (2, 3), (3, 2), (5, 1), (13, 1)]


@pytest.mark.parametrize(
    "ids, expected",
    [
        ([0, 1, 2], (False, 0, 0, 2)),
        ([5, 6], (True, 5, 5, 6)),
        ([0, 2], (True, 1, 0, 2)),
        ([0, 0, 1], (False, 0, 0, 1)),
        ([3], (True, 3, 3, 3)),
        ([0, 1, 1], (False, 0, 0, 1)),
        # The span of 2**32 IDs does not wrap around.
        ([0, 4294967295], (True, 4294967294, 0, 4294967295)),
        ([4294967295], (True, 4294967295, 4294967295, 4294967295)),
    ],
)
def test_gap_check(lexmill, ids, expected):
    editor = open_doc(lexmill, {f"t{i}": id_ for i, id_ in enumerate(ids)})
    assert editor.check_vocab_gaps() == expected


def test_results_are_copies(lexmill):
    editor = open_doc(lexmill, ["a", "b", "ab"], merges=[("a", "b")])
    vocab, merges = editor.get_vocab(), editor.get_merges()
    vocab["zzz"] = 1
    merges.append(("q", "r"))
    assert editor.get_vocab() == {"a": 0, "b": 1, "ab": 2}
    assert editor.get_merges() == [("a", "b")]
    stats = editor.get_stats()
    stats.length_distribution.append((9, 9))
    assert stats.length_distribution == [(1, 2), (2, 1)]


def test_repr(lexmill):
    editor = open_doc(lexmill, ["a", "b", "ab"], merges=[("a", "b")])
    assert repr(editor) == str(editor) == "Lexmill(vocab_size=3, merges_count=1)"
