"""Type-checked only, never run: the API used as documented."""

from typing import Dict, List, Optional, Tuple

from typing_extensions import assert_type

import lexmill
from lexmill import AdditionResult, Lexmill, RemovalResult

assert_type(lexmill.__version__, str)
editor = Lexmill("tokenizer.json")
assert_type(editor.from_json(json_str="{}"), Lexmill)
assert_type(editor.get_token_id("Ġthe"), Optional[int])
assert_type(editor.get_token_by_id(id=True), Optional[str])
assert_type(editor.get_vocab(), Dict[str, int])
assert_type(editor.get_merges(), List[Tuple[str, str]])
assert_type(editor.check_vocab_gaps(), Tuple[bool, int, int, int])
assert_type(editor.get_stats().length_distribution, List[Tuple[int, int]])
assert_type(editor.validate_merges().invalid_merges, List[Tuple[int, str, str]])
if editor.add_token("Ġretokenize").method == "longest_prefix":
    pass
assert_type(editor.add_tokens(("a", "b")), List[AdditionResult])
assert_type(editor.remove_tokens(["a"]), List[RemovalResult])
assert_type(editor.shrink(10, min_id=5).total_merges_removed, int)
assert_type(editor.find_tokens_to_shrink(count=10), List[Tuple[str, int, int]])
assert_type(editor.sync_single_chars("other.json", min_id=0), Dict[str, int])
assert_type(editor.add_tokens_keep_size(["a"], ["b"]), Dict[str, int])
assert_type(editor.merge_from("source.json", max_vocab_size=400000).representation, str)
