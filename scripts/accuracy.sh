#!/usr/bin/env bash
# Accuracy benchmark on scikit-image's bundled photographs (a benchmark-only dependency).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if ! dpkg-query -W -f='${Status}' python3-skimage 2>/dev/null | grep -q "install ok installed"; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends python3-skimage
fi
scripts/build.sh
PYTHONPATH="$PWD/${QUILLET_BUILD_DIR:-build}/python" exec /usr/bin/python3 scripts/accuracy.py
