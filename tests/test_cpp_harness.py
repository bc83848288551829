"""The C++ test programs from the CMake build: the fuzz harnesses as replay programs, the allocation failures."""

import shutil
import subprocess

import pytest

from conftest import DATA, REPO

EMBED = (b'{"version": "1.0", "added_tokens": [], "normalizer": ', b', "model": {"type": "BPE", "vocab": {}, "merges": []}}')


@pytest.fixture(scope="module")
def programs(tmp_path_factory):
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not installed")
    build = tmp_path_factory.mktemp("programs")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    for step in (["-S", str(REPO), "-B", str(build), *generator, "-DLEXMILL_PYTHON=OFF", "-DLEXMILL_TEST_PROGRAMS=ON"],
                 ["--build", str(build), "-j2"]):
        done = subprocess.run(["cmake", *step], capture_output=True, text=True)
        assert done.returncode == 0, done.stdout + done.stderr
    return build


def run_ok(*command):
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True)
    assert done.returncode == 0 and done.stdout.strip() == "ok", done.stdout[-3000:] + done.stderr[-3000:]


@pytest.mark.parametrize("harness, inputs", [("editor", 20000), ("merge", 5000), ("parse", 5000)])
def test_fuzz_harness_replay(programs, harness, inputs):
    run_ok(programs / f"replay_{harness}", *sorted((REPO / "tests/fuzz/regressions" / harness).glob("*")), "--random", inputs, 1)


def test_parse_harness_on_json_suites_and_real_files(programs, tmp_path):
    # Raw and as a normalizer, the simdjson path and the exact scanner read each text alike.
    files = [REPO / "examples/tiny.tokenizer.json", *(DATA / f"{name}.tokenizer.json" for name in ("gemma3", "qwen3", "llama2"))]
    for suite in sorted((DATA / "jsontestsuite/test_parsing").glob("*.json")):
        (tmp_path / suite.name).write_bytes(EMBED[0] + suite.read_bytes() + EMBED[1])
        files += [suite, tmp_path / suite.name]
    run_ok(programs / "replay_parse", *(f for f in files if f.exists()))


def test_every_allocation_failure_leaves_a_usable_editor(programs):
    run_ok(programs / "allocation_failures")
