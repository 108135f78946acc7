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
  for round in 1 2 3 4 5 6 7; do
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
