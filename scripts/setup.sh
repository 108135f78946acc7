#!/bin/bash
# Installs what building, testing, the demo and the macOS check need on
# Debian 12 (as root).
set -euo pipefail
packages=(build-essential cmake pkg-config libplist-dev libgtest-dev util-linux coreutils attr acl
  locales clang clang-format libclang-rt-14-dev valgrind llvm procps)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
# The macOS check fetches its cross toolchain with npm; any npm will do.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
