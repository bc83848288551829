"""Memory stays flat over many rounds of every method, successful and failing: the reference counts of the classes
(each instance holds one) and of the arguments must not move; leaked buffers show in the resident size."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import subprocess_env, tokenizer_json

BIG = "x" * 8192 + "\u00e9"  # leaked strings of this size show in the resident size quickly
TARGET = tokenizer_json({"<unk>": 0, "a": 1, "b": 2, "c": 3, "ab": 4, "abc": 5, BIG: 6, "\u0120": 7},
                        [("a", "b"), ("ab", "c")], [{"id": 0, "content": "<unk>", "special": True},
                        {"id": 9, "content": "<pad>", "special": True}], pre_tokenizer={"type": "ByteLevel"},
                        model_extra={"unk_token": "<unk>"})
SOURCE = tokenizer_json({"a": 0, "d": 1, "\u2581d": 2, "\u2581": 3, "ad": 4}, [("\u2581", "d")])
CHILD = textwrap.dedent(r'''
    import gc, json, os, sys
    import lexmill

    folder, rounds, BIG, TARGET = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    SOURCE, NOT_JSON, MISSING, OUT = (os.path.join(folder, n + ".json") for n in ("source", "not", "missing", "out"))
    RESULTS = tuple(getattr(lexmill, n) for n in lexmill.__all__ if n not in ("__version__", "Lexmill"))
    EXERCISED, NOT_TEXT = set(), object()

    def use(name, value):
        EXERCISED.add(name)
        for result in value if isinstance(value, list) else [value]:
            if isinstance(result, RESULTS):
                [getattr(result, field) for field in dir(type(result)) if not field.startswith("_")]
        return value

    def one_round():
        opened = use("__init__", lexmill.Lexmill(SOURCE))
        e = use("from_json", lexmill.Lexmill.from_json(TARGET))
        results = [use(name, call()) for name, call in [
            ("save", lambda: e.save(OUT)), ("to_json", e.to_json), ("vocab_size", lambda: e.vocab_size),
            ("merges_count", lambda: e.merges_count), ("__repr__", lambda: repr(e)),
            ("has_token", lambda: e.has_token(BIG)), ("get_token_id", lambda: e.get_token_id("nope" + BIG)),
            ("get_token_by_id", lambda: (e.get_token_by_id(6), e.get_token_by_id(123456))),
            ("get_vocab", e.get_vocab), ("get_merges", e.get_merges),
            ("get_single_char_tokens", e.get_single_char_tokens), ("check_vocab_gaps", e.check_vocab_gaps),
            ("get_stats", e.get_stats), ("validate_merges", e.validate_merges),
            ("remove_invalid_merges", e.remove_invalid_merges), ("add_token", lambda: e.add_token("ab" + BIG)),
            ("add_tokens", lambda: e.add_tokens(["abcd", "a", BIG + "q"], reachable=True)),
            ("add_token_atomic", lambda: e.add_token_atomic("<s>" + BIG)),
            ("remove_token", lambda: e.remove_token("ab" + BIG)),
            ("remove_tokens", lambda: e.remove_tokens(["abcd", "missing", BIG + "q"])),
            ("find_tokens_to_shrink", lambda: e.find_tokens_to_shrink(3, min_id=1)), ("shrink", lambda: e.shrink(1)),
            ("add_tokens_keep_size", lambda: e.add_tokens_keep_size(["bcd", "cb"], whitelist=["a"])),
            ("sync_single_chars", lambda: e.sync_single_chars(SOURCE, 1)),
            ("reindex_vocab", e.reindex_vocab), ("pin_added_tokens", e.pin_added_tokens),
            ("spell", lambda: e.spell(" " + BIG)), ("merge_from", lambda: e.merge_from(SOURCE, 64)),
        ]]
        # A token list whose reading uses the editor it is passed to.
        calls_back = type("CallsBack", (), {"__len__": lambda s: 1, "__getitem__": lambda s, i: e.vocab_size})
        for exception, call in [  # every kind of error the call layer raises
            (OSError, lambda: lexmill.Lexmill(NOT_JSON)), (ValueError, lambda: lexmill.Lexmill.from_json("{" + BIG)),
            (OSError, lambda: e.save(folder)), (OSError, lambda: e.merge_from(MISSING)),
            (ValueError, lambda: opened.spell(BIG)), (TypeError, lambda: e.has_token(token=BIG, extra=1)),
            (TypeError, lambda: e.save(NOT_TEXT)), (TypeError, lambda: e.save(BIG, NOT_TEXT)),
            (OverflowError, lambda: e.shrink(1, 2 ** 40)), (TypeError, lambda: e.add_tokens(["a", NOT_TEXT])),
            (UnicodeEncodeError, lambda: e.has_token("\ud800" + BIG)), (RuntimeError, lambda: e.add_tokens(calls_back())),
            (TypeError, lambda: lexmill.AdditionResult()), (AttributeError, lambda: setattr(results[12], "vocab_size", 1)),
        ]:
            try:
                call()
            except exception:
                continue
            raise AssertionError("no %s" % exception.__name__)
        return e, opened, results

    def resident_bytes():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def refcounts():
        gc.collect()
        names = [name for name in lexmill.__all__ if name != "__version__"]
        return [sys.getrefcount(x) for x in [*(getattr(lexmill, name) for name in names), BIG, NOT_TEXT]]

    kept = [one_round() for _ in range(3)]
    for _ in range(2 * rounds):  # the first rounds may still settle allocator pools
        one_round()
    counts, sizes = refcounts(), [resident_bytes()]
    for _ in range(rounds):
        one_round()
    gc.collect()
    sizes.append(resident_bytes())
    public = {n for n in dir(lexmill.Lexmill) if not n.startswith("_")} | {"__init__", "__repr__"}
    print(json.dumps({"sizes": sizes, "counts": [counts, refcounts()], "not_exercised": sorted(public - EXERCISED)}))
''')


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to read resident size")
def test_memory_stays_flat(tmp_path):
    (tmp_path / "source.json").write_text(SOURCE, encoding="utf-8")
    (tmp_path / "not.json").write_text("{" + BIG, encoding="utf-8")
    run = subprocess.run([sys.executable, "-c", CHILD, str(tmp_path), "100", BIG, TARGET],
                         capture_output=True, text=True, timeout=600, env=subprocess_env())
    assert run.returncode == 0, run.stderr[-4000:]
    measured = json.loads(run.stdout.strip().splitlines()[-1])
    assert measured["not_exercised"] == [] and measured["counts"][0] == measured["counts"][1]
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):  # AddressSanitizer holds freed memory back
        # A leak of one result per round would add about 800 KiB (100 rounds of 8 KiB strings).
        first, second = measured["sizes"]
        assert second - first < 512 * 1024, measured["sizes"]
