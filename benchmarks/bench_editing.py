"""Editing operations on a real tokenizer, lexmill against the literal model.

    python3 benchmarks/bench_editing.py [--repeat N] [--data DIR] [--model-timeout S] [--no-model]

Each operation runs on a freshly opened Gemma-3 editor (opening is not timed)
and is reported as the median of N runs. The peer is the literal Python model
of the same algorithms in tests/literal_model.py, whose cost grows with the
whole merge list on every edit; it runs once per operation in a child process
and is reported only when it finishes within the timeout (default 60 s).
The model's results are compared with lexmill's where both finish.
"""

import argparse
import contextlib
import json
import multiprocessing
import os
import random
import statistics
import sys
import time
from pathlib import Path

import lexmill

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_DATA = ROOT.parent / "shared" / "data"
TARGET = "gemma3.tokenizer.json"
OTHER = "qwen3.tokenizer.json"


@contextlib.contextmanager
def quiet_stderr():
    """sync_single_chars writes its progress to file descriptor 2."""
    saved = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
        try:
            yield
        finally:
            os.dup2(saved, 2)
            os.close(saved)


def new_words(editor, count, seed):
    """`count` multi-character words that are not in the vocabulary."""
    rng = random.Random(seed)
    alphabet = "abcdefghijklmnopqrstuvwxyzéöß"
    words, seen = [], set()
    while len(words) < count:
        word = "▁" + "".join(rng.choice(alphabet) for _ in range(rng.randint(4, 10)))
        if word not in seen and not editor.has_token(word):
            seen.add(word)
            words.append(word)
    return words


def operations(data):
    """(name, function of an editor) pairs; each function returns a comparable value."""
    probe = lexmill.Lexmill(str(data / TARGET))
    additions = new_words(probe, 10_000, seed=1)
    keep_size = new_words(probe, 1_000, seed=2)
    victims = random.Random(3).sample(sorted(probe.get_vocab()), 10_000)
    other = str(data / OTHER)

    def sync(editor):
        with quiet_stderr():
            return editor.sync_single_chars(other)

    def stats(editor):
        s = editor.get_stats()
        return (s.vocab_size, s.merges_count, s.single_char_count, list(s.length_distribution))

    return [
        ("add_tokens (10,000 new)", lambda e: [r.method for r in e.add_tokens(additions)]),
        ("remove_tokens (10,000)", lambda e: sum(len(r.removed_tokens) for r in e.remove_tokens(victims))),
        ("shrink(10000)", lambda e: e.shrink(10_000).final_vocab_size),
        ("add_tokens_keep_size (1,000 new)", lambda e: e.add_tokens_keep_size(keep_size)),
        ("sync_single_chars (from qwen3)", sync),
        ("validate_merges", lambda e: e.validate_merges().invalid_count),
        ("find_tokens_to_shrink(10000)", lambda e: [c[0] for c in e.find_tokens_to_shrink(10_000)]),
        ("reindex_vocab", lambda e: e.reindex_vocab().ids_remapped),
        ("get_stats", stats),
    ]


def time_lexmill(data, index, repeat):
    name, fn = operations(data)[index]
    times, value = [], None
    for _ in range(repeat):
        editor = lexmill.Lexmill(str(data / TARGET))
        start = time.perf_counter()
        value = fn(editor)
        times.append(time.perf_counter() - start)
    return statistics.median(times), value


class ModelEditor:
    """The literal model behind the method names the operations call."""

    def __init__(self, model):
        self.model = model

    def __getattr__(self, name):
        return getattr(self.model, name)

    def get_stats(self):
        class Stats:
            pass

        stats = Stats()
        for key, value in vars(self.model.get_stats()).items():
            setattr(stats, key, value)
        return stats

    def validate_merges(self):
        return self.model.validate_merges()

    def shrink(self, count, min_id=0):
        return self.model.shrink(count, min_id)


def run_model(data, index, queue):
    sys.path.insert(0, str(ROOT / "tests"))
    import literal_model

    name, fn = operations(data)[index]
    with open(data / TARGET, encoding="utf-8") as f:
        editor = ModelEditor(literal_model.LiteralEditor(json.load(f)))
    queue.put("loaded")
    start = time.perf_counter()
    value = fn(editor)
    queue.put((time.perf_counter() - start, value))


def time_model(data, index, timeout):
    queue = multiprocessing.Queue()
    child = multiprocessing.Process(target=run_model, args=(data, index, queue))
    child.start()
    queue.get()  # loading the model's dicts is not timed
    child.join(timeout + 5)
    if child.is_alive():
        child.kill()
        child.join()
        return None, None
    if queue.empty():
        return None, None
    seconds, value = queue.get()
    return (seconds, value) if seconds <= timeout else (None, None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA)
    parser.add_argument("--model-timeout", type=float, default=60.0)
    parser.add_argument("--no-model", action="store_true")
    args = parser.parse_args()
    if not (args.data / TARGET).exists():
        sys.exit(f"missing {args.data / TARGET}")

    print(f"{TARGET}, median of {args.repeat} runs; literal model once, limit {args.model_timeout:.0f} s")
    print(f"{'operation':36} {'lexmill':>10} {'literal model':>14} {'ratio':>8}  same result")
    for index, (name, _) in enumerate(operations(args.data)):
        seconds, value = time_lexmill(args.data, index, args.repeat)
        model_seconds, model_value = (None, None) if args.no_model else time_model(args.data, index, args.model_timeout)
        if model_seconds is None:
            model_text, ratio, same = "-" if args.no_model else "> limit", "", ""
        else:
            model_text, ratio = f"{model_seconds:.3f} s", f"{model_seconds / seconds:.0f}x"
            same = "yes" if model_value == value else "NO"
        print(f"{name:36} {seconds:>8.3f} s {model_text:>14} {ratio:>8}  {same}", flush=True)


if __name__ == "__main__":
    main()
