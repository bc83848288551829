"""An independent writer of tokenizer.json text from Python's json values (json.dumps differs from lexmill's layout
in float notation, \\u escapes and member order)."""

import math

from conftest import FIELDS, MODEL_FIELDS

_SHORT_ESCAPES = {'"': '\\"', "\\": "\\\\", "\b": "\\b", "\t": "\\t", "\n": "\\n", "\f": "\\f", "\r": "\\r"}


class Members(list):
    """Object members as (key, value) pairs, written in the order listed."""


def float_text(x):
    """Shortest round-trip digits; plain notation for decimal exponents -5 to 15."""
    if not math.isfinite(x):
        return "null"
    if x == 0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    mantissa, _, exponent = repr(abs(x)).partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    significant = digits.lstrip("0")
    e = len(whole) - 1 + int(exponent or 0) - (len(digits) - len(significant))
    digits = significant.rstrip("0")
    n = len(digits)
    if -5 <= e <= 15:
        if n - 1 <= e:
            body = digits + "0" * (e - (n - 1)) + ".0"
        elif e < 0:
            body = "0." + "0" * (-e - 1) + digits
        else:
            body = digits[: e + 1] + "." + digits[e + 1:]
    else:
        body = digits[0] + ("." + digits[1:] if n > 1 else "") + "e" + str(e)
    return ("-" if x < 0 else "") + body


def string_text(s):
    return '"' + "".join(_SHORT_ESCAPES.get(c) or ("\\u%04x" % ord(c) if c < "\x20" else c) for c in s) + '"'


def value_text(value, level=0):
    """A json.loads value; dict members in bytewise key order, Members as listed."""
    if value is None or isinstance(value, bool):
        return {None: "null", True: "true", False: "false"}[value]
    if isinstance(value, int):
        # Integer literals beyond the 64-bit kinds are held as floats.
        return str(value) if -(2**63) <= value < 2**64 else float_text(float(value))
    if isinstance(value, float):
        return float_text(value)
    if isinstance(value, str):
        return string_text(value)
    inner, outer = "\n" + "  " * (level + 1), "\n" + "  " * level
    if isinstance(value, list) and not isinstance(value, Members):
        items = [value_text(x, level + 1) for x in value]
        return "[" + ",".join(inner + x for x in items) + outer + "]" if items else "[]"
    if isinstance(value, dict):
        value = Members(sorted(value.items(), key=lambda member: member[0].encode()))
    members = [inner + string_text(k) + ": " + value_text(v, level + 1) for k, v in value]
    return "{" + ",".join(members) + outer + "}" if members else "{}"


def document_text(doc, layout):
    """A json.loads document in "declaration" (to_json) or "sorted" (save) layout: unknown members dropped, absent
    sections null, absent model booleans false; sorted lists the vocabulary by ID, ties by token bytes."""
    model = doc["model"]
    by_id = {"declaration": lambda entry: entry[0].encode(), "sorted": lambda entry: (entry[1], entry[0].encode())}
    fields = {name: model.get(name) for name in MODEL_FIELDS}
    for name in ("fuse_unk", "byte_fallback", "ignore_merges"):
        fields[name] = bool(fields[name])
    if fields["dropout"] is not None:
        fields["dropout"] = float(fields["dropout"])
    fields["vocab"] = Members(sorted(model["vocab"].items(), key=by_id[layout]))
    top = {name: doc.get(name) for name in FIELDS}
    if layout == "declaration":
        top["model"] = Members((name, fields[name]) for name in MODEL_FIELDS)
        return value_text(Members((name, top[name]) for name in FIELDS))
    top["model"] = fields
    return value_text(top)
