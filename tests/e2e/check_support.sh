# Sourced by the release tests: `check WHAT COMMAND...` runs the command
# quietly and prints "ok" or "FAIL" with WHAT; `summary` prints the counts
# and fails when any check did.
passed=0 failed=0
check() {
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    echo "ok   $what"
    passed=$((passed + 1))
  else
    echo "FAIL $what"
    failed=$((failed + 1))
  fi
}
summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
