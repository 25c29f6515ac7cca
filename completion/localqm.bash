# Bash completion for localqm: its verbs, the queue managers found under
# $LOCALQM_ROOT (default $HOME/.localqm), the queues of the queue manager
# named on the line (as "localqm show QM" lists them), and each verb's
# options.

_localqm_qmgrs() {
  local root=${LOCALQM_ROOT:-$HOME/.localqm} dir
  # A queue manager is a folder holding its store.
  for dir in "$root"/*/qm.db; do
    [[ -f $dir ]] && dir=${dir%/qm.db} && echo "${dir##*/}"
  done
}

_localqm_queues() {
  # $1 is the admin command as typed, $2 the queue manager.
  local line
  "$1" show "$2" 2>/dev/null | while IFS= read -r line; do
    [[ $line == "Queue : "* ]] && line=${line#Queue : } && echo "${line%% *}"
  done
}

_localqm_options() {
  local qmgr="--default --cmdlevel --platform --max-cno-version --refuse-async-put --ccsid
    --deadq --min-cfh-version"
  local queue="--type --target --maxdepth --maxmsgl --boqname --bothresh --put --get
    --deny-inquire --allow-inquire --defprty --defpsist --defsopt --deftype --descr"
  case $1 in
    create) echo "$qmgr" ;;
    alter-qmgr) echo "$qmgr --allow-async-put" ;;
    stop) echo "--quiesce" ;;
    define | alter) echo "$queue" ;;
    remove) echo "--purge" ;;
    put) echo "--text --hex --file --count --format --priority --persistence --msgid --correlid
      --groupid --replyto --replytoqmgr --putdate --puttime --backout --expiry --encoding --ccsid
      --msgtype --report --feedback --user --accounting --applid --applorigin --putappl
      --putappltype --seq --offset --msgflags --origlength" ;;
    browse | get) echo "--hex --count" ;;
    fault) echo "--reason --queue --after --times --clear" ;;
  esac
}

_localqm() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local verbs="create alter-qmgr delete list start stop user define alter remove show depth
    clear put browse get cmdserver maxfsize fault help --help"
  COMPREPLY=()
  if [[ $COMP_CWORD -eq 1 ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$verbs" -- "$cur")
    return 0
  fi
  local verb=${COMP_WORDS[1]}
  # The positional words after the verb; options and their values skipped.
  local flags=" --default --refuse-async-put --allow-async-put --deny-inquire --allow-inquire
    --clear --purge --quiesce "
  [[ $verb != put ]] && flags+="--hex "
  local i word position=0 qmgr=""
  for ((i = 2; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == --* ]]; then
      [[ $flags != *" $word"[[:space:]]* ]] && i=$((i + 1))
      continue
    fi
    [[ $position -eq 0 ]] && qmgr=$word
    position=$((position + 1))
  done
  case $prev in
    --file) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return 0 ;;
    --type) mapfile -t COMPREPLY < <(compgen -W "local model alias" -- "$cur"); return 0 ;;
    --put | --get) mapfile -t COMPREPLY < <(compgen -W "enabled disabled" -- "$cur"); return 0 ;;
    --defpsist) mapfile -t COMPREPLY < <(compgen -W "yes no" -- "$cur"); return 0 ;;
    --defsopt) mapfile -t COMPREPLY < <(compgen -W "shared exclusive" -- "$cur"); return 0 ;;
    --deftype) mapfile -t COMPREPLY < <(compgen -W "temporary permanent" -- "$cur"); return 0 ;;
    --target | --boqname | --deadq | --queue | --replyto)
      mapfile -t COMPREPLY < <(compgen -W "$(_localqm_queues "${COMP_WORDS[0]}" "$qmgr")" -- "$cur")
      return 0 ;;
  esac
  if [[ $cur == --* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_localqm_options "$verb")" -- "$cur")
    return 0
  fi
  case $verb:$position in
    list:* | help:* | --help:*) ;;
    create:0) ;;  # a new name
    *:0) mapfile -t COMPREPLY < <(compgen -W "$(_localqm_qmgrs)" -- "$cur") ;;
    alter:1 | remove:1 | show:1 | depth:1 | clear:1 | put:1 | browse:1 | get:1 | maxfsize:1)
      mapfile -t COMPREPLY < <(compgen -W "$(_localqm_queues "${COMP_WORDS[0]}" "$qmgr")" -- "$cur") ;;
    fault:1) mapfile -t COMPREPLY < <(compgen -W "MQCONN MQCONNX MQDISC MQOPEN MQCLOSE MQGET MQPUT
      MQPUT1 MQINQ MQSET MQCMIT MQBACK" -- "$cur") ;;
    cmdserver:1) mapfile -t COMPREPLY < <(compgen -W "start stop status" -- "$cur") ;;
  esac
  return 0
}
complete -F _localqm localqm
