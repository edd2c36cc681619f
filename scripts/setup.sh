#!/usr/bin/env bash
# Installs the Debian packages a task needs, and any named as arguments; apt-get update
# runs only when something is missing.
# Usage: scripts/setup.sh [--station | --package] [package ...]
#   (none)     everything the test suite, the benchmarks and the style check need
#   --station  only what building and running the station and the simulator need
#   --package  the station's set and the tools that build and check its Debian package
set -euo pipefail
station=(
  cmake ninja-build g++
  qt6-base-dev qt6-svg-dev nlohmann-json3-dev
  fonts-dejavu-core  # DejaVu Sans Mono, the terminal font where "Terminal" is missing
)
tests=(
  libgtest-dev libgmock-dev
  libbenchmark-dev libvterm-dev pkg-config  # the benchmarks and their references
  jq                 # the end-to-end tests read the station's JSON report with it
  clang-format-16    # the style check (braces on every block need 15 or later)
)
package=(
  dpkg-dev fakeroot file  # dpkg-shlibdeps and dpkg-deb, as CPack runs them
  lintian desktop-file-utils appstream
)
case "${1:-}" in
  --station) shift; packages=("${station[@]}") ;;
  --package) shift; packages=("${station[@]}" "${package[@]}") ;;
  *) packages=("${station[@]}" "${tests[@]}") ;;
esac
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
