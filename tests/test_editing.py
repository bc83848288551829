"""Editing operations of the editor: worked examples and the edge cases that decide behaviour."""

import json
import re
import warnings

import pytest

from conftest import tokenizer_json

U32_MAX = 4294967295


def open_doc(lexmill, *args, **kwargs):
    return lexmill.Lexmill.from_json(tokenizer_json(*args, **kwargs))


def addition(result):
    return (result.token, result.added, result.method, result.added_merges)


def removal(result):
    """A removal with its unordered lists sorted."""
    return (result.root_token, sorted(result.removed_tokens), sorted(result.removed_merges))


def ids_of(editor, tokens):
    return [editor.get_token_id(t) for t in tokens]


# --- addition ---------------------------------------------------------------


def test_longest_prefix_example(lexmill):
    editor = open_doc(lexmill, {"a": 0, "b": 1, "c": 2, "ab": 3}, merges=[("a", "b")])
    result = editor.add_token("abc")
    assert type(result).__name__ == "AdditionResult"
    assert addition(result) == ("abc", True, "longest_prefix", [("ab", "c")])
    assert editor.get_token_id("abc") == 4
    assert editor.get_merges() == [("a", "b"), ("ab", "c")]


def test_prefix_then_chain_for_the_suffix(lexmill):
    editor = open_doc(lexmill, {"x": 0})
    assert addition(editor.add_token("xyz")) == ("xyz", True, "longest_prefix", [("y", "z"), ("x", "yz")])
    assert ids_of(editor, ["x", "y", "z", "yz", "xyz"]) == [0, 1, 2, 3, 4]
    assert editor.get_merges() == [("y", "z"), ("x", "yz")]


def test_char_chain_assigns_ids_in_chain_order(lexmill):
    editor = open_doc(lexmill)
    assert addition(editor.add_token("abc")) == ("abc", True, "char_chain", [("a", "b"), ("ab", "c")])
    # An empty vocabulary starts handing out IDs at 1.
    assert editor.get_vocab() == {"a": 1, "ab": 3, "abc": 5, "b": 2, "c": 4}


@pytest.mark.parametrize(
    "vocab, merges, token, method, added_merges, new_ids",
    [
        pytest.param({"a": 0}, [], "ab", "longest_prefix", [("a", "b")], {"b": 1, "ab": 2}, id="missing-suffix-char"),
        pytest.param({"z": 0}, [], "ab", "char_chain", [("a", "b")], {"a": 1, "b": 2, "ab": 3}, id="no-prefix"),
        pytest.param({"a": 0}, [], "", "char_chain", [], {"": 1}, id="empty-token"),
        pytest.param({"a": 0}, [], "é", "single_char", [], {"é": 1}, id="two-byte-char"),
        pytest.param({"a": 0}, [], "😀", "single_char", [], {"😀": 1}, id="four-byte-char"),
        pytest.param(
            {"a": 0, "b": 1}, [("a", "b")], "ab", "longest_prefix", [], {"ab": 2}, id="merge-exists-result-missing"
        ),
        pytest.param(
            {"c": 0, "a": 1, "f": 2, "ca": 3, "caf": 4},
            [("c", "a"), ("ca", "f")],
            "café",
            "longest_prefix",
            [("caf", "é")],
            {"é": 5, "café": 6},
            id="split-at-character-boundary",
        ),
        pytest.param(
            {},
            [("a", "b")],
            "abc",
            "char_chain",
            [("ab", "c")],
            {"a": 1, "b": 2, "ab": 3, "c": 4, "abc": 5},
            id="chain-merge-exists",
        ),
        pytest.param({"é": 0}, [], "éé", "longest_prefix", [("é", "é")], {"éé": 1}, id="identical-parts"),
    ],
)
def test_add_token_methods(lexmill, vocab, merges, token, method, added_merges, new_ids):
    editor = open_doc(lexmill, vocab, merges=merges)
    assert addition(editor.add_token(token)) == (token, True, method, added_merges)
    assert editor.get_vocab() == {**vocab, **new_ids}
    assert editor.get_merges() == merges + [m for m in added_merges if m not in merges]


def test_existing_token_changes_nothing(lexmill):
    editor = open_doc(lexmill, {"a": 0, "b": 7}, merges=[("a", "b")])
    before = editor.to_json()
    assert addition(editor.add_token("b")) == ("b", False, "already_exists", [])
    assert editor.add_token_atomic("a") is False
    assert editor.to_json() == before
    # next_id did not move either.
    assert editor.add_token_atomic("c") is True and editor.get_token_id("c") == 8


def test_add_tokens_sees_earlier_additions(lexmill):
    editor = open_doc(lexmill, {"a": 0})
    results = editor.add_tokens(["ab", "ab", "b", ""])
    assert [r.method for r in results] == ["longest_prefix", "already_exists", "already_exists", "char_chain"]
    assert [r.token for r in results] == ["ab", "ab", "b", ""]
    assert editor.add_tokens([]) == []


def test_add_token_atomic_makes_no_merges(lexmill):
    editor = open_doc(lexmill, {"a": 0, "b": 1}, merges=[("a", "b")])
    assert editor.add_token_atomic("abc") is True
    assert editor.add_token_atomic("abc") is False
    assert editor.get_merges() == [("a", "b")] and editor.get_token_id("abc") == 2
    # 'ab' is still produced by its merge and used by none.
    assert editor.validate_merges().invalid_merges == [(0, "a", "b")]


def test_added_token_ids_are_reserved(lexmill):
    added = [
        {"id": 1, "content": "<s>", "special": True},
        {"id": 3, "content": "</s>", "special": True},
    ]
    editor = open_doc(lexmill, {"a": 0}, added_tokens=added)
    editor.add_token_atomic("b")
    # A string only named by added_tokens is an ordinary new vocabulary entry.
    editor.add_token_atomic("<s>")
    assert ids_of(editor, ["b", "<s>"]) == [4, 5]


@pytest.mark.parametrize("id_value", [-1, 3.0, "7", True, None, U32_MAX + 1])
def test_added_token_ids_that_reserve_nothing(lexmill, id_value):
    editor = open_doc(lexmill, {"a": 0}, added_tokens=[{"id": id_value, "content": "x"}, {"content": "y"}, 5, "z"])
    editor.add_token_atomic("b")
    assert editor.get_token_id("b") == 1


@pytest.mark.parametrize(
    "vocab, added_tokens, expected",
    [
        ({"a": U32_MAX}, [], [0, 1]),
        ({"a": 0, "z": U32_MAX}, [], [1, 2]),
        ({"a": U32_MAX}, [{"id": 0, "content": "<s>"}], [1, 2]),
        ({"a": U32_MAX - 1, "b": U32_MAX - 3}, [], [U32_MAX, 0]),
    ],
)
def test_next_id_wraps_past_the_largest_id(lexmill, vocab, added_tokens, expected):
    editor = open_doc(lexmill, vocab, added_tokens=added_tokens)
    editor.add_token_atomic("p")
    editor.add_token_atomic("q")
    assert ids_of(editor, ["p", "q"]) == expected


# --- added tokens and readers ------------------------------------------------


def test_pinning_enters_added_tokens_a_reader_would_renumber(lexmill, tmp_path):
    added = [
        {"id": 2, "content": "<s>", "special": True},  # read as 2 while the vocabulary has two entries
        {"id": 9, "content": "<pad>", "special": True},  # read as 3
        {"id": 1, "content": "b", "special": False},  # a vocabulary token: read with its own ID
        {"id": 0, "content": "<unk>", "special": True},  # ID 0 is the vocabulary's "a": cannot be pinned
    ]
    editor = open_doc(lexmill, ["a", "b"], added_tokens=added)
    for write in (editor.to_json, lambda: editor.save(str(tmp_path / "out.json"))):
        with pytest.warns(UserWarning, match=r"^2 added tokens would be read .* pin_added_tokens\(\)"):
            write()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning):
            editor.save(str(tmp_path / "refused.json"))
    assert not (tmp_path / "refused.json").exists()
    assert editor.pin_added_tokens() == 2
    assert editor.get_vocab() == {"<pad>": 9, "<s>": 2, "a": 0, "b": 1}
    with pytest.warns(UserWarning, match="^1 added token would"):
        editor.to_json()
    assert editor.pin_added_tokens() == 0


# --- removal ------------------------------------------------------------------


def test_removal_example(lexmill):
    editor = open_doc(lexmill, ["a", "b", "c", "ab", "bc", "abc"], merges=[("a", "b"), ("ab", "c"), ("b", "c")])
    result = editor.remove_token("ab")
    assert type(result).__name__ == "RemovalResult"
    assert removal(result) == ("ab", ["ab", "abc"], [("a", "b"), ("ab", "c")])
    assert editor.get_vocab() == {"a": 0, "b": 1, "bc": 4, "c": 2}
    assert editor.get_merges() == [("b", "c")]


def test_cascade_through_several_levels(lexmill):
    tokens = ["a", "b", "c", "d", "ab", "abc", "abcd", "cd", "x"]
    merges = [("a", "b"), ("c", "d"), ("ab", "c"), ("abc", "d"), ("x", "x")]
    editor = open_doc(lexmill, tokens, merges=merges)
    result = editor.remove_token("a")
    assert removal(result) == ("a", ["a", "ab", "abc", "abcd"], [("a", "b"), ("ab", "c"), ("abc", "d")])
    assert list(editor.get_vocab()) == ["b", "c", "cd", "d", "x"]
    assert editor.get_merges() == [("c", "d"), ("x", "x")]


def test_every_producer_of_a_removed_token_goes(lexmill):
    editor = open_doc(
        lexmill,
        ["a", "b", "c", "ab", "bc", "abc"],
        merges=[("a", "b"), ("b", "c"), ("a", "bc"), ("ab", "c")],
    )
    assert removal(editor.remove_token("abc")) == ("abc", ["abc"], [("a", "bc"), ("ab", "c")])
    assert editor.get_merges() == [("a", "b"), ("b", "c")]
    assert editor.validate_merges().invalid_count == 0


def test_identical_part_merge_is_removed_once(lexmill):
    editor = open_doc(lexmill, ["a", "aa", "aaa", "b"], merges=[("a", "a"), ("aa", "a")])
    result = editor.remove_token("a")
    assert removal(result) == ("a", ["a", "aa", "aaa"], [("a", "a"), ("aa", "a")])
    assert editor.get_vocab() == {"b": 3} and editor.get_merges() == []


def test_unknown_token(lexmill):
    editor = open_doc(lexmill, ["a", "b"], merges=[("q", "r")])
    before = editor.to_json()
    assert removal(editor.remove_token("zz")) == ("zz", ["zz"], [])
    assert editor.to_json() == before
    # A string that only merges name still takes those merges with it.
    assert removal(editor.remove_token("q")) == ("q", ["q", "qr"], [("q", "r")])
    assert editor.get_merges() == [] and editor.vocab_size == 2


def test_remove_tokens_reports_only_processed_elements(lexmill):
    editor = open_doc(lexmill, ["a", "b", "c", "ab", "abc"], merges=[("a", "b"), ("ab", "c")])
    results = editor.remove_tokens(["ab", "abc", "zz", "ab"])
    assert [removal(r) for r in results] == [("ab", ["ab", "abc"], [("a", "b"), ("ab", "c")])]
    assert editor.remove_tokens([]) == []


def test_removed_tokens_keep_the_inputs_of_their_producer(lexmill):
    editor = open_doc(lexmill, ["<s>", "é", "<s>é"], merges=[("<s>", "é")])
    editor.remove_token("<s>é")
    assert list(editor.get_vocab()) == ["<s>", "é"]


def test_freed_ids_below_next_id_are_not_reused(lexmill):
    editor = open_doc(lexmill, ["a", "b", "c"])
    editor.remove_token("b")
    editor.remove_token("c")
    editor.add_token_atomic("d")
    assert editor.get_token_id("d") == 3


@pytest.mark.parametrize(
    "vocab, added_tokens, removed, kept_id",
    [
        # Two entries share ID 5: removing one leaves the ID in use.
        ({"a": 5, "b": 5, "z": U32_MAX}, [], "a", 5),
        # An added-token entry still carries the ID of the removed entry.
        ({"<s>": 5, "z": U32_MAX}, [{"id": 5, "content": "<s>", "special": True}], "<s>", 5),
    ],
)
def test_ids_still_held_are_not_handed_out_again(lexmill, vocab, added_tokens, removed, kept_id):
    editor = open_doc(lexmill, vocab, added_tokens=added_tokens)
    editor.remove_token(removed)
    new = ["p", "q", "r", "s", "t", "u", "v"]
    for token in new:
        editor.add_token_atomic(token)
    assert kept_id not in ids_of(editor, new)
    assert ids_of(editor, new) == [0, 1, 2, 3, 4, 6, 7]


# --- merge validation -------------------------------------------------------


def test_validation_reports_positions(lexmill):
    editor = open_doc(lexmill, ["a", "b", "xy", "ab"], merges=[("x", "y"), ("q", "r"), ("a", "b"), ("q", "r")])
    report = editor.validate_merges()
    assert type(report).__name__ == "ValidationResult"
    # A merge whose parts are missing is still valid when its result exists.
    assert (report.valid_count, report.invalid_count) == (2, 2)
    assert report.invalid_merges == [(1, "q", "r"), (3, "q", "r")]
    assert editor.remove_invalid_merges() == 2
    assert editor.get_merges() == [("x", "y"), ("a", "b")]
    assert editor.remove_invalid_merges() == 0


# --- shrink -------------------------------------------------------------------


def test_shrink_order_and_preview(lexmill):
    vocab = {"ab": 3, "cd": 9, "ef": 5, "abcd": 0, "ééé": 8, "a": 30, "": 31}
    editor = open_doc(lexmill, vocab)
    preview = editor.find_tokens_to_shrink(10)
    # Characters, not bytes, decide; equal lengths go highest ID first.
    assert preview == [("abcd", 0, 4), ("ééé", 8, 3), ("cd", 9, 2), ("ef", 5, 2), ("ab", 3, 2)]
    assert editor.find_tokens_to_shrink(2) == preview[:2]
    assert editor.find_tokens_to_shrink(0) == []
    assert editor.find_tokens_to_shrink(count=3, min_id=5) == [("ééé", 8, 3), ("cd", 9, 2), ("ef", 5, 2)]
    result = editor.shrink(3)
    assert type(result).__name__ == "ShrinkResult"
    assert list(editor.get_vocab()) == ["", "a", "ab", "ef"]


def test_shrink_equal_ids_keep_bytewise_order(lexmill):
    editor = open_doc(lexmill, {"bb": 4, "ab": 4, "cc": 2})
    assert editor.find_tokens_to_shrink(3) == [("ab", 4, 2), ("bb", 4, 2), ("cc", 2, 2)]


def test_bracketed_tokens_are_never_chosen(lexmill):
    tokens = ["[CLS]", "<s>", "<|endoftext|>", "[]", "<>", "<a", "a]", "[x>", "ab"]
    editor = open_doc(lexmill, tokens)
    chosen = [t for t, _, _ in editor.find_tokens_to_shrink(100)]
    assert sorted(chosen) == sorted(["<a", "a]", "[x>", "ab"])
    result = editor.shrink(100)
    assert sorted(editor.get_vocab()) == sorted(["[CLS]", "<s>", "<|endoftext|>", "[]", "<>"])
    assert result.tokens_removed_count == 4


def test_shrink_counts_cascades_past_min_id_and_brackets(lexmill):
    vocab = {"a": 10, "b": 11, "c": 12, "ab": 13, "abc": 5, "bc": 15, "<a": 1, "b>": 16, "<ab>": 17}
    merges = [("a", "b"), ("ab", "c"), ("b", "c"), ("<a", "b>")]
    editor = open_doc(lexmill, vocab, merges=merges)
    assert editor.find_tokens_to_shrink(5, min_id=13) == [("b>", 16, 2), ("bc", 15, 2), ("ab", 13, 2)]
    # Neither the ID limit nor the bracket test stops a cascade: 'b>' takes
    # '<ab>' with it and 'ab' takes 'abc'.
    result = editor.shrink(5, min_id=13)
    fields = (
        result.initial_vocab_size,
        result.initial_merges_count,
        result.final_vocab_size,
        result.final_merges_count,
        result.tokens_removed_count,
        result.total_tokens_removed,
        result.total_merges_removed,
    )
    assert fields == (9, 4, 4, 0, 3, 5, 4)
    assert list(editor.get_vocab()) == ["<a", "a", "b", "c"]


def test_shrink_with_nothing_to_choose(lexmill):
    editor = open_doc(lexmill, {"a": 0, "bc": 1})
    before = editor.to_json()
    for args in [(0,), (5, 2), (5, U32_MAX)]:
        result = editor.shrink(*args)
        assert (result.initial_vocab_size, result.final_vocab_size, result.tokens_removed_count) == (2, 2, 0)
    assert editor.to_json() == before


# --- reindex ------------------------------------------------------------------


def reindex_fields(result):
    return (
        result.vocab_size,
        result.merges_count,
        result.old_min_id,
        result.old_max_id,
        result.new_min_id,
        result.new_max_id,
        result.ids_remapped,
        result.gaps_removed,
    )


@pytest.mark.parametrize(
    "vocab, fields, after",
    [
        ({"a": 0, "b": 1, "c": 4, "d": 7}, (4, 1, 0, 7, 0, 3, 2, 4), {"a": 0, "b": 1, "c": 2, "d": 3}),
        ({"x": 5, "y": 6}, (2, 1, 5, 6, 0, 1, 2, 5), {"x": 0, "y": 1}),
        ({"c": 3, "d": 4, "e": 5}, (3, 1, 3, 5, 0, 2, 3, 3), {"c": 0, "d": 1, "e": 2}),
        # Entries sharing an ID get consecutive IDs in bytewise order.
        ({"b": 0, "a": 0, "c": 1}, (3, 1, 0, 1, 0, 2, 2, 0), {"a": 0, "b": 1, "c": 2}),
        ({"a": 0, "b": 1, "c": 2}, (3, 1, 0, 2, 0, 2, 0, 0), {"a": 0, "b": 1, "c": 2}),
        # The span 0..4294967295 does not wrap to an empty one.
        ({"a": 0, "b": U32_MAX}, (2, 1, 0, U32_MAX, 0, 1, 1, U32_MAX - 1), {"a": 0, "b": 1}),
        ({}, (0, 1, 0, 0, 0, 0, 0, 0), {}),
    ],
)
def test_reindex(lexmill, vocab, fields, after):
    editor = open_doc(lexmill, vocab, merges=[("q", "r")])
    result = editor.reindex_vocab()
    assert type(result).__name__ == "ReindexResult"
    assert reindex_fields(result) == fields
    assert editor.get_vocab() == after
    assert reindex_fields(editor.reindex_vocab())[6:] == (0, 0)


def test_dense_reindex_leaves_next_id(lexmill):
    editor = open_doc(lexmill, ["a", "b", "c", "d"])
    editor.remove_token("d")
    assert reindex_fields(editor.reindex_vocab())[6:] == (0, 0)
    editor.add_token_atomic("e")
    assert editor.get_token_id("e") == 4


@pytest.mark.parametrize(
    "added_tokens, vocab_after, added_ids_after, next_token_id",
    [
        ([], {"a": 0, "b": 1}, [], 2),
        # An added token of a vocabulary token follows it to its new ID.
        ([{"id": 5, "content": "b"}], {"a": 0, "b": 1}, [1], 2),
        # The ID of an added token that is no vocabulary token is stepped over.
        ([{"id": 1, "content": "<s>"}], {"a": 0, "b": 2}, [1], 3),
        ([{"id": U32_MAX, "content": "<s>"}], {"a": 0, "b": 1}, [U32_MAX], 2),
    ],
)
def test_reindex_keeps_added_tokens_in_step(lexmill, added_tokens, vocab_after, added_ids_after, next_token_id):
    editor = open_doc(lexmill, {"a": 0, "b": 5}, added_tokens=added_tokens)
    result = editor.reindex_vocab()
    assert editor.get_vocab() == vocab_after
    assert (result.old_ids, result.new_ids) == ([5], [vocab_after["b"]])
    assert [entry["id"] for entry in json.loads(editor.to_json())["added_tokens"]] == added_ids_after
    editor.add_token_atomic("c")
    assert editor.get_token_id("c") == next_token_id


# --- add_tokens_keep_size ---------------------------------------------------


def keep_size_result(initial, final, requested, added, removed, not_added=0):
    return {
        "initial_vocab_size": initial,
        "final_vocab_size": final,
        "tokens_requested": requested,
        "tokens_added": added,
        "tokens_removed": removed,
        "tokens_not_added": not_added,
    }


def test_keep_size_victim_order(lexmill):
    # Longest first, then produced by a merge, then bytewise smallest.
    editor = open_doc(lexmill, ["a", "b", "c", "d", "ba", "cd", "ab", "dc", "abc"], merges=[("c", "d")])
    assert editor.add_tokens_keep_size(["e"]) == keep_size_result(9, 9, 1, 1, 1)
    assert not editor.has_token("abc")
    editor.add_tokens_keep_size(["f"])
    assert not editor.has_token("cd")
    editor.add_tokens_keep_size(["g"])
    assert not editor.has_token("ab") and editor.has_token("ba")


@pytest.mark.parametrize(
    "tokens, added_tokens, whitelist, survivor",
    [
        (["a", "ab", "xyz"], [], None, "a"),  # single characters
        (["a", "b", "<ab>", "[PAD]", "xyz"], [], None, "<ab>"),  # bracketed
        (["a", "b", "▁▁▁", "xyz"], [{"id": 2, "content": "▁▁▁"}], None, "▁▁▁"),  # registered added token
        (["a", "b", "abcd", "xyz"], [], ["abcd"], "abcd"),  # whitelisted
    ],
)
def test_keep_size_never_chooses_protected_tokens(lexmill, tokens, added_tokens, whitelist, survivor):
    editor = open_doc(lexmill, tokens, added_tokens=added_tokens)
    result = editor.add_tokens_keep_size(["é"], whitelist=whitelist)
    assert result == keep_size_result(len(tokens), len(tokens), 1, 1, 1)
    assert editor.has_token(survivor) and not editor.has_token("xyz")


def test_keep_size_keeps_size_and_id_range(lexmill):
    # 'pqrs' brings 'p', 'q', 'r', 's', 'pq', 'pqr' and 'pqrs': seven entries
    # paid for by seven victims, whose IDs they take, lowest first.
    tokens = ["a", "b", "<s>"] + [f"{c}{c}{c}{c}"[: 2 + i % 3] for i, c in enumerate("cdefghijk")]
    editor = open_doc(lexmill, tokens)
    before = editor.get_vocab()
    result = editor.add_tokens_keep_size(["pqrs"])
    assert result == keep_size_result(12, 12, 1, 1, 7)
    freed = sorted(before[t] for t in before if not editor.has_token(t))
    assert [editor.get_token_id(t) for t in ["p", "q", "pq", "r", "pqr", "s", "pqrs"]] == freed
    assert editor.check_vocab_gaps() == (False, 0, 0, 11)


def test_keep_size_spares_what_the_call_adds(lexmill):
    # 'xy' would be the victim for 'xyz', but its cascade would take 'xyz'.
    editor = open_doc(lexmill, ["x", "y", "z", "xy", "ab", "cd", "ef"], merges=[("x", "y")])
    assert editor.add_tokens_keep_size(["xyz", "xyzq"]) == keep_size_result(7, 7, 2, 2, 3)
    assert editor.has_token("xyz") and editor.has_token("xyzq") and editor.has_token("xy")
    assert editor.validate_merges().invalid_count == 0


def test_keep_size_stops_when_nothing_is_left_to_remove(lexmill):
    editor = open_doc(lexmill, ["q", "qq"])
    assert editor.add_tokens_keep_size(["ab", "cd"]) == keep_size_result(2, 1, 2, 0, 1, 2)
    # 'qq' went to make room, but 'ab' needed three entries: it is left out.
    assert editor.get_vocab() == {"q": 0}


def test_keep_size_skips_present_and_repeated_tokens(lexmill):
    editor = open_doc(lexmill, ["a", "b", "ab", "xyz"])
    before = editor.to_json()
    assert editor.add_tokens_keep_size([]) == keep_size_result(4, 4, 0, 0, 0)
    assert editor.add_tokens_keep_size(["ab", "a"]) == keep_size_result(4, 4, 2, 0, 0)
    assert editor.to_json() == before
    assert editor.add_tokens_keep_size(["é", "é"]) == keep_size_result(4, 4, 2, 1, 1)


def test_keep_size_whitelist_none_is_no_whitelist(lexmill):
    texts = []
    for kwargs in [{}, {"whitelist": None}]:
        editor = open_doc(lexmill, ["a", "b", "ab", "ba"], merges=[("a", "b")])
        editor.add_tokens_keep_size(["c", "ca"], **kwargs)
        texts.append(editor.to_json())
    assert texts[0] == texts[1]


def test_keep_size_cascade_pays_for_later_additions(lexmill):
    # The first victim 'abb' is gone; 'ab' takes nothing else, and once a
    # cascade has made room, the next addition needs no victim.
    editor = open_doc(lexmill, ["a", "b", "ab", "abb", "cd", "d"], merges=[("a", "b"), ("ab", "b")])
    assert editor.add_tokens_keep_size(["e", "f", "g"]) == keep_size_result(6, 6, 3, 3, 3)
    assert list(editor.get_vocab()) == ["a", "b", "d", "e", "f", "g"]


# --- sync_single_chars ------------------------------------------------------


def write_source(tmp_path, tokens, name="source.json"):
    path = tmp_path / name
    path.write_text(tokenizer_json(tokens), encoding="utf-8")
    return str(path)


def sync_result(initial, final, in_source, present, added, tokens_removed, merges_removed, not_added=0):
    return {
        "initial_vocab_size": initial,
        "final_vocab_size": final,
        "chars_in_source": in_source,
        "chars_already_present": present,
        "chars_added_count": added,
        "total_tokens_removed": tokens_removed,
        "total_merges_removed": merges_removed,
        "chars_not_added": not_added,
    }


def progress_pattern(text):
    """The progress text with <s.s> and <s.ss> standing for measured seconds."""
    pattern = re.escape(text).replace(re.escape("<s.s>"), r"\d+\.\d").replace(re.escape("<s.ss>"), r"\d+\.\d\d")
    return re.compile(pattern)


def test_sync_progress_text(lexmill, tmp_path, capfd):
    editor = open_doc(lexmill, {"a": 0, "b": 1, "ab": 2, "ba": 5}, merges=[("a", "b")])
    source = write_source(tmp_path, ["a", "😀", "é", "x", "xé"])
    capfd.readouterr()
    result = editor.sync_single_chars(source)
    out, err = capfd.readouterr()
    assert list(result.items()) == list(sync_result(4, 4, 4, 1, 2, 2, 1, 1).items())
    assert out == ""
    # A progress line appears at most every 100 ms; the final one always.
    expected = (
        progress_pattern(
            "\n   Pre-computing 3 tokens to remove...\n"
            "   Found 2 candidate tokens for removal\n"
            "   WARNING: Only found 2 tokens to remove, but need 3\n"
            "\n   Phase 1: Removing 2 tokens...\n"
        ).pattern
        + "(?:" + progress_pattern("\r   [ 50.0%] 1/2 removed | Elapsed: <s.s>s | ETA: <s.s>s    ").pattern + ")?"
        + progress_pattern(
            "\r   [100.0%] 2/2 removed | Elapsed: <s.s>s | ETA: 0.0s    "
            "\n"
            "\n   Phase 2: Adding 3 single-char tokens...\n"
            "   Added 2 tokens in <s.ss>s\n"
            "\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n"
            "   Reindexed 1 IDs, removed 2 gaps\n"
        ).pattern
    )
    assert re.fullmatch(expected, err), err
    # Added in bytewise order while there is room, under the freed IDs 2 and 5,
    # then compacted to 0 ... n-1.
    assert editor.get_vocab() == {"a": 0, "b": 1, "x": 2, "é": 3}


def test_sync_with_nothing_missing_prints_nothing(lexmill, tmp_path, capfd):
    editor = open_doc(lexmill, {"a": 0, "b": 3, "ab": 4})
    before = editor.to_json()
    source = write_source(tmp_path, ["b", "a", "ab", "abc"])
    capfd.readouterr()
    assert editor.sync_single_chars(source) == sync_result(3, 3, 2, 2, 0, 0, 0)
    assert capfd.readouterr() == ("", "")
    # Not reindexed: the gap stays.
    assert editor.to_json() == before


def test_sync_with_min_id_above_every_id(lexmill, tmp_path, capfd):
    editor = open_doc(lexmill, {"a": 0, "ab": 4})
    source = write_source(tmp_path, ["x", "y"])
    capfd.readouterr()
    assert editor.sync_single_chars(source, min_id=5) == sync_result(2, 2, 2, 0, 0, 0, 0, 2)
    expected = progress_pattern(
        "\n   Pre-computing 2 tokens to remove...\n"
        "   Found 0 candidate tokens for removal\n"
        "   WARNING: Only found 0 tokens to remove, but need 2\n"
        "\n   Phase 1: Removing 0 tokens...\n"
        "\n"
        "\n   Phase 2: Adding 2 single-char tokens...\n"
        "   Added 0 tokens in <s.ss>s\n"
        "\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n"
        "   Reindexed 1 IDs, removed 3 gaps\n"
    )
    out, err = capfd.readouterr()
    assert out == "" and expected.fullmatch(err), err
    # Nothing could be removed, so nothing is added: the size stays.
    assert editor.get_vocab() == {"a": 0, "ab": 1}


@pytest.mark.parametrize(
    "content, message",
    [
        (None, "Failed to read: {path}"),
        (b"\xff\xfe not utf-8", "Failed to read: {path}"),
        (b"{not json", "Failed to parse tokenizer.json"),
        (tokenizer_json(["x"], model_extra={"type": "WordPiece"}).encode(), "Only BPE tokenizers are supported"),
    ],
)
def test_sync_source_that_cannot_be_loaded(lexmill, tmp_path, capfd, content, message):
    path = tmp_path / "source.json"
    if content is not None:
        path.write_bytes(content)
    editor = open_doc(lexmill, {"a": 0, "bc": 3})
    before = editor.to_json()
    capfd.readouterr()
    with pytest.raises(OSError) as raised:
        editor.sync_single_chars(str(path))
    assert str(raised.value) == "Failed to load source tokenizer: " + message.format(path=path)
    assert capfd.readouterr() == ("", "")
    assert editor.to_json() == before


# --- re-entrant use -----------------------------------------------------------


class PeekingTokens:
    """A sequence of tokens that reads the editor while the call converts it."""

    def __init__(self, editor, tokens):
        self.editor = editor
        self.tokens = tokens

    def __len__(self):
        return len(self.tokens)

    def __getitem__(self, index):
        self.editor.vocab_size
        return self.tokens[index]


class PeekingIterable(PeekingTokens):
    def __iter__(self):
        self.editor.vocab_size
        return iter(self.tokens)


class PeekingLength(PeekingTokens):
    def __len__(self):
        self.editor.vocab_size
        return len(self.tokens)

    def __getitem__(self, index):
        return self.tokens[index]


EDITING_CALLS = [
    pytest.param(lambda editor, seq: editor.add_tokens(seq), id="add_tokens"),
    pytest.param(lambda editor, seq: editor.remove_tokens(seq), id="remove_tokens"),
    pytest.param(lambda editor, seq: editor.add_tokens_keep_size(seq), id="add_tokens_keep_size-tokens"),
    pytest.param(
        lambda editor, seq: editor.add_tokens_keep_size(["zz"], whitelist=seq), id="add_tokens_keep_size-whitelist"
    ),
]


@pytest.mark.parametrize("sequence", [PeekingTokens, PeekingIterable])
@pytest.mark.parametrize("call", EDITING_CALLS)
def test_reading_the_editor_while_it_converts_arguments(lexmill, call, sequence):
    editor = open_doc(lexmill, ["a", "b", "ab"], merges=[("a", "b")])
    before = editor.to_json()
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        call(editor, sequence(editor, ["ab", "c", "cd"]))
    assert editor.to_json() == before
    # The editor is usable afterwards.
    assert editor.add_token("c").added


def test_a_failing_length_is_only_a_hint(lexmill):
    editor = open_doc(lexmill, ["a"])
    results = editor.add_tokens(PeekingLength(editor, ["b", "ab"]))
    assert [r.method for r in results] == ["single_char", "longest_prefix"]
