#!/usr/bin/env bash
# Usage: completion_test.sh COMPLETION_SCRIPT KBSEARCH_CLI
# Sources the bash completion of kbsearch-cli and completes command lines as bash would hand
# them over (COMP_WORDS, COMP_CWORD), checking COMPREPLY: every option --help lists is offered,
# folders and files where they belong, the choices of --fold and --match in both forms.
set -euo pipefail

script="$1"
cli="$(realpath "$2")"
source "$script"

failed=0

# completions WORD... : the completions of the last word, sorted, on one line.
completions() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _kbsearch_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}

# expect "EXPECTED" WORD... : the completions of the last word are exactly EXPECTED.
expect() {
  local expected="$1"
  shift
  local got
  got="$(completions "$@")"
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $* -> '$got', expected '$expected'"
    failed=1
  fi
}

[[ "$(complete -p kbsearch-cli)" == *"-F _kbsearch_cli"* ]] ||
  { echo "FAIL: kbsearch-cli has no completion"; failed=1; }

# Every option of --help is offered, short ones for "-", long ones for "--".
offered=" $(completions kbsearch-cli -) "
for option in $("$cli" --help | grep -E '^ +-' |
  grep -oE -- '(^|[ ,|])--?[A-Za-z0-9][A-Za-z0-9-]*' | sed -E 's/^[ ,|]//' | sort -u); do
  [[ $offered == *" $option "* ]] || { echo "FAIL: $option of --help is not offered"; failed=1; }
done
expect "--threads" kbsearch-cli --thr

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
mkdir alpha alpine "al space" beta
touch alphabet.env beta.env

expect "al space alpha alpine" kbsearch-cli -C al
expect "alpha alpine" kbsearch-cli --open --directory alp
expect "alpha alpine" kbsearch-cli --directory = alp
expect "--directory=alpha --directory=alpine" kbsearch-cli --directory=alp
expect "al space alpha alphabet.env alpine" kbsearch-cli --settings al
expect "accents ascii unicode" kbsearch-cli --fold ""
expect "accents ascii unicode" kbsearch-cli --fold =
expect "unicode" kbsearch-cli --fold = u
expect "--fold=accents --fold=ascii" kbsearch-cli --fold=a
expect "bytes text" kbsearch-cli -l --match ""
expect "hits" kbsearch-cli --order h
expect "--order=name" kbsearch-cli --order=n
expect "" kbsearch-cli -j ""
expect "" kbsearch-cli al
expect "" kbsearch-cli -- -

[ "$failed" -eq 0 ] && echo "completion of kbsearch-cli as expected"
exit "$failed"
