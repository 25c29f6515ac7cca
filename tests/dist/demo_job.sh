# Sourced by the install and package tests: the main job run from an
# installed tree. demo_job ZEPLO MQINST WORK moves three messages (one
# persistent) from a queue to a file and loads them back, then rebuilds the
# persistent one from the recovery log through MQINST/bin/dmpmqlog, all in a
# scratch queue-manager root under WORK. Fails (non-zero) at the first
# difference, naming it.

expect_eq() {  # what expected actual
  if [[ "$2" != "$3" ]]; then
    echo "FAIL: $1: expected '$2', got '$3'" >&2
    return 1
  fi
}

demo_job() {
  local zeplo=$1 mqinst=$2 work=$3
  local localqm=$mqinst/bin/localqm
  export LOCALQM_ROOT=$work/qmgrs MQ_INSTALLATION_PATH=$mqinst
  mkdir -p "$work" && cd "$work" || return 1
  "$localqm" create QM1 --default >/dev/null &&
    "$localqm" define QM1 Q1 >/dev/null && "$localqm" define QM1 Q1.RESTORED >/dev/null || return 1
  "$localqm" put QM1 Q1 --text "order 1001" --format MQSTR >/dev/null &&
    "$localqm" put QM1 Q1 --text "order 1002" --format MQSTR --persistence 1 >/dev/null &&
    "$localqm" put QM1 Q1 --hex 00FF10 >/dev/null || return 1
  local before
  before=$("$localqm" browse QM1 Q1 | grep -E '^(Data|DataHex|MsgId|Persistence) :')
  "$zeplo" -q -m QM1 -I Q1 -f q1.zpd || { echo "FAIL: unload exited $?" >&2; return 1; }
  expect_eq "depth after the unload" 0 "$("$localqm" depth QM1 Q1)" || return 1
  "$zeplo" -q -m QM1 -o Q1 -f q1.zpd || { echo "FAIL: load exited $?" >&2; return 1; }
  expect_eq "messages after the round trip" "$before" \
    "$("$localqm" browse QM1 Q1 | grep -E '^(Data|DataHex|MsgId|Persistence) :')" || return 1
  "$zeplo" -q -m QM1 -j'*' -i Q1 -o Q1.RESTORED ||
    { echo "FAIL: log replay exited $?" >&2; return 1; }
  # The persistent put and its reload: both are in the log.
  expect_eq "messages rebuilt from the log" "Data : order 1002
Data : order 1002" "$("$localqm" browse QM1 Q1.RESTORED | grep '^Data :')"
}
