#!/usr/bin/env bash
# pelmar-sort's three descriptions of itself agree: every option that --help names heads an
# item of the manual page's OPTIONS and is offered by the bash completion, and the other
# way round; the same for the preference names of --set. The manual page also renders
# without a groff warning.
#   tests/packaging/docs-agree.sh PELMAR-SORT MANUAL-PAGE COMPLETION
set -uo pipefail
program=$1 manual=$2 completion=$3 failed=0
render() { groff -man -Tascii -rLL=200n -P-cbou -ww "$manual"; }
warnings=$(render 2>&1 >/dev/null)
[ -z "$warnings" ] || { printf 'groff warns about %s:\n%s\n' "$manual" "$warnings"; failed=1; }
page=$(render 2>/dev/null) help=$("$program" --help)

# The item heads of the manual page's section $1: lines indented by exactly 7 columns, as
# .TP sets them, up to the next heading.
heads() { awk -v name="$1" '/^[A-Z]/ { inside = ($0 == name); next } inside' <<<"$page" | grep -E '^ {7}[^ ]'; }
long_options() { grep -oE -- '--[a-z][a-z-]*' | sort -u; }
short_options() { grep -oE -- '(^|[^[:alnum:]-])-[a-zA-Z]([^[:alnum:]-]|$)' | grep -oE -- '-[a-zA-Z]' | sort -u; }
preference_names() { grep -oE '(^|[ ,])[a-z][a-z-]*=' | tr -d ' ,' | sort -u; }
# What the completion offers for the line typed so far, one word a line.
offered() {
  # shellcheck disable=SC1090
  (source "$completion"; COMP_LINE=$1 COMP_POINT=${#1} COMPREPLY=(); _pelmar_sort 2>/dev/null; printf '%s\n' "${COMPREPLY[@]}" | sort -u)
}
# agree WHERE EXPECTED ACTUAL: what --help says against what WHERE says.
agree() { diff --label "--help" --label "$1" <(echo "$2") <(echo "$3") || failed=1; }

# An option head: "-i, --input IN" or "--stats"; a sentence that starts with an option
# ("--saved, --last ... go one at a time") is none.
option_heads=$(heads OPTIONS | grep -E '^ {7}(-[a-zA-Z], )?--[a-z][a-z-]*( |$)')
agree "the manual's OPTIONS" "$(long_options <<<"$help")" "$(long_options <<<"$option_heads")"
agree "the manual's OPTIONS" "$(short_options <<<"$help")" "$(short_options <<<"$option_heads")"
agree "the completion" "$(long_options <<<"$help")" "$(offered 'pelmar-sort --')"
help_preferences=$(sed -n '/^Preferences/,/^$/p' <<<"$help" | preference_names)
agree "the manual's PREFERENCES" "$help_preferences" "$(heads PREFERENCES | preference_names)"
agree "the completion of --set" "$help_preferences" "$(offered 'pelmar-sort --set ')"
# bash splits user-files=o at '=': the completion offers the values alone.
agree "the completion of a switch" $'off\non' "$(offered 'pelmar-sort --set user-files=o')"
exit "$failed"
