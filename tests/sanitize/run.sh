#!/usr/bin/env bash
# Builds the extension module with AddressSanitizer and UndefinedBehaviorSanitizer
# (CMakeLists.txt with LEXMILL_SANITIZE on) and runs the whole pytest suite
# against it.
#
#   tests/sanitize/run.sh [--leaks] [PYTEST ARGS...]
#
# The build goes to SANITIZE_BUILD_DIR (default build/sanitize). The ASan
# runtime is preloaded into the interpreter, and PYTHONMALLOC=malloc makes
# every Python allocation visible to it. Leak detection is off by default,
# since the interpreter itself leaves memory allocated at exit; with --leaks
# it is on, and the script reports only leaks whose allocation stack passes
# through lexmill (the report of every leak goes to SANITIZE_BUILD_DIR/leaks.*).
# Exits non-zero on any sanitizer finding or test failure.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${SANITIZE_BUILD_DIR:-$repo/build/sanitize}
leaks=0
if [ "${1:-}" = "--leaks" ]; then
  leaks=1
  shift
fi
python=${PYTHON:-python3}
cd "$repo"

"$python" -m pip install --quiet pytest hypothesis "cmake>=3.26" ninja
PATH=$("$python" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH
cmake -S "$repo" -B "$build" -G Ninja -DLEXMILL_SANITIZE=ON -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null
cmake --build "$build" -j1

asan_options=detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
if [ "$leaks" = 1 ]; then
  rm -f "$build"/leaks.*
  asan_options=detect_leaks=1:abort_on_error=1:log_path=$build/leaks
fi
# Sanitizer reports are written to file descriptor 2 just before the process
# ends: --capture=sys leaves that descriptor alone, so they reach the output
# instead of dying with pytest's capture file.
# The interpreter does not link the C++ runtime; unless it is loaded from the
# start, the ASan runtime cannot find the real __cxa_throw and aborts at the
# first exception.
preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
set +e
LD_PRELOAD=$preload \
  ASAN_OPTIONS=$asan_options \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=exitcode=0 \
  PYTHONMALLOC=malloc \
  PYTHONPATH="$build" \
  "$python" -m pytest -q -p no:cacheprovider --capture=sys "$@"
status=$?
set -e

if [ "$leaks" = 1 ]; then
  # A leak report is a block of lines ending in a blank line; keep the blocks
  # whose stack mentions the module.
  ours=$(cat "$build"/leaks.* 2>/dev/null |
    awk 'BEGIN { RS = ""; ORS = "\n\n" } /(Direct|Indirect) leak/ && /lexmill/' || true)
  total=$(cat "$build"/leaks.* 2>/dev/null | grep -cE '^(Direct|Indirect) leak' || true)
  if [ -n "$ours" ]; then
    echo "$ours"
    echo "LeakSanitizer: leaks through lexmill found (of $total leak records in all)" >&2
    [ $status -ne 0 ] || status=1
  else
    echo "LeakSanitizer: no leak through lexmill ($total leak records of the interpreter itself)"
  fi
fi
exit $status
