"""Reading tokenizer documents: what is accepted, what is refused, and how the fault is reported."""

import json

import pytest

from conftest import DATA, data_file, tokenizer_dict, tokenizer_json

PREFIX = "Failed to parse JSON: "
LOAD = "Failed to load tokenizer: "
H = '{"version":"1","added_tokens":[],"model":'  # a document up to its model
M = H + '{"type":"BPE",'  # ... up to the model's members
MODEL = '{"type":"BPE","vocab":{},"merges":[]}'


def parse_error(lexmill, text):
    with pytest.raises(ValueError) as info:
        lexmill.Lexmill.from_json(text)
    message = str(info.value)
    assert message.startswith(PREFIX)
    return message[len(PREFIX):]


def compact(doc):
    return json.dumps(doc, separators=(",", ":"), ensure_ascii=False)


@pytest.mark.parametrize("text, expected", [
    # required fields: the first missing one in declaration order, positioned after the closing brace
    ("{}", "missing field `version` at line 1 column 2"),
    ('{"model":' + MODEL + "}", "missing field `version` at line 1 column 47"),
    ('{"version":"1"}', "missing field `added_tokens` at line 1 column 15"),
    ('{"version":"1","added_tokens":[]}', "missing field `model` at line 1 column 33"),
    (H + '{"merges":[]}}', "missing field `type` at line 1 column 54"),
    (M + '"merges":[]}}', "missing field `vocab` at line 1 column 67"),
    (M + '"vocab":{}}}', "missing field `merges` at line 1 column 66"),
    ('{\n  "version": "1",\n  "added_tokens": []\n}', "missing field `model` at line 4 column 1"),
    # a known field given twice, positioned just after the repeated key
    ('{"version":"1","version":"2"}', "duplicate field `version` at line 1 column 24"),
    (M + '"type":"BPE"}}', "duplicate field `type` at line 1 column 61"),
    # wrong JSON types, described by what was found
    ("5", "invalid type: integer `5`, expected struct Tokenizer at line 1 column 1"),
    ('"x"', 'invalid type: string "x", expected struct Tokenizer at line 1 column 3'),
    ('{"version":1}', "invalid type: integer `1`, expected a string at line 1 column 12"),
    ('{"version":"1","added_tokens":{}}', "invalid type: map, expected a sequence at line 1 column 30"),
    (H + "true}", "invalid type: boolean `true`, expected struct Model at line 1 column 45"),
    (M + '"fuse_unk":null}}', "invalid type: null, expected a boolean at line 1 column 70"),
    (M + '"dropout":"x"}}', 'invalid type: string "x", expected f64 at line 1 column 68'),
    # vocabulary IDs are unsigned 32-bit integers
    (M + '"vocab":{"a":-1}}}', "invalid value: integer `-1`, expected u32 at line 1 column 70"),
    (M + '"vocab":{"a":4294967296}}}', "invalid value: integer `4294967296`, expected u32 at line 1 column 78"),
    (M + '"vocab":{"a":1.0}}}', "invalid type: floating point `1.0`, expected u32 at line 1 column 71"),
    (M + '"vocab":{"a":"1"}}}', 'invalid type: string "1", expected u32 at line 1 column 71'),
    # merges are pairs of strings
    (M + '"vocab":{},"merges":["a b"]}}', 'invalid type: string "a b", expected a sequence at line 1 column 81'),
    (M + '"vocab":{},"merges":[["a"]]}}', "Merge must have exactly 2 elements at line 1 column 81"),
    (M + '"vocab":{},"merges":[["a","b","c"]]}}', "Merge must have exactly 2 elements at line 1 column 89"),
    (M + '"vocab":{},"merges":[["a",1]]}}', "invalid type: integer `1`, expected a string at line 1 column 82"),
    # the array forms list every field in declaration order
    ('["1",null,null,[],null,null,null,null]',
     "invalid length 8, expected struct Tokenizer with 9 elements at line 1 column 38"),
    ('["1",null,null,[],null,null,null,null,["BPE"]]',
     "invalid length 1, expected struct Model with 10 elements at line 1 column 45"),
    ('["1",null,null,[],null,null,null,null,["BPE",null,null,null,null,false,false,false,{},[]],5]',
     "trailing characters at line 1 column 91"),
    # syntax
    ("", "EOF while parsing a value at line 1 column 0"),
    ("\ufeff{}", "expected value at line 1 column 1"),
    ('{"version":"1",}', "trailing comma at line 1 column 16"),
    ('{"version" "1"}', "expected `:` at line 1 column 12"),
    ('{"version":"1" "x":1}', "expected `,` or `}` at line 1 column 16"),
    ("{1:2}", "key must be a string at line 1 column 2"),
    ('{"version":"\\x"}', "invalid escape at line 1 column 14"),
    ('{"version":"\\ud800"}', "unexpected end of hex escape at line 1 column 19"),
    ('{"version":"\\udc00"}', "lone leading surrogate in hex escape at line 1 column 18"),
    ('{"version":"a\tb"}', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 14"),
    ('{"x":tru}', "expected ident at line 1 column 9"),
    ('{"x":01}', "invalid number at line 1 column 7"),
    ('{"normalizer":[1e999]}', "number out of range at line 1 column 20"),
    ('{"version":"1"', "EOF while parsing an object at line 1 column 14"),
    ('{"version":"1","added_tokens":[1,', "EOF while parsing a value at line 1 column 33"),
    ('{"version":"1","added_tokens":[1', "EOF while parsing a list at line 1 column 32"),
    ('{"version":"1', "EOF while parsing a string at line 1 column 13"),
    ("{}}", "missing field `version` at line 1 column 2"),
    (H + MODEL + "} x", "trailing characters at line 1 column 81"),
])
def test_fault_descriptions(lexmill, text, expected):
    assert parse_error(lexmill, text) == expected


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
def test_not_bpe_is_refused_after_parsing(lexmill, tmp_path, kind):
    text = tokenizer_json(model_extra={"type": kind})
    with pytest.raises(ValueError, match="^Only BPE tokenizers are supported$"):
        lexmill.Lexmill.from_json(text)
    (tmp_path / "t.json").write_text(text)
    with pytest.raises(OSError, match=f"^{LOAD}Only BPE tokenizers are supported$"):
        lexmill.Lexmill(str(tmp_path / "t.json"))


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


def test_legacy_merge_strings_are_refused(lexmill):
    path = data_file("llama2.tokenizer.json")
    with pytest.raises(OSError, match=f"^{LOAD}Failed to parse tokenizer.json$"):
        lexmill.Lexmill(str(path))
    message = parse_error(lexmill, path.read_text(encoding="utf-8"))
    assert message.startswith('invalid type: string "▁ t", expected a sequence at line ')
