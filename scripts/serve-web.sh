#!/usr/bin/env bash
# Serves the web pages (cmake --preset web && cmake --build --preset web)
# on 127.0.0.1 for a look in a browser: http://127.0.0.1:8000/ by default.
# Pages that load WebAssembly must come from a server, not from files.
#
# Usage: scripts/serve-web.sh [port] [web build]   (8000, build/web)
set -euo pipefail
cd "$(dirname "$0")/.."
port=${1:-8000}
dir=${2:-build/web}
[ -f "$dir/pondsim.html" ] || { echo "no pages in $dir: cmake --preset web && cmake --build --preset web" >&2; exit 1; }
echo "http://127.0.0.1:$port/"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$dir"
