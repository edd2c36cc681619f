#!/usr/bin/env bash
# Installs the Debian packages the project needs, and any named as arguments;
# apt-get update runs only when something is missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libvterm-dev nlohmann-json3-dev
  fonts-dejavu-core  # DejaVu Sans Mono, the terminal font where "Terminal" is missing
  jq                 # the end-to-end tests read the station's JSON report with it
  clang-format-16    # the style check (braces on every block need 15 or later)
  "$@"
)
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
