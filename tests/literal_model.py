"""A literal Python model of lexmill's editor: the same steps, on dicts, lists and sets.

Each operation walks its algorithm step by step in the order the editor does,
with plain containers and no shortcuts, so that when the model and the C++
editor disagree the model is easy to read and to trust. The property tests in
test_editing_model.py run both side by side.

Tokens are Python str; a character is a code point (len() counts them), and
the bytewise order of UTF-8 keys is reproduced by sorting on the encoded bytes.
"""

import copy
import json
import re
from dataclasses import dataclass, field, fields
from typing import List, Tuple

import reference_writer

U32_MAX = 0xFFFFFFFF


# --- result records, with the attribute names of lexmill's result classes ---


@dataclass
class AdditionResult:
    token: str
    added: bool
    method: str
    added_merges: List[Tuple[str, str]] = field(default_factory=list)


@dataclass
class RemovalResult:
    root_token: str
    removed_tokens: List[str]
    removed_merges: List[Tuple[str, str]]


@dataclass
class ShrinkResult:
    initial_vocab_size: int
    initial_merges_count: int
    final_vocab_size: int
    final_merges_count: int
    tokens_removed_count: int
    total_tokens_removed: int
    total_merges_removed: int


@dataclass
class ReindexResult:
    vocab_size: int
    merges_count: int
    old_min_id: int
    old_max_id: int
    new_min_id: int
    new_max_id: int
    ids_remapped: int
    gaps_removed: int


@dataclass
class ValidationResult:
    valid_count: int
    invalid_count: int
    invalid_merges: List[Tuple[int, str, str]]


@dataclass
class TokenizerStats:
    vocab_size: int
    merges_count: int
    single_char_count: int
    special_token_count: int
    min_token_id: int
    max_token_id: int
    length_distribution: List[Tuple[int, int]]


RESULT_CLASSES = (AdditionResult, RemovalResult, ShrinkResult, ReindexResult, ValidationResult, TokenizerStats)
# Attribute names per class name, shared with the tests that read lexmill's result objects.
RESULT_FIELDS = {cls.__name__: tuple(f.name for f in fields(cls)) for cls in RESULT_CLASSES}


# --- small helpers ---


def utf8_key(token):
    return token.encode("utf-8")


def char_length(token):
    return len(token)


def is_bracketed(token):
    raw = token.encode("utf-8")
    if not raw:
        return False
    first, last = raw[:1], raw[-1:]
    return (first == b"[" and last == b"]") or (first == b"<" and last == b">")


def reserved_id(entry):
    """The ID an added-token entry reserves, or None. JSON true is no integer."""
    if not isinstance(entry, dict) or "id" not in entry:
        return None
    value = entry["id"]
    if type(value) is int and 0 <= value <= U32_MAX:
        return value
    return None


class LoadError(Exception):
    """A failure of load_tokenizer_file; the message is the loader's own."""


def load_tokenizer_file(path):
    """Read, parse and check a tokenizer file the way the editor's loader does.

    Only the outcomes the tests produce are modelled: an unreadable or
    non-UTF-8 file, text that is no tokenizer document, a model that is not BPE.
    """
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
    except (OSError, UnicodeDecodeError):
        raise LoadError(f"Failed to read: {path}") from None
    try:
        doc = json.loads(text)
        for name in ("version", "added_tokens", "model"):
            doc[name]
        for name in ("type", "vocab", "merges"):
            doc["model"][name]
    except (ValueError, KeyError, TypeError):
        raise LoadError("Failed to parse tokenizer.json") from None
    if doc["model"]["type"] != "BPE":
        raise LoadError("Only BPE tokenizers are supported")
    return LiteralEditor(doc)


class LiteralEditor:
    def __init__(self, doc):
        """from_tokenizer: take the document and derive the bookkeeping."""
        self.doc = copy.deepcopy(doc)
        model = self.doc["model"]
        self.vocab = dict(model["vocab"])
        self.merges = [(left, right) for left, right in model["merges"]]
        self.added_tokens = self.doc["added_tokens"]
        # 1. every vocabulary ID
        self.used_ids = set(self.vocab.values())
        # 2. every well-formed added-token ID
        for entry in self.added_tokens:
            reserved = reserved_id(entry)
            if reserved is not None:
                self.used_ids.add(reserved)
        # 3. one past the largest, wrapping in 32 bits; 1 when nothing is used
        if self.used_ids:
            self.next_id = (max(self.used_ids) + 1) & U32_MAX
        else:
            self.next_id = 1
        # 4.
        self.produced_by = {}
        self.merges_using = {}
        self.rebuild_merge_indexes()
        # Expected standard-error text of the last sync_single_chars, as a regex.
        self.progress_pattern = None
        self.progress_sample = None

    @classmethod
    def from_json(cls, text):
        return cls(json.loads(text))

    # --- state helpers ---

    def vocab_keys(self):
        return sorted(self.vocab, key=utf8_key)

    def vocab_items(self):
        return [(token, self.vocab[token]) for token in self.vocab_keys()]

    def added_token_ids(self):
        ids = set()
        for entry in self.added_tokens:
            reserved = reserved_id(entry)
            if reserved is not None:
                ids.add(reserved)
        return ids

    def rebuild_merge_indexes(self):
        self.produced_by = {}
        self.merges_using = {}
        for position, (left, right) in enumerate(self.merges):
            key = left + right
            if key not in self.produced_by:
                self.produced_by[key] = position
            self.merges_using.setdefault(left, set()).add(position)
            self.merges_using.setdefault(right, set()).add(position)

    def has_merge(self, left, right):
        for merge_left, merge_right in self.merges:
            if merge_left == left and merge_right == right:
                return True
        return False

    # --- export ---

    def to_json(self):
        doc = dict(self.doc)
        model = dict(doc["model"])
        model["vocab"] = dict(self.vocab)
        model["merges"] = [[left, right] for left, right in self.merges]
        doc["model"] = model
        return reference_writer.document_text(doc, "declaration")

    # --- queries ---

    @property
    def vocab_size(self):
        return len(self.vocab)

    @property
    def merges_count(self):
        return len(self.merges)

    def has_token(self, token):
        return token in self.vocab

    def get_token_id(self, token):
        return self.vocab.get(token)

    def get_vocab(self):
        return dict(self.vocab_items())

    def get_merges(self):
        return list(self.merges)

    def get_token_by_id(self, id):
        for token, token_id in self.vocab_items():
            if token_id == id:
                return token
        return None

    def get_single_char_tokens(self):
        return [(token, token_id) for token, token_id in self.vocab_items() if char_length(token) == 1]

    def check_vocab_gaps(self):
        n = len(self.vocab)
        if n == 0:
            return (False, 0, 0, 0)
        low = min(self.vocab.values())
        high = max(self.vocab.values())
        # The span of all 2**32 IDs must not wrap to 0.
        span = high - low + 1
        inner = span - n if span >= n else 0
        total = low + inner
        return (total != 0, total, low, high)

    def get_stats(self):
        lengths = {}
        single = 0
        special = 0
        low = None
        high = None
        for token, token_id in self.vocab_items():
            c = char_length(token)
            lengths[c] = lengths.get(c, 0) + 1
            if c == 1:
                single += 1
            if is_bracketed(token):
                special += 1
            low = token_id if low is None else min(low, token_id)
            high = token_id if high is None else max(high, token_id)
        return TokenizerStats(
            vocab_size=len(self.vocab),
            merges_count=len(self.merges),
            single_char_count=single,
            special_token_count=special,
            min_token_id=0 if low is None else low,
            max_token_id=0 if high is None else high,
            length_distribution=sorted(lengths.items()),
        )

    # --- merge validation ---

    def validate_merges(self):
        valid = 0
        invalid = []
        for position, (left, right) in enumerate(self.merges):
            if left + right in self.vocab:
                valid += 1
            else:
                invalid.append((position, left, right))
        return ValidationResult(valid, len(invalid), invalid)

    def remove_invalid_merges(self):
        report = self.validate_merges()
        if report.invalid_count == 0:
            return 0
        self.merges = [(left, right) for left, right in self.merges if left + right in self.vocab]
        self.rebuild_merge_indexes()
        return report.invalid_count

    # --- addition ---

    def allocate_id(self):
        candidate = self.next_id
        while candidate in self.used_ids:
            candidate = (candidate + 1) & U32_MAX
        self.used_ids.add(candidate)
        self.next_id = (candidate + 1) & U32_MAX
        return candidate

    def insert_with_new_id(self, token):
        self.vocab[token] = self.allocate_id()

    def add_token_atomic(self, token):
        if token in self.vocab:
            return False
        self.insert_with_new_id(token)
        return True

    def build_char_chain(self, text):
        chars = list(text)
        if not chars:
            return []
        appended = []
        current = chars[0]
        if current not in self.vocab:
            self.insert_with_new_id(current)
        for ck in chars[1:]:
            if ck not in self.vocab:
                self.insert_with_new_id(ck)
            if not self.has_merge(current, ck):
                self.merges.append((current, ck))
                appended.append((current, ck))
            combined = current + ck
            if combined not in self.vocab:
                self.insert_with_new_id(combined)
            current = combined
        return appended

    def add_token(self, token):
        if token in self.vocab:
            return AdditionResult(token, False, "already_exists", [])
        if char_length(token) == 1:
            self.insert_with_new_id(token)
            return AdditionResult(token, True, "single_char", [])
        prefix = None
        for cut in range(char_length(token) - 1, 0, -1):
            if token[:cut] in self.vocab:
                prefix = token[:cut]
                break
        if prefix is not None:
            suffix = token[len(prefix):]
            added_merges = []
            if suffix not in self.vocab:
                added_merges.extend(self.build_char_chain(suffix))
            if not self.has_merge(prefix, suffix):
                self.merges.append((prefix, suffix))
                added_merges.append((prefix, suffix))
            self.insert_with_new_id(token)
            method = "longest_prefix"
        else:
            added_merges = self.build_char_chain(token)
            if token not in self.vocab:
                self.insert_with_new_id(token)
            method = "char_chain"
        self.rebuild_merge_indexes()
        return AdditionResult(token, True, method, added_merges)

    def add_tokens(self, tokens):
        return [self.add_token(token) for token in tokens]

    # --- removal ---

    def release_ids(self, ids):
        """Give up the IDs of removed entries, keeping those another owner still holds.

        Another vocabulary entry with the same ID, or an added-token entry
        carrying it, keeps the ID reserved; otherwise a later allocation past
        a wrapped next_id would hand it out a second time.
        """
        still_held = set(self.vocab.values()) | self.added_token_ids()
        for token_id in ids:
            if token_id not in still_held:
                self.used_ids.discard(token_id)

    def remove_token(self, token):
        stack = [token]
        marked = []
        marked_set = set()
        removed_positions = set()
        while stack:
            t = stack.pop()
            if t in marked_set:
                continue
            marked.append(t)
            marked_set.add(t)
            for position in sorted(self.merges_using.get(t, ())):
                if position not in removed_positions:
                    removed_positions.add(position)
                    left, right = self.merges[position]
                    stack.append(left + right)
            if t in self.produced_by:
                removed_positions.add(self.produced_by[t])
        removed_merges = [self.merges[position] for position in sorted(removed_positions)]
        if removed_positions:
            self.merges = [merge for position, merge in enumerate(self.merges) if position not in removed_positions]
        freed = []
        for t in marked:
            if t in self.vocab:
                freed.append(self.vocab.pop(t))
        self.release_ids(freed)
        self.rebuild_merge_indexes()
        return RemovalResult(token, marked, removed_merges)

    def remove_tokens(self, tokens):
        results = []
        for token in tokens:
            if token in self.vocab:
                results.append(self.remove_token(token))
        return results

    # --- shrink ---

    def find_tokens_to_shrink(self, count, min_id=0):
        candidates = []
        for token, token_id in self.vocab_items():
            if token_id < min_id or char_length(token) < 2 or is_bracketed(token):
                continue
            candidates.append((token, token_id, char_length(token)))
        candidates.sort(key=lambda c: (-c[2], -c[1]))
        return candidates[:count]

    def shrink(self, count, min_id=0):
        candidates = self.find_tokens_to_shrink(count, min_id)
        initial_vocab_size = len(self.vocab)
        initial_merges_count = len(self.merges)
        calls = 0
        total_tokens = 0
        total_merges = 0
        for token, _, _ in candidates:
            if token in self.vocab:
                result = self.remove_token(token)
                calls += 1
                total_tokens += len(result.removed_tokens)
                total_merges += len(result.removed_merges)
        return ShrinkResult(
            initial_vocab_size,
            initial_merges_count,
            len(self.vocab),
            len(self.merges),
            calls,
            total_tokens,
            total_merges,
        )

    # --- reindex ---

    def reindex_vocab(self):
        n = len(self.vocab)
        merges_count = len(self.merges)
        if n == 0:
            return ReindexResult(0, merges_count, 0, 0, 0, 0, 0, 0)
        old_min = min(self.vocab.values())
        old_max = max(self.vocab.values())
        # Without 32-bit wraparound, so that IDs 0 and 4294967295 count their gap.
        span = old_max - old_min + 1
        inner = span - n if span >= n else 0
        entries = sorted(self.vocab_items(), key=lambda entry: entry[1])
        k = None
        for position, (_, token_id) in enumerate(entries):
            if token_id != position:
                k = position
                break
        if k is None:
            return ReindexResult(n, merges_count, old_min, old_max, 0, n - 1, 0, 0)
        self.vocab = {token: position for position, (token, _) in enumerate(entries)}
        self.used_ids = set(self.vocab.values()) | self.added_token_ids()
        self.next_id = (max(self.used_ids) + 1) & U32_MAX
        return ReindexResult(n, merges_count, old_min, old_max, 0, n - 1, n - k, inner + old_min)

    # --- fixed-size maintenance ---

    def build_protected_set(self, whitelist):
        protected = set(whitelist)
        for token in self.vocab:
            if char_length(token) == 1:
                protected.add(token)
        protected.add("\u2581")
        for token in self.vocab:
            if is_bracketed(token):
                protected.add(token)
        return protected

    def pick_removal_victim(self, protected):
        candidates = [token for token in self.vocab_keys() if token not in protected]
        candidates.sort(key=lambda t: (-char_length(t), 0 if t in self.produced_by else 1, utf8_key(t)))
        return candidates[0] if candidates else None

    def add_tokens_keep_size(self, tokens, whitelist=None):
        initial_vocab_size = len(self.vocab)
        protected = self.build_protected_set(whitelist or [])
        added = 0
        removed = 0
        for token in tokens:
            if token in self.vocab:
                continue
            self.add_token(token)
            added += 1
            if len(self.vocab) > initial_vocab_size:
                victim = self.pick_removal_victim(protected)
                if victim is not None:
                    self.remove_token(victim)
                    removed += 1
        return {
            "initial_vocab_size": initial_vocab_size,
            "final_vocab_size": len(self.vocab),
            "tokens_requested": len(tokens),
            "tokens_added": added,
            "tokens_removed": removed,
        }

    def sync_single_chars(self, source_path, min_id=0):
        """The operation, plus `progress_pattern`: a regex for the standard-error text.

        Timing numbers match any decimal of the right form; progress lines
        before the last one are optional, since they appear only when 100 ms
        have passed. `progress_sample` is one text the pattern accepts: every
        time 0, no optional line.
        """
        self.progress_pattern = re.compile("")
        self.progress_sample = ""
        try:
            source = load_tokenizer_file(source_path)
        except LoadError as error:
            raise OSError(f"Failed to load source tokenizer: {error}") from None
        source_chars = [token for token in source.vocab_keys() if char_length(token) == 1]
        missing = [token for token in source_chars if token not in self.vocab]
        initial_vocab_size = len(self.vocab)
        result = {
            "initial_vocab_size": initial_vocab_size,
            "final_vocab_size": initial_vocab_size,
            "chars_in_source": len(source_chars),
            "chars_already_present": len(source_chars) - len(missing),
            "chars_added_count": 0,
            "total_tokens_removed": 0,
            "total_merges_removed": 0,
        }
        if not missing:
            return result

        m = len(missing)
        seconds = r"\d+\.\d"
        text = []
        sample = []

        def fixed(piece):
            text.append(re.escape(piece))
            sample.append(piece)

        fixed(f"\n   Pre-computing {m} tokens to remove...\n")
        candidates = self.find_tokens_to_shrink(m, min_id)
        c = len(candidates)
        fixed(f"   Found {c} candidate tokens for removal\n")
        if c < m:
            fixed(f"   WARNING: Only found {c} tokens to remove, but need {m}\n")
        fixed(f"\n   Phase 1: Removing {c} tokens...\n")

        total_tokens = 0
        total_merges = 0
        processed = 0
        for token, _, _ in candidates:
            if token not in self.vocab:
                processed += 1
                continue
            removal = self.remove_token(token)
            total_tokens += len(removal.removed_tokens)
            total_merges += len(removal.removed_merges)
            processed += 1
            fraction = processed / c
            percentage = fraction * 100
            head = f"\r   [{percentage:5.1f}%] {processed}/{c} removed | Elapsed: "
            if processed == c:
                # ETA = elapsed / 1 - elapsed, exactly zero.
                text.append(re.escape(head) + seconds + re.escape("s | ETA: 0.0s    "))
                sample.append(head + "0.0s | ETA: 0.0s    ")
            else:
                line = re.escape(head) + seconds + re.escape("s | ETA: ") + seconds + re.escape("s    ")
                text.append("(?:" + line + ")?")
        fixed("\n")

        fixed(f"\n   Phase 2: Adding {m} single-char tokens...\n")
        for token in missing:
            self.add_token_atomic(token)
        text.append(re.escape(f"   Added {m} tokens in ") + r"\d+\.\d\d" + re.escape("s\n"))
        sample.append(f"   Added {m} tokens in 0.00s\n")

        fixed("\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n")
        reindex = self.reindex_vocab()
        fixed(f"   Reindexed {reindex.ids_remapped} IDs, removed {reindex.gaps_removed} gaps\n")

        self.progress_pattern = re.compile("".join(text))
        self.progress_sample = "".join(sample)
        result["final_vocab_size"] = len(self.vocab)
        result["chars_added_count"] = m
        result["total_tokens_removed"] = total_tokens
        result["total_merges_removed"] = total_merges
        return result


__all__ = [
    "AdditionResult",
    "LiteralEditor",
    "LoadError",
    "RemovalResult",
    "ReindexResult",
    "RESULT_FIELDS",
    "ShrinkResult",
    "TokenizerStats",
    "ValidationResult",
    "load_tokenizer_file",
]
