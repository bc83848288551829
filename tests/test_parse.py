"""Reading tokenizer documents: what is accepted, what is refused, and how the fault is reported."""

import json

import pytest

from conftest import DATA, data_file, tokenizer_dict, tokenizer_json

PREFIX = "Failed to parse JSON: "


def parse_error(lexmill, text):
    with pytest.raises(ValueError) as info:
        lexmill.Lexmill.from_json(text)
    message = str(info.value)
    assert message.startswith(PREFIX)
    return message[len(PREFIX):]


def compact(doc):
    return json.dumps(doc, separators=(",", ":"), ensure_ascii=False)


MODEL = '{"type":"BPE","vocab":{},"merges":[]}'


@pytest.mark.parametrize(
    "text, expected",
    [
        # required fields: the first missing one in declaration order, positioned after the closing brace
        ("{}", "missing field `version` at line 1 column 2"),
        ('{"model":' + MODEL + "}", "missing field `version` at line 1 column 47"),
        ('{"version":"1"}', "missing field `added_tokens` at line 1 column 15"),
        ('{"version":"1","added_tokens":[]}', "missing field `model` at line 1 column 33"),
        ('{"version":"1","added_tokens":[],"model":{"merges":[]}}', "missing field `type` at line 1 column 54"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","merges":[]}}', "missing field `vocab` at line 1 column 67"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{}}}', "missing field `merges` at line 1 column 66"),
        # a known field given twice, positioned just after the repeated key
        ('{"version":"1","version":"2"}', "duplicate field `version` at line 1 column 24"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","type":"BPE"}}', "duplicate field `type` at line 1 column 61"),
        # wrong JSON types, described by what was found
        ("5", "invalid type: integer `5`, expected struct Tokenizer at line 1 column 1"),
        ('"x"', 'invalid type: string "x", expected struct Tokenizer at line 1 column 3'),
        ('{"version":1}', "invalid type: integer `1`, expected a string at line 1 column 12"),
        ('{"version":"1","added_tokens":{}}', "invalid type: map, expected a sequence at line 1 column 30"),
        ('{"version":"1","added_tokens":[],"model":true}', "invalid type: boolean `true`, expected struct Model at line 1 column 45"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","fuse_unk":null}}',
         "invalid type: null, expected a boolean at line 1 column 70"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","dropout":"x"}}',
         'invalid type: string "x", expected f64 at line 1 column 68'),
        # vocabulary IDs are unsigned 32-bit integers
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{"a":-1}}}',
         "invalid value: integer `-1`, expected u32 at line 1 column 70"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{"a":4294967296}}}',
         "invalid value: integer `4294967296`, expected u32 at line 1 column 78"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{"a":1.0}}}',
         "invalid type: floating point `1.0`, expected u32 at line 1 column 71"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{"a":"1"}}}',
         'invalid type: string "1", expected u32 at line 1 column 71'),
        # merges are pairs of strings
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{},"merges":["a b"]}}',
         'invalid type: string "a b", expected a sequence at line 1 column 81'),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{},"merges":[["a"]]}}',
         "Merge must have exactly 2 elements at line 1 column 81"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{},"merges":[["a","b","c"]]}}',
         "Merge must have exactly 2 elements at line 1 column 89"),
        ('{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{},"merges":[["a",1]]}}',
         "invalid type: integer `1`, expected a string at line 1 column 82"),
        # the array forms list every field in declaration order
        ('["1",null,null,[],null,null,null,null]', "invalid length 8, expected struct Tokenizer with 9 elements at line 1 column 38"),
        ('["1",null,null,[],null,null,null,null,["BPE"]]', "invalid length 1, expected struct Model with 10 elements at line 1 column 45"),
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
        ('{"version":"1","added_tokens":[],"model":' + MODEL + "} x", "trailing characters at line 1 column 81"),
        ('{\n  "version": "1",\n  "added_tokens": []\n}', "missing field `model` at line 4 column 1"),
    ],
)
def test_fault_descriptions(lexmill, text, expected):
    assert parse_error(lexmill, text) == expected


@pytest.mark.parametrize(
    "value, description, column",
    [
        # column: bytes into the value where the fault is reported
        ('"\\udc00"', "lone leading surrogate in hex escape", 7),
        ("[1e400]", "number out of range", 6),
        ('{"a":[1,]}', "trailing comma", 9),
    ],
)
@pytest.mark.parametrize(
    "place",
    [
        {"unknown": "@"},
        {"model_extra": {"unknown": "@"}},
        {"unknown": {"deeper": [{"k": "@"}]}},
        {"model_extra": {"unknown": {"deeper": ["@"]}}},
    ],
    ids=["top", "model", "top-nested", "model-nested"],
)
def test_unknown_members_are_checked_like_kept_ones(lexmill, tmp_path, place, value, description, column):
    text = compact(tokenizer_dict(**place)).replace('"@"', value)
    expected = f"{description} at line 1 column {text.index(value) + column}"
    assert parse_error(lexmill, text) == expected
    kept = compact(tokenizer_dict(normalizer="@")).replace('"@"', value)
    assert parse_error(lexmill, kept) == f"{description} at line 1 column {kept.index(value) + column}"
    path = tmp_path / "tokenizer.json"
    path.write_text(text, encoding="utf-8")
    with pytest.raises(OSError) as info:
        lexmill.Lexmill(str(path))
    assert str(info.value) == "Failed to load tokenizer: Failed to parse tokenizer.json"


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


@pytest.mark.parametrize("opening", ["[", '{"a":'])
def test_hostile_nesting_is_an_error_not_a_crash(lexmill, opening):
    text = '{"normalizer":' + opening * 100_000
    # Reported at the opening bracket of the 128th level.
    column = len('{"normalizer":') + 126 * len(opening) + 1
    assert parse_error(lexmill, text) == f"recursion limit exceeded at line 1 column {column}"


def test_not_bpe_is_refused_after_parsing(lexmill):
    text = tokenizer_json(model_extra={"type": "bpe"})
    with pytest.raises(ValueError) as info:
        lexmill.Lexmill.from_json(text)
    assert str(info.value) == "Only BPE tokenizers are supported"


class TestAccepted:
    def test_optional_sections_and_flags_may_be_absent(self, lexmill):
        text = '{"version":"1","added_tokens":[],"model":{"type":"BPE","vocab":{"a":0},"merges":[]}}'
        doc = json.loads(lexmill.Lexmill.from_json(text).to_json())
        for key in ["truncation", "padding", "normalizer", "pre_tokenizer", "post_processor", "decoder"]:
            assert doc[key] is None
        for key in ["fuse_unk", "byte_fallback", "ignore_merges"]:
            assert doc["model"][key] is False

    def test_array_forms(self, lexmill):
        model = ["BPE", 0.5, "<unk>", None, None, True, False, True, {"b": 1, "a": 0}, [["a", "b"]]]
        editor = lexmill.Lexmill.from_json(compact(["1", None, None, [], None, None, None, None, model]))
        assert editor.get_vocab() == {"a": 0, "b": 1}
        assert editor.get_merges() == [("a", "b")]
        doc = json.loads(editor.to_json())
        assert doc["model"]["dropout"] == 0.5 and doc["model"]["unk_token"] == "<unk>"
        assert doc["model"]["fuse_unk"] is True and doc["model"]["ignore_merges"] is True

    def test_unknown_fields_are_dropped_and_section_content_kept(self, lexmill):
        doc = tokenizer_dict(normalizer={"type": "Lowercase", "extra": {"z": 1, "a": [1, 2]}})
        doc["unknown_top"] = {"deep": [1, {"x": None}]}
        doc["model"]["unknown_model"] = "x"
        written = json.loads(lexmill.Lexmill.from_json(compact(doc)).to_json())
        assert "unknown_top" not in written and "unknown_model" not in written["model"]
        assert written["normalizer"] == {"type": "Lowercase", "extra": {"z": 1, "a": [1, 2]}}

    def test_later_duplicates_win(self, lexmill):
        text = compact(tokenizer_dict())
        text = text.replace('"vocab":{}', '"vocab":{"b":1,"a":2,"b":3}')
        text = text.replace('"normalizer":null', '"normalizer":{"k":1,"j":0,"k":2}')
        editor = lexmill.Lexmill.from_json(text)
        assert editor.get_vocab() == {"a": 2, "b": 3}
        assert json.loads(editor.to_json())["normalizer"] == {"j": 0, "k": 2}

    @pytest.mark.parametrize(
        "literal, written",
        [
            ("0", "0"),
            ("-1", "-1"),
            ("18446744073709551615", "18446744073709551615"),
            ("-9223372036854775808", "-9223372036854775808"),
            ("18446744073709551616", "1.8446744073709552e19"),
            ("-9223372036854775809", "-9.223372036854776e18"),
            ("-0", "0"),
            ("-0.0", "-0.0"),
            ("1.0", "1.0"),
            ("1e2", "100.0"),
            ("1.50", "1.5"),
            ("1E-7", "1e-7"),
            ("1e-400", "0.0"),
            ("-1e-400", "-0.0"),
            ("123456789012345678901234567890", "1.2345678901234568e29"),
        ],
    )
    def test_number_kinds(self, lexmill, literal, written):
        text = compact(tokenizer_dict()).replace('"normalizer":null', '"normalizer":[' + literal + "]")
        out = lexmill.Lexmill.from_json(text).to_json()
        assert '"normalizer": [\n    ' + written + "\n  ]" in out

    def test_strings_are_decoded(self, lexmill):
        text = compact(tokenizer_dict()).replace(
            '"vocab":{}', '"vocab":{"\\u00e9\\ud83d\\ude00\\n\\/\\u0000":7}'
        )
        assert lexmill.Lexmill.from_json(text).get_vocab() == {"é😀\n/\x00": 7}


class TestConformanceCorpus:
    """The JSON conformance corpus, each case placed as the normalizer of a valid document."""

    @staticmethod
    def cases(prefix):
        folder = DATA / "jsontestsuite" / "test_parsing"
        if not folder.exists():
            return [pytest.param(None, marks=pytest.mark.skip(reason="corpus not available"))]
        return sorted(p for p in folder.iterdir() if p.name.startswith(prefix))

    @staticmethod
    def embedded(path):
        raw = path.read_bytes()
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            return None, raw
        prefix, _, suffix = compact(tokenizer_dict()).partition('"normalizer":null')
        return prefix + '"normalizer":' + text + suffix, raw

    def check_not_utf8(self, lexmill, tmp_path, raw):
        prefix, _, suffix = compact(tokenizer_dict()).encode().partition(b'"normalizer":null')
        path = tmp_path / "case.json"
        path.write_bytes(prefix + b'"normalizer":' + raw + suffix)
        with pytest.raises(OSError) as info:
            lexmill.Lexmill(str(path))
        assert str(info.value) == f"Failed to load tokenizer: Failed to read: {path}"

    @pytest.mark.parametrize("path", cases("y_"), ids=lambda p: p.name if p else "none")
    def test_accepted(self, lexmill, tmp_path, path):
        text, raw = self.embedded(path)
        assert text is not None
        editor = lexmill.Lexmill.from_json(text)
        written = json.loads(editor.to_json())["normalizer"]
        assert written == json.loads(raw)

    @pytest.mark.parametrize("path", cases("n_"), ids=lambda p: p.name if p else "none")
    def test_refused(self, lexmill, tmp_path, path):
        text, raw = self.embedded(path)
        if text is None:
            self.check_not_utf8(lexmill, tmp_path, raw)
        else:
            parse_error(lexmill, text)

    @pytest.mark.parametrize("path", cases("i_"), ids=lambda p: p.name if p else "none")
    def test_implementation_defined(self, lexmill, tmp_path, path):
        text, raw = self.embedded(path)
        if text is None:
            self.check_not_utf8(lexmill, tmp_path, raw)
            return
        try:
            lexmill.Lexmill.from_json(text)
        except ValueError as error:
            assert str(error).startswith(PREFIX)


def test_legacy_merge_strings_are_refused(lexmill):
    path = data_file("llama2.tokenizer.json")
    with pytest.raises(OSError) as info:
        lexmill.Lexmill(str(path))
    assert str(info.value) == "Failed to load tokenizer: Failed to parse tokenizer.json"
    message = parse_error(lexmill, path.read_text(encoding="utf-8"))
    assert message.startswith('invalid type: string "▁ t", expected a sequence at line ')
