#!/usr/bin/env bash
# The bash completion of vyrconvert: options, the values of -f and --timing, folders for
# -o, and .vyr recordings in any case. And that every option vyrconvert's --help names is
# completed and has its entry in the manual page.
#
#   check_completion.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src="$1" build="$2"
export PATH="$build/bin:$PATH"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=checks.sh
source "$src/tests/packaging/checks.sh"

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1091
source "$src/packaging/vyrconvert.bash-completion"

# complete WORD...: what completing the last word of the command line offers, sorted, one
# line of words.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _vyrconvert "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort -u | paste -sd' ' -
}

cd "$tmp"
mkdir sub sub2
touch a.vyr B.VYR c.Vyr d.txt notvyr e.vyrx ./-dash.vyr sub2/x.vyr sub2/y.mp4

# command line (the last word is completed)  |  expected
cases=(
  "vyrconvert ''"                     "-dash.vyr B.VYR a.vyr c.Vyr sub sub2"
  "vyrconvert c"                      "c.Vyr"
  "vyrconvert sub2/"                  "sub2/x.vyr"
  "vyrconvert -f ''"                  "mp4 raw"
  "vyrconvert -f r"                   "raw"
  "vyrconvert --timing ''"            "rate stamps"
  "vyrconvert --timing s"             "stamps"
  "vyrconvert -o ''"                  "sub sub2"
  "vyrconvert -o out -f mp4 a"        "a.vyr"
  "vyrconvert --t"                    "--timing"
  "vyrconvert --p"                    "--probe"
  "vyrconvert --vers"                 "--version"
  "vyrconvert --version ''"           ""
  "vyrconvert -- -"                   "-dash.vyr"
  "vyrconvert a.vyr -- ''"            "-dash.vyr B.VYR a.vyr c.Vyr sub sub2"
)
for ((i = 0; i < ${#cases[@]}; i += 2)); do
  eval "words=(${cases[i]})"
  got=$(complete_words "${words[@]}")
  if [ "$got" = "${cases[i + 1]}" ]; then
    echo "ok: ${cases[i]} -> $got"
  else
    fail "${cases[i]}: offered '$got', expected '${cases[i + 1]}'"
  fi
done

# ---- every option of --help: completed, and in the manual page ---------------------------
help=$(vyrconvert --help 2>&1) || { fail "vyrconvert --help failed"; help=""; }
mapfile -t options < <(help_options "$help")
[ "${#options[@]}" -ge 5 ] || fail "found only ${#options[@]} options in vyrconvert --help: ${options[*]}"
offered=" $(complete_words vyrconvert -) "
manual=$(manual_options "$build/packaging/man/vyrconvert.1")
for o in "${options[@]}"; do
  [[ $offered == *" $o "* ]] || fail "completion does not offer $o"
  manual_has_option "$manual" "$o" || fail "the manual page has no entry for $o"
done
echo "options of --help: ${options[*]}"

finish_checks
