#!/usr/bin/env bash
# Installs what is missing, builds, then runs the demo; it writes out/demo.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build_dir="${QUILLET_BUILD_DIR:-build}"
PYTHONPATH="$PWD/$build_dir/python" /usr/bin/python3 scripts/demo.py
