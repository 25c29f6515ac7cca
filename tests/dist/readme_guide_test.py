#!/usr/bin/env python3
"""Runs every command of the README's task guide against localqm and
compares what it prints with the README. The guide's ```console blocks hold
"$ " command lines, each followed by its expected output; "..." there
stands for any number of lines. The banner zeplo prints first is dropped,
and the MQ installation path shows as $MQ_INSTALLATION_PATH.
Usage: readme_guide_test.py BUILD_DIR SOURCE_DIR"""
import os
import re
import subprocess
import sys
import tempfile

build, source = (os.path.abspath(a) for a in sys.argv[1:3])
BANNER = re.compile(r"ZEPLO - .*\n  Version V.*\n  Built by .*\n\n")


def guide_steps(readme):
    """(command, expected output lines) for each command of the guide."""
    section = readme.split("\n## Task guide\n", 1)[1].split("\n## ", 1)[0]
    steps = []
    for block in re.findall(r"```console\n(.*?)```", section, re.S):
        for line in block.splitlines():
            if line.startswith("$ "):
                steps.append((line[2:], []))
            else:
                steps[-1][1].append(line.rstrip())
    return steps


def matches(expected, actual):
    pattern = "".join("(?:.*\n)*?" if line == "..." else re.escape(line) + "\n"
                      for line in expected)
    return re.fullmatch(pattern, actual) is not None


def main():
    steps = guide_steps(open(f"{source}/README.md").read())
    if len(steps) < 20:
        print(f"FAIL: the task guide has only {len(steps)} commands")
        return 1
    mqinst = f"{build}/mqinst"
    with tempfile.TemporaryDirectory(prefix="zeplo-guide.") as scratch:
        env = dict(os.environ, LOCALQM_ROOT=f"{scratch}/qmgrs", MQ_INSTALLATION_PATH=mqinst,
                   PATH=f"{build}/bin:{mqinst}/bin:{os.environ['PATH']}")
        os.mkdir(f"{scratch}/work")
        for command, expected in steps:
            run = subprocess.run(["bash", "-c", command], cwd=f"{scratch}/work", env=env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True)
            text = BANNER.sub("", run.stdout, count=1).replace(mqinst, "$MQ_INSTALLATION_PATH")
            # Trailing blank lines are not shown in the README.
            actual = "".join(line.rstrip() + "\n" for line in text.rstrip().splitlines())
            if run.returncode != 0 or not matches(expected, actual):
                print(f"FAIL: $ {command}\n(exit status {run.returncode}) expected:\n" +
                      "\n".join(expected) + f"\ngot:\n{actual}")
                return 1
    print(f"README task guide: {len(steps)} commands passed")
    return 0


sys.exit(main())
