#!/usr/bin/env bash
# The search pass against plain reading: scans a page-cached image of random bytes and
# reads it with cat, in the same run, and prints both rates and their ratio.
#   bench/search_vs_cat.sh [build/morvane] [size in MiB, default 2048]
set -euo pipefail
morvane=${1:-build/morvane}
mib=${2:-2048}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img="$work/random.img"
head -c $((mib * 1048576)) /dev/urandom > "$img"
mkdir "$work/out"
cat "$img" > /dev/null  # into the page cache

now() { date +%s.%N; }
t0=$(now); cat "$img" > /dev/null; t1=$(now)
"$morvane" scan -q "$img" -o "$work/out" --reason repartitioned --fs other > /dev/null; t2=$(now)
awk -v mib="$mib" -v t0="$t0" -v t1="$t1" -v t2="$t2" 'BEGIN {
  c = t1 - t0; s = t2 - t1
  printf "cat:         %8.1f MB/s\n", mib * 1.048576 / c
  printf "search pass: %8.1f MB/s\n", mib * 1.048576 / s
  printf "ratio:       %8.2f\n", c / s }'
