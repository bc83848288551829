"""Builds the C++ harnesses with the project's CMake build and runs them.

The fuzz harnesses, built as plain programs, replay their saved reproducers
and a fixed set of pseudo-random inputs: the editor harness compares every
editing operation with the literal reference editor, the merge harness checks
the postconditions of merging, the parse harness the two readers and writers.

The writer harness checks the writers without the parser; it is also handed
a table of doubles whose expected text comes from Python's repr, an
implementation of shortest round-trip digits independent of std::to_chars.
The differential harness reads texts with both readers of the parser and
checks that whenever the simdjson path accepts a text, the exact scanner
produces the same document.
"""

import math
import random
import re
import shutil
import struct
import subprocess

import pytest

from conftest import DATA, REPO
from reference_writer import float_text


def float_table_values():
    rng = random.Random(1234)
    values = [math.nan, math.inf, -math.inf, 0.0, -0.0]
    # Arbitrary bit patterns: every exponent, mostly 17-digit values.
    for _ in range(3000):
        (x,) = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))
        values.append(x)
    # Short decimals around the switch between plain and scientific notation.
    for _ in range(3000):
        digits = str(rng.randint(1, 10 ** rng.randint(1, 17)))
        values.append(float(f"{digits}e{rng.randint(-25, 25)}") * rng.choice((1, -1)))
    # Powers of ten at the exponent boundaries and their neighbours.
    for e in range(-8, 19):
        x = 10.0**e
        for _ in range(3):
            values += [x, -x]
            x = math.nextafter(x, math.inf)
        x = 10.0**e
        for _ in range(3):
            x = math.nextafter(x, 0.0)
            values.append(x)
    return values


def write_float_table(path):
    lines = []
    for x in float_table_values():
        (bits,) = struct.unpack("<Q", struct.pack("<d", x))
        lines.append(f"{bits:016x} {float_text(x)}\n")
    path.write_text("".join(lines))


@pytest.fixture(scope="module")
def programs(tmp_path_factory):
    """Every C++ test program, built against the core by the project's CMake build."""
    cmake = shutil.which("cmake")
    if cmake is None:
        pytest.skip("cmake is not installed")
    build = tmp_path_factory.mktemp("programs")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    configure = subprocess.run(
        [cmake, "-S", str(REPO), "-B", str(build), *generator, "-DLEXMILL_PYTHON=OFF", "-DLEXMILL_TEST_PROGRAMS=ON"],
        capture_output=True, text=True,
    )
    assert configure.returncode == 0, configure.stdout + configure.stderr
    compile_ = subprocess.run([cmake, "--build", str(build), "-j2"], capture_output=True, text=True)
    assert compile_.returncode == 0, compile_.stdout + compile_.stderr
    return build


@pytest.mark.parametrize("harness, inputs", [("editor", 20000), ("merge", 5000), ("parse", 5000)])
def test_fuzz_harness_replay(programs, harness, inputs):
    regressions = sorted(str(p) for p in (REPO / "tests" / "fuzz" / "regressions" / harness).glob("*"))
    run = subprocess.run(
        [str(programs / f"replay_{harness}"), *regressions, "--random", str(inputs), "1"],
        capture_output=True, text=True,
    )
    assert run.returncode == 0 and run.stdout.strip() == "ok", run.stdout + run.stderr


def test_every_allocation_failure_leaves_a_usable_editor(programs):
    run = subprocess.run([str(programs / "allocation_failures")], capture_output=True, text=True)
    assert run.returncode == 0 and run.stdout.strip() == "ok", run.stdout + run.stderr


def test_parse_differential(programs):
    binary = programs / "parse_differential"
    corpus = sorted((DATA / "jsontestsuite" / "test_parsing").glob("*.json"))
    real = [DATA / name for name in ("gemma3.tokenizer.json", "qwen3.tokenizer.json", "llama2.tokenizer.json")]
    examples = [REPO / "examples" / "tiny.tokenizer.json"]
    runs = [["--embed", *map(str, corpus)], [str(p) for p in real + examples if p.exists()]]
    for args in runs:
        if not args or args == ["--embed"]:
            continue
        run = subprocess.run([str(binary), *args], capture_output=True, text=True)
        assert run.returncode == 0, "\n".join(l for l in run.stdout.splitlines() if "DISAGREE" in l)


def test_writer_harness(programs, tmp_path):
    binary = programs / "test_write"

    table = tmp_path / "floats.txt"
    write_float_table(table)
    run = subprocess.run([str(binary), str(table)], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert re.search(r"^\d+ passed, 0 failed$", run.stdout, re.MULTILINE), run.stdout
