"""The tokens a command is given: from arguments or a file, as plain text or
in the vocabulary's spelling, and checked against what the vocabulary can hold."""

from __future__ import annotations

import argparse
from dataclasses import dataclass
from typing import Optional

import lexmill

from lexmill_cli.errors import CommandError
from lexmill_cli.names import utf8_tokens
from lexmill_cli.report import token_text


def _byte_level_alphabet() -> frozenset[str]:
    # The characters byte-level tokenizers write bytes with: printable bytes
    # stand for themselves, the other 68 take U+0100 on, in byte order.
    printable = [*range(0x21, 0x7F), *range(0xA1, 0xAD), *range(0xAE, 0x100)]
    others = len([byte for byte in range(256) if byte not in printable])
    return frozenset(map(chr, printable)) | frozenset(chr(0x100 + i) for i in range(others))


BYTE_LEVEL_ALPHABET = _byte_level_alphabet()


@dataclass(frozen=True)
class Spelling:
    """How a vocabulary writes text: byte-level, or spaces as `marker`."""

    byte_level: bool
    marker: Optional[str] = None

    def describe(self) -> str:
        return "byte-level" if self.byte_level else f"space-marker ({self.marker!r})"


def spelling_of(editor: lexmill.Lexmill) -> Spelling | None:
    """None for a tokenizer that is neither byte-level nor space-marker."""
    try:
        probe = editor.spell(" \n")
    except ValueError:
        return None
    # The marker rule and NFC leave a line break alone; the byte-level rule writes it 'Ċ'.
    if probe == "\u0120\u010a":
        return Spelling(byte_level=True)
    return Spelling(byte_level=False, marker=probe[:-1])


def spelling_problem(token: str, spelling: Spelling | None) -> str | None:
    """Why `token` can never come out of BPE in this vocabulary, if it cannot."""
    if token == "":
        return "the empty token cannot occur in a vocabulary"
    if spelling is None:
        return None
    if spelling.byte_level:
        stray = next((char for char in token if char not in BYTE_LEVEL_ALPHABET), None)
        if stray is not None:
            return (
                f"{token_text(token)} cannot occur in this byte-level vocabulary: "
                f"{stray!r} (U+{ord(stray):04X}) is not one of its 256 byte characters"
            )
    elif " " in token:
        return f"{token_text(token)} cannot occur in this vocabulary: it writes a space as {spelling.marker!r}"
    return None


def read_token_list(path: str) -> list[str]:
    try:
        with open(path, encoding="utf-8", newline="") as source:
            text = source.read()
    except OSError as error:
        raise CommandError(f"Failed to read token list: {path}: {error.strerror or error}") from error
    except UnicodeDecodeError as error:
        raise CommandError(f"Failed to read token list: {path} is not UTF-8 text") from error
    # One token per line, taken exactly as written apart from the line break.
    return [line for line in text.replace("\r\n", "\n").split("\n") if line != ""]


def named_tokens(args: argparse.Namespace) -> list[str]:
    """The tokens given as arguments and in --tokens-file, as typed."""
    tokens = utf8_tokens(list(args.tokens))
    if args.tokens_file is not None:
        tokens += read_token_list(args.tokens_file)
    return tokens


def in_vocabulary_spelling(args: argparse.Namespace, editor: lexmill.Lexmill, tokens: list[str]) -> list[str]:
    """`tokens` spelled as the vocabulary spells them (for --plain and --words)
    and checked against what it can hold (unless --no-spelling-check)."""
    tokens = utf8_tokens(tokens)
    if args.plain or args.words:
        # In running text a word follows a space; BPE sees the two together.
        prefix = " " if args.words else ""
        try:
            tokens = [editor.spell(prefix + token) for token in tokens]
        except ValueError as error:
            option = "--words" if args.words else "--plain"
            raise CommandError(f"{option} cannot spell tokens for {args.input}: {error}") from error
    if args.spelling_check:
        spelling = spelling_of(editor)
        problems = [problem for problem in (spelling_problem(token, spelling) for token in tokens) if problem]
        if problems:
            more = f" (and {len(problems) - 1} more tokens)" if len(problems) > 1 else ""
            raise CommandError(
                f"{problems[0]}{more}; give plain text with --plain or --words, "
                "or skip this check with --no-spelling-check"
            )
    return tokens
