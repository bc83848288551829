#!/usr/bin/env bash
# Sets everything up, test dependencies included, and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --test
"${PYTHON:-python3}" -m pytest -q "$@"
