# Shared by tools/run and tools/test: installing what is missing and configuring a build.
# Source it from a script that has `set -euo pipefail`.

KBSEARCH_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Debian packages the build and the tests need.
KBSEARCH_PACKAGES=(
  g++ cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev nlohmann-json3-dev
  qt6-base-dev qt6-svg-dev libgl-dev
  libutf8proc-dev libsqlite3-dev libmicrohttpd-dev
  clang libclang-rt-14-dev
  groff-base
  dpkg-dev file
  desktop-file-utils appstream xdg-utils
  chromium chromium-driver python3-selenium
)

# What the benchmarks need besides (bench/README.md): `ensure_packages "${KBSEARCH_BENCH_PACKAGES[@]}"`.
KBSEARCH_BENCH_PACKAGES=(wrk strace)

say() { printf '==> %s\n' "$*" >&2; }

# ensure_packages [package...]
# Installs the packages (by default KBSEARCH_PACKAGES) that are not installed yet; does nothing
# when all are there.
ensure_packages() {
  local wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${KBSEARCH_PACKAGES[@]}")
  local missing=()
  local package
  for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { say "missing packages (${missing[*]}) and no sudo"; return 1; }
    sudo=(sudo)
  fi
  say "installing ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# The Release build of the two programs, without the tests and the benchmarks: GoogleTest and
# Qt's test module are hidden from CMake, so that the build fails if anything but a test still
# asks for them. tools/run builds its programs there and tools/package its package. It is a
# unity build: each target's sources are compiled a few at a time as one, which reads the
# headers they share once per batch: two fifths less compiling than file by file.
KBSEARCH_RELEASE_BUILD="$KBSEARCH_ROOT/build/release"
KBSEARCH_RELEASE_OPTIONS=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKBSEARCH_SANITIZE=OFF -DKBSEARCH_FUZZ=OFF
  -DKBSEARCH_BUILD_GUI=ON -DCMAKE_UNITY_BUILD=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6Test=ON
)

# configure_release <build dir>
configure_release() {
  cmake -S "$KBSEARCH_ROOT" -B "$1" -G Ninja --no-warn-unused-cli "${KBSEARCH_RELEASE_OPTIONS[@]}" \
    >/dev/null
}

# is_release_build <build dir>
# Succeeds when the folder holds a build configured from this tree with every one of
# KBSEARCH_RELEASE_OPTIONS, so that it can be built on instead of configuring another.
is_release_build() {
  local cache="$1/CMakeCache.txt" option name value
  [ -f "$cache" ] || return 1
  grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$KBSEARCH_ROOT" "$cache" || return 1
  for option in "${KBSEARCH_RELEASE_OPTIONS[@]}"; do
    option="${option#-D}"
    name="${option%%=*}"
    value="${option#*=}"
    grep -qE "^$name:[A-Z]+=$value\$" "$cache" || return 1
  done
}

# configure_and_build <build dir> <target> [cmake options...]
configure_and_build() {
  local dir="$1" target="$2"
  shift 2
  cmake -S "$KBSEARCH_ROOT" -B "$dir" -G Ninja "$@" >/dev/null &&
    cmake --build "$dir" --target "$target"
}
