#!/bin/sh
# Runs the built command-line tool as a program, the way a script would:
# passwords on standard input, messages on standard error, exit codes.
#   cli_test.sh CLI [RUNNER...]   (RUNNER: e.g. the Wine runner for the .exe)
set -eu
cli=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# run INPUT ARGS...: runs the tool; leaves the exit code in $code and the
# streams, without carriage returns, in $dir/out and $dir/err.
run() {
  input=$1
  shift
  code=0
  printf "$input" | "$@" >"$dir/out.raw" 2>"$dir/err.raw" || code=$?
  tr -d '\r' <"$dir/out.raw" >"$dir/out"
  tr -d '\r' <"$dir/err.raw" >"$dir/err"
}

. "$(dirname "$0")/tool_test_support.sh"

run 'secret\nsecret\n' "$@" "$cli" create "$dir/v.vmv" --size 2 --filesystem none --algorithm blowfish-128 --password-stdin
expect 0 "Velmorcrypt volume successfully created." "create"
[ "$(wc -c <"$dir/v.vmv")" -eq 2098196 ] || fail "volume size"

run 'secret\n' "$@" "$cli" info "$dir/v.vmv" --password-stdin
expect 0 "Algorithm: Blowfish-128" "info"
expect 0 "Body: 2097152 bytes (2 MB)" "info"

run 'secret\nfresh\nfresh\n' "$@" "$cli" passwd "$dir/v.vmv" --password-stdin
expect 0 "Password successfully changed." "passwd"

run 'secret\n' "$@" "$cli" info "$dir/v.vmv" --password-stdin
expect 1 "Error decrypting header information with the supplied password." "info, old password"
[ ! -s "$dir/out" ] || fail "info with a wrong password printed on standard output"

run 'secret\nother\nother\n' "$@" "$cli" passwd "$dir/v.vmv" --password-stdin
expect 1 "Error changing password." "passwd, old password"

run 'fresh\n' "$@" "$cli" info "$dir/v.vmv" --password-stdin
expect 0 "Algorithm: Blowfish-128" "info, new password"

run '' "$@" "$cli" create "$dir/w.vmv" --size 1 </dev/null
expect 2 "use --password-stdin" "create without a password source"

# A backup planted beside a.vmv ("alpha"): a.vmv's header, then b.vmv's
# ("beta"). "beta" opens nothing and nothing is written; "alpha" still
# opens, and its password change replaces the backup.
run 'alpha\nalpha\n' "$@" "$cli" create "$dir/a.vmv" --size 1 --filesystem none --password-stdin
expect 0 "successfully created" "create a"
run 'beta\nbeta\n' "$@" "$cli" create "$dir/b.vmv" --size 1 --filesystem none --algorithm aes-256 --password-stdin
expect 0 "successfully created" "create b"
if [ $# -eq 0 ]; then
  [ "$(stat -c %a "$dir/a.vmv")" = 600 ] || fail "a new volume is not private to its owner"
fi
{ tail -c 1044 "$dir/a.vmv"; tail -c 1044 "$dir/b.vmv"; } >"$dir/a.vmv.header-backup"
cp "$dir/a.vmv" "$dir/a.copy"
cp "$dir/a.vmv.header-backup" "$dir/backup.copy"
run 'beta\n' "$@" "$cli" info "$dir/a.vmv" --password-stdin
expect 1 "Error decrypting header information with the supplied password." "info, planted backup"
expect 1 "the next password change removes it" "info, planted backup reported"
run 'beta\nx\nx\n' "$@" "$cli" passwd "$dir/a.vmv" --password-stdin
expect 1 "Error changing password." "passwd, planted backup"
cmp -s "$dir/a.vmv" "$dir/a.copy" || fail "the planted backup changed the volume"
cmp -s "$dir/a.vmv.header-backup" "$dir/backup.copy" || fail "a read changed the backup"
run 'alpha\n' "$@" "$cli" info "$dir/a.vmv" --password-stdin
expect 0 "Algorithm: AES-128" "info, own password beside a planted backup"
run 'alpha\ngamma\ngamma\n' "$@" "$cli" passwd "$dir/a.vmv" --password-stdin
expect 0 "Password successfully changed." "passwd beside a planted backup"
[ ! -e "$dir/a.vmv.header-backup" ] || fail "the change left the planted backup"
run 'gamma\n' "$@" "$cli" info "$dir/a.vmv" --password-stdin
expect 0 "Algorithm: AES-128" "info after the change"

# A saved header brings its password back (only with --force over a header
# with a later password); info --json is strict JSON.
run 'gamma\n' "$@" "$cli" backup-header "$dir/a.vmv" "$dir/a.saved" --password-stdin
expect 0 "Header saved to" "backup-header"
[ "$(wc -c <"$dir/a.saved")" -eq 1044 ] || fail "a header backup of another size than 1044 bytes"
run 'gamma\nomega\nomega\n' "$@" "$cli" passwd "$dir/a.vmv" --password-stdin
expect 0 "Password successfully changed." "passwd after the header backup"
run 'gamma\n' "$@" "$cli" restore-header "$dir/a.vmv" "$dir/a.saved" --password-stdin
expect 1 "restore it with --force" "restore-header over a later password"
run 'gamma\n' "$@" "$cli" restore-header "$dir/a.vmv" "$dir/a.saved" --force --password-stdin
expect 0 "Header restored from" "restore-header --force"
run 'gamma\n' "$@" "$cli" info "$dir/a.vmv" --json --password-stdin
expect 0 '"algorithm": "AES-128"' "info --json"
jq -e '.headerPlacement == "volume file" and .bodySize == 1048576 and .headerBackup == "none"' \
  "$dir/out" >/dev/null || fail "info --json is no JSON of the volume"

# Natively: the folder is flushed after the backup is created and after it
# is removed, so that a power loss keeps the backup's name as long as the
# header may need it.
if [ $# -eq 0 ]; then
  # (LeakSanitizer, in the sanitizer build, cannot run under a tracer.)
  printf 'gamma\ndelta\ndelta\n' | ASAN_OPTIONS=detect_leaks=0 \
    strace -f -e trace=openat,fsync -o "$dir/trace" "$cli" passwd "$dir/a.vmv" --password-stdin \
    >/dev/null 2>&1 || fail "passwd under strace"
  flushes=$(awk '/O_DIRECTORY/ { split($0, r, "= "); folder[r[2] + 0] = 1 }
    /fsync\(/ { match($0, /fsync\([0-9]+/); fd = substr($0, RSTART + 6, RLENGTH - 6) + 0;
      if (fd in folder) n++; delete folder[fd] }
    END { print n + 0 }' "$dir/trace")
  [ "$flushes" -ge 2 ] || fail "the folder was flushed $flushes times in a password change"
fi

# Passwords beyond ASCII are their letters in a Windows code page: 1252
# unless --codepage names another (under Wine, the system's ANSI code page,
# 1252 there too). A new password with letters the page cannot hold is
# refused and nothing is written; volumes made by 1.0 (tests/data) open as
# they did, the "?" bytes its window stored for such letters with a warning.
truncate -s 1M "$dir/body.vmv"
data=$(dirname "$0")/../data
while IFS='|' read -r input options code text what; do
  # shellcheck disable=SC2086 # the options are words
  run "$input" "$@" "$cli" $options --password-stdin
  expect "$code" "$text" "$what"
done <<EOF
Grüße\nGrüße\n|create $dir/g.vmv --size 1 --filesystem none|0|successfully created|create, Western letters
Grüße\n|info $dir/g.vmv --codepage windows-1252|0|Algorithm: AES-128|info, Western letters
Grüße\n|info $dir/g.vmv --codepage utf-8|1|Error decrypting header|info, the letters in UTF-8
Пароль\nПароль\n|create $dir/refused.vmv --size 1 --filesystem none|1|Letters 1 to 6 of the password cannot be used in code page 1252.|create, Cyrillic in 1252
Grüße\nПароль\nПароль\n|passwd $dir/g.vmv|1|Letters 1 to 6 of the password cannot be used|passwd, Cyrillic in 1252
Grüße\n|info $dir/g.vmv|0|Algorithm: AES-128|info after the refused passwd
Пароль\nПароль\n|create $dir/c.vmv --size 1 --filesystem none --codepage cp1251|0|successfully created|create, Cyrillic in 1251
Пароль\n|info $dir/c.vmv --codepage 1251|0|Algorithm: AES-128|info, Cyrillic in 1251
\377\n|info $dir/g.vmv|1|the password is not UTF-8 text|info, no UTF-8
pw\n|info $dir/g.vmv --codepage latin1|2|unknown code page 'latin1'|an unknown code page
pw\n|info $dir/g.vmv --codepage 1234|1|code page 1234 is not available on this system|a code page the system lacks
Velmorcrypt 1.0\n|info $dir/body.vmv --header $data/v1.0-ascii-password.ehb|0|Algorithm: AES-128|1.0, an ASCII password
Пароль\n|info $dir/body.vmv --header $data/v1.0-question-marks.ehb|0|Please give it a new password|1.0, "??????" for Cyrillic letters
EOF
[ ! -e "$dir/refused.vmv" ] || fail "a refused password left a volume"

run '' "$@" "$cli" --version
expect 0 "velmorcrypt-cli " "version"
echo "cli_test.sh: all passed"
