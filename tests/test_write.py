"""The text of to_json() and save(): byte for byte against tests/reference_writer.py and fixed text, and stable."""

import json

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import FIELDS, MODEL_FIELDS, data_file, tokenizer_dict, tokenizer_json
from reference_writer import document_text, value_text


def loaded(text):
    """json.loads of a document, its array forms turned into objects."""
    doc = json.loads(text)
    if isinstance(doc, list):
        doc = dict(zip(FIELDS, doc))
    if isinstance(doc["model"], list):
        doc["model"] = dict(zip(MODEL_FIELDS, doc["model"]))
    return doc


def assert_both_layouts(lexmill, text, path):
    doc = loaded(text)
    editor = lexmill.Lexmill.from_json(text)
    assert editor.to_json() == document_text(doc, "declaration")
    editor.save(str(path))
    assert path.read_bytes() == document_text(doc, "sorted").encode()


LONG = "1.00000000000000011102230246251565404236316680908203125"


@pytest.mark.parametrize("literal, written", [
    ("0", "0"), ("-1", "-1"), ("-0", "0"), ("0.0", "0.0"), ("-0.0", "-0.0"), ("1.0", "1.0"), ("1e2", "100.0"),
    ("1.50", "1.5"), ("1e15", "1000000000000000.0"), ("1e16", "1e16"), ("1.5e16", "1.5e16"), ("0.1", "0.1"),
    ("0.00001", "0.00001"), ("0.000001", "1e-6"), ("1E-7", "1e-7"), ("-123.25", "-123.25"), ("5e-324", "5e-324"),
    ("1.7976931348623157e308", "1.7976931348623157e308"), ("1e-400", "0.0"), ("-1e-400", "-0.0"),
    ("18446744073709551615", "18446744073709551615"), ("-9223372036854775808", "-9223372036854775808"),
    # Integers beyond the 64-bit kinds, and more digits than 64 bits hold, are read as the nearest double.
    ("18446744073709551616", "1.8446744073709552e19"), ("-9223372036854775809", "-9.223372036854776e18"),
    ("123456789012345678901234567890", "1.2345678901234568e29"), (LONG, "1.0"),
    ("0.499999999999999999999006", "0.5"), ("12345678901234567890.5", "1.2345678901234567e19"),
    ("-0.000000000000000000000000000000000001234567890123456789", "-1.2345678901234568e-36"),
])
def test_number_text(lexmill, literal, written):
    text = tokenizer_json().replace('"normalizer": null', f'"normalizer": [{literal}]')
    assert f'"normalizer": [\n    {written}\n  ]' in lexmill.Lexmill.from_json(text).to_json()
    assert value_text(json.loads(literal)) == written


def raw_document(sections="", model="", vocab='{"a": 0, "b": 1, "ab": 2}', merges='[["a", "b"]]'):
    """Document text written by hand, to control member order and number spelling."""
    body = f'"type": "BPE", "vocab": {vocab}, "merges": {merges}' + (", " + model if model else "")
    return "{" + (sections + ", " if sections else "") + '"version": "1.0", "added_tokens": [], "model": {' + body + "}}"


SMALL_DOCUMENTS = {
    "dropout": raw_document(model='"dropout": 0.1'),
    "dropout exponent": raw_document(model='"dropout": 1e-7'),
    "dropout long": raw_document(model=f'"dropout": {LONG}'),
    "dropout integer": raw_document('"decoder": {"big": 18446744073709551616}', model='"dropout": 0'),
    "escapes": raw_document(
        '"normalizer": {"content": "tab\\there \\u001b quote\\" backslash\\\\ é \\u00e9 del\\u007f slash/ \\/ '
        '\\b\\f\\n\\r \\u0000 \\u001f \\u2028 \\ud83d\\ude00"}',
        model='"unk_token": "<\\"unk\\">", "continuing_subword_prefix": "\\\\"',
        vocab='{"\\t": 0, "\\u001b": 1, "\\"": 2, "\\\\": 3, "é": 4, "\\u007f": 5, "/": 6, "\\u0001x": 7}',
        merges='[["\\t", "\\u001b"], ["\\"", "\\\\"], ["é", "/"]]',
    ),
    "nested sections out of order": raw_document(
        '"pre_tokenizer": {"zeta": 1, "alpha": {"y": [{"b": 1, "a": 2}, [3, {"d": [], "c": {}}]], "x": null}},'
        ' "post_processor": {"type": "TemplateProcessing", "single": [{"SpecialToken": {"type_id": 0, "id": "<s>"}}]}'
    ),
    "empty containers": raw_document('"normalizer": {}, "decoder": [], "padding": {"b": [], "a": {}}, "truncation": [[]]',
                                     vocab="{}", merges="[]"),
    "absent optional sections": raw_document(),
    "vocab by token, saved by ID then token": raw_document(vocab='{"c": 1, "b": 0, "a": 1}', merges="[]"),
    "null sections": raw_document(
        '"truncation": null, "padding": null, "normalizer": null, "pre_tokenizer": null, "post_processor": null,'
        ' "decoder": null',
        model='"dropout": null, "unk_token": null, "continuing_subword_prefix": null, "end_of_word_suffix": null',
    ),
    "model booleans set": raw_document(model='"fuse_unk": true, "byte_fallback": true, "ignore_merges": false'),
    "model fields out of order": '{"model": {"merges": [["x", "y"]], "vocab": {"y": 1, "x": 0, "xy": 2},'
    ' "end_of_word_suffix": "</w>", "type": "BPE"}, "added_tokens": [], "version": "1.0"}',
    "unknown fields": raw_document('"comment": "dropped", "normalizer": {"type": "NFC", "unknown": ["kept"]}',
                                   model='"extra": {"nested": [1, 2]}'),
    "added tokens": '{"version": "1.0", "added_tokens": [{"special": true, "id": 5, "content": "<s>"},'
    ' "not an object", 7, null, {"id": 6, "content": "\\u001b", "lstrip": false}],'
    ' "model": {"type": "BPE", "vocab": {}, "merges": []}}',
    "duplicate keys": raw_document('"normalizer": {"a": 1, "b": 2, "a": 3}', vocab='{"b": 1, "a": 2, "b": 3}'),
    "whitespace and array form": '  [ "1.0" , null, null, [], null, null, null, null,\n\t'
    ' ["BPE", 0.5, "<unk>", null, null, false, true, false, {"a": 0}, []] ] \r\n',
}


@pytest.mark.parametrize("text", SMALL_DOCUMENTS.values(), ids=SMALL_DOCUMENTS.keys())
def test_small_documents_byte_exact_and_stable(lexmill, text, tmp_path):
    assert_both_layouts(lexmill, text, tmp_path / "saved.json")
    # Parse, write, parse again: the same document, so the same bytes.
    first = lexmill.Lexmill.from_json(text)
    second = lexmill.Lexmill.from_json(first.to_json())
    assert (second.to_json(), second.get_vocab(), second.get_merges()) == (
        first.to_json(), first.get_vocab(), first.get_merges())
    a, b, c = (tmp_path / name for name in ("a.json", "b.json", "c.json"))
    first.save(str(a))
    first.save(str(b))
    lexmill.Lexmill(str(a)).save(str(c))
    assert a.read_bytes() == b.read_bytes() == c.read_bytes()


# The lexmill fixture only hands over the module, so sharing it between examples is safe.
shared_fixtures = settings(suppress_health_check=[HealthCheck.function_scoped_fixture], deadline=None)
json_values = st.recursive(
    st.none() | st.booleans() | st.integers(min_value=-(2**63), max_value=2**64 - 1)
    | st.floats(allow_nan=False, allow_infinity=False) | st.text(),
    lambda children: st.lists(children, max_size=4) | st.dictionaries(st.text(max_size=6), children, max_size=4),
    max_leaves=25,
)
tokens = st.text(min_size=1, max_size=6)


@settings(shared_fixtures, max_examples=300)
@given(value=json_values)
def test_any_section_value_round_trips(lexmill, value):
    text = tokenizer_json(["a", "b"], normalizer=value)
    exported = lexmill.Lexmill.from_json(text).to_json()
    assert exported == document_text(json.loads(text), "declaration")
    assert lexmill.Lexmill.from_json(exported).to_json() == exported


@settings(shared_fixtures, max_examples=150)
@given(vocab=st.dictionaries(tokens, st.integers(min_value=0, max_value=2**32 - 1), max_size=12),
       merges=st.lists(st.tuples(tokens, tokens), max_size=8))
def test_any_tokens_in_both_layouts(lexmill, vocab, merges, tmp_path_factory):
    assert_both_layouts(lexmill, tokenizer_json(vocab, merges), tmp_path_factory.mktemp("tokens") / "saved.json")


@pytest.mark.parametrize("name", ["qwen3", "gemma3"])
def test_real_tokenizers_byte_exact_and_stable(lexmill, tmp_path, name):
    path = data_file(f"{name}.tokenizer.json")
    original = json.loads(path.read_bytes())
    editor = lexmill.Lexmill(str(path))
    assert editor.to_json() == document_text(original, "declaration")
    saved, again = tmp_path / "saved.json", tmp_path / "again.json"
    editor.save(str(saved))
    assert saved.read_bytes() == document_text(original, "sorted").encode()
    assert json.loads(saved.read_bytes()) == original
    reopened = lexmill.Lexmill(str(saved))
    assert (reopened.get_vocab(), reopened.get_merges()) == (editor.get_vocab(), editor.get_merges())
    reopened.save(str(again))
    assert again.read_bytes() == saved.read_bytes()


def test_writer_against_the_python_reference(lexmill, tmp_path):
    # Floats against Python's repr (shortest digits), every escape, text far beyond the writer's size estimate.
    import math, random, struct  # noqa: E401
    rng = random.Random(1234)
    floats = [0.0, -0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308]
    floats += [struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0] for _ in range(3000)]
    floats += [float(f"{rng.randint(1, 10 ** rng.randint(1, 17))}e{rng.randint(-25, 25)}") * rng.choice((1, -1))
               for _ in range(3000)]
    for e in range(-8, 19):  # around the switches between plain and scientific notation
        for sign in (1, -1):
            below = above = sign * 10.0**e
            for _ in range(3):
                floats += [below, above]
                below, above = math.nextafter(below, 0.0), math.nextafter(above, sign * math.inf)
    tokens = {f"{i}" + '"' * 100 + "\x1f" * 50: i for i in range(3000)}
    normalizer = {"floats": [x for x in floats if math.isfinite(x)], "escapes": "".join(map(chr, range(128))) + "\x01" * 300000}
    doc = tokenizer_dict(vocab=tokens, merges=[(t, t) for t in tokens], normalizer=normalizer)
    editor = lexmill.Lexmill.from_json(json.dumps(doc, ensure_ascii=False))
    assert editor.to_json() == document_text(doc, "declaration")
    editor.save(str(tmp_path / "saved.json"))
    assert (tmp_path / "saved.json").read_text(encoding="utf-8") == document_text(doc, "sorted")
