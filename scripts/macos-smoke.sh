#!/bin/bash
# A real install on a real Mac, for an admin to run before trusting a build:
#
#   sudo bash scripts/macos-smoke.sh
#
# Needs macOS with the Xcode command-line tools and CMake, and root. It has
# NOT been run by the project: its checks were written on Linux, where none
# of hdiutil, pkgbuild, pkgutil, chflags or Apple's xattr exists, and no Mac
# was at hand. Expect to mend it on its first run.
#
# It builds the universal binary natively; makes a quarantined HFS+ disk
# image holding a flat package and a small application bundle, signed ad
# hoc, that arrives as hostile as a download can (hidden, a locked file,
# quarantined, a file of another user with mode 0777, a setuid file), and
# an APFS image holding a second version of the bundle; lays the tool out
# in a fresh root-owned base directory; installs both items from the first
# image, then replaces the bundle from the second; checks after each run
# that the bundle in /Applications is one an admin can leave there, still
# valid to codesign, the package's receipt is there, the image is detached
# and the tool's lines reached the unified log; and removes everything it
# made, whatever the checks found. It refuses to start where it could touch anything that
# it did not make.
set -euo pipefail

app=/Applications/Smoke.app
base=/Library/TarnwellSmoke
image=$base/Smoke.dmg
payload=/private/tmp/tarnwell-smoke-payload
package_id=com.tarnwell.smoke
repo=$(cd "$(dirname "$0")/.." && pwd)

refuse() {
  echo "macos-smoke: $*" >&2
  exit 2
}
[ "$(uname -s)" = Darwin ] || refuse "this runs on macOS only"
[ "$(id -u)" = 0 ] || refuse "run it as root: sudo bash scripts/macos-smoke.sh"
xcode-select -p >/dev/null 2>&1 || refuse "the Xcode command-line tools are missing (xcode-select --install)"
# sudo may have reset PATH, so look where CMake usually lands too.
cmake=${CMAKE:-$(command -v cmake || true)}
if [ -z "$cmake" ]; then
  for candidate in /opt/homebrew/bin/cmake /usr/local/bin/cmake /Applications/CMake.app/Contents/bin/cmake; do
    if [ -x "$candidate" ]; then
      cmake=$candidate
      break
    fi
  done
fi
[ -n "$cmake" ] || refuse "cmake not found: install it, or set CMAKE=/path/to/cmake"
# Everything below is removed at the end, so none of it may be there before.
for path in "$app" "$base" "$payload"; do
  if [ -e "$path" ] || [ -L "$path" ]; then refuse "$path already exists; it is not this script's to replace or delete"; fi
done
for path in /Applications/.tarnwell-staging.Smoke.app.* /Applications/.tarnwell-kept.Smoke.app.*; do
  if [ -e "$path" ] || [ -L "$path" ]; then refuse "$path already exists; remove or keep it yourself first"; fi
done
if pkgutil --pkg-info "$package_id" >/dev/null 2>&1; then refuse "the receipt $package_id is already there"; fi
if hdiutil info | grep -F "$image" >/dev/null; then refuse "$image is attached already"; fi
# The base directory's parents must be root's alone, as a real one's are;
# this script will not change them.
for dir in / /Library; do
  read -r owner mode < <(stat -f '%u %Lp' "$dir")
  if [ "$owner" != 0 ] || (((8#$mode & 8#022) != 0)); then
    refuse "$dir is not owned by root or is group/other writable; fix that first"
  fi
done

work=$(mktemp -d /private/tmp/tarnwell-smoke.XXXXXXXX)
made_base=0 ran_tool=0 inspecting=0 failed=0
cleanup() {
  local status=$? device problem=0
  trap - EXIT INT TERM HUP
  set +e
  if [ "$inspecting" = 1 ]; then hdiutil detach -quiet -force "$work/inspect"; fi
  # The tool detaches the images itself; a failed run may not have.
  for attached in "$image" "$base/Smoke2.dmg"; do
    device=$(hdiutil info | awk -v img="$attached" '/^=+$/ {mine = 0}
      $1 == "image-path" {mine = (substr($0, index($0, ":") + 2) == img)}
      mine && $1 ~ /^\/dev\/disk[0-9]+$/ {print $1; exit}')
    if [ -n "$device" ]; then
      hdiutil detach -quiet -force "$device" || problem=1
    fi
  done
  if [ "$ran_tool" = 1 ]; then
    for path in "$app" /Applications/.tarnwell-staging.Smoke.app.* /Applications/.tarnwell-kept.Smoke.app.*; do
      if [ -e "$path" ] || [ -L "$path" ]; then
        chflags -R nouchg "$path"
        rm -rf "$path" || problem=1
      fi
    done
    if pkgutil --pkg-info "$package_id" >/dev/null 2>&1; then
      pkgutil --forget "$package_id" >/dev/null || problem=1
    fi
    rm -rf "$payload" || problem=1
  fi
  if [ "$made_base" = 1 ]; then rm -rf "$base" || problem=1; fi
  chflags -R nouchg "$work"
  rm -rf "$work" || problem=1
  if [ "$problem" != 0 ]; then
    echo "macos-smoke: FAIL cleaning up: look for $app, $base, $payload, $work and the receipt $package_id" >&2
    [ "$status" != 0 ] || status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

pass() { echo "PASS $*"; }
fail() {
  echo "FAIL $*"
  failed=1
}
note() { echo "NOTE $*"; }
# Passes when the command succeeds and prints nothing; what it prints are
# the offenders. A command that fails is a failed check, never a pass.
none() {
  local what=$1 found
  shift
  if ! found=$("$@" 2>&1); then
    fail "$what (the check itself failed: ${found//$'\n'/; })"
  elif [ -n "$found" ]; then
    fail "$what: $(head -n 5 <<<"$found" | paste -sd ';' -)"
  else
    pass "$what"
  fi
}

echo "macos-smoke: building the universal binary in $work/build"
"$cmake" -S "$repo" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DTARNWELL_TESTS=OFF -DTARNWELL_BENCH=OFF \
  -DCMAKE_OSX_ARCHITECTURES="arm64;x86_64" >"$work/build.log" 2>&1 &&
  "$cmake" --build "$work/build" --target tarnwell -j"$(sysctl -n hw.ncpu)" >>"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; refuse "the build failed"; }
archs=$(lipo -archs "$work/build/tarnwell" | tr ' ' '\n' | sort | xargs)
if [ "$archs" = "arm64 x86_64" ]; then pass "universal binary: $archs"; else fail "binary holds '$archs', not arm64 and x86_64"; fi

echo "macos-smoke: making the disk image"
src=$work/src
bundle=$src/Smoke.app
mkdir -p "$bundle/Contents/MacOS" "$bundle/Contents/Resources" "$work/payload"
cat >"$bundle/Contents/Info.plist" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleExecutable</key><string>Smoke</string>
  <key>CFBundleIdentifier</key><string>com.tarnwell.smoke.app</string>
  <key>CFBundleName</key><string>Smoke</string>
  <key>CFBundlePackageType</key><string>APPL</string>
  <key>CFBundleShortVersionString</key><string>1.0</string>
  <key>CFBundleVersion</key><string>1</string>
</dict>
</plist>
EOF
printf '#!/bin/sh\nexit 0\n' >"$bundle/Contents/MacOS/Smoke"
chmod 0755 "$bundle/Contents/MacOS/Smoke"
printf '#!/bin/sh\nexit 0\n' >"$bundle/Contents/MacOS/Helper"
chmod 4755 "$bundle/Contents/MacOS/Helper"
echo "another user's, writable by all" >"$bundle/Contents/Resources/Owned.txt"
chown 501:20 "$bundle/Contents/Resources/Owned.txt"
chmod 0777 "$bundle/Contents/Resources/Owned.txt"
echo "locked" >"$bundle/Contents/Resources/Locked.txt"
echo 1 >"$bundle/Contents/Resources/Version.txt"
# Signed before the marks go on: codesign refuses Finder information.
codesign --force --sign - "$bundle" >/dev/null 2>&1 || refuse "codesign could not sign $bundle"
# The second version, for the replacement, on an APFS image.
mkdir "$work/src2"
ditto "$bundle" "$work/src2/Smoke.app"
echo 2 >"$work/src2/Smoke.app/Contents/Resources/Version.txt"
codesign --force --sign - "$work/src2/Smoke.app" >/dev/null 2>&1 || refuse "codesign could not sign the second Smoke.app"
hdiutil create -quiet -fs APFS -format UDZO -volname "Tarnwell Smoke 2" -srcfolder "$work/src2" "$work/Smoke2.dmg"
xattr -w com.apple.quarantine "0083;00000000;Safari;" "$bundle"
xattr -w com.apple.quarantine "0083;00000000;Safari;" "$bundle/Contents/MacOS/Smoke"
chflags uchg "$bundle/Contents/Resources/Locked.txt"
chflags hidden "$bundle"
echo "installed by the tarnwell smoke test" >"$work/payload/smoke.txt"
pkgbuild --root "$work/payload" --identifier "$package_id" --version 1.0 \
  --install-location "$payload" "$src/Smoke.pkg" >/dev/null
hdiutil create -quiet -fs HFS+ -format UDZO -volname "Tarnwell Smoke" -srcfolder "$src" "$work/Smoke.dmg"
# As a browser leaves a download: the mounted volume's files read as quarantined.
xattr -w com.apple.quarantine "0083;00000000;Safari;" "$work/Smoke.dmg"

# A check is only as good as what reaches it: say which of the marks the
# image really carries, as the tool will see them.
mkdir "$work/inspect"
inspecting=1
hdiutil attach -quiet -readonly -nobrowse -noautoopen -mountpoint "$work/inspect" "$work/Smoke.dmg"
seen=$work/inspect/Smoke.app
carried=() missing=()
mark() { if [ -n "$2" ]; then carried+=("$1"); else missing+=("$1"); fi; }
mark "hidden bundle" "$(find "$seen" -maxdepth 0 -flags +hidden || true)"
mark "locked file" "$(find "$seen" -flags +uchg || true)"
mark "quarantine" "$(xattr -r "$seen" | grep -F com.apple.quarantine || true)"
mark "uid 501 file" "$(find "$seen" -user 501 || true)"
mark "setuid file" "$(find "$seen" -perm -4000 || true)"
hdiutil detach -quiet "$work/inspect"
inspecting=0
note "the image carries: ${carried[*]:-nothing}${missing[*]:+; missing, so not tested: ${missing[*]}}"

echo "macos-smoke: laying out $base"
mkdir -m 0755 "$base"
made_base=1
mkdir -m 0755 "$base/Tools" "$base/Tools/bin"
chown -R root:wheel "$base"
install -o root -g wheel -m 0755 "$work/build/tarnwell" "$base/Tools/bin/tarnwell"
install -o root -g wheel -m 0644 "$work/Smoke.dmg" "$image"
install -o root -g wheel -m 0644 "$work/Smoke2.dmg" "$base/Smoke2.dmg"
xattr -w com.apple.quarantine "0083;00000000;Safari;" "$image"

# One run of the tool, and what an admin would check after it.
run() {
  local image_name=$1 version=$2 started status=0
  shift 2
  echo "macos-smoke: running $base/Tools/bin/tarnwell $image_name $*"
  ran_tool=1
  started=$(date '+%Y-%m-%d %H:%M:%S')
  (cd / && "$base/Tools/bin/tarnwell" "$image_name" "$@") >"$work/tool.out" 2>"$work/tool.log" || status=$?
  cat "$work/tool.log" >>"$work/tool.logs"
  if [ "$status" = 0 ]; then pass "exit status 0"; else fail "exit status $status"; fi
  for line in "${expected_lines[@]}"; do
    if grep -F "$line" "$work/tool.log" >/dev/null; then pass "log says \"$line\""; else fail "log lacks \"$line\""; fi
  done
  sleep 2  # the unified log takes a moment
  if log show --style compact --start "$started" --predicate 'process == "tarnwell"' 2>/dev/null |
    grep -F "App Copied successfully" >/dev/null; then
    pass "the unified log has the tool's lines (log show --predicate 'process == \"tarnwell\"')"
  else
    fail "the unified log lacks the tool's lines"
  fi
  if [ -d "$app" ] && [ ! -L "$app" ]; then
    owners() { find "$app" \( ! -user root -o ! -group admin \) -exec stat -f '%Su:%Sg %N' {} +; }
    writable() { find "$app" \( -perm -g+w -o -perm -o+w \) -exec stat -f '%Sp %N' {} +; }
    setid() { find "$app" \( -perm -4000 -o -perm -2000 \) -exec stat -f '%Sp %N' {} +; }
    quarantined() {
      local list
      list=$(xattr -r "$app") || return 1
      grep -F com.apple.quarantine <<<"$list" || true
    }
    hidden() { find "$app" -maxdepth 0 -flags +hidden; }
    locked() { find "$app" -flags +uchg; }
    unsigned() { codesign --verify --strict "$app" 2>&1 || true; }
    leftovers() { find /Applications -maxdepth 1 -name '.tarnwell-*.Smoke.app.*'; }
    none "$app and everything inside owned by root, group admin" owners
    none "no group or other write inside $app" writable
    none "no setuid or setgid bit inside $app" setid
    none "no com.apple.quarantine on any file inside $app" quarantined
    none "$app not hidden" hidden
    none "no locked (uchg) file inside $app" locked
    none "codesign --verify --strict $app" unsigned
    none "no staging or kept folder of Smoke.app left in /Applications" leftovers
    if [ "$(cat "$app/Contents/Resources/Version.txt")" = "$version" ]; then pass "$app is version $version"; else fail "$app is not version $version"; fi
  else
    fail "$app is not there as a folder"
  fi
  if hdiutil info | grep -F "$base/$image_name" >/dev/null; then fail "$image_name still attached"; else pass "$image_name detached"; fi
}

expected_lines=("App Copied successfully" "App is hidden, Hence Unhid app")
run Smoke.dmg 1 Smoke.pkg Smoke.app
if pkgutil --pkgs | grep -xF "$package_id" >/dev/null; then pass "receipt $package_id there"; else fail "no receipt $package_id"; fi
if [ -f "$payload/smoke.txt" ]; then pass "package payload in $payload"; else fail "no package payload in $payload"; fi
# The replacement: the swap (RENAME_SWAP on APFS) and the removal of the old bundle.
expected_lines=("App already exist , hence replacing" "App Copied successfully")
run Smoke2.dmg 2 Smoke.app

if [ "$failed" != 0 ]; then
  echo "macos-smoke: the tool's logs:"
  cat "$work/tool.logs"
  echo "macos-smoke: FAILED; removing what it made"
  exit 1
fi
echo "macos-smoke: all checks passed; removing what it made"
