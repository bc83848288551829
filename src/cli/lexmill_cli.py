"""The `lexmill` command: the common tokenizer.json jobs from a shell.

    lexmill stats tokenizer.json
    lexmill add tokenizer.json Ġretokenize -o edited.json
    lexmill merge target.json source.json --max-vocab-size 400000 -o merged.json

Every command reads one tokenizer file; the editing ones write their result to
the path given with -o (which may be the input itself) and print what they did.
Failures print one line to standard error and exit with status 1; mistakes in
the command line exit with status 2.
"""

from __future__ import annotations

import argparse
import sys
from typing import Callable, Iterable, Sequence

import lexmill

PROG = "lexmill"
# Lists longer than this are cut short in the printed report unless --show says otherwise.
DEFAULT_SHOWN = 20


class CommandError(Exception):
    """A failure the user can act on; printed without a traceback."""


def token_text(token: str) -> str:
    # Tokens hold spaces, line breaks and other invisible characters: quote them.
    return repr(token)


def merge_text(pair: Sequence[str]) -> str:
    return f"{token_text(pair[0])} + {token_text(pair[1])}"


def print_fields(obj: object, names: Iterable[str]) -> None:
    names = list(names)
    width = max(len(name) for name in names)
    for name in names:
        print(f"  {name.ljust(width)}  {getattr(obj, name)}")


def print_counts(counts: dict[str, int]) -> None:
    width = max(len(key) for key in counts)
    for key, value in counts.items():
        print(f"  {key.ljust(width)}  {value}")


def print_limited(items: Sequence[str], shown: int, indent: str = "    ") -> None:
    for item in items[:shown]:
        print(indent + item)
    if len(items) > shown:
        print(f"{indent}... and {len(items) - shown} more")


def open_editor(path: str) -> lexmill.Lexmill:
    try:
        return lexmill.Lexmill(path)
    except OSError as error:
        raise CommandError(str(error)) from error


def save_editor(editor: lexmill.Lexmill, path: str) -> None:
    try:
        editor.save(path)
    except (OSError, ValueError) as error:
        raise CommandError(str(error)) from error
    print(f"wrote {path}: {editor!r}")


def drop_invalid_merges(editor: lexmill.Lexmill) -> None:
    # A removal can leave behind a second merge that produced a removed token;
    # a file holding such a merge is refused by the tokenizers library.
    dropped = editor.remove_invalid_merges()
    if dropped:
        print(f"removed {dropped} merges whose result is no longer in the vocabulary")


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


def gathered_tokens(args: argparse.Namespace) -> list[str]:
    tokens = list(args.tokens)
    if args.tokens_file is not None:
        tokens += read_token_list(args.tokens_file)
    if not tokens:
        raise CommandError("no tokens given: name them as arguments or with --tokens-file")
    return tokens


# ---------------------------------------------------------------------------
# Commands. Each takes the parsed arguments and returns the exit status.


def run_stats(args: argparse.Namespace) -> int:
    editor = open_editor(args.input)
    stats = editor.get_stats()
    has_gaps, gaps, low, high = editor.check_vocab_gaps()
    print(f"{args.input}: {editor!r}")
    print(f"  vocabulary          {stats.vocab_size} tokens")
    print(f"  IDs                 {low} to {high}, " + (f"{gaps} unused" if has_gaps else "contiguous"))
    print(f"  merges              {stats.merges_count}")
    print(f"  single characters   {stats.single_char_count}")
    print(f"  special-looking     {stats.special_token_count}")
    lengths = ", ".join(f"{length}: {count}" for length, count in stats.length_distribution)
    print(f"  tokens by length    {lengths or 'none'}")
    return 0


def run_validate(args: argparse.Namespace) -> int:
    if args.remove_invalid and args.output is None:
        raise CommandError("--remove-invalid needs -o PATH to write the result to")
    editor = open_editor(args.input)
    result = editor.validate_merges()
    print(f"{args.input}: {result.valid_count} valid merges, {result.invalid_count} invalid")
    print_limited(
        [
            f"#{position}: {merge_text((left, right))} -> {token_text(left + right)} is not in the vocabulary"
            for position, left, right in result.invalid_merges
        ],
        args.show,
    )
    if args.remove_invalid:
        removed = editor.remove_invalid_merges()
        print(f"removed {removed} invalid merges")
        save_editor(editor, args.output)
        return 0
    return 1 if result.invalid_count else 0


def run_add(args: argparse.Namespace) -> int:
    if args.whitelist and not args.keep_size:
        raise CommandError("--whitelist applies only with --keep-size")
    tokens = gathered_tokens(args)
    editor = open_editor(args.input)
    if args.atomic:
        for token in tokens:
            added = editor.add_token_atomic(token)
            state = f"added, ID {editor.get_token_id(token)}" if added else "already in the vocabulary"
            print(f"{token_text(token)}: {state}")
    elif args.keep_size:
        # The tokens asked for are protected too: otherwise a long new token can
        # be chosen to make room for itself.
        counts = editor.add_tokens_keep_size(tokens, whitelist=tokens + list(args.whitelist))
        print("added while keeping the vocabulary size:")
        print_counts(counts)
        # A protected token still goes when a token it is built from is chosen
        # to make room; writing such a file would report a failure as success.
        lost = [token for token in tokens if not editor.has_token(token)]
        if lost:
            raise CommandError(
                f"{len(lost)} of the tokens asked for were removed again to make room "
                f"({', '.join(token_text(token) for token in lost[:DEFAULT_SHOWN])}); nothing was written. "
                "Whitelist the tokens they are built from, or add them without --keep-size"
            )
        for token in tokens:
            print(f"  {token_text(token)}: ID {editor.get_token_id(token)}")
        drop_invalid_merges(editor)
    else:
        for result in editor.add_tokens(tokens):
            if not result.added:
                print(f"{token_text(result.token)}: already in the vocabulary")
                continue
            merges = ", ".join(merge_text(pair) for pair in result.added_merges) or "none"
            token_id = editor.get_token_id(result.token)
            print(f"{token_text(result.token)}: added ({result.method}), ID {token_id}, merges added: {merges}")
    save_editor(editor, args.output)
    return 0


def run_remove(args: argparse.Namespace) -> int:
    tokens = gathered_tokens(args)
    editor = open_editor(args.input)
    removed_roots = set()
    for result in editor.remove_tokens(tokens):
        removed_roots.add(result.root_token)
        print(
            f"{token_text(result.root_token)}: removed {len(result.removed_tokens)} tokens "
            f"and {len(result.removed_merges)} merges"
        )
        others = sorted(token for token in result.removed_tokens if token != result.root_token)
        print_limited([token_text(token) for token in others], args.show)
    for token in tokens:
        if token not in removed_roots:
            print(f"{token_text(token)}: not in the vocabulary (or removed with an earlier token)")
    drop_invalid_merges(editor)
    save_editor(editor, args.output)
    return 0


def run_shrink(args: argparse.Namespace) -> int:
    if not args.dry_run and args.output is None:
        raise CommandError("shrink needs -o PATH to write the result to (or --dry-run to preview)")
    editor = open_editor(args.input)
    if args.dry_run:
        chosen = editor.find_tokens_to_shrink(args.count, args.min_id)
        print(f"{len(chosen)} tokens would be removed (with everything built from them):")
        print_limited([f"ID {token_id:>7}  {length:>3} chars  {token_text(token)}" for token, token_id, length in chosen], args.show)
        return 0
    result = editor.shrink(args.count, args.min_id)
    print("shrunk:")
    print_fields(
        result,
        [
            "initial_vocab_size",
            "final_vocab_size",
            "initial_merges_count",
            "final_merges_count",
            "tokens_removed_count",
            "total_tokens_removed",
            "total_merges_removed",
        ],
    )
    drop_invalid_merges(editor)
    save_editor(editor, args.output)
    return 0


def run_reindex(args: argparse.Namespace) -> int:
    editor = open_editor(args.input)
    result = editor.reindex_vocab()
    print("reindexed:")
    print_fields(
        result,
        ["vocab_size", "merges_count", "old_min_id", "old_max_id", "new_min_id", "new_max_id", "ids_remapped", "gaps_removed"],
    )
    save_editor(editor, args.output)
    return 0


def run_sync_chars(args: argparse.Namespace) -> int:
    editor = open_editor(args.input)
    try:
        counts = editor.sync_single_chars(args.source, args.min_id)
    except OSError as error:
        raise CommandError(str(error)) from error
    print("single characters synchronised:")
    print_counts(counts)
    drop_invalid_merges(editor)
    save_editor(editor, args.output)
    return 0


def run_merge(args: argparse.Namespace) -> int:
    editor = open_editor(args.input)
    try:
        result = editor.merge_from(args.source, args.max_vocab_size)
    except (OSError, ValueError) as error:
        raise CommandError(str(error)) from error
    print("merged:")
    print_fields(
        result,
        [
            "representation",
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
        ],
    )
    save_editor(editor, args.output)
    return 0


# ---------------------------------------------------------------------------
# The command line.


def non_negative(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {text}")
    return value


def token_id(text: str) -> int:
    value = non_negative(text)
    if value > 0xFFFFFFFF:
        raise argparse.ArgumentTypeError(f"not a token ID (0 to 4294967295): {text}")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Inspect and edit byte-pair-encoding tokenizer.json files.",
        epilog=f"Run '{PROG} COMMAND --help' for the options of one command.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {lexmill.__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    def command(name: str, run: Callable[[argparse.Namespace], int], summary: str, description: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=summary, description=description)
        sub.set_defaults(run=run)
        sub.add_argument("input", metavar="TOKENIZER", help="the tokenizer.json file to read")
        return sub

    def output(sub: argparse.ArgumentParser, required: bool = True) -> None:
        sub.add_argument(
            "-o", "--output", metavar="PATH", required=required,
            help="where to write the edited tokenizer (may be the input file itself)",
        )

    def shown(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("--show", type=non_negative, default=DEFAULT_SHOWN, metavar="N",
                         help=f"list at most N entries (default {DEFAULT_SHOWN})")

    def token_arguments(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("tokens", metavar="TOKEN", nargs="*",
                         help="a token exactly as the vocabulary spells it (for example Ġword or ▁word)")
        sub.add_argument("--tokens-file", metavar="FILE", help="read more tokens from FILE, one per line (UTF-8)")

    sub = command("stats", run_stats, "print sizes, ID range and token lengths",
                  "Print the vocabulary size, merge count, ID range and gaps, single characters, "
                  "special-looking tokens and the number of tokens of each length.")

    sub = command("validate", run_validate, "check that every merge's result is in the vocabulary",
                  "Check that the result of every merge is in the vocabulary. Exits with status 1 when "
                  "invalid merges are found, unless --remove-invalid writes a repaired file.")
    sub.add_argument("--remove-invalid", action="store_true", help="remove the invalid merges and write the result")
    output(sub, required=False)
    shown(sub)

    sub = command("add", run_add, "add tokens with the merges that build them",
                  "Add tokens to the vocabulary together with the merge chain that lets BPE produce them. "
                  "New merges rank below every existing one.")
    token_arguments(sub)
    mode = sub.add_mutually_exclusive_group()
    mode.add_argument("--atomic", action="store_true", help="add bare vocabulary entries without merges (special tokens)")
    mode.add_argument("--keep-size", action="store_true",
                      help="remove the longest unprotected tokens to keep the vocabulary size "
                           "(the new tokens, single characters, '▁' and <...>/[...] tokens are protected)")
    sub.add_argument("--whitelist", metavar="TOKEN", nargs="+", default=[],
                     help="with --keep-size: further tokens that must not be chosen for removal")
    output(sub)

    sub = command("remove", run_remove, "remove tokens and everything built from them",
                  "Remove tokens together with every merge that uses or produces them and every token "
                  "those merges build.")
    token_arguments(sub)
    output(sub)
    shown(sub)

    sub = command("shrink", run_shrink, "remove the N longest ordinary tokens",
                  "Remove the COUNT longest tokens (highest ID first among equals), never single "
                  "characters or <...>/[...] tokens, each with everything built from it.")
    sub.add_argument("count", type=non_negative, metavar="COUNT", help="how many tokens to choose for removal")
    sub.add_argument("--min-id", type=token_id, default=0, metavar="ID", help="only choose tokens with an ID of at least ID")
    sub.add_argument("--dry-run", action="store_true", help="only list the tokens that would be chosen")
    output(sub, required=False)
    shown(sub)

    sub = command("reindex", run_reindex, "renumber the vocabulary to IDs 0 to n-1",
                  "Close the gaps in the vocabulary's ID space; added tokens keep their IDs.")
    output(sub)

    sub = command("sync-chars", run_sync_chars, "copy missing single characters from another tokenizer",
                  "Copy every single-character token of SOURCE that the tokenizer lacks, removing as many "
                  "of its longest tokens first so that the size stays the same, then reindex.")
    sub.add_argument("source", metavar="SOURCE", help="the tokenizer.json to take the characters from")
    sub.add_argument("--min-id", type=token_id, default=0, metavar="ID", help="only remove tokens with an ID of at least ID")
    output(sub)

    sub = command("merge", run_merge, "merge a whole source tokenizer into this one",
                  "Merge SOURCE into the tokenizer: its tokens are converted to the tokenizer's own "
                  "representation and its merges take priority over the tokenizer's.")
    sub.add_argument("source", metavar="SOURCE", help="the tokenizer.json to merge in")
    sub.add_argument("--max-vocab-size", type=non_negative, default=262144, metavar="N",
                     help="largest complete vocabulary size, added tokens included (default 262144)")
    output(sub)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    for stream in (sys.stdout, sys.stderr):
        # Tokens are printed as they are; a terminal that cannot show a character gets an escape.
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(errors="backslashreplace")
    parser = build_parser()
    args = parser.parse_args(argv)
    run: Callable[[argparse.Namespace], int] = args.run
    try:
        return run(args)
    except CommandError as error:
        print(f"{PROG} {args.command}: error: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
