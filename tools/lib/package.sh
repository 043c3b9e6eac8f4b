# The Release build without tests in build/package, and the Debian package made from it.
# Source it after common.sh.

KBSEARCH_PACKAGE_BUILD="$KBSEARCH_ROOT/build/package"

# build_without_tests
# Configures and builds build/package without the tests, hiding GoogleTest and Qt's test
# module from CMake, so that the build fails if anything but a test still asks for them.
build_without_tests() {
  cmake -S "$KBSEARCH_ROOT" -B "$KBSEARCH_PACKAGE_BUILD" -G Ninja --no-warn-unused-cli \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6Test=ON >/dev/null ||
    return 1
  cmake --build "$KBSEARCH_PACKAGE_BUILD"
}

# build_package
# Builds build/package and makes the Debian package there with CPack; prints its path, and
# nothing else, on standard output. Meant to run as deb="$(build_package)", where a failing
# command does not end the script by itself: each step returns on failure.
build_package() {
  build_without_tests >&2 || return 1
  local report
  report="$(cd "$KBSEARCH_PACKAGE_BUILD" && cpack -G DEB)" || return 1
  local deb
  deb="$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$report")"
  [ -n "$deb" ] || { say "cpack made no package"; return 1; }
  printf '%s\n' "$deb"
}
