#!/usr/bin/env bash
# Builds zeplo and shows it at work.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPLO_TESTS=OFF -DZEPLO_BENCH=OFF >/dev/null
cmake --build "$build"
zeplo=$build/bin/zeplo

echo "== zeplo with no arguments prints its usage =="
"$zeplo" || true
echo
echo "== a refused command line ends with return code 2046 (exit status 254) =="
set +e
"$zeplo" -m QM1 -i Q1 -I Q2
echo "exit status: $?"
