#!/usr/bin/env bash
# Installs what is missing, builds, then runs the C++ tests and the Python tests.
# Fails when any test fails or when a runner ran no test.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1
scripts/build.sh || exit 1
build_dir="${QUILLET_BUILD_DIR:-build}"
status=0

ctest_log=$(mktemp)
(cd "$build_dir" && ctest --output-on-failure -j "$(nproc)") >"$ctest_log" 2>&1 || status=1
grep -E "tests (passed|failed)|^The following tests FAILED|Failed|\*\*\*" "$ctest_log" | head -40
summary=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$ctest_log")
if [ -z "$summary" ] || echo "$summary" | grep -q "out of 0$"; then
  echo "ctest: no C++ test ran"; cat "$ctest_log"; status=1
fi
rm -f "$ctest_log"

PYTHONPATH="$PWD/$build_dir/python" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python 2>&1 | tail -n 25
py_status=${PIPESTATUS[0]}
# pytest exits 5 when it collected no test.
[ "$py_status" -ne 0 ] && status=1
exit $status
