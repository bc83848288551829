"""The wheel `pip wheel .` builds: one abi3 build, clean under abi3audit, with the command line and the stubs.
The rest of the suite runs against the module and command line `pip install .` installed from such a wheel."""

import fcntl
import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile

import pytest

from conftest import REPO


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("wheel")
    command = [sys.executable, "-m", "pip", "wheel", str(REPO), "--no-deps", "--quiet", "--wheel-dir", str(out)]
    build_dir = REPO / "build" / "wheel-check"
    if importlib.util.find_spec("scikit_build_core") and shutil.which("cmake") and shutil.which("ninja"):
        # Without build isolation CMake's cache stays valid from run to run.
        command += ["--no-build-isolation", f"--config-settings=build-dir={build_dir}"]
    build_dir.parent.mkdir(parents=True, exist_ok=True)
    with open(build_dir.with_name(build_dir.name + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        built = subprocess.run(command, capture_output=True, text=True, timeout=1800,
                               env=dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL="2"))
    assert built.returncode == 0, built.stdout + built.stderr
    (path,) = out.glob("*.whl")
    return path


def test_wheel_is_one_abi3_build_using_only_the_limited_api(wheel):
    assert re.fullmatch(r"lexmill-[\w.]+-cp38-abi3-linux_\w+\.whl", wheel.name)
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        info = next(name.split("/")[0] for name in names if name.endswith(".dist-info/WHEEL"))
        entry_points = archive.read(f"{info}/entry_points.txt").decode()
    assert {"lexmill.abi3.so", "lexmill_cli/__main__.py", "lexmill-stubs/__init__.pyi"} <= names
    assert re.search(r"^\[console_scripts\]\nlexmill = lexmill_cli:main$", entry_points, flags=re.MULTILINE)
    pytest.importorskip("abi3audit", reason="abi3audit is a test dependency: pip install .[test]")
    audit = subprocess.run([sys.executable, "-m", "abi3audit", "--strict", "--report", str(wheel)],
                           capture_output=True, text=True, timeout=300)
    assert audit.returncode == 0, audit.stdout + audit.stderr
    (extension,) = json.loads(audit.stdout)["specs"][str(wheel)]["wheel"]
    assert extension["result"]["is_abi3"] and extension["result"]["baseline"] == "3.8"

