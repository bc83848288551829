"""Files and the operating system: what saving and opening do with links,
devices, descriptors, permissions, signals and limits.

Cases that need another user, a limit or a signal run in a child interpreter.
"""

import errno
import os
import pwd
import signal
import stat
import subprocess
import sys
import textwrap
import time

import pytest

from conftest import directory_listing, subprocess_env, tokenizer_json

DOC = tokenizer_json(["a", "b", "ab"], [("a", "b")])
SAVE = "Failed to save tokenizer: "

# The child's editor holds DOC; its SIGINT raises KeyboardInterrupt even
# where the test runs with SIGINT ignored (a background job).
PRELUDE = """\
import json, os, signal, sys
import lexmill
signal.signal(signal.SIGINT, signal.default_int_handler)
editor = lexmill.Lexmill.from_json(sys.argv[1])
"""


def child(body, *args):
    return [sys.executable, "-c", PRELUDE + textwrap.dedent(body), DOC, *map(str, args)]


def run_child(body, *args, **kwargs):
    kwargs.setdefault("stdout", subprocess.PIPE)
    return subprocess.run(child(body, *args), env=subprocess_env(), stderr=subprocess.PIPE, timeout=60, **kwargs)


@pytest.fixture
def editor(lexmill):
    return lexmill.Lexmill.from_json(DOC)


@pytest.fixture
def text(editor, tmp_path_factory):
    """The bytes save writes for DOC."""
    path = tmp_path_factory.mktemp("reference") / "tokenizer.json"
    editor.save(str(path))
    return path.read_bytes()


class TestSaveWritesWhereOpenWould:
    def test_every_hard_link_sees_the_new_text(self, editor, text, tmp_path):
        first, second = tmp_path / "a.json", tmp_path / "b.json"
        first.write_bytes(b"old")
        os.link(first, second)
        editor.save(str(second))
        assert first.read_bytes() == text and os.path.samefile(first, second)
        assert directory_listing(tmp_path) == ["a.json", "b.json"]

    def test_dangling_link_gets_its_target(self, editor, text, tmp_path):
        (tmp_path / "sub").mkdir()
        link = tmp_path / "link.json"
        link.symlink_to("sub/new.json")
        editor.save(str(link))
        assert link.is_symlink() and (tmp_path / "sub" / "new.json").read_bytes() == text

    @pytest.mark.skipif(os.geteuid() != 0, reason="only root may give a file to another user")
    def test_replaced_file_keeps_owner_group_and_mode(self, editor, text, tmp_path):
        target = tmp_path / "tokenizer.json"
        target.write_bytes(b"old")
        os.chown(target, 65534, 65534)
        target.chmod(0o640)
        editor.save(str(target))
        st = target.stat()
        assert (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) == (65534, 65534, 0o640)
        assert target.read_bytes() == text

    def test_device_is_written_not_replaced(self, editor):
        editor.save("/dev/null")
        assert stat.S_ISCHR(os.stat("/dev/null").st_mode)

    def test_read_only_file_is_refused_as_open_refuses_it(self, tmp_path):
        # As root the child becomes nobody, for whom the file is read-only too.
        folder = tmp_path / "shared"
        folder.mkdir()
        folder.chmod(0o777)
        target = folder / "tokenizer.json"
        target.write_bytes(b"old")
        target.chmod(0o444)
        if os.geteuid() == 0:
            try:
                nobody = pwd.getpwnam("nobody").pw_uid
            except KeyError:
                pytest.skip("no unprivileged user to run as")
            os.chown(target, nobody, -1)
        body = """
            os.chdir(sys.argv[2])
            if os.geteuid() == 0:
                os.setgroups([])
                os.setgid(int(sys.argv[3]))
                os.setuid(int(sys.argv[3]))
            for write in (lambda: open("tokenizer.json", "w"), lambda: editor.save("tokenizer.json")):
                try:
                    write()
                except OSError as error:
                    print(type(error).__name__, error)
        """
        run = run_child(body, folder, os.stat(target).st_uid, text=True)
        assert run.returncode == 0, run.stderr
        opened, saved = run.stdout.splitlines()
        assert opened.startswith("PermissionError ")
        assert saved == "PermissionError " + SAVE + "Failed to write: tokenizer.json"
        assert target.read_bytes() == b"old" and directory_listing(folder) == ["tokenizer.json"]


class TestSaveToAStream:
    @pytest.mark.parametrize("path", ["/dev/stdout", "/proc/self/fd/1"])
    @pytest.mark.parametrize("sink", ["file", "pipe"])
    def test_descriptor_keeps_what_the_program_printed(self, text, tmp_path, path, sink):
        if not os.path.exists(path):
            pytest.skip(f"{path} is not available")
        body = """
            print("before")
            editor.save(sys.argv[2])
            print("after")
        """
        if sink == "pipe":
            run = run_child(body, path)
            output = run.stdout
        else:
            with open(tmp_path / "out.txt", "wb") as out:
                run = run_child(body, path, stdout=out)
            output = (tmp_path / "out.txt").read_bytes()
        assert run.returncode == 0, run.stderr
        assert output == b"before\n" + text + b"after\n"

    def test_fifo_is_written_in_place(self, text, tmp_path):
        fifo = tmp_path / "fifo"
        os.mkfifo(fifo)
        reader = subprocess.Popen(["cat", str(fifo)], stdout=subprocess.PIPE)
        try:
            run = run_child("editor.save(sys.argv[2])", fifo)
            received, _ = reader.communicate(timeout=60)
        finally:
            reader.kill()
        assert run.returncode == 0, run.stderr
        assert received == text and stat.S_ISFIFO(os.stat(fifo).st_mode)


def test_killed_save_leaves_nothing_the_next_save_keeps(editor, text, tmp_path):
    # The file size limit kills the child by SIGXFSZ in the middle of its save.
    target = tmp_path / "tokenizer.json"
    target.write_bytes(b"old")
    body = """
        import resource
        vocab = {"t%d" % i: i for i in range(2000)}
        doc = {"version": "1.0", "added_tokens": [], "model": {"type": "BPE", "vocab": vocab, "merges": []}}
        editor = lexmill.Lexmill.from_json(json.dumps(doc))
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
        editor.save(sys.argv[2])
    """
    run = run_child(body, target, cwd=tmp_path)
    assert run.returncode == -signal.SIGXFSZ, run.stderr
    assert target.read_bytes() == b"old"
    editor.save(str(target))
    assert directory_listing(tmp_path) == ["tokenizer.json"] and target.read_bytes() == text


@pytest.mark.skipif(not os.path.exists("/dev/zero"), reason="no /dev/zero")
def test_endless_device_is_refused_within_memory():
    body = """
        import resource
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
        try:
            lexmill.Lexmill("/dev/zero")
        except OSError as error:
            print(type(error).__name__, error, error.__cause__.errno)
    """
    run = run_child(body, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout == f"OSError Failed to load tokenizer: Failed to read: /dev/zero {errno.EFBIG}\n"


@pytest.mark.parametrize(
    "call",
    [
        "lexmill.Lexmill(sys.argv[2])",
        "editor.merge_from(sys.argv[2])",
        "editor.sync_single_chars(sys.argv[2])",
        "editor.save(sys.argv[2])",
    ],
)
def test_ctrl_c_ends_a_wait_on_a_fifo_while_other_threads_run(tmp_path, call):
    # Nobody ever opens the other end of the FIFO.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    body = """
        import threading, time
        ticks = 0
        def tick():
            global ticks
            while True:
                ticks += 1
                time.sleep(0.001)
        threading.Thread(target=tick, daemon=True).start()
        print("ready", flush=True)
        try:
            CALL
        except KeyboardInterrupt:
            print("interrupted after", ticks > 50)
    """.replace("CALL", call)
    process = subprocess.Popen(child(body, fifo), env=subprocess_env(), stdout=subprocess.PIPE, text=True)
    try:
        assert process.stdout.readline() == "ready\n"
        # Time for the child to reach the wait, and for its other thread to tick.
        time.sleep(0.5)
        process.send_signal(signal.SIGINT)
        output, _ = process.communicate(timeout=10)
    finally:
        process.kill()
    assert output == "interrupted after True\n"
