#!/usr/bin/env bash
# Installs, builds and runs every test. Needs no display and no GPU.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release -j"$(nproc)"
ctest --preset release -j"$(nproc)"
