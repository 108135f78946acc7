#!/bin/bash
# Whole runs of tarnwell in the sandbox with a stand-in installer and sysctl
# that return at once. The time per package comes from runs that differ only
# in the number of packages (so the attach, the detach and the start-up
# cancel out); the time per application from the log's time stamps, from
# the "Copying from appPath" line to "App Copied successfully" (the stand-in
# hdiutil's copy of the image would blur a difference of whole runs). Each
# figure is the median of 7 runs.
#   whole_run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ "${2:-}" = --inside ] || exec tests/sandbox/enter bash bench/whole_run.sh "$build" --inside

base=/Library/Tarnwell
mkdir -p "$base/Tools/bin"
cp "$build/tarnwell" "$base/Tools/bin/"
printf '#!/bin/sh\nexit 0\n' > /usr/sbin/installer
printf '#!/bin/sh\necho "Intel(R) Xeon(R)"\n' > /usr/sbin/sysctl

# Milliseconds since midnight of each log entry's time stamp that starts
# with TEXT, from the log on stdin.
stamps() { awk -v text="$1" '{ split($2, t, ":"); if (index(substr($0, index($0, "] ") + 2), text) == 1) printf "%.3f\n", (t[1] * 3600 + t[2] * 60 + t[3]) * 1000 }'; }

# elapsed PACKAGES APPS: the median wall time (ms) of the tool's run and the
# median time per application copy (ms).
elapsed() {
  local packages=$1 apps=$2 times=() copies=() names=() image=$base/Bench.dmg
  rm -rf "$image" && mkdir -p "$image"
  for ((i = 0; i < packages; i++)); do echo pkg > "$image/P$i.pkg" && names+=("P$i.pkg"); done
  for ((i = 0; i < apps; i++)); do
    mkdir -p "$image/A$i.app/Contents/MacOS" && head -c 200000 /dev/urandom > "$image/A$i.app/Contents/MacOS/A$i"
    names+=("A$i.app")
  done
  for _ in 1 2 3 4 5 6 7; do
    rm -rf /Applications/* /Volumes/*
    started=$(date +%s%N)
    (cd / && "$base/Tools/bin/tarnwell" Bench.dmg "${names[@]}" 2> /standin/stderr) || { cat /standin/stderr >&2; exit 1; }
    times+=($(($(date +%s%N) - started)))
    copies+=("$(paste <(stamps "installAppsAndPkg(_:_:_:):Copying" < /standin/stderr) <(stamps "App Copied successfully" < /standin/stderr) |
      awk '{ sum += $2 - $1; n++ } END { printf "%.3f", n ? sum / n : 0 }')")
  done
  printf '%s ' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n 4p | awk '{ printf "%.2f", $1 / 1e6 }')"
  printf '%s\n' "${copies[@]}" | sort -n | sed -n 4p
}

read -r p10 copy < <(elapsed 10 2)
read -r p20 _ < <(elapsed 20 2)
awk -v p10="$p10" -v p20="$p20" -v copy="$copy" 'BEGIN {
  printf "whole run, 10 packages and 2 applications: %.1f ms in all\n", p10
  printf "tool time per package: %.2f ms (10 more packages: +%.1f ms)\n", (p20 - p10) / 10, p20 - p10
  printf "tool time per application copy, 200 KB bundle: %.2f ms\n", copy
}'

# A volume of 100,000 names of 255 bytes, and a bundle of 10,000 files with
# set-user-ID and set-group-ID bits, put in place for the stand-in's answer
# and left there by a failing detach (the stand-in's cp and rm of it would
# weigh on the peak): the tool's peak memory (or a child's, the largest),
# its log's entries and bytes, the longest entry.
volume=/Volumes/Flood
rm -rf /Applications/* /Volumes/* && mkdir -p "$volume/Foo.app/Contents" /standin/scenario
(cd "$volume" && seq -f "%0255.0f" 100000 | xargs touch && cd Foo.app/Contents && seq -f s%.0f 10000 | xargs touch &&
  chmod 6755 s*)
printf '<plist><dict><key>system-entities</key><array><dict><key>mount-point</key><string>%s</string></dict></array></dict></plist>' \
  "$volume" > /standin/scenario/attach-answer
echo 16 > /standin/scenario/detach-status
(cd / && /usr/bin/time -o /standin/peak -f %M "$base/Tools/bin/tarnwell" Flood.dmg Foo.app 2> /standin/stderr)
echo "whole run of a volume of 100,000 long names and 10,000 set-id files: peak $(awk '{ printf "%.1f", $1 / 1024 }' /standin/peak) MB;" \
  "$(grep -c '^[0-9-]* [0-9:.]* tarnwell\[' /standin/stderr) entries, $(wc -c < /standin/stderr) bytes;" \
  "longest entry $(awk '{ if (length($0) > m) m = length($0) } END { print m }' /standin/stderr) bytes"
