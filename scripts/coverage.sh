#!/usr/bin/env bash
# Line and branch coverage of the hand-written product code over the whole
# test suite (all but the long kill-anywhere run), with clang's source-based
# coverage. Every instrumented module of every process (the tests, zeplo,
# the localqm admin command and the two MQ libraries it loads) writes its
# own raw profile; they are merged and reported per top folder.
# Usage: scripts/coverage.sh [build-dir]   (default build-cov)
#   COVERAGE_NO_TESTS=1 neither builds nor tests: it reports on the profiles
#   already in the build folder (which must match its binaries).
# Counted: zeplo/, localqm/, mqi/ without the generated mqi/mq_constants.h
# and zeplo/mq/reason_tables.cpp; never tests/ or bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${1:-build-cov}
profdata=$(command -v llvm-profdata || command -v llvm-profdata-14)
llvmcov=$(command -v llvm-cov || command -v llvm-cov-14)

if [ -z "${COVERAGE_NO_TESTS:-}" ]; then
flags="-fprofile-instr-generate -fcoverage-mapping"
CC=clang CXX=clang++ nice -n 10 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZEPLO_BENCH=OFF -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate \
  -DCMAKE_SHARED_LINKER_FLAGS=-fprofile-instr-generate \
  -DCMAKE_MODULE_LINKER_FLAGS=-fprofile-instr-generate \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
nice -n 10 cmake --build "$build" -j2
fi

profiles=$(cd "$build" && pwd)/profiles
if [ -z "${COVERAGE_NO_TESTS:-}" ]; then
  rm -rf "$profiles"
  mkdir -p "$profiles"
  # %p: one file per process; %m: one per instrumented module within it
  # (zeplo and each localqm library carry their own profile runtime).
  # A failing test still leaves its coverage: the report says how many
  # failed instead of stopping.
  (cd "$build" && LLVM_PROFILE_FILE="$profiles/%p-%m.profraw" \
    nice -n 10 ctest -j2 -LE kill --timeout 900 >ctest-coverage.log 2>&1) ||
    echo "coverage: some tests failed, see $build/ctest-coverage.log:" \
      "$(grep -c 'Failed\|Not Run\|Timeout' "$build/ctest-coverage.log" || true) lines"
  tail -3 "$build/ctest-coverage.log"
fi
find "$profiles" -name '*.profraw' -size +0 >"$build/profraw.list"
echo "coverage: merging $(wc -l <"$build/profraw.list") raw profiles"
nice -n 10 "$profdata" merge -sparse -f "$build/profraw.list" -o "$build/coverage.profdata"

# Every instrumented binary that the suite ran; llvm-cov joins the counts
# of a function compiled into several of them. Only what the build still
# makes: a test removed from the tree leaves its old binary behind, whose
# stale line tables would blur the figures.
built=$(ninja -C "$build" -t targets all | sed 's/: .*//')
objects=()
while IFS= read -r f; do
  objects+=(-object "$f")
done < <(find "$build/bin" "$build/mqinst" "$build/mqinst-nocb" "$build/tests" -type f \
  \( -perm -u+x -o -name '*.so' \) ! -name '*.sh' ! -name '*.py' 2>/dev/null |
  while read -r f; do
    grep -qxF "${f#"$build"/}" <<<"$built" && file -b "$f" | grep -q '^ELF' && echo "$f"
  done)
# Paths may be relative to the build folder (ccache's base directory):
# the folder itself must not count as a reason to leave a file out.
ignore='(^|/)(tests|bench|_deps)/|mqi/mq_constants\.h$|zeplo/mq/reason_tables\.cpp$|^/usr/'
# Kept for scripts/case_coverage.py, which reports on the same binaries
# and files case by case: one llvm-cov argument per line, and the regex.
printf '%s\n' "${objects[@]:1}" >"$build/coverage-objects.txt"
printf '%s\n' "$ignore" >"$build/coverage-ignore.txt"
"$llvmcov" export -summary-only -format=text -instr-profile="$build/coverage.profdata" \
  -ignore-filename-regex="$ignore" "${objects[@]:1}" >"$build/coverage.json"
"$llvmcov" report -instr-profile="$build/coverage.profdata" -ignore-filename-regex="$ignore" \
  "${objects[@]:1}" >"$build/coverage-files.txt"
echo "coverage: per file in $build/coverage-files.txt; html with:"
echo "  $llvmcov show -format=html -output-dir=$build/html -instr-profile=$build/coverage.profdata" \
  "-ignore-filename-regex='$ignore' ${objects[*]:1}"

python3 - "$build/coverage.json" "$src" <<'EOF'
import json, os, sys
data = json.load(open(sys.argv[1]))
root = sys.argv[2].rstrip("/") + "/"
# A header compiled from two folders is listed under two spellings of its
# path; it counts once, with the better-covered listing (a lower bound).
files = {}
for f in data["data"][0]["files"]:
    name = os.path.normpath(f["filename"])
    if name not in files or f["summary"]["lines"]["covered"] > files[name]["lines"]["covered"]:
        files[name] = f["summary"]
totals = {}
for name, s in files.items():
    rel = name[len(root):] if name.startswith(root) else name
    top = rel.split("/")[0]
    if top not in ("zeplo", "localqm", "mqi"):
        continue
    t = totals.setdefault(top, [0, 0, 0, 0])
    t[0] += s["lines"]["covered"]; t[1] += s["lines"]["count"]
    t[2] += s["branches"]["covered"]; t[3] += s["branches"]["count"]
def line(name, t):
    pct = lambda a, b: 100.0 * a / b if b else 100.0
    print(f"{name:<9} lines {pct(t[0], t[1]):6.2f}% ({t[0]}/{t[1]})   "
          f"branches {pct(t[2], t[3]):6.2f}% ({t[2]}/{t[3]})")
all_ = [0, 0, 0, 0]
for top in sorted(totals):
    line(top + "/", totals[top])
    all_ = [a + b for a, b in zip(all_, totals[top])]
line("total", all_)
EOF
