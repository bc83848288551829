"""What the edits do for a reader of the files: figures measured with the `tokenizers` library on the real tokenizers.

    python3 benchmarks/consumer_figures.py

- add_tokens (plain and reachable) of ordinary words missing from each vocabulary: how many come out of the saved
  file as the new single token, by addition method, and how many sample paragraphs without those words now encode
  differently;
- merge_from gemma3 into qwen3 (max_vocab_size=400000): tokens for one text in target / source / merged.

Uses the edits and texts of tests/test_tokenizers_consumer.py, on the files in ../shared/data.
"""

import sys
from collections import Counter
from pathlib import Path
from types import SimpleNamespace

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

from tokenizers import Tokenizer  # noqa: E402

import lexmill  # noqa: E402
import test_tokenizers_consumer as consumer  # noqa: E402


def saved(editor):
    editor.pin_added_tokens()
    return Tokenizer.from_str(editor.to_json())


def additions(name, reachable):
    s = SimpleNamespace(name=name, reference=consumer.tokenizer(name), editor=lexmill.Lexmill(consumer.path_of(name)))
    consumer.make_added(s, reachable=reachable)
    reader = saved(s.editor)
    by_method, single = Counter(), Counter()
    for text, token in s.ordinary.items():
        by_method[s.results[text].method] += 1
        single[s.results[text].method] += consumer.encoded(reader, text).tokens == [token]
    total = sum(single.values())
    detail = ", ".join(f"{m} {single[m]} of {by_method[m]}" for m in sorted(by_method))
    print(f"add_tokens{' (reachable)' if reachable else ''} into {name}: {total} of {len(s.ordinary)} ordinary words "
          f"({100 * total / len(s.ordinary):.0f}%) come out as the new single token ({detail})")
    untouched = [t for t in consumer.ALL_TEXTS if not any(w.strip() in t for w in s.ordinary)]
    changed = sum(consumer.encoded(reader, t).ids != consumer.encoded(s.reference, t).ids for t in untouched)
    print(f"  of {len(untouched)} sample paragraphs without those words, {changed} encode differently")


def merge():
    editor = lexmill.Lexmill(consumer.path_of(consumer.QWEN3))
    editor.merge_from(consumer.path_of(consumer.GEMMA3), 400000)
    readers = (consumer.tokenizer(consumer.QWEN3), consumer.tokenizer(consumer.GEMMA3), saved(editor))
    print("merge_from gemma3 into qwen3 (max_vocab_size=400000), tokens for one text: target / source / merged")
    totals = [0, 0, 0]
    for language, text in list(consumer.SOURCE_DOMAIN.items()) + [("English sample", consumer.SAMPLES[0])]:
        counts = [len(consumer.encoded(reader, text).ids) for reader in readers]
        print(f"  {language}: {' / '.join(map(str, counts))}")
        totals = [a + b for a, b in zip(totals, counts)] if language in consumer.SOURCE_DOMAIN else totals
    print(f"  all languages above: {' / '.join(map(str, totals))}")


if __name__ == "__main__":
    for name in consumer.TARGETS:
        for reachable in (False, True):
            additions(name, reachable)
    merge()
