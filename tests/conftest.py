"""Shared fixtures: small tokenizer documents, the real data, child interpreters."""

import json
import os
from pathlib import Path

import pytest

# Rewritten asserts make the merge tests' shared checks say which values differ.
pytest.register_assert_rewrite("reference_merge")

REPO = Path(__file__).resolve().parent.parent
DATA = REPO.parent / "shared" / "data"
MODEL_FIELDS = ["type", "dropout", "unk_token", "continuing_subword_prefix", "end_of_word_suffix",
                "fuse_unk", "byte_fallback", "ignore_merges", "vocab", "merges"]
FIELDS = ["version", "truncation", "padding", "added_tokens", "normalizer", "pre_tokenizer",
          "post_processor", "decoder", "model"]


def data_file(name):
    path = DATA / name
    if not path.exists():
        pytest.skip(f"real data not available: {path}")
    return path


def tokenizer_dict(vocab=None, merges=None, added_tokens=None, **sections):
    """A BPE document: `vocab` a dict or a list numbered from 0; `model_extra` adds model members."""
    if not isinstance(vocab, dict):
        vocab = {token: i for i, token in enumerate(vocab or [])}
    model = dict.fromkeys(MODEL_FIELDS[:5])
    model.update(type="BPE", fuse_unk=False, byte_fallback=False, ignore_merges=False, vocab=vocab,
                 merges=[list(m) for m in (merges or [])])
    model.update(sections.pop("model_extra", {}))
    doc = dict.fromkeys(FIELDS)
    doc.update(version="1.0", added_tokens=added_tokens or [], model=model)
    doc.update(sections)
    return doc


def tokenizer_json(*args, **kwargs):
    return json.dumps(tokenizer_dict(*args, **kwargs), ensure_ascii=False)


def open_doc(lexmill, *args, **kwargs):
    return lexmill.Lexmill.from_json(tokenizer_json(*args, **kwargs))


def directory_listing(path):
    return sorted(p.name for p in path.iterdir())


def subprocess_env():
    """The environment for a child interpreter that imports the module under test."""
    import lexmill

    env = dict(os.environ)
    module_dir = os.path.dirname(os.path.abspath(lexmill.__file__))
    env["PYTHONPATH"] = os.pathsep.join(p for p in (module_dir, env.get("PYTHONPATH")) if p)
    return env


@pytest.fixture
def lexmill():
    import lexmill as module

    return module
