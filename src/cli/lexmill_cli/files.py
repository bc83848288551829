"""Opening the tokenizer files a command names and writing what it produces."""

from __future__ import annotations

import argparse
import json
import os
import re
import shlex
import warnings
from typing import Mapping

import lexmill

from lexmill_cli.errors import CommandError, UsageError
from lexmill_cli.names import utf8_file_name
from lexmill_cli.report import PROG, Report

# Looked for only after lexmill has refused a file, so it may be rough: merges
# written as one string each ("a b") instead of pairs.
SINGLE_STRING_MERGES = re.compile(rb'"merges"\s*:\s*\[\s*"')


def converted_name(path: str) -> str:
    stem = path[: -len(".json")] if path.endswith(".json") else path
    return stem + ".pairs.json"


def load_hint(path: str, message: str) -> str:
    """What to do about a file lexmill could not read, when there is something."""
    if not message.endswith("Failed to parse tokenizer.json"):
        return ""
    try:
        with open(path, "rb") as source:
            data = source.read()
    except OSError:
        return ""
    if not SINGLE_STRING_MERGES.search(data):
        return ""
    return (
        ": its merges are single strings (\"a b\") rather than pairs; convert them with: "
        f"{PROG} convert-merges {shlex.quote(path)} -o {shlex.quote(converted_name(path))}"
    )


def open_editor(path: str, source: bool = False) -> lexmill.Lexmill:
    try:
        return lexmill.Lexmill(utf8_file_name(path))
    except OSError as error:
        message = str(error)
        if source:
            message = message.replace("Failed to load tokenizer: ", "Failed to load source tokenizer: ", 1)
        raise CommandError(message + load_hint(path, message)) from error


def source_failure(error: OSError, path: str) -> CommandError:
    """A second tokenizer file that the module could not open."""
    message = str(error)
    return CommandError(message + load_hint(path, message))


def check_side_file(side: str | None, output: str | None, option: str) -> None:
    """A file written beside the tokenizer must not be moved over it, nor
    fail to take its place once the tokenizer is written."""
    if side is None:
        return
    if output is not None and os.path.abspath(side) == os.path.abspath(output):
        raise UsageError(f"{option} must name another file than -o")
    if os.path.isdir(side):
        raise CommandError(f"{option} {side} is a folder")


def stage_json(path: str, value: object, what: str) -> str:
    """Writes `value` beside `path`; the caller moves it into place."""
    staged = f"{path}.{os.getpid()}.tmp"
    try:
        with open(staged, "x", encoding="utf-8") as target:
            json.dump(value, target, ensure_ascii=False, indent=2)
            target.write("\n")
    except OSError as error:
        discard(staged)
        raise CommandError(f"Failed to write {what}: {path}: {error.strerror or error}") from error
    return staged


def discard(path: str) -> None:
    try:
        os.unlink(path)
    except OSError:
        pass


def save_editor(
    editor: lexmill.Lexmill,
    args: argparse.Namespace,
    report: Report,
    id_map: tuple[str, Mapping[str, object]] | None = None,
) -> None:
    """Writes the tokenizer to -o and, with it, the ID map (path, mapping) if there is one.

    Added tokens whose content is no vocabulary token are pinned first (unless
    --no-pin): the tokenizers library would otherwise number them itself. The
    map is written first beside its place and moved there only once the
    tokenizer is saved, so that a failure leaves neither.
    """
    path = args.output
    if args.pin:
        pinned = editor.pin_added_tokens()
        if pinned:
            report.line(f"pinned {pinned} added tokens into the vocabulary under their own IDs")
    staged = stage_json(id_map[0], id_map[1], "ID map") if id_map is not None else None
    try:
        # The module's warning that the file would be read with other IDs (with
        # --no-pin) goes into the report, not through the warnings machinery.
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always", UserWarning)
            editor.save(path)
    except (OSError, ValueError) as error:
        if staged is not None:
            discard(staged)
        raise CommandError(str(error)) from error
    report.line(f"wrote {path}: {editor!r}")
    for warning in caught:
        report.warn(str(warning.message))
    if id_map is not None and staged is not None:
        try:
            os.replace(staged, id_map[0])
        except OSError as error:
            discard(staged)
            raise CommandError(f"Failed to write ID map: {id_map[0]}: {error.strerror or error}") from error
        report.line(f"wrote {id_map[0]}: {len(id_map[1])} IDs")
