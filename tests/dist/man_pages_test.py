#!/usr/bin/env python3
"""Checks the man pages against the programs they document, so neither can
drift: every option letter of `zeplo -?` against zeplo.1, the sub-option
letters of each option against zeplo.1 and the completion script, the
verbs of `localqm --help` against localqm.1 and its completion, and both
pages through groff with every warning on.
Usage: man_pages_test.py BUILD_DIR SOURCE_DIR"""
import re
import shutil
import subprocess
import sys

build, source = sys.argv[1], sys.argv[2]
failures = []
# Options whose help rows after the first start with their sub-option letter.
LETTERED = "aACdgGLnOv"


def compare(what, expected, actual):
    if expected != actual:
        failures.append(f"{what}: only in the program {sorted(expected - actual)}, "
                        f"only in the document {sorted(actual - expected)}")


def run(*args):
    return subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True)


def man_entries(page, section_pattern):
    """Yields the first argument of each .TP tag in the sections whose title
    matches, and whether the tag lies inside an .RS block."""
    lines = open(f"{source}/doc/man/{page}").read().splitlines()
    inside, nested = False, False
    for previous, line in zip(lines, lines[1:]):
        if line.startswith(".SH"):
            inside = re.search(section_pattern, line) is not None
        nested = nested if line not in (".RS", ".RE") else line == ".RS"
        if inside and previous.startswith(".TP") and re.match(r"\.B[IR]? ", line):
            yield line.split(" ", 2)[1].replace("\\-", "-").strip('"'), nested


# zeplo: option letters and sub-option letters.
usage = run(f"{build}/bin/zeplo", "-?").stderr.splitlines()
help_options, help_subs, option = set(), {}, ""
for row in usage:
    m = re.match(r"\s+\[-(.)", row)
    if m:
        option = m.group(1)
        help_options.add(option)
    elif option in LETTERED and row.strip():
        help_subs.setdefault(option, set()).add(row.strip()[0])
    elif not row.strip():
        option = ""
help_options.add("?")  # the usage is what -? prints, not one of its rows
if len(help_options) < 40:
    failures.append(f"zeplo -? listed only {sorted(help_options)}")

man_options, man_subs, option = set(), {}, ""
for word, nested in man_entries("zeplo.1", r"OPTIONS"):
    if not nested and re.match(r"-[^-\s]", word):
        option = word[1]
        man_options.add(option)
    elif nested and option in LETTERED:
        man_subs.setdefault(option, set()).add(word[0])
compare("zeplo option letters, zeplo -? against zeplo.1", help_options, man_options)

completion = f"{source}/completion/zeplo.bash"
for option in LETTERED:
    compare(f"-{option} sub-options, zeplo -? against zeplo.1", help_subs.get(option, set()),
            man_subs.get(option, set()))
    words = run("bash", "-c", f'. "{completion}" && _zeplo_sub_letters "{option}"').stdout.split()
    compare(f"-{option} sub-options, zeplo -? against zeplo.bash",
            help_subs.get(option, set()), {w[0] for w in words})

# localqm: verbs. "help" is a verb the usage text does not list about itself.
usage = run(f"{build}/mqinst/bin/localqm", "--help").stdout
help_verbs = set(re.findall(r"(?:^ +|\s{2,})localqm ([a-z][a-z-]*)", usage, re.M)) | {"help"}
man_verbs = {word for word, _ in man_entries("localqm.1", r"VERBS")}
compare("localqm verbs, localqm --help against localqm.1", help_verbs, man_verbs)
script = open(f"{source}/completion/localqm.bash").read()
completed = set(re.search(r'verbs="([^"]*)"', script).group(1).split()) - {"--help"}
compare("localqm verbs, localqm --help against localqm.bash", help_verbs, completed)

if shutil.which("groff") is None:
    print("groff is missing: the pages were not formatted")
else:
    for page in ("zeplo.1", "localqm.1"):
        result = run("groff", "-man", "-ww", "-z", f"{source}/doc/man/{page}")
        if result.returncode != 0 or result.stderr:
            failures.append(f"groff on {page}: {result.stderr.strip()}")

for failure in failures:
    print("FAIL:", failure)
if failures:
    sys.exit(1)
print("man pages: passed")
sys.exit(0 if shutil.which("groff") else 77)
