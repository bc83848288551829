"""The command line: every command with its arguments and options."""

from __future__ import annotations

import argparse
import re
from typing import Callable

import lexmill

from lexmill_cli.combining import run_merge, run_sync_chars
from lexmill_cli.convert_merges import run_convert_merges
from lexmill_cli.editing import run_add, run_remove, run_reindex, run_shrink
from lexmill_cli.inspecting import run_stats, run_validate
from lexmill_cli.report import DEFAULT_SHOWN, PROG

U32_MAX = 2**32 - 1
U64_MAX = 2**64 - 1

EXIT_STATUSES = """\
exit status:
  0    done
  1    failed, with one line on standard error saying why; nothing was written
       (validate: invalid merges were found)
  2    a mistake in the command line
  130  interrupted
  141  standard output was closed early (lexmill ... | head): the work was
       done and every file written, only the report was cut short"""


def whole_number(text: str, largest: int, what: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {text}")
    if value > largest:
        raise argparse.ArgumentTypeError(f"{what} (at most {largest}): {text}")
    return value


def count(text: str) -> int:
    return whole_number(text, U64_MAX, "too large")


def token_id(text: str) -> int:
    return whole_number(text, U32_MAX, "not a token ID")


def vocab_size(text: str) -> int:
    value = whole_number(text, U32_MAX, "too large for a vocabulary")
    if value == 0:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def shown(text: str) -> int:
    return whole_number(text, U64_MAX, "too large")


def pattern(text: str) -> re.Pattern[str]:
    try:
        return re.compile(text)
    except re.error as error:
        raise argparse.ArgumentTypeError(f"not a regular expression: {text!r}: {error}") from None


class HelpFormatter(argparse.HelpFormatter):
    """Wraps descriptions to the terminal, but keeps the table of exit statuses as written."""

    def _fill_text(self, text: str, width: int, indent: str) -> str:
        if EXIT_STATUSES in text:
            return "".join(indent + line for line in text.splitlines(keepends=True))
        return super()._fill_text(text, width, indent)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Inspect and edit byte-pair-encoding tokenizer.json files.",
        epilog=f"Run '{PROG} COMMAND --help' for the options of one command.\n\n{EXIT_STATUSES}",
        formatter_class=HelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {lexmill.__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    def command(name: str, run: Callable[..., int], summary: str, description: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=summary, description=description, epilog=EXIT_STATUSES,
                                  formatter_class=HelpFormatter)
        sub.set_defaults(run=run, parser=sub, quiet=False)
        sub.add_argument("input", metavar="TOKENIZER", help="the tokenizer.json file to read")
        return sub

    def output(sub: argparse.ArgumentParser, required: bool = True) -> None:
        sub.add_argument("-o", "--output", metavar="PATH", required=required,
                         help="where to write the edited tokenizer (may be the input file itself)")
        sub.add_argument("--no-pin", dest="pin", action="store_false",
                         help="leave added tokens that are no vocabulary tokens out of the vocabulary; by default "
                              "they are entered under their own IDs before writing, since the tokenizers "
                              "library would otherwise number them itself and read them with other IDs")

    def source(sub: argparse.ArgumentParser, use: str) -> None:
        sub.add_argument("source", metavar="SOURCE", help=f"the tokenizer.json {use}")

    def listing(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("--show", type=shown, default=DEFAULT_SHOWN, metavar="N",
                         help=f"list at most N entries (default {DEFAULT_SHOWN})")
        sub.add_argument("-q", "--quiet", action="store_true", help="leave out the lines for single tokens and merges")

    def token_arguments(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("tokens", metavar="TOKEN", nargs="*",
                         help="a token exactly as the vocabulary spells it (for example Ġword or ▁word)")
        sub.add_argument("--tokens-file", metavar="FILE", help="read more tokens from FILE, one per line (UTF-8)")
        spelling = sub.add_mutually_exclusive_group()
        spelling.add_argument("--plain", action="store_true",
                              help="the tokens are plain text: write them in the vocabulary's spelling "
                                   "(' word' becomes 'Ġword' or '▁word')")
        spelling.add_argument("--words", action="store_true",
                              help="the tokens are words as they stand in running text, after a space: "
                                   "like --plain with one space put before each ('word' becomes 'Ġword')")
        sub.add_argument("--no-spelling-check", dest="spelling_check", action="store_false",
                         help="take tokens that can never come out of BPE in this vocabulary (empty ones, "
                              "characters that are not byte-level characters, literal spaces in a "
                              "space-marker vocabulary), which are refused otherwise")

    sub = command("stats", run_stats, "print sizes, ID range and token lengths",
                  "Print the vocabulary size, merge count, ID range and gaps, single characters, "
                  "special-looking tokens and the number of tokens of each length.")

    sub = command("validate", run_validate, "check that every merge's result is in the vocabulary",
                  "Check that the result of every merge is in the vocabulary. Exits with status 1 when "
                  "invalid merges are found, unless --remove-invalid writes a repaired file.")
    sub.add_argument("--remove-invalid", action="store_true", help="remove the invalid merges and write the result")
    output(sub, required=False)
    listing(sub)

    sub = command("add", run_add, "add tokens with the merges that build them",
                  "Add tokens to the vocabulary together with the merges that let BPE produce them: "
                  "the pieces the existing merges cut a token into are joined by new merges, which rank "
                  "below every existing one, so that BPE produces the token whole. Tokens that are "
                  "already there are left as they are.")
    token_arguments(sub)
    sub.add_argument("--chain", action="store_true",
                     help="build the classic chain instead (longest prefix in the vocabulary, then character "
                          "by character): existing merges often split such a token before it completes")
    mode = sub.add_mutually_exclusive_group()
    mode.add_argument("--atomic", action="store_true", help="add bare vocabulary entries without merges (special tokens)")
    mode.add_argument("--keep-size", action="store_true",
                      help="remove the longest unprotected tokens to keep the vocabulary size and ID range "
                           "(the new tokens, single characters, <...>/[...] tokens and added tokens are "
                           "protected); the new tokens take the IDs freed")
    sub.add_argument("--whitelist", metavar="TOKEN", nargs="+", default=[],
                     help="with --keep-size: further tokens that must not be chosen for removal")
    sub.add_argument("--id-map", metavar="FILE",
                     help="with --keep-size: write the IDs whose token changed to FILE as JSON, "
                          "{\"ID\": {\"old\": token or null, \"new\": token or null}}: the rows of an "
                          "embedding matrix to initialise again")
    output(sub)
    listing(sub)

    sub = command("remove", run_remove, "remove tokens and everything built from them",
                  "Remove tokens together with every merge that uses or produces them and every token "
                  "those merges build. Fails when none of the tokens is in the vocabulary; a token that "
                  "is not there is reported as a warning when others are removed.")
    token_arguments(sub)
    sub.add_argument("--match", type=pattern, metavar="REGEX",
                     help="also remove every vocabulary token that REGEX matches as a whole "
                          "(Python syntax; '.*' around it matches a part)")
    output(sub)
    listing(sub)

    sub = command("shrink", run_shrink, "remove the N longest ordinary tokens",
                  "Remove the COUNT longest tokens (highest ID first among equals), never single "
                  "characters or <...>/[...] tokens, each with everything built from it.")
    sub.add_argument("count", type=count, metavar="COUNT", help="how many tokens to choose for removal")
    sub.add_argument("--min-id", type=token_id, default=0, metavar="ID", help="only choose tokens with an ID of at least ID")
    sub.add_argument("--dry-run", action="store_true", help="only list the tokens that would be chosen")
    sub.add_argument("--match", type=pattern, metavar="REGEX",
                     help="with --dry-run: list only the chosen tokens that REGEX matches as a whole")
    output(sub, required=False)
    listing(sub)

    sub = command("reindex", run_reindex, "renumber the vocabulary to IDs 0 to n-1",
                  "Close the gaps in the vocabulary's ID space. Added tokens stay in step: one that is a "
                  "vocabulary token takes its new ID, and the IDs of the others are kept free.")
    sub.add_argument("--id-map", metavar="FILE",
                     help="write the IDs that moved to FILE as JSON, {\"old ID\": new ID}")
    output(sub)

    sub = command("sync-chars", run_sync_chars, "copy missing single characters from another tokenizer",
                  "Copy every single-character token of SOURCE that the tokenizer lacks, removing as many "
                  "of its longest tokens first so that the size stays the same, then reindex. Both files "
                  "must spell text the same way (byte-level, or the same space marker).")
    source(sub, "to take the characters from")
    sub.add_argument("--min-id", type=token_id, default=0, metavar="ID", help="only remove tokens with an ID of at least ID")
    sub.add_argument("--force", action="store_true",
                     help="copy characters even from a tokenizer that spells text another way")
    sub.add_argument("-q", "--quiet", action="store_true", help="leave out the progress lines")
    output(sub)

    sub = command("merge", run_merge, "merge a whole source tokenizer into this one",
                  "Merge SOURCE into the tokenizer: its tokens are converted to the tokenizer's own "
                  "representation and its merges take priority over the tokenizer's. Target tokens "
                  "make room when the result would exceed --max-vocab-size; a warning says how many.")
    source(sub, "to merge in")
    sub.add_argument("--max-vocab-size", type=vocab_size, default=262144, metavar="N",
                     help="largest complete vocabulary size, added tokens included (default 262144)")
    output(sub)

    sub = command("convert-merges", run_convert_merges, "rewrite single-string merges as pairs",
                  "Rewrite a tokenizer whose merges are single strings (\"a b\", as in older files) with "
                  "the pairs ([\"a\", \"b\"]) that lexmill reads. Fails, naming the line, on a merge that "
                  "does not split at one space into two tokens.")
    output(sub)
    return parser
