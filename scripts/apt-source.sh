#!/usr/bin/env bash
# Fetches and unpacks the source of one of Debian's packages, for the archive
# this machine already uses, through a private apt configuration kept in the
# given folder: the system's apt sources are never touched. The cross builds
# take what Debian ships no MinGW or Emscripten build of from here.
#
# Usage: scripts/apt-source.sh PACKAGE DIR
# Leaves the unpacked tree in DIR/src/ (what was there before goes), apt's
# state in DIR/apt/, and prints the tree's path.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: scripts/apt-source.sh PACKAGE DIR" >&2
  exit 2
fi
package=$1
out=$(realpath -m "$2")

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
  echo "apt-source: no deb entry found in the system's apt sources" >&2
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
(cd "$out/src" && apt-get "${apt_opts[@]}" -qq source "$package" >/dev/null)

tree=$(find "$out/src" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
if [ -z "$tree" ]; then
  echo "apt-source: no unpacked $package source in $out/src" >&2
  exit 1
fi
echo "$tree"
