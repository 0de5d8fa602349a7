#!/usr/bin/env bash
# Builds a static GLEW for the MinGW-w64 cross build. Debian ships no MinGW
# GLEW, so this takes the source of Debian's own glew package for the archive
# this machine already uses, through a private apt configuration kept in the
# build tree: the system's apt sources are never touched.
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

apt_dir="$out/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$out/src"

# One deb-src entry for every deb entry of the system's sources, same URI,
# suites and components; both the one-line and the deb822 formats are read.
sources="$apt_dir/sources.list"
: >"$sources"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$f" >>"$sources"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  awk '
    function flush() {
      if (types ~ /(^|[[:space:]])deb([[:space:]]|$)/ && uris != "" && enabled != "no") {
        n = split(uris, u, /[[:space:]]+/); m = split(suites, s, /[[:space:]]+/)
        for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) if (u[i] != "" && s[j] != "")
          printf "deb-src %s%s %s %s\n", opts, u[i], s[j], comps
      }
      types = uris = suites = comps = opts = enabled = ""
    }
    /^[[:space:]]*#/ { next }
    /^[[:space:]]*$/ { flush(); next }
    {
      key = tolower($1); sub(/:$/, "", key); $1 = ""; sub(/^[[:space:]]+/, "")
      if (key == "types") types = $0
      else if (key == "uris") uris = $0
      else if (key == "suites") suites = $0
      else if (key == "components") comps = $0
      else if (key == "enabled") enabled = tolower($0)
      else if (key == "signed-by") opts = "[signed-by=" $0 "] "
    }
    END { flush() }
  ' "$f" >>"$sources"
done
if ! grep -q '^deb-src' "$sources"; then
  echo "build-glew-mingw: no deb entry found in the system's apt sources" >&2
  exit 1
fi

apt_opts=(
  -o "Dir::Etc::sourcelist=$sources"
  -o "Dir::Etc::sourceparts=-"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "Dir::Cache::pkgcache="
  -o "Dir::Cache::srcpkgcache="
  -o "APT::Sandbox::User=root"
)
apt-get "${apt_opts[@]}" -qq update
rm -rf "$out/src"/*
(cd "$out/src" && apt-get "${apt_opts[@]}" -qq source glew >/dev/null)

src=$(find "$out/src" -mindepth 1 -maxdepth 1 -type d -name 'glew-*' | head -n 1)
if [ -z "$src" ] || [ ! -f "$src/src/glew.c" ]; then
  echo "build-glew-mingw: the glew source package has no src/glew.c" >&2
  exit 1
fi

mkdir -p "$out/include/GL" "$out/lib" "$out/obj"
"$cc" -O2 -DGLEW_STATIC -DGLEW_NO_GLU -I"$src/include" -c "$src/src/glew.c" -o "$out/obj/glew.o"
rm -f "$out/lib/libglew32.a"
"$ar" rcs "$out/lib/libglew32.a" "$out/obj/glew.o"
cp "$src/include/GL/glew.h" "$src/include/GL/wglew.h" "$out/include/GL/"
echo "GLEW $(basename "$src" | sed 's/^glew-//') for MinGW-w64: $out/lib/libglew32.a"
