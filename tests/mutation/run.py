"""How many faults do the fast tests catch? A mutation run of the C++ core (tests/README.md).

    python3 tests/mutation/run.py [--count 160] [--seed 1] [--build DIR] [--only TEXT]
                                  [--resume LOG [--retry-survivors]]

A fixed, seeded sample of universalmutator's one-line faults of src/document and src/editor, put in place
one at a time (restored after each, also on Ctrl-C); a fault whose build and fast tests pass survives.
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SOURCES = sorted(p for d in ("src/document", "src/editor") for p in (REPO / d).rglob("*") if p.suffix in (".cpp", ".h"))
# The quickest first: the run stops at the first failing test.
PYTEST_FILES = ["test_parse.py", "test_queries.py", "test_call_layer.py", "test_module.py", "test_editing.py",
                "test_merge.py", "test_files.py", "test_write.py", "test_hostile.py"]
PROGRAMS = [["replay_editor", "--random", "3000", "1"], ["replay_merge", "--random", "2000", "1"],
            ["replay_parse", "--random", "2000", "1"], ["allocation_failures"]]


def changed_line(original, mutant):
    """(line number, old text, new text) of a mutant that replaces one line, or None."""
    changed = [i for i, (old, new) in enumerate(zip(original, mutant)) if old != new]
    if len(original) != len(mutant) or len(changed) != 1:
        return None
    return changed[0] + 1, original[changed[0]].strip(), mutant[changed[0]].strip()


def worth_trying(old, new):
    # Comments, includes and blank lines only change what no test can see.
    return old and not old.startswith(("//", "/*", "*", "#")) and old.replace(" ", "") != new.replace(" ", "")


def candidates(seed):
    pool = []
    with tempfile.TemporaryDirectory() as tmp:
        for source in SOURCES:
            out = Path(tmp) / source.relative_to(REPO).as_posix().replace("/", "_")
            out.mkdir()
            subprocess.run(["mutate", str(source), "cpp", "--noCheck", "--mutantDir", str(out)],
                           capture_output=True, cwd=tmp, check=True)
            original = source.read_text().splitlines()
            for mutant in sorted(out.iterdir(), key=lambda p: int(p.name.split(".")[-2])):
                text = mutant.read_text()
                change = changed_line(original, text.splitlines())
                if change and worth_trying(change[1], change[2]):
                    pool.append((source, text, change))
    random.Random(seed).shuffle(pool)
    return pool


def run(command, timeout, **kwargs):
    try:
        return subprocess.run(command, capture_output=True, timeout=timeout, **kwargs).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def tests_pass(directory):
    env = dict(os.environ, PYTHONPATH=f"{directory}{os.pathsep}{REPO / 'src' / 'cli'}")
    pytest = [sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", *PYTEST_FILES]
    return all(run([str(directory / p[0]), *p[1:]], 300) for p in PROGRAMS) and run(pytest, 900, cwd=REPO / "tests", env=env)


def caught_by_tests(source, text, build, directory):
    """Whether the fast tests catch the mutant `text` of `source`; None when it does not build."""
    original = source.read_text()
    try:
        source.write_text(text)
        return not tests_pass(directory) if run(build, 900) else None
    finally:
        source.write_text(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=160, help="mutants that build, to run the tests on")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--build", type=Path, default=REPO / "build" / "mutation")
    parser.add_argument("--only", metavar="TEXT", help="only the mutants of source files whose path contains TEXT")
    parser.add_argument("--resume", metavar="LOG", type=Path,
                        help="the output of an interrupted run with the same options: its verdicts are taken as they stand")
    parser.add_argument("--retry-survivors", action="store_true", help="with --resume: test LOG's survivors again")
    args = parser.parse_args()
    logged = []  # (place, caught) of each mutant tried, in LOG's order
    if args.resume:
        for verdict, place in re.findall(r"^\[\d+/\d+\] (caught  |SURVIVED) (.+)$", args.resume.read_text(), re.MULTILINE):
            logged.append((place, verdict == "caught  "))
    if shutil.which("mutate") is None:  # its own interpreter; the tests run on this one, sys.executable
        sys.exit("needs universalmutator's mutate on PATH: install it here, or add its bin folder at the end of PATH")
    pool = [mutant for mutant in candidates(args.seed) if (args.only or "") in str(mutant[0].relative_to(REPO))]
    where = lambda source, line, old, new: f"{source.relative_to(REPO)}:{line}: {old}  ->  {new}"
    build = ["cmake", "--build", str(args.build)]
    subprocess.run(["cmake", "-S", str(REPO), "-B", str(args.build), "-G", "Ninja", "-DLEXMILL_TEST_PROGRAMS=ON",
                    f"-DPython_EXECUTABLE={sys.executable}"], check=True, capture_output=True)
    if not (run(build, 900) and tests_pass(args.build)):
        sys.exit("the unmutated sources do not build or do not pass the fast tests")
    caught, survivors, tried = 0, [], 0
    for source, text, change in pool:
        if tried == args.count:
            break
        place = where(source, *change)
        if tried < len(logged):  # replaying LOG: the mutants it passes over did not build there
            if place != logged[tried][0]:
                continue
            killed = logged[tried][1] or args.retry_survivors and bool(caught_by_tests(source, text, build, args.build))
        else:
            killed = caught_by_tests(source, text, build, args.build)
        if killed is None:  # does not build: the next one takes its place
            continue
        tried += 1
        caught, survivors = caught + killed, survivors + ([] if killed else [place])
        print(f"[{tried}/{args.count}] {'caught  ' if killed else 'SURVIVED'} {place}", flush=True)
    run(build, 900)
    print(f"\ncaught {caught} of {tried} mutants ({100 * caught / max(tried, 1):.1f}%), seed {args.seed}")
    print("survivors:" if survivors else "no survivors", *("  " + line for line in survivors), sep="\n")


if __name__ == "__main__":
    main()
