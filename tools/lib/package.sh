# The Release build without tests in build/package, and the Debian package made from it.
# Source it after common.sh.

KBSEARCH_PACKAGE_BUILD="$KBSEARCH_ROOT/build/package"

# build_without_tests
# Configures and builds build/package without the tests, hiding GoogleTest and Qt's test
# module from CMake, so that the build fails if anything but a test still asks for them.
build_without_tests() {
  cmake -S "$KBSEARCH_ROOT" -B "$KBSEARCH_PACKAGE_BUILD" -G Ninja --no-warn-unused-cli \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6Test=ON >/dev/null
  cmake --build "$KBSEARCH_PACKAGE_BUILD"
}
