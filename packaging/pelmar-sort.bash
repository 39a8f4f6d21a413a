# bash completion of pelmar-sort: its options, long and short, less those already given
# (but --input, --key and --title, which repeat) and those that do not go with them; the
# values of those that take a word from a list; file and folder names, blanks and quotes
# included; the preference names and switch values of --set; and the saved entries of the
# current directory for --saved, quoted for the shell. Needs nothing of the
# bash-completion package.

# The options as pelmar-sort reads them, three words each: the long name, the short one
# (- for none), and 1 when it takes a value.
_pelmar_sort_options=(input i 1  output o 1  size s 1  key k 1  title t 1  stats - 0
  delimiter - 1  line-end - 1  merge m 0  unique u 0  check c 0  save - 0  threads - 1
  memory S 1  temporary-directory T 1  stable - 0  field-separator - 1  csv - 0  saved - 1
  last - 0  list - 0  preferences - 0  set - 1  help h 0  version - 0)

# Into _pelmar_option_name, the long name of the option a word names ("--key=1,2" and
# "-k1,2" name key), empty for none; _pelmar_option_takes, 1 when it takes a value;
# _pelmar_option_inline, 1 when the word holds that value too.
_pelmar_sort_option() {
  local word=$1 n long short
  _pelmar_option_name="" _pelmar_option_takes=0 _pelmar_option_inline=0
  for ((n = 0; n < ${#_pelmar_sort_options[@]}; n += 3)); do
    long=${_pelmar_sort_options[n]} short=${_pelmar_sort_options[n + 1]}
    if [[ $word == "--$long" || $word == "--$long="* ]]; then
      [[ $word == *=* ]] && _pelmar_option_inline=1
    elif [[ $short != - && $word == "-$short"* ]]; then
      [[ $word != "-$short" ]] && _pelmar_option_inline=1
    else
      continue
    fi
    _pelmar_option_name=$long _pelmar_option_takes=${_pelmar_sort_options[n + 2]}
    return
  done
}

_pelmar_sort() {
  local -a preferences=(browse-folder= ofni= delimiter= user-files= go-to-sort= stay= last-path= key-titling=)
  local line point
  if [[ -v COMP_LINE ]]; then
    line=$COMP_LINE point=${COMP_POINT:-${#COMP_LINE}}
  else  # only the words: bash parts them at '=', which goes back in
    local w
    line=""
    for ((w = 0; w <= COMP_CWORD; w++)); do
      if [[ ${COMP_WORDS[w]} == = || ${COMP_WORDS[w - 1]} == = ]] && ((w > 0)); then
        line+=${COMP_WORDS[w]}
      else
        line+="${line:+ }${COMP_WORDS[w]}"
      fi
    done
    point=${#line}
  fi
  line=${line:0:point}

  # The words as the shell reads them, quotes and backslashes taken away; the last one is
  # the word being completed. cut: how much of it lies before the last character at which
  # bash parts words for completion (COMP_WORDBREAKS, such as '=' and ':'), outside quotes;
  # bash replaces only what follows. quoted: the word has a quote still open.
  local -a words=()
  local word="" quote="" started=0 cut=0 i c
  local breaks=${COMP_WORDBREAKS-$' \t\n"\'><=;|&(:'}
  breaks=${breaks//[[:space:]\"\']/}
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    if [[ $quote == "'" ]]; then
      if [[ $c == "'" ]]; then quote=""; else word+=$c; fi
    elif [[ $quote == '"' ]]; then
      if [[ $c == '"' ]]; then
        quote=""
      elif [[ $c == \\ && ${line:i+1:1} == [\"\\\$\`] ]]; then
        word+=${line:i+1:1}
        ((i++))
      else
        word+=$c
      fi
    elif [[ $c == [[:blank:]] ]]; then
      ((started)) && words+=("$word")
      word="" started=0 cut=0
    elif [[ $c == \\ ]]; then
      word+=${line:i+1:1} started=1
      ((i++))
    elif [[ $c == [\"\'] ]]; then
      quote=$c started=1
    else
      word+=$c started=1
      [[ -n $breaks && $breaks == *"$c"* ]] && cut=${#word}
    fi
  done
  local current=$word quoted=0
  [[ -n $quote ]] && quoted=1

  # What the words before it give: the options named, the inputs, and whether the word
  # being completed is an option's value.
  local _pelmar_option_name _pelmar_option_takes _pelmar_option_inline
  local -A given=()
  local inputs=0 keys=0 standard_input=0 standard_output=0 pending="" ended=0
  for ((i = 1; i < ${#words[@]}; i++)); do
    word=${words[i]}
    if [[ -n $pending ]]; then
      [[ $pending == input ]] && { ((inputs++)); [[ $word == - ]] && standard_input=1; }
      [[ $pending == output && $word == - ]] && standard_output=1
      pending=""
      continue
    fi
    if [[ $word == -- ]]; then
      ended=1
      continue
    fi
    _pelmar_sort_option "$word"
    [[ -z $_pelmar_option_name ]] && continue
    given[$_pelmar_option_name]=1
    [[ $_pelmar_option_name == key ]] && ((keys++))
    if ((_pelmar_option_takes && !_pelmar_option_inline)); then
      pending=$_pelmar_option_name
    elif [[ $_pelmar_option_name == input ]]; then
      ((inputs++))
      [[ $word == --input=- || $word == -i- ]] && standard_input=1
    elif [[ $_pelmar_option_name == output && ( $word == --output=- || $word == -o- ) ]]; then
      standard_output=1
    fi
  done
  COMPREPLY=()
  ((ended)) && return  # past "--" every word is refused

  # The option whose value is being completed: the word before, or the word itself as in
  # --delimiter=l, or after --set as in user-files=o. prefix: the text before that value.
  local option=$pending prefix=""
  if [[ -z $option && $current == -* ]]; then
    _pelmar_sort_option "$current"
    if ((_pelmar_option_takes && _pelmar_option_inline)) && [[ $current == --*=* ]]; then
      option=$_pelmar_option_name prefix=${current%%=*}=
    fi
  fi
  local value=${current#"$prefix"} setting=""
  if [[ $option == set && $value == *=* ]]; then
    setting=${value%%=*}=
    prefix+=$setting
    value=${value#*=}
  fi

  local -a candidates=()
  local files="" plain=1
  case $option in
    input | output)
      files=-f
      [[ $value == - && ( $option == output || $standard_input == 0 ) ]] && candidates+=(-)
      ;;
    temporary-directory) files=-d ;;
    size) candidates=(variable) ;;
    delimiter) candidates=(both cr lf nul) ;;
    line-end) candidates=(crlf lf cr nul) ;;
    saved)
      # pelmar-sort --list writes each entry as a shell word: in single quotes when it
      # needs them. The entry itself is matched, and put in quoted again.
      local entry
      while IFS= read -r entry; do
        if [[ $entry == \'*\' ]]; then
          entry=${entry:1:${#entry}-2}
          entry=${entry//\'\\\'\'/\'}
        fi
        candidates+=("$entry")
      done < <(pelmar-sort --list 2>/dev/null)
      plain=0
      ;;
    set)
      case $setting in
        "") candidates=("${preferences[@]}"); compopt -o nospace 2>/dev/null ;;
        delimiter=) candidates=(both cr lf) ;;
        user-files= | go-to-sort= | stay= | last-path= | key-titling=) candidates=(on off) ;;
      esac
      ;;
    "")
      # Nothing after --help, --version, --list, --preferences or --set: they do without the
      # rest. Else each option not given yet (--input, --key and --title may come again)
      # that goes with those given, as pelmar-sort checks them.
      [[ -n ${given[help]-}${given[version]-}${given[list]-}${given[preferences]-}${given[set]-} ]] && return
      local n long short
      local run_alone=${given[saved]-}${given[last]-}${given[list]-}${given[preferences]-}${given[set]-}
      local fields=${given[input]-}${given[output]-}${given[size]-}${given[key]-}
      local others=${#given[@]}
      for ((n = 0; n < ${#_pelmar_sort_options[@]}; n += 3)); do
        long=${_pelmar_sort_options[n]} short=${_pelmar_sort_options[n + 1]}
        [[ -n ${given[$long]-} && $long != input && $long != key && $long != title ]] && continue
        case $long in
          input) [[ -n $run_alone ]] || (( ${given[save]:-0} && inputs > 0 )) && continue ;;
          output) [[ -n $run_alone${given[check]-} ]] && continue ;;
          size) [[ -n $run_alone ]] && continue ;;
          key) [[ -n $run_alone ]] || ((keys >= 6)) && continue ;;
          merge) [[ -n ${given[check]-}${given[stats]-}${given[save]-} ]] && continue ;;
          check) [[ -n ${given[merge]-}${given[output]-}${given[stats]-}${given[save]-} ]] && continue ;;
          stats) [[ -n ${given[merge]-}${given[check]-} ]] && continue ;;
          save)
            [[ -n ${given[merge]-}${given[check]-} ]] || ((inputs > 1 || standard_input || standard_output)) && continue
            ;;
          field-separator) [[ -n ${given[csv]-} ]] && continue ;;
          csv) [[ -n ${given[field-separator]-} ]] && continue ;;
          saved | last) [[ -n $run_alone$fields ]] && continue ;;
          list | preferences | set) ((others > 0)) && continue ;;  # they take nothing else
        esac
        candidates+=("--$long")
        [[ $short != - ]] && candidates+=("-$short")
      done
      ;;
  esac

  # The candidates that begin with the value, then the names of files or folders, one a
  # line (blanks and all): bash quotes those itself.
  local -a matches=()
  local candidate
  for candidate in "${candidates[@]}"; do
    [[ $candidate == "$value"* ]] && matches+=("$candidate")
  done
  if [[ -n $files ]]; then
    compopt -o filenames 2>/dev/null
    local -a names=()
    mapfile -t names < <(compgen "$files" -- "$value")
    matches+=("${names[@]}")
  fi
  # Each as the whole word, less the part before a break that bash keeps.
  for candidate in "${matches[@]}"; do
    candidate=$prefix$candidate
    candidate=${candidate:cut}
    ((plain || quoted)) || printf -v candidate '%q' "$candidate"
    COMPREPLY+=("$candidate")
  done
}
complete -F _pelmar_sort pelmar-sort
