"""Real tokenizers edited by lexmill, loaded by the `tokenizers` library: every edit is read with the IDs written and
does what it promises. Each edit is made once per module (`edited`); benchmarks/consumer_figures.py measures them."""

import functools
import json
import warnings
from collections import Counter
from pathlib import Path
from types import SimpleNamespace

import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st
from tokenizers import Tokenizer, decoders

import lexmill
from conftest import data_file, tokenizer_json
from reference_merge import check_merged, fields, model_merge

QWEN3 = "qwen3"  # byte-level (Ġ) BPE; its special tokens are not in the model vocabulary
GEMMA3 = "gemma3"  # space-marker (▁) BPE with byte fallback; its special tokens mostly are
TARGETS = [QWEN3, GEMMA3]
OTHER = {QWEN3: GEMMA3, GEMMA3: QWEN3}

SAMPLES = [
    "The quick brown fox jumps over the lazy dog. Tokenizers split text into pieces, and models read them.",
    "def main(argv):\n    for line in open(argv[1]):\n        print(line.rstrip())\n\n\nif __name__ == '__main__':\n    main([])\n",
    "=" * 48 + "\n" + "-" * 64 + "\n" + " " * 24 + "indented text\n\t\ttabs\n",
    "Übermäßig schöne Grüße — ça va? Москва — столица России. 東京は日本の首都です。안녕하세요 🙂",
    "In 2024, 3.14159 × 10^6 = 3141590; call +1-800-555-0199 or write to info@example.org.",
]

# Text in the languages the Gemma-3 vocabulary serves better than Qwen3's.
SOURCE_DOMAIN = {
    "hi": "भारत एक विशाल देश है जिसकी संस्कृति बहुत पुरानी है और जहाँ अनेक भाषाएँ बोली जाती हैं।",
    "th": "ภาษาไทยเป็นภาษาราชการของประเทศไทยและมีผู้พูดหลายสิบล้านคน",
    "ru": "Москва — столица России и крупнейший по численности населения город страны.",
}
ALL_TEXTS = SAMPLES + list(SOURCE_DOMAIN.values())
ADDED_WORDS = 300  # ordinary words added per tokenizer


def path_of(name):
    return str(data_file(f"{name}.tokenizer.json"))


document = functools.cache(lambda name: json.loads(Path(path_of(name)).read_text(encoding="utf-8")))


def presented(tokenizer, text):
    text = text if tokenizer.normalizer is None else tokenizer.normalizer.normalize_str(text)
    return [text] if tokenizer.pre_tokenizer is None else [p for p, _ in tokenizer.pre_tokenizer.pre_tokenize_str(text)]


def encoded(tokenizer, text):
    return tokenizer.encode(text, add_special_tokens=False)


def frequent_tokens(tokenizer, count):
    specials = {token.content for token in tokenizer.get_added_tokens_decoder().values()}
    seen = Counter(t for text in SAMPLES for t in encoded(tokenizer, text).tokens if len(t) > 1 and t not in specials)
    return [token for token, _ in seen.most_common(count)]


def unmerged_words(reference, editor, count, length=3):
    """Words of characters that reach BPE as symbols no merge uses: the chain add_token appends is BPE's only route."""
    vocab = editor.get_vocab()
    used = {symbol for left, right in editor.get_merges() for symbol in left + right}
    # Control characters: rarely merged byte symbols; rare CJK ideographs: whole symbols of space-marker vocabularies.
    candidates = [chr(c) for c in range(1, 32) if not chr(c).isspace()] + [chr(c) for c in range(0x4E00, 0xA000)]
    chars = []
    for char in candidates:
        pieces = presented(reference, char)
        if len(pieces) == 1 and all(s in vocab and s not in used for s in pieces[0]):
            chars.append(char)
            if len(chars) == count * length:
                break
    words = ["".join(chars[i : i + length]) for i in range(0, len(chars), length)]
    return [word for word in words if len(presented(reference, word)) == 1]


def ordinary_words(name, reference, editor):
    """Real words missing from the vocabulary, text -> presented token: whole-word tokens of the other tokenizer."""
    other_tokens = lexmill.Lexmill(path_of(OTHER[name])).get_vocab()
    if OTHER[name] == GEMMA3:
        texts = (" " + token[1:] for token in other_tokens if token.startswith("▁"))
    else:
        texts = (decoders.ByteLevel().decode([token]) for token in other_tokens if token.startswith("Ġ"))
    vocab, words = editor.get_vocab(), {}
    for text in texts:
        pieces = presented(reference, text)
        if len(text) > 5 and text[1:].isalpha() and len(pieces) == 1 and pieces[0] not in vocab:
            words[text] = pieces[0]
    chosen = sorted(words)
    return {text: words[text] for text in chosen[:: max(1, len(chosen) // ADDED_WORDS)][:ADDED_WORDS]}


def make_added(s, reachable=False):
    s.unmerged = unmerged_words(s.reference, s.editor, count=3)
    s.ordinary = ordinary_words(s.name, s.reference, s.editor)
    s.results = {word: s.editor.add_token(presented(s.reference, word)[0]) for word in s.unmerged}
    s.results.update(zip(s.ordinary, s.editor.add_tokens(list(s.ordinary.values()), reachable=reachable)))


def make_kept_size(s):
    s.before = (s.editor.vocab_size, s.editor.check_vocab_gaps()[3])
    s.counts = s.editor.add_tokens_keep_size(list(ordinary_words(s.name, s.reference, s.editor).values())[:200], reachable=True)
    s.after = (s.editor.vocab_size, s.editor.check_vocab_gaps()[3])


def make_pruned(s):
    before = s.editor.get_vocab()
    s.editor.remove_tokens(frequent_tokens(s.reference, 8))
    s.editor.shrink(3000)
    s.removed_ids = {i for t, i in before.items() if not s.editor.has_token(t)}


def make_reindexed(s):
    s.editor.remove_tokens(frequent_tokens(s.reference, 8))
    s.new_words = unmerged_words(s.reference, s.editor, count=2)
    s.editor.add_tokens([presented(s.reference, word)[0] for word in s.new_words])
    s.result = s.editor.reindex_vocab()


EDITS = {
    "unchanged": lambda s: None, "added": make_added, "added_reachable": lambda s: make_added(s, reachable=True),
    "kept_size": make_kept_size, "pruned": make_pruned, "reindexed": make_reindexed,
    "synced": lambda s: s.editor.sync_single_chars(path_of(OTHER[s.name])),
    # Gemma-3 brings more tokens than the default limit leaves room for.
    "merged": lambda s: setattr(s, "result", s.editor.merge_from(path_of(OTHER[s.name]), 400000 if s.name == QWEN3 else 262144)),
}


tokenizer = functools.cache(lambda name: Tokenizer.from_file(path_of(name)))


@pytest.fixture(scope="module")
def edited(tmp_path_factory):
    """edited(kind, name): the tokenizer `name` after the edit `kind`, saved and reloaded by the consumer."""

    @functools.cache
    def make(kind, name):
        s = SimpleNamespace(kind=kind, name=name, reference=tokenizer(name), editor=lexmill.Lexmill(path_of(name)))
        EDITS[kind](s)
        folder = tmp_path_factory.mktemp(f"{kind}-{name}")
        # As written without pinning: lexmill warns exactly when the consumer would read some added token otherwise.
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            s.editor.save(str(folder / "unpinned.json"))
        s.warned = any("pin_added_tokens" in str(w.message) for w in caught)
        s.unpinned = Tokenizer.from_file(str(folder / "unpinned.json"))
        s.pinned = s.editor.pin_added_tokens()
        s.editor.save(str(folder / "tokenizer.json"))
        s.reloaded = Tokenizer.from_file(str(folder / "tokenizer.json"))
        s.added_ids = {t["content"]: t["id"] for t in json.loads((folder / "tokenizer.json").read_text())["added_tokens"]}
        return s

    return make


@pytest.mark.parametrize("kind", list(EDITS))
@pytest.mark.parametrize("name", TARGETS)
def test_consumer_reads_every_id_as_written(edited, kind, name):
    s = edited(kind, name)
    read = s.reloaded.get_vocab(with_added_tokens=True)
    misread = sorted((i, t, read.get(t)) for t, i in {**s.editor.get_vocab(), **s.added_ids}.items() if read.get(t) != i)
    assert not misread, f"{len(misread)} tokens read with another ID, (written, token, read): {misread[:3]}"
    assert len(set(read.values())) == len(read), "an ID names two strings"
    # Without pinning, the warning foretells exactly whether the consumer would renumber something.
    unpinned = s.unpinned.get_vocab(with_added_tokens=True)
    assert s.warned == any(unpinned.get(t) != i for t, i in s.added_ids.items())
    if kind == "unchanged":
        assert s.reloaded.get_vocab() == s.reference.get_vocab()
        assert all(s.reloaded.encode(text).ids == s.reference.encode(text).ids for text in ALL_TEXTS)


@pytest.mark.parametrize("name", TARGETS)
def test_added_words_come_out_as_the_new_tokens(edited, name):
    s = edited("added", name)
    assert len(s.unmerged) == 3
    for word in s.unmerged:
        token = presented(s.reference, word)[0]
        # Before the addition every character was a token of its own.
        assert s.results[word].added and len(encoded(s.reference, word).ids) == len(word)
        assert (encoded(s.reloaded, word).tokens, encoded(s.reloaded, word).ids) == ([token], [s.editor.get_token_id(token)])
    s = edited("added_reachable", name)
    assert len(s.ordinary) >= ADDED_WORDS // 2
    assert sum(encoded(s.reloaded, text).tokens == [token] for text, token in s.ordinary.items()) >= 0.99 * len(s.ordinary)
    s = edited("kept_size", name)
    assert s.counts["tokens_added"] >= 150 and s.counts["tokens_not_added"] == 0
    assert s.after[0] == s.before[0] and s.after[1] <= s.before[1]
    assert s.reloaded.get_vocab_size() == edited("unchanged", name).reloaded.get_vocab_size()


@st.composite
def small_bpe(draw):
    """A valid BPE over a few letters: single characters, then merges of tokens."""
    vocab, merges = list("abcé"), []
    for _ in range(draw(st.integers(0, 14))):
        left, right = draw(st.sampled_from(vocab)), draw(st.sampled_from(vocab))
        vocab += [left + right] if left + right not in vocab else []
        merges.append((left, right))
    return vocab, merges


@settings(max_examples=300, deadline=None)
@given(bpe=small_bpe(), first=st.text("abcé", min_size=2, max_size=10), later=st.text("abcéx", min_size=2, max_size=10))
def test_reachable_token_comes_out_of_bpe_whole(bpe, first, later):
    assume(first not in bpe[0])
    editor = lexmill.Lexmill.from_json(tokenizer_json(bpe[0], merges=bpe[1]))
    segments = Tokenizer.from_str(editor.to_json()).encode(first).tokens
    # The chain starts from the pieces BPE cut the token into.
    assert editor.add_token(first, reachable=True).added_merges[:1] == ([tuple(segments[:2])] if len(segments) > 1 else [])
    added_later = editor.add_token(later, reachable=True).added  # ranks below, changes nothing for `first`
    reader = Tokenizer.from_str(editor.to_json())
    assert reader.encode(first).tokens == [first] and (not added_later or reader.encode(later).tokens == [later])


@pytest.mark.parametrize("name", TARGETS)
def test_removed_ids_never_come_out_and_reindexed_ids_round_trip(edited, name):
    s = edited("pruned", name)
    assert any(set(encoded(s.reference, text).ids) & s.removed_ids for text in SAMPLES)
    vocab_ids = set(s.reloaded.get_vocab(with_added_tokens=True).values())
    for text in ALL_TEXTS:
        ids = s.reloaded.encode(text).ids
        assert not set(ids) & s.removed_ids and set(ids) <= vocab_ids and s.reloaded.decode(ids) == text
    s = edited("reindexed", name)
    # Dense, apart from the special tokens pinned under their own IDs.
    model_ids = sorted(s.reloaded.get_vocab(with_added_tokens=False).values())
    assert s.result.gaps_removed > 0 and model_ids[: len(model_ids) - s.pinned] == list(range(len(model_ids) - s.pinned))
    for text in ALL_TEXTS + ["".join(s.new_words)]:
        assert s.reloaded.decode(s.reloaded.encode(text).ids) == text
    for word in s.new_words:
        assert encoded(s.reloaded, word).ids == [s.editor.get_token_id(presented(s.reference, word)[0])]


def test_merged_file_encodes_the_source_domain_in_fewer_tokens_and_decodes_it(edited):
    s = edited("merged", QWEN3)
    assert s.reloaded.get_vocab_size() == s.result.final_vocab_size
    assert all(s.reloaded.decode(s.reloaded.encode(text).ids) == text for text in ALL_TEXTS)
    counts = [(len(encoded(s.reference, t).ids), len(encoded(s.reloaded, t).ids)) for t in SOURCE_DOMAIN.values()]
    assert all(merged <= target for target, merged in counts)
    assert sum(merged for _, merged in counts) < sum(target for target, _ in counts)


@pytest.mark.parametrize("name, limit, expected", [
    (GEMMA3, None, (262144, 151643, 262143, 262144, 127123, 127124, 0, 0, 151387, 208371)),
    (GEMMA3, 200000, (262144, 151643, 199999, 200000, 127123, 189268, 0, 0, 151387, 78051)),
    (QWEN3, 400000, (151643, 262144, 323901, 323927, 172258, 0, 19035, 32786, 514307, 59717)),
])
def test_real_merge_follows_the_model(tmp_path, name, limit, expected):
    editor = lexmill.Lexmill(path_of(name))
    result = editor.merge_from(path_of(OTHER[name])) if limit is None else editor.merge_from(path_of(OTHER[name]), limit)
    vocab, merges, added_tokens, model = model_merge(document(name), document(OTHER[name]), limit or 262144)
    assert tuple(fields(result).values())[:-1] == expected and fields(result) == model
    assert (editor.get_vocab(), editor.get_merges()) == (vocab, merges)
    assert json.loads(editor.to_json())["added_tokens"] == added_tokens
    check_merged(lexmill, editor, result, tmp_path)
