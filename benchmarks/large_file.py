"""Does opening stay linear in the file's size? Gemma-3 grown ninefold, opened beside the original.

    python3 benchmarks/large_file.py [--data DIR] [--runs N] [--tokens N]

The large file is made at run time in a temporary directory and removed
afterwards: Gemma-3 with random words added by `add_tokens` until the
vocabulary holds --tokens entries (3.78 million by default, with about as
many merges), saved as `save` writes it (about 290 MB). Each file is opened
--runs times in a child process of its own, which reports the median time and
its peak resident size (VmHWM) less what it held before opening: the time per
byte of the large file should stay near Gemma-3's, and the peak under twice
the file.
"""

import argparse
import json
import random
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import lexmill

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_DATA = ROOT.parent / "shared" / "data"
LARGE_TOKENS = 3_780_000

# For the child processes that measure memory: a field of /proc/self/status, in KiB.
STATUS = r"""
def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
"""

OPENING_PROBE = STATUS + r"""
import json, statistics, sys, time

import lexmill
before = status("VmHWM")
times = []
for _ in range(int(sys.argv[2])):
    start = time.perf_counter()
    editor = lexmill.Lexmill(sys.argv[1])
    times.append(time.perf_counter() - start)
    counts = (editor.vocab_size, editor.merges_count)
    del editor
print(json.dumps({"seconds": statistics.median(times), "peak_kib": status("VmHWM") - before,
                  "vocab": counts[0], "merges": counts[1]}))
"""


def grow(source, target, tokens, seed=13):
    """Saves `source` with random words added until the vocabulary holds `tokens` entries."""
    editor = lexmill.Lexmill(str(source))
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz"
    while editor.vocab_size < tokens:
        # Each word brings its own chain of new tokens, about three of them.
        count = min((tokens - editor.vocab_size) // 3 + 1, 200_000)
        editor.add_tokens(["\u2581" + "".join(rng.choices(letters, k=rng.randint(5, 9))) for _ in range(count)])
    editor.pin_added_tokens()
    editor.save(str(target))


def opening(path, runs):
    out = subprocess.run([sys.executable, "-c", OPENING_PROBE, str(path), str(runs)],
                         capture_output=True, text=True, check=True)
    result = json.loads(out.stdout)
    result["bytes"] = path.stat().st_size
    return result


def measure(data, runs, tokens=LARGE_TOKENS):
    """(label, result) for Gemma-3 and for Gemma-3 grown to `tokens` tokens, each opened in a child process."""
    with tempfile.TemporaryDirectory() as tmp:
        large = Path(tmp) / "gemma3-grown.tokenizer.json"
        started = time.perf_counter()
        grow(data / "gemma3.tokenizer.json", large, tokens)
        print(f"  generated {large.stat().st_size / 1e6:.0f} MB in {time.perf_counter() - started:.0f} s", flush=True)
        return [("gemma3", opening(data / "gemma3.tokenizer.json", runs)),
                (f"gemma3 grown to {tokens / 1e6:.2f}M tokens", opening(large, runs))]


def rows(measured):
    """Table rows: file, size, vocabulary, merges, open, time per byte against the first file, peak, peak per file size."""
    base = measured[0][1]["seconds"] / measured[0][1]["bytes"]
    out = []
    for label, r in measured:
        size_mib = r["bytes"] / 2**20
        out.append([label, f"{r['bytes'] / 1e6:.1f} MB", f"{r['vocab']:,}", f"{r['merges']:,}",
                    f"{r['seconds'] * 1e3:.0f} ms", f"{r['seconds'] / r['bytes'] / base:.2f}x",
                    f"{r['peak_kib'] / 1024:.0f} MiB", f"{r['peak_kib'] / 1024 / size_mib:.2f}x"])
    return out


COLUMNS = ["file", "size", "vocabulary", "merges", "open (median)", "time per byte vs gemma3",
           "peak resident", "peak / file size"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA)
    parser.add_argument("--runs", type=int, default=5, help="openings per file (median)")
    parser.add_argument("--tokens", type=int, default=LARGE_TOKENS, help="vocabulary size of the grown file")
    args = parser.parse_args()
    if not (args.data / "gemma3.tokenizer.json").exists():
        sys.exit(f"missing {args.data / 'gemma3.tokenizer.json'}")
    table = [COLUMNS] + rows(measure(args.data, args.runs, args.tokens))
    widths = [max(len(row[i]) for row in table) for i in range(len(COLUMNS))]
    for row in table:
        print("  ".join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths))))


if __name__ == "__main__":
    main()
