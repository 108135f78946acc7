#!/bin/bash
# The demo: builds the tool, then inside the test sandbox (stand-in hdiutil,
# installer and sysctl; nothing on this machine is changed) makes a sample
# disk image holding one application bundle (marked hidden, with a
# framework link inside) and one package, puts an older copy of the
# application in /Applications, installs both items with tarnwell, and
# shows what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != --inside ]; then
  bash scripts/setup.sh
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target tarnwell >/dev/null
  exec tests/sandbox/enter bash scripts/demo.sh --inside
fi

base=/Library/Tarnwell
mkdir -p "$base/Tools/bin" /Applications/Notes.app/Contents
cp build/tarnwell "$base/Tools/bin/"
echo "Notes 1.0" > /Applications/Notes.app/Contents/version
# A "disk image" for the stand-in hdiutil is a folder.
image="$base/Tarnwell Demo.dmg"
app="$image/Notes.app/Contents"
mkdir -p "$app/MacOS" "$app/Frameworks/Ink.framework/Versions/A"
printf '#!/bin/sh\necho "Notes 2.0"\n' > "$app/MacOS/Notes"
chmod 755 "$app/MacOS/Notes"
echo "Notes 2.0" > "$app/version"
echo "ink" > "$app/Frameworks/Ink.framework/Versions/A/Ink"
ln -s A "$app/Frameworks/Ink.framework/Versions/Current"
ln -s Versions/Current/Ink "$app/Frameworks/Ink.framework/Ink"
setfattr -n user.hidden -v 1 "$image/Notes.app"
echo "xar! (a package)" > "$image/Tools.pkg"

section() { printf '\n== %s\n' "$1"; }
section "The image (a folder for the stand-in hdiutil), and /Applications before"
(cd "$image" && find . -mindepth 1 -maxdepth 1 -printf '%M %p\n' | sort -k2)
printf 'hidden mark on Notes.app in the image: %s\n' "$(getfattr --absolute-names --only-values -n user.hidden "$image/Notes.app")"
printf '/Applications/Notes.app/Contents/version: %s\n' "$(cat /Applications/Notes.app/Contents/version)"
section "Command line (the tool lies at $base/Tools/bin, so its base directory is $base)"
echo "tarnwell 'Tarnwell Demo.dmg' Notes.app Tools.pkg"
status=0
(cd / && "$base/Tools/bin/tarnwell" "Tarnwell Demo.dmg" Notes.app Tools.pkg > /standin/stdout 2> /standin/stderr) || status=$?
section "System log (the tool's stderr)"
cat /standin/stderr
section "Exit status (0: all installed, 26: attach failed, 1: any other failure)"
echo "$status"
section "Standard output (always empty)"
printf '%d bytes\n' "$(wc -c < /standin/stdout)"
section "What the stand-in system commands were asked (program, working directory, arguments)"
tr '\0' '\037' < /standin/calls | while IFS=$'\037' read -r -a fields; do
  printf '%s  (in %s):' "${fields[0]}" "${fields[1]}"
  printf ' %q' "${fields[@]:3}"
  echo
done
section "/Applications afterwards (mode, size, name, link target)"
(cd /Applications && find . -mindepth 1 -printf '%M %6s %p %l\n' | sort -k3)
printf 'hidden mark on Notes.app: %s\n' \
  "$(getfattr --absolute-names --only-values -n user.hidden /Applications/Notes.app 2>/dev/null || echo 'none (visible)')"
section "Left behind"
volumes=$(ls -A /Volumes | tr '\n' ' ')
printf 'volumes still attached: %s\n' "${volumes:-none}"
printf 'saved attach result: %s\n' "$([ -e "$base/qxmount.plist" ] && echo present || echo removed)"
