#!/usr/bin/env bash
# The tool's manual page and bash completion against its own --help, so that
# the three cannot drift apart: the same commands, and for each command the
# same options. Then a few completions as bash gives them, and the manual
# page through groff without a warning.
#   cli_docs_test.sh CLI MANUAL-PAGE COMPLETION
set -euo pipefail
cli=$1
manual=$2
completion=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}
options() { { grep -oE -- '--[a-z][a-z-]*' || true; } | sort -u | tr '\n' ' '; }

# The manual page as plain text: roff's escaped minus signs as '-'.
sed 's/\\-/-/g' "$manual" >"$dir/manual"

# The commands: those of the tool's help, the manual page's sections.
"$cli" --help >"$dir/help"
help_commands=$(sed -n '/^Commands:/,/^$/p' "$dir/help" | grep -oE '^  [a-z][a-z-]*' | tr -d ' ' |
  sort | tr '\n' ' ')
manual_commands=$(grep -oE '^\.SS [a-z][a-z-]*' "$dir/manual" | cut -c5- | sort | tr '\n' ' ')
[ -n "$help_commands" ] || fail "no commands in --help"
[ "$help_commands" = "$manual_commands" ] ||
  fail "commands: --help has '$help_commands', the manual page '$manual_commands'"

# The manual page's title names the tool's version.
version=$("$cli" --version | cut -d' ' -f2)
grep -q "^\.TH .*\"Velmorcrypt Vozeri $version\"" "$manual" || fail "the manual page is not of $version"

# The tool's own options, in the manual page's OPTIONS section.
global=$(sed -n '/^Options:/,$p' "$dir/help" | options)
manual_global=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$dir/manual" | options)
[ "$global" = "$manual_global" ] || fail "options: --help has '$global', the manual '$manual_global'"

# shellcheck source=/dev/null
source "$completion"
complete_words() {  # complete_words WORD...: what completing the last word offers
  COMP_WORDS=(velmorcrypt-cli "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _velmorcrypt_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
offered=$(tr ' ' '\n' <<<"$help_commands --help --version" | grep . | sort | tr '\n' ' ')
[ "$(complete_words '')" = "$offered" ] || fail "completion of the commands: $(complete_words '')"

# Each command: its help's options are the manual section's (which leaves
# --help to the OPTIONS section) and the completion's.
for command in $help_commands; do
  "$cli" "$command" --help >"$dir/command" || fail "$command --help"
  head -1 "$dir/command" | grep -q "^Usage: velmorcrypt-cli $command" || fail "$command: usage"
  own=$(options <"$dir/command")
  section=$(awk -v c="$command" '$1 ~ /^\.S[SH]$/ { on = $1 == ".SS" && $2 == c } on' "$dir/manual" |
    options)
  [ "${own/--help /}" = "$section" ] ||
    fail "$command: --help has '$own', the manual page '$section'"
  [ "$(complete_words "$command" --)" = "$own" ] ||
    fail "$command: --help has '$own', the completion '$(complete_words "$command" --)'"
done

# A few completions with files.
mkdir "$dir/files" "$dir/files/sub"
touch "$dir/files/a.ehb" "$dir/files/b.vmv" "$dir/files/c d.vmv"
[ "$(complete_words create x --algorithm blow)" = "blowfish-128 blowfish-448 " ] ||
  fail "algorithm names: $(complete_words create x --algorithm blow)"
[ "$(complete_words mount x y --codepage 95)" = "950 " ] ||
  fail "code pages: $(complete_words mount x y --codepage 95)"
[ "$(complete_words info "$dir/files/b.vmv" --header "$dir/files/")" = \
  "$dir/files/a.ehb $dir/files/sub " ] || fail "--header: $(complete_words info x --header "$dir/files/")"
[ "$(complete_words mount x "$dir/files/")" = "$dir/files/sub " ] ||
  fail "mount's folder: $(complete_words mount x "$dir/files/")"
[ "$(complete_words create x --filesystem e)" = "exfat ext4 " ] ||
  fail "--filesystem: $(complete_words create x --filesystem e)"
[ "$(complete_words backup-header "$dir/files/b")" = "$dir/files/b.vmv " ] ||
  fail "a volume file: $(complete_words backup-header "$dir/files/b")"
complete_words restore-header "$dir/files/c" >/dev/null
if [ "${#COMPREPLY[@]}" -ne 1 ] || [ "${COMPREPLY[0]}" != "$dir/files/c d.vmv" ]; then
  fail "a name with a space: ${COMPREPLY[*]}"
fi

# The manual page renders without a warning.
warnings=$(groff -man -Tutf8 -ww -z "$manual" 2>&1)
[ -z "$warnings" ] || fail "groff: $warnings"

[ "$failed" -eq 0 ] && echo "cli_docs_test.sh: all passed"
exit "$failed"
