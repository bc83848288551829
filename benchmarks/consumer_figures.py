"""What the edits do for a reader of the files: figures measured with the `tokenizers` library on the real tokenizers.

    python3 benchmarks/consumer_figures.py [--data DIR] [--words N]

- add_tokens of N ordinary words missing from each vocabulary (whole words of the other tokenizer), by the specified
  chain and reachable: how many the saved file then encodes, alone, as the new single token, and how many sample
  paragraphs without those words now encode differently;
- merge_from gemma3 into qwen3 (max_vocab_size=400000): tokens for a few texts in target / source / merged.
"""

import argparse
from pathlib import Path

from tokenizers import Tokenizer, decoders

import lexmill

ROOT = Path(__file__).resolve().parent.parent
PARAGRAPHS = [
    "The quick brown fox jumps over the lazy dog. Tokenizers split text into pieces, and models read them.",
    "def main(argv):\n    for line in open(argv[1]):\n        print(line.rstrip())\n",
    "Übermäßig schöne Grüße — ça va? 東京は日本の首都です。안녕하세요 🙂",
    "In 2024, 3.14159 × 10^6 = 3141590; call +1-800-555-0199 or write to info@example.org.",
]
SOURCE_DOMAIN = {
    "hi": "भारत एक विशाल देश है जिसकी संस्कृति बहुत पुरानी है और जहाँ अनेक भाषाएँ बोली जाती हैं।",
    "th": "ภาษาไทยเป็นภาษาราชการของประเทศไทยและมีผู้พูดหลายสิบล้านคน",
    "ru": "Москва — столица России и крупнейший по численности населения город страны.",
}


def words_missing(editor, other, count):
    """Plain-text words (with their leading space) that are whole tokens of `other` and no token of `editor`."""
    texts = []
    for token in other.get_vocab():
        if token.startswith("\u2581"):
            texts.append(" " + token[1:])
        elif token.startswith("\u0120"):
            texts.append(decoders.ByteLevel().decode([token]))
    words = sorted(t for t in texts if len(t) > 5 and t[1:].isalpha() and not editor.has_token(editor.spell(t)))
    return words[:: max(1, len(words) // count)][:count]


def reader_of(editor):
    editor.pin_added_tokens()
    return Tokenizer.from_str(editor.to_json())


def additions(path, other_path, count, reachable):
    editor = lexmill.Lexmill(str(path))
    before = reader_of(lexmill.Lexmill(str(path)))
    words = words_missing(editor, lexmill.Lexmill(str(other_path)), count)
    editor.add_tokens([editor.spell(w) for w in words], reachable=reachable)
    after = reader_of(editor)
    whole = sum(after.encode(w, add_special_tokens=False).tokens == [editor.spell(w)] for w in words)
    untouched = [p for p in PARAGRAPHS if not any(w.strip() in p for w in words)]
    changed = sum(after.encode(p).ids != before.encode(p).ids for p in untouched)
    print(f"add_tokens{' (reachable)' if reachable else ''} into {path.name}: {whole} of {len(words)} words "
          f"({100 * whole / max(1, len(words)):.0f}%) come out as the new single token; "
          f"{changed} of {len(untouched)} paragraphs without them encode differently")


def merge(data):
    editor = lexmill.Lexmill(str(data / "qwen3.tokenizer.json"))
    editor.merge_from(str(data / "gemma3.tokenizer.json"), 400000)
    readers = [Tokenizer.from_file(str(data / f"{n}.tokenizer.json")) for n in ("qwen3", "gemma3")]
    readers.append(reader_of(editor))
    print("merge_from gemma3 into qwen3 (max_vocab_size=400000), tokens for one text: target / source / merged")
    for language, text in [*SOURCE_DOMAIN.items(), ("English", PARAGRAPHS[0])]:
        print(f"  {language}: " + " / ".join(str(len(r.encode(text, add_special_tokens=False).ids)) for r in readers))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=Path, default=ROOT.parent / "shared" / "data")
    parser.add_argument("--words", type=int, default=300)
    args = parser.parse_args()
    for name, other in (("qwen3", "gemma3"), ("gemma3", "qwen3")):
        for reachable in (False, True):
            path, other_path = (args.data / f"{n}.tokenizer.json" for n in (name, other))
            additions(path, other_path, args.words, reachable)
    merge(args.data)


if __name__ == "__main__":
    main()
