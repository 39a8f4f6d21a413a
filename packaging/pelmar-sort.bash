# bash completion of pelmar-sort: its long options, the values of those that take a word
# from a list, the preference names and switch values of --set, and the saved entries of
# the current directory for --saved. Needs nothing of the bash-completion package.

_pelmar_sort() {
  local options="--input --output --size --key --title --stats --delimiter --save --threads
                 --memory --temporary-directory --stable --field-separator --csv --saved --last --list
                 --preferences --set --help --version"
  local preferences="browse-folder= ofni= delimiter= user-files= go-to-sort= stay= last-path= key-titling="
  # The words as typed, split at blanks only: bash also splits at '=' (COMP_WORDBREAKS),
  # which would part --set from user-files=on.
  local line=${COMP_LINE:0:COMP_POINT}
  local current=${line##*[[:blank:]]}
  local before=${line%"$current"}
  before=${before%"${before##*[![:blank:]]}"}
  local previous=${before##*[[:blank:]]}
  # The text before the value in the word, as in --delimiter=l or user-files=o. Bash
  # replaces only what follows it when '=' breaks words, else the whole word.
  local prefix=""
  if [[ $current == --*=* || ( $previous == --set && $current == *=* ) ]]; then
    prefix=${current%%=*}=
    current=${current#*=}
    [[ $prefix == --* ]] && previous=${prefix%=}
  fi

  local values="" files=0
  case $previous in
    -i|--input|-o|--output) files=1 ;;
    -T|--temporary-directory) values=""; compopt -o dirnames 2>/dev/null ;;
    -s|--size) values="variable" ;;
    --delimiter) values="both cr lf" ;;
    --saved) values=$(pelmar-sort --list 2>/dev/null) ;;
    --set)
      case $prefix in
        "") values=$preferences; compopt -o nospace 2>/dev/null ;;
        delimiter=) values="both cr lf" ;;
        user-files=|go-to-sort=|stay=|last-path=|key-titling=) values="on off" ;;
      esac
      ;;
    -k|--key|-t|--title|--threads|-S|--memory|--field-separator) ;;
    *) values=$options ;;
  esac
  if ((files)); then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$current")
  else
    mapfile -t COMPREPLY < <(compgen -W "$values" -- "$current")
  fi
  if [[ -n $prefix && $COMP_WORDBREAKS != *=* ]]; then
    COMPREPLY=("${COMPREPLY[@]/#/$prefix}")
  fi
}
complete -F _pelmar_sort pelmar-sort
