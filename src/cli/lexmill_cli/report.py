"""What a command tells the user.

Commands collect their report and the program prints it only once every file
the command writes is on disk: a reader that stops early (`| head`) cannot cut
the work short.
"""

from __future__ import annotations

from typing import Mapping, Sequence

PROG = "lexmill"
# Lists longer than this are cut short in the printed report unless --show says otherwise.
DEFAULT_SHOWN = 20


def token_text(token: str) -> str:
    # Tokens hold spaces, line breaks and other invisible characters: quote them.
    return repr(token)


def merge_text(pair: Sequence[str]) -> str:
    return f"{token_text(pair[0])} + {token_text(pair[1])}"


def token_list(tokens: Sequence[str], shown: int = DEFAULT_SHOWN) -> str:
    listed = ", ".join(token_text(token) for token in tokens[:shown])
    return listed + (f" and {len(tokens) - shown} more" if len(tokens) > shown else "")


class Report:
    """Lines for standard output and warnings for standard error, in order.

    Details (one line per token or merge) are left out when the user asked
    for a quiet report; summaries and warnings never are.
    """

    def __init__(self, quiet: bool = False) -> None:
        self.quiet = quiet
        self.lines: list[str] = []
        self.warnings: list[str] = []

    def line(self, text: str) -> None:
        self.lines.append(text)

    def detail(self, text: str) -> None:
        if not self.quiet:
            self.lines.append(text)

    def warn(self, text: str) -> None:
        self.warnings.append(text)

    def limited(self, items: Sequence[str], shown: int, indent: str = "    ") -> None:
        for item in items[:shown]:
            self.detail(indent + item)
        if len(items) > shown:
            self.detail(f"{indent}... and {len(items) - shown} more")

    def fields(self, result: object) -> None:
        """Every attribute of a result object, in the order its class declares them."""
        self.counts({name: getattr(result, name) for name in vars(type(result)) if not name.startswith("_")})

    def counts(self, counts: Mapping[str, object]) -> None:
        width = max(len(key) for key in counts)
        for key, value in counts.items():
            self.line(f"  {key.ljust(width)}  {value}")
