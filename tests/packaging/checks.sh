# Helpers of the packaging checks (sourced by them, not run).

failures=0
# fail MESSAGE: one failed check; the script goes on and ends with finish_checks.
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# Ends the script: status 1 when a check failed.
finish_checks() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
}

# quiet_check NAME COMMAND...: the command must succeed and print nothing on standard error;
# its output is shown when it does not. Uses the scratch folder $tmp.
quiet_check() {
  local name="$1" rc
  shift
  "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
  if [ $rc -ne 0 ]; then
    fail "$name: exit status $rc"
    cat "$tmp/out" "$tmp/err" >&2
  elif [ -s "$tmp/err" ]; then
    fail "$name: warnings"
    cat "$tmp/err" >&2
  else
    echo "ok: $name"
  fi
}

# help_options HELP-TEXT: the options (-x, --long-name) a --help text names, sorted, one a line.
help_options() {
  grep -oE '(^|[[ ])(-[a-zA-Z]|--[a-z][a-z-]*)' <<<"$1" | tr -d '[ ' | LC_ALL=C sort -u
}
# manual_options PAGE: the OPTIONS section of a manual page file as man shows it.
manual_options() {
  MANWIDTH=80 man -E UTF-8 -l "$1" 2>/dev/null | sed -n '/^OPTIONS/,/^[A-Z]/p'
}
# manual_has_option SECTION OPTION: the section has an entry for the option.
manual_has_option() {
  grep -qE "^ {7}(-[a-zA-Z], )?$2( |,|$)" <<<"$1"
}
