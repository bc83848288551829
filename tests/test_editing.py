"""Editing operations of the editor: worked examples and the edge cases that decide behaviour."""

import json
import re
import warnings

import pytest

from conftest import open_doc, tokenizer_json

U32_MAX = 2**32 - 1


@pytest.mark.parametrize("vocab, merges, token, method, added_merges, new_ids", [
    ({"a": 0, "b": 1, "c": 2, "ab": 3}, [("a", "b")], "abc", "longest_prefix", [("ab", "c")], {"abc": 4}),
    ({"x": 0}, [], "xyz", "longest_prefix", [("y", "z"), ("x", "yz")], {"y": 1, "z": 2, "yz": 3, "xyz": 4}),
    # An empty vocabulary starts handing out IDs at 1.
    ({}, [], "abc", "char_chain", [("a", "b"), ("ab", "c")], {"a": 1, "b": 2, "ab": 3, "c": 4, "abc": 5}),
    ({}, [("a", "b")], "abc", "char_chain", [("ab", "c")], {"a": 1, "b": 2, "ab": 3, "c": 4, "abc": 5}),
    ({"a": 0}, [], "ab", "longest_prefix", [("a", "b")], {"b": 1, "ab": 2}),
    ({"z": 0}, [], "ab", "char_chain", [("a", "b")], {"a": 1, "b": 2, "ab": 3}),
    ({"a": 0}, [], "", "char_chain", [], {"": 1}),
    ({"a": 0}, [], "é", "single_char", [], {"é": 1}), ({"a": 0}, [], "😀", "single_char", [], {"😀": 1}),
    ({"a": 0, "b": 1}, [("a", "b")], "ab", "longest_prefix", [], {"ab": 2}),
    ({"c": 0, "a": 1, "f": 2, "ca": 3, "caf": 4}, [("c", "a"), ("ca", "f")], "café", "longest_prefix",
     [("caf", "é")], {"é": 5, "café": 6}),
    ({"é": 0}, [], "éé", "longest_prefix", [("é", "é")], {"éé": 1}),
    ({"a": 0, "b": 7}, [("a", "b")], "b", "already_exists", [], {}),
    # BPE joins "a b", then "x ab" to its left: the chain starts from "y" + "xab".
    ({"y": 0, "x": 1, "a": 2, "b": 3, "ab": 4, "xab": 5}, [("a", "b"), ("x", "ab")], "yxab", "reachable",
     [("y", "xab")], {"yxab": 6}),
    # The earlier merge first, wherever it stands: "a" + "bc".
    ({"a": 0, "b": 1, "c": 2, "bc": 3, "ab": 4}, [("b", "c"), ("a", "b")], "abc", "reachable", [("a", "bc")], {"abc": 5}),
])
def test_add_token(lexmill, vocab, merges, token, method, added_merges, new_ids):
    editor = open_doc(lexmill, vocab, merges=merges)
    result = editor.add_token(token, reachable=method == "reachable")
    assert (result.token, result.added, result.method, result.added_merges) == (
        token, method != "already_exists", method, added_merges)
    assert editor.get_vocab() == {**vocab, **new_ids}
    assert editor.get_merges() == merges + [m for m in added_merges if m not in merges]
    assert editor.add_token_atomic("\u2603") and editor.get_token_id("\u2603") == max([*vocab.values(), *new_ids.values()]) + 1


def test_batches_and_atomic_additions(lexmill):
    editor = open_doc(lexmill, {"a": 0})
    results = editor.add_tokens(["ab", "ab", "b", ""])
    assert [(r.token, r.method) for r in results] == [
        ("ab", "longest_prefix"), ("ab", "already_exists"), ("b", "already_exists"), ("", "char_chain")]
    assert editor.add_tokens([]) == [] and editor.remove_tokens([]) == []
    # Removal reports only the elements it processed.
    editor = open_doc(lexmill, ["a", "b", "c", "ab", "abc"], merges=[("a", "b"), ("ab", "c")])
    results = editor.remove_tokens(["ab", "abc", "zz", "ab"])
    assert [(r.root_token, sorted(r.removed_tokens)) for r in results] == [("ab", ["ab", "abc"])]
    editor = open_doc(lexmill, {"a": 0, "b": 1}, merges=[("a", "b")])
    assert editor.add_token_atomic("abc") is True and editor.add_token_atomic("abc") is False
    assert editor.get_merges() == [("a", "b")] and editor.get_token_id("abc") == 2
    # 'ab' is still produced by its merge and used by none.
    assert editor.validate_merges().invalid_merges == [(0, "a", "b")]


@pytest.mark.parametrize("vocab, added_tokens, removed, expected", [
    # Added-token IDs are reserved; a string only named by added_tokens is an ordinary new entry.
    ({"a": 0}, [{"id": 1, "content": "<s>", "special": True}, {"id": 3, "content": "</s>"}], [], {"b": 4, "<s>": 5}),
    *[({"a": 0}, [{"id": v, "content": "x"}, {"content": "y"}, 5, "z"], [], {"b": 1, "c": 2})
      for v in (-1, 3.0, "7", True, None, U32_MAX + 1)],
    # Past the largest ID, the next one wraps to the lowest free.
    ({"a": U32_MAX}, [], [], {"p": 0, "q": 1}), ({"a": 0, "z": U32_MAX}, [], [], {"p": 1, "q": 2}),
    ({"a": U32_MAX}, [{"id": 0, "content": "<s>"}], [], {"p": 1, "q": 2}),
    ({"a": U32_MAX - 1, "b": U32_MAX - 3}, [], [], {"p": U32_MAX, "q": 0}),
    # Freed IDs below the next ID are not reused, and IDs still held are not handed out again.
    ({"a": 0, "b": 1, "c": 2}, [], ["b", "c"], {"d": 3}),
    ({"a": 5, "b": 5, "z": U32_MAX}, [], ["a"], dict(zip("pqrstuv", [0, 1, 2, 3, 4, 6, 7]))),
    ({"<s>": 5, "z": U32_MAX}, [{"id": 5, "content": "<s>", "special": True}], ["<s>"],
     dict(zip("pqrstuv", [0, 1, 2, 3, 4, 6, 7]))),
])
def test_next_id(lexmill, vocab, added_tokens, removed, expected):
    editor = open_doc(lexmill, vocab, added_tokens=added_tokens)
    editor.remove_tokens(removed)
    assert all(editor.add_token_atomic(t) for t in expected)
    assert {t: editor.get_token_id(t) for t in expected} == expected


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


@pytest.mark.parametrize("tokens, merges, token, removed_tokens, removed_merges", [
    (["a", "b", "c", "ab", "bc", "abc"], [("a", "b"), ("ab", "c"), ("b", "c")], "ab", ["ab", "abc"], [("a", "b"), ("ab", "c")]),
    (["a", "b", "c", "d", "ab", "abc", "abcd", "cd", "x"], [("a", "b"), ("c", "d"), ("ab", "c"), ("abc", "d"), ("x", "x")],
     "a", ["a", "ab", "abc", "abcd"], [("a", "b"), ("ab", "c"), ("abc", "d")]),
    # Every producer of a removed token goes.
    (["a", "b", "c", "ab", "bc", "abc"], [("a", "b"), ("b", "c"), ("a", "bc"), ("ab", "c")], "abc", ["abc"], [("a", "bc"), ("ab", "c")]),
    (["a", "aa", "aaa", "b"], [("a", "a"), ("aa", "a")], "a", ["a", "aa", "aaa"], [("a", "a"), ("aa", "a")]),
    (["a", "b"], [("q", "r")], "zz", ["zz"], []),
    # A string that only merges name still takes those merges with it.
    (["a", "b"], [("q", "r")], "q", ["q", "qr"], [("q", "r")]),
    # The inputs of a removed token's producer stay.
    (["<s>", "é", "<s>é"], [("<s>", "é")], "<s>é", ["<s>é"], [("<s>", "é")]),
])
def test_remove_token(lexmill, tokens, merges, token, removed_tokens, removed_merges):
    editor = open_doc(lexmill, tokens, merges=merges)
    result = editor.remove_token(token)
    assert (result.root_token, sorted(result.removed_tokens), sorted(result.removed_merges)) == (
        token, removed_tokens, removed_merges)
    assert editor.get_vocab() == {t: i for i, t in enumerate(tokens) if t not in removed_tokens}
    assert editor.get_merges() == [m for m in merges if m not in removed_merges]


def test_removing_most_merges_keeps_the_rest_in_order(lexmill):
    # Past 4,096 removed merges, and more removed than left, the merge list is compacted.
    symbols = [chr(0x100 + i) for i in range(100)]
    merges = [(a, b) for a in symbols for b in symbols]
    editor = open_doc(lexmill, symbols + [a + b for a, b in merges], merges=merges)
    editor.remove_tokens(symbols[:60])
    assert editor.get_merges() == [(a, b) for a, b in merges if a in symbols[60:] and b in symbols[60:]]


def test_validation_reports_positions(lexmill):
    editor = open_doc(lexmill, ["a", "b", "xy", "ab"], merges=[("x", "y"), ("q", "r"), ("a", "b"), ("q", "r")])
    report = editor.validate_merges()
    # A merge whose parts are missing is still valid when its result exists.
    assert (report.valid_count, report.invalid_count, report.invalid_merges) == (2, 2, [(1, "q", "r"), (3, "q", "r")])
    assert editor.remove_invalid_merges() == 2 and editor.remove_invalid_merges() == 0
    assert editor.get_merges() == [("x", "y"), ("a", "b")]


def test_shrink_choice(lexmill):
    brackets = {"[CLS]": 40, "<s>": 41, "<|endoftext|>": 42, "[]": 43, "<>": 44}
    vocab = {"ab": 3, "cd": 9, "bc": 9, "ef": 5, "abcd": 0, "ééé": 8, "a": 30, "": 31, "<a": 45, "a]": 46, "[x>": 47}
    editor = open_doc(lexmill, {**vocab, **brackets})
    # Characters, not bytes, decide; equal lengths go highest ID first, equal IDs in byte order; bracketed tokens,
    # single characters and the empty token are never chosen.
    preview = [("abcd", 0, 4), ("[x>", 47, 3), ("ééé", 8, 3), ("a]", 46, 2), ("<a", 45, 2), ("bc", 9, 2),
               ("cd", 9, 2), ("ef", 5, 2), ("ab", 3, 2)]
    assert editor.find_tokens_to_shrink(100) == preview and editor.find_tokens_to_shrink(2) == preview[:2]
    assert editor.find_tokens_to_shrink(0) == []
    assert editor.find_tokens_to_shrink(count=3, min_id=8) == [("[x>", 47, 3), ("ééé", 8, 3), ("a]", 46, 2)]
    assert editor.shrink(8).tokens_removed_count == 8
    assert editor.get_vocab() == {"ab": 3, "a": 30, "": 31, **brackets}


def test_shrink_cascades_past_min_id_and_brackets(lexmill):
    vocab = {"a": 10, "b": 11, "c": 12, "ab": 13, "abc": 5, "bc": 15, "<a": 1, "b>": 16, "<ab>": 17}
    editor = open_doc(lexmill, vocab, merges=[("a", "b"), ("ab", "c"), ("b", "c"), ("<a", "b>")])
    assert editor.find_tokens_to_shrink(5, min_id=13) == [("b>", 16, 2), ("bc", 15, 2), ("ab", 13, 2)]
    # Neither the ID limit nor the bracket test stops a cascade: 'b>' takes '<ab>' with it and 'ab' takes 'abc'.
    r = editor.shrink(5, min_id=13)
    assert (r.initial_vocab_size, r.initial_merges_count, r.final_vocab_size, r.final_merges_count,
            r.tokens_removed_count, r.total_tokens_removed, r.total_merges_removed) == (9, 4, 4, 0, 3, 5, 4)
    assert list(editor.get_vocab()) == ["<a", "a", "b", "c"]


def reindex_fields(r):
    return (r.vocab_size, r.merges_count, r.old_min_id, r.old_max_id, r.new_min_id, r.new_max_id, r.ids_remapped,
            r.gaps_removed)


@pytest.mark.parametrize("vocab, fields, after", [
    ({"a": 0, "b": 1, "c": 4, "d": 7}, (4, 1, 0, 7, 0, 3, 2, 4), {"a": 0, "b": 1, "c": 2, "d": 3}),
    ({"x": 5, "y": 6}, (2, 1, 5, 6, 0, 1, 2, 5), {"x": 0, "y": 1}),
    ({"c": 3, "d": 4, "e": 5}, (3, 1, 3, 5, 0, 2, 3, 3), {"c": 0, "d": 1, "e": 2}),
    # Entries sharing an ID get consecutive IDs in bytewise order.
    ({"b": 0, "a": 0, "c": 1}, (3, 1, 0, 1, 0, 2, 2, 0), {"a": 0, "b": 1, "c": 2}),
    ({"a": 0, "b": 1, "c": 2}, (3, 1, 0, 2, 0, 2, 0, 0), {"a": 0, "b": 1, "c": 2}),
    # The span 0..4294967295 does not wrap to an empty one.
    ({"a": 0, "b": U32_MAX}, (2, 1, 0, U32_MAX, 0, 1, 1, U32_MAX - 1), {"a": 0, "b": 1}),
    ({}, (0, 1, 0, 0, 0, 0, 0, 0), {}),
])
def test_reindex(lexmill, vocab, fields, after):
    editor = open_doc(lexmill, vocab, merges=[("q", "r")])
    assert reindex_fields(editor.reindex_vocab()) == fields
    assert editor.get_vocab() == after
    assert reindex_fields(editor.reindex_vocab())[6:] == (0, 0)


@pytest.mark.parametrize("vocab, added_tokens, vocab_after, added_ids_after, next_token_id", [
    ({"a": 0, "b": 5}, [], {"a": 0, "b": 1}, [], 2),
    # An added token of a vocabulary token follows it to its new ID.
    ({"a": 0, "b": 5}, [{"id": 5, "content": "b"}], {"a": 0, "b": 1}, [1], 2),
    # The ID of an added token that is no vocabulary token is stepped over.
    ({"a": 0, "b": 5}, [{"id": 1, "content": "<s>"}], {"a": 0, "b": 2}, [1], 3),
    ({"a": 0, "b": 5}, [{"id": U32_MAX, "content": "<s>"}], {"a": 0, "b": 1}, [U32_MAX], 2),
    ({"a": 0, "b": 1, "c": 2, "d": 3, "e": 4}, [], {"a": 0, "b": 1, "c": 2, "d": 3}, [], 5),
])
def test_reindex_keeps_added_tokens_and_next_id_in_step(lexmill, vocab, added_tokens, vocab_after, added_ids_after,
                                                        next_token_id):
    editor = open_doc(lexmill, vocab, added_tokens=added_tokens)
    editor.remove_token("e")
    result = editor.reindex_vocab()
    moved = [t for t in vocab_after if vocab_after[t] != vocab[t]]
    assert (result.old_ids, result.new_ids) == ([vocab[t] for t in moved], [vocab_after[t] for t in moved])
    assert editor.get_vocab() == vocab_after
    assert [entry["id"] for entry in json.loads(editor.to_json())["added_tokens"]] == added_ids_after
    editor.add_token_atomic("z")
    assert editor.get_token_id("z") == next_token_id


KEEP_SIZE_KEYS = ["initial_vocab_size", "final_vocab_size", "tokens_requested", "tokens_added", "tokens_removed",
                  "tokens_not_added"]


@pytest.mark.parametrize("tokens, merges, added_tokens, new, whitelist, counts, kept, gone", [
    # Victims: longest first, then produced by a merge, then bytewise smallest.
    (["a", "b", "c", "d", "ba", "cd", "ab", "dc", "abc"], [("c", "d")], [], ["e", "f", "g"], None, (9, 9, 3, 3, 3, 0),
     {"ba", "dc"}, {"abc", "cd", "ab"}),
    # Never chosen: single characters, bracketed, registered added tokens, whitelisted.
    (["a", "ab", "xyz"], [], [], ["é"], None, (3, 3, 1, 1, 1, 0), {"a", "ab"}, {"xyz"}),
    (["a", "b", "<ab>", "[PAD]", "xyz"], [], [], ["é"], None, (5, 5, 1, 1, 1, 0), {"<ab>"}, {"xyz"}),
    (["a", "b", "▁▁▁", "xyz"], [], [{"id": 2, "content": "▁▁▁"}], ["é"], None, (4, 4, 1, 1, 1, 0), {"▁▁▁"}, {"xyz"}),
    (["a", "b", "abcd", "xyz"], [], [], ["é"], ["abcd"], (4, 4, 1, 1, 1, 0), {"abcd"}, {"xyz"}),
    # 'xy' would be the victim for 'xyz', but its cascade would take 'xyz'.
    (["x", "y", "z", "xy", "ab", "cd", "ef"], [("x", "y")], [], ["xyz", "xyzq"], None, (7, 7, 2, 2, 3, 0),
     {"xyz", "xyzq", "xy"}, set()),
    # 'qq' went to make room, but 'ab' needed three entries: it is left out.
    (["q", "qq"], [], [], ["ab", "cd"], None, (2, 1, 2, 0, 1, 2), {"q"}, {"qq", "ab", "a"}),
    (["a", "b", "ab", "xyz"], [], [], [], None, (4, 4, 0, 0, 0, 0), {"xyz"}, set()),
    (["a", "b", "ab", "xyz"], [], [], ["ab", "a"], None, (4, 4, 2, 0, 0, 0), {"xyz"}, set()),
    (["a", "b", "ab", "xyz"], [], [], ["é", "é"], None, (4, 4, 2, 1, 1, 0), {"é"}, {"xyz"}),
    # Once a cascade has made room ('abb' went with 'ab'), the next addition needs no victim.
    (["a", "b", "ab", "abb", "cd", "d"], [("a", "b"), ("ab", "b")], [], ["e", "f", "g"], None, (6, 6, 3, 3, 3, 0),
     {"a", "b", "d", "e", "f", "g"}, {"ab", "abb", "cd"}),
])
def test_keep_size(lexmill, tokens, merges, added_tokens, new, whitelist, counts, kept, gone):
    texts = []
    for kwargs in ([{"whitelist": whitelist}] if whitelist else [{}, {"whitelist": None}]):
        editor = open_doc(lexmill, tokens, merges=merges, added_tokens=added_tokens)
        assert list(editor.add_tokens_keep_size(new, **kwargs).items()) == list(zip(KEEP_SIZE_KEYS, counts))
        assert all(map(editor.has_token, kept)) and not any(map(editor.has_token, gone))
        assert editor.validate_merges().invalid_count == 0
        texts.append(editor.to_json())
    assert len(set(texts)) == 1


SYNC_KEYS = ["initial_vocab_size", "final_vocab_size", "chars_in_source", "chars_already_present", "chars_added_count",
             "total_tokens_removed", "total_merges_removed", "chars_not_added"]
SEC = r"\d+\.\d"


def lines(*parts):
    return "".join(part if part.startswith("(?:") else re.escape(part).replace("<ss>", SEC + r"\d").replace("<s>", SEC) for part in parts)


@pytest.mark.parametrize("vocab, source, min_id, counts, progress, after", [
    # Added in bytewise order while there is room, under the freed IDs 2 and 5, then compacted to 0 ... n-1.
    ({"a": 0, "b": 1, "ab": 2, "ba": 5}, ["a", "😀", "é", "x", "xé"], 0, (4, 4, 4, 1, 2, 2, 1, 1), lines(
        "\n   Pre-computing 3 tokens to remove...\n   Found 2 candidate tokens for removal\n"
        "   WARNING: Only found 2 tokens to remove, but need 3\n\n   Phase 1: Removing 2 tokens...\n",
        # A progress line appears at most every 100 ms; the final one always.
        "(?:\r   \\[ 50\\.0%\\] 1/2 removed \\| Elapsed: " + SEC + "s \\| ETA: " + SEC + "s    )?",
        "\r   [100.0%] 2/2 removed | Elapsed: <s>s | ETA: 0.0s    \n\n   Phase 2: Adding 3 single-char tokens...\n"
        "   Added 2 tokens in <ss>s\n\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n"
        "   Reindexed 1 IDs, removed 2 gaps\n"), {"a": 0, "b": 1, "x": 2, "é": 3}),
    ({"a": 0, "ab": 4}, ["x", "y"], 5, (2, 2, 2, 0, 0, 0, 0, 2), lines(
        "\n   Pre-computing 2 tokens to remove...\n   Found 0 candidate tokens for removal\n"
        "   WARNING: Only found 0 tokens to remove, but need 2\n\n   Phase 1: Removing 0 tokens...\n\n"
        "\n   Phase 2: Adding 2 single-char tokens...\n   Added 0 tokens in <ss>s\n"
        "\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n   Reindexed 1 IDs, removed 3 gaps\n"), {"a": 0, "ab": 1}),
    ({"a": 0, "b": 3, "ab": 4}, ["b", "a", "ab", "abc"], 0, (3, 3, 2, 2, 0, 0, 0, 0), "", {"a": 0, "b": 3, "ab": 4}),
], ids=["progress", "nothing-removable-so-nothing-added", "nothing-missing-nothing-printed"])
def test_sync_single_chars(lexmill, tmp_path, capfd, vocab, source, min_id, counts, progress, after):
    editor = open_doc(lexmill, vocab, merges=[("a", "b")] if "ba" in vocab else [])
    (tmp_path / "source.json").write_text(tokenizer_json(source), encoding="utf-8")
    capfd.readouterr()
    result = editor.sync_single_chars(str(tmp_path / "source.json"), min_id=min_id)
    out, err = capfd.readouterr()
    assert list(result.items()) == list(zip(SYNC_KEYS, counts))
    assert out == "" and re.fullmatch(progress, err), err
    assert editor.get_vocab() == after


@pytest.mark.parametrize("content, message", [
    (None, "Failed to read: {path}"), (b"\xff\xfe not utf-8", "Failed to read: {path}"),
    (b"{not json", "Failed to parse tokenizer.json"),
    (tokenizer_json(["x"], model_extra={"type": "WordPiece"}).encode(), "Only BPE tokenizers are supported"),
])
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
    assert capfd.readouterr() == ("", "") and editor.to_json() == before


class Peeking:  # a sequence of tokens that reads the editor while the call converts it
    def __init__(self, editor, tokens):
        self.editor, self.tokens = editor, tokens

    __len__ = lambda self: len(self.tokens)  # noqa: E731
    __getitem__ = lambda self, index: (self.editor.vocab_size, self.tokens[index])[1]  # noqa: E731


# The same, reading the editor when iteration starts.
PeekingIterable = type("PeekingIterable", (Peeking,), {"__iter__": lambda self: (self.editor.vocab_size, iter(self.tokens))[1]})


@pytest.mark.parametrize("sequence", [Peeking, PeekingIterable])
@pytest.mark.parametrize("call", ["add_tokens", "remove_tokens", "add_tokens_keep_size", "whitelist"])
def test_reading_the_editor_while_it_converts_arguments(lexmill, call, sequence):
    editor = open_doc(lexmill, ["a", "b", "ab"], merges=[("a", "b")])
    before = editor.to_json()
    tokens = sequence(editor, ["ab", "c", "cd"])
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        if call == "whitelist":
            editor.add_tokens_keep_size(["zz"], whitelist=tokens)
        else:
            getattr(editor, call)(tokens)
    assert editor.to_json() == before and editor.add_token("c").added
