#!/usr/bin/env bash
# Usage: man_pages_test.sh KBSEARCH_CLI PAGE...
# Renders each manual page as man does, at a narrow, a usual and a wide line length, and fails
# on any warning of groff; then checks that every option kbsearch-cli --help names has an
# entry of its own among the OPTIONS of kbsearch-cli.1, so that the two never drift apart.
# Exits 77 (skipped) when groff is not installed.
set -euo pipefail

cli="$1"
shift
command -v groff >/dev/null || { echo "groff is not installed"; exit 77; }

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

for page in "$@"; do
  for width in 60n 80n 132n; do
    warnings="$(groff -ww -man -Tutf8 -rLL="$width" -z "$page" 2>&1)"
    [ -z "$warnings" ] || fail "$page at line length $width:"$'\n'"$warnings"
  done
done

# The term lines of the OPTIONS section, as plain text with ASCII hyphens.
option_terms="$(groff -man -Tutf8 -P-cbou kbsearch-cli.1 |
  sed -e 's/\xe2\x88\x92/-/g' -e 's/\xe2\x80\x90/-/g' |
  awk '/^[A-Z]/ { in_options = ($0 == "OPTIONS") } in_options && /^       -/')"

# Every option that a line of --help lists, such as "  -C DIR, --directory=DIR  ...".
help_options="$("$cli" --help | grep -E '^ +-' | grep -oE -- '(^|[ ,|])--?[A-Za-z0-9][A-Za-z0-9-]*' |
  sed -E 's/^[ ,|]//' | sort -u)"
[ -n "$help_options" ] || fail "kbsearch-cli --help lists no option"

for option in $help_options; do
  grep -qE -- "^ +(.*[ ,])?${option}([ ,=[]|$)" <<<"$option_terms" ||
    fail "kbsearch-cli.1 has no entry for $option, which kbsearch-cli --help lists"
done

[ "$failed" -eq 0 ] && echo "manual pages render cleanly and describe every option of --help"
exit "$failed"
