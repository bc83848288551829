#!/usr/bin/env bash
# Installs what lexmill needs on a Debian or Ubuntu machine and then lexmill
# itself from this checkout. Usage: scripts/setup.sh [--test]
# With --test the test dependencies are installed too.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ pkg-config libsimdjson-dev libutf8proc-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

python=${PYTHON:-python3}
extra=""
[ "${1:-}" = "--test" ] && extra="[test]"
"$python" -m pip install --quiet ".$extra"
