#!/usr/bin/env bash
# Sets everything up, then runs the lexmill command on the small tokenizer that
# ships in examples/: its statistics, an addition and a removal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

python=${PYTHON:-python3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The same as the installed `lexmill` script, whichever folder pip put that in.
lexmill() {
  printf '\n$ lexmill %s\n' "$*"
  "$python" -m lexmill_cli "$@"
}

lexmill stats examples/tiny.tokenizer.json
lexmill add examples/tiny.tokenizer.json Ġretokenize Ġlexmill -o "$out/added.json"
lexmill remove "$out/added.json" Ġtok -o "$out/removed.json"
lexmill stats "$out/removed.json"
