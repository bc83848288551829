"""Hostile input: what malformed, enormous or adversarial files and texts do.

Every case must end in the specified error or in a working editor, never in a
crash, a hang or a damaged file on disk.
"""

import json
import subprocess
import sys
import textwrap

import pytest

from conftest import directory_listing, subprocess_env, tokenizer_json

LOAD = "Failed to load tokenizer: "
SAVE = "Failed to save tokenizer: "


def raised_message(exception, call):
    with pytest.raises(exception) as info:
        call()
    assert type(info.value) is exception
    return str(info.value)


def write(path, content):
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    return str(path)


class TestDeepNesting:
    """Nesting far beyond the limit is a parse error wherever it stands."""

    DEPTH = 100_000

    # Each prefix opens the nesting at a place read by different code: the
    # document itself (array form), a pass-through section, an added-token
    # entry, the vocabulary, the merge list and a merge.
    PLACES = {
        "document": "",
        "section": '{"normalizer": ',
        "added_token": '{"added_tokens": [',
        "vocab": '{"model": {"vocab": {"a": ',
        "merges": '{"model": {"merges": ',
        "merge": '{"model": {"merges": [[',
        "unknown_member": '{"x": ',
    }

    @pytest.fixture(params=["[", '{"k": '], ids=["arrays", "objects"])
    def opening(self, request):
        return request.param

    @pytest.fixture(params=["unclosed", "closed"])
    def hostile_text(self, request, opening):
        def text(prefix):
            body = opening * self.DEPTH
            if request.param == "closed":
                body += ("]" if opening == "[" else "}") * self.DEPTH
            return prefix + body

        return text

    @pytest.mark.parametrize("place", sorted(PLACES))
    def test_from_json(self, lexmill, hostile_text, place):
        message = raised_message(ValueError, lambda: lexmill.Lexmill.from_json(hostile_text(self.PLACES[place])))
        assert message.startswith("Failed to parse JSON: ")

    @pytest.mark.parametrize("place", sorted(PLACES))
    def test_file(self, lexmill, tmp_path, hostile_text, place):
        path = write(tmp_path / "deep.json", hostile_text(self.PLACES[place]))
        assert raised_message(OSError, lambda: lexmill.Lexmill(path)) == LOAD + "Failed to parse tokenizer.json"

    def test_as_merge_source(self, lexmill, tmp_path):
        editor = lexmill.Lexmill.from_json(tokenizer_json(["a"], pre_tokenizer={"type": "ByteLevel"}))
        path = write(tmp_path / "deep.json", '{"normalizer": ' + "[" * self.DEPTH)
        for call in (lambda: editor.merge_from(path), lambda: editor.sync_single_chars(path)):
            assert raised_message(OSError, call) == "Failed to load source tokenizer: Failed to parse tokenizer.json"
        assert editor.get_vocab() == {"a": 0}


class TestHugeToken:
    """A token of 100 MB opens, answers queries, and can be added bare, removed and saved."""

    SIZE = 100 * 1024 * 1024

    @pytest.fixture(scope="class")
    def huge(self):
        # Mostly ASCII with a multi-byte character and a NUL at each end, so
        # no part of the path may treat it as one-byte characters or C text.
        return "\x00é" + "x" * (self.SIZE - 4) + "é\x00"

    @pytest.fixture(scope="class")
    def huge_text(self, huge):
        return tokenizer_json({"a": 0, huge: 1, "b": 2}, [("a", "b")])

    def check(self, editor, huge, tmp_path):
        assert editor.vocab_size == 3
        assert editor.has_token(huge) and editor.get_token_id(huge) == 1
        assert editor.get_token_by_id(1) == huge
        assert not editor.has_token(huge[:-1])
        assert editor.add_token_atomic(huge + "y") is True
        assert editor.get_token_id(huge + "y") == 3
        removal = editor.remove_token(huge)
        assert removal.removed_tokens == [huge] and removal.removed_merges == []
        out = tmp_path / "saved.json"
        editor.save(str(out))
        saved = json.loads(out.read_bytes())
        assert saved["model"]["vocab"] == {"a": 0, "b": 2, huge + "y": 3}

    def test_from_json(self, lexmill, huge, huge_text, tmp_path):
        self.check(lexmill.Lexmill.from_json(huge_text), huge, tmp_path)

    def test_file(self, lexmill, huge, huge_text, tmp_path):
        path = write(tmp_path / "huge.json", huge_text)
        editor = lexmill.Lexmill(path)
        assert len(editor.to_json()) > self.SIZE
        self.check(editor, huge, tmp_path)


MEMORY_LIMITED_CHILD = """
import resource, sys
resource.setrlimit(resource.RLIMIT_AS, (3 << 30, resource.getrlimit(resource.RLIMIT_AS)[1]))
import lexmill
editor = lexmill.Lexmill.from_json(sys.argv[1])
before = editor.to_json()
distinct = "".join(chr(0x20000 + i) for i in range(50_000))
for call in (
    lambda: editor.add_token("q" * 4_000_000),
    lambda: editor.add_token(distinct),
    lambda: editor.add_token(distinct, reachable=True),
    lambda: editor.add_tokens_keep_size(["ab", "z" * 3_000_000]),
):
    try:
        call()
    except MemoryError:
        pass
    else:
        raise SystemExit("no MemoryError")
    # Nothing is left half built, and the next edits work.
    if editor.to_json() != before and editor.vocab_size != 6:
        raise SystemExit("changed: " + repr(editor))
print(editor.add_tokens_keep_size(["abcd", "ba"], reachable=True), editor.add_token("qq").method,
      editor.remove_token("abc").removed_tokens, editor.validate_merges().invalid_count)
"""


def test_edits_beyond_memory_fail_cleanly():
    # A chain stores every prefix: 50,000 characters of four bytes need 5
    # GB, more than the 3 GiB the child may have; 4 million need 8 TB.
    doc = tokenizer_json(["a", "b", "c", "ab", "abc", "cb"], merges=[("a", "b"), ("ab", "c")])
    run = subprocess.run([sys.executable, "-c", MEMORY_LIMITED_CHILD, doc], capture_output=True, text=True,
                         timeout=300, env=subprocess_env())
    assert run.returncode == 0, run.stderr
    assert run.stdout.split("}")[1].split() == ["char_chain", "['abc']", "0"]


class TestMillionTokens:
    COUNT = 1_000_000

    @pytest.fixture(scope="class")
    def text(self):
        vocab = {f"t{i}": i for i in range(self.COUNT)}
        merges = [(f"t{i}", f"t{i + 1}") for i in range(0, 1000, 2)]
        return tokenizer_json(vocab, merges)

    def test_opens_edits_and_saves(self, lexmill, text, tmp_path):
        path = write(tmp_path / "big.json", text)
        editor = lexmill.Lexmill(path)
        assert editor.vocab_size == self.COUNT and editor.merges_count == 500
        assert editor.get_token_id("t999999") == 999_999 and editor.get_token_by_id(0) == "t0"
        assert editor.check_vocab_gaps() == (False, 0, 0, self.COUNT - 1)
        assert editor.add_token_atomic("new") and editor.get_token_id("new") == self.COUNT
        assert editor.remove_token("t999998").removed_tokens == ["t999998"]
        assert editor.reindex_vocab().ids_remapped == 2
        editor.save(path)
        again = lexmill.Lexmill(path)
        assert again.vocab_size == self.COUNT
        assert again.get_token_id("new") == self.COUNT - 1
        assert again.to_json() == editor.to_json()

    def test_from_json(self, lexmill, text):
        editor = lexmill.Lexmill.from_json(text)
        assert editor.vocab_size == self.COUNT and len(editor.get_vocab()) == self.COUNT


class TestInvalidUtf8:
    # Each is refused by the UTF-8 check before parsing, wherever it stands.
    BAD = {
        "continuation_byte": b"\x80",
        "overlong_slash": b"\xc0\xaf",
        "encoded_surrogate": b"\xed\xa0\x80",
        "above_unicode": b"\xf4\x90\x80\x80",
        "byte_ff": b"\xff",
        "truncated": b"\xe2\x96",
    }

    def documents(self, bad):
        good = tokenizer_json({"ab": 0}).encode()
        yield "in_token", good.replace(b'"ab"', b'"a' + bad + b'b"')
        yield "in_whitespace", good.replace(b"{", b"{" + bad, 1)
        yield "at_end", good + bad

    @pytest.mark.parametrize("name", sorted(BAD))
    def test_open(self, lexmill, tmp_path, name):
        for place, content in self.documents(self.BAD[name]):
            path = write(tmp_path / f"{place}.json", content)
            assert raised_message(OSError, lambda: lexmill.Lexmill(path)) == LOAD + f"Failed to read: {path}"

    def test_as_source_leaves_editor_unchanged(self, lexmill, tmp_path):
        editor = lexmill.Lexmill.from_json(tokenizer_json(["a", "b"], pre_tokenizer={"type": "ByteLevel"}))
        before = editor.to_json()
        path = write(tmp_path / "bad.json", tokenizer_json({"x": 0}).encode() + b"\xff")
        for call in (lambda: editor.merge_from(path), lambda: editor.sync_single_chars(path)):
            message = raised_message(OSError, call)
            assert message == f"Failed to load source tokenizer: Failed to read: {path}"
        assert editor.to_json() == before

    def test_lone_surrogate_in_text_is_an_encode_error(self, lexmill):
        text = tokenizer_json({"a": 0}).replace('"a"', '"\ud800"')
        with pytest.raises(UnicodeEncodeError):
            lexmill.Lexmill.from_json(text)


class TestNulBytes:
    TOKEN = "a\x00b"

    def test_kept_as_data_and_written_as_escape(self, lexmill, tmp_path):
        text = tokenizer_json(
            {"a": 0, "b": 1, self.TOKEN: 2},
            [("a", "\x00b")],
            added_tokens=[{"id": 3, "content": "\x00", "special": True}],
            normalizer={"type": "Replace", "pattern": {"String": "\x00"}, "content": "\x00\x00"},
        )
        path = write(tmp_path / "nul.json", text)
        editor = lexmill.Lexmill(path)
        assert editor.get_token_id(self.TOKEN) == 2
        assert editor.has_token("a") and not editor.has_token("a\x00")
        assert editor.get_merges() == [("a", "\x00b")]
        exported = editor.to_json()
        assert '"a\\u0000b": 2' in exported and "\x00" not in exported
        out = tmp_path / "out.json"
        editor.save(str(out))
        saved = out.read_bytes()
        assert b"\x00" not in saved and b'"a\\u0000b": 2' in saved
        assert json.loads(saved) == json.loads(exported)
        assert json.loads(saved)["normalizer"]["content"] == "\x00\x00"

    def test_editing_tokens_with_nul(self, lexmill):
        editor = lexmill.Lexmill.from_json(tokenizer_json(["a"]))
        result = editor.add_token("a\x00\x00")
        assert result.method == "longest_prefix"
        assert editor.has_token("\x00") and editor.has_token("\x00\x00") and editor.has_token("a\x00\x00")
        assert set(editor.remove_token("\x00").removed_tokens) == {"\x00", "\x00\x00", "a\x00\x00"}
        assert editor.get_vocab() == {"a": 0}

    @pytest.mark.parametrize("place", ["in_string", "after_value"])
    def test_raw_nul_byte_in_file_is_a_parse_error(self, lexmill, tmp_path, place):
        raw = b'"a\x00b": 0' if place == "in_string" else b'"ab": 0\x00'
        content = tokenizer_json({"ab": 0}).encode().replace(b'"ab": 0', raw)
        path = write(tmp_path / "raw.json", content)
        assert raised_message(OSError, lambda: lexmill.Lexmill(path)) == LOAD + "Failed to parse tokenizer.json"


class TestRemovingAStringOnlyMergesProduce:
    """A string that is no vocabulary token but the result of a merge loses
    that merge, however the editor got to its state."""

    DOC = tokenizer_json({"a": 0, "b": 1, "x": 2}, [("a", "b")])

    @pytest.mark.parametrize("history", ["fresh", "after_an_edit"])
    def test_first_producer_goes(self, lexmill, history):
        editor = lexmill.Lexmill.from_json(self.DOC)
        if history == "after_an_edit":
            editor.add_token("xa")
            editor.remove_token("xa")
        removal = editor.remove_token("ab")
        assert removal.removed_tokens == ["ab"] and removal.removed_merges == [("a", "b")]
        assert editor.get_merges() == []


class TestEmptyToken:
    """The empty string is a token like any other (run under the sanitizers, this
    once read through a null pointer when it was the first string interned)."""

    def test_as_the_victim_of_keep_size(self, lexmill):
        editor = lexmill.Lexmill.from_json(tokenizer_json({}))
        assert editor.add_token("").method == "char_chain"
        report = editor.add_tokens_keep_size(["x"], whitelist=["x"])
        assert report["tokens_removed"] == 1 and editor.get_vocab() == {"x": 1}

    def test_removed_and_shrunk(self, lexmill):
        editor = lexmill.Lexmill.from_json(tokenizer_json({}))
        editor.add_token("")
        editor.add_token("ab")
        assert editor.remove_tokens(["", ""])[0].removed_tokens == [""]
        assert editor.shrink(5).tokens_removed_count == 1
        assert editor.get_vocab() == {"a": 2, "b": 3}


class TestLongNumbers:
    """Numbers with more digits than a 64-bit integer holds keep their value."""

    NUMBERS = [
        "1.00000000000000011102230246251565404236316680908203125",
        "0.499999999999999999999006",
        "12345678901234567890.5",
        "1.2345678901234567890",
        "-0.000000000000000000000000000000000001234567890123456789",
        "123456789012345678901234567890",
    ]

    @pytest.mark.parametrize("literal", NUMBERS)
    def test_value_survives_a_round_trip(self, lexmill, literal):
        text = tokenizer_json(["a"]).replace('"normalizer": null', f'"normalizer": {{"x": {literal}}}')
        assert f'"x": {literal}' in text
        written = json.loads(lexmill.Lexmill.from_json(text).to_json())["normalizer"]["x"]
        assert written == float(literal)

    def test_dropout(self, lexmill):
        literal = self.NUMBERS[0]
        text = tokenizer_json(["a"]).replace('"dropout": null', f'"dropout": {literal}')
        assert json.loads(lexmill.Lexmill.from_json(text).to_json())["model"]["dropout"] == float(literal)


def running_as_root_without_permission_checks(directory):
    """True when a read-only directory still accepts new files (root without restrictions)."""
    probe = directory / ".probe"
    try:
        probe.write_bytes(b"")
    except PermissionError:
        return False
    probe.unlink()
    return True


class TestSaveNeverDamagesAFile:
    @pytest.fixture
    def editor(self, lexmill):
        return lexmill.Lexmill.from_json(tokenizer_json(["a", "b", "ab"], [("a", "b")]))

    def test_path_is_a_directory(self, editor, tmp_path):
        target = tmp_path / "tokenizer.json"
        target.mkdir()
        (target / "inside").write_bytes(b"kept")
        message = raised_message(IsADirectoryError, lambda: editor.save(str(target)))
        assert message == SAVE + f"Failed to write: {target}"
        assert target.is_dir() and (target / "inside").read_bytes() == b"kept"
        assert directory_listing(tmp_path) == ["tokenizer.json"]

    def test_read_only_directory(self, editor, tmp_path):
        folder = tmp_path / "ro"
        folder.mkdir()
        target = folder / "tokenizer.json"
        target.write_bytes(b"old content")
        folder.chmod(0o555)
        try:
            if running_as_root_without_permission_checks(folder):
                pytest.skip("permissions are not enforced for this user")
            message = raised_message(PermissionError, lambda: editor.save(str(target)))
            assert message == SAVE + f"Failed to write: {target}"
            assert target.read_bytes() == b"old content"
            assert directory_listing(folder) == ["tokenizer.json"]
        finally:
            folder.chmod(0o755)

    def test_write_failing_midway(self, tmp_path):
        # The file size limit makes the write fail after its first 4 KiB; with
        # SIGXFSZ ignored the failure comes back as an error from write().
        target = tmp_path / "tokenizer.json"
        target.write_bytes(b"old content")
        script = textwrap.dedent(
            """
            import json, resource, signal, sys
            import lexmill
            vocab = {"t%d" % i: i for i in range(2000)}
            doc = {"version": "1.0", "added_tokens": [],
                   "model": {"type": "BPE", "vocab": vocab, "merges": []}}
            editor = lexmill.Lexmill.from_json(json.dumps(doc))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
            try:
                editor.save(sys.argv[1])
            except OSError as error:
                print(error)
            else:
                print("saved")
            """
        )
        run = subprocess.run(
            [sys.executable, "-c", script, str(target)],
            capture_output=True, text=True, timeout=120, env=subprocess_env(),
        )
        assert run.returncode == 0, run.stderr
        assert run.stdout.strip() == SAVE + f"Failed to write: {target}"
        assert target.read_bytes() == b"old content"
        assert directory_listing(tmp_path) == ["tokenizer.json"]

    def test_permissions_of_a_replaced_file_are_kept(self, editor, tmp_path):
        target = tmp_path / "tokenizer.json"
        target.write_bytes(b"old")
        target.chmod(0o640)
        editor.save(str(target))
        assert target.stat().st_mode & 0o777 == 0o640
        assert json.loads(target.read_bytes())["model"]["merges"] == [["a", "b"]]

    def test_symbolic_link_is_followed_and_kept(self, editor, tmp_path):
        real = tmp_path / "real.json"
        real.write_bytes(b"old")
        link = tmp_path / "link.json"
        link.symlink_to(real)
        editor.save(str(link))
        assert link.is_symlink() and json.loads(real.read_bytes())["model"]["vocab"]["ab"] == 2
