"""Text from the command line that must be UTF-8 before lexmill can take it.

On POSIX systems Python keeps the bytes of an argument that is not valid in
the locale's encoding as lone surrogates; lexmill takes only text it can
write as UTF-8, so such names and tokens are refused with the bytes shown.
"""

from __future__ import annotations

import os

from lexmill_cli.errors import CommandError


def shown_bytes(text: str) -> str:
    try:
        return repr(os.fsencode(text))
    except UnicodeError:
        return ascii(text)


def is_utf8(text: str) -> bool:
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def utf8_file_name(path: str) -> str:
    if not is_utf8(path):
        raise CommandError(
            f"the file name {shown_bytes(path)} is not UTF-8, and lexmill takes file names as UTF-8 text: "
            "rename the file, or reach it through a link with a UTF-8 name"
        )
    return path


def utf8_tokens(tokens: list[str]) -> list[str]:
    for token in tokens:
        if not is_utf8(token):
            raise CommandError(f"the token {shown_bytes(token)} is not UTF-8 text")
    return tokens
