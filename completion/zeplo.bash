# Bash completion for zeplo: the option letters, the sub-option letters of
# the options that take them, and file names after -f, -F and -j.

# The sub-option letters of each option that has them; a letter followed by
# ":" takes a value after the colon.
_zeplo_sub_letters() {
  case $1 in
    a) echo "a b" ;;
    A) echo "c: e: f: p: r: t:" ;;
    C) echo "A I a i d n t" ;;
    d) echo "a A c C H i k K M N p r s t T w" ;;
    D) echo "r" ;;
    g) echo "x c m g" ;;
    G) echo "i: r: t:" ;;
    L) echo "a s m" ;;
    n) echo "1 B d: e: F i n s: p: q: W !" ;;
    O) echo "a B e F I r" ;;
    T) echo "f t" ;;
    v) echo "a d r s t" ;;
  esac
}

_zeplo() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local options="-a -A -b -c -C -d -D -e -E -f -F -g -G -h -H -i -I -j -l -L -m -n -o -O -p
    -P -q -r -R -s -S -t -T -u -U -v -w -x -X -z -$ -? --help --version"
  COMPREPLY=()
  # A value in the next word.
  if [[ $prev == -[a-zA-Z\$] && $COMP_CWORD -gt 1 ]]; then
    case $prev in
      -f | -F | -j)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        ;;
      -l) mapfile -t COMPREPLY < <(compgen -W "mqm mqic" -- "$cur") ;;
      *)
        local letters
        letters=$(_zeplo_sub_letters "${prev#-}")
        [[ -n $letters ]] && mapfile -t COMPREPLY < <(compgen -W "$letters" -- "$cur")
        ;;
    esac
    return 0
  fi
  case $cur in
    -f?* | -F?* | -j?*)
      # A file name joined to its option.
      compopt -o filenames 2>/dev/null
      local flag=${cur:0:2} file
      while IFS= read -r file; do COMPREPLY+=("$flag$file"); done < <(compgen -f -- "${cur:2}")
      ;;
    -?*)
      # An option with sub-options: the letters that may follow.
      local letters letter
      letters=$(_zeplo_sub_letters "${cur:1:1}")
      if [[ -n $letters && $cur != --* ]]; then
        for letter in $letters; do COMPREPLY+=("$cur$letter"); done
      else
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
      fi
      ;;
    *) mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur") ;;
  esac
  return 0
}
complete -F _zeplo zeplo
