#!/usr/bin/env bash
# Builds the asynchronous-consume tests, the program and localqm with
# ThreadSanitizer and runs them: localqm's delivery thread and the
# program's callbacks and waiting main thread must be free of data races.
# Kept out of scripts/test.sh because it is a third build of the program
# (about 2-3 minutes to build and 2 minutes to run on two cores).
# Usage: scripts/tsan.sh [build-dir]   (default build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tsan}

cmake -S . -B "$build" -G Ninja -DZEPLO_SANITIZE_THREAD=ON -DZEPLO_WERROR=ON -DZEPLO_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j2 --target localqm_mqi_consume_test e2e_consume_queues_test zeplo \
  localqm_tool mqm_r mqic_r mqm_r_nocb mqic_r_nocb
# A race report makes the process exit with 66: the test, or the program
# run by an end-to-end test, then fails.
export TSAN_OPTIONS=halt_on_error=0:exitcode=66
"$build/bin/localqm_mqi_consume_test"
"$build/bin/e2e_consume_queues_test"
echo "ThreadSanitizer runs passed."
