#!/usr/bin/env bash
# The browser test (browser_test.mjs): installs its puppeteer-core, pinned
# in package-lock.json, when missing, then drives the web build in Debian's
# chromium, headless. A screenshot of each page goes to SCREENSHOT_DIR when
# that is set.
#
# Usage: tests/web/run.sh [web build] [native build]   (build/web, $PONDSIM_BUILD_DIR or build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
web=$(realpath "${1:-$root/build/web}")
native=$(realpath "${2:-${PONDSIM_BUILD_DIR:-$root/build/release}}")
cd "$root/tests/web"
[ -f node_modules/puppeteer-core/package.json ] || npm ci --no-audit --no-fund --loglevel=error
exec node browser_test.mjs "$web" "$native" ${SCREENSHOT_DIR:+"$SCREENSHOT_DIR"}
