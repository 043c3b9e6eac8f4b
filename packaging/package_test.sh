#!/usr/bin/env bash
# Usage: package_test.sh DEB BUILT_KBSEARCH_CLI
# Unpacks the Debian package into a scratch root and checks what it holds: its control fields
# and file name, exactly the expected files, and programs that run from there: every library
# kbsearch needs is found, kbsearch and kbsearch-cli --version give the package's version,
# and a search of a copy of the sample knowledge base prints and writes what the kbsearch-cli
# of the build does.
set -euo pipefail

deb="$(realpath "$1")"
built_cli="$(realpath "$2")"
sample="$(cd "$(dirname "$0")/../sample" && pwd)"

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
dpkg-deb -x "$deb" "$root"

version="$(dpkg-deb -f "$deb" Version)"
architecture="$(dpkg-deb -f "$deb" Architecture)"
depends="$(dpkg-deb -f "$deb" Depends)"
[ "$(dpkg-deb -f "$deb" Package)" = kbsearch ] || fail "the package is not named kbsearch"
[ "$architecture" = "$(dpkg --print-architecture)" ] || fail "architecture $architecture"
[ "$(basename "$deb")" = "kbsearch_${version}_${architecture}.deb" ] ||
  fail "file name $(basename "$deb") for version $version"
depended_on="$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/^ *//; s/[ (].*//')"
for library in libc6 libstdc++6 libqt6widgets6; do
  grep -qxF "$library" <<<"$depended_on" || fail "Depends lacks $library: $depends"
done

expected_files="usr/bin/kbsearch
usr/bin/kbsearch-cli
usr/share/applications/kbsearch.desktop
usr/share/bash-completion/completions/kbsearch-cli
usr/share/doc/kbsearch/README.md
usr/share/icons/hicolor/scalable/apps/kbsearch.svg
usr/share/man/man1/kbsearch-cli.1.gz
usr/share/man/man1/kbsearch.1.gz"
files="$(cd "$root" && find . ! -type d | sed 's|^\./||' | sort)"
[ "$files" = "$expected_files" ] ||
  fail "the package holds other files than expected:"$'\n'"$(diff <(echo "$expected_files") <(echo "$files"))"
gzip -t "$root"/usr/share/man/man1/*.gz || fail "a manual page does not decompress"

missing="$(ldd "$root/usr/bin/kbsearch" | grep 'not found' || true)"
[ -z "$missing" ] || fail "kbsearch needs libraries that are not installed:"$'\n'"$missing"

cli_version="$("$root/usr/bin/kbsearch-cli" --version)"
[ "$cli_version" = "kbsearch-cli $version" ] || fail "--version says '$cli_version'"
# The window program answers --version without a display.
window_version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/kbsearch" --version)"
[ "$window_version" = "kbsearch $version" ] || fail "kbsearch --version says '$window_version'"

# The same search with the unpacked and the built program, each on its own copy of the sample.
search() {
  local program="$1" copy="$2"
  cp -R "$sample" "$copy"
  local status=0
  "$program" -C "$copy" marker >"$copy.out" 2>&1 || status=$?
  echo "$status" >>"$copy.out"
}
search "$root/usr/bin/kbsearch-cli" "$scratch/unpacked"
search "$built_cli" "$scratch/built"
[ "$(tail -n 1 "$scratch/unpacked.out")" = 0 ] ||
  fail "the unpacked kbsearch-cli found nothing:"$'\n'"$(cat "$scratch/unpacked.out")"
cmp -s "$scratch/unpacked.out" "$scratch/built.out" ||
  fail "the unpacked kbsearch-cli printed other than the built one"
cmp -s "$scratch/unpacked/ZebResult.htm" "$scratch/built/ZebResult.htm" ||
  fail "the unpacked kbsearch-cli wrote another page than the built one"

[ "$failed" -eq 0 ] && echo "the package $(basename "$deb") holds what it should, and runs"
exit "$failed"
