"""What lexmill writes, loaded and run by the `tokenizers` library that consumes
these files in production, on the real tokenizers in the shared data folder.

Each edit is made once per module and its file loaded once (see `edited`).
Figures that are measured rather than asserted (how often BPE produces an added
word as one token, token counts before and after a merge) are printed in a
section of their own at the end of the run.
"""

import json
import subprocess
import sys
import warnings
from collections import Counter
from types import SimpleNamespace

import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st
from tokenizers import Tokenizer, decoders

import lexmill
from conftest import REPO, data_file, tokenizer_json

QWEN3 = "qwen3"  # byte-level (Ġ) BPE; its special tokens are not in the model vocabulary
GEMMA3 = "gemma3"  # space-marker (▁) BPE with byte fallback; its special tokens mostly are
LLAMA2 = "llama2"  # space-marker BPE whose merges are in the legacy "a b" form
TARGETS = [QWEN3, GEMMA3]
MARKER = {QWEN3: "Ġ", GEMMA3: "▁"}

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
    "bn": "বাংলা ভাষা দক্ষিণ এশিয়ার একটি প্রধান ভাষা এবং এটি বহু মানুষের মাতৃভাষা।",
    "ta": "தமிழ் மொழி உலகின் மிகப் பழமையான மொழிகளில் ஒன்றாகும்.",
    "th": "ภาษาไทยเป็นภาษาราชการของประเทศไทยและมีผู้พูดหลายสิบล้านคน",
    "ja": "東京は日本の首都であり、世界で最も人口の多い都市の一つです。",
    "ko": "한국어는 대한민국과 조선민주주의인민공화국의 공용어이다.",
    "ru": "Москва — столица России и крупнейший по численности населения город страны.",
    "ar": "اللغة العربية هي إحدى أكثر اللغات انتشارا في العالم.",
    "am": "አማርኛ የኢትዮጵያ የሥራ ቋንቋ ሲሆን በብዙ ሚሊዮን ሰዎች ይነገራል።",
}
ALL_TEXTS = SAMPLES + list(SOURCE_DOMAIN.values())

ADDED_WORDS = 300  # ordinary words added per tokenizer for the one-token share


class FigureReport:
    """Collects measured figures and prints them in the closing summary."""

    def __init__(self):
        self.lines = []

    def pytest_terminal_summary(self, terminalreporter):
        if self.lines:
            terminalreporter.section("figures measured with the tokenizers library")
            for line in self.lines:
                terminalreporter.write_line(line)


@pytest.fixture(scope="session")
def figures(request):
    report = FigureReport()
    request.config.pluginmanager.register(report, "lexmill-consumer-figures")
    return report.lines


def presented(tokenizer, text):
    """The pieces the tokenizer's normalizer and pre-tokenizer hand to BPE."""
    if tokenizer.normalizer is not None:
        text = tokenizer.normalizer.normalize_str(text)
    if tokenizer.pre_tokenizer is None:
        return [text]
    return [piece for piece, _ in tokenizer.pre_tokenizer.pre_tokenize_str(text)]


def encoded(tokenizer, text):
    return tokenizer.encode(text, add_special_tokens=False)


def frequent_tokens(tokenizer, count):
    """The multi-character tokens the samples are encoded with most often."""
    specials = {token.content for token in tokenizer.get_added_tokens_decoder().values()}
    seen = Counter(
        token
        for text in SAMPLES
        for token in encoded(tokenizer, text).tokens
        if len(token) > 1 and token not in specials
    )
    return [token for token, _ in seen.most_common(count)]


def unmerged_words(reference, editor, count, length=3):
    """Words whose every character reaches BPE as a vocabulary symbol that no merge uses.

    For such a word the merge chain add_token appends is BPE's only route, so
    the word must come out as the new token whatever the priorities.
    """
    vocab = editor.get_vocab()
    used = {symbol for left, right in editor.get_merges() for symbol in left + right}
    # Control characters reach byte-level BPE as rarely merged byte symbols;
    # rare CJK ideographs are whole symbols of space-marker vocabularies.
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
    """Real words missing from the vocabulary, text -> presented token: whole-word
    tokens of the other tokenizer, evenly sampled."""
    other = GEMMA3 if name == QWEN3 else QWEN3
    other_tokens = lexmill.Lexmill(str(data_file(f"{other}.tokenizer.json"))).get_vocab()
    if other == GEMMA3:
        texts = (" " + token[1:] for token in other_tokens if token.startswith("▁"))
    else:
        byte_level = decoders.ByteLevel()
        texts = (byte_level.decode([token]) for token in other_tokens if token.startswith("Ġ"))
    vocab = editor.get_vocab()
    words = {}
    for text in texts:
        word = text[1:]
        if len(word) < 5 or not word.isalpha():
            continue
        pieces = presented(reference, text)
        if len(pieces) == 1 and pieces[0] not in vocab:
            words[text] = pieces[0]
    chosen = sorted(words)
    step = max(1, len(chosen) // ADDED_WORDS)
    return {text: words[text] for text in chosen[::step][:ADDED_WORDS]}


# ---------------------------------------------------------------------------
# The edits, each made, saved and loaded by the consumer once per module.


def make_unchanged(scenario):
    """Opened and saved, nothing else."""


def make_added(scenario, reachable=False):
    reference, editor = scenario.reference, scenario.editor
    scenario.unmerged = unmerged_words(reference, editor, count=3)
    scenario.ordinary = ordinary_words(scenario.name, reference, editor)
    scenario.results = {word: editor.add_token(presented(reference, word)[0]) for word in scenario.unmerged}
    added = editor.add_tokens(list(scenario.ordinary.values()), reachable=reachable)
    scenario.results.update(zip(scenario.ordinary, added))


def make_kept_size(scenario):
    editor = scenario.editor
    scenario.size_before = editor.vocab_size
    scenario.max_id_before = editor.check_vocab_gaps()[3]
    words = list(ordinary_words(scenario.name, scenario.reference, editor).values())[:200]
    scenario.counts = editor.add_tokens_keep_size(words, reachable=True)
    scenario.size_after = editor.vocab_size
    scenario.max_id_after = editor.check_vocab_gaps()[3]


def make_pruned(scenario):
    editor = scenario.editor
    before = editor.get_vocab()
    editor.remove_tokens(frequent_tokens(scenario.reference, 8))
    editor.shrink(3000)
    after = editor.get_vocab()
    scenario.removed_ids = {token_id for token, token_id in before.items() if token not in after}


def make_reindexed(scenario):
    editor = scenario.editor
    editor.remove_tokens(frequent_tokens(scenario.reference, 8))
    scenario.new_words = unmerged_words(scenario.reference, editor, count=2)
    editor.add_tokens([presented(scenario.reference, word)[0] for word in scenario.new_words])
    scenario.result = editor.reindex_vocab()


def make_synced(scenario):
    scenario.counts = scenario.editor.sync_single_chars(scenario.source.path)


def make_merged(scenario):
    # Gemma-3 brings more tokens than the default limit leaves room for.
    limit = 400000 if scenario.name == QWEN3 else 262144
    scenario.result = scenario.editor.merge_from(scenario.source.path, max_vocab_size=limit)


EDITS = {
    "unchanged": make_unchanged,
    "added": make_added,
    "added_reachable": lambda scenario: make_added(scenario, reachable=True),
    "kept_size": make_kept_size,
    "pruned": make_pruned,
    "reindexed": make_reindexed,
    "synced": make_synced,
    "merged": make_merged,
}


@pytest.fixture(scope="module")
def edited(tmp_path_factory):
    """edited(kind, name): the tokenizer `name` after the edit `kind`, saved and
    reloaded by the consumer, with the original beside it."""
    originals, made = {}, {}

    def original(name):
        if name not in originals:
            path = str(data_file(f"{name}.tokenizer.json"))
            originals[name] = SimpleNamespace(path=path, tokenizer=Tokenizer.from_file(path))
        return originals[name]

    def make(kind, name):
        if (kind, name) not in made:
            source = original(name)
            scenario = SimpleNamespace(
                kind=kind, name=name, reference=source.tokenizer, editor=lexmill.Lexmill(source.path)
            )
            scenario.source = original(GEMMA3 if name == QWEN3 else QWEN3)
            EDITS[kind](scenario)
            folder = tmp_path_factory.mktemp(f"{kind}-{name}")
            # As written without pinning: lexmill warns exactly when the
            # consumer would read some added token with another ID.
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                scenario.editor.save(str(folder / "unpinned.json"))
            scenario.warned = any("pin_added_tokens" in str(w.message) for w in caught)
            scenario.unpinned = Tokenizer.from_file(str(folder / "unpinned.json"))
            scenario.pinned = scenario.editor.pin_added_tokens()
            scenario.path = folder / "tokenizer.json"
            scenario.editor.save(str(scenario.path))
            scenario.reloaded = Tokenizer.from_file(str(scenario.path))
            with open(scenario.path, encoding="utf-8") as saved:
                added = json.load(saved)["added_tokens"]
            scenario.added_ids = {token["content"]: token["id"] for token in added}
            made[kind, name] = scenario
        return made[kind, name]

    make.original = original
    return make


# ---------------------------------------------------------------------------
# Opening and saving


@pytest.mark.parametrize("name", TARGETS)
def test_unchanged_file_encodes_to_the_same_ids(edited, name):
    scenario = edited("unchanged", name)
    assert scenario.reloaded.get_vocab() == scenario.reference.get_vocab()
    for text in ALL_TEXTS:
        assert scenario.reloaded.encode(text).ids == scenario.reference.encode(text).ids


def pairs_from_legacy(doc):
    # The conversion the README shows for files whose merges are "left right" strings.
    doc["model"]["merges"] = [merge.split(" ") if isinstance(merge, str) else merge for merge in doc["model"]["merges"]]
    return doc


def test_legacy_merge_strings_converted_as_the_readme_shows(edited, tmp_path):
    legacy = edited.original(LLAMA2)
    with pytest.raises(OSError, match="Failed to parse tokenizer.json"):
        lexmill.Lexmill(legacy.path)
    with open(legacy.path, encoding="utf-8") as source:
        doc = pairs_from_legacy(json.load(source))
    converted = tmp_path / "pairs.json"
    converted.write_text(json.dumps(doc, ensure_ascii=False), encoding="utf-8")

    lexmill.Lexmill(str(converted)).save(str(tmp_path / "saved.json"))
    reloaded = Tokenizer.from_file(str(tmp_path / "saved.json"))
    for text in SAMPLES:
        assert reloaded.encode(text).ids == legacy.tokenizer.encode(text).ids


def read_differently(tokenizer, vocab, added_ids):
    """(written ID, token, ID read) of every token the consumer reads otherwise."""
    written = dict(vocab)
    written.update(added_ids)
    read = tokenizer.get_vocab(with_added_tokens=True)
    return sorted((token_id, token, read.get(token)) for token, token_id in written.items() if read.get(token) != token_id)


@pytest.mark.parametrize("kind", list(EDITS))
@pytest.mark.parametrize("name", TARGETS)
def test_consumer_reads_every_id_as_written(edited, kind, name):
    scenario = edited(kind, name)
    misread = read_differently(scenario.reloaded, scenario.editor.get_vocab(), scenario.added_ids)
    assert not misread, f"{len(misread)} tokens read with another ID, (written, token, read): {misread[:3]}"
    read = scenario.reloaded.get_vocab(with_added_tokens=True)
    assert len(set(read.values())) == len(read), "an ID names two strings"
    # Without pinning, the warning foretells exactly whether the consumer
    # would renumber something.
    unpinned = scenario.unpinned.get_vocab(with_added_tokens=True)
    renumbered = any(unpinned.get(token) != token_id for token, token_id in scenario.added_ids.items())
    assert scenario.warned == renumbered


def lexmill_command(*args):
    ran = subprocess.run([sys.executable, "-m", "lexmill_cli", *map(str, args)], capture_output=True, text=True)
    assert ran.returncode == 0, ran.stderr
    return ran.stdout


@pytest.mark.parametrize("command", ["add", "add --keep-size", "remove", "shrink", "remove + reindex", "sync-chars", "merge"])
@pytest.mark.parametrize("name", TARGETS)
def test_command_line_edits_are_read_as_written(edited, tmp_path, name, command):
    original = edited.original(name)
    other = edited.original(GEMMA3 if name == QWEN3 else QWEN3)
    words = tmp_path / "words.txt"
    words.write_text("\n".join(list(edited("added", name).ordinary.values())[:100]), encoding="utf-8")
    out = tmp_path / "out.json"
    frequent = tmp_path / "frequent.txt"
    frequent.write_text("\n".join(frequent_tokens(original.tokenizer, 8)), encoding="utf-8")
    runs = {
        "add": [["add", original.path, "--tokens-file", words]],
        "add --keep-size": [["add", original.path, "--tokens-file", words, "--keep-size"]],
        "remove": [["remove", original.path, "--tokens-file", frequent]],
        "shrink": [["shrink", original.path, "3000"]],
        "remove + reindex": [["remove", original.path, "--tokens-file", frequent], ["reindex", out]],
        "sync-chars": [["sync-chars", original.path, other.path, "--force", "-q"]],
        "merge": [["merge", original.path, other.path, "--max-vocab-size", "400000"]],
    }[command]
    for args in runs:
        lexmill_command(*args, "-o", out)
    written = lexmill.Lexmill(str(out))
    with open(out, encoding="utf-8") as saved:
        added_ids = {token["content"]: token["id"] for token in json.load(saved)["added_tokens"]}
    misread = read_differently(Tokenizer.from_file(str(out)), written.get_vocab(), added_ids)
    assert not misread, f"{len(misread)} tokens read with another ID, (written, token, read): {misread[:3]}"


@pytest.mark.parametrize("name", TARGETS)
def test_keep_size_keeps_the_size_and_the_id_range(edited, name):
    scenario = edited("kept_size", name)
    assert scenario.counts["tokens_added"] >= 150 and scenario.counts["tokens_not_added"] == 0
    assert scenario.size_after == scenario.size_before
    assert scenario.max_id_after <= scenario.max_id_before
    assert scenario.reloaded.get_vocab_size() == edited("unchanged", name).reloaded.get_vocab_size()


# ---------------------------------------------------------------------------
# Adding tokens


@pytest.mark.parametrize("name", TARGETS)
def test_word_of_unmerged_characters_encodes_to_the_new_token(edited, name):
    scenario = edited("added", name)
    assert len(scenario.unmerged) == 3
    for word in scenario.unmerged:
        token = presented(scenario.reference, word)[0]
        assert scenario.results[word].added
        # Before the addition every character was a token of its own.
        assert len(encoded(scenario.reference, word).ids) == len(word)
        result = encoded(scenario.reloaded, word)
        assert result.tokens == [token]
        assert result.ids == [scenario.editor.get_token_id(token)]


@pytest.mark.parametrize("kind", ["added", "added_reachable"])
@pytest.mark.parametrize("name", TARGETS)
def test_share_of_ordinary_words_produced_as_one_token(edited, kind, name, figures):
    scenario = edited(kind, name)
    assert len(scenario.ordinary) >= ADDED_WORDS // 2
    by_method, single = Counter(), Counter()
    for text, token in scenario.ordinary.items():
        method = scenario.results[text].method
        by_method[method] += 1
        if encoded(scenario.reloaded, text).tokens == [token]:
            single[method] += 1
    total = sum(single.values())
    detail = ", ".join(f"{method} {single[method]} of {by_method[method]}" for method in sorted(by_method))
    figures.append(
        f"add_tokens into {name}: {total} of {len(scenario.ordinary)} ordinary words "
        f"({100 * total / len(scenario.ordinary):.0f}%) come out as the new single token ({detail})"
    )
    if kind == "added_reachable":
        assert total >= 0.99 * len(scenario.ordinary)
        # Text without the new words is mostly encoded as before: the new
        # merges apply only where their pieces meet.
        untouched = [text for text in ALL_TEXTS if not any(word.strip() in text for word in scenario.ordinary)]
        changed = sum(encoded(scenario.reloaded, t).ids != encoded(scenario.reference, t).ids for t in untouched)
        figures.append(f"  of {len(untouched)} sample paragraphs without those words, {changed} encode differently")


def test_reachable_words_come_out_whole_in_a_trained_tokenizer(edited):
    # examples/tiny.tokenizer.json was trained with the tokenizers library on
    # a few paragraphs: most real words are missing from it.
    path = str(REPO / "examples" / "tiny.tokenizer.json")
    reference, editor = Tokenizer.from_file(path), lexmill.Lexmill(path)
    words = ordinary_words(QWEN3, reference, editor)
    editor.add_tokens(list(words.values()), reachable=True)
    reader = Tokenizer.from_str(editor.to_json())
    whole = sum(encoded(reader, text).tokens == [token] for text, token in words.items())
    assert len(words) >= 200 and whole >= 0.99 * len(words)


# ---------------------------------------------------------------------------
# Removing, shrinking, reindexing


@pytest.mark.parametrize("name", TARGETS)
def test_removed_and_shrunk_ids_never_come_out(edited, name):
    scenario = edited("pruned", name)
    assert any(set(encoded(scenario.reference, text).ids) & scenario.removed_ids for text in SAMPLES)
    vocab_ids = set(scenario.reloaded.get_vocab(with_added_tokens=True).values())
    for text in ALL_TEXTS:
        ids = scenario.reloaded.encode(text).ids
        assert not set(ids) & scenario.removed_ids
        assert set(ids) <= vocab_ids
        assert scenario.reloaded.decode(ids) == text


def test_removal_alone_leaves_a_file_the_consumer_loads(edited, tmp_path):
    editor = lexmill.Lexmill(edited.original(GEMMA3).path)
    editor.remove_token("▁the")  # produced by several merges in this vocabulary
    assert editor.validate_merges().invalid_count == 0
    editor.save(str(tmp_path / "removed.json"))
    Tokenizer.from_file(str(tmp_path / "removed.json"))


@pytest.mark.parametrize("name", TARGETS)
def test_reindexed_ids_are_dense_and_round_trip(edited, name):
    scenario = edited("reindexed", name)
    assert scenario.result.gaps_removed > 0
    # Dense, apart from the special tokens pinned under their own IDs.
    model_ids = sorted(scenario.reloaded.get_vocab(with_added_tokens=False).values())
    ordinary = len(model_ids) - scenario.pinned
    assert model_ids[:ordinary] == list(range(ordinary))
    for text in ALL_TEXTS + ["".join(scenario.new_words)]:
        assert scenario.reloaded.decode(scenario.reloaded.encode(text).ids) == text
    for word in scenario.new_words:
        token = presented(scenario.reference, word)[0]
        assert encoded(scenario.reloaded, word).ids == [scenario.editor.get_token_id(token)]


def test_reindex_after_additions_gives_no_two_strings_one_id(edited):
    editor = lexmill.Lexmill(edited.original(QWEN3).path)
    editor.add_tokens([f"Ġlexmill{letter}" for letter in "abcdefghij"])
    editor.reindex_vocab()
    special_ids = edited.original(QWEN3).tokenizer.get_added_tokens_decoder()
    for token_id, token in special_ids.items():
        assert editor.get_token_by_id(token_id) in (None, token.content)


# ---------------------------------------------------------------------------
# Merging


def test_merged_file_decodes_what_it_encodes(edited):
    scenario = edited("merged", QWEN3)
    assert scenario.reloaded.get_vocab_size() == scenario.result.final_vocab_size
    for text in ALL_TEXTS:
        assert scenario.reloaded.decode(scenario.reloaded.encode(text).ids) == text


def test_merged_file_encodes_the_source_domain_in_fewer_tokens(edited, figures):
    scenario = edited("merged", QWEN3)
    tokenizers = (scenario.reference, scenario.source.tokenizer, scenario.reloaded)
    counts = {
        language: [len(encoded(tokenizer, text).ids) for tokenizer in tokenizers]
        for language, text in list(SOURCE_DOMAIN.items()) + [("English sample", SAMPLES[0])]
    }
    english = counts.pop("English sample")
    totals = [sum(column) for column in zip(*counts.values())]
    figures.append("merge_from gemma3 into qwen3 (max_vocab_size=400000), tokens for one text: target / source / merged")
    for language, (target, source, merged) in counts.items():
        figures.append(f"  {language}: {target} / {source} / {merged}")
    figures.append(f"  all of these: {totals[0]} / {totals[1]} / {totals[2]}")
    figures.append(f"  English sample: {english[0]} / {english[1]} / {english[2]}")
    assert totals[2] < totals[0]
    assert all(merged <= target for target, _, merged in counts.values())


# ---------------------------------------------------------------------------
# Reachable additions on small random tokenizers


@st.composite
def small_bpe(draw):
    """A valid BPE over a few letters: single characters, then merges of tokens."""
    vocab, merges = list("abcé"), []
    for _ in range(draw(st.integers(0, 14))):
        left, right = draw(st.sampled_from(vocab)), draw(st.sampled_from(vocab))
        if left + right not in vocab:
            vocab.append(left + right)
        merges.append((left, right))
    return vocab, merges


@settings(max_examples=300, deadline=None)
@given(bpe=small_bpe(), first=st.text("abcé", min_size=2, max_size=10), later=st.text("abcéx", min_size=2, max_size=10))
def test_reachable_token_comes_out_of_bpe_whole(bpe, first, later):
    vocab, merges = bpe
    assume(first not in vocab)
    editor = lexmill.Lexmill.from_json(tokenizer_json(vocab, merges=merges))
    segments = Tokenizer.from_str(editor.to_json()).encode(first).tokens
    result = editor.add_token(first, reachable=True)
    # The chain starts from the pieces BPE cut the token into.
    assert result.added_merges[:1] == ([(segments[0], segments[1])] if len(segments) > 1 else [])
    added_later = editor.add_token(later, reachable=True).added  # ranks below, changes nothing for `first`
    reader = Tokenizer.from_str(editor.to_json())
    assert reader.encode(first).tokens == [first]
    assert not added_later or reader.encode(later).tokens == [later]
