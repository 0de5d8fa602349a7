#!/usr/bin/env bash
# The packages of scripts/package.sh, used as a user would use them:
# - the .deb: no lintian error or warning (a program without its manual
#   page is one), no hardening that lintian finds missing, the licence only
#   as the copyright file; installed with
#   apt-get, its desktop entries are valid, pondsim-headless from PATH runs
#   100 steps of the default start
#   to their known state hash, and the installed pondsim, in an Xvfb display
#   of its own, shows particles and ends with exit code 0 on the close
#   request; removed again, it leaves none of its files behind; its
#   description names all three programs;
# - the .zip, unpacked into an empty folder: each .exe under Wine shows
#   particles and ends with exit code 0 on the close request;
# - the web archive holds the three pages with what they load;
# - each package that carries the README carries every picture it shows and
#   every page it links; the .deb and the zip carry controls.txt with the
#   lab's inputs.
# Installs and removes the package pondsim, so it runs as root; the package
# is removed on exit whatever happened.
#
# Usage: tests/e2e/package_e2e.sh [packages dir]   (build/packages)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"
# shellcheck source=tests/e2e/scenario.sh
source "$here/scenario.sh"

packages=$(realpath -m "${1:-$root/build/packages}")
version=$(sed -n 's/^project(pondsim VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
deb="$packages/pondsim_${version}_amd64.deb"
zip="$packages/pondsim-${version}-windows-x64.zip"
web="$packages/pondsim-${version}-web.zip"
title=$E2E_TITLE
started=$SECONDS
work="$packages/e2e"
rm -rf "$work"
mkdir -p "$work"

remove_package() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y pondsim >>"$work/apt.log" 2>&1
}
E2E_CLEANUP_HOOKS+=(remove_package)
trap e2e_cleanup EXIT
[ "$(id -u)" -eq 0 ] || e2e_fail "installing the package needs root"
[ -f "$deb" ] || e2e_fail "$deb is missing (scripts/package.sh makes it)"
[ -f "$zip" ] || e2e_fail "$zip is missing (scripts/package.sh makes it)"
[ -f "$web" ] || e2e_fail "$web is missing (scripts/package.sh makes it)"

# readme_links DIR WHAT: every file that DIR/README.md shows or links (its
# pictures, the pages in docs/) is in DIR; web addresses are left alone.
readme_links() {
  local link missing=() links
  [ -f "$1/README.md" ] || e2e_fail "$2: no README.md"
  mapfile -t links < <(grep -oE '\]\([^)]+\)' "$1/README.md" | sed -E 's/^\]\(([^)#]*).*/\1/' |
                         grep -vE '^([a-z]+:|$)' | sort -u)
  grep -qE '\.(png|webp)$' < <(printf '%s\n' "${links[@]}") || e2e_fail "$2: its README.md shows no pictures"
  for link in "${links[@]}"; do
    [ -f "$1/$link" ] || missing+=("$link")
  done
  ((${#missing[@]} == 0)) || e2e_fail "$2: the README's ${missing[*]} missing"
  e2e_note "$2: all ${#links[@]} files the README shows or links"
}

# lab_controls FILE WHAT: FILE is this tree's controls.txt, with the lab's
# inputs beside the demo's.
lab_controls() {
  cmp -s "$1" "$root/packaging/controls.txt" || e2e_fail "$2: controls.txt is not packaging/controls.txt"
  grep -qx 'pondsim-lab: controls' "$1" && grep -q '^  Ctrl + left drag ' "$1" ||
    e2e_fail "$2: controls.txt lists no inputs of pondsim-lab"
  e2e_note "$2: controls.txt with the lab's inputs"
}

# shows_particles NAME COMMAND...: COMMAND's window shows particles, then the
# close request ends it with exit code 0.
shows_particles() {
  local name=$1 status=0
  shift
  e2e_launch "$name" "$@"
  e2e_await_scene "$name"
  client=$(e2e_client_window "$top")
  e2e_wait 60 "particles on the screen" e2e_has_particles || e2e_fail "$name: no particles drawn: $stats"
  "$probe" close "$top" || e2e_fail "$name: cannot send the close request"
  e2e_wait 60 "$name to exit" e2e_exited || e2e_fail "$name: still running after the close request"
  wait "$app" || status=$?
  ((status == 0)) || e2e_fail "$name: exit code $status"
  e2e_note "$name: $stats; exit code 0"
}

e2e_note "== $(basename "$deb"), $(du -k "$deb" | cut -f1) kB"
# Missing hardening and a second copy of the licence are only information
# to lintian; they are faults here.
lintian --display-info --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
  e2e_fail "lintian: $(grep -E '^(E|W): ' "$work/lintian.log" || cat "$work/lintian.log")"
faults=$(grep -E '^I: [^ ]+ (hardening-|extra-license-file)' "$work/lintian.log" || true)
[ -z "$faults" ] || e2e_fail "lintian: $faults"
e2e_note "lintian: no errors, no warnings, no hardening missing, one licence"
# The package's description names the three programs, the lab's window
# among them (not only its headless driver).
description=$(dpkg-deb -f "$deb" Description)
for program in pondsim pondsim-wide pondsim-lab; do
  grep -qE "(^|[^-])$program([^-]|\$)" <<<"$description" || e2e_fail "the package's description does not name $program"
done
e2e_note "the description names pondsim, pondsim-wide and pondsim-lab"
# A copy from an earlier run would hide what this install does.
remove_package || true
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >>"$work/apt.log" 2>&1 ||
  e2e_fail "apt-get install failed (see $work/apt.log)"
mapfile -t files < <(dpkg -L pondsim | while read -r path; do [ -d "$path" ] || echo "$path"; done)
((${#files[@]} > 0)) || e2e_fail "dpkg lists no files of pondsim"
e2e_note "installed: ${#files[@]} files"
desktop-file-validate /usr/share/applications/pondsim.desktop /usr/share/applications/pondsim-wide.desktop \
  /usr/share/applications/pondsim-lab.desktop ||
  e2e_fail "invalid desktop entries"
readme_links /usr/share/doc/pondsim "the installed package"
lab_controls /usr/share/doc/pondsim/controls.txt "the installed package"

[ "$(command -v pondsim-headless)" = /usr/bin/pondsim-headless ] || e2e_fail "pondsim-headless is not the installed one"
hash=$(cd "$work" && pondsim-headless --steps 100 | sed -n 's/^state hash: //p')
[ "$hash" = 9dc9c7d09e2e5a4d ] || e2e_fail "installed pondsim-headless --steps 100: state hash '$hash'"
e2e_note "pondsim-headless --steps 100: state hash $hash"
hash=$(cd "$work" && pondsim-lab-headless --preset classic --scene scatter --steps 100 | sed -n 's/^state hash: //p')
[ "$hash" = 9dc9c7d09e2e5a4d ] || e2e_fail "installed pondsim-lab-headless, classic scatter, 100 steps: state hash '$hash'"
[ -f /usr/share/man/man1/pondsim-lab-headless.1.gz ] || e2e_fail "no manual page of pondsim-lab-headless"
e2e_note "pondsim-lab-headless --preset classic --scene scatter --steps 100: state hash $hash; manual page installed"
scene=/usr/share/pondsim/scenes/koshizuka-oka-dam.toml
file=$(cd "$work" && pondsim-lab-headless --scene "$scene" --particles 2000 --steps 5 | sed -n 's/^state hash: //p')
named=$(cd "$work" && pondsim-lab-headless --scene dam --preset water --particles 2000 --steps 5 | sed -n 's/^state hash: //p')
[ -n "$file" ] && [ "$file" = "$named" ] || e2e_fail "installed $scene: hash '$file', the water dam by name '$named'"
e2e_note "installed $scene: the water dam's hash $file"

e2e_start_xvfb "$work"
probe=$(e2e_build_x11_probe "$work") || e2e_fail "cannot build x11-probe"
shows_particles pondsim pondsim

remove_package || e2e_fail "apt-get purge failed (see $work/apt.log)"
left=()
for path in "${files[@]}"; do
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done
[ -e /usr/share/doc/pondsim ] && left+=(/usr/share/doc/pondsim)
((${#left[@]} == 0)) || e2e_fail "left after removal: ${left[*]}"
e2e_note "removed: none of its files left"

e2e_note "== $(basename "$zip"), $(du -k "$zip" | cut -f1) kB"
unpacked="$work/unpacked"
mkdir "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip") || e2e_fail "cannot unpack $zip"
folder="$unpacked/pondsim-$version-windows-x64"
for name in pondsim.exe pondsim-wide.exe pondsim-lab.exe pondsim-lab-headless.exe README.md LICENSE controls.txt \
  scenes/koshizuka-oka-dam.toml; do
  [ -f "$folder/$name" ] || e2e_fail "$name is not in the zip"
done
readme_links "$folder" "$(basename "$zip")"
lab_controls "$folder/controls.txt" "$(basename "$zip")"

e2e_note "== $(basename "$web"), $(du -k "$web" | cut -f1) kB"
(cd "$unpacked" && cmake -E tar xf "$web") || e2e_fail "cannot unpack $web"
pages="$unpacked/pondsim-$version-web"
for name in index.html pondsim.svg README.md LICENSE {pondsim,pondsim-wide,pondsim-lab}.{html,js,wasm}; do
  [ -f "$pages/$name" ] || e2e_fail "$name is not in the web archive"
done
readme_links "$pages" "$(basename "$web")"

e2e_wine_prefix
for program in pondsim pondsim-wide; do
  shows_particles "$program.exe" wine "$folder/$program.exe"
done
e2e_note "all package checks passed in $((SECONDS - started)) s"
