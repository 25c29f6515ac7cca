#!/usr/bin/env bash
# Counts the lines that carry code: non-blank lines that are not wholly a
# comment, in the C++ sources (.cpp, .h) and scripts (.sh, .py) of the test
# suite and of the hand-written product code, and prints their ratio.
#   tests:   tests/ (all folders, fuzz targets included; not tests/data or
#            the fuzz seeds, which are data)
#   product: zeplo/, localqm/, mqi/ without the generated
#            mqi/mq_constants.h and zeplo/mq/reason_tables.cpp
# A line is a comment line when, outside string literals, all it holds is
# a // comment, part of a /* */ comment, or (in .sh, .py) a # comment.
# CMakeLists.txt files and bench/ are counted in neither.
# Usage: scripts/count_lines.sh [-v]   (-v: per folder as well)
#        scripts/count_lines.sh FILE...  (the count of each file named)
set -euo pipefail
cd "$(dirname "$0")/.."
python3 - "$@" <<'EOF'
import os, re, sys

def code_lines(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    if path.endswith((".sh", ".py")):
        return sum(1 for l in text.splitlines() if l.strip() and not l.strip().startswith("#"))
    count, in_block = 0, False
    for line in text.splitlines():
        code, i, n = False, 0, len(line)
        while i < n:
            if in_block:
                end = line.find("*/", i)
                if end < 0:
                    i = n
                else:
                    in_block, i = False, end + 2
                continue
            c = line[i]
            if c.isspace():
                i += 1
            elif line.startswith("//", i):
                break
            elif line.startswith("/*", i):
                in_block, i = True, i + 2
            else:
                code = True
                if c in "\"'":
                    # Skip the literal so that "//" or "/*" in it is not a comment.
                    j = i + 1
                    while j < n and line[j] != c:
                        j += 2 if line[j] == "\\" else 1
                    i = j + 1
                elif line.startswith('R"', i):
                    i += 2
                else:
                    i += 1
        count += code
    return count

def tree(top, skip_dirs=(), skip_files=()):
    per = {}
    for dirpath, dirs, files in os.walk(top):
        dirs[:] = sorted(d for d in dirs if os.path.join(dirpath, d) not in skip_dirs)
        for f in sorted(files):
            p = os.path.join(dirpath, f)
            if p in skip_files or not f.endswith((".cpp", ".h", ".sh", ".py")):
                continue
            per[dirpath] = per.get(dirpath, 0) + code_lines(p)
    return per

files = [a for a in sys.argv[1:] if a != "-v"]
if files:
    for f in files:
        print(f"{code_lines(f):6}  {f}")
    print(f"{sum(code_lines(f) for f in files):6}  total")
    sys.exit(0)

generated = ("mqi/mq_constants.h", "zeplo/mq/reason_tables.cpp")
tests = tree("tests", skip_dirs=("tests/data", "tests/fuzz/corpus"))
product = {}
for top in ("zeplo", "localqm", "mqi"):
    product.update(tree(top, skip_files=generated))
t, p = sum(tests.values()), sum(product.values())
if "-v" in sys.argv:
    for name, per in (("tests", tests), ("product", product)):
        for d in sorted(per):
            print(f"  {name:8} {per[d]:6}  {d}")
print(f"tests {t}  product {p}  ratio {t / p:.2f}")
EOF
