# What the tool's shell tests share (POSIX sh); each test sets $cli and $dir
# before it sources this file.

# fail WHAT: says what failed, with the tool's last output, and stops.
fail() {
  echo "FAILED: $1" >&2
  if [ -f "$dir/err" ]; then
    echo "--- stdout:" >&2
    cat "$dir/out" >&2
    echo "--- stderr:" >&2
    cat "$dir/err" >&2
  fi
  exit 1
}

# expect CODE TEXT WHAT: the last run exited with CODE and, unless TEXT is
# empty, said TEXT on its standard output or error.
expect() {
  [ "$code" -eq "$1" ] || fail "$3: exit code $code, wanted $1"
  [ -z "$2" ] || grep -qF -- "$2" "$dir/out" "$dir/err" || fail "$3: no '$2'"
}

# vm ARGS...: the tool with the password "pw" (twice, for a new one); the
# exit code in $code, the output in $dir/out and $dir/err.
vm() {
  code=0
  printf 'pw\npw\n' | timeout 300 "$cli" "$@" --password-stdin >"$dir/out" 2>"$dir/err" || code=$?
}
