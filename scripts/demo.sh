#!/bin/bash
# The demo: builds the tool, makes a sample disk image holding one
# application bundle (marked hidden, with a framework link inside) and one
# package, installs both with tarnwell inside the test sandbox (stand-in
# hdiutil, installer and sysctl; nothing on this machine is changed), and
# shows what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarnwell >/dev/null

exchange=$(mktemp -d /tmp/tarnwell-demo.XXXXXX)
trap 'rm -rf "$exchange"' EXIT
mkdir -p "$exchange/bin" "$exchange/scenario"
cp build/tarnwell "$exchange/bin/"

# A "disk image" for the stand-in hdiutil is a folder.
image="$exchange/images/Tarnwell Demo.dmg"
app="$image/Notes.app/Contents"
mkdir -p "$app/MacOS" "$app/Frameworks/Ink.framework/Versions/A"
printf '#!/bin/sh\necho "Notes 2.0"\n' > "$app/MacOS/Notes"
chmod 755 "$app/MacOS/Notes"
echo '<plist version="1.0"><dict/></plist>' > "$app/Info.plist"
echo "ink" > "$app/Frameworks/Ink.framework/Versions/A/Ink"
ln -s A "$app/Frameworks/Ink.framework/Versions/Current"
ln -s Versions/Current/Ink "$app/Frameworks/Ink.framework/Ink"
setfattr -n user.hidden -v 1 "$image/Notes.app"
echo "xar! (a package)" > "$image/Tools.pkg"
printf '%s\0' "Tarnwell Demo.dmg" Notes.app Tools.pkg > "$exchange/args"

tests/sandbox/enter "$exchange" /standin/stand-ins/whole-run

section() { printf '\n== %s\n' "$1"; }
section "Command line (the tool lies at /Library/Tarnwell/Tools/bin, so its base directory is /Library/Tarnwell)"
mapfile -d '' args < "$exchange/args"
printf 'tarnwell'; printf ' %q' "${args[@]}"; echo
section "The image (a folder for the stand-in hdiutil)"
(cd "$image" && find . -mindepth 1 -maxdepth 1 -printf '%M %p\n' | sort -k2)
printf 'hidden mark on Notes.app in the image: %s\n' "$(getfattr --absolute-names --only-values -n user.hidden "$image/Notes.app")"
section "System log (the tool's stderr)"
cat "$exchange/stderr"
section "Exit status (0: all installed, 26: attach failed, 1: any other failure)"
cat "$exchange/status"
section "Standard output (always empty)"
printf '%d bytes\n' "$(wc -c < "$exchange/stdout")"
section "What the stand-in system commands were asked (program, working directory, arguments)"
for call in "$exchange"/calls/*; do
  mapfile -d '' fields < "$call"
  printf '%s  (in %s):' "${fields[0]}" "${fields[1]}"
  printf ' %q' "${fields[@]:2}"
  echo
done
section "/Applications afterwards (mode, size, name, link target)"
(cd "$exchange/after/Applications" && find . -mindepth 1 -printf '%M %6s %p %l\n' | sort -k3)
printf 'hidden mark on Notes.app: %s\n' \
  "$(getfattr --absolute-names --only-values -n user.hidden "$exchange/after/Applications/Notes.app" 2>/dev/null || echo 'none (visible)')"
section "Left behind"
volumes=$(tr '\n' ' ' < "$exchange/after/volumes")
printf 'volumes still attached: %s\n' "${volumes:-none}"
printf 'saved attach result: %s\n' "$([ -e "$exchange/after/qxmount.plist" ] && echo present || echo removed)"
