"""Shared fixtures and helpers: building small tokenizer documents, finding the
real data, and running child interpreters on the module under test."""

import json
import os
from pathlib import Path

import pytest

# The merge tests' shared checks assert as the tests do; rewriting makes their
# failures say which values differ.
pytest.register_assert_rewrite("reference_merge")

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


def directory_listing(path):
    return sorted(p.name for p in path.iterdir())


def subprocess_env():
    """The environment for a child interpreter that imports the module under test."""
    env = dict(os.environ)
    import lexmill

    module_dir = os.path.dirname(os.path.abspath(lexmill.__file__))
    env["PYTHONPATH"] = os.pathsep.join(p for p in (module_dir, env.get("PYTHONPATH")) if p)
    return env


@pytest.fixture
def lexmill():
    import lexmill as module

    return module
