# Shared by the shell tests: `check DESCRIPTION COMMAND...` prints a TAP-like
# line per check; `checks_done` prints the tally and fails on any failure.
passes=0 failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok - $what"; passes=$((passes + 1)); else echo "not ok - $what"; failures=$((failures + 1)); fi
}
# `same_json FILE JSON`: the file holds that document, members in any order.
same_json() {
  [[ $(python3 -m json.tool --sort-keys "$1") == "$(python3 -m json.tool --sort-keys <<< "$2")" ]] ||
    { echo "# $1: $(cat "$1")"; return 1; }
}
checks_done() { echo "$passes passed, $failures failed"; ((failures == 0)); }
