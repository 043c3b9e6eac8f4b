# The Release build without tests, and the Debian package made from it. Source it after
# common.sh.

# package_build_dir
# Prints the build the package is made from: tools/run's build/release when it is configured
# with the package's options, otherwise build/package, a build of its own.
package_build_dir() {
  if is_release_build "$KBSEARCH_RELEASE_BUILD"; then
    printf '%s\n' "$KBSEARCH_RELEASE_BUILD"
  else
    printf '%s\n' "$KBSEARCH_ROOT/build/package"
  fi
}

# build_package <build dir>
# Builds everything the package holds in <build dir> (from package_build_dir), configuring it
# first when it is not build/release, and makes the Debian package there with CPack; prints its
# path, and nothing else, on standard output. Meant to run as deb="$(build_package "$dir")",
# where a failing command does not end the script by itself: each step returns on failure.
build_package() {
  local dir="$1"
  if [ "$dir" = "$KBSEARCH_RELEASE_BUILD" ]; then
    say "building the package from tools/run's build in $dir"
  else
    say "configuring a Release build of its own in $dir (build/release is missing or configured otherwise)"
    configure_release "$dir" || return 1
  fi
  cmake --build "$dir" >&2 || return 1
  local report
  report="$(cd "$dir" && cpack -G DEB)" || return 1
  local deb
  deb="$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$report")"
  [ -n "$deb" ] || { say "cpack made no package"; return 1; }
  printf '%s\n' "$deb"
}
