#!/usr/bin/env bash
# Installs the build into a scratch prefix, component by component, and
# runs the main job from the installed paths alone.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
. "$source/tests/dist/demo_job.sh"
scratch=$(mktemp -d /tmp/zeplo-install.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" --component zeplo >/dev/null
expect_eq "localqm left out of the zeplo component" "" "$(ls "$prefix/lib" 2>/dev/null)"
cmake --install "$build" --prefix "$prefix" --component localqm >/dev/null
for f in bin/zeplo bin/localqm share/man/man1/zeplo.1 share/man/man1/localqm.1 \
  share/bash-completion/completions/zeplo share/bash-completion/completions/localqm \
  lib/zeplo/mqinst/bin/localqm lib/zeplo/mqinst/bin/dmpmqlog \
  lib/zeplo/mqinst/lib64/libmqm_r.so lib/zeplo/mqinst/lib64/libmqic_r.so; do
  [[ -e $prefix/$f ]] || { echo "FAIL: $f not installed" >&2; exit 1; }
done
# No installed binary may still look for libraries in the build folder.
for f in "$prefix/bin/zeplo" "$prefix"/lib/zeplo/mqinst/*/*; do
  expect_eq "run path of $f" "" "$(readelf -d "$f" | grep -E 'R(UN)?PATH' || true)"
done
usage=$("$prefix/bin/zeplo" -? 2>&1 || true)
[[ $usage == *"Usage: ZEPLO"* ]] || { echo "FAIL: zeplo -? printed: $usage" >&2; exit 1; }
# The link on the path reaches the admin command.
"$prefix/bin/localqm" --help | grep -q '^Usage: localqm' || { echo "FAIL: bin/localqm" >&2; exit 1; }
demo_job "$prefix/bin/zeplo" "$prefix/lib/zeplo/mqinst" "$scratch/work"
echo "install: passed"
