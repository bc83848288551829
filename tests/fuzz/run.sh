#!/usr/bin/env bash
# Builds the libFuzzer harnesses of the core with clang-16 (or FUZZ_CXX) and runs each for SECONDS (60):
#   tests/fuzz/run.sh [SECONDS] [parse|editor|merge ...]
# All in FUZZ_BUILD_DIR (build/fuzz): corpus/NAME, crashes/, NAME.log; rerun a reproducer with build/fuzz/fuzz_NAME FILE.
# FUZZ_SEED fixes libFuzzer's seed; FUZZ_SOURCE_DIR builds another copy of the core. regressions/NAME run first.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
harnesses=("$@")
[ $# -gt 0 ] || harnesses=(parse editor merge)
build=${FUZZ_BUILD_DIR:-$repo/build/fuzz}
fuzz_dir=$repo/tests/fuzz
mkdir -p "$build/crashes"
# Debian's clang 14 trips over GCC 12's <=> on strings; 16 does not.
{ cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++-16}" -DLEXMILL_FUZZ=ON -DLEXMILL_PYTHON=OFF \
    -DLEXMILL_CORE_DIR="${FUZZ_SOURCE_DIR:-$repo/src}" && cmake --build "$build" -j2; } >"$build/build.log" 2>&1 ||
  { cat "$build/build.log" >&2; exit 1; }

# Parser seeds: the example, and the JSON test suite alone and as a normalizer.
seeds=$build/seeds
rm -rf "$seeds" && mkdir -p "$seeds"
cp "$repo/examples/tiny.tokenizer.json" "$seeds/tiny.json"
for f in "$repo"/../shared/data/jsontestsuite/test_parsing/*.json; do
  [ -e "$f" ] || continue
  cp "$f" "$seeds/raw_${f##*/}"
  { printf '{"version": "1.0", "added_tokens": [], "normalizer": '; cat "$f"
    printf ', "model": {"type": "BPE", "vocab": {}, "merges": []}}'; } >"$seeds/embedded_${f##*/}"
done

status=0
for name in "${harnesses[@]}"; do
  [ -x "$build/fuzz_$name" ] || { echo "unknown harness: $name" >&2; exit 2; }
  corpus=$build/corpus/$name log=$build/$name.log
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/crashes/$name-")
  [ -n "${FUZZ_SEED:-}" ] && options+=(-seed="$FUZZ_SEED")
  inputs=("$corpus")
  if [ "$name" = parse ]; then options+=(-dict="$fuzz_dir/json.dict" -max_len=65536) inputs+=("$seeds"); else options+=(-max_len=1024); fi
  [ -d "$fuzz_dir/regressions/$name" ] && inputs+=("$fuzz_dir/regressions/$name")
  result=ok
  "$build/fuzz_$name" "${options[@]}" "${inputs[@]}" >"$log" 2>&1 || { result=FAILED; status=1; }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -E '^#[0-9]+' "$log" | grep -oE 'cov: [0-9]+ ft: [0-9]+' | tail -1 || true)
  echo "fuzz_$name: $result, ${runs:-?} executions in ${seconds}s, ${coverage:-no coverage line}, corpus $(ls "$corpus" | wc -l) inputs"
  if [ "$result" = FAILED ]; then
    grep -E 'check failed|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|Test unit written' "$log" | head -20 >&2 || true
    echo "  full output: $log" >&2
  fi
done
exit $status
