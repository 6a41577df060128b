#!/usr/bin/env bash
# The help file beside the program: chmls (fp-utils) lists its contents, which
# must hold the start page, the contents, one topic per page of the main
# window, one for the Change Password dialog and one for passwords.
# Usage: help_file_test.sh <Velmorcrypt.chm>
set -euo pipefail
listing=$(chmls list "$1")
status=0
for topic in index.html toc.hhc status-page.html create-page.html mount-page.html \
  options-page.html about-page.html change-password-dialog.html passwords.html; do
  grep -q " /$topic\$" <<<"$listing" || { echo "missing: $topic" >&2; status=1; }
done
[ "$status" -eq 0 ] && echo "$(grep -c '\.html$' <<<"$listing") topics in $1"
exit "$status"
