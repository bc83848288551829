"""The two ways a command stops early."""


class CommandError(Exception):
    """A failure the user can act on: one line on standard error, status 1."""


class UsageError(Exception):
    """A mistake in the command line: the command's usage and the message, status 2."""
