#!/bin/bash
# Builds the tool and runs every benchmark (as root: the whole runs use the
# test sandbox), then prints the figures as one table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null

launch=$(build/bench/launch_bench 300 2>/dev/null)
tmpfs=$(build/bench/copy_bench 300 3000 /dev/shm)
small=$(build/bench/copy_bench 200 100000 /dev/shm)
disk=$(build/bench/copy_bench 300 3000 /var/tmp)
shapes=$(build/bench/copy_bench --shapes /dev/shm)
whole=$(bash bench/whole_run.sh build)

number() { grep -oE "$1" <<<"$2" | head -1 | grep -oE '[-0-9.]+' | tail -1; }
copy() {  # the row of one copy bench: ratio (tool / cp -a), one thread, peak
  echo "$(number 'ratio [0-9.]+' "$1") ($(number 'tool [0-9]+' "$1") ms / $(number 'cp -a [0-9]+' "$1") ms); \
one thread $(number 'thread: [0-9]+' "$1") ms; $(number 'copy: [0-9.]+' "$1") MB, $(number 'MB and [0-9]+' "$1") descriptors"
}
echo "$launch"
printf '%s\n' "$tmpfs" "$small" "$disk" "$shapes" "$whole"
echo
echo "| figure | measured | goal |"
echo "|---|---|---|"
echo "| timed launch of a child that exits at once, median per call | $(number 'median [0-9.]+' "$launch") ms | under 10 ms |"
echo "| whole run: tool time per package | $(number 'per package: [-0-9.]+' "$whole") ms | under 10 ms |"
echo "| whole run: tool time per application copy (200 KB bundle) | $(number 'application copy, 200 KB bundle: [-0-9.]+' "$whole") ms | |"
echo "| copy, 300 MB in 3000 files, tmpfs, tool / cp -a | $(copy "$tmpfs") | at most 0.35 |"
echo "| copy, about 200 MB in 100,000 files, tmpfs | $(copy "$small") | at most 0.4 |"
echo "| copy, 300 MB in 3000 files, ext4 | $(copy "$disk") | at most 0.7 |"
echo "| peak of a copy of a chain of 3000 folders | $(number 'folders: [0-9.]+' "$tmpfs") MB | under 16 MB |"
shape() { grep "$1" <<<"$shapes" | sed 's/.*: //'; }
echo "| copy of a chain of 4096 folders, 4 hard links in each to one file, tmpfs | $(shape 'hard links') | linear in the links |"
echo "| copy of one folder of 50,000 names of 255 bytes, tmpfs | $(shape '50,000') | under 16 MiB |"
echo "| copy of 300,000 files with two names each, tmpfs | $(shape '300,000') | under 16 MiB |"
echo "| removal of a chain of 100,000 folders named with 255 bytes, tmpfs | $(shape 'removal') | linear in the entries |"
echo "| whole run: a volume of 100,000 long names, 10,000 set-id files | $(grep 'long names' <<<"$whole" | sed 's/.*files: //') | no entry over 64 KiB |"
echo
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -sr), $(date +%F)"
