"""Type-checked only, never run: each marked line fails at run time; mypy must report the marked error code."""

import lexmill

editor = lexmill.Lexmill("tokenizer.json")
editor.shrink(2.0)  # expect: arg-type
editor.add_tokens({"a", "b"})  # expect: arg-type
editor.to_json(indent=2)  # expect: call-arg
editor.vocab_size = 10  # expect: misc
editor.add_token("a").added = False  # expect: misc
if editor.add_token("ab").method == "prefix":  # expect: comparison-overlap
    pass
lexmill.PanicException  # expect: attr-defined


class Editor(lexmill.Lexmill):  # expect: misc
    pass
