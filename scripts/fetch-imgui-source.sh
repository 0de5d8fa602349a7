#!/usr/bin/env bash
# Unpacks the source of Debian's imgui package for the cross builds (MinGW-w64
# and Emscripten), which compile it themselves (imgui/CMakeLists.txt): Debian
# ships Dear ImGui built for Linux only. The native build uses libimgui-dev.
#
# Usage: scripts/fetch-imgui-source.sh [output dir]   (default build/imgui-src)
# Leaves the source tree at <dir>/imgui (imgui.cpp, backends/, ...).
set -euo pipefail
cd "$(dirname "$0")/.."

out=$(realpath -m "${1:-build/imgui-src}")
if [ -f "$out/imgui/imgui.cpp" ] && [ -f "$out/imgui/backends/imgui_impl_opengl2.cpp" ]; then
  exit 0
fi

tree=$(scripts/apt-source.sh imgui "$out/fetch")
if [ ! -f "$tree/imgui.cpp" ] || [ ! -f "$tree/backends/imgui_impl_opengl2.cpp" ]; then
  echo "fetch-imgui-source: the imgui source package lacks imgui.cpp or its OpenGL2 backend" >&2
  exit 1
fi
rm -rf "$out/imgui"
mv "$tree" "$out/imgui"
echo "Dear ImGui $(basename "$tree" | sed 's/^imgui-//') source: $out/imgui"
