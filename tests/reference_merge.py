"""The reference model of merging one tokenizer into another, and what every
merge must leave: shared by the merge tests on small documents and on the
real files."""

import copy
import json
import unicodedata
from collections import deque

U32_MAX = 4294967295

RESULT_FIELDS = (
    "initial_target_vocab_size",
    "source_vocab_size",
    "final_model_vocab_size",
    "final_vocab_size",
    "tokens_injected",
    "target_tokens_removed",
    "bridge_tokens_added",
    "bridge_merges_added",
    "source_merges_added",
    "target_merges_retained",
    "representation",
)

BYTE_LEVEL_LABEL = "ByteLevel (\u0120)"


def gpt2_byte_table():
    printable = [*range(0x21, 0x7F), *range(0xA1, 0xAD), *range(0xAE, 0x100)]
    others = [b for b in range(256) if b not in printable]
    table = {b: chr(b) for b in printable}
    table.update({b: chr(0x100 + i) for i, b in enumerate(others)})
    return [table[b] for b in range(256)]


BYTE_TABLE = gpt2_byte_table()


def byte_level(text):
    return "".join(BYTE_TABLE[b] for b in text.encode("utf-8"))


def fields(result):
    return {name: getattr(result, name) for name in RESULT_FIELDS}


def dump(doc):
    return json.dumps(doc, ensure_ascii=False)


# --- reference model ----------------------------------------------------------


class MergeFailure(Exception):
    pass


def utf8_key(text):
    return text.encode("utf-8")


def model_has_type(value, name):
    if isinstance(value, dict):
        if value.get("type") == name:
            return True
        return any(model_has_type(value[k], name) for k in sorted(value, key=utf8_key))
    if isinstance(value, list):
        return any(model_has_type(item, name) for item in value)
    return False


def model_find_marker(value):
    if isinstance(value, dict):
        pattern = value.get("pattern")
        if value.get("type") == "Replace" and isinstance(pattern, dict) and pattern.get("String") == " ":
            content = value.get("content")
            return content if isinstance(content, str) else None
        for key in sorted(value, key=utf8_key):
            found = model_find_marker(value[key])
            if found is not None:
                return found
    elif isinstance(value, list):
        for item in value:
            found = model_find_marker(item)
            if found is not None:
                return found
    return None


HEX = set("0123456789abcdefABCDEF")


def model_byte_value(token):
    raw = token.encode("utf-8")
    if len(raw) != 6 or not raw.startswith(b"<0x") or not raw.endswith(b">"):
        return None
    middle = raw[3:5].decode("latin-1")
    if middle[0] == "+" and middle[1] in HEX:
        return int(middle[1], 16)
    if middle[0] in HEX and middle[1] in HEX:
        return int(middle, 16)
    return None


def is_bracketed(token):
    return len(token) > 0 and ((token[0] == "[" and token[-1] == "]") or (token[0] == "<" and token[-1] == ">"))


def string_content(entry):
    if isinstance(entry, dict) and isinstance(entry.get("content"), str):
        return entry["content"]
    return None


def model_merge(target, source, max_vocab_size, sizes_only=False):
    """What merging `source` into `target` (both documents as dicts) gives.

    Returns (vocab, merges, added_tokens, result fields) or raises MergeFailure
    with the message after the "Failed to merge tokenizer: " prefix. With
    `sizes_only`, returns the sizes of the required set and of the added-only
    contents instead, which decide what limits are tight.
    """
    if not 1 <= max_vocab_size <= U32_MAX:
        raise MergeFailure(f"max_vocab_size must be between 1 and {U32_MAX}")
    if not all(isinstance(e, dict) for e in target["added_tokens"] + source["added_tokens"]):
        raise MergeFailure("added_tokens entries must be JSON objects")
    old_vocab = target["model"]["vocab"]
    old_merges = [tuple(m) for m in target["model"]["merges"]]
    source_vocab = source["model"]["vocab"]
    source_merges = [tuple(m) for m in source["model"]["merges"]]

    # The conversion plan.
    byte_level_target_ = model_has_type(target.get("pre_tokenizer"), "ByteLevel")
    target_marker = model_find_marker(target.get("normalizer"))
    if not byte_level_target_ and target_marker is None:
        raise MergeFailure("Unsupported target: no ByteLevel pre-tokenizer or space marker found")
    nfc = model_has_type(target.get("normalizer"), "NFC")
    source_marker = model_find_marker(source.get("normalizer"))
    if source_marker is None:
        source_marker = "\u2581"
    special = {
        e["content"]
        for e in source["added_tokens"]
        if isinstance(e, dict) and e.get("special") is True and isinstance(e.get("content"), str)
        and e["content"] in source_vocab
    }

    def convert(token):
        byte = model_byte_value(token)
        if byte is not None:
            return BYTE_TABLE[byte] if byte_level_target_ else token
        text = token.replace(source_marker, " ")
        if nfc:
            text = unicodedata.normalize("NFC", text)
        return byte_level(text) if byte_level_target_ else text.replace(" ", target_marker)

    order = [t for t, _ in sorted(source_vocab.items(), key=lambda kv: (kv[1], utf8_key(kv[0])))]
    conversion_map = {}
    for token in order:
        if token in special:
            continue
        conversion_map[token] = convert(token)
    converted_tokens = list(dict.fromkeys(conversion_map[t] for t in order if t in conversion_map))
    bridge_merges, bridge_tokens = {}, set()
    if byte_level_target_:
        products = {left + right for left, right in source_merges}
        for token in order:
            if token not in conversion_map or token in products:
                continue
            chars = conversion_map[token]
            prefix = chars[:1]
            for ch in chars[1:]:
                bridge_merges.setdefault((prefix, ch))
                prefix += ch
                bridge_tokens.add(prefix)
    representation = BYTE_LEVEL_LABEL if byte_level_target_ else f"space marker ({target_marker})"

    # The merged model vocabulary.
    added_only = []
    for entry in target["added_tokens"]:
        content = string_content(entry)
        if content is not None and content not in old_vocab and content not in added_only:
            added_only.append(content)
    if len(added_only) >= max_vocab_size and not sizes_only:
        raise MergeFailure("Added tokens alone exceed max_vocab_size")
    model_limit = max_vocab_size - len(added_only)
    converted_set = (set(conversion_map.values()) | bridge_tokens) - set(added_only)
    kept = set(converted_set)
    kept |= {t for t in old_vocab if len(t) == 1 or is_bracketed(t)}
    kept |= {c for c in map(string_content, target["added_tokens"]) if c is not None and c in old_vocab}
    unk = target["model"].get("unk_token")
    if isinstance(unk, str) and unk in old_vocab:
        kept.add(unk)
    if sizes_only:
        return len(kept), len(added_only)
    if len(kept) > model_limit:
        raise MergeFailure(f"Required converted and protected tokens ({len(kept)}) exceed model limit ({model_limit})")
    old_order = sorted(old_vocab.items(), key=lambda kv: (kv[1], utf8_key(kv[0])))
    for token, _ in old_order:
        if len(kept) == model_limit:
            break
        kept.add(token)
    n = len(kept)
    vocab = {t: i for t, i in old_order if t in kept and i < n}
    free = deque(sorted(set(range(n)) - set(vocab.values())))

    def assign(token):
        if token in kept and token not in vocab:
            if not free:
                raise MergeFailure(f"No free model ID for token {token}")
            vocab[token] = free.popleft()

    for token in converted_tokens:
        assign(token)
    for token in sorted(bridge_tokens, key=utf8_key):
        assign(token)
    for token, _ in old_order:
        assign(token)
    for token in sorted(kept, key=utf8_key):
        assign(token)
    if len(vocab) != n or free:
        raise MergeFailure("Failed to assign a contiguous model vocabulary")

    added_tokens = copy.deepcopy(target["added_tokens"])
    added_ids = {}
    for entry in added_tokens:
        content = string_content(entry)
        if content is None:
            continue
        if content in vocab:
            entry["id"] = vocab[content]
        else:
            entry["id"] = added_ids.setdefault(content, n + len(added_ids))
    final_vocab_size = n + len(added_ids)
    assert final_vocab_size <= max_vocab_size

    merges, seen = [], set()

    def admit(left, right):
        if (left, right) in seen or left not in kept or right not in kept or left + right not in kept:
            return 0
        seen.add((left, right))
        merges.append((left, right))
        return 1

    bridge_added = sum(admit(*pair) for pair in bridge_merges)
    source_added = 0
    for left, right in source_merges:
        if left in conversion_map and right in conversion_map and left + right in conversion_map:
            cl, cr = conversion_map[left], conversion_map[right]
            if cl + cr == conversion_map[left + right]:
                source_added += admit(cl, cr)
    target_retained = sum(admit(*pair) for pair in old_merges)

    result = {
        "initial_target_vocab_size": len(old_vocab),
        "source_vocab_size": len(source_vocab),
        "final_model_vocab_size": n,
        "final_vocab_size": final_vocab_size,
        "tokens_injected": sum(t not in old_vocab for t in converted_set),
        "target_tokens_removed": sum(t not in kept for t in old_vocab),
        "bridge_tokens_added": sum(t in converted_set and t not in old_vocab for t in bridge_tokens),
        "bridge_merges_added": bridge_added,
        "source_merges_added": source_added,
        "target_merges_retained": target_retained,
        "representation": representation,
    }
    return vocab, merges, added_tokens, result


# --- what every merge leaves --------------------------------------------------


def snapshot(editor):
    return (editor.to_json(), editor.get_vocab(), editor.get_merges(), editor.check_vocab_gaps())


def assert_same_editor(a, b):
    # The text holds the whole document: vocabulary, merges and added tokens.
    assert (a.vocab_size, a.merges_count) == (b.vocab_size, b.merges_count)
    assert a.to_json() == b.to_json()


def check_merged(lexmill, editor, result, target, directory):
    """Everything that holds after any successful merge of `target` (a dict)."""
    n = result.final_model_vocab_size
    vocab = editor.get_vocab()
    old_vocab = target["model"]["vocab"]
    assert editor.vocab_size == n == len(vocab)
    assert editor.check_vocab_gaps() == (False, 0, 0, n - 1 if n else 0)
    assert sorted(vocab.values()) == list(range(n))
    validation = editor.validate_merges()
    assert (validation.invalid_count, validation.invalid_merges) == (0, [])

    merges = editor.get_merges()
    assert len(set(merges)) == len(merges)
    assert all(left in vocab and right in vocab for left, right in merges)
    assert len(merges) == result.bridge_merges_added + result.source_merges_added + result.target_merges_retained

    # Counts that follow from the vocabularies alone.
    assert result.initial_target_vocab_size == len(old_vocab)
    assert result.target_tokens_removed == sum(t not in vocab for t in old_vocab)
    assert result.tokens_injected == sum(t not in old_vocab for t in vocab)
    assert result.bridge_tokens_added <= result.tokens_injected

    # Added tokens: model tokens share their ID, the others take N... in order
    # of first appearance; entries without a string content are untouched.
    doc = json.loads(editor.to_json())
    assert len(doc["added_tokens"]) == len(target["added_tokens"])
    fresh = {}
    for entry, before in zip(doc["added_tokens"], target["added_tokens"]):
        content = string_content(before)
        if content is None:
            assert entry == before
            continue
        if content in vocab:
            assert entry["id"] == vocab[content]
        else:
            assert entry["id"] == fresh.setdefault(content, n + len(fresh))
        assert {k: v for k, v in entry.items() if k != "id"} == {k: v for k, v in before.items() if k != "id"}
    assert result.final_vocab_size == n + len(fresh)

    # Nothing but the vocabulary, the merges and the added-token IDs changes.
    expected = json.loads(dump(target))
    for key in expected:
        if key not in ("model", "added_tokens"):
            assert doc[key] == expected[key], key
    for key in expected["model"]:
        if key not in ("vocab", "merges"):
            assert doc["model"][key] == expected["model"][key], key

    reopened = lexmill.Lexmill.from_json(editor.to_json())
    assert_same_editor(reopened, editor)
    path = directory / "merged.json"
    editor.save(str(path))
    assert_same_editor(lexmill.Lexmill(str(path)), editor)
