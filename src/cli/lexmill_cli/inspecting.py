"""Commands that read a tokenizer: stats and validate."""

from __future__ import annotations

import argparse

from lexmill_cli.errors import UsageError
from lexmill_cli.files import open_editor, save_editor
from lexmill_cli.report import Report, merge_text, token_text


def run_stats(args: argparse.Namespace, report: Report) -> int:
    editor = open_editor(args.input)
    stats = editor.get_stats()
    has_gaps, gaps, low, high = editor.check_vocab_gaps()
    report.line(f"{args.input}: {editor!r}")
    report.line(f"  vocabulary          {stats.vocab_size} tokens")
    report.line(f"  IDs                 {low} to {high}, " + (f"{gaps} unused" if has_gaps else "contiguous"))
    report.line(f"  merges              {stats.merges_count}")
    report.line(f"  single characters   {stats.single_char_count}")
    report.line(f"  special-looking     {stats.special_token_count}")
    lengths = ", ".join(f"{length}: {count}" for length, count in stats.length_distribution)
    report.line(f"  tokens by length    {lengths or 'none'}")
    return 0


def run_validate(args: argparse.Namespace, report: Report) -> int:
    if args.remove_invalid and args.output is None:
        raise UsageError("--remove-invalid needs -o PATH to write the result to")
    if args.output is not None and not args.remove_invalid:
        report.warn("-o is ignored without --remove-invalid: nothing was written")
    editor = open_editor(args.input)
    result = editor.validate_merges()
    report.line(f"{args.input}: {result.valid_count} valid merges, {result.invalid_count} invalid")
    report.limited(
        [
            f"#{position}: {merge_text((left, right))} -> {token_text(left + right)} is not in the vocabulary"
            for position, left, right in result.invalid_merges
        ],
        args.show,
    )
    if args.remove_invalid:
        removed = editor.remove_invalid_merges()
        report.line(f"removed {removed} invalid merges")
        save_editor(editor, args, report)
        return 0
    return 1 if result.invalid_count else 0
