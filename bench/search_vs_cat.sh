#!/usr/bin/env bash
# The search pass against plain reading: scans a page-cached image of random bytes and
# reads it with cat, alternately, several times, and prints the best rate of each, their
# ratio and the machine's load (other work on the machine lowers both, but not equally).
#   bench/search_vs_cat.sh [build/morvane] [size in MiB, default 2048] [rounds, default 3]
set -euo pipefail
morvane=${1:-build/morvane}
mib=${2:-2048}
rounds=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img="$work/random.img"
head -c $((mib * 1048576)) /dev/urandom > "$img"
mkdir "$work/out"
cat "$img" > /dev/null  # into the page cache

now() { date +%s.%N; }
best_cat=1e9 best_scan=1e9
for ((i = 0; i < rounds; i++)); do
  t0=$(now); cat "$img" > /dev/null; t1=$(now)
  "$morvane" scan -q "$img" -o "$work/out" --reason repartitioned --fs other > /dev/null; t2=$(now)
  best_cat=$(awk -v a="$best_cat" -v b="$(awk -v x="$t0" -v y="$t1" 'BEGIN{print y-x}')" 'BEGIN{print (b<a)?b:a}')
  best_scan=$(awk -v a="$best_scan" -v b="$(awk -v x="$t1" -v y="$t2" 'BEGIN{print y-x}')" 'BEGIN{print (b<a)?b:a}')
done
awk -v mib="$mib" -v c="$best_cat" -v s="$best_scan" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" -v cpus="$(nproc)" 'BEGIN {
  printf "cat:         %8.1f MB/s\n", mib * 1.048576 / c
  printf "search pass: %8.1f MB/s\n", mib * 1.048576 / s
  printf "ratio:       %8.2f\n", c / s
  printf "load:        %s on %d processors\n", load, cpus }'
