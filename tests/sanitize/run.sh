#!/usr/bin/env bash
# Runs pytest against the module built with AddressSanitizer and UndefinedBehaviorSanitizer (SANITIZE_BUILD_DIR,
# default build/sanitize):  [PYTHON=python-with-pytest] tests/sanitize/run.sh [--leaks] [PYTEST ARGS...]
# With --leaks, reports the leaks whose allocation stack passes through lexmill (the interpreter's own are expected;
# all go to the build's leaks.*). Exits non-zero on any sanitizer finding or test failure.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${SANITIZE_BUILD_DIR:-$repo/build/sanitize}
leaks=0
[ "${1:-}" = "--leaks" ] && { leaks=1; shift; }
python=${PYTHON:-python3}
cd "$repo"
cmake -S "$repo" -B "$build" -G Ninja -DLEXMILL_SANITIZE=ON -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null
cmake --build "$build" -j1

asan=detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
[ "$leaks" = 1 ] && { rm -f "$build"/leaks.*; asan=detect_leaks=1:abort_on_error=1:log_path=$build/leaks; }
# The interpreter does not link the C++ runtime: without it preloaded, ASan
# cannot find __cxa_throw. --capture=sys leaves descriptor 2 to the reports.
status=0
LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" ASAN_OPTIONS=$asan \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 LSAN_OPTIONS=exitcode=0 PYTHONMALLOC=malloc PYTHONPATH="$build" \
  "$python" -m pytest -q -p no:cacheprovider --capture=sys "$@" || status=$?
[ "$leaks" = 1 ] || exit $status
ours=$(cat "$build"/leaks.* 2>/dev/null | awk 'BEGIN { RS = ""; ORS = "\n\n" } /(Direct|Indirect) leak/ && /lexmill/' || true)
total=$(cat "$build"/leaks.* 2>/dev/null | grep -cE '^(Direct|Indirect) leak' || true)
[ -z "$ours" ] && { echo "LeakSanitizer: no leak through lexmill ($total leak records of the interpreter itself)"; exit $status; }
echo "$ours"
echo "LeakSanitizer: leaks through lexmill found (of $total leak records in all)" >&2
exit 1
