#!/bin/bash
# Builds the tool and runs every benchmark (as root: the whole runs use the
# test sandbox), then prints the figures as one table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null

launch=$(build/bench/launch_bench 300 2>/dev/null)
copy=$(build/bench/copy_bench 300 3000)
tmpfs=$(build/bench/copy_bench 300 3000 /dev/shm)
whole=$(bash bench/whole_run.sh build)

number() { grep -oE "$1" <<<"$2" | head -1 | grep -oE '[-0-9.]+' | tail -1; }
echo "$launch"
echo "$copy"
echo "tmpfs to tmpfs: $tmpfs"
echo "$whole"
echo
echo "| figure | measured | goal |"
echo "|---|---|---|"
echo "| timed launch of a child that exits at once, median per call | $(number 'median [0-9.]+' "$launch") ms | under 10 ms (fixed one-second turns: ~1000 ms) |"
echo "| whole run: tool time per package | $(number 'per package: [-0-9.]+' "$whole") ms | under 10 ms |"
echo "| whole run: tool time per application copy (200 KB bundle) | $(number 'application copy, 200 KB bundle: [-0-9.]+' "$whole") ms | |"
echo "| 300 MB bundle copy, tool / cp -a, disk | $(number 'ratio [0-9.]+' "$copy") | at most 1.0 |"
echo "| the same, tmpfs to tmpfs | $(number 'ratio [0-9.]+' "$tmpfs") | at most 1.0 |"
echo "| peak memory of the copy | $(number 'copy: [0-9.]+' "$copy") MB | under 8 MB |"
echo
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -sr), $(date +%F)"
