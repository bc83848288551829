"""Reading tokenizer documents: what is accepted, what is refused, and how the fault is reported."""

import json

import pytest

from conftest import DATA, tokenizer_dict, tokenizer_json

PREFIX = "Failed to parse JSON: "
LOAD = "Failed to load tokenizer: "
H = '{"version":"1","added_tokens":[],"model":'  # a document up to its model
M = H + '{"type":"BPE",'  # ... up to the model's members
MODEL = '{"type":"BPE","vocab":{},"merges":[]}'
A = '["1",null,null,[],null,null,null,null'  # the array form up to its model


def parse_error(lexmill, text):
    with pytest.raises(ValueError, match=f"^{PREFIX}") as info:
        lexmill.Lexmill.from_json(text)
    return str(info.value)[len(PREFIX):]


def compact(doc):
    return json.dumps(doc, separators=(",", ":"), ensure_ascii=False)


# Required fields are reported in declaration order after the closing brace, a field given twice just after its key,
# wrong types by what was found; the array forms list every field in declaration order.
@pytest.mark.parametrize("text, expected, offset", [
    ("{}", "missing field `version`", 2), ('{"model":' + MODEL + "}", "missing field `version`", 47),
    ('{"version":"1"}', "missing field `added_tokens`", 15), (H + '{"merges":[]}}', "missing field `type`", 54),
    ('{"version":"1","added_tokens":[]}', "missing field `model`", 33), ("", "EOF while parsing a value", 0),
    (M + '"merges":[]}}', "missing field `vocab`", 67), (M + '"vocab":{}}}', "missing field `merges`", 66),
    ('{\n  "version": "1",\n  "added_tokens": []\n}', "missing field `model`", 42), ("\ufeff{}", "expected value", 1),
    ('{"version":"1","version":"2"}', "duplicate field `version`", 24), ('{"version":"1",}', "trailing comma", 16),
    (M + '"type":"BPE"}}', "duplicate field `type`", 61), ('{"version" "1"}', "expected `:`", 12),
    ("5", "invalid type: integer `5`, expected struct Tokenizer", 1), ("{1:2}", "key must be a string", 2),
    ('"x"', 'invalid type: string "x", expected struct Tokenizer', 3), ('{"version":"\\x"}', "invalid escape", 14),
    ('{"version":1}', "invalid type: integer `1`, expected a string", 12), ('{"x":tru}', "expected ident", 9),
    ('{"version":"1","added_tokens":{}}', "invalid type: map, expected a sequence", 30),
    (H + "true}", "invalid type: boolean `true`, expected struct Model", 45), ('{"x":01}', "invalid number", 7),
    (M + '"fuse_unk":null}}', "invalid type: null, expected a boolean", 70), ("{}}", "missing field `version`", 2),
    (M + '"dropout":"x"}}', 'invalid type: string "x", expected f64', 68), ('{"x":-a}', "invalid number", 7),
    (M + '"dropout":"\x85"}}', 'invalid type: string "\\u{85}", expected f64', 69),  # columns count bytes
    (M + '"vocab":{"a":-1}}}', "invalid value: integer `-1`, expected u32", 70),
    (M + '"vocab":{"a":4294967296}}}', "invalid value: integer `4294967296`, expected u32", 78),
    (M + '"vocab":{"a":1.0}}}', "invalid type: floating point `1.0`, expected u32", 71),
    (M + '"vocab":{"a":"1"}}}', 'invalid type: string "1", expected u32', 71),
    (M + '"vocab":{},"merges":["a b"]}}', 'invalid type: string "a b", expected a sequence', 81),
    (M + '"vocab":{},"merges":[["a"]]}}', "Merge must have exactly 2 elements", 81),
    (M + '"vocab":{},"merges":[["a","b","c"]]}}', "Merge must have exactly 2 elements", 89),
    (M + '"vocab":{},"merges":[["a",1]]}}', "invalid type: integer `1`, expected a string", 82),
    (A + "]", "invalid length 8, expected struct Tokenizer with 9 elements", 38),
    (A + ',["BPE"]]', "invalid length 1, expected struct Model with 10 elements", 45),
    (A + ',["BPE",null,null,null,null,false,false,false,{},[]],5]', "trailing characters", 91),
    ('{"version":"1" "x":1}', "expected `,` or `}`", 16), ('{"version":"\\ud800"}', "unexpected end of hex escape", 19),
    ('{"version":"\\udc00"}', "lone leading surrogate in hex escape", 18),
    ('{"version":"a\tb"}', "control character (\\u0000-\\u001F) found while parsing a string", 14),
    ('{"normalizer":[0.5e999]}', "number out of range", 22), ('{"version":"1"', "EOF while parsing an object", 14),
    ('{"normalizer":[1e0309]}', "number out of range", 21), ('{"version":-1}', "invalid type: integer `-1`, expected a string", 13),
    ('{"version":"1","added_tokens":[1,', "EOF while parsing a value", 33),
    ('{"version":"1","added_tokens":[1', "EOF while parsing a list", 32),
    ('{"version":"1', "EOF while parsing a string", 13), (H + MODEL + "} x", "trailing characters", 81),
])
def test_fault_descriptions(lexmill, text, expected, offset):
    lines = text[:offset].split("\n")
    assert parse_error(lexmill, text) == f"{expected} at line {len(lines)} column {len(lines[-1])}"


def test_escapes_and_underflow_read_by_the_exact_reader(lexmill):
    # An integer beyond 64 bits sends the whole document past simdjson to the exact reader.
    text = compact(tokenizer_dict(normalizer={"s": "@", "n": 0}, model_extra={"byte_fallback": True, "fuse_unk": True}))
    text = text.replace('"n":0', '"n":123456789012345678901234567890,"tiny":[1e-400,-2E-999,1e-0400,true]')
    written = json.loads(lexmill.Lexmill.from_json(text.replace('"@"', r'"\u00e9\u20ac\ud83d\ude00\n"')).to_json())
    read = written["normalizer"]
    assert read["s"] == "\u00e9\u20ac\U0001F600\n" and [str(x) for x in read["tiny"]] == ["0.0", "-0.0", "0.0", "True"]
    assert (written["model"]["byte_fallback"], written["model"]["fuse_unk"], written["model"]["ignore_merges"]) == (True, True, False)


@pytest.mark.parametrize("value, description, column", [
    # column: bytes into the value where the fault is reported
    ('"\\udc00"', "lone leading surrogate in hex escape", 7),
    ("[1e400]", "number out of range", 6),
    ('{"a":[1,]}', "trailing comma", 9),
])
@pytest.mark.parametrize("place", [
    {"normalizer": "@"}, {"unknown": "@"}, {"model_extra": {"unknown": "@"}},
    {"unknown": {"deeper": [{"k": "@"}]}}, {"model_extra": {"unknown": {"deeper": ["@"]}}},
], ids=["kept", "top", "model", "top-nested", "model-nested"])
def test_dropped_members_are_checked_like_kept_ones(lexmill, tmp_path, place, value, description, column):
    text = compact(tokenizer_dict(**place)).replace('"@"', value)
    assert parse_error(lexmill, text) == f"{description} at line 1 column {text.index(value) + column}"
    path = tmp_path / "tokenizer.json"
    path.write_text(text, encoding="utf-8")
    with pytest.raises(OSError, match=f"^{LOAD}Failed to parse tokenizer.json$"):
        lexmill.Lexmill(str(path))


def nested(depth):
    value = None
    for _ in range(depth):
        value = [value]
    return value


@pytest.mark.parametrize("section", ["normalizer", "unknown"])
def test_nesting_limit(lexmill, section):
    # The top-level object is the first of at most 127 levels.
    lexmill.Lexmill.from_json(compact(tokenizer_dict(**{section: nested(126)})))
    too_deep = compact(tokenizer_dict(**{section: nested(127)}))
    assert parse_error(lexmill, too_deep).startswith("recursion limit exceeded at line 1 column ")
    # Far deeper, it is reported at the opening bracket of the 128th level.
    for opening in ["[", '{"a":']:
        column = len('{"normalizer":') + 126 * len(opening) + 1
        assert parse_error(lexmill, '{"normalizer":' + opening * 100_000) == \
            f"recursion limit exceeded at line 1 column {column}"


@pytest.mark.parametrize("kind", ["bpe", "WordPiece"])
def test_not_bpe_is_refused_after_parsing(lexmill, kind):
    with pytest.raises(ValueError, match="^Only BPE tokenizers are supported$"):
        lexmill.Lexmill.from_json(tokenizer_json(model_extra={"type": kind}))


def corpus():
    folder = DATA / "jsontestsuite" / "test_parsing"
    if not folder.exists():
        return [pytest.param(None, marks=pytest.mark.skip(reason="corpus not available"))]
    return [pytest.param(p, id=p.name) for p in sorted(folder.iterdir()) if p.name[:2] in ("y_", "n_", "i_")]


@pytest.mark.parametrize("path", corpus())
def test_corpus(lexmill, tmp_path, path):
    # Each case as the normalizer of a valid document: y_ read as json reads it, n_ refused, i_ either;
    # text that is no UTF-8 fails as such when read from a file.
    before, _, after = compact(tokenizer_dict()).encode().partition(b'"normalizer":null')
    raw = before + b'"normalizer":' + path.read_bytes() + after
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        (tmp_path / "case.json").write_bytes(raw)
        with pytest.raises(OSError, match="^" + LOAD + "Failed to read: "):
            lexmill.Lexmill(str(tmp_path / "case.json"))
        return
    try:
        normalizer = json.loads(lexmill.Lexmill.from_json(text).to_json())["normalizer"]
    except ValueError as error:
        assert path.name[0] != "y" and str(error).startswith(PREFIX)
    else:
        assert path.name[0] != "n" and (path.name[0] == "i" or normalizer == json.loads(path.read_bytes()))
