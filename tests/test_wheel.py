"""The wheel that `pip wheel .` builds: one abi3 build for CPython 3.8 and
later, clean under abi3audit's strict check, carrying the extension module, the
command line and the type stubs in the places they work from, and the licence."""

import fcntl
import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile
from contextlib import contextmanager
from pathlib import Path

import pytest

from conftest import REPO

EXAMPLE = REPO / "examples" / "tiny.tokenizer.json"
USES_API = Path(__file__).resolve().parent / "typing_examples" / "uses_api.py"


@contextmanager
def exclusive(lock_path):
    lock_path.parent.mkdir(parents=True, exist_ok=True)
    with open(lock_path, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("wheel")
    command = [sys.executable, "-m", "pip", "wheel", str(REPO), "--no-deps", "--quiet", "--wheel-dir", str(out)]
    env = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL="2")
    build_dir = REPO / "build" / "wheel-check"
    if importlib.util.find_spec("scikit_build_core") and shutil.which("cmake") and shutil.which("ninja"):
        # Without build isolation the tools keep their paths from run to run,
        # so CMake's cache stays valid and only changed sources compile again.
        command += ["--no-build-isolation", f"--config-settings=build-dir={build_dir}"]
    with exclusive(build_dir.with_name(build_dir.name + ".lock")):
        built = subprocess.run(command, capture_output=True, text=True, env=env, timeout=1800)
    assert built.returncode == 0, built.stdout + built.stderr
    (path,) = out.glob("*.whl")
    return path


@pytest.fixture(scope="module")
def unpacked(wheel, tmp_path_factory):
    root = tmp_path_factory.mktemp("site")
    with zipfile.ZipFile(wheel) as archive:
        archive.extractall(root)
    return root


def test_wheel_is_one_abi3_build_for_cpython_38_on(wheel):
    assert re.fullmatch(r"lexmill-0\.2\.0-cp38-abi3-linux_\w+\.whl", wheel.name)
    with zipfile.ZipFile(wheel) as archive:
        metadata = archive.read("lexmill-0.2.0.dist-info/WHEEL").decode()
    tags = re.findall(r"^Tag: (.+)$", metadata, flags=re.MULTILINE)
    assert tags and all(tag.startswith("cp38-abi3-") for tag in tags)


def test_wheel_uses_only_the_limited_api(wheel):
    pytest.importorskip("abi3audit", reason="abi3audit is a test dependency: pip install .[test]")
    audit = subprocess.run(
        [sys.executable, "-m", "abi3audit", "--strict", "--report", str(wheel)],
        capture_output=True, text=True, timeout=300,
    )
    assert audit.returncode == 0, audit.stdout + audit.stderr
    (extension,) = json.loads(audit.stdout)["specs"][str(wheel)]["wheel"]
    assert extension["name"] == "lexmill.abi3.so"
    assert extension["result"]["is_abi3"] and extension["result"]["baseline"] == "3.8"
    assert extension["result"]["non_abi3_symbols"] == []
    assert not extension["result"]["future_abi3_objects"]


def test_wheel_holds_module_command_line_and_stubs(wheel):
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        entry_points = archive.read("lexmill-0.2.0.dist-info/entry_points.txt").decode()
        stubs = archive.read("lexmill-stubs/__init__.pyi")
    assert {"lexmill.abi3.so", "lexmill_cli/__init__.py", "lexmill_cli/__main__.py", "lexmill-stubs/__init__.pyi",
            "lexmill-0.2.0.dist-info/licenses/LICENSE"} <= names
    assert re.search(r"^\[console_scripts\]\nlexmill = lexmill_cli:main$", entry_points, flags=re.MULTILINE)
    assert stubs == (REPO / "src" / "stubs" / "lexmill-stubs" / "__init__.pyi").read_bytes()


def run_from(root, *args):
    env = dict(os.environ, PYTHONPATH=str(root))
    env.pop("MYPYPATH", None)
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, env=env, timeout=300)


def test_unpacked_wheel_imports_and_runs_the_command_line(unpacked):
    ran = run_from(
        unpacked, "-c",
        "import sys, lexmill, lexmill_cli; print(lexmill.__file__); sys.exit(lexmill_cli.main(['stats', sys.argv[1]]))",
        str(EXAMPLE),
    )
    assert ran.returncode == 0, ran.stderr
    assert ran.stdout.splitlines()[0].startswith(str(unpacked))
    assert "Lexmill(vocab_size=601, merges_count=344)" in ran.stdout


def test_mypy_finds_the_stubs_where_the_wheel_puts_them(unpacked, tmp_path):
    pytest.importorskip("mypy", reason="mypy is a test dependency: pip install .[test]")
    checked = run_from(unpacked, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path), str(USES_API))
    assert checked.returncode == 0, checked.stdout + checked.stderr
