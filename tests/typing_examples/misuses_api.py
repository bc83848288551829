"""Type-checked only, never run: each marked line fails at run time; mypy must report the marked error code."""

from pathlib import Path

import lexmill

editor = lexmill.Lexmill(Path("tokenizer.json"))  # expect: arg-type
editor.save(b"out.json")  # expect: arg-type
editor.shrink(2.0)  # expect: arg-type
editor.add_tokens({"a", "b"})  # expect: arg-type
editor.add_tokens_keep_size(["a"], whitelist={"b"})  # expect: arg-type
editor.merge_from("source.json", max_vocab_size="400000")  # expect: arg-type
editor.to_json(indent=2)  # expect: call-arg
editor.shrink(count=1, cnt=2)  # expect: call-arg
editor.vocab_size = 10  # expect: misc
editor.add_token("a").added = False  # expect: misc
editor.reindex()  # expect: attr-defined
editor.get_token_id("a") + 1  # expect: operator
editor.get_stats().length_distribution[0][0] + "a"  # expect: operator
if editor.add_token("ab").method == "prefix":  # expect: comparison-overlap
    pass
lexmill.PanicException  # expect: attr-defined


class Editor(lexmill.Lexmill):  # expect: misc
    pass
