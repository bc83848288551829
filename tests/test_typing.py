"""The type stubs: mypy --strict accepts the command line's use and reports each misuse; stubtest finds them true."""

import ast
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import REPO

STUBS = REPO / "src" / "stubs"
MISUSES = Path(__file__).resolve().parent / "typing_examples" / "misuses_api.py"

pytest.importorskip("mypy", reason="mypy is a test dependency: pip install .[test]")


def run_mypy(module, args, search_path, work_dir):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(map(str, search_path)))
    env.pop("MYPYPATH", None)
    return subprocess.run([sys.executable, "-m", module, *args], capture_output=True, text=True, env=env,
                          cwd=work_dir, timeout=300)


def test_mypy_accepts_correct_use_and_reports_each_misuse(tmp_path):
    files = [REPO / "src" / "cli" / "lexmill_cli", MISUSES]
    result = run_mypy("mypy", ["--strict", "--cache-dir", str(tmp_path), *map(str, files)], [STUBS], tmp_path)
    assert "Cannot find implementation or library stub" not in result.stdout
    found = re.findall(r"^(.+?):(\d+): error: .*\[([a-z-]+)\]$", result.stdout, flags=re.MULTILINE)
    expected = {(MISUSES.name, number, marker.group(1))
                for number, line in enumerate(MISUSES.read_text(encoding="utf-8").splitlines(), start=1)
                if (marker := re.search(r"# expect: ([a-z-]+)$", line))}
    assert {(Path(path).name, int(line), code) for path, line, code in found} == expected, result.stdout


def test_stubs_match_the_module_at_run_time(lexmill, tmp_path):
    # stubtest compares every name, signature, property and default with the module.
    module_dir = Path(lexmill.__file__).resolve().parent
    result = run_mypy("mypy.stubtest", ["lexmill"], [STUBS, module_dir], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_stub_docstrings_are_the_module_docstrings(lexmill):
    # The binding holds the docstrings; the stubs carry copies for editors and type checkers.
    tree = ast.parse((STUBS / "lexmill-stubs" / "__init__.pyi").read_text(encoding="utf-8"))
    stubs = {(None, None): ast.get_docstring(tree)}
    for cls in (node for node in tree.body if isinstance(node, ast.ClassDef)):
        stubs[cls.name, None] = ast.get_docstring(cls)
        stubs.update(((cls.name, f.name), ast.get_docstring(f)) for f in cls.body
                     if isinstance(f, ast.FunctionDef) and ast.get_docstring(f) is not None)
    module = {(None, None): lexmill.__doc__}
    for name in (n for n in lexmill.__all__ if n != "__version__"):
        cls = getattr(lexmill, name)
        module[name, None] = cls.__doc__
        module.update(((name, member), getattr(cls, member).__doc__) for member in vars(cls)
                      if not member.startswith("_") and getattr(cls, member).__doc__)
    assert stubs == module
