#!/usr/bin/env bash
# Builds the fuzz harnesses of the C++ core with libFuzzer and runs each for a
# bounded time, one after the other.
#
#   tests/fuzz/run.sh [SECONDS] [HARNESS...]
#
# SECONDS defaults to 60 per harness; HARNESS is any of parse, editor, merge
# (default: all three). Installs clang with its fuzzer runtime when missing
# (FUZZ_CXX names another clang instead). The harnesses are built by
# CMakeLists.txt with LEXMILL_FUZZ on; the build and everything else is kept
# under FUZZ_BUILD_DIR (default build/fuzz): the growing corpus of each harness
# in corpus/NAME, crash reproducers in crashes/, the full output of each run in
# NAME.log. Exits non-zero when a harness finds a fault; re-run a reproducer
# with build/fuzz/fuzz_NAME FILE (FUZZ_TRACE=1 makes the editor harness print
# the document and each step).
# FUZZ_SEED fixes libFuzzer's random seed, so that a run can be repeated.
# Reproducers of faults already found live in tests/fuzz/regressions/NAME and
# are run on every start. FUZZ_SOURCE_DIR points the build at another copy of
# the core's sources (a tree with fixes under review, say).
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(parse editor merge)
build=${FUZZ_BUILD_DIR:-$repo/build/fuzz}
src=${FUZZ_SOURCE_DIR:-$repo/src}
fuzz_dir=$repo/tests/fuzz
data=$repo/../shared/data

# --- Toolchain -------------------------------------------------------------
# Debian's clang 14 trips over GCC 12's standard library (its <=> on
# strings); 16 does not. CMake 3.26 or later (Debian 12 has 3.25) and Ninja
# come from PyPI.
cxx=${FUZZ_CXX:-clang++-16}
packages=(clang-16 libclang-rt-16-dev libsimdjson-dev libutf8proc-dev pkg-config)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] && [ -z "${FUZZ_CXX:-}" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
python=${PYTHON:-python3}
"$python" -m pip install --quiet "cmake>=3.26" ninja
PATH=$("$python" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH

# --- Harnesses, built by the project's CMake build (only what changed) -------
mkdir -p "$build/crashes"
if ! { cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DLEXMILL_FUZZ=ON -DLEXMILL_PYTHON=OFF \
         -DLEXMILL_CORE_DIR="$src" && cmake --build "$build" -j2; } >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  exit 1
fi

# --- Seeds ------------------------------------------------------------------
minimal_head='{"version": "1.0", "added_tokens": [], "normalizer": '
minimal_tail=', "model": {"type": "BPE", "vocab": {}, "merges": []}}'
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds/parse" "$seeds/editor" "$seeds/merge"
cp "$repo/examples/tiny.tokenizer.json" "$seeds/parse/tiny.json"
cat >"$seeds/parse/sections.json" <<'EOF'
{"version": "1.0", "truncation": {"max_length": 512, "strategy": "LongestFirst"}, "padding": null,
 "added_tokens": [{"id": 0, "content": "<unk>", "special": true}, {"id": 7, "content": "[X]"}],
 "normalizer": {"type": "Sequence", "normalizers": [{"type": "NFC"}, {"type": "Replace", "pattern": {"String": " "}, "content": "\u2581"}]},
 "pre_tokenizer": {"type": "ByteLevel", "add_prefix_space": false, "trim_offsets": true},
 "post_processor": null, "decoder": {"type": "ByteLevel"}, "unknown": [1, -2, 3.5e-7],
 "model": {"type": "BPE", "dropout": 0.1, "unk_token": "<unk>", "continuing_subword_prefix": null,
           "end_of_word_suffix": "</w>", "fuse_unk": true, "byte_fallback": false,
           "vocab": {"<unk>": 0, "a": 1, "b": 2, "ab": 3, "\u0000\t\"": 4294967295},
           "merges": [["a", "b"], ["ab", "\u0000\t\""]]}}
EOF
cat >"$seeds/parse/arrays.json" <<'EOF'
["1.0", null, null, [], null, null, null, null, ["BPE", null, null, null, null, false, false, false, {"a": 0, "b": 1}, [["a", "b"]]]]
EOF
if [ -d "$data/jsontestsuite/test_parsing" ]; then
  for f in "$data"/jsontestsuite/test_parsing/*.json; do
    base=$(basename "$f" .json)
    cp "$f" "$seeds/parse/raw_$base.json"
    { printf '%s' "$minimal_head"; cat "$f"; printf '%s' "$minimal_tail"; } >"$seeds/parse/embedded_$base.json"
  done
fi
# Byte streams for the generated documents: a few fixed patterns are enough
# to start from, the fuzzer finds the rest.
for i in 0 1 2 3 4 5 6 7; do
  for name in editor merge; do
    LC_ALL=C awk -v seed="$i" 'BEGIN { srand(seed + 1); for (n = 0; n < 200; n++) printf "%c", int(rand() * 256) }' \
      >"$seeds/$name/pattern_$i"
  done
done

# --- Runs -------------------------------------------------------------------
status=0
for name in "${harnesses[@]}"; do
  binary=$build/fuzz_$name
  [ -x "$binary" ] || { echo "unknown harness: $name" >&2; exit 2; }
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1
           -artifact_prefix="$build/crashes/$name-")
  [ -n "${FUZZ_SEED:-}" ] && options+=(-seed="$FUZZ_SEED")
  [ "$name" = parse ] && options+=(-dict="$fuzz_dir/json.dict" -max_len=65536)
  [ "$name" != parse ] && options+=(-max_len=1024)
  log=$build/$name.log
  # Reproducers of faults found before run first, with the seeds.
  inputs=("$corpus" "$seeds/$name")
  [ -d "$fuzz_dir/regressions/$name" ] && inputs+=("$fuzz_dir/regressions/$name")
  if "$binary" "${options[@]}" "${inputs[@]}" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -E '^#[0-9]+' "$log" | grep -oE 'cov: [0-9]+ ft: [0-9]+' | tail -1 || true)
  echo "fuzz_$name: $result, ${runs:-?} executions in ${seconds}s, ${coverage:-no coverage line}, corpus $(ls "$corpus" | wc -l) inputs"
  if [ "$result" = FAILED ]; then
    grep -E 'check failed|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|Test unit written' "$log" \
      | head -20 >&2 || true
    echo "  full output: $log" >&2
  fi
done
exit $status
