#!/usr/bin/env bash
# Sources both completion scripts and checks what they offer for a table of
# command lines, with queue managers and queues from a scratch
# LOCALQM_ROOT set up by the built admin command.
# Usage: completion_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
scratch=$(mktemp -d /tmp/zeplo-completion.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export LOCALQM_ROOT=$scratch/qmgrs
PATH=$build/mqinst/bin:$PATH
localqm create QM1 >/dev/null && localqm create QM2 >/dev/null &&
  localqm define QM1 APP.IN >/dev/null && localqm define QM1 APP.OUT >/dev/null || exit 1
touch "$scratch/orders.zpd" "$scratch/other.txt"
. "$source/completion/zeplo.bash"
. "$source/completion/localqm.bash"

failures=0
# check EXPECTED WORD... : the words typed, the last one being completed.
check() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  if [[ $1 == zeplo ]]; then _zeplo; else _localqm; fi
  if [[ "${COMPREPLY[*]}" != "$expected" ]]; then
    echo "FAIL: '$*': expected '$expected', got '${COMPREPLY[*]}'" >&2
    failures=$((failures + 1))
  fi
}

check "-a -A -b -c -C -d -D -e -E -f -F -g -G -h -H -i -I -j -l -L -m -n -o -O -p -P -q -r -R -s -S -t -T -u -U -v -w -x -X -z -$ -? --help --version" zeplo -
check "--help" zeplo --he
check "-Oa -OB -Oe -OF -OI -Or" zeplo -O
check "-dsa -dsA -dsc -dsC -dsH -dsi -dsk -dsK -dsM -dsN -dsp -dsr -dss -dst -dsT -dsw" zeplo -ds
check "A I a i d n t" zeplo -C ""
check "mqic" zeplo -l mqi
check "$scratch/orders.zpd" zeplo -m QM1 -f "$scratch/ord"
check "-F$scratch/other.txt" zeplo -F"$scratch/oth"
check "define" localqm def
check "QM1 QM2" localqm browse ""
check "APP.IN APP.OUT" localqm depth QM1 APP
check "APP.IN APP.OUT" localqm put --count 2 QM1 APP
check "APP.IN APP.OUT" localqm get --hex QM1 APP
check "" localqm create ""
check "--quiesce" localqm stop QM1 --
check "local model alias" localqm define QM1 NEW --type ""
check "APP.OUT" localqm define QM1 NEW --boqname APP.O
check "MQPUT MQPUT1" localqm fault QM1 MQPU
[[ $failures -eq 0 ]] && echo "completion: passed"
exit $((failures > 0))
