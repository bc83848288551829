"""The ID maps that --id-map writes, for rows of an embedding matrix.

reindex: {"old ID": new ID} for every token whose ID changed.
add --keep-size: {"ID": {"old": token or null, "new": token or null}} for
every ID whose token changed (null: no token had, or has, that ID). The
rows of those IDs hold embeddings of tokens that are gone.
Keys are strings, as JSON requires, in ascending numeric order.
"""

from __future__ import annotations

from typing import Dict, Optional


def moved_ids(before: dict[str, int], after: dict[str, int]) -> dict[str, int]:
    moves = {old: after[token] for token, old in before.items() if token in after and after[token] != old}
    return {str(old): moves[old] for old in sorted(moves)}


def tokens_by_id(vocab: dict[str, int]) -> dict[int, str]:
    # Documents may share an ID between tokens; get_vocab lists tokens in
    # bytewise order, so the smallest one stands for it, as in get_token_by_id.
    owners: Dict[int, str] = {}
    for token, token_id in vocab.items():
        owners.setdefault(token_id, token)
    return owners


def changed_rows(before: dict[str, int], after: dict[str, int]) -> dict[str, dict[str, Optional[str]]]:
    old, new = tokens_by_id(before), tokens_by_id(after)
    changed = sorted(token_id for token_id in old.keys() | new.keys() if old.get(token_id) != new.get(token_id))
    return {str(token_id): {"old": old.get(token_id), "new": new.get(token_id)} for token_id in changed}
