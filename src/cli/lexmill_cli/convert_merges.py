"""convert-merges: rewrite merges written as single strings ("a b") as the
pairs (["a", "b"]) that lexmill reads.

The file is read with Python's json, and each string merge is replaced in
the text where it stands, so that everything else, and every line number,
stays as it was; lexmill then reads the result and saves it in its own
layout, which also proves it readable.
"""

from __future__ import annotations

import argparse
import json
from typing import Any, Iterator, List, Tuple

import lexmill

from lexmill_cli.errors import CommandError
from lexmill_cli.files import save_editor
from lexmill_cli.report import Report

# raw_decode reads one value where it is told to and says where it ends.
DECODER = json.JSONDecoder()
# A located JSON value: (value, start offset, end offset) in the text.
Located = Tuple[Any, int, int]


def run_convert_merges(args: argparse.Namespace, report: Report) -> int:
    text = read_text(args.input)
    try:
        json.loads(text)
    except json.JSONDecodeError as error:
        raise CommandError(f"{args.input} is not valid JSON: {error}") from error
    merges = model_merges(text)
    if merges is None:
        raise CommandError(f"{args.input} has no model.merges list")
    pieces: List[str] = []
    done = 0
    converted = 0
    for index, (merge, start, end) in enumerate(merges):
        if not isinstance(merge, str):
            continue
        parts = merge.split(" ")
        if len(parts) != 2 or not all(parts):
            line = text.count("\n", 0, start) + 1
            raise CommandError(
                f"{args.input} line {line}: merge #{index} {merge!r} does not split at one space "
                "into two tokens; nothing was written"
            )
        # ASCII escapes: a lone surrogate escaped in the file stays an escape
        # for lexmill to judge, as it would in the original.
        pieces += [text[done:start], json.dumps(parts)]
        done = end
        converted += 1
    pieces.append(text[done:])
    try:
        editor = lexmill.Lexmill.from_json("".join(pieces))
    except ValueError as error:
        raise CommandError(str(error)) from error
    report.line(f"converted {converted} of {len(merges)} merges from single strings to pairs")
    if not converted:
        report.warn(f"no merge of {args.input} is a single string: it was rewritten in lexmill's layout only")
    save_editor(editor, args, report)
    return 0


def read_text(path: str) -> str:
    try:
        with open(path, encoding="utf-8") as source:
            return source.read()
    except OSError as error:
        raise CommandError(f"Failed to read: {path}: {error.strerror or error}") from error
    except UnicodeDecodeError as error:
        raise CommandError(f"Failed to read: {path} is not UTF-8 text") from error


def model_merges(text: str) -> List[Located] | None:
    """The elements of model.merges, located; None when there is no such list.

    Only called on text that json.loads accepted. Where a key repeats, the
    last one counts, as for json.loads.
    """
    model = last_member(members(text, skip(text, 0)), "model")
    if model is None or text[model[1]] != "{":
        return None
    merges = last_member(members(text, model[1]), "merges")
    if merges is None or text[merges[1]] != "[":
        return None
    return list(elements(text, merges[1]))


def skip(text: str, at: int) -> int:
    while at < len(text) and text[at] in " \t\n\r":
        at += 1
    return at


def last_member(located: Iterator[Tuple[str, int]], key: str) -> Tuple[str, int] | None:
    found = None
    for member in located:
        if member[0] == key:
            found = member
    return found


def members(text: str, at: int) -> Iterator[Tuple[str, int]]:
    """(key, value start) of each member of the object at `at`, skipping values."""
    if text[at] != "{":
        return
    at = skip(text, at + 1)
    while text[at] != "}":
        key, at = DECODER.raw_decode(text, at)
        at = skip(text, skip(text, at) + 1)  # past the colon
        yield key, at
        _, at = DECODER.raw_decode(text, at)
        at = skip(text, at)
        if text[at] == ",":
            at = skip(text, at + 1)


def elements(text: str, at: int) -> Iterator[Located]:
    at = skip(text, at + 1)
    while text[at] != "]":
        value, end = DECODER.raw_decode(text, at)
        yield value, at, end
        at = skip(text, end)
        if text[at] == ",":
            at = skip(text, at + 1)
