"""Opening, exporting and saving real tokenizers with lexmill, against Python's json.

    python3 benchmarks/bench_open_save.py [--repeat N] [--data DIR]

For each of gemma3.tokenizer.json and qwen3.tokenizer.json it times, as the
median of N runs:

    open     Lexmill(path)        against json.load
    export   Lexmill.to_json()    against json.dumps(indent=2, sort_keys=True, ensure_ascii=False)
    save     Lexmill.save(path)   against the same json.dumps and writing the file

and then measures, in a fresh interpreter each, how much resident memory an
open Gemma-3 editor holds compared with the file size (and with the objects
of json.load). Files are written only to a temporary directory.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import lexmill

DEFAULT_DATA = Path(__file__).resolve().parent.parent.parent / "shared" / "data"
FILES = ("gemma3.tokenizer.json", "qwen3.tokenizer.json")
MEMORY_FILE = "gemma3.tokenizer.json"


def median_seconds(fn, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def json_load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def json_dumps(doc):
    return json.dumps(doc, indent=2, sort_keys=True, ensure_ascii=False)


def json_save(doc, path):
    with open(path, "w", encoding="utf-8") as f:
        f.write(json_dumps(doc))


def time_file(path, out_dir, repeat):
    """Rows (operation, lexmill seconds, json seconds) for one tokenizer file."""
    path = str(path)
    editor = lexmill.Lexmill(path)
    doc = json_load(path)
    lexmill_out = os.path.join(out_dir, "lexmill.json")
    json_out = os.path.join(out_dir, "json.json")
    return [
        ("open", median_seconds(lambda: lexmill.Lexmill(path), repeat),
         median_seconds(lambda: json_load(path), repeat)),
        ("export", median_seconds(editor.to_json, repeat),
         median_seconds(lambda: json_dumps(doc), repeat)),
        ("save", median_seconds(lambda: editor.save(lexmill_out), repeat),
         median_seconds(lambda: json_save(doc, json_out), repeat)),
    ]


# Run in a fresh interpreter so that nothing else this script allocated
# shows up in the figures. Prints: RSS before, RSS after, peak RSS (KiB).
MEMORY_PROBE = r"""
import sys

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise SystemExit(field + " not in /proc/self/status")

kind, path = sys.argv[1], sys.argv[2]
if kind == "lexmill":
    import lexmill
    open_it = lambda: lexmill.Lexmill(path)
else:
    import json
    def open_it():
        with open(path, encoding="utf-8") as f:
            return json.load(f)
before = status("VmRSS")
held = open_it()
print(before, status("VmRSS"), status("VmHWM"))
"""


def resident_kib(kind, path):
    """(held, peak) resident memory in KiB that opening `path` adds."""
    result = subprocess.run(
        [sys.executable, "-c", MEMORY_PROBE, kind, str(path)],
        capture_output=True, text=True, check=True,
    )
    before, after, peak = (int(x) for x in result.stdout.split())
    return after - before, peak - before


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="runs per measurement (median)")
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA, help="folder of the tokenizer files")
    args = parser.parse_args()
    if args.repeat < 1:
        parser.error("--repeat must be at least 1")

    paths = [args.data / name for name in FILES]
    missing = [str(p) for p in paths if not p.exists()]
    if missing:
        sys.exit("missing tokenizer files: " + ", ".join(missing))

    print(f"median of {args.repeat} runs; ratio = json time / lexmill time\n")
    header = f"{'file':<24} {'operation':<9} {'lexmill ms':>11} {'json ms':>10} {'ratio':>8}"
    print(header)
    print("-" * len(header))
    with tempfile.TemporaryDirectory() as out_dir:
        for path in paths:
            label = f"{path.name.split('.')[0]} ({path.stat().st_size / 2**20:.1f} MiB)"
            for operation, ours, theirs in time_file(path, out_dir, args.repeat):
                print(f"{label:<24} {operation:<9} {ours * 1e3:>11.1f} {theirs * 1e3:>10.1f} "
                      f"{theirs / ours:>7.1f}x")
                label = ""

    path = args.data / MEMORY_FILE
    size_kib = path.stat().st_size / 1024
    print(f"\nresident memory added by opening {path.name} ({size_kib / 1024:.1f} MiB file), "
          "each in a fresh interpreter")
    for kind, what in (("lexmill", "Lexmill(path)"), ("json", "json.load")):
        held, peak = resident_kib(kind, path)
        print(f"  {what:<14} holds {held / 1024:7.1f} MiB ({held / size_kib:4.1f}x the file), "
              f"peak {peak / 1024:7.1f} MiB ({peak / size_kib:4.1f}x)")


if __name__ == "__main__":
    main()
