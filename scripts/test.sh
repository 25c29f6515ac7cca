#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer and
# runs every test; then builds the default optimised configuration with GCC
# and runs the tests again (optimisation finds warnings and faults that a
# Debug build hides); then fuzzes briefly. Warnings are errors throughout.
# Installs what a fresh machine lacks first.
# Usage: scripts/test.sh [build-dir]   (default build-asan; the optimised
# build goes to <build-dir>-opt, the fuzz build to <build-dir>-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v clang++ >/dev/null || need+=(clang)
command -v python3 >/dev/null || need+=(python3)
command -v groff >/dev/null || need+=(groff-base)
command -v dpkg-deb >/dev/null || need+=(dpkg)
[ -f /usr/include/sqlite3.h ] || need+=(libsqlite3-dev)
[ -d /usr/include/gtest ] || need+=(libgtest-dev googletest)
[ -d /usr/include/benchmark ] || need+=(libbenchmark-dev)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
  need+=(libclang-rt-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${need[@]}"
fi

cmake -S . -B "$build" -G Ninja -DZEPLO_SANITIZE=ON -DZEPLO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j2
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The kill-anywhere run (label "kill") takes minutes: run it with
# (cd build-asan && ctest -L kill --output-on-failure).
(cd "$build" && ctest --output-on-failure -j2 -LE kill)

# The default configuration (RelWithDebInfo) with GCC, as a user builds it.
opt=${build}-opt
CC=gcc CXX=g++ cmake -S . -B "$opt" -G Ninja -DZEPLO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$opt" -j2
(cd "$opt" && ctest --output-on-failure -j2)

# A few seconds of fuzzing of every fuzz target, built with clang.
fuzz=${build}-fuzz
CC=clang CXX=clang++ cmake -S . -B "$fuzz" -G Ninja -DZEPLO_FUZZ=ON -DZEPLO_TESTS=OFF \
  -DZEPLO_BENCH=OFF -DZEPLO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$fuzz" -j2
# Run inside the fuzz build folder: a crash leaves its reproducer there.
for target in "$fuzz"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  echo "Fuzzing $name for 5 seconds"
  # Starting from the kept seeds (tests/fuzz/corpus/<target>); what the run
  # finds goes to a folder of the build, never into the repository.
  found="$(cd "$fuzz" && pwd)/found-$name"
  mkdir -p "$found"
  corpora=("$found")
  seeds="$PWD/tests/fuzz/corpus/${name#fuzz_}"
  [ -d "$seeds" ] && corpora+=("$seeds")
  (cd "$fuzz" && "bin/$name" -max_total_time=5 -rss_limit_mb=2048 "${corpora[@]}" \
    >/dev/null 2>"$name.log") || { tail -50 "$fuzz/$name.log"; exit 1; }
done
echo "All tests passed."
