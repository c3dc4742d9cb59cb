#!/usr/bin/env bash
# Configures and builds everything into build/ (or $QUILLET_BUILD_DIR); extra arguments go to
# CMake. The compiler's output is kept in <build>/build.log and shown only when the build fails.
set -uo pipefail
cd "$(dirname "$0")/.."
build_dir="${QUILLET_BUILD_DIR:-build}"
mkdir -p "$build_dir"
log="$build_dir/build.log"
echo "building into $build_dir/ ..."
if ! { cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "$@" && cmake --build "$build_dir" -j "$(nproc)"; } >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "build failed (full log: $log)"
  exit 1
fi
