"""An independent writer of tokenizer.json text, built on Python's json values.

It lays a document out the way lexmill's writers must: two-space
indentation, `{}` / `[]` for empty containers, only the seven short escapes
and lower-case \\u00xx for the other C0 controls, and floats from their
shortest round-trip digits in plain notation for decimal exponents -5 to 15.
json.dumps(indent=2) comes close but differs in float notation, in the
\\u escapes and in member order, so the tests compare against this instead.
"""

import math

__all__ = ["float_text", "string_text", "value_text", "document_text", "Members"]

_SHORT_ESCAPES = {
    '"': '\\"',
    "\\": "\\\\",
    "\b": "\\b",
    "\t": "\\t",
    "\n": "\\n",
    "\f": "\\f",
    "\r": "\\r",
}

DECLARED_FIELDS = (
    "version",
    "truncation",
    "padding",
    "added_tokens",
    "normalizer",
    "pre_tokenizer",
    "post_processor",
    "decoder",
    "model",
)
DECLARED_MODEL_FIELDS = (
    "type",
    "dropout",
    "unk_token",
    "continuing_subword_prefix",
    "end_of_word_suffix",
    "fuse_unk",
    "byte_fallback",
    "ignore_merges",
    "vocab",
    "merges",
)


class Members(list):
    """Object members as (key, value) pairs, written in the order listed."""


def float_text(x):
    """The float notation: shortest round-trip digits, laid out by exponent."""
    if not math.isfinite(x):
        return "null"
    if x == 0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    # repr() gives the shortest round-trip digits; only their layout differs.
    mantissa, _, exponent = repr(abs(x)).partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    e = len(whole) - 1 + int(exponent or 0)
    significant = digits.lstrip("0")
    e -= len(digits) - len(significant)
    digits = significant.rstrip("0")
    n = len(digits)
    if -5 <= e <= 15:
        if n - 1 <= e:
            body = digits + "0" * (e - (n - 1)) + ".0"
        elif e < 0:
            body = "0." + "0" * (-e - 1) + digits
        else:
            body = digits[: e + 1] + "." + digits[e + 1 :]
    else:
        body = digits[0] + ("." + digits[1:] if n > 1 else "") + "e" + str(e)
    return ("-" if x < 0 else "") + body


def string_text(s):
    out = ['"']
    for c in s:
        escape = _SHORT_ESCAPES.get(c)
        if escape is None and c < "\x20":
            escape = "\\u%04x" % ord(c)
        out.append(escape or c)
    out.append('"')
    return "".join(out)


def value_text(value, level=0):
    """A json.loads value; dict members in bytewise key order, Members as listed."""
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        # Integer literals beyond the 64-bit kinds are held as floats.
        return str(value) if -(2**63) <= value < 2**64 else float_text(float(value))
    if isinstance(value, float):
        return float_text(value)
    if isinstance(value, str):
        return string_text(value)
    inner = "\n" + "  " * (level + 1)
    outer = "\n" + "  " * level
    if isinstance(value, list) and not isinstance(value, Members):
        if not value:
            return "[]"
        return "[" + ",".join(inner + value_text(x, level + 1) for x in value) + outer + "]"
    if isinstance(value, dict):
        value = Members(sorted(value.items(), key=lambda member: member[0].encode()))
    if not value:
        return "{}"
    members = (inner + string_text(k) + ": " + value_text(v, level + 1) for k, v in value)
    return "{" + ",".join(members) + outer + "}"


def document_text(doc, layout):
    """The text of a json.loads tokenizer document in "declaration" or "sorted" layout.

    Unknown top-level and model members are dropped, absent sections written
    as null, absent model booleans as false. The sorted layout lists the
    vocabulary by ascending ID, equal IDs in bytewise token order.
    """
    model = doc["model"]
    if layout == "declaration":
        vocab = sorted(model["vocab"].items(), key=lambda entry: entry[0].encode())
    elif layout == "sorted":
        vocab = sorted(model["vocab"].items(), key=lambda entry: (entry[1], entry[0].encode()))
    else:
        raise ValueError(layout)
    fields = {name: model.get(name) for name in DECLARED_MODEL_FIELDS}
    for name in ("fuse_unk", "byte_fallback", "ignore_merges"):
        fields[name] = bool(fields[name])
    if fields["dropout"] is not None:
        fields["dropout"] = float(fields["dropout"])
    fields["vocab"] = Members(vocab)
    top = {name: doc.get(name) for name in DECLARED_FIELDS}
    if layout == "declaration":
        top["model"] = Members((name, fields[name]) for name in DECLARED_MODEL_FIELDS)
        return value_text(Members((name, top[name]) for name in DECLARED_FIELDS))
    top["model"] = fields
    return value_text(top)
