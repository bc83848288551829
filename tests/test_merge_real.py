"""Merging the real tokenizers into each other.

qwen3 is byte-level, gemma3 uses the space marker; each merge is checked for
its counts, the state any merge must leave, repeatability, and against the
reference model of merging.
"""

import json

import pytest

from conftest import data_file
from reference_merge import assert_same_editor, check_merged, fields, model_merge, snapshot

QWEN3 = "qwen3.tokenizer.json"
GEMMA3 = "gemma3.tokenizer.json"
DEFAULT_LIMIT = 262144


@pytest.fixture(scope="module")
def documents():
    """The parsed documents, read once for the whole module."""
    cache = {}

    def load(name):
        if name not in cache:
            cache[name] = json.loads(data_file(name).read_text(encoding="utf-8"))
        return cache[name]

    return load


def merge(lexmill, target, source, limit):
    editor = lexmill.Lexmill(str(data_file(target)))
    path = str(data_file(source))
    result = editor.merge_from(path) if limit is None else editor.merge_from(path, limit)
    return editor, result


CASES = [
    pytest.param(
        GEMMA3,
        QWEN3,
        None,
        {
            "initial_target_vocab_size": 262144,
            "source_vocab_size": 151643,
            "final_model_vocab_size": 262143,
            "final_vocab_size": 262144,
            "tokens_injected": 127123,
            "target_tokens_removed": 127124,
            "bridge_tokens_added": 0,
            "bridge_merges_added": 0,
            "source_merges_added": 151387,
            "target_merges_retained": 208371,
            "representation": "space marker (\u2581)",
        },
        id="qwen3-into-gemma3-default-limit",
    ),
    pytest.param(
        GEMMA3,
        QWEN3,
        200000,
        {
            "initial_target_vocab_size": 262144,
            "source_vocab_size": 151643,
            "final_model_vocab_size": 199999,
            "final_vocab_size": 200000,
            "tokens_injected": 127123,
            "target_tokens_removed": 189268,
            "bridge_tokens_added": 0,
            "bridge_merges_added": 0,
            "source_merges_added": 151387,
            "target_merges_retained": 78051,
            "representation": "space marker (\u2581)",
        },
        id="qwen3-into-gemma3-200000",
    ),
    pytest.param(
        QWEN3,
        GEMMA3,
        400000,
        {
            "initial_target_vocab_size": 151643,
            "source_vocab_size": 262144,
            "final_model_vocab_size": 323901,
            "final_vocab_size": 323927,
            "tokens_injected": 172258,
            "target_tokens_removed": 0,
            "bridge_tokens_added": 19035,
            "bridge_merges_added": 32786,
            "source_merges_added": 514307,
            "target_merges_retained": 59717,
            "representation": "ByteLevel (\u0120)",
        },
        id="gemma3-into-qwen3-400000",
    ),
]


@pytest.mark.parametrize("target, source, limit, expected", CASES)
def test_real_merge(lexmill, documents, tmp_path, target, source, limit, expected):
    editor, result = merge(lexmill, target, source, limit)
    assert fields(result) == expected
    check_merged(lexmill, editor, result, documents(target), tmp_path)
    again, result_again = merge(lexmill, target, source, limit)
    assert fields(result_again) == expected
    assert again.to_json() == editor.to_json()


@pytest.mark.parametrize("target, source, limit, expected", CASES)
def test_real_merge_matches_the_model(lexmill, documents, target, source, limit, expected):
    editor, result = merge(lexmill, target, source, limit)
    vocab, merges, added_tokens, model_fields = model_merge(
        documents(target), documents(source), DEFAULT_LIMIT if limit is None else limit
    )
    assert model_fields == expected
    assert editor.get_vocab() == vocab
    assert editor.get_merges() == merges
    assert json.loads(editor.to_json())["added_tokens"] == added_tokens


def test_gemma3_into_qwen3_default_limit_fails(lexmill):
    editor = lexmill.Lexmill(str(data_file(QWEN3)))
    before = snapshot(editor)
    with pytest.raises(ValueError) as info:
        editor.merge_from(str(data_file(GEMMA3)))
    assert str(info.value) == (
        "Failed to merge tokenizer: Required converted and protected tokens (268985) exceed model limit (262118)"
    )
    assert snapshot(editor) == before
    untouched = lexmill.Lexmill(str(data_file(QWEN3)))
    assert editor.add_token_atomic("\u2603probe") and untouched.add_token_atomic("\u2603probe")
    assert_same_editor(editor, untouched)
