#!/usr/bin/env bash
# Usage: package_test.sh DEB BUILT_KBSEARCH_CLI
# Unpacks the Debian package into a scratch root and checks what it holds: its control fields
# and file name, exactly the expected files, and programs that run from there: every library
# kbsearch needs is found, kbsearch and kbsearch-cli --version give the package's version,
# kbsearch without a display says so, and a search of a copy of the sample knowledge base
# prints and writes what the kbsearch-cli of the build does. The desktop files are checked
# too: the menu entry and the AppStream data are valid, the copyright file is in Debian's
# machine-readable form, and the menu entry takes no kind of file over, folders least of all.
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
for library in libc6 libstdc++6 libqt6widgets6 libmicrohttpd12; do
  grep -qxF "$library" <<<"$depended_on" || fail "Depends lacks $library: $depends"
done
recommends="$(dpkg-deb -f "$deb" Recommends)"
for package in xdg-utils qt6-wayland bash-completion; do
  tr ',' '\n' <<<"$recommends" | sed 's/^ *//' | grep -qxF "$package" ||
    fail "Recommends lacks $package: $recommends"
done

expected_files="usr/bin/kbsearch
usr/bin/kbsearch-cli
usr/bin/kbsearch-server
usr/lib/systemd/system/kbsearch-server@.service
usr/share/applications/kbsearch.desktop
usr/share/bash-completion/completions/kbsearch-cli
usr/share/doc/kbsearch/README.md
usr/share/doc/kbsearch/copyright
usr/share/icons/hicolor/scalable/apps/kbsearch.svg
usr/share/man/man1/kbsearch-cli.1.gz
usr/share/man/man1/kbsearch-server.1.gz
usr/share/man/man1/kbsearch.1.gz
usr/share/man/man5/kbsearch.env.5.gz
usr/share/metainfo/org.example.kbsearch.metainfo.xml"
files="$(cd "$root" && find . ! -type d | sed 's|^\./||' | sort)"
[ "$files" = "$expected_files" ] ||
  fail "the package holds other files than expected:"$'\n'"$(diff <(echo "$expected_files") <(echo "$files"))"
gzip -t "$root"/usr/share/man/man*/*.gz || fail "a manual page does not decompress"

share="$root/usr/share"
desktop-file-validate "$share/applications/kbsearch.desktop" ||
  fail "the menu entry is not valid"
appstreamcli validate --no-net --pedantic "$share/metainfo/org.example.kbsearch.metainfo.xml" ||
  fail "the AppStream data is not valid"
grep -q "<release version=\"$version\"" "$share/metainfo/org.example.kbsearch.metainfo.xml" ||
  fail "the AppStream data names no release $version"
head -n 1 "$share/doc/kbsearch/copyright" |
  grep -qxF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not in the machine-readable format"
grep -qx 'License: Expat' "$share/doc/kbsearch/copyright" || fail "the copyright file names no licence"

# Which program opens a folder, with a file manager's menu entry and without, before the
# package's entry is there and after, its cache made as installing it makes it.
default_for_folders() {
  env -i PATH="$PATH" HOME="$scratch/home" XDG_DATA_HOME="$scratch/home" \
    XDG_CONFIG_HOME="$scratch/home" XDG_DATA_DIRS="$1" xdg-mime query default inode/directory
}
mkdir -p "$scratch/home" "$scratch/fm/applications" "$scratch/none/applications" \
  "$scratch/installed/applications"
printf '%s\n' '[Desktop Entry]' 'Type=Application' 'Name=Files' 'Exec=files %U' \
  'MimeType=inode/directory;' >"$scratch/fm/applications/files.desktop"
cp "$share/applications/kbsearch.desktop" "$scratch/installed/applications/"
update-desktop-database "$scratch/fm/applications" "$scratch/installed/applications"
for others in fm none; do
  before="$(default_for_folders "$scratch/$others")"
  after="$(default_for_folders "$scratch/installed:$scratch/$others")"
  [ "$before" = "$after" ] ||
    fail "installing kbsearch changes what opens folders ($others): '$before', then '$after'"
done
[ "$(default_for_folders "$scratch/fm")" = files.desktop ] ||
  fail "the file manager's entry is not taken: the check above proves nothing"

missing="$(ldd "$root/usr/bin/kbsearch" | grep 'not found' || true)"
[ -z "$missing" ] || fail "kbsearch needs libraries that are not installed:"$'\n'"$missing"

cli_version="$("$root/usr/bin/kbsearch-cli" --version)"
[ "$cli_version" = "kbsearch-cli $version" ] || fail "--version says '$cli_version'"
# The window program answers --version without a display.
window_version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/kbsearch" --version)"
[ "$window_version" = "kbsearch $version" ] || fail "kbsearch --version says '$window_version'"
# Without one, it says so in a line of its own.
status=0
no_display="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/kbsearch" 2>&1)" ||
  status=$?
[ "$status" = 2 ] && [ "$no_display" = \
  "kbsearch: no display to open the window on; kbsearch-cli searches without one" ] ||
  fail "kbsearch without a display: status $status, said '$no_display'"

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
