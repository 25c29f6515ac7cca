#!/usr/bin/env python3
"""What each test case reaches that no other case does.

Runs every ctest case (but the kill label) alone in a coverage build made
by scripts/coverage.sh, keeps each case's product lines and branches
(llvm-cov's lcov export of its own profile), and prints:
  - per case: its code lines, the lines and branches it reaches, and how
    many of those no other case reaches;
  - a removal proposal: cases taken largest first and dropped while every
    line and branch they reach is still reached by a case that stays.
A dropped case loses no coverage, but may still hold the only check of a
text or a value: read each one before deleting it, and run
scripts/mutants.py afterwards.

Usage: scripts/case_coverage.py [build-dir]   (default build-cov; build it
       first with scripts/coverage.sh, which also
       leaves the list of binaries this script reports on). Work files go to <build>/cases/.
       CASES_NO_RUN=1 reuses the profiles already there.
Not run by CI: a full run takes about 20 minutes on two cores.
"""
import json
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-cov"))
WORK = os.path.join(BUILD, "cases")


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def cases():
    out = run(["ctest", "-N", "-LE", "kill"], cwd=BUILD).stdout
    return re.findall(r"Test +#(\d+): (\S+)", out)


def coverage_setting(name):
    """What scripts/coverage.sh left in the build folder: the binaries and
    the ignored files, so that both scripts report on the same code."""
    return open(os.path.join(BUILD, name)).read().splitlines()


def reached(number, objs):
    """The lines and branches case `number` reached, from its own profiles."""
    d = os.path.join(WORK, number)
    raws = [os.path.join(d, f) for f in os.listdir(d)
            if f.endswith(".profraw") and os.path.getsize(os.path.join(d, f)) > 0]
    if not raws:
        return set()
    data = os.path.join(d, "case.profdata")
    run(["llvm-profdata", "merge", "-sparse", "-o", data] + raws)
    lcov = run(["llvm-cov", "export", "-format=lcov", "-instr-profile=" + data,
                "-ignore-filename-regex=" + coverage_setting("coverage-ignore.txt")[0]] + objs).stdout
    items, source = set(), None
    for line in lcov.splitlines():
        if line.startswith("SF:"):
            source = os.path.relpath(os.path.realpath(line[3:]), ROOT)
        elif line.startswith("DA:"):
            n, count = line[3:].split(",")[:2]
            if count != "0":
                items.add((source, int(n)))
        elif line.startswith("BRDA:"):
            n, block, branch, count = line[5:].split(",")
            if count not in ("-", "0"):
                items.add((source, int(n), block, branch))
    return items


def case_lines():
    """Roughly the code lines of each TEST block: non-blank lines that are
    not // comments (scripts/count_lines.sh is the exact count; this one
    only ranks the cases)."""
    count = {}
    for dp, _, fs in os.walk(os.path.join(ROOT, "tests")):
        for f in fs:
            if not f.endswith(".cpp"):
                continue
            text = open(os.path.join(dp, f), encoding="utf-8", errors="replace").read()
            for m in re.finditer(r"^TEST(?:_F|_P)?\((\w+),\s*(\w+)\)(.*?)^}", text, re.M | re.S):
                body = m.group(0).splitlines()
                count[m.group(1) + "." + m.group(2)] = sum(
                    1 for l in body if l.strip() and not l.strip().startswith("//"))
    return count


def main():
    os.makedirs(WORK, exist_ok=True)
    numbered = cases()
    if not os.environ.get("CASES_NO_RUN"):
        def one(case):
            number, name = case
            d = os.path.join(WORK, number)
            subprocess.run(["rm", "-rf", d])
            os.makedirs(d)
            env = dict(os.environ, LLVM_PROFILE_FILE=os.path.join(d, "%p-%m.profraw"))
            r = run(["ctest", "-R", "^" + re.escape(name) + "$", "--timeout", "900"],
                    cwd=BUILD, env=env)
            if r.returncode != 0:
                print("failed:", name, file=sys.stderr)
        with ThreadPoolExecutor(2) as pool:
            list(pool.map(one, numbered))
    objs = coverage_setting("coverage-objects.txt")
    with ThreadPoolExecutor(2) as pool:
        items = dict(zip((n for _, n in numbered), pool.map(lambda c: reached(c[0], objs), numbered)))
    owners = {}
    for s in items.values():
        for it in s:
            owners[it] = owners.get(it, 0) + 1
    lines = case_lines()
    key = lambda name: next((p for p in name.split("/") if "." in p), name)
    print("%-72s %5s %6s %5s" % ("case", "lines", "reach", "alone"))
    for name, s in sorted(items.items()):
        alone = sum(1 for it in s if owners[it] == 1)
        print("%-72s %5d %6d %5d" % (name, lines.get(key(name), 0), len(s), alone))
    dropped, saved = [], 0
    # Only GoogleTest cases: the scripted ones (packaging, man pages) reach
    # no product code by design.
    for name in sorted(items, key=lambda n: -lines.get(key(n), 0)):
        if key(name) in lines and all(owners[it] > 1 for it in items[name]):
            for it in items[name]:
                owners[it] -= 1
            dropped.append(name)
            saved += lines.get(key(name), 0)
    print("\nDroppable without losing a line or a branch (%d cases, %d lines):" % (len(dropped), saved))
    for name in dropped:
        print("  %s (%d lines)" % (name, lines.get(key(name), 0)))
    json.dump({n: sorted(map(list, s)) for n, s in items.items()},
              open(os.path.join(WORK, "reached.json"), "w"))


if __name__ == "__main__":
    main()
