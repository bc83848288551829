"""The type stubs: mypy reads them, they describe the module as it is at run
time, and they catch the misuses that fail at run time."""

import ast
import os
import re
import subprocess
import sys
import types
from pathlib import Path

import pytest

from conftest import REPO

STUBS = REPO / "src" / "stubs"
STUB_FILE = STUBS / "lexmill-stubs" / "__init__.pyi"
EXAMPLES = Path(__file__).resolve().parent / "typing_examples"
USES = EXAMPLES / "uses_api.py"
COMMAND_LINE = REPO / "src" / "cli" / "lexmill_cli"
MISUSES = EXAMPLES / "misuses_api.py"

pytest.importorskip("mypy", reason="mypy is a test dependency: pip install .[test]")


def run_mypy_tool(module, args, search_path, work_dir):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(str(p) for p in search_path))
    env.pop("MYPYPATH", None)
    return subprocess.run(
        [sys.executable, "-m", module, *args], capture_output=True, text=True, env=env, cwd=work_dir, timeout=300
    )


def mypy_errors(output):
    """(file name, line, error code) of every error mypy printed."""
    found = re.findall(r"^(.+?):(\d+): error: .*\[([a-z-]+)\]$", output, flags=re.MULTILINE)
    return {(Path(path).name, int(line), code) for path, line, code in found}


def expected_errors(path):
    return {
        (path.name, number, marker.group(1))
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), start=1)
        for marker in [re.search(r"# expect: ([a-z-]+)$", line)]
        if marker
    }


def test_mypy_accepts_correct_use_and_reports_each_misuse(tmp_path):
    files = [USES, COMMAND_LINE, MISUSES]
    result = run_mypy_tool("mypy", ["--strict", "--cache-dir", str(tmp_path), *map(str, files)], [STUBS], tmp_path)
    assert "Cannot find implementation or library stub" not in result.stdout
    errors = mypy_errors(result.stdout)
    assert not {error for error in errors if error[0] != MISUSES.name}, result.stdout
    assert errors == expected_errors(MISUSES), result.stdout
    assert result.returncode == 1


def test_stubs_match_the_module_at_run_time(lexmill, tmp_path):
    # stubtest imports the module the tests run against and compares every
    # name, signature, property and default with the stubs.
    module_dir = Path(lexmill.__file__).resolve().parent
    result = run_mypy_tool("mypy.stubtest", ["lexmill"], [STUBS, module_dir], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def stub_tree():
    return ast.parse(STUB_FILE.read_text(encoding="utf-8"))


def stub_classes():
    return [node for node in stub_tree().body if isinstance(node, ast.ClassDef)]


def stub_docstrings():
    """(class or None, member or None, docstring) for everything the stubs document."""
    yield None, None, ast.get_docstring(stub_tree())
    for cls in stub_classes():
        yield cls.name, None, ast.get_docstring(cls)
        for function in (node for node in cls.body if isinstance(node, ast.FunctionDef)):
            if ast.get_docstring(function) is not None:
                yield cls.name, function.name, ast.get_docstring(function)


def runtime_docstrings(module):
    yield None, None, module.__doc__
    for class_name in module.__all__[:-1]:
        cls = getattr(module, class_name)
        yield class_name, None, cls.__doc__
        for member in vars(cls):
            doc = getattr(cls, member).__doc__
            if not member.startswith("_") and doc:
                yield class_name, member, doc


def by_place(docstrings):
    return {(cls, member): doc for cls, member, doc in docstrings}


def test_stub_docstrings_are_the_module_docstrings(lexmill):
    assert by_place(stub_docstrings()) == by_place(runtime_docstrings(lexmill))


def stub_all():
    (assignment,) = [
        node for node in stub_tree().body
        if isinstance(node, ast.Assign) and [target.id for target in node.targets] == ["__all__"]
    ]
    return ast.literal_eval(assignment.value)


def is_property(function):
    return any(isinstance(decorator, ast.Name) and decorator.id == "property" for decorator in function.decorator_list)


def stub_members(cls):
    """(methods, properties) a stub class declares, each in declaration order."""
    functions = [node for node in cls.body if isinstance(node, ast.FunctionDef) and not node.name.startswith("_")]
    return [f.name for f in functions if not is_property(f)], [f.name for f in functions if is_property(f)]


def runtime_members(cls):
    members = [(name, value) for name, value in vars(cls).items() if not name.startswith("_")]
    properties = [name for name, value in members if isinstance(value, types.GetSetDescriptorType)]
    return [name for name, _ in members if name not in properties], properties


def test_stubs_list_the_module_contents_in_its_order(lexmill):
    # stubtest compares names, signatures and defaults, but no order: the
    # order of __all__, of the methods and of each result class's fields is
    # part of what the module shows.
    assert stub_all() == lexmill.__all__
    assert [cls.name for cls in stub_classes()] == lexmill.__all__[:-1]
    for cls in stub_classes():
        assert stub_members(cls) == runtime_members(getattr(lexmill, cls.name)), cls.name
