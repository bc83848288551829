"""The reference model of merging one tokenizer into another, and what every merge must leave."""

import copy
import json
import re
import unicodedata
from collections import deque

U32_MAX = 2**32 - 1
RESULT_FIELDS = ("initial_target_vocab_size source_vocab_size final_model_vocab_size final_vocab_size tokens_injected "
                 "target_tokens_removed bridge_tokens_added bridge_merges_added source_merges_added "
                 "target_merges_retained representation").split()
PRINTABLE = [*range(0x21, 0x7F), *range(0xA1, 0xAD), *range(0xAE, 0x100)]
_OTHERS = [b for b in range(256) if b not in PRINTABLE]
BYTE_TABLE = [chr(b) if b in PRINTABLE else chr(0x100 + _OTHERS.index(b)) for b in range(256)]
BYTE_TOKEN = re.compile(r"<0x(\+[0-9a-fA-F]|[0-9a-fA-F]{2})>")
PROBE = "\u2603probe"  # a token no test uses: where the editor hands out its next ID


class MergeFailure(Exception):
    pass


def byte_level(text):
    return "".join(BYTE_TABLE[b] for b in text.encode())


def fields(result):
    return {name: getattr(result, name) for name in RESULT_FIELDS}


def dump(doc):
    return json.dumps(doc, ensure_ascii=False)


def has_type(value, name):
    if isinstance(value, dict):
        return value.get("type") == name or any(has_type(v, name) for v in value.values())
    return isinstance(value, list) and any(has_type(v, name) for v in value)


def find_marker(value):
    """The content of the first Replace rule of a single space; members searched in byte order of their keys."""
    if isinstance(value, dict):
        pattern = value.get("pattern")
        if value.get("type") == "Replace" and isinstance(pattern, dict) and pattern.get("String") == " ":
            return value["content"] if isinstance(value.get("content"), str) else None
        value = [value[k] for k in sorted(value, key=str.encode)]
    if isinstance(value, list):
        return next((m for m in map(find_marker, value) if m is not None), None)
    return None


def plan(target, source_marker="\u2581"):
    """(convert, byte-level?, representation label) for merging into `target`."""
    byte_target, marker = has_type(target.get("pre_tokenizer"), "ByteLevel"), find_marker(target.get("normalizer"))
    if not byte_target and marker is None:
        raise MergeFailure("Unsupported target: no ByteLevel pre-tokenizer or space marker found")
    nfc = has_type(target.get("normalizer"), "NFC")

    def convert(token):
        byte = BYTE_TOKEN.fullmatch(token)
        if byte:
            return BYTE_TABLE[int(byte[1], 16)] if byte_target else token
        text = token.replace(source_marker, " ")
        text = unicodedata.normalize("NFC", text) if nfc else text
        return byte_level(text) if byte_target else text.replace(" ", marker)

    return convert, byte_target, "ByteLevel (\u0120)" if byte_target else f"space marker ({marker})"


def content(entry):
    return entry["content"] if isinstance(entry, dict) and isinstance(entry.get("content"), str) else None


def model_merge(target, source, max_vocab_size, sizes_only=False):
    """(vocab, merges, added_tokens, result fields) of merging `source` into `target`, or MergeFailure; with
    `sizes_only`, the sizes of the required set and of the added-only contents, which decide what limits are tight."""
    if not 1 <= max_vocab_size <= U32_MAX:
        raise MergeFailure(f"max_vocab_size must be between 1 and {U32_MAX}")
    if not all(isinstance(e, dict) for e in target["added_tokens"] + source["added_tokens"]):
        raise MergeFailure("added_tokens entries must be JSON objects")
    old_vocab, source_vocab = target["model"]["vocab"], source["model"]["vocab"]
    source_marker = find_marker(source.get("normalizer"))
    convert, byte_target, representation = plan(target, "\u2581" if source_marker is None else source_marker)
    special = {e["content"] for e in source["added_tokens"] if e.get("special") is True and content(e) in source_vocab}
    order = [t for t, _ in sorted(source_vocab.items(), key=lambda kv: (kv[1], kv[0].encode()))]
    conversion = {t: convert(t) for t in order if t not in special}
    converted = list(dict.fromkeys(conversion[t] for t in order if t in conversion))
    source_merges = [tuple(m) for m in source["model"]["merges"]]
    bridge_merges, bridge_tokens = {}, set()
    if byte_target:
        products = {left + right for left, right in source_merges}
        for token in order:
            if token in conversion and token not in products:
                chars = conversion[token]
                for end in range(2, len(chars) + 1):
                    bridge_merges.setdefault((chars[: end - 1], chars[end - 1]))
                    bridge_tokens.add(chars[:end])

    added_only = list(dict.fromkeys(c for c in map(content, target["added_tokens"]) if c is not None and c not in old_vocab))
    if len(added_only) >= max_vocab_size and not sizes_only:
        raise MergeFailure("Added tokens alone exceed max_vocab_size")
    model_limit = max_vocab_size - len(added_only)
    converted_set = (set(conversion.values()) | bridge_tokens) - set(added_only)
    kept = converted_set | {t for t in old_vocab if len(t) == 1 or t[:1] + t[-1:] in ("[]", "<>")}
    kept |= {c for c in map(content, target["added_tokens"]) if c in old_vocab}
    unk = target["model"].get("unk_token")
    if isinstance(unk, str) and unk in old_vocab:
        kept.add(unk)
    if sizes_only:
        return len(kept), len(added_only)
    if len(kept) > model_limit:
        raise MergeFailure(f"Required converted and protected tokens ({len(kept)}) exceed model limit ({model_limit})")
    old_order = sorted(old_vocab.items(), key=lambda kv: (kv[1], kv[0].encode()))
    for token, _ in old_order:
        if len(kept) == model_limit:
            break
        kept.add(token)
    n = len(kept)
    vocab = {t: i for t, i in old_order if t in kept and i < n}
    free = deque(sorted(set(range(n)) - set(vocab.values())))
    for token in [*converted, *sorted(bridge_tokens, key=str.encode), *(t for t, _ in old_order), *sorted(kept, key=str.encode)]:
        if token in kept and token not in vocab:
            if not free:
                raise MergeFailure(f"No free model ID for token {token}")
            vocab[token] = free.popleft()
    if len(vocab) != n or free:
        raise MergeFailure("Failed to assign a contiguous model vocabulary")

    added_tokens, added_ids = copy.deepcopy(target["added_tokens"]), {}
    for entry in added_tokens:
        c = content(entry)
        if c is not None:
            entry["id"] = vocab[c] if c in vocab else added_ids.setdefault(c, n + len(added_ids))
    merges, seen = [], set()

    def admit(left, right):
        if (left, right) in seen or left not in kept or right not in kept or left + right not in kept:
            return 0
        seen.add((left, right))
        merges.append((left, right))
        return 1

    bridge_added = sum(admit(*pair) for pair in bridge_merges)
    source_added = sum(
        admit(conversion[left], conversion[right])
        for left, right in source_merges
        if left in conversion and right in conversion and left + right in conversion
        and conversion[left] + conversion[right] == conversion[left + right]
    )
    target_retained = sum(admit(*pair) for pair in map(tuple, target["model"]["merges"]))
    counts = (len(old_vocab), len(source_vocab), n, n + len(added_ids), sum(t not in old_vocab for t in converted_set),
              sum(t not in kept for t in old_vocab), sum(t in converted_set and t not in old_vocab for t in bridge_tokens),
              bridge_added, source_added, target_retained, representation)
    return vocab, merges, added_tokens, dict(zip(RESULT_FIELDS, counts))


def snapshot(editor):
    return (editor.to_json(), editor.get_vocab(), editor.get_merges(), editor.check_vocab_gaps())


def assert_same_editor(a, b):
    assert (a.vocab_size, a.merges_count, a.to_json()) == (b.vocab_size, b.merges_count, b.to_json())


def check_merged(lexmill, editor, result, directory):
    """What holds after any successful merge, the model aside."""
    n, vocab = result.final_model_vocab_size, editor.get_vocab()
    assert editor.vocab_size == n == len(vocab) and sorted(vocab.values()) == list(range(n))
    assert editor.check_vocab_gaps() == (False, 0, 0, max(n - 1, 0))
    assert editor.validate_merges().invalid_merges == []
    assert_same_editor(lexmill.Lexmill.from_json(editor.to_json()), editor)
    editor.save(str(directory / "merged.json"))
    assert_same_editor(lexmill.Lexmill(str(directory / "merged.json")), editor)
    # The next ID handed out follows the merged vocabulary and the added tokens.
    assert editor.add_token_atomic(PROBE) and editor.get_token_id(PROBE) == result.final_vocab_size
