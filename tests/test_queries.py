"""Read-only queries of an open editor."""

import pytest

from conftest import open_doc


def test_empty_tokenizer(lexmill):
    editor, s = open_doc(lexmill), open_doc(lexmill).get_stats()
    assert (editor.vocab_size, editor.merges_count, editor.get_vocab(), editor.get_merges(), editor.get_single_char_tokens(),
            editor.check_vocab_gaps(), editor.get_token_by_id(0)) == (0, 0, {}, [], [], (False, 0, 0, 0), None)
    assert (s.vocab_size, s.merges_count, s.single_char_count, s.special_token_count, s.min_token_id, s.max_token_id,
            s.length_distribution) == (0, 0, 0, 0, 0, 0, [])


def test_lookups(lexmill):
    added = [{"id": 9, "content": "<added>", "special": True}]
    editor = open_doc(lexmill, {"b": 5, "a": 5, "c": 1, "é": 2}, merges=[("a", "b")], added_tokens=added)
    assert editor.has_token("é") and not editor.has_token("e")
    assert editor.get_token_id("c") == 1 and editor.get_token_id("missing") is None
    # Entries of added_tokens are not vocabulary entries.
    assert not editor.has_token("<added>") and editor.get_token_id("<added>") is None
    # Two tokens sharing an ID: the bytewise smallest answers.
    assert [editor.get_token_by_id(i) for i in (9, 5, 2, 4294967295)] == [None, "a", "é", None]


def test_listings(lexmill):
    tokens = ["b", "a", "é", "A", "ab", "", "Z", "\x00", "😀", "ÿ", "Ġ", "e\u0301"]
    merges = [("x", "y"), ("a", "b"), ("a", "b"), ("", "z")]
    editor = open_doc(lexmill, tokens, merges=merges)
    assert list(editor.get_vocab().items()) == sorted(((t, i) for i, t in enumerate(tokens)), key=lambda kv: kv[0].encode())
    assert editor.get_merges() == merges
    # Single characters are single scalar values, listed in byte order.
    singles = [(t, i) for i, t in enumerate(tokens) if len(t) == 1]
    assert editor.get_single_char_tokens() == sorted(singles, key=lambda kv: kv[0].encode())
    assert repr(editor) == str(editor) == "Lexmill(vocab_size=12, merges_count=4)"


def test_statistics(lexmill):
    tokens = ["[UNK]", "<s>", "<>", "[", "<", "[x>", "x]", "é", "ab", "", "<|endoftext|>"]
    editor = open_doc(lexmill, {t: i + 3 for i, t in enumerate(tokens)}, merges=[("a", "b")])
    s = editor.get_stats()
    # Special: [UNK], <s>, <>, <|endoftext|>; single characters: [, <, é.
    assert (s.vocab_size, s.merges_count, s.special_token_count, s.single_char_count, s.min_token_id, s.max_token_id) == (
        11, 1, 4, 3, 3, 13)
    assert s.length_distribution == [(0, 1), (1, 3), (2, 3), (3, 2), (5, 1), (13, 1)]


@pytest.mark.parametrize("ids, expected", [
    ([0, 1, 2], (False, 0, 0, 2)), ([5, 6], (True, 5, 5, 6)), ([0, 2], (True, 1, 0, 2)), ([0, 0, 1], (False, 0, 0, 1)),
    ([3], (True, 3, 3, 3)), ([0, 1, 1], (False, 0, 0, 1)),
    # The span of 2**32 IDs does not wrap around.
    ([0, 4294967295], (True, 4294967294, 0, 4294967295)), ([4294967295], (True, 4294967295, 4294967295, 4294967295)),
])
def test_gap_check(lexmill, ids, expected):
    assert open_doc(lexmill, {f"t{i}": id_ for i, id_ in enumerate(ids)}).check_vocab_gaps() == expected
