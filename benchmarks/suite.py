"""How fast is lexmill? Every operation on real tokenizers, against what a user would otherwise run.

    python3 benchmarks/suite.py [--repeat N] [--data DIR] [--out FILE] [--quick]

Files: gemma3 (262,144 tokens) and qwen3 (151,643) from DIR, plus copies of
gemma3 cut to its first 10k, 50k and 150k tokens with the merges among them,
to show how each cost grows with size. Peers, measured on the same files in
the same run:

- Python's json module doing the same file work (json.load; json.dumps with
  indent=2, sort_keys=True, ensure_ascii=False; writing the file), and
  json.loads building the same vocabulary dict and merge list;
- the `tokenizers` package (Tokenizer.from_file, Tokenizer.save), if installed;
- simdjson alone parsing the same bytes (benchmarks/simdjson_parse.cpp).

Opening is also measured on gemma3 grown ninefold (benchmarks/large_file.py),
which shows whether its cost stays linear in the file's size.

Edits have no peer: they are timed on their own, one edit per call at several
vocabulary sizes (its cost must not grow with the file) and large edits on the
whole files.

Times are medians of N runs. The table is printed and written to FILE
(default benchmarks/RESULTS.md) with the machine it ran on and the command.
Temporary files go to a temporary directory only.
"""

import argparse
import contextlib
import datetime
import json
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import lexmill
import large_file

try:
    import tokenizers
except ImportError:  # the peer is optional
    tokenizers = None

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_DATA = ROOT.parent / "shared" / "data"
SCALES = (10_000, 50_000, 150_000)


def median_seconds(fn, repeat, setup=None):
    times = []
    for _ in range(repeat):
        state = setup() if setup else None
        start = time.perf_counter()
        fn(state) if setup else fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


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


class Table:
    def __init__(self, title, columns):
        self.title, self.columns, self.rows = title, columns, []

    def add(self, *cells):
        self.rows.append([str(c) for c in cells])
        print(f"  {self.title.split(' (')[0].lower()}: " + " | ".join(self.rows[-1]), flush=True)

    def show(self):
        widths = [max(len(row[i]) for row in [self.columns] + self.rows) for i in range(len(self.columns))]
        print(f"\n{self.title}")
        for row in [self.columns] + self.rows:
            print("  ".join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths))))

    def markdown(self):
        lines = [f"### {self.title}", "", "| " + " | ".join(self.columns) + " |",
                 "|" + "|".join("---" for _ in self.columns) + "|"]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        return "\n".join(lines) + "\n"


def ms(seconds):
    return f"{seconds * 1e3:.1f} ms"


def us(seconds):
    return f"{seconds * 1e6:.0f} µs"


def ratio(slow, fast):
    return f"{slow / fast:.1f}x" if fast > 0 else "-"


# ---------------------------------------------------------------- files


def cut(doc, count):
    """The first `count` tokens by ID, the merges among them, the added tokens below `count`."""
    vocab = {t: i for t, i in doc["model"]["vocab"].items() if i < count}
    merges = [m for m in doc["model"]["merges"] if m[0] in vocab and m[1] in vocab and m[0] + m[1] in vocab]
    out = dict(doc)
    out["model"] = dict(doc["model"], vocab=vocab, merges=merges)
    out["added_tokens"] = [e for e in doc["added_tokens"] if e.get("id", 0) < count]
    return out


def prepare_files(data, work, quick):
    files = [("gemma3", data / "gemma3.tokenizer.json"), ("qwen3", data / "qwen3.tokenizer.json")]
    with open(files[0][1], encoding="utf-8") as f:
        gemma = json.load(f)
    scaled = []
    for count in (SCALES[:1] if quick else SCALES):
        path = work / f"gemma3-{count // 1000}k.tokenizer.json"
        path.write_text(json.dumps(cut(gemma, count), indent=2, ensure_ascii=False), encoding="utf-8")
        scaled.append((f"gemma3 {count // 1000}k", path))
    return files, scaled


# ---------------------------------------------------------------- file work


def simdjson_alone(path, work, repeat):
    binary = work / "simdjson_parse"
    if not binary.exists():
        if shutil.which("g++") is None:
            return None
        subprocess.run(["g++", "-std=c++20", "-O2", str(ROOT / "benchmarks" / "simdjson_parse.cpp"),
                        "-lsimdjson", "-o", str(binary)], check=True)
    out = subprocess.run([str(binary), str(path), str(max(repeat, 5))], capture_output=True, text=True, check=True)
    fresh, warm = (float(x) / 1e3 for x in out.stdout.split())
    return fresh, warm


def file_work(files, work, repeat, tables):
    opening, saving, reading = tables
    for label, path in files:
        path = str(path)
        editor = lexmill.Lexmill(path)
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)

        def json_load():
            with open(path, encoding="utf-8") as f:
                return json.load(f)

        def json_save():
            with open(work / "json-out.json", "w", encoding="utf-8") as f:
                f.write(json.dumps(doc, indent=2, sort_keys=True, ensure_ascii=False))

        ours = median_seconds(lambda: lexmill.Lexmill(path), repeat)
        theirs = median_seconds(json_load, repeat)
        alone = simdjson_alone(path, work, repeat)
        row = [f"{label} open", ms(ours), ms(theirs), ratio(theirs, ours)]
        if tokenizers:
            tk = median_seconds(lambda: tokenizers.Tokenizer.from_file(path), repeat)
            row += [ms(tk), ratio(tk, ours)]
        else:
            row += ["-", "-"]
        if alone:
            fresh, warm = alone
            row += [ms(fresh), f"{ours / fresh:.1f}x", ms(warm), f"{ours / warm:.1f}x"]
        else:
            row += ["-"] * 4
        opening.add(*row)

        ours = median_seconds(lambda: editor.save(str(work / "lexmill-out.json")), repeat)
        theirs = median_seconds(json_save, repeat)
        row = [f"{label} save", ms(ours), ms(theirs), ratio(theirs, ours)]
        if tokenizers:
            tk_editor = tokenizers.Tokenizer.from_file(path)
            tk = median_seconds(lambda: tk_editor.save(str(work / "tk-out.json")), repeat)
            row += [ms(tk), ratio(tk, ours)]
        else:
            row += ["-", "-"]
        saving.add(*row)

        vocab_text = json.dumps(doc["model"]["vocab"], ensure_ascii=False)
        merges_text = json.dumps(doc["model"]["merges"], ensure_ascii=False)
        ids = sorted(set(doc["model"]["vocab"].values()))
        for name, fn, peer in [
            ("to_json", editor.to_json, lambda: json.dumps(doc, indent=2, ensure_ascii=False)),
            ("get_vocab", editor.get_vocab, lambda: json.loads(vocab_text)),
            ("get_merges", editor.get_merges, lambda: json.loads(merges_text)),
        ]:
            ours, theirs = median_seconds(fn, repeat), median_seconds(peer, repeat)
            reading.add(f"{label} {name}", ms(ours), ms(theirs), ratio(theirs, ours))
        lookup = editor.get_token_by_id
        ours = median_seconds(lambda: [lookup(i) for i in ids], repeat)
        reading.add(f"{label} get_token_by_id, every ID", ms(ours), "-", "-")


# ---------------------------------------------------------------- edits


def fresh_words(has_token, count, seed, prefix="▁"):
    rng = random.Random(seed)
    alphabet = "abcdefghijklmnopqrstuvwxyzéöß"
    words, seen = [], set()
    while len(words) < count:
        word = prefix + "".join(rng.choice(alphabet) for _ in range(rng.randint(4, 10)))
        if word not in seen and not has_token(word):
            seen.add(word)
            words.append(word)
    return words


def leaves(editor, count, seed):
    """Tokens of two or more characters that no merge uses."""
    used = {part for merge in editor.get_merges() for part in merge}
    candidates = sorted(t for t in editor.get_vocab() if len(t) > 1 and t not in used)
    return random.Random(seed).sample(candidates, min(count, len(candidates)))


SINGLE_EDITS = ["add_token", "remove_token (leaf)", "add_tokens_keep_size (1 token)"]
CALLS = 40


def single_edit_calls(editor):
    """(name, list of zero-argument calls) for the edits whose cost must not grow with the file."""
    words = fresh_words(editor.has_token, 2 * CALLS + 1, seed=7)
    victims = leaves(editor, CALLS, seed=8)
    return [
        (SINGLE_EDITS[0], [lambda w=w: editor.add_token(w) for w in words[:CALLS]]),
        (SINGLE_EDITS[1], [lambda t=t: editor.remove_token(t) for t in victims]),
        (SINGLE_EDITS[2], [lambda w=w: editor.add_tokens_keep_size([w]) for w in words[CALLS:2 * CALLS]]),
    ], words[-1]


def time_calls(calls):
    times = []
    for call in calls:
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def edit_scaling(files, table):
    for label, path in files:
        editor = lexmill.Lexmill(str(path))
        calls, warm_up = single_edit_calls(editor)
        # The first edit after opening builds the merge indexes, once.
        start = time.perf_counter()
        editor.add_token(warm_up)
        first = time.perf_counter() - start
        for name, batch in calls:
            table.add(f"{label}: {name}", us(time_calls(batch)))
        table.add(f"{label}: first edit after opening", ms(first))


def big_edit_operations(data):
    probe = lexmill.Lexmill(str(data / "gemma3.tokenizer.json"))
    additions = fresh_words(probe.has_token, 10_000, seed=1)
    keep = fresh_words(probe.has_token, 1_000, seed=2)
    victims = random.Random(3).sample(sorted(probe.get_vocab()), 10_000)
    qwen, gemma = str(data / "qwen3.tokenizer.json"), str(data / "gemma3.tokenizer.json")

    def sync(source):
        def run(editor):
            with quiet_stderr():
                return editor.sync_single_chars(source)
        return run

    def stats(editor):
        s = editor.get_stats()
        return (s.vocab_size, s.merges_count, s.single_char_count, list(s.length_distribution))

    def reindexed(editor):
        result = editor.reindex_vocab()
        return result.ids_remapped, len(result.old_ids)

    return [
        ("gemma3", "add_tokens (10,000 new)", lambda e: [r.method for r in e.add_tokens(additions)]),
        ("gemma3", "add_tokens reachable (10,000 new)",
         lambda e: [r.method for r in e.add_tokens(additions, reachable=True)]),
        ("gemma3", "remove_tokens (10,000)", lambda e: sum(len(r.removed_tokens) for r in e.remove_tokens(victims))),
        ("gemma3", "shrink(10000)", lambda e: e.shrink(10_000).final_vocab_size),
        ("gemma3", "add_tokens_keep_size (1,000 new)", lambda e: e.add_tokens_keep_size(keep)),
        ("gemma3", "add_tokens_keep_size reachable (1,000 new)", lambda e: e.add_tokens_keep_size(keep, reachable=True)),
        ("gemma3", "sync_single_chars from qwen3", sync(qwen)),
        ("qwen3", "sync_single_chars from gemma3", sync(gemma)),
        ("gemma3", "validate_merges", lambda e: e.validate_merges().invalid_count),
        ("gemma3", "find_tokens_to_shrink(10000)", lambda e: [c[0] for c in e.find_tokens_to_shrink(10_000)]),
        ("gemma3", "shrink(1000), then reindex_vocab", lambda e: (e.shrink(1000), reindexed(e))[1]),
        ("gemma3 shrunk by 1000", "reindex_vocab with its ID map", reindexed),
        ("gemma3", "get_stats", stats),
        ("gemma3", "merge_from qwen3 (default limit)", lambda e: e.merge_from(qwen).final_vocab_size),
        ("qwen3", "merge_from gemma3 (limit 400000)", lambda e: e.merge_from(gemma, 400_000).final_vocab_size),
    ]


def opened(data, target):
    """A fresh editor of `target`: a file name, or "gemma3 shrunk by 1000"."""
    name, _, shrunk = target.partition(" shrunk by ")
    editor = lexmill.Lexmill(str(data / f"{name}.tokenizer.json"))
    if shrunk:
        editor.shrink(int(shrunk))
    return editor


def big_edits(data, repeat, table):
    for target, name, fn in big_edit_operations(data):
        table.add(f"{target}: {name}", ms(median_seconds(fn, repeat, lambda: opened(data, target))))


# ---------------------------------------------------------------- memory

MEMORY_PROBE = large_file.STATUS + r"""
import sys

import lexmill
before = status("VmRSS")
editor = lexmill.Lexmill(sys.argv[1])
opened = status("VmRSS")
editor.add_token("\u2581lexmillprobe")
print(before, opened, status("VmRSS"), status("VmHWM"))
"""


def memory(path, table):
    out = subprocess.run([sys.executable, "-c", MEMORY_PROBE, str(path)], capture_output=True, text=True, check=True)
    before, opened, edited, peak = (int(x) for x in out.stdout.split())
    size = path.stat().st_size / 1024
    table.add("open editor", f"{(opened - before) / 1024:.1f} MiB", f"{(opened - before) / size:.2f}x")
    table.add("after the first edit (merge indexes built)", f"{(edited - before) / 1024:.1f} MiB",
              f"{(edited - before) / size:.2f}x")
    table.add("peak while opening and editing", f"{(peak - before) / 1024:.1f} MiB", f"{(peak - before) / size:.2f}x")


# ---------------------------------------------------------------- main


def machine():
    cpu = "unknown CPU"
    with contextlib.suppress(OSError):
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return (f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}; "
            f"Python {platform.python_version()}; lexmill {lexmill.__version__}"
            + (f"; tokenizers {tokenizers.__version__}" if tokenizers else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="runs per measurement (median)")
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA)
    parser.add_argument("--out", type=Path, default=ROOT / "benchmarks" / "RESULTS.md")
    parser.add_argument("--quick", action="store_true", help="one scaled copy only, and no large generated file")
    args = parser.parse_args()
    for name in ("gemma3.tokenizer.json", "qwen3.tokenizer.json"):
        if not (args.data / name).exists():
            sys.exit(f"missing {args.data / name}")

    tables = [
        Table("Opening a file", ["operation", "lexmill", "json.load", "ratio", "tokenizers", "ratio",
                                 "simdjson, fresh parser", "lexmill / that", "simdjson, warm parser",
                                 "lexmill / that"]),
        Table("Saving a file", ["operation", "lexmill", "json route", "ratio", "tokenizers", "ratio"]),
        Table("Exporting and reading", ["operation", "lexmill", "json", "ratio"]),
        Table("One edit, by vocabulary size (median per call)", ["operation", "lexmill"]),
        Table("Large edits (median; opening not timed)", ["operation", "lexmill"]),
        Table("Memory held by an open Gemma-3 editor (33.4 MB file)", ["state", "resident", "x file size"]),
        Table("Opening a large generated file (each file in a child process of its own)", large_file.COLUMNS),
    ]
    started = time.time()
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        files, scaled = prepare_files(args.data, work, args.quick)
        file_work(files + scaled, work, args.repeat, tables[:3])
        edit_scaling(scaled + files[:1], tables[3])
        big_edits(args.data, args.repeat, tables[4])
        memory(args.data / "gemma3.tokenizer.json", tables[5])
        if not args.quick:
            for row in large_file.rows(large_file.measure(args.data, args.repeat)):
                tables[6].add(*row)
    for table in tables:
        table.show()

    command = "python3 benchmarks/suite.py " + " ".join(sys.argv[1:])
    report = [
        "# lexmill benchmark results",
        "",
        f"Measured {datetime.date.today().isoformat()} in {time.time() - started:.0f} s on {machine()}.",
        "",
        f"Command: `{command.strip()}`. Times are medians of {args.repeat} runs; ratios are peer time / lexmill time,",
        "except \"lexmill / that\", the time lexmill takes to open a file per unit of the time simdjson alone takes",
        "to parse it (benchmarks/simdjson_parse.cpp, DOM, fully validating): with a fresh parser, as a one-off",
        "parse needs, and with a parser whose buffers an earlier parse of the file sized and touched.",
        "The scaled copies are gemma3 cut to its first N tokens by ID with the merges among them.",
        "The large generated file is gemma3 with random words added by add_tokens, saved; its peak is the",
        "resident size a child process reaches opening it, less what it held before (benchmarks/large_file.py).",
        "",
    ]
    report += [t.markdown() for t in tables]
    args.out.write_text("\n".join(report), encoding="utf-8")
    print(f"\nwritten to {args.out}")


if __name__ == "__main__":
    main()
