"""`merge_from`: every merge checked against reference_merge.py; a few worked examples anchor the model itself."""

import json

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from conftest import tokenizer_dict as doc
from reference_merge import (
    PROBE, U32_MAX, MergeFailure, assert_same_editor, byte_level, check_merged, dump, fields, model_merge,
    plan, snapshot,
)

BYTE_LEVEL = {"type": "ByteLevel", "add_prefix_space": False, "trim_offsets": True, "use_regex": True}
NFC = {"type": "NFC"}
M = "\u2581"


def replace(pattern, content):
    return {"type": "Replace", "pattern": {"String": pattern}, "content": content}


def seq(*normalizers):
    return {"type": "Sequence", "normalizers": list(normalizers)}


SPACE = replace(" ", M)


def bl(vocab, merges=None, **sections):
    return doc(vocab, merges, **{"pre_tokenizer": BYTE_LEVEL, **sections})


def mk(vocab, merges=None, marker=M, **sections):
    return doc(vocab, merges, **{"normalizer": replace(" ", marker), **sections})


def added(*contents):
    return [{"id": 100 + i, "content": c, "special": True} for i, c in enumerate(contents)]


def worked(added_tokens=()):
    return bl({"a": 0, "b": 1, "\u0120": 2, "ab": 3, "\u0120ab": 4}, [("a", "b"), ("\u0120", "ab")],
              added_tokens=list(added_tokens))


WORKED_SOURCE = doc({M: 0, "c": 1, M + "c": 2}, [(M, "c")])


class Merger:
    def __init__(self, lexmill, directory):
        self.lexmill, self.directory, self.count = lexmill, directory, 0

    def source(self, text):
        self.count += 1
        path = self.directory / f"source{self.count}.json"
        path.write_text(text, encoding="utf-8")
        return str(path)

    def merge(self, target, path, limit):
        editor = self.lexmill.Lexmill.from_json(dump(target))
        return editor, editor.merge_from(path) if limit is None else editor.merge_from(path, limit)

    def check(self, target, source, limit=None):
        # Merges as the model says (twice, the same), or fails with its message leaving the editor as it was.
        path = self.source(dump(source))
        try:
            vocab, merges, added_tokens, expected = model_merge(target, source, 262144 if limit is None else limit)
        except MergeFailure as failure:
            self.fails(target, path, limit, f"Failed to merge tokenizer: {failure}")
            return None, str(failure)
        editor, result = self.merge(target, path, limit)
        again, result_again = self.merge(target, path, limit)
        assert fields(result) == fields(result_again) == expected
        assert (editor.get_vocab(), editor.get_merges()) == (vocab, merges)
        assert json.loads(editor.to_json())["added_tokens"] == added_tokens
        assert again.to_json() == editor.to_json()
        check_merged(self.lexmill, again, result, self.directory)
        return editor, result

    def fails(self, target, path, limit, message, exception=ValueError):
        editor = self.lexmill.Lexmill.from_json(dump(target))
        before = snapshot(editor)
        with pytest.raises(exception) as info:
            editor.merge_from(path) if limit is None else editor.merge_from(path, limit)
        assert type(info.value) is exception and (message is None or str(info.value) == message)
        assert snapshot(editor) == before
        # The ID bookkeeping is untouched too: the next ID is the one of an editor that never saw the merge.
        control = self.lexmill.Lexmill.from_json(dump(target))
        assert editor.add_token_atomic(PROBE) and control.add_token_atomic(PROBE)
        assert_same_editor(editor, control)


@pytest.fixture
def merger(lexmill, tmp_path):
    return Merger(lexmill, tmp_path)



TIGHT = bl(["a", "b", "ab", "ba", "aa", "bb", "<pad>", "[CLS]", "unk1", "addd", "abab", "c", "bab"],
           [("a", "b"), ("b", "a"), ("ab", "ab"), ("b", "ab"), ("a", "a")],
           added_tokens=[{"id": 9, "content": "addd", "special": False}], model_extra={"unk_token": "unk1"})
E = "\u00c3\u00a9"  # é in byte-level spelling


@pytest.mark.parametrize("target, source, limit, vocab, merges, counts", [
    pytest.param(worked(), WORKED_SOURCE, 6, {"a": 0, "b": 1, "\u0120": 2, "ab": 3, "c": 4, "\u0120c": 5},
                 [("\u0120", "c"), ("a", "b")], (5, 3, 6, 6, 2, 1, 0, 0, 1, 1), id="worked"),
    # Kept by ID: a, b (single characters) and ab fill up; c stays as a single character, but its ID 11 is past N.
    pytest.param(TIGHT, doc(["w", "xyz"]), 11, {"a": 0, "b": 1, "ab": 2, "w": 3, "xyz": 4, "xy": 5, "<pad>": 6,
                 "[CLS]": 7, "unk1": 8, "addd": 9, "c": 10}, [("a", "b")], (13, 2, 11, 11, 3, 5, 2, 0, 0, 1), id="tight"),
])
def test_worked_layouts(merger, target, source, limit, vocab, merges, counts):
    editor, result = merger.check(target, source, limit)
    assert (editor.get_vocab(), editor.get_merges()) == (vocab, merges)
    assert tuple(fields(result).values())[:-1] == counts


SECTIONS = [
    {"pre_tokenizer": {"type": "Sequence", "pretokenizers": [{"type": "Split", "pattern": {"Regex": "x"}}, BYTE_LEVEL]}},
    {"pre_tokenizer": {"type": "Sequence", "pretokenizers": [{"type": "Sequence", "pretokenizers": [BYTE_LEVEL]}]}},
    {"pre_tokenizer": {"type": 5, "inner": BYTE_LEVEL}}, {"pre_tokenizer": BYTE_LEVEL, "normalizer": SPACE},
    {"normalizer": SPACE}, {"normalizer": seq(NFC, SPACE)}, {"normalizer": replace(" ", "_")},
    {"normalizer": replace(" ", "<sp>")}, {"normalizer": replace(" ", "")},
    {"normalizer": {"type": "Sequence", "zeta": replace(" ", "Z"), "alpha": replace(" ", "A")}},
    {"normalizer": seq(replace(" ", None), replace(" ", "_"))}, {"normalizer": seq(replace(" ", 7), replace(" ", "_"))},
    {"pre_tokenizer": BYTE_LEVEL, "normalizer": NFC}, {"pre_tokenizer": BYTE_LEVEL, "normalizer": seq(NFC, SPACE)},
    {"pre_tokenizer": BYTE_LEVEL, "normalizer": {"type": "NFKC"}}, {"pre_tokenizer": BYTE_LEVEL, "normalizer": {"type": "NFD"}},
    # Unsupported targets.
    {}, {"pre_tokenizer": SPACE}, {"decoder": BYTE_LEVEL}, {"normalizer": BYTE_LEVEL}, {"normalizer": NFC},
    {"pre_tokenizer": {"type": "bytelevel"}}, {"normalizer": replace("  ", M)}, {"normalizer": replace("_", M)},
    {"normalizer": replace("", M)}, {"normalizer": {"type": "Replace", "pattern": {"Regex": " "}, "content": M}},
    {"normalizer": {"type": "Replace", "pattern": " ", "content": M}}, {"normalizer": replace(" ", None)},
    {"normalizer": {"type": "replace", "pattern": {"String": " "}, "content": M}}, {"normalizer": replace(" ", ["_"])},
    {"normalizer": {**replace(" ", None), "inner": replace(" ", "_")}},  # members of a rule are not searched
]
# Canonical composition only: ligatures, circled digits and superscripts stay, Hangul jamo and marks compose.
TEXTS = [" x", "e\u0301", "\ufb01", "\u2460", "x\u00b2", "\u212b", "\u1100\u1161", "a\u0328\u0301"]


@pytest.mark.parametrize("sections", SECTIONS)
def test_target_representation(merger, sections):
    target = doc({"a": 0}, **sections)
    merger.check(target, doc([M + "x", *TEXTS[1:]]))
    spell = merger.lexmill.Lexmill.from_json(dump(target)).spell
    try:
        convert = plan(target, " ")[0]
    except MergeFailure:
        with pytest.raises(ValueError, match="^Unsupported tokenizer: no ByteLevel pre-tokenizer or space marker found$"):
            spell(" x")
        return
    assert [spell(text) for text in TEXTS] == [convert(text) for text in TEXTS]



WITH_SPECIALS = doc({"<s>": 0, M + "sp": 1, M + "ns": 2, M + "str": 3, M + "none": 4, "a": 5, "<s>a": 6}, [("<s>", "a")],
                    added_tokens=[{"id": 0, "content": "<s>", "special": True}, {"id": 1, "content": M + "sp", "special": True},
                                  {"id": 2, "content": M + "ns", "special": False}, {"id": 3, "content": M + "str", "special": "true"},
                                  {"id": 4, "content": M + "none"}, {"id": 9, "content": M + "abs", "special": True}])
NFC_TARGET = bl({"x": 0, "y": 1, "\u00c3": 2, "\u00a9": 3}, normalizer=NFC)
RENUMBERED = [{"id": 50, "content": "<x>", "special": True, "lstrip": True}, {"id": 70, "content": "<s>", "special": True},
              {"id": 7, "special": True}, {"id": 8, "content": 5}, {"id": 51, "content": "<y>", "special": False},
              {"id": 3, "content": "<x>", "special": False}, {"content": "a"}, {"id": "nine", "content": "<z>"}]


def specials(*entries):
    return [{"id": i, "content": c, "special": s} for i, c, s in entries]


CASES = [
    # Conversions, byte tokens among them: "<0x+A>" and "<0x0a>" are bytes, "<0x41 >" and "<0X41>" are not.
    (bl({"q": 0}), doc([M + "the", "the" + M * 2, " hello", "\u0120the", "\u00e9", "\n", "", "\u4e2d", "<0x20>", "<0x41>",
                        "<0x0A>", "<0x0a>", "<0x+A>", "<0x00>", "<0xA0>", "<0xff>", "<0xZZ>", "<0x4G>", "<0x4>",
                        "<0X41>", "<0x41 >", "<0x\u00e9>", "<0x+G>", "<0x-0>", "<0x A>", "<0x++>"]), None),
    (bl({}), doc({f"<0x{b:02X}>": b for b in range(256)}), None),
    (mk({"q": 0}, marker="_"), doc([M + "the", "a" + M * 2 + "b", " x", "\u0120the", "\u00e9", "<0x20>", "<0x+A>", ""]), None),
    # Source markers and normalizers.
    (bl({"q": 0}), doc([M + "x", "_y"]), None), (bl({"q": 0}), doc([M + "x", "_y"], normalizer=NFC), None),
    (bl({"q": 0}), doc(["_x", M + "y"], normalizer=replace(" ", "_")), None),
    (mk({"q": 0}), doc(["_x", M + "y"], normalizer=replace(" ", "_")), None),
    (bl({"q": 0}), doc(["_x"], normalizer=seq({"type": "Prepend", "prepend": M}, replace(" ", "_"))), None),
    (bl({"q": 0}), doc(["ab"], normalizer=replace(" ", "")), None),
    (bl({"q": 0}), doc(["e\u0301"], normalizer=NFC), None),  # only the target's NFC applies
    (bl({"q": 0}), doc({"\u0120the": 0}, pre_tokenizer=BYTE_LEVEL, decoder={"type": "ByteLevel"}), None),
    # NFC: forms converge at the lower ID, merges follow, a merge NFC does not compose is dropped.
    (mk({"q": 0}, normalizer=seq(NFC, SPACE)), doc({M + "e\u0301": 0}), None),
    (NFC_TARGET, doc({"s": 0, "\u00e9": 1, "t": 2, "e\u0301": 3}), None), (NFC_TARGET, doc({"e\u0301": 0, "s": 1, "\u00e9": 2}), None),
    (NFC_TARGET, doc({"\u00e9": 0, "e\u0301": 1, "x": 2, "y": 3, "\u00e9x": 4, "e\u0301y": 5}, [("\u00e9", "x"), ("e\u0301", "y")]), None),
    *[(bl({"q": 0, byte_level("e\u0301"): 1}, normalizer=n), doc({"e": 0, "\u0301": 1, "e\u0301": 2}, [("e", "\u0301")]), None)
      for n in (NFC, None)],
    (bl({"\u0120": 0, "a": 1}), doc([M + "a", " a"]), None),
    # Source order (ID, then bytes) and special source tokens.
    (mk({"q": 0}), doc({"zz": 1, "yy": 1, "xx": 0, "ww": 2}), None), (mk({"q": 0}, marker="_"), WITH_SPECIALS, None),
    (mk({"q": 0}), doc({"ab": 0}, added_tokens=specials((5, "b", True))), None),
    # Bridges.
    (bl({"\u00c3": 0, "\u00a9": 1, "a": 2, "b": 3, "ab": 4}, [("a", "b")]), doc({"a": 0, "b": 1, "ab": 2, "\u00e9": 3}, [("a", "b")]), None),
    (bl({"q": 0}), doc({"\u00e9": 0}), None), (bl({"\u00c3": 0, "\u00a9": 1, E: 2}), doc({"\u00e9": 0}), None),
    (bl({"\u00e2": 0, "\u0138": 1, "\u0123": 2}), doc({M: 0}, normalizer=replace(" ", "_")), None),
    (bl(["a", "\u00c3", "\u00a9", "b"]), doc(["\u00e9", "\u00e9a", "b\u00e9", "\u00e9ab"]), None),
    (bl(["x", "y"]), doc(["x", "y", "xy"], [("x", "y")]), None), (bl(["x", "y"]), doc(["x", "y", "xy"]), None),
    (bl(["x", "y"]), doc(["x", M, "<0x41>", "<0xC3>"]), None), (bl(["x", "y"]), doc(["xy"], [("x", "y")]), None),
    (bl(["x", "y"]), doc({"xy": 0}, added_tokens=specials((0, "xy", True))), None),
    (mk(["x", "y"]), doc([M + "\u00e9t\u00e9", "xyz"]), None),
    # Limits and what fails.
    *[(worked(), WORKED_SOURCE, limit) for limit in (0, 1, 4, 5, U32_MAX, U32_MAX + 1, 2**64 - 1, None)],
    (doc({"a": 0}), WORKED_SOURCE, 0), (doc({"a": 0}, added_tokens=added("<x>", "<y>", "<z>")), WORKED_SOURCE, 3),
    *[(bl({"a": 0}, added_tokens=added("<x>", "<y>", "<z>")), WORKED_SOURCE, limit) for limit in (2, 3)],
    (bl({"a": 0, "ab": 1}, added_tokens=added("<x>", "<y>", "<z>", "<y>")), doc({}), 4),
    (bl({"a": 0}, added_tokens=added("<x>", "<x>", "<y>")), doc({}), 3),
    (worked(added("<x>", "<y>")), WORKED_SOURCE, 6), (worked(added("<x>")), WORKED_SOURCE, 6),
    (worked(specials((4, "\u0120ab", False))), WORKED_SOURCE, 5),
    (bl({"a": 0, "b": 0, "c": 1}), doc({"x": 0}), None), (bl({"a": 0, "b": 1, "cd": 5, "ef": 5}), doc({"x": 0}), 4),
    *[(worked([{"id": 9, "content": "<a>"}, entry]) if side else worked(), doc(WORKED_SOURCE["model"]["vocab"],
       added_tokens=[] if side else [{"id": 9, "content": "<a>"}, entry]), None)
      for entry in ("<x>", 5, None, ["<x>"], True) for side in (0, 1)],
    *[(doc({"a": 0}, added_tokens=["<x>"]), WORKED_SOURCE, limit) for limit in (0, 1)],
    # Added tokens.
    (bl({"a": 0, "b": 1, "<s>": 2}, added_tokens=RENUMBERED), doc({"c": 0}), None),
    (bl({"a": 0}, added_tokens=[{"id": 3, "special": True}, *added("<x>")]), doc({"b": 0}), None),
    (mk({"a": 0, "x": 1}, added_tokens=specials((9, "<|im|>", True))), doc({"<|im|>": 0, "x": 1, "<|im|>x": 2}, [("<|im|>", "x")]), None),
    (mk({"a": 0, "<pad>": 1}, added_tokens=specials((30, "<pad>", True))), doc({"<pad>": 0, "b": 1}), None),
    (bl({}, added_tokens=added("<a>", "<b>")), doc({}), 3),
    # ID layouts: protected tokens, freed IDs, gaps.
    (bl(["a", "b", "ab", "\u0120", "\u0120ab", "<s>"], [("a", "b")]),
     doc({M: 0, "ab": 1, "q": 2, M + "q": 3, M + "ab": 4}, [(M, "q"), (M, "ab")]), None),
    *[(bl(["a", "b", "ab", "ba", "aa", "bb"], **p), doc(["x"]), 4) for p in ({}, {"model_extra": {"unk_token": "bb"}},
      {"added_tokens": [{"id": 0, "content": "bb"}]}, {"model_extra": {"unk_token": "zz"}})],
    *[(bl(["a", "b", "ab", "ba", t]), doc(["x"]), 5)
      for t in ("<x>", "[x]", "<>", "[]", "\u00e9", "\u4e2d", "<0x41>", "<x]", "[x>", "x>", "<x x", "xy")],
    (bl({"a": 0, "ab": 1, "b": 2, "ba": 3, "bab": 4, "c": 5}), doc({"y": 0, "x": 1, "z": 2}), 6),
    (bl({"a": 3, "b": 10, "ab": 7}, [("a", "b")]), doc({"x": 0}), None),
    # The merged merge list.
    *[(bl(["a", "c", "\u0120", "t"]), source, None) for source in (
        doc(["a", "c"], [("a", "c")]), doc(["ac"], [("a", "c")]), doc(["a", "c", "ac"], [("a", "c"), ("a", "c")]),
        *[doc(["a", "c", "ac"], [("a", "c")], added_tokens=specials(e)) for e in ((1, "c", True), (2, "ac", True), (2, "ac", False))],
        doc([M, "t", M + "t"], [(M, "t")]))],
    (mk(["a", "b", "c", "ab", "bc", "abc"], [("a", "b"), ("b", "c"), ("ab", "c")]),
     doc(["b", "c", "bc", "x", "y", "xy"], [("x", "y"), ("b", "c")]), None),
    (mk({"qr": 0, "a": 1, "b": 2, "ab": 3}, [("q", "r"), ("a", "b"), ("a", "b")]), doc({}), None),
    (mk(["a", "b", "ab", "aab", "abab"], [("a", "b"), ("a", "ab"), ("ab", "ab")]), doc(["x"]), 4),
    (worked(), doc({}), None),
]


@pytest.mark.parametrize("target, source, limit", CASES)
def test_merge_cases(merger, target, source, limit):
    merger.check(target, source, limit)


def test_limit_arguments(merger):
    path = merger.source(dump(WORKED_SOURCE))
    for limit in (-1, 2**64):
        merger.fails(worked(), path, limit, None, OverflowError)
    editor = merger.lexmill.Lexmill.from_json(dump(worked()))
    assert editor.merge_from(source_path=path, max_vocab_size=6).final_model_vocab_size == 6


@pytest.mark.parametrize("limit", [None, 0])
@pytest.mark.parametrize("kind", ["missing", "directory", "nul", "latin-1", "{", "WordPiece", "bpe"])
def test_source_that_cannot_be_loaded(merger, tmp_path, kind, limit):
    exception, message = OSError, "Failed to read: {}"
    if kind in ("missing", "directory"):
        path, exception = str(tmp_path / "missing.json" if kind == "missing" else tmp_path), {
            "missing": FileNotFoundError, "directory": IsADirectoryError}[kind]
    elif kind == "nul":  # the file before the NUL exists: opening it would merge the wrong file
        path = merger.source(dump(WORKED_SOURCE)) + "\x00.bak"
    elif kind == "latin-1":
        path = tmp_path / "latin1.json"
        path.write_bytes(dump(doc({"\u00e9": 0})).encode("latin-1"))
    else:
        path = merger.source("{" if kind == "{" else dump(doc({"a": 0}, model_extra={"type": kind})))
        message = "Failed to parse tokenizer.json" if kind == "{" else "Only BPE tokenizers are supported"
    # The source is loaded before the target's added tokens or the limit are looked at.
    target = doc({"a": 0}, added_tokens=["<x>"])
    merger.fails(target, str(path), limit, "Failed to load source tokenizer: " + message.format(path), exception)


def test_merged_editor_behaves_like_a_reopened_one(merger):
    # The merge gives the added token's ID 7 to a vocabulary entry, which keep-size may then free.
    editor = merger.lexmill.Lexmill.from_json(dump(worked([{"id": 7, "content": "<x>", "special": True}])))
    # Used before the merge, so that the merge indexes and the lookup by ID exist when it runs.
    editor.add_token("ba")
    assert editor.get_token_by_id(8) == "ba"
    editor.merge_from(merger.source(dump(WORKED_SOURCE)), 10)
    reopened = merger.lexmill.Lexmill.from_json(editor.to_json())
    assert [editor.get_token_by_id(i) for i in range(9)] == [reopened.get_token_by_id(i) for i in range(9)]
    second = merger.source(dump(doc({M + "ca": 0, M + "c": 1, "a": 2}, [(M + "c", "a")])))
    outcomes = []
    for e in (editor, reopened):
        added_, removed = e.add_token("\u0120cab"), e.remove_token("c")
        outcomes.append(((added_.method, added_.added_merges), sorted(removed.removed_tokens),
                         sorted(removed.removed_merges), e.add_tokens_keep_size(["xy"]), fields(e.merge_from(second, 9))))
    assert outcomes[0] == outcomes[1]
    assert_same_editor(editor, reopened)



TARGET_POOL = ["a", "b", "c", "x", "ab", "bc", "abc", "ba", "xy", "", "\u0120", "\u0120a", "\u0120ab", M, M + "a", "_a",
               "\u00e9", "\u00c3", "\u00a9", E, "<s>", "[U]", "<0x41>", "A", "<|x|>"]
SOURCE_POOL = [M, "a", "b", "ab", M + "a", M + "ab", "\u00e9", "e\u0301", "e", "\u0301", "<0x41>", "<0x20>", "<0x+A>",
               "<s>", " a", "x", "xy", "xyz", "_a", "\u0120a", "<|x|>", "", "ba", "A", "\ufb01", "\u212b", "\u00c5",
               "\u00e9" + M, "\x00\u00e9"]
ADDED_POOL = TARGET_POOL + ["<|y|>", "<|z|>", "\u0120xy"]


def vocabularies(draw, pool, max_size):
    tokens = draw(st.lists(st.sampled_from(pool), unique=True, max_size=max_size))
    some_ids = st.one_of(st.integers(0, 2 * len(tokens) + 2), st.sampled_from([U32_MAX - 1, U32_MAX]))
    ids = st.permutations(range(len(tokens))) if draw(st.booleans()) else st.lists(some_ids, min_size=len(tokens),
                                                                                      max_size=len(tokens))
    return dict(zip(tokens, draw(ids)))


def merge_lists(draw, pool):
    return draw(st.lists(st.tuples(st.sampled_from(pool), st.sampled_from(pool)), max_size=10))


@st.composite
def merge_inputs(draw):
    """A target, a source and a limit, the limit mostly near the smallest that fits."""
    added_entries = st.one_of(st.builds(lambda c, s, i: {"id": i, "content": c, "special": s},
                                        st.sampled_from(ADDED_POOL), st.booleans(), st.integers(0, 60)),
                              st.builds(lambda i: {"id": i, "special": True}, st.integers(0, 60)))
    target = doc(vocabularies(draw, TARGET_POOL, 14), merge_lists(draw, TARGET_POOL),
                 added_tokens=draw(st.lists(added_entries, max_size=5)),
                 pre_tokenizer=draw(st.sampled_from([BYTE_LEVEL, None, BYTE_LEVEL])),
                 normalizer=draw(st.sampled_from([SPACE, NFC, replace(" ", "_"), seq(NFC, SPACE), None, replace("_", M)])),
                 model_extra={"unk_token": draw(st.sampled_from([None, "ab", "abc", "<s>", "zz"]))})
    entries = st.builds(lambda c, s: {"id": 0, "content": c, "special": s}, st.sampled_from(SOURCE_POOL),
                        st.sampled_from([True, False, None]))
    source = doc(vocabularies(draw, SOURCE_POOL, 12), merge_lists(draw, SOURCE_POOL),
                 added_tokens=draw(st.lists(entries, max_size=3)),
                 normalizer=draw(st.sampled_from([None, NFC, replace(" ", "_"), replace(" ", "\u0120")])))
    # (Hypothesis favours the bounds of a range, so rare cases sit inside it.)
    if draw(st.integers(0, 9)) == 5:
        target["added_tokens"].append("<bad>")
    choice = draw(st.integers(0, 19))
    if choice == 7:
        return target, source, draw(st.sampled_from([0, U32_MAX, U32_MAX + 1]))
    if choice in (3, 11, 15):
        return target, source, draw(st.integers(1, 40))
    try:
        required, added_only = model_merge(target, source, U32_MAX, sizes_only=True)
    except MergeFailure:
        required, added_only = 0, 0
    return target, source, max(1, required + added_only + draw(st.integers(-1, 6)))


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(inputs=merge_inputs())
def test_merge_matches_the_model(merger, inputs):
    editor, result = merger.check(*inputs)
    event(result.split("(")[0] if editor is None else "tokens removed" if result.target_tokens_removed else "success")
