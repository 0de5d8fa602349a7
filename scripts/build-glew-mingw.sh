#!/usr/bin/env bash
# Builds a static GLEW for the MinGW-w64 cross build. Debian ships no MinGW
# GLEW, so this takes the source of Debian's own glew package
# (scripts/apt-source.sh, apt's state kept in <dir>/apt).
#
# Usage: scripts/build-glew-mingw.sh [output dir]   (default build/glew-mingw)
# Leaves <dir>/include/GL/{glew,wglew}.h and <dir>/lib/libglew32.a.
set -euo pipefail
cd "$(dirname "$0")/.."

out=$(realpath -m "${1:-build/glew-mingw}")
cc=${MINGW_CC:-x86_64-w64-mingw32-gcc-posix}
ar=${MINGW_AR:-x86_64-w64-mingw32-ar}

if [ -f "$out/lib/libglew32.a" ] && [ -f "$out/include/GL/wglew.h" ]; then
  exit 0
fi

src=$(scripts/apt-source.sh glew "$out")
if [ ! -f "$src/src/glew.c" ]; then
  echo "build-glew-mingw: the glew source package has no src/glew.c" >&2
  exit 1
fi

mkdir -p "$out/include/GL" "$out/lib" "$out/obj"
"$cc" -O2 -DGLEW_STATIC -DGLEW_NO_GLU -I"$src/include" -c "$src/src/glew.c" -o "$out/obj/glew.o"
rm -f "$out/lib/libglew32.a"
"$ar" rcs "$out/lib/libglew32.a" "$out/obj/glew.o"
cp "$src/include/GL/glew.h" "$src/include/GL/wglew.h" "$out/include/GL/"
echo "GLEW $(basename "$src" | sed 's/^glew-//') for MinGW-w64: $out/lib/libglew32.a"
