#!/usr/bin/env bash
# Runs a command in an Xvfb display of its own, stopped again afterwards.
#
# Usage: tests/in_xvfb.sh COMMAND [ARGS...]
set -euo pipefail
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/e2e/lib.sh"
work=$(mktemp -d)
trap 'e2e_cleanup; rm -rf "$work"' EXIT
e2e_start_xvfb "$work"
"$@"
