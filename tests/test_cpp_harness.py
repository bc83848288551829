"""Builds the C++ writer harness from the document sources and runs it.

The harness checks the writers without the parser; this test also hands it a
table of doubles whose expected text comes from Python's repr, an
implementation of shortest round-trip digits independent of std::to_chars.
"""

import math
import random
import re
import shutil
import struct
import subprocess
from pathlib import Path

import pytest

from reference_writer import float_text

REPO = Path(__file__).resolve().parent.parent

pytestmark = pytest.mark.skipif(shutil.which("g++") is None, reason="g++ is not installed")


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


def test_writer_harness(tmp_path):
    sources = sorted(str(p) for p in (REPO / "src" / "document").glob("*.cpp"))
    binary = tmp_path / "test_write"
    build = subprocess.run(
        ["g++", "-std=c++20", "-O1", "-I", str(REPO / "src"),
         str(REPO / "tests" / "cpp" / "test_write.cpp"), *sources,
         "-lsimdjson", "-lutf8proc", "-o", str(binary)],
        capture_output=True, text=True,
    )
    assert build.returncode == 0, build.stderr

    table = tmp_path / "floats.txt"
    write_float_table(table)
    run = subprocess.run([str(binary), str(table)], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert re.search(r"^\d+ passed, 0 failed$", run.stdout, re.MULTILINE), run.stdout
