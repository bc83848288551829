"""Shared fixtures: building small tokenizer documents and finding the real data."""

import json
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent
DATA = REPO.parent / "shared" / "data"


def data_file(name):
    """Path of a file in the shared data folder; skips the test when it is absent."""
    path = DATA / name
    if not path.exists():
        pytest.skip(f"real data not available: {path}")
    return path


def tokenizer_dict(vocab=None, merges=None, added_tokens=None, **sections):
    """A minimal BPE tokenizer document as a Python dict.

    `vocab` maps token to ID (a list of tokens numbers them 0, 1, ...);
    `merges` is a list of (left, right) pairs; any other keyword replaces a
    top-level section, and `model_extra` adds members to the model.
    """
    if vocab is None:
        vocab = {}
    elif not isinstance(vocab, dict):
        vocab = {token: i for i, token in enumerate(vocab)}
    model = {
        "type": "BPE",
        "dropout": None,
        "unk_token": None,
        "continuing_subword_prefix": None,
        "end_of_word_suffix": None,
        "fuse_unk": False,
        "byte_fallback": False,
        "ignore_merges": False,
        "vocab": vocab,
        "merges": [list(m) for m in (merges or [])],
    }
    model.update(sections.pop("model_extra", {}))
    doc = {
        "version": "1.0",
        "truncation": None,
        "padding": None,
        "added_tokens": added_tokens or [],
        "normalizer": None,
        "pre_tokenizer": None,
        "post_processor": None,
        "decoder": None,
        "model": model,
    }
    doc.update(sections)
    return doc


def tokenizer_json(*args, **kwargs):
    """The document of tokenizer_dict() as JSON text."""
    return json.dumps(tokenizer_dict(*args, **kwargs), ensure_ascii=False)


@pytest.fixture
def lexmill():
    import lexmill as module

    return module
