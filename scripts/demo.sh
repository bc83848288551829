#!/usr/bin/env bash
# Sets everything up and opens the small tokenizer that ships in examples/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
"${PYTHON:-python3}" examples/inspect_tokenizer.py examples/tiny.tokenizer.json
