"""Commands that bring a second tokenizer in: sync-chars and merge."""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
from typing import Iterator

from lexmill_cli.errors import CommandError
from lexmill_cli.files import open_editor, save_editor, source_failure
from lexmill_cli.report import Report
from lexmill_cli.tokens import spelling_of


@contextlib.contextmanager
def standard_error_silenced(silenced: bool) -> Iterator[None]:
    # The module writes its progress straight to the standard error descriptor.
    if not silenced:
        yield
        return
    sys.stderr.flush()
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(devnull, 2)
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(devnull)


def run_sync_chars(args: argparse.Namespace, report: Report) -> int:
    editor = open_editor(args.input)
    if not args.force:
        # Characters of a byte-level vocabulary never reach BPE in a
        # space-marker one, and the other way round; a tokenizer that is
        # neither cannot be told apart and is let through.
        ours, theirs = spelling_of(editor), spelling_of(open_editor(args.source, source=True))
        if ours is not None and theirs is not None and ours != theirs:
            raise CommandError(
                f"{args.input} is {ours.describe()} but {args.source} is {theirs.describe()}: "
                "characters copied between them never reach BPE; give --force to copy them anyway"
            )
    try:
        with standard_error_silenced(args.quiet):
            counts = editor.sync_single_chars(args.source, args.min_id)
    except OSError as error:
        raise source_failure(error, args.source) from error
    report.line("single characters synchronised:")
    report.counts(counts)
    if counts["chars_added_count"] == 0:
        report.warn(f"no characters were copied: {args.input} has every single character of {args.source}")
    save_editor(editor, args, report)
    return 0


def run_merge(args: argparse.Namespace, report: Report) -> int:
    editor = open_editor(args.input)
    try:
        result = editor.merge_from(args.source, args.max_vocab_size)
    except OSError as error:
        raise source_failure(error, args.source) from error
    except ValueError as error:
        raise CommandError(str(error)) from error
    report.line("merged:")
    report.fields(result)
    if result.target_tokens_removed:
        # Only the tokens over the limit went; a limit that much higher keeps them.
        report.warn(
            f"{result.target_tokens_removed} of the target's tokens were dropped to stay within "
            f"--max-vocab-size {args.max_vocab_size}; --max-vocab-size "
            f"{args.max_vocab_size + result.target_tokens_removed} keeps them all"
        )
    save_editor(editor, args, report)
    return 0
