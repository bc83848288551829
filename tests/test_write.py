"""The text of to_json() and save(): byte for byte against an independent
writer (tests/reference_writer.py), stable under rewriting, and faithful to
the content of real tokenizers."""

import json
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import data_file, tokenizer_dict
from reference_writer import document_text, float_text, string_text, value_text


def exported(lexmill, text):
    return lexmill.Lexmill.from_json(text).to_json()


def saved(lexmill, text, path):
    lexmill.Lexmill.from_json(text).save(str(path))
    return path.read_bytes()


DECLARED_FIELDS = ["version", "truncation", "padding", "added_tokens", "normalizer",
                   "pre_tokenizer", "post_processor", "decoder", "model"]
DECLARED_MODEL_FIELDS = ["type", "dropout", "unk_token", "continuing_subword_prefix",
                         "end_of_word_suffix", "fuse_unk", "byte_fallback", "ignore_merges",
                         "vocab", "merges"]


def loaded(text):
    """json.loads of a document, its array forms turned into objects."""
    doc = json.loads(text)
    if isinstance(doc, list):
        doc = dict(zip(DECLARED_FIELDS, doc))
    if isinstance(doc["model"], list):
        doc["model"] = dict(zip(DECLARED_MODEL_FIELDS, doc["model"]))
    return doc


def assert_both_layouts(lexmill, text, tmp_path):
    """to_json() and save() of `text` equal the reference writer's output."""
    doc = loaded(text)
    assert exported(lexmill, text) == document_text(doc, "declaration")
    assert saved(lexmill, text, tmp_path / "saved.json") == document_text(doc, "sorted").encode()


# ------------------------------------------------------------ the oracle itself
# Everything below compares against reference_writer, so first pin it to the
# rules it implements.


@pytest.mark.parametrize(
    "value, text",
    [
        (0.0, "0.0"),
        (-0.0, "-0.0"),
        (1.0, "1.0"),
        (100.0, "100.0"),
        (1e15, "1000000000000000.0"),
        (1e16, "1e16"),
        (1.5e16, "1.5e16"),
        (0.1, "0.1"),
        (0.00001, "0.00001"),
        (0.000001, "1e-6"),
        (1e-7, "1e-7"),
        (1.5, "1.5"),
        (123.25, "123.25"),
        (-123.25, "-123.25"),
        (5e-324, "5e-324"),
        (1.7976931348623157e308, "1.7976931348623157e308"),
        (math.nan, "null"),
        (math.inf, "null"),
        (-math.inf, "null"),
    ],
)
def test_reference_float_text(value, text):
    assert float_text(value) == text


def test_reference_string_text():
    assert string_text('\t\x1b"\\é/\x7f\b\f\n\r\x00') == '"\\t\\u001b\\"\\\\é/\x7f\\b\\f\\n\\r\\u0000"'


def test_reference_value_text():
    value = {"z": [1, -2, [], {}], "a": {"y": None, "x": True}}
    assert value_text(value) == (
        "{\n"
        '  "a": {\n'
        '    "x": true,\n'
        '    "y": null\n'
        "  },\n"
        '  "z": [\n'
        "    1,\n"
        "    -2,\n"
        "    [],\n"
        "    {}\n"
        "  ]\n"
        "}"
    )


# ------------------------------------------------------------ small documents


def raw_document(sections="", model="", vocab='{"a": 0, "b": 1, "ab": 2}', merges='[["a", "b"]]'):
    """Document text written by hand, to control member order and number spelling."""
    body = f'"type": "BPE", "vocab": {vocab}, "merges": {merges}'
    if model:
        body += ", " + model
    if sections:
        sections += ", "
    return '{' + sections + '"version": "1.0", "added_tokens": [], "model": {' + body + "}}"


SMALL_DOCUMENTS = {
    "numbers": raw_document(
        '"normalizer": {"type": "Custom", "values": [0, 0.0, 0.1, 1e-7, 1E-7, 1.5e16, 100, 100.0,'
        " 1e2, 1.50, -0.0, -1, 0.00001, 0.000001, 5e-324, 1.7976931348623157e308,"
        ' 18446744073709551615, -9223372036854775808, 123.25, 1e15, 1e16]}',
        model='"dropout": 0',
    ),
    "integer beyond 64 bits": raw_document('"decoder": {"big": 18446744073709551616, "low": -9223372036854775809}'),
    "dropout": raw_document(model='"dropout": 0.1'),
    "dropout exponent": raw_document(model='"dropout": 1e-7'),
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
    "empty containers": raw_document(
        '"normalizer": {}, "decoder": [], "padding": {"b": [], "a": {}}, "truncation": [[]]',
        vocab="{}",
        merges="[]",
    ),
    "absent optional sections": raw_document(),
    "null sections": raw_document(
        '"truncation": null, "padding": null, "normalizer": null, "pre_tokenizer": null,'
        ' "post_processor": null, "decoder": null',
        model='"dropout": null, "unk_token": null, "continuing_subword_prefix": null, "end_of_word_suffix": null',
    ),
    "model booleans set": raw_document(model='"fuse_unk": true, "byte_fallback": true, "ignore_merges": false'),
    "model fields out of order": '{"model": {"merges": [["x", "y"]], "vocab": {"y": 1, "x": 0, "xy": 2},'
    ' "end_of_word_suffix": "</w>", "type": "BPE"}, "added_tokens": [], "version": "1.0"}',
    "unknown fields": raw_document(
        '"comment": "dropped", "normalizer": {"type": "NFC", "unknown": ["kept"]}',
        model='"extra": {"nested": [1, 2]}',
    ),
    "added tokens": '{"version": "1.0", "added_tokens": [{"special": true, "id": 5, "content": "<s>"},'
    ' "not an object", 7, null, {"id": 6, "content": "\\u001b", "lstrip": false}],'
    ' "model": {"type": "BPE", "vocab": {}, "merges": []}}',
    "duplicate keys in a section": raw_document('"normalizer": {"a": 1, "b": 2, "a": 3}'),
    "whitespace and array form": '  [ "1.0" , null, null, [], null, null, null, null,\n\t'
    ' ["BPE", 0.5, null, null, null, false, true, false, {"a": 0}, []] ] \r\n',
}


@pytest.mark.parametrize("text", SMALL_DOCUMENTS.values(), ids=SMALL_DOCUMENTS.keys())
def test_small_documents_byte_exact(lexmill, text, tmp_path):
    assert_both_layouts(lexmill, text, tmp_path)


@pytest.mark.parametrize("text", SMALL_DOCUMENTS.values(), ids=SMALL_DOCUMENTS.keys())
def test_rewriting_is_stable(lexmill, text, tmp_path):
    """Parse, write, parse again: the same document, so the same bytes."""
    first = lexmill.Lexmill.from_json(text)
    exported_text = first.to_json()
    second = lexmill.Lexmill.from_json(exported_text)
    assert second.to_json() == exported_text
    assert second.get_vocab() == first.get_vocab()
    assert second.get_merges() == first.get_merges()

    a, b, c = (tmp_path / name for name in ("a.json", "b.json", "c.json"))
    first.save(str(a))
    first.save(str(b))
    lexmill.Lexmill(str(a)).save(str(c))
    assert a.read_bytes() == b.read_bytes() == c.read_bytes()
    assert lexmill.Lexmill(str(a)).to_json() == exported_text


def test_vocab_order_by_layout(lexmill, tmp_path):
    """to_json lists the vocabulary by token, save by ID with ties by token."""
    editor = lexmill.Lexmill.from_json(
        json.dumps(tokenizer_dict(vocab={"c": 1, "b": 0, "a": 1}))
    )
    exported_text = editor.to_json()
    assert '"vocab": {\n      "a": 1,\n      "b": 0,\n      "c": 1\n    }' in exported_text
    path = tmp_path / "saved.json"
    editor.save(str(path))
    assert '"vocab": {\n      "b": 0,\n      "a": 1,\n      "c": 1\n    }' in path.read_text("utf-8")


def test_absent_sections_and_flags_are_written(lexmill):
    text = '{"version": "1.0", "added_tokens": [], "model": {"type": "BPE", "vocab": {}, "merges": []}}'
    exported_text = exported(lexmill, text)
    for name in ("truncation", "padding", "normalizer", "pre_tokenizer", "post_processor", "decoder"):
        assert f'\n  "{name}": null,\n' in exported_text
    for name in ("fuse_unk", "byte_fallback", "ignore_merges"):
        assert f'\n    "{name}": false,\n' in exported_text
    assert not exported_text.endswith("\n")


def test_save_to_missing_directory(lexmill, tmp_path):
    editor = lexmill.Lexmill.from_json(json.dumps(tokenizer_dict(vocab=["a"])))
    path = str(tmp_path / "missing" / "out.json")
    with pytest.raises(OSError) as failure:
        editor.save(path)
    assert str(failure.value) == f"Failed to save tokenizer: Failed to write: {path}"
    assert editor.get_vocab() == {"a": 0}


# ------------------------------------------------------------ properties

# The lexmill fixture only hands over the module, so sharing it between
# examples is safe.
shared_fixtures = settings(suppress_health_check=[HealthCheck.function_scoped_fixture], deadline=None)

json_values = st.recursive(
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**63), max_value=2**64 - 1)
    | st.floats(allow_nan=False, allow_infinity=False)
    | st.text(),
    lambda children: st.lists(children, max_size=4)
    | st.dictionaries(st.text(max_size=6), children, max_size=4),
    max_leaves=25,
)


@settings(shared_fixtures, max_examples=300)
@given(value=json_values)
def test_any_section_value_round_trips(lexmill, value):
    text = json.dumps(tokenizer_dict(vocab=["a", "b"], normalizer=value), ensure_ascii=False)
    doc = json.loads(text)
    exported_text = exported(lexmill, text)
    assert exported_text == document_text(doc, "declaration")
    assert exported(lexmill, exported_text) == exported_text


tokens = st.text(min_size=1, max_size=6)


@settings(shared_fixtures, max_examples=150)
@given(
    vocab=st.dictionaries(tokens, st.integers(min_value=0, max_value=2**32 - 1), max_size=12),
    merges=st.lists(st.tuples(tokens, tokens), max_size=8),
)
def test_any_tokens_in_both_layouts(lexmill, vocab, merges, tmp_path_factory):
    text = json.dumps(tokenizer_dict(vocab=vocab, merges=merges), ensure_ascii=False)
    doc = json.loads(text)
    assert exported(lexmill, text) == document_text(doc, "declaration")
    path = tmp_path_factory.mktemp("tokens") / "saved.json"
    assert saved(lexmill, text, path) == document_text(doc, "sorted").encode()


# ------------------------------------------------------------ real tokenizers


@pytest.fixture(scope="module", params=["qwen3", "gemma3"])
def real(request, tmp_path_factory):
    """A real tokenizer opened, saved, and the saved file opened again."""
    import lexmill

    path = data_file(f"{request.param}.tokenizer.json")
    original = lexmill.Lexmill(str(path))
    folder = tmp_path_factory.mktemp(request.param)
    saved_path = folder / "saved.json"
    original.save(str(saved_path))
    reopened = lexmill.Lexmill(str(saved_path))
    yield {
        "path": path,
        "folder": folder,
        "original": original,
        "saved_path": saved_path,
        "reopened": reopened,
    }


def test_real_reopened_editor_matches(real):
    original, reopened = real["original"], real["reopened"]
    assert reopened.vocab_size == original.vocab_size
    assert reopened.get_vocab() == original.get_vocab()
    assert reopened.get_merges() == original.get_merges()
    assert reopened.to_json() == original.to_json()


def test_real_saving_twice_gives_identical_bytes(real):
    again = real["folder"] / "again.json"
    from_reopened = real["folder"] / "from_reopened.json"
    real["original"].save(str(again))
    real["reopened"].save(str(from_reopened))
    first = real["saved_path"].read_bytes()
    assert again.read_bytes() == first
    assert from_reopened.read_bytes() == first


def test_real_saved_content_equals_original(real):
    with open(real["path"], encoding="utf-8") as f:
        original = json.load(f)
    saved_doc = json.loads(real["saved_path"].read_text("utf-8"))
    assert saved_doc.keys() == original.keys()
    for name in original:
        if name != "model":
            assert saved_doc[name] == original[name], name
    assert saved_doc["model"]["vocab"] == original["model"]["vocab"]
    assert saved_doc["model"]["merges"] == original["model"]["merges"]
    assert saved_doc == original


def test_real_text_byte_exact(real):
    with open(real["path"], encoding="utf-8") as f:
        original = json.load(f)
    assert real["original"].to_json() == document_text(original, "declaration")
    assert real["saved_path"].read_bytes() == document_text(original, "sorted").encode()
