"""Memory stays flat over many calls of every method and property.

A child interpreter calls every method and property of the editor and reads
every attribute of every result, with successful and failing calls, dropping
most results and keeping some. Its resident size must stop growing once warm,
and no class may gain references: an instance that is never freed keeps a
reference to its class, so a leaked object of any of the eight classes shows
up there.
"""

import json
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import subprocess_env

pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to read resident size")

CHILD = textwrap.dedent(
    r'''
    import gc, json, os, sys
    import lexmill

    folder = sys.argv[1]
    rounds = int(sys.argv[2])

    # Leaked strings of this size show in the resident size quickly.
    BIG = "x" * 8192 + "\u00e9"

    def document(vocab, merges=(), added_tokens=(), **sections):
        doc = {"version": "1.0", "added_tokens": list(added_tokens),
               "model": {"type": "BPE", "unk_token": "<unk>", "vocab": vocab, "merges": [list(m) for m in merges]}}
        doc.update(sections)
        return json.dumps(doc)

    TARGET = document(
        {"<unk>": 0, "a": 1, "b": 2, "c": 3, "ab": 4, "abc": 5, BIG: 6, "\u0120": 7},
        [("a", "b"), ("ab", "c")],
        [{"id": 0, "content": "<unk>", "special": True}, {"id": 9, "content": "<pad>", "special": True}],
        pre_tokenizer={"type": "ByteLevel"},
    )
    SOURCE = os.path.join(folder, "source.json")
    with open(SOURCE, "w") as f:
        f.write(document({"a": 0, "d": 1, "\u2581d": 2, "\u2581": 3, "ad": 4}, [("\u2581", "d")]))
    SAME_CHARS = os.path.join(folder, "same_chars.json")
    with open(SAME_CHARS, "w") as f:
        f.write(document({"a": 0, "b": 1}))
    NOT_JSON = os.path.join(folder, "not.json")
    with open(NOT_JSON, "w") as f:
        f.write("{" + BIG)
    MISSING = os.path.join(folder, "missing.json")
    OUT = os.path.join(folder, "out.json")

    def read_all(result):
        for name in dir(type(result)):
            if not name.startswith("_"):
                getattr(result, name)
        return result

    def fails(exception, call):
        try:
            call()
        except exception:
            return
        raise AssertionError("no %s from %r" % (exception.__name__, call))

    class CallsBack:
        """A token list whose iteration uses the editor it is being passed to."""
        def __init__(self, editor):
            self.editor = editor
        def __len__(self):
            return 1
        def __getitem__(self, index):
            if index:
                raise IndexError
            self.editor.vocab_size
            return "z"

    EXERCISED = set()

    def use(name, value):
        EXERCISED.add(name)
        return value

    def one_round(keep):
        opened = use("__init__", lexmill.Lexmill(SOURCE))
        editor = use("from_json", lexmill.Lexmill.from_json(TARGET))
        results = [
            use("save", editor.save(OUT)),
            use("to_json", editor.to_json()),
            use("vocab_size", editor.vocab_size),
            use("merges_count", editor.merges_count),
            use("__repr__", repr(editor)),
            str(editor),
            use("has_token", editor.has_token(BIG)),
            use("get_token_id", (editor.get_token_id(BIG), editor.get_token_id("nope" + BIG))),
            use("get_token_by_id", (editor.get_token_by_id(6), editor.get_token_by_id(123456))),
            use("get_vocab", editor.get_vocab()),
            use("get_merges", editor.get_merges()),
            use("get_single_char_tokens", editor.get_single_char_tokens()),
            use("check_vocab_gaps", editor.check_vocab_gaps()),
            use("get_stats", read_all(editor.get_stats())),
            use("validate_merges", read_all(editor.validate_merges())),
            use("remove_invalid_merges", editor.remove_invalid_merges()),
            use("add_token", read_all(editor.add_token("ab" + BIG))),
            use("add_tokens", [read_all(r) for r in editor.add_tokens(["abcd", "a", BIG + "q"], reachable=True)]),
            use("add_token_atomic", editor.add_token_atomic("<s>" + BIG)),
            use("remove_token", read_all(editor.remove_token("ab" + BIG))),
            use("remove_tokens", [read_all(r) for r in editor.remove_tokens(["abcd", "missing", BIG + "q"])]),
            use("find_tokens_to_shrink", editor.find_tokens_to_shrink(3, min_id=1)),
            use("shrink", read_all(editor.shrink(1))),
            use("add_tokens_keep_size", editor.add_tokens_keep_size(["bcd", "cb"], whitelist=["a"])),
            use("sync_single_chars", (editor.sync_single_chars(SAME_CHARS), editor.sync_single_chars(SOURCE, 1))),
            use("reindex_vocab", read_all(editor.reindex_vocab())),
            use("pin_added_tokens", editor.pin_added_tokens()),
            use("spell", editor.spell(" " + BIG)),
            use("merge_from", read_all(editor.merge_from(SOURCE, 64))),
            opened.get_vocab(),
        ]
        # Failing calls: every kind of error the call layer raises.
        fails(OSError, lambda: lexmill.Lexmill(MISSING))
        fails(OSError, lambda: lexmill.Lexmill(NOT_JSON))
        fails(ValueError, lambda: lexmill.Lexmill.from_json("{" + BIG))
        fails(ValueError, lambda: lexmill.Lexmill.from_json(TARGET.replace('"BPE"', '"WordPiece"')))
        fails(OSError, lambda: editor.save(folder))
        fails(OSError, lambda: editor.merge_from(MISSING))
        fails(ValueError, lambda: editor.merge_from(SOURCE, 0))
        fails(ValueError, lambda: opened.spell(BIG))
        fails(OSError, lambda: editor.sync_single_chars(NOT_JSON))
        fails(TypeError, lambda: editor.has_token(1))
        fails(TypeError, lambda: editor.has_token(token=BIG, extra=1))
        fails(OverflowError, lambda: editor.get_token_by_id(-1))
        fails(OverflowError, lambda: editor.shrink(1, 2 ** 40))
        fails(TypeError, lambda: editor.shrink(1, 2, 3))
        fails(TypeError, lambda: editor.shrink(cnt=1))
        fails(TypeError, lambda: editor.add_tokens(BIG))
        fails(TypeError, lambda: editor.add_tokens(["a", 1]))
        fails(TypeError, lambda: editor.add_tokens_keep_size(["a"], whitelist=BIG))
        fails(TypeError, lambda: editor.to_json(1))
        fails(UnicodeEncodeError, lambda: editor.has_token("\ud800" + BIG))
        fails(RuntimeError, lambda: editor.add_tokens(CallsBack(editor)))
        fails(TypeError, lambda: lexmill.AdditionResult())
        fails(AttributeError, lambda: setattr(editor, "vocab_size", 1))
        fails(AttributeError, lambda: setattr(results[13], "vocab_size", 1))
        if keep is not None:
            keep.append((editor, opened, results))

    def resident_bytes():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    classes = [getattr(lexmill, name) for name in lexmill.__all__ if name != "__version__"]

    def refcounts():
        gc.collect()
        return {cls.__name__: sys.getrefcount(cls) for cls in classes}

    kept = []
    for _ in range(3):
        one_round(kept)
    for _ in range(rounds):
        one_round(None)
    counts_before = refcounts()
    sizes = [resident_bytes()]
    for phase in range(2):
        for _ in range(rounds):
            one_round(None)
        gc.collect()
        sizes.append(resident_bytes())
    counts_after = refcounts()
    public = {n for n in dir(lexmill.Lexmill) if not n.startswith("_")} | {"__init__", "__repr__"}
    print(json.dumps({
        "sizes": sizes,
        "before": counts_before,
        "after": counts_after,
        "not_exercised": sorted(public - EXERCISED),
        "kept": len(kept),
    }))
    '''
)


@pytest.fixture(scope="module")
def measured(tmp_path_factory):
    folder = tmp_path_factory.mktemp("leaks")
    run = subprocess.run(
        [sys.executable, "-c", CHILD, str(folder), "100"],
        capture_output=True, text=True, timeout=600, env=subprocess_env(),
    )
    assert run.returncode == 0, run.stderr[-4000:]
    return json.loads(run.stdout.strip().splitlines()[-1])


def test_every_method_and_property_is_exercised(measured):
    assert measured["not_exercised"] == []


def test_no_class_gains_references(measured):
    assert measured["after"] == measured["before"]


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer holds freed memory back, so the resident size grows by design")
def test_resident_size_stays_flat(measured):
    start, first, second = measured["sizes"]
    # The first phase may still settle allocator pools; the second must not
    # grow more than noise, where a leak of one result per round would add
    # about 800 KiB (100 rounds of 8 KiB strings).
    assert second - first < 512 * 1024, measured["sizes"]
