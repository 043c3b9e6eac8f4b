#!/usr/bin/env bash
# Usage: html_named_references_test.sh MAKE_SCRIPT TABLE
# Writes the table of named references afresh with MAKE_SCRIPT and fails when it differs from
# the committed TABLE, so that a hand edit or a newer list is noticed. Exits 77 (skipped)
# when Python or its html.entities module is missing.
set -euo pipefail

script="$1"
table="$2"
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }
python3 -c 'import html.entities' 2>/dev/null || { echo "Python has no html.entities"; exit 77; }

fresh="$(mktemp)"
trap 'rm -f "$fresh"' EXIT
python3 "$script" "$fresh"
diff -u "$table" "$fresh"
