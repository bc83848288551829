"""Commands that edit one tokenizer: add, remove, shrink and reindex."""

from __future__ import annotations

import argparse

import lexmill

from lexmill_cli.errors import CommandError, UsageError
from lexmill_cli.files import check_side_file, open_editor, save_editor
from lexmill_cli.id_maps import changed_rows, moved_ids
from lexmill_cli.report import DEFAULT_SHOWN, Report, merge_text, token_list, token_text
from lexmill_cli.tokens import in_vocabulary_spelling, named_tokens


def run_add(args: argparse.Namespace, report: Report) -> int:
    if not args.tokens and args.tokens_file is None:
        raise UsageError("no tokens given: name them as arguments or with --tokens-file")
    if args.whitelist and not args.keep_size:
        raise UsageError("--whitelist applies only with --keep-size")
    if args.id_map is not None and not args.keep_size:
        raise UsageError("--id-map applies only with --keep-size")
    check_side_file(args.id_map, args.output, "--id-map")
    editor = open_editor(args.input)
    tokens = in_vocabulary_spelling(args, editor, named_tokens(args))
    if not tokens:
        raise CommandError(f"no tokens given: {args.tokens_file} holds none")
    id_map = None
    if args.atomic:
        added = add_atomic(editor, tokens, report)
    elif args.keep_size:
        whitelist = in_vocabulary_spelling(args, editor, list(args.whitelist))
        before = editor.get_vocab() if args.id_map is not None else {}
        added = add_keeping_size(editor, tokens, whitelist, not args.chain, report)
        if args.id_map is not None:
            id_map = (args.id_map, changed_rows(before, editor.get_vocab()))
    else:
        added = add_with_merges(editor, tokens, not args.chain, report)
    report.line(f"added {added} of {len(tokens)} tokens")
    # Adding what is there already is no failure: the tokens are in the file.
    if added == 0:
        report.warn("nothing was added: every token is already in the vocabulary")
    save_editor(editor, args, report, id_map)
    return 0


def add_atomic(editor: lexmill.Lexmill, tokens: list[str], report: Report) -> int:
    added = 0
    for token in tokens:
        if editor.add_token_atomic(token):
            added += 1
            report.detail(f"{token_text(token)}: added, ID {editor.get_token_id(token)}")
        else:
            report.detail(f"{token_text(token)}: already in the vocabulary")
    return added


def add_with_merges(editor: lexmill.Lexmill, tokens: list[str], reachable: bool, report: Report) -> int:
    added = 0
    for result in editor.add_tokens(tokens, reachable=reachable):
        if not result.added:
            report.detail(f"{token_text(result.token)}: already in the vocabulary")
            continue
        added += 1
        merges = ", ".join(merge_text(pair) for pair in result.added_merges) or "none"
        token_id = editor.get_token_id(result.token)
        report.detail(f"{token_text(result.token)}: added ({result.method}), ID {token_id}, merges added: {merges}")
    return added


def add_keeping_size(
    editor: lexmill.Lexmill, tokens: list[str], whitelist: list[str], reachable: bool, report: Report
) -> int:
    counts = editor.add_tokens_keep_size(tokens, whitelist=whitelist, reachable=reachable)
    report.line("added while keeping the vocabulary size:")
    report.counts(counts)
    # Left out for want of anything to remove: writing the file would report
    # a failure as success.
    if counts["tokens_not_added"]:
        left_out = [token for token in tokens if not editor.has_token(token)]
        raise CommandError(
            f"{counts['tokens_not_added']} of the tokens asked for could not be added: nothing was left "
            f"to remove to make room ({token_list(left_out, DEFAULT_SHOWN)}); nothing was written"
        )
    for token in tokens:
        report.detail(f"  {token_text(token)}: ID {editor.get_token_id(token)}")
    return counts["tokens_added"]


def run_remove(args: argparse.Namespace, report: Report) -> int:
    if not args.tokens and args.tokens_file is None and args.match is None:
        raise UsageError("no tokens given: name them as arguments, with --tokens-file or with --match")
    editor = open_editor(args.input)
    named = in_vocabulary_spelling(args, editor, named_tokens(args))
    matched = [token for token in editor.get_vocab() if args.match.fullmatch(token)] if args.match else []
    asked = list(dict.fromkeys(named + matched))
    present = [token for token in asked if editor.has_token(token)]
    missing = [token for token in named if not editor.has_token(token)]
    if not present:
        reasons = []
        if named:
            reasons.append(f"none of the tokens is in the vocabulary ({token_list(missing)})")
        if args.match:
            reasons.append(f"no token matches {args.match.pattern!r}")
        raise CommandError("; ".join(reasons) + "; nothing was written")
    for token in missing:
        report.warn(f"{token_text(token)} is not in the vocabulary")
    if args.match and not matched:
        report.warn(f"no token matches {args.match.pattern!r}")

    vocab_size, merges_count = editor.vocab_size, editor.merges_count
    roots = set()
    for result in editor.remove_tokens(present):
        roots.add(result.root_token)
        report.detail(
            f"{token_text(result.root_token)}: removed {len(result.removed_tokens)} tokens "
            f"and {len(result.removed_merges)} merges"
        )
        others = sorted(token for token in result.removed_tokens if token != result.root_token)
        report.limited([token_text(token) for token in others], args.show)
    for token in named:
        if token in present and token not in roots:
            report.detail(f"{token_text(token)}: removed with an earlier token")
    report.line(
        f"removed {vocab_size - editor.vocab_size} tokens and {merges_count - editor.merges_count} merges in all"
    )
    save_editor(editor, args, report)
    return 0


def run_shrink(args: argparse.Namespace, report: Report) -> int:
    if not args.dry_run and args.output is None:
        raise UsageError("shrink needs -o PATH to write the result to (or --dry-run to preview)")
    if args.dry_run and args.output is not None:
        report.warn("--dry-run writes nothing: -o is ignored")
    if args.match is not None and not args.dry_run:
        raise UsageError("--match applies only with --dry-run (remove --match removes the tokens that match)")
    editor = open_editor(args.input)
    chosen = editor.find_tokens_to_shrink(args.count, args.min_id)
    if len(chosen) < args.count:
        report.warn(
            f"asked for {args.count} tokens, but only {len(chosen)} can be chosen "
            f"(IDs of at least {args.min_id}, no single characters and no <...> or [...] tokens)"
        )
    if args.dry_run:
        if args.match is not None:
            matching = [entry for entry in chosen if args.match.fullmatch(entry[0])]
            report.line(
                f"{len(matching)} of the {len(chosen)} tokens chosen match {args.match.pattern!r} "
                "and would be removed (with everything built from them):"
            )
            chosen = matching
        else:
            report.line(f"{len(chosen)} tokens would be removed (with everything built from them):")
        report.limited(
            [f"ID {token_id:>7}  {length:>3} chars  {token_text(token)}" for token, token_id, length in chosen], args.show
        )
        return 0
    result = editor.shrink(args.count, args.min_id)
    report.line("shrunk:")
    report.fields(result)
    save_editor(editor, args, report)
    return 0


def run_reindex(args: argparse.Namespace, report: Report) -> int:
    check_side_file(args.id_map, args.output, "--id-map")
    editor = open_editor(args.input)
    before = editor.get_vocab() if args.id_map is not None else {}
    result = editor.reindex_vocab()
    report.line("reindexed:")
    report.fields(result)
    id_map = (args.id_map, moved_ids(before, editor.get_vocab())) if args.id_map is not None else None
    save_editor(editor, args, report, id_map)
    return 0
