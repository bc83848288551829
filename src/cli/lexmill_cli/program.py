"""Running one command: its exit status, and no traceback whatever happens."""

from __future__ import annotations

import argparse
import os
import re
import sys
from typing import Callable, Sequence

from lexmill_cli.arguments import build_parser
from lexmill_cli.errors import CommandError, UsageError
from lexmill_cli.names import utf8_file_name
from lexmill_cli.report import PROG, Report

NEGATIVE_NUMBER = re.compile(r"-\d+$|-\d*\.\d+$")
INTERRUPTED = 130
# As for a program ended by SIGPIPE, the usual end of a writer into `| head`.
OUTPUT_CLOSED = 141


def main(argv: Sequence[str] | None = None) -> int:
    for stream in (sys.stdout, sys.stderr):
        # Tokens are printed as they are; a terminal that cannot show a character gets an escape.
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(errors="backslashreplace")
    try:
        parser = build_parser()
        # Mistakes in the command line end here with status 2 (SystemExit).
        args = parse(parser, argv)
        report = Report(quiet=args.quiet)
        status = run(args, report)
        print_report(args.command, report)
        return status
    except KeyboardInterrupt:
        return INTERRUPTED
    except BrokenPipeError:
        # The reader went away. Every file is written by now (reports are
        # printed last); what is left to print goes nowhere.
        silence_output()
        return OUTPUT_CLOSED


def parse(parser: argparse.ArgumentParser, argv: Sequence[str] | None) -> argparse.Namespace:
    args, extra = parser.parse_known_args(argv)
    if extra and hasattr(args, "tokens"):
        # argparse fills the token list only from the arguments before the
        # first option; the later ones come back here (`add FILE --words a b -o OUT`).
        cut = extra.index("--") if "--" in extra else len(extra)
        if not any(looks_like_option(item) for item in extra[:cut]):
            args.tokens = [*args.tokens, *extra[:cut], *extra[cut + 1 :]]
            return args
    if extra:
        getattr(args, "parser", parser).error("unrecognized arguments: " + " ".join(extra))
    return args


def looks_like_option(text: str) -> bool:
    # As argparse tells them apart: '-' and negative numbers are arguments.
    return text.startswith("-") and text != "-" and not NEGATIVE_NUMBER.match(text)


def run(args: argparse.Namespace, report: Report) -> int:
    command: Callable[[argparse.Namespace, Report], int] = args.run
    try:
        for name in ("input", "source", "output"):
            if getattr(args, name, None) is not None:
                utf8_file_name(getattr(args, name))
        return command(args, report)
    except (KeyboardInterrupt, BrokenPipeError, SystemExit):
        raise
    except UsageError as error:
        args.parser.error(str(error))
        raise  # not reached: error() exits with status 2
    except CommandError as error:
        message = str(error)
    except (OSError, ValueError, UnicodeError) as error:
        message = str(error) or type(error).__name__
    except MemoryError:
        message = "out of memory"
    except BaseException as error:
        # The module's PanicException (a broken internal invariant) derives from BaseException.
        message = f"internal error, please report it: {type(error).__name__}: {error}"
    # What was done before the failure explains it; the failure ends the report.
    print_report(args.command, report)
    print(f"{PROG} {args.command}: error: {message}", file=sys.stderr)
    return 1


def print_report(command: str, report: Report) -> None:
    # Line by line: one large write into a pipe whose reader has gone can end
    # after a partial write without an error, and the rest is lost unseen.
    for line in report.lines:
        sys.stdout.write(line + "\n")
    sys.stdout.flush()
    for warning in report.warnings:
        print(f"{PROG} {command}: warning: {warning}", file=sys.stderr)
    report.lines.clear()
    report.warnings.clear()


def silence_output() -> None:
    devnull = os.open(os.devnull, os.O_WRONLY)
    for stream in (sys.stdout, sys.stderr):
        try:
            os.dup2(devnull, stream.fileno())
        except (OSError, ValueError, AttributeError):
            pass
    os.close(devnull)
