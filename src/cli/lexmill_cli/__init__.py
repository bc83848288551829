"""The `lexmill` command: the common tokenizer.json jobs from a shell.

    lexmill stats tokenizer.json
    lexmill add tokenizer.json Ġretokenize -o edited.json
    lexmill add tokenizer.json --words retokenize -o edited.json
    lexmill merge target.json source.json --max-vocab-size 400000 -o merged.json

Every command reads one tokenizer file; the editing ones write their result to
the path given with -o (which may be the input itself), then print what they
did. Failures print one line to standard error and exit with status 1;
mistakes in the command line exit with status 2.
"""

from lexmill_cli.program import main

__all__ = ["main"]
