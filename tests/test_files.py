"""Saving and opening against the system: links, devices, streams, permissions, signals, limits."""

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
# SIGINT raises KeyboardInterrupt in the child even where the test runs with it ignored (a background job).
PRELUDE = """\
import json, os, resource, signal, sys
import lexmill
signal.signal(signal.SIGINT, signal.default_int_handler)
editor = lexmill.Lexmill.from_json(sys.argv[1])
def report(call):
    try:
        call()
    except (OSError, KeyboardInterrupt) as error:
        print(type(error).__name__, error, flush=True)
"""


def child(body, *args, popen=False, **kwargs):
    command = [sys.executable, "-c", PRELUDE + textwrap.dedent(body), DOC, *map(str, args)]
    kwargs = {"env": subprocess_env(), "stdout": subprocess.PIPE, "text": True, **kwargs}
    return subprocess.Popen(command, **kwargs) if popen else subprocess.run(command, timeout=120, **kwargs)


@pytest.fixture
def editor(lexmill):
    return lexmill.Lexmill.from_json(DOC)


@pytest.fixture
def text(editor, tmp_path_factory):  # the bytes save writes for DOC
    path = tmp_path_factory.mktemp("reference") / "tokenizer.json"
    editor.save(str(path))
    return path.read_bytes()


def test_links_devices_and_modes_are_kept(editor, text, tmp_path):
    first, second, plain = tmp_path / "a.json", tmp_path / "b.json", tmp_path / "plain.json"
    first.write_bytes(b"old")
    os.link(first, second)
    editor.save(str(second))  # every hard link sees the new text
    assert first.read_bytes() == text and os.path.samefile(first, second)
    (tmp_path / "sub").mkdir()
    for link, target in [("link.json", "a.json"), ("dangling.json", "sub/new.json")]:
        (tmp_path / link).symlink_to(target)
        editor.save(str(tmp_path / link))
        assert (tmp_path / link).is_symlink() and (tmp_path / target).read_bytes() == text
    plain.write_bytes(b"old")  # a file the save replaces keeps owner, group and mode
    owner = (65534, 65534) if os.geteuid() == 0 else (os.getuid(), os.getgid())
    os.chown(plain, *owner)
    plain.chmod(0o640)
    editor.save(str(plain))
    st = plain.stat()
    assert (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) == (*owner, 0o640) and plain.read_bytes() == text
    assert directory_listing(tmp_path) == ["a.json", "b.json", "dangling.json", "link.json", "plain.json", "sub"]
    editor.save("/dev/null")
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)


def test_directory_in_the_way_is_left_alone(editor, tmp_path):
    target = tmp_path / "tokenizer.json"
    target.mkdir()
    (target / "inside").write_bytes(b"kept")
    with pytest.raises(IsADirectoryError, match=f"^{SAVE}Failed to write: {target}$"):
        editor.save(str(target))
    assert (target / "inside").read_bytes() == b"kept" and directory_listing(tmp_path) == ["tokenizer.json"]


@pytest.mark.parametrize("file_mode, folder_mode", [(0o444, 0o777), (0o644, 0o555)], ids=["file", "folder"])
def test_read_only_places_are_refused_and_left_alone(tmp_path, file_mode, folder_mode):
    # As root the child becomes nobody, for whom they are read-only too (nobody owns the read-only file).
    folder, uid = tmp_path / "shared", os.getuid() or pwd.getpwnam("nobody").pw_uid
    folder.mkdir()
    (folder / "tokenizer.json").write_bytes(b"old")
    os.chown(folder / "tokenizer.json", uid if file_mode == 0o444 else -1, -1)
    (folder / "tokenizer.json").chmod(file_mode)
    folder.chmod(folder_mode)
    body = "if os.geteuid() == 0:\n    os.setgroups([]), os.setgid(int(sys.argv[2])), os.setuid(int(sys.argv[2]))\n"
    try:
        run = child(body + 'report(lambda: editor.save("tokenizer.json"))', uid, cwd=folder)
    finally:
        folder.chmod(0o755)
    assert (run.returncode, run.stdout) == (0, f"PermissionError {SAVE}Failed to write: tokenizer.json\n")
    assert (folder / "tokenizer.json").read_bytes() == b"old" and directory_listing(folder) == ["tokenizer.json"]


@pytest.mark.parametrize("path", ["/dev/stdout", "/proc/self/fd/1", "fifo"])
def test_streams_are_written_in_place(text, tmp_path, path):
    # A descriptor keeps what the program printed before; a FIFO stays a FIFO.
    reader = None
    if path == "fifo":
        path = tmp_path / "fifo"
        os.mkfifo(path)
        reader = subprocess.Popen(["cat", str(path)], stdout=subprocess.PIPE)
    try:
        run = child('print("before", flush=True)\neditor.save(sys.argv[2])\nprint("after")', path, text=False)
        received = reader.communicate(timeout=60)[0] if reader else run.stdout
    finally:
        if reader:
            reader.kill()
    assert run.returncode == 0
    assert received == (text if reader else b"before\n" + text + b"after\n")


@pytest.mark.parametrize("disposition", ["SIG_DFL", "SIG_IGN"])
def test_save_failing_midway_keeps_the_old_file(editor, text, tmp_path, disposition):
    # The file size limit stops the save after 4 KiB: by SIGXFSZ, or by an error from write().
    target = tmp_path / "tokenizer.json"
    target.write_bytes(b"old")
    body = f"""
        editor = lexmill.Lexmill.from_json(json.dumps({{"version": "1.0", "added_tokens": [], "model": {{
            "type": "BPE", "vocab": {{"t%d" % i: i for i in range(2000)}}, "merges": []}}}}))
        signal.signal(signal.SIGXFSZ, signal.{disposition})
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
        report(lambda: editor.save(sys.argv[2]))
    """
    run = child(body, target, cwd=tmp_path)
    assert (run.returncode, run.stdout) == ((-signal.SIGXFSZ, "") if disposition == "SIG_DFL" else
                                            (0, f"OSError {SAVE}Failed to write: {target}\n"))
    assert target.read_bytes() == b"old"
    for stale in tmp_path.glob(".lexmill-*"):  # root removes another user's stale temporaries too
        os.chown(stale, 65534 if os.geteuid() == 0 else -1, -1)
    editor.save(str(target))  # nothing is left behind that the next save keeps
    assert directory_listing(tmp_path) == ["tokenizer.json"] and target.read_bytes() == text


@pytest.mark.skipif(not os.path.exists("/dev/zero"), reason="no /dev/zero")
def test_endless_device_is_refused_within_memory():
    body = """
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
        try:
            lexmill.Lexmill("/dev/zero")
        except OSError as error:
            print(type(error).__name__, error, error.__cause__.errno)
    """
    assert child(body).stdout == f"OSError Failed to load tokenizer: Failed to read: /dev/zero {errno.EFBIG}\n"


@pytest.mark.parametrize("call", ["lexmill.Lexmill(sys.argv[2])", "editor.merge_from(sys.argv[2])",
                                  "editor.sync_single_chars(sys.argv[2])", "editor.save(sys.argv[2])"])
def test_ctrl_c_ends_a_wait_on_a_fifo_while_other_threads_run(tmp_path, call):
    # Nobody ever opens the other end of the FIFO; the other thread must run during the wait.
    os.mkfifo(tmp_path / "fifo")
    body = f"""
        import threading, time
        ticks = []
        threading.Thread(target=lambda: [ticks.append(time.sleep(0.001)) for _ in iter(int, 1)], daemon=True).start()
        print("ready", flush=True)
        report(lambda: {call})
        print(len(ticks) > 50)
    """
    process = child(body, tmp_path / "fifo", popen=True)
    try:
        assert process.stdout.readline() == "ready\n"
        time.sleep(0.5)  # time for the child to reach the wait, and for its other thread to tick
        process.send_signal(signal.SIGINT)
        assert process.communicate(timeout=10)[0] == "KeyboardInterrupt \nTrue\n"
    finally:
        process.kill()
