#!/usr/bin/env bash
# Installs what pondsim needs on Debian 12. Safe to run again: it asks apt
# only for packages that are missing.
#
#   scripts/install-deps.sh [run|test]   (test)
#
# run:  what building and running the three programs and the headless drivers
#       needs (scripts/run.sh);
# test: that and everything the tests, the Windows and web builds and the
#       packages need (scripts/test.sh, scripts/package.sh).
set -euo pipefail

run_packages=(
  build-essential cmake ninja-build pkg-config
  libgl-dev libglew-dev libegl-dev libgl1-mesa-dri libpng-dev libx11-dev libimgui-dev libcli11-dev
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick
  g++-mingw-w64-x86-64 libz-mingw-w64-dev dpkg-dev xz-utils wine wine64 fonts-wine lintian desktop-file-utils
  help2man
  libxrender1 libxi6 libxrandr2 libxcursor1 libxcomposite1 libxinerama1 libxxf86vm1
  clang libclang-rt-14-dev
  ffmpeg python3-vtk9
  emscripten chromium
)

case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/install-deps.sh [run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# A machine whose Node.js came from elsewhere carries its own npm, which
# Debian's npm package would conflict with: ask for it only when none runs.
if [ "${1:-test}" = test ] && ! command -v npm >/dev/null; then missing+=(npm); fi
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
