# The sample search: a copy of sample/ under run/ (never the tracked files), searched in the
# window or with kbsearch-cli. Source it after common.sh.

# copy_sample
# Copies the sample knowledge base to run/sample afresh and prints its path.
copy_sample() {
  local sample="$KBSEARCH_ROOT/run/sample"
  rm -rf "$sample"
  mkdir -p "$KBSEARCH_ROOT/run"
  cp -R "$KBSEARCH_ROOT/sample" "$sample"
  printf '%s\n' "$sample"
}

# run_sample_window <build dir>
# Starts the window on a fresh copy of the sample knowledge base and waits until it is closed.
run_sample_window() {
  local build="$1"
  local sample
  sample="$(copy_sample)"
  say "starting kbsearch on the sample articles in $sample (type a phrase, press Search)"
  (cd "$sample" && "$build/gui/kbsearch")
}

# run_sample_search_with_cli <build dir> [phrase]
# Copies the sample knowledge base to run/sample afresh, searches it with kbsearch-cli and
# prints the articles found and where the results page is.
run_sample_search_with_cli() {
  local build="$1"
  local phrase="${2:-marker}"
  local sample
  sample="$(copy_sample)"

  say "searching the sample articles for \"$phrase\""
  local status=0
  "$build/cli/kbsearch-cli" -C "$sample" "$phrase" || status=$?
  case "$status" in
    0) say "results page, with the snippets the sample's kbsearch.env asks for: $sample/ZebResult.htm" ;;
    1) say "no article matched; the (empty) results page is $sample/ZebResult.htm" ;;
    *) say "kbsearch-cli reported a problem (exit status $status)"; return "$status" ;;
  esac
  say "try: $build/cli/kbsearch-cli -C $sample --open \"another phrase\""
}
