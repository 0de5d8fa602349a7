#!/usr/bin/env bash
# Makes the packages, with CPack, into build/packages/:
#   pondsim_<version>_amd64.deb            from the native build
#   pondsim-<version>-windows-x64.zip      from the MinGW-w64 cross build
#   pondsim-<version>-web.zip              the web pages, from the Emscripten build
# The native build is the one in PONDSIM_BUILD_DIR (build/release), made
# here without the tests if it is not configured yet.
#
# Usage: scripts/package.sh [deb|zip|web ...]   (all of them)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${PONDSIM_BUILD_DIR:-build/release}
out=$PWD/build/packages

scripts/install-deps.sh test
mkdir -p "$out"

# cpack installs the build into a folder of its own and packs that; it
# rebuilds what is out of date first.
pack() {  # pack BUILD_DIR
  (cd "$1" && cpack -B "$out")
  rm -rf "$out/_CPack_Packages"
}

package_deb() {
  [ -f "$build/CMakeCache.txt" ] ||
    cmake --preset run -B "$build"
  # Only the package carries manual pages: the run build stays without.
  cmake -B "$build" -DPONDSIM_MAN_PAGES=ON >/dev/null
  cmake --build "$build" -j"$(nproc)"
  pack "$build"
}

package_zip() {
  scripts/build-glew-mingw.sh
  scripts/fetch-imgui-source.sh
  cmake --preset windows
  cmake --build --preset windows -j"$(nproc)"
  pack build/windows
}

package_web() {
  scripts/fetch-imgui-source.sh
  NODE_PATH=/usr/share/nodejs cmake --preset web
  NODE_PATH=/usr/share/nodejs cmake --build --preset web -j"$(nproc)"
  pack build/web
}

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(deb zip web)
for kind in "${kinds[@]}"; do
  case "$kind" in
    deb | zip | web) "package_$kind" ;;
    *) echo "usage: scripts/package.sh [deb|zip|web ...]" >&2; exit 2 ;;
  esac
done
ls -l "$out"
