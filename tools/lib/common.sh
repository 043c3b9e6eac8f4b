# Shared by tools/run and tools/test: installing what is missing and configuring a build.
# Source it from a script that has `set -euo pipefail`.

KBSEARCH_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Debian packages the build and the tests need.
KBSEARCH_PACKAGES=(
  g++ cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev nlohmann-json3-dev
  qt6-base-dev qt6-svg-dev libgl-dev
  libutf8proc-dev libsqlite3-dev
  clang libclang-rt-14-dev
  groff-base
  dpkg-dev file
  desktop-file-utils appstream xdg-utils
  chromium chromium-driver python3-selenium
)

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

# configure_and_build <build dir> [cmake options...]
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$KBSEARCH_ROOT" -B "$dir" -G Ninja "$@" >/dev/null &&
    cmake --build "$dir"
}
