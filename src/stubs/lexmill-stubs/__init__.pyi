# Type information for the lexmill extension module. Its classes report their
# module as "builtins" at run time; type checkers know them as lexmill.<name>.
#
# PanicException (a broken internal invariant, derived from BaseException) is
# not declared: it is no module attribute, so no name could reach it here.
# Code that must survive it catches BaseException.
#
# The docstrings repeat the module's own, which its tables in src/python hold;
# tests/test_typing.py checks that they agree.

"""Python module for Lexmill"""

from typing import Literal, Sequence, SupportsIndex, final

__all__ = [
    "Lexmill",
    "ValidationResult",
    "AdditionResult",
    "RemovalResult",
    "ShrinkResult",
    "MergeTokenizerResult",
    "TokenizerStats",
    "ReindexResult",
    "__version__",
]

__version__: str

@final
class Lexmill:
    """Python wrapper for Lexmill"""

    def __new__(cls, path: str) -> Lexmill: ...
    @staticmethod
    def from_json(json_str: str) -> Lexmill:
        """Create a new editor from JSON string

        Args:
            json_str: JSON string containing the tokenizer

        Returns:
            Lexmill instance"""
    def save(self, path: str) -> None:
        """Save the tokenizer to a JSON file

        Args:
            path: Output path for the tokenizer.json file"""
    def to_json(self) -> str:
        """Export tokenizer to JSON string

        Returns:
            JSON string representation of the tokenizer"""
    @property
    def vocab_size(self) -> int:
        """Get the current vocabulary size"""
    @property
    def merges_count(self) -> int:
        """Get the current number of merges"""
    def has_token(self, token: str) -> bool:
        """Check if a token exists in the vocabulary

        Args:
            token: Token string to check

        Returns:
            True if token exists, False otherwise"""
    def get_token_id(self, token: str) -> int | None:
        """Get the ID of a token

        Args:
            token: Token string

        Returns:
            Token ID or None if not found"""
    def get_token_by_id(self, id: SupportsIndex) -> str | None:
        """Get a token by its ID

        Args:
            id: Token ID

        Returns:
            Token string or None if not found"""
    def get_vocab(self) -> dict[str, int]:
        """Get all tokens in the vocabulary

        Returns:
            Dictionary mapping token strings to their IDs"""
    def get_merges(self) -> list[tuple[str, str]]:
        """Get all merges as list of tuples

        Returns:
            List of (token_a, token_b) merge pairs"""
    def get_stats(self) -> TokenizerStats:
        """Get comprehensive tokenizer statistics

        Returns:
            TokenizerStats object with detailed statistics"""
    def validate_merges(self) -> ValidationResult:
        """Validate all merges - check that each merge result exists in vocabulary

        Returns:
            ValidationResult with valid/invalid merge counts and details"""
    def remove_invalid_merges(self) -> int:
        """Remove all invalid merges from the tokenizer

        Returns:
            Number of invalid merges removed"""
    def merge_from(self, source_path: str, max_vocab_size: SupportsIndex = 262144) -> MergeTokenizerResult:
        """Merge a source tokenizer into this target tokenizer.

        Source tokens are converted to this tokenizer's native ByteLevel or
        space-marker representation. Source merges receive higher priority than
        original target merges.

        Args:
            source_path: Path to the source tokenizer.json file
            max_vocab_size: Maximum complete vocabulary size, including added tokens

        Returns:
            MergeTokenizerResult with merge statistics"""
    def add_token(self, token: str, *, reachable: bool = False) -> AdditionResult:
        """Add a token with proper merge chain creation

        This method intelligently adds a token using one of these strategies:
        - Single character: Added directly to vocab
        - Longest prefix: If a prefix exists, adds prefix + suffix -> token merge
        - Character chain: Builds merge chain a+b->ab, ab+c->abc, etc.
        - Reachable (reachable=True): Cuts the token into the pieces the current
          merges give it and chains those, so that BPE produces the token whole

        Use reachable=True for words the model should see as one token: new
        merges rank below every existing one, so existing merges often split a
        word before the default chain completes. The default keeps the classic
        chain, which files made with earlier versions were built with.

        Args:
            token: Token string to add
            reachable: Chain the pieces BPE already cuts the token into (default: False)

        Returns:
            AdditionResult with details about how the token was added"""
    def add_tokens(self, tokens: Sequence[str], *, reachable: bool = False) -> list[AdditionResult]:
        """Add multiple tokens

        Use reachable=True for words the model should see as one token: new
        merges rank below every existing one, so existing merges often split a
        word before the default chain completes. The default keeps the classic
        chain, which files made with earlier versions were built with.

        Args:
            tokens: List of token strings to add
            reachable: Chain the pieces BPE already cuts each token into (default: False)

        Returns:
            List of AdditionResult for each token"""
    def add_token_atomic(self, token: str) -> bool:
        """Add a token without creating merge chains (for special tokens)

        Args:
            token: Token string to add

        Returns:
            True if token was added, False if it already existed"""
    def remove_token(self, token: str) -> RemovalResult:
        """Remove a token and all its dependencies

        This performs cascade removal:
        - Removes all merges that use this token as input
        - Removes all merges that produce this token
        - Removes all tokens that can only be produced by removed merges

        Args:
            token: Token string to remove

        Returns:
            RemovalResult with details about what was removed"""
    def remove_tokens(self, tokens: Sequence[str]) -> list[RemovalResult]:
        """Remove multiple tokens

        Args:
            tokens: List of token strings to remove

        Returns:
            List of RemovalResult for each token"""
    def shrink(self, count: SupportsIndex, min_id: SupportsIndex = 0) -> ShrinkResult:
        """Shrink vocabulary by removing N longest non-special tokens

        Selection criteria (in order):
        - Longest tokens first (by character count)
        - Highest token IDs first (among same length)
        - Never removes single-character tokens
        - Never removes special tokens (<...> or [...])

        Args:
            count: Number of tokens to remove
            min_id: Only consider tokens with ID >= min_id (default: 0)

        Returns:
            ShrinkResult with details about the shrink operation"""
    def find_tokens_to_shrink(self, count: SupportsIndex, min_id: SupportsIndex = 0) -> list[tuple[str, int, int]]:
        """Find tokens that would be removed by shrink operation (preview)

        Args:
            count: Number of tokens to find
            min_id: Only consider tokens with ID >= min_id (default: 0)

        Returns:
            List of (token, id, char_length) tuples"""
    def get_single_char_tokens(self) -> list[tuple[str, int]]:
        """Get all single-character tokens

        Returns:
            List of (token, id) tuples"""
    def sync_single_chars(self, source_path: str, min_id: SupportsIndex = 0) -> dict[str, int]:
        """Sync single-character tokens from another tokenizer

        Copies missing single-char tokens from source, removing longest
        tokens to maintain vocabulary size.

        Args:
            source_path: Path to source tokenizer.json
            min_id: Only remove tokens with ID >= min_id (default: 0)

        Returns:
            Dictionary with sync operation details"""
    def add_tokens_keep_size(
        self, tokens: Sequence[str], whitelist: Sequence[str] | None = None, *, reachable: bool = False
    ) -> dict[str, int]:
        """Add tokens while keeping vocabulary size fixed

        Adds new tokens and automatically removes other tokens to maintain
        the original vocabulary size.

        Every entry an addition creates (the token and the pieces of its merge
        chain) is paid for by removing the longest tokens that may go (never
        single characters, <...>/[...] tokens, added tokens, the whitelist or
        what this call adds) and takes an ID such a removal freed, so neither
        the size nor the largest ID grows. When nothing is left to remove, the
        remaining tokens are left out and counted in tokens_not_added.

        Use reachable=True for words the model should see as one token: new
        merges rank below every existing one, so existing merges often split a
        word before the default chain completes. The default keeps the classic
        chain, which files made with earlier versions were built with.

        Args:
            tokens: List of tokens to add
            whitelist: Optional list of tokens that should never be removed
            reachable: Chain the pieces BPE already cuts each token into (default: False)

        Returns:
            Dictionary with operation details"""
    def check_vocab_gaps(self) -> tuple[bool, int, int, int]:
        """Check if vocabulary has gaps in its ID space

        Returns:
            Tuple of (has_gaps, total_gaps, min_id, max_id)"""
    def reindex_vocab(self) -> ReindexResult:
        """Reindex vocabulary to make all IDs sequential

        This removes all gaps in the vocabulary IDs, creating a dense/compact
        ID space. Tokens that already have correct sequential IDs (starting from 0)
        are preserved - only tokens after the first gap are remapped.

        Note: Merges don't contain IDs, they reference token strings,
        so they don't need to be updated.

        Added tokens stay in step: one whose content is a vocabulary token takes
        that token's new ID, and the ID of one whose content is not is skipped.
        The result's old_ids and new_ids list the entries that moved, so rows of
        an embedding matrix follow in one line: E[r.new_ids] = E[r.old_ids]
        (numpy; in torch, under torch.no_grad()).

        Returns:
            ReindexResult with details about the reindexing operation"""
    def pin_added_tokens(self) -> int:
        """Enter added tokens into the model vocabulary under their own IDs

        Readers such as the tokenizers library ignore the written ID of an added
        token whose content is not in the model vocabulary and number such tokens
        themselves, from the vocabulary's size upward: after an edit that changes
        the size, they would be read with other IDs. Pinning makes each of them a
        vocabulary entry (without merges) under the ID it is written with, unless
        another vocabulary token holds that ID. save() and to_json() warn when
        pinning is needed.

        Returns:
            Number of added tokens entered into the vocabulary"""
    def spell(self, text: str) -> str:
        """Write plain text in this tokenizer's spelling

        Applies NFC when the normalizer has an NFC step, then writes every UTF-8
        byte as its byte-level character (byte-level tokenizers: ' the' becomes
        'Ġthe') or every space as the space marker (' the' becomes '▁the').
        Exactly the text given is converted: no space is put before it.

        Args:
            text: Plain text

        Returns:
            The text as the vocabulary spells it

        Raises:
            ValueError: if the tokenizer has neither a ByteLevel pre-tokenizer nor a space marker"""

# Result objects come only from Lexmill methods; calling a result class raises
# TypeError at run time, which no stub can express.

@final
class ValidationResult:
    """Result of validating merges"""

    @property
    def valid_count(self) -> int: ...
    @property
    def invalid_count(self) -> int: ...
    @property
    def invalid_merges(self) -> list[tuple[int, str, str]]: ...

@final
class AdditionResult:
    """Result of token addition"""

    @property
    def token(self) -> str: ...
    @property
    def added(self) -> bool: ...
    @property
    def method(self) -> Literal["single_char", "longest_prefix", "char_chain", "reachable", "already_exists"]: ...
    @property
    def added_merges(self) -> list[tuple[str, str]]: ...

@final
class RemovalResult:
    """Result of token removal"""

    @property
    def root_token(self) -> str: ...
    @property
    def removed_tokens(self) -> list[str]: ...
    @property
    def removed_merges(self) -> list[tuple[str, str]]: ...

@final
class ShrinkResult:
    """Result of shrink operation"""

    @property
    def initial_vocab_size(self) -> int: ...
    @property
    def initial_merges_count(self) -> int: ...
    @property
    def final_vocab_size(self) -> int: ...
    @property
    def final_merges_count(self) -> int: ...
    @property
    def tokens_removed_count(self) -> int: ...
    @property
    def total_tokens_removed(self) -> int: ...
    @property
    def total_merges_removed(self) -> int: ...

@final
class MergeTokenizerResult:
    """Result of merging a source tokenizer into a target tokenizer"""

    @property
    def initial_target_vocab_size(self) -> int: ...
    @property
    def source_vocab_size(self) -> int: ...
    @property
    def final_model_vocab_size(self) -> int: ...
    @property
    def final_vocab_size(self) -> int: ...
    @property
    def tokens_injected(self) -> int: ...
    @property
    def target_tokens_removed(self) -> int: ...
    @property
    def bridge_tokens_added(self) -> int: ...
    @property
    def bridge_merges_added(self) -> int: ...
    @property
    def source_merges_added(self) -> int: ...
    @property
    def target_merges_retained(self) -> int: ...
    @property
    def representation(self) -> str: ...

@final
class TokenizerStats:
    """Tokenizer statistics"""

    @property
    def vocab_size(self) -> int: ...
    @property
    def merges_count(self) -> int: ...
    @property
    def single_char_count(self) -> int: ...
    @property
    def special_token_count(self) -> int: ...
    @property
    def min_token_id(self) -> int: ...
    @property
    def max_token_id(self) -> int: ...
    @property
    def length_distribution(self) -> list[tuple[int, int]]: ...

@final
class ReindexResult:
    """Result of reindex operation"""

    @property
    def vocab_size(self) -> int: ...
    @property
    def merges_count(self) -> int: ...
    @property
    def old_min_id(self) -> int: ...
    @property
    def old_max_id(self) -> int: ...
    @property
    def new_min_id(self) -> int: ...
    @property
    def new_max_id(self) -> int: ...
    @property
    def ids_remapped(self) -> int: ...
    @property
    def gaps_removed(self) -> int: ...
    # The entries that moved: old_ids[i] became new_ids[i], so the rows of an
    # embedding matrix follow in one line, E[r.new_ids] = E[r.old_ids] (numpy;
    # in torch under torch.no_grad()).
    @property
    def old_ids(self) -> list[int]: ...
    @property
    def new_ids(self) -> list[int]: ...
