"""The C++ editor against the literal Python model, on random tokenizers and edit sequences.

The first section checks the model itself on hand-worked examples and needs
no lexmill; the second runs random operation sequences through both and
compares every returned value and the whole exported document after each step.
"""

import json
import os
import re

import pytest
from hypothesis import HealthCheck, given, note, settings
from hypothesis import strategies as st
from hypothesis.errors import InvalidArgument

from conftest import data_file, tokenizer_dict
from literal_model import RESULT_FIELDS, U32_MAX, LiteralEditor


def model_of(*args, **kwargs):
    return LiteralEditor(tokenizer_dict(*args, **kwargs))


# --- the model on worked examples -------------------------------------------


class TestModelOnWorkedExamples:
    def test_longest_prefix(self):
        model = model_of({"a": 0, "b": 1, "c": 2, "ab": 3}, merges=[("a", "b")])
        result = model.add_token("abc")
        assert (result.added, result.method, result.added_merges) == (True, "longest_prefix", [("ab", "c")])
        assert model.vocab["abc"] == 4

    def test_prefix_with_char_chain_for_the_suffix(self):
        model = model_of({"x": 0})
        result = model.add_token("xyz")
        assert result.method == "longest_prefix"
        assert result.added_merges == [("y", "z"), ("x", "yz")]
        assert [model.vocab[t] for t in ("y", "z", "yz", "xyz")] == [1, 2, 3, 4]

    def test_char_chain_id_order(self):
        model = model_of()
        result = model.add_token("abc")
        assert result.method == "char_chain"
        assert model.get_vocab() == {"a": 1, "ab": 3, "abc": 5, "b": 2, "c": 4}
        assert model.get_merges() == [("a", "b"), ("ab", "c")]

    def test_empty_token_and_single_characters(self):
        model = model_of({"a": 0})
        assert model.add_token("").method == "char_chain" and model.vocab[""] == 1
        assert model.add_token("").method == "already_exists"
        assert (model.add_token("é").method, model.merges) == ("single_char", [])

    def test_removal_example(self):
        model = model_of(["a", "b", "c", "ab", "bc", "abc"], merges=[("a", "b"), ("ab", "c"), ("b", "c")])
        result = model.remove_token("ab")
        assert sorted(result.removed_tokens) == ["ab", "abc"]
        assert sorted(result.removed_merges) == [("a", "b"), ("ab", "c")]
        assert model.get_vocab() == {"a": 0, "b": 1, "bc": 4, "c": 2}
        assert model.get_merges() == [("b", "c")]

    def test_later_producer_stays_and_is_invalid(self):
        model = model_of(["a", "bc", "ab", "c", "abc"], merges=[("a", "bc"), ("ab", "c")])
        result = model.remove_token("abc")
        assert result.removed_merges == [("a", "bc")]
        assert model.validate_merges().invalid_merges == [(0, "ab", "c")]

    @pytest.mark.parametrize(
        "ids, remapped, gaps, new_ids",
        [
            ({"a": 0, "b": 1, "c": 4, "d": 7}, 2, 4, [0, 1, 2, 3]),
            ({"x": 5, "y": 6}, 2, 5, [0, 1]),
            ({"a": 0, "b": 0, "c": 1}, 2, 0, [0, 1, 2]),
            ({"a": 0, "b": 4294967295}, 1, 4294967294, [0, 1]),
        ],
    )
    def test_reindex(self, ids, remapped, gaps, new_ids):
        model = model_of(ids)
        result = model.reindex_vocab()
        assert (result.ids_remapped, result.gaps_removed) == (remapped, gaps)
        assert [model.vocab[t] for t in sorted(ids)] == new_ids

    def test_gap_check_does_not_wrap(self):
        assert model_of({"a": 0, "b": 4294967295}).check_vocab_gaps() == (True, 4294967294, 0, 4294967295)

    def test_shrink_ties_go_to_the_higher_id(self):
        model = model_of({"ab": 3, "cd": 9, "ef": 5, "<s>": 20, "abc": 1, "a": 30})
        assert model.find_tokens_to_shrink(10) == [("abc", 1, 3), ("cd", 9, 2), ("ef", 5, 2), ("ab", 3, 2)]

    def test_keep_size_victim_order(self):
        model = model_of(["a", "b", "c", "d", "ba", "cd", "ab"], merges=[("c", "d")])
        assert model.add_tokens_keep_size(["e"]) == {
            "initial_vocab_size": 7,
            "final_vocab_size": 7,
            "tokens_requested": 1,
            "tokens_added": 1,
            "tokens_removed": 1,
        }
        assert "cd" not in model.vocab
        model.add_tokens_keep_size(["f"])
        assert "ab" not in model.vocab and "ba" in model.vocab

    def test_wrapped_next_id_skips_ids_still_held(self):
        model = model_of({"a": 5, "b": 5, "z": 4294967295})
        assert model.next_id == 0
        model.remove_token("a")
        for token in "pqrstu":
            model.add_token_atomic(token)
        assert [model.vocab[t] for t in "pqrstu"] == [0, 1, 2, 3, 4, 6]

    def test_sync_progress_text(self, tmp_path):
        source = tmp_path / "source.json"
        source.write_text(json.dumps(tokenizer_dict(["a", "x", "y"]), ensure_ascii=False), encoding="utf-8")
        model = model_of({"a": 0, "b": 1, "ab": 2, "ba": 5}, merges=[("a", "b")])
        assert model.sync_single_chars(str(source)) == {
            "initial_vocab_size": 4,
            "final_vocab_size": 4,
            "chars_in_source": 3,
            "chars_already_present": 1,
            "chars_added_count": 2,
            "total_tokens_removed": 2,
            "total_merges_removed": 1,
        }
        text = (
            "\n   Pre-computing 2 tokens to remove...\n"
            "   Found 2 candidate tokens for removal\n"
            "\n   Phase 1: Removing 2 tokens...\n"
            "\r   [ 50.0%] 1/2 removed | Elapsed: 0.1s | ETA: 0.1s    "
            "\r   [100.0%] 2/2 removed | Elapsed: 0.2s | ETA: 0.0s    "
            "\n"
            "\n   Phase 2: Adding 2 single-char tokens...\n"
            "   Added 2 tokens in 0.00s\n"
            "\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n"
            "   Reindexed 2 IDs, removed 4 gaps\n"
        )
        assert model.progress_pattern.fullmatch(text)
        # The intermediate line is optional; the last one is not.
        intermediate = "\r   [ 50.0%] 1/2 removed | Elapsed: 0.1s | ETA: 0.1s    "
        last = "\r   [100.0%] 2/2 removed | Elapsed: 0.2s | ETA: 0.0s    "
        assert model.progress_pattern.fullmatch(text.replace(intermediate, ""))
        assert not model.progress_pattern.fullmatch(text.replace(last, ""))
        assert model.get_vocab() == {"a": 0, "b": 1, "x": 2, "y": 3}


# --- random tokenizers --------------------------------------------------------

ALPHABET = ["a", "b", "c", "é", "Ġ", "▁", "😀"]
SPECIALS = ["<s>", "</s>", "[PAD]", "<>", "[]", "<a", "a]", "<|x|>", ""]
# Characters only source documents of sync_single_chars offer.
SOURCE_EXTRA = ["x", "ñ", "€", "中", "🙂", "<", "["]

fresh_text = st.text(alphabet=ALPHABET, max_size=5)


@st.composite
def id_layouts(draw, n):
    kind = draw(st.sampled_from(["dense", "shifted", "gaps", "duplicates", "high", "both_ends"]))
    if kind == "dense":
        ids = list(range(n))
    elif kind == "shifted":
        start = draw(st.integers(1, 40))
        ids = list(range(start, start + n))
    elif kind == "gaps":
        ids = sorted(draw(st.lists(st.integers(0, 3 * n + 10), unique=True, min_size=n, max_size=n)))
    elif kind == "duplicates":
        ids = draw(st.lists(st.integers(0, max(n - 1, 0) + 2), min_size=n, max_size=n))
    elif kind == "high":
        ids = sorted(draw(st.lists(st.integers(U32_MAX - 2 * n - 3, U32_MAX), unique=True, min_size=n, max_size=n)))
    else:
        ends = [0, 1, 2, 3, U32_MAX - 3, U32_MAX - 2, U32_MAX - 1, U32_MAX]
        ids = sorted(draw(st.lists(st.sampled_from(ends), min_size=n, max_size=n)))
    if draw(st.booleans()):
        ids = draw(st.permutations(ids))
    return ids


def added_token_entries(vocab):
    vocab_ids = sorted(set(vocab.values()))
    id_values = st.one_of(
        st.sampled_from(vocab_ids) if vocab_ids else st.just(0),
        st.integers(0, 120),
        st.just(U32_MAX),
        st.sampled_from([-1, 3.0, "7", True, None, U32_MAX + 1]),
    )
    entry = st.builds(
        lambda content, id_value, has_id, special: dict(
            {"content": content, "special": special, "lstrip": False, "normalized": False},
            **({"id": id_value} if has_id else {}),
        ),
        st.one_of(st.sampled_from(SPECIALS), fresh_text),
        id_values,
        st.booleans(),
        st.booleans(),
    )
    return st.lists(st.one_of(entry, entry, st.sampled_from([5, "x", None])), max_size=3)


@st.composite
def tokenizer_docs(draw, max_tokens=40):
    """Mostly BPE-shaped: characters, merges building longer tokens, then some noise."""
    tokens = list(draw(st.lists(st.sampled_from(ALPHABET), unique=True)))
    merges = []
    for _ in range(draw(st.integers(0, 30))):
        if not tokens:
            break
        left = draw(st.sampled_from(tokens))
        right = draw(st.sampled_from(tokens))
        if len(left) + len(right) > 6:
            continue
        merges.append((left, right))
        if left + right not in tokens:
            tokens.append(left + right)
    tokens += draw(st.lists(st.one_of(st.sampled_from(SPECIALS), fresh_text), max_size=6))
    tokens = list(dict.fromkeys(tokens))[:max_tokens]
    # Noise: merges naming strings that are missing, duplicates, identical parts.
    pool = tokens + ["x", "yz"]
    for pair in draw(st.lists(st.tuples(st.sampled_from(pool), st.sampled_from(pool)), max_size=4)):
        merges.insert(draw(st.integers(0, len(merges))), pair)
    if merges and draw(st.booleans()):
        merges.insert(draw(st.integers(0, len(merges))), draw(st.sampled_from(merges)))
    longer = [t for t in tokens if len(t) >= 2]
    if longer and draw(st.booleans()):
        # A second producer of a string, split elsewhere.
        token = draw(st.sampled_from(longer))
        cut = draw(st.integers(1, len(token) - 1))
        merges.insert(draw(st.integers(0, len(merges))), (token[:cut], token[cut:]))
    if tokens and draw(st.integers(0, 3)) == 0:
        dropped = draw(st.sets(st.sampled_from(tokens), max_size=3))
        tokens = [t for t in tokens if t not in dropped]
    vocab = dict(zip(tokens, draw(id_layouts(len(tokens)))))
    sections = {}
    if draw(st.integers(0, 4)) == 0:
        sections["normalizer"] = {"type": "NFC", "zeta": [1, 2.5], "alpha": None}
    return tokenizer_dict(vocab, merges, draw(added_token_entries(vocab)), **sections)


def token_arguments(model):
    tokens = model.vocab_keys()
    options = [fresh_text, st.sampled_from(SPECIALS)]
    if tokens:
        known = st.sampled_from(tokens)
        options += [known, known, st.tuples(known, fresh_text).map("".join)]
    return st.one_of(options)


def operations(model):
    """One call (name, args, kwargs) suited to the model's current vocabulary."""
    token = token_arguments(model)
    tokens = st.lists(token, max_size=4)
    ids = sorted(set(model.vocab.values()))
    some_id = st.one_of(st.sampled_from(ids) if ids else st.just(0), st.integers(0, 50), st.just(U32_MAX))
    count = st.integers(0, 6)

    def call(name, *args, **kwargs):
        return st.tuples(st.just(name), st.tuples(*args), st.fixed_dictionaries(kwargs))

    shrink_calls = [
        st.one_of(call(name, count), call(name, count, some_id), call(name, count=count, min_id=some_id))
        for name in ("shrink", "find_tokens_to_shrink")
    ]
    return st.one_of(
        call("add_token", token),
        call("add_tokens", tokens),
        call("add_token_atomic", token),
        call("remove_token", token),
        call("remove_tokens", tokens),
        *shrink_calls,
        call("reindex_vocab"),
        st.one_of(
            call("add_tokens_keep_size", tokens),
            call("add_tokens_keep_size", tokens, st.none()),
            call("add_tokens_keep_size", tokens, whitelist=tokens),
        ),
        call("remove_invalid_merges"),
        call("validate_merges"),
        call("get_stats"),
        call("check_vocab_gaps"),
        call("get_token_by_id", some_id),
    )


# --- comparing the two editors ------------------------------------------------


def comparable(value):
    """A plain value to compare: result objects as their attributes, dict order kept."""
    name = type(value).__name__
    if name in RESULT_FIELDS:
        record = {attribute: comparable(getattr(value, attribute)) for attribute in RESULT_FIELDS[name]}
        if name == "RemovalResult":
            # The cascade's order carries no meaning.
            record["removed_tokens"] = sorted(record["removed_tokens"])
            record["removed_merges"] = sorted(record["removed_merges"])
        return (name, record)
    if isinstance(value, bool):
        return ("bool", value)
    if isinstance(value, list):
        return [comparable(x) for x in value]
    if isinstance(value, tuple):
        return tuple(comparable(x) for x in value)
    if isinstance(value, dict):
        return ("dict", [(k, comparable(v)) for k, v in value.items()])
    return value


def log(text):
    """Shown with a failing example; plain tests carry it in their assertion messages."""
    try:
        note(text)
    except InvalidArgument:
        pass


def describe(name, args, kwargs):
    parts = [repr(a) for a in args] + [f"{k}={v!r}" for k, v in kwargs.items()]
    return f"{name}({', '.join(parts)})"


def run_step(editor, model, step, name, args, kwargs):
    log(f"step {step}: {describe(name, args, kwargs)}")
    expected = getattr(model, name)(*args, **kwargs)
    actual = getattr(editor, name)(*args, **kwargs)
    assert comparable(actual) == comparable(expected), f"step {step}: {describe(name, args, kwargs)}"
    assert editor.to_json() == model.to_json(), f"document after step {step}: {describe(name, args, kwargs)}"


def open_both(lexmill, doc):
    text = json.dumps(doc, ensure_ascii=False)
    log(f"document: {text}")
    editor = lexmill.Lexmill.from_json(text)
    model = LiteralEditor.from_json(text)
    assert editor.to_json() == model.to_json()
    return editor, model


def run_operations(data, editor, model, max_steps):
    for step in range(data.draw(st.integers(0, max_steps), label="steps")):
        name, args, kwargs = data.draw(operations(model), label=f"step {step}")
        run_step(editor, model, step, name, args, kwargs)


# Characters outside the generated alphabet: the IDs they receive show where
# next_id stands and which IDs are still reserved.
PROBES = ["\u2460", "\u2461", "\u2462"]

# The lexmill fixture only hands out the module, so sharing it between examples is safe.
PROPERTY_SETTINGS = settings(
    max_examples=int(os.environ.get("LEXMILL_EXAMPLES", "250")),
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture],
)


@PROPERTY_SETTINGS
@given(doc=tokenizer_docs(), data=st.data())
def test_edit_sequences_match_the_model(lexmill, doc, data):
    editor, model = open_both(lexmill, doc)
    run_operations(data, editor, model, max_steps=12)
    for probe in PROBES:
        run_step(editor, model, "probe", "add_token_atomic", (probe,), {})


@PROPERTY_SETTINGS
@given(doc=tokenizer_docs(), data=st.data())
def test_queries_match_the_model(lexmill, doc, data):
    editor, model = open_both(lexmill, doc)
    queries = ("get_vocab", "get_merges", "get_single_char_tokens", "check_vocab_gaps", "get_stats", "validate_merges")
    for name in queries:
        run_step(editor, model, "query", name, (), {})
    assert (editor.vocab_size, editor.merges_count) == (model.vocab_size, model.merges_count)
    for id_ in data.draw(st.lists(st.sampled_from(sorted(set(model.vocab.values())) + [0, 7, U32_MAX]), max_size=4)):
        run_step(editor, model, "query", "get_token_by_id", (id_,), {})


@st.composite
def source_docs(draw):
    chars = draw(st.lists(st.sampled_from(ALPHABET + SOURCE_EXTRA), unique=True, max_size=8))
    longer = draw(st.lists(st.text(alphabet=ALPHABET + SOURCE_EXTRA, min_size=2, max_size=3), max_size=3))
    tokens = list(dict.fromkeys(chars + longer + draw(st.lists(st.sampled_from(SPECIALS), max_size=2))))
    return tokenizer_dict({t: i for i, t in enumerate(tokens)})


# tmp_path and capfd are reused by every example: each example overwrites
# the source file and drains the captured output before it calls.
@settings(PROPERTY_SETTINGS, max_examples=150)
@given(doc=tokenizer_docs(), source=source_docs(), data=st.data())
def test_sync_single_chars_matches_the_model(lexmill, tmp_path, capfd, doc, source, data):
    editor, model = open_both(lexmill, doc)
    run_operations(data, editor, model, max_steps=3)
    path = tmp_path / "source.json"
    path.write_text(json.dumps(source, ensure_ascii=False), encoding="utf-8")
    note(f"source: {path.read_text(encoding='utf-8')}")
    ids = sorted(set(model.vocab.values()))
    some_id = st.sampled_from(ids) if ids else st.just(0)
    min_id = data.draw(st.one_of(st.just(None), some_id, st.just(U32_MAX)), label="min_id")
    args = (str(path),) if min_id is None else (str(path), min_id)

    capfd.readouterr()
    expected = model.sync_single_chars(*args)
    actual = editor.sync_single_chars(*args)
    out, err = capfd.readouterr()
    assert comparable(actual) == comparable(expected)
    assert out == ""
    assert model.progress_pattern.fullmatch(err), f"{err!r} does not match {model.progress_pattern.pattern!r}"
    assert editor.to_json() == model.to_json()
    for probe in PROBES:
        run_step(editor, model, "probe", "add_token_atomic", (probe,), {})


def test_progress_pattern_rejects_a_wrong_count(tmp_path):
    """Guards the pattern itself: a regex that matched anything would prove nothing."""
    source = tmp_path / "source.json"
    source.write_text(json.dumps(tokenizer_dict(["x"])), encoding="utf-8")
    model = model_of({"a": 0, "ab": 1})
    model.sync_single_chars(str(source))
    good = (
        "\n   Pre-computing 1 tokens to remove...\n   Found 1 candidate tokens for removal\n"
        "\n   Phase 1: Removing 1 tokens...\n\r   [100.0%] 1/1 removed | Elapsed: 0.0s | ETA: 0.0s    \n"
        "\n   Phase 2: Adding 1 single-char tokens...\n   Added 1 tokens in 0.00s\n"
        "\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n   Reindexed 1 IDs, removed 1 gaps\n"
    )
    assert model.progress_pattern.fullmatch(good)
    assert model.progress_pattern.fullmatch(model.progress_sample)
    assert not model.progress_pattern.fullmatch(good.replace("Found 1", "Found 2"))
    assert not model.progress_pattern.fullmatch(re.sub(r"Elapsed: 0\.0s", "Elapsed: 0s", good))


# --- long merge lists -----------------------------------------------------------

FILLERS = [chr(0x4E00 + i) for i in range(5000)]


def many_users_doc(users, with_results=True):
    """Each of `users` is the left part of len(FILLERS) // len(users) merges; a few
    ordinary merges sit between them, so positions move when the many go.
    Removing most of them makes the editor compact its merge list."""
    share = len(FILLERS) // len(users)
    vocab = ["b", "c", "bc", "bcc", "é", "<s>"] + list(users)
    merges = []
    for i, filler in enumerate(FILLERS[: share * len(users)]):
        user = users[i % len(users)]
        merges.append((user, filler))
        if i % 97 == 0:
            merges.append(("b", "c") if i % 2 else ("x", filler))
        if with_results and i % 41 == 0:
            vocab.append(user + filler)
    merges.append(("bc", "c"))
    return tokenizer_dict({t: i * 3 for i, t in enumerate(dict.fromkeys(vocab))}, merges)


@pytest.mark.parametrize(
    "users, steps",
    [
        pytest.param(
            ["a"],
            [("validate_merges", ()), ("remove_token", ("a",)), ("validate_merges", ()), ("add_token", ("abcé",))],
            id="one-cascade",
        ),
        pytest.param(
            ["p", "q", "r"],
            [
                ("remove_token", ("p",)),
                ("validate_merges", ()),
                ("remove_tokens", (["q", "zz", "r"],)),
                ("validate_merges", ()),
                ("remove_invalid_merges", ()),
                ("add_token", ("bcé",)),
            ],
            id="across-calls",
        ),
        pytest.param(
            ["aa", "ab", "ac"],
            [("shrink", (4,)), ("validate_merges", ()), ("add_tokens_keep_size", (["bcée", "ab"],))],
            id="shrink",
        ),
    ],
)
def test_long_merge_lists_match_the_model(lexmill, users, steps):
    editor, model = open_both(lexmill, many_users_doc(users, with_results=steps[0][0] != "shrink"))
    for step, (name, args) in enumerate(steps):
        run_step(editor, model, step, name, args, {})
    for step, (name, args) in enumerate(
        [("remove_token", ("b",)), ("get_token_by_id", (9,)), ("reindex_vocab", ()), ("get_stats", ())]
    ):
        run_step(editor, model, f"after {step}", name, args, {})
    for probe in PROBES:
        run_step(editor, model, "probe", "add_token_atomic", (probe,), {})


# --- a real tokenizer -------------------------------------------------------------

REAL_STEPS = [
    ("validate_merges", ()),
    ("remove_token", ("▁t",)),
    ("shrink", (5,)),
    ("find_tokens_to_shrink", (5, 31000)),
    ("add_tokens", (["▁lexmill", "héllo😀", "<0x0A>"],)),
    ("add_tokens_keep_size", (["▁tokenizer_editing", "▁lexmill", "ĠĠ"], ["▁lexmill"])),
    ("get_stats", ()),
    ("remove_invalid_merges", ()),
    ("reindex_vocab", ()),
    ("check_vocab_gaps", ()),
]


def test_real_tokenizer_matches_the_model(lexmill):
    doc = json.loads(data_file("llama2.tokenizer.json").read_text(encoding="utf-8"))
    # This file writes each merge as one string with a space between the parts.
    doc["model"]["merges"] = [merge.split(" ") for merge in doc["model"]["merges"]]
    text = json.dumps(doc, ensure_ascii=False)
    editor = lexmill.Lexmill.from_json(text)
    model = LiteralEditor.from_json(text)
    for step, (name, args) in enumerate(REAL_STEPS):
        run_step(editor, model, step, name, args, {})
    for probe in PROBES:
        run_step(editor, model, "probe", "add_token_atomic", (probe,), {})
