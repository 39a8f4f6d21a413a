#!/usr/bin/env bash
# pelmar-sort's three descriptions of itself agree: every option that --help names heads an
# item of the manual page's OPTIONS and is offered by the bash completion, and the other
# way round; the same for the preference names of --set. The manual page also renders
# without a groff warning.
#   tests/packaging/docs-agree.sh PELMAR-SORT MANUAL-PAGE COMPLETION
set -euo pipefail
program=$1 manual=$2 completion=$3
failed=0

help=$("$program" --help)
page=$(groff -man -Tascii -rLL=200n -P-cbou -ww "$manual" 2>"${TMPDIR:-/tmp}/docs-agree.$$") || true
warnings=$(cat "${TMPDIR:-/tmp}/docs-agree.$$")
rm -f "${TMPDIR:-/tmp}/docs-agree.$$"
if [ -n "$warnings" ]; then
  echo "groff warns about $manual:"
  echo "$warnings"
  failed=1
fi

# The lines of the manual page's section NAME, up to the next heading.
section() {
  awk -v name="$1" '/^[A-Z]/ { inside = ($0 == name); next } inside' <<<"$page"
}
# The item heads of a section: the lines indented by exactly 7 columns, as .TP sets them.
heads() {
  section "$1" | grep -E '^ {7}[^ ]' || true
}
long_options() {
  grep -oE -- '--[a-z][a-z-]*' | sort -u
}
short_options() {
  grep -oE -- '(^|[^[:alnum:]-])-[a-zA-Z]([^[:alnum:]-]|$)' | grep -oE -- '-[a-zA-Z]' | sort -u
}
preference_names() {
  grep -oE '(^|[ ,])[a-z][a-z-]*=' | tr -d ' ,' | sort -u
}
# What the completion offers for the line typed so far, one word a line.
complete_line() {
  (
    # shellcheck disable=SC1090
    source "$completion"
    COMP_LINE=$1 COMP_POINT=${#1} COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'
    COMPREPLY=()
    _pelmar_sort 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort -u
  )
}
# agree WHAT EXPECTED ACTUAL WHERE
agree() {
  if [ "$2" != "$3" ]; then
    echo "$1: --help and $4 differ (< --help, > $4):"
    diff <(echo "$2") <(echo "$3") || true
    failed=1
  fi
}

# An option head: "-i, --input IN" or "--stats"; a sentence that starts with an option
# ("--saved, --last ... go one at a time") is none.
option_heads=$(heads OPTIONS | grep -E '^ {7}(-[a-zA-Z], )?--[a-z][a-z-]*( |$)' || true)
agree "long options" "$(long_options <<<"$help")" "$(long_options <<<"$option_heads")" "the manual's OPTIONS"
agree "short options" "$(short_options <<<"$help")" "$(short_options <<<"$option_heads")" "the manual's OPTIONS"
agree "long options" "$(long_options <<<"$help")" "$(complete_line 'pelmar-sort --')" "the completion"

help_preferences=$(sed -n '/^Preferences/,/^$/p' <<<"$help" | preference_names)
agree "preference names" "$help_preferences" "$(heads PREFERENCES | preference_names)" "the manual's PREFERENCES"
agree "preference names" "$help_preferences" "$(complete_line 'pelmar-sort --set ')" "the completion"
# bash splits user-files=o at '=': the completion offers the values alone.
agree "the values of a switch" $'off\non' "$(complete_line 'pelmar-sort --set user-files=o')" "the completion"

[ "$failed" = 0 ] && echo "help, manual page and completion agree"
exit "$failed"
