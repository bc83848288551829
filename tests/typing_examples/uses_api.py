"""Type-checked only, never run: every part of the API used as documented."""

from typing import Dict, List, Optional, Tuple

from typing_extensions import assert_type

import lexmill
from lexmill import (
    AdditionResult,
    Lexmill,
    MergeTokenizerResult,
    ReindexResult,
    RemovalResult,
    ShrinkResult,
    TokenizerStats,
    ValidationResult,
)

assert_type(lexmill.__version__, str)

editor = Lexmill("tokenizer.json")
assert_type(editor, Lexmill)
assert_type(Lexmill.from_json("{}"), Lexmill)
assert_type(editor.from_json(json_str="{}"), Lexmill)
assert_type(editor.save("out.json"), None)
assert_type(editor.to_json(), str)
assert_type(editor.vocab_size, int)
assert_type(editor.merges_count, int)
assert_type(editor.has_token("Ġthe"), bool)
assert_type(editor.get_token_id("Ġthe"), Optional[int])
assert_type(editor.get_token_by_id(262), Optional[str])
assert_type(editor.get_token_by_id(id=True), Optional[str])
assert_type(editor.get_vocab(), Dict[str, int])
assert_type(editor.get_merges(), List[Tuple[str, str]])
assert_type(editor.get_single_char_tokens(), List[Tuple[str, int]])
assert_type(editor.check_vocab_gaps(), Tuple[bool, int, int, int])
assert_type(repr(editor), str)

stats = editor.get_stats()
assert_type(stats, TokenizerStats)
assert_type(stats.vocab_size, int)
assert_type(stats.merges_count, int)
assert_type(stats.single_char_count, int)
assert_type(stats.special_token_count, int)
assert_type(stats.min_token_id, int)
assert_type(stats.max_token_id, int)
assert_type(stats.length_distribution, List[Tuple[int, int]])

validation = editor.validate_merges()
assert_type(validation, ValidationResult)
assert_type(validation.valid_count, int)
assert_type(validation.invalid_count, int)
assert_type(validation.invalid_merges, List[Tuple[int, str, str]])
assert_type(editor.remove_invalid_merges(), int)

addition = editor.add_token("Ġretokenize")
assert_type(addition, AdditionResult)
assert_type(addition.token, str)
assert_type(addition.added, bool)
assert_type(addition.added_merges, List[Tuple[str, str]])
if addition.method == "longest_prefix":
    pass
assert_type(editor.add_tokens(["a", "b"]), List[AdditionResult])
assert_type(editor.add_tokens(("a", "b")), List[AdditionResult])
assert_type(editor.add_token_atomic("<|sep|>"), bool)

removal = editor.remove_token("Ġtok")
assert_type(removal, RemovalResult)
assert_type(removal.root_token, str)
assert_type(removal.removed_tokens, List[str])
assert_type(removal.removed_merges, List[Tuple[str, str]])
assert_type(editor.remove_tokens(["a"]), List[RemovalResult])

shrunk = editor.shrink(10, min_id=5)
assert_type(shrunk, ShrinkResult)
for total in (
    shrunk.initial_vocab_size,
    shrunk.initial_merges_count,
    shrunk.final_vocab_size,
    shrunk.final_merges_count,
    shrunk.tokens_removed_count,
    shrunk.total_tokens_removed,
    shrunk.total_merges_removed,
):
    assert_type(total, int)
assert_type(editor.find_tokens_to_shrink(count=10), List[Tuple[str, int, int]])

assert_type(editor.sync_single_chars("other.json", min_id=0), Dict[str, int])
assert_type(editor.add_tokens_keep_size(["a"]), Dict[str, int])
assert_type(editor.add_tokens_keep_size(["a"], whitelist=None), Dict[str, int])
assert_type(editor.add_tokens_keep_size(["a"], ["b"]), Dict[str, int])

reindexed = editor.reindex_vocab()
assert_type(reindexed, ReindexResult)
for value in (
    reindexed.vocab_size,
    reindexed.merges_count,
    reindexed.old_min_id,
    reindexed.old_max_id,
    reindexed.new_min_id,
    reindexed.new_max_id,
    reindexed.ids_remapped,
    reindexed.gaps_removed,
):
    assert_type(value, int)

merged = editor.merge_from("source.json", max_vocab_size=400000)
assert_type(merged, MergeTokenizerResult)
assert_type(merged.representation, str)
for count in (
    merged.initial_target_vocab_size,
    merged.source_vocab_size,
    merged.final_model_vocab_size,
    merged.final_vocab_size,
    merged.tokens_injected,
    merged.target_tokens_removed,
    merged.bridge_tokens_added,
    merged.bridge_merges_added,
    merged.source_merges_added,
    merged.target_merges_retained,
):
    assert_type(count, int)

try:
    editor.save("out.json")
except BaseException as failure:  # a broken internal invariant derives from BaseException
    assert_type(failure, BaseException)
