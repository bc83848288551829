"""Merging one real tokenizer into another with Lexmill.merge_from.

    python3 benchmarks/bench_merge.py [--repeat N] [--data DIR]

Times, as the median of N runs on a freshly opened target each time (opening
the target is not timed; opening the source is, as merge_from does it):

    qwen3 (byte-level) into gemma3 (space marker), default limit 262144
    gemma3 into qwen3, with a limit that fits everything (400000)

and prints the result counts of the last run.
"""

import argparse
import statistics
import sys
import time
from pathlib import Path

import lexmill

DEFAULT_DATA = Path(__file__).resolve().parent.parent.parent / "shared" / "data"
CASES = [
    ("qwen3 into gemma3", "gemma3.tokenizer.json", "qwen3.tokenizer.json", 262144),
    ("gemma3 into qwen3", "qwen3.tokenizer.json", "gemma3.tokenizer.json", 400000),
]
FIELDS = [
    "initial_target_vocab_size", "source_vocab_size", "final_model_vocab_size", "final_vocab_size",
    "tokens_injected", "target_tokens_removed", "bridge_tokens_added", "bridge_merges_added",
    "source_merges_added", "target_merges_retained", "representation",
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA)
    args = parser.parse_args()
    for name, target, source, limit in CASES:
        if not (args.data / target).exists() or not (args.data / source).exists():
            sys.exit(f"missing files in {args.data}")
        times = []
        for _ in range(args.repeat):
            editor = lexmill.Lexmill(str(args.data / target))
            start = time.perf_counter()
            result = editor.merge_from(str(args.data / source), limit)
            times.append(time.perf_counter() - start)
        print(f"{name} (max_vocab_size {limit}): median {statistics.median(times):.3f} s "
              f"(min {min(times):.3f}, max {max(times):.3f}) over {args.repeat} runs")
        for field in FIELDS:
            print(f"    {field:26} {getattr(result, field)}")


if __name__ == "__main__":
    main()
