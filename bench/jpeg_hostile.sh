#!/usr/bin/env bash
# Scan time on hostile JPEG starts: images whose every sector begins FF D8 FF DA 00 02 (a
# start of scan right after the start of image, and no end anywhere). Every sector is a
# candidate that fails; the time must grow with the size, not with its square. Prints the
# time of a whole scan (JPG only, 512-byte clusters) for each size.
#   bench/jpeg_hostile.sh [build/morvane] [sizes in MiB, default "2 4 8 16"]
set -euo pipefail
morvane=${1:-build/morvane}
sizes=${2:-"2 4 8 16"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
for mib in $sizes; do
  img="$work/hostile-$mib.img"
  python3 -c "import sys; sys.stdout.buffer.write((b'\xff\xd8\xff\xda\x00\x02' + bytes(506)) * ($mib * 2048))" > "$img"
  rm -rf "$work/out" && mkdir "$work/out"
  t0=$(now)
  "$morvane" scan -q "$img" -o "$work/out" --reason repartitioned --fs other --cluster 0.5K -t jpg > /dev/null
  t1=$(now)
  awk -v mib="$mib" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%3d MiB: %8.2f s\n", mib, t1 - t0 }'
done
