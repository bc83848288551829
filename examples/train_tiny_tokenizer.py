"""Trains the small byte-level BPE tokenizer that ships in examples/tiny.tokenizer.json.

It exists so that the examples and a first run need no download: a few
paragraphs of text, the usual byte-to-character mapping of byte-level BPE, and
greedy pair merging until the vocabulary holds 600 tokens. Run it again to
regenerate the file; the output is deterministic.
"""

import collections
import json
import re
from pathlib import Path

CORPUS = """
A tokenizer turns text into a sequence of integers that a language model can
read. Byte-pair encoding starts from single bytes and repeatedly joins the
most frequent neighbouring pair into a new token, recording each join as a
merge. The merges are applied in the order they were learned, so the first
merge has the highest priority.
When a model is adapted to a new language or a new domain, engineers often
edit its tokenizer: they add the words the model keeps splitting, remove tokens
that are never used, and keep the vocabulary size fixed so that the embedding
matrix of the model does not have to change shape. Every token that is added
needs a chain of merges that lets the encoder build it from smaller pieces,
and every token that is removed takes with it the merges that depend on it.
The quick brown fox jumps over the lazy dog. Pack my box with five dozen
liquor jugs. How vexingly quick daft zebras jump! Sphinx of black quartz,
judge my vow. The five boxing wizards jump quickly.
Numbers such as 2024, 3.14159 and 1000000 appear in text too, as do symbols
like #, @, %, & and the occasional emoji 🙂 or accented word: café, naïve,
façade, Zürich, señor.
"""

VOCAB_SIZE = 600


def byte_to_char():
    printable = list(range(0x21, 0x7F)) + list(range(0xA1, 0xAD)) + list(range(0xAE, 0x100))
    table = {b: chr(b) for b in printable}
    extra = 0
    for b in range(256):
        if b not in table:
            table[b] = chr(0x100 + extra)
            extra += 1
    return table


def main():
    table = byte_to_char()
    words = re.findall(r" ?\w+| ?[^\s\w]+|\s+", CORPUS)
    counts = collections.Counter("".join(table[b] for b in w.encode()) for w in words)
    splits = {w: list(w) for w in counts}
    vocab = {table[b]: i for i, b in enumerate(sorted(table, key=lambda b: ord(table[b])))}
    merges = []
    while len(vocab) < VOCAB_SIZE:
        pairs = collections.Counter()
        for word, n in counts.items():
            parts = splits[word]
            for a, b in zip(parts, parts[1:]):
                pairs[a, b] += n
        if not pairs:
            break
        (a, b), _ = max(pairs.items(), key=lambda item: (item[1], item[0]))
        merges.append([a, b])
        vocab[a + b] = len(vocab)
        for word, parts in splits.items():
            i, out = 0, []
            while i < len(parts):
                if i + 1 < len(parts) and parts[i] == a and parts[i + 1] == b:
                    out.append(a + b)
                    i += 2
                else:
                    out.append(parts[i])
                    i += 1
            splits[word] = out
    special = "<|endoftext|>"
    vocab[special] = len(vocab)
    doc = {
        "version": "1.0",
        "truncation": None,
        "padding": None,
        "added_tokens": [
            {
                "id": vocab[special],
                "content": special,
                "single_word": False,
                "lstrip": False,
                "rstrip": False,
                "normalized": False,
                "special": True,
            }
        ],
        "normalizer": {"type": "NFC"},
        "pre_tokenizer": {"type": "ByteLevel", "add_prefix_space": False, "trim_offsets": True, "use_regex": True},
        "post_processor": None,
        "decoder": {"type": "ByteLevel", "add_prefix_space": True, "trim_offsets": True, "use_regex": True},
        "model": {
            "type": "BPE",
            "dropout": None,
            "unk_token": None,
            "continuing_subword_prefix": None,
            "end_of_word_suffix": None,
            "fuse_unk": False,
            "byte_fallback": False,
            "ignore_merges": False,
            "vocab": vocab,
            "merges": merges,
        },
    }
    out = Path(__file__).with_name("tiny.tokenizer.json")
    out.write_text(json.dumps(doc, indent=2, ensure_ascii=False), encoding="utf-8")
    print(f"wrote {out}: {len(vocab)} tokens, {len(merges)} merges")


if __name__ == "__main__":
    main()
