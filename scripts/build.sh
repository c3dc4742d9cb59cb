#!/usr/bin/env bash
# Configures and builds everything into build/ (or $QUILLET_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${QUILLET_BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
